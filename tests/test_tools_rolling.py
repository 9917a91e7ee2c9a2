"""Rolling windows give what separate calls on the slices give."""

import warnings

import numpy as np
import pandas as pd
import pytest

import quorvel
from quorvel_tools import METHODS, UnclassifiedValuesWarning, analyze, analyze_many, rolling


@pytest.mark.parametrize("method", METHODS)
def test_each_window_equals_a_separate_call_on_its_slice(method):
    series = np.random.default_rng(8).normal(size=230).cumsum()
    profile = rolling(series, window=60, step=17, method=method)
    estimator = quorvel.NonStationary()
    estimator.setupDS(60)
    expected = [estimator.nsFunc(method, series[s : s + 60]) for s in range(0, 171, 17)]
    np.testing.assert_array_equal(profile.values, expected)
    assert list(profile.ends) == [s + 59 for s in range(0, 171, 17)]


def test_window_of_the_whole_series_gives_one_value():
    series = np.arange(30.0)
    assert len(rolling(series, window=30).values) == 1


@pytest.mark.parametrize(
    "window, step, message",
    [(31, 1, "longer than the series"), (0, 1, "window"), (10, 0, "step"), (2.5, 1, "window")],
)
def test_bad_windows_are_refused(window, step, message):
    with pytest.raises(ValueError, match=message):
        rolling(np.arange(30.0), window=window, step=step)


def test_profile_frame_is_indexed_by_window_end():
    profile = rolling(np.arange(40.0) % 5, window=20, step=10)
    frame = profile.to_frame()
    assert list(frame.index) == [19, 29, 39] and list(frame.columns) == ["end", "NSLefttoRight"]


def test_numpy_integers_are_windows_and_the_repr_is_a_summary():
    series = pd.Series(np.arange(400.0) % 13, index=pd.date_range("2024-01-01", periods=400))
    profile = rolling(series, window=np.int64(100), step=np.int32(50))
    assert np.array_equal(profile.values, rolling(series, 100, step=50).values)
    text = repr(profile)
    assert "7 windows of 100 values, step 50, K=11, ends 2024-04-09 to 2025-02-03" in text
    assert len(text) < 200


RNG = np.random.default_rng(5)
OUTSIDE = {
    "counts with zeros": RNG.poisson(1.0, 300).astype(float),
    "negative": RNG.uniform(-1000, -990, 300),
    "near 1e15": RNG.integers(0, 3, 300) + 1e15,
    "wide normal": RNG.normal(size=300) * 37.0 - 11.0,
}


@pytest.mark.parametrize("binning", ["equal-frequency", "equal-width"])
@pytest.mark.parametrize("name", OUTSIDE)
def test_values_in_no_class_per_window_are_those_of_the_modules_tables(name, binning):
    # Lowest boundaries at or above the minimum (zeros, 0.99 * a negative minimum, 1e15 - 0.01
    # rounding to 1e15) and equal-width upper boundaries that round below the maximum: each
    # window's count is its own table's, n minus its class counts.
    series = OUTSIDE[name]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UnclassifiedValuesWarning)
        for method in METHODS:
            for classes in (3, 7):
                profile = rolling(
                    series, 60, step=17, method=method, classes=classes, binning=binning
                )
                expected = [
                    analyze(
                        series[e - 59 : e + 1], method=method, classes=classes, binning=binning
                    ).unclassified
                    for e in profile.ends
                ]
                assert list(profile.unclassified) == expected
                # One window, the whole series (analyze_many's case), counted on its own.
                settings = {"method": method, "classes": classes, "binning": binning}
                whole = rolling(series, len(series), **settings)
                assert list(whole.unclassified) == [analyze(series, **settings).unclassified]


def test_windows_and_series_with_values_in_no_class_are_said():
    counts = OUTSIDE["counts with zeros"]
    with pytest.warns(UnclassifiedValuesWarning, match=r"NSdichotomy: 5 of 5 windows .* of 60"):
        profile = rolling(counts, 60, step=60, method="NSdichotomy")
    assert "5 with values in no class" in repr(profile)
    assert list(profile.to_frame()["unclassified"]) == list(profile.unclassified)
    assert "unclassified" not in rolling(counts + 1, 60, step=60, method="NSdichotomy").to_frame()
    with pytest.warns(UnclassifiedValuesWarning, match=r"1 series .*: 'c' \(\d+\)"):
        analyze_many({"c": counts, "d": counts + 1}, method="NSdichotomy")


def test_p_values_are_adjusted_across_the_windows_as_asked():
    from quorvel_tools.multiplicity import holm, q_values

    series = np.random.default_rng(14).normal(size=400)
    series[200:] += 1.5
    found = {
        adjust: rolling(series, 100, step=10, p_values=True, adjust=adjust, seed=2)
        for adjust in ("fdr", "holm", "none")
    }
    p = found["none"].p_values
    assert np.array_equal(found["none"].adjusted, p)
    assert np.array_equal(found["fdr"].adjusted, q_values(p))
    assert np.array_equal(found["holm"].adjusted, holm(p))
    assert "at fdr <= 0.05 across windows" in repr(found["fdr"])
    assert found["fdr"].to_frame()["p_adjusted"].tolist() == found["fdr"].adjusted.tolist()
    with pytest.raises(ValueError, match="adjust must be one of 'fdr', 'holm', 'none'"):
        rolling(series, 100, p_values=True, adjust="bonferroni")


def test_many_windows_ring_a_shift_they_span_and_no_noise():
    """A thousand windows ask p-values finer than the table's: the smallest are read again
    against a null of 20 draws a window."""
    rng = np.random.default_rng(5)
    noise = rolling(rng.normal(size=1100), 100, p_values=True, seed=1)
    assert np.nanmin(noise.adjusted) > 0.05
    shifted = rng.normal(size=1100)
    shifted[550:] += 2.0
    profile = rolling(shifted, 100, p_values=True, seed=1)
    ringed = np.flatnonzero(profile.adjusted <= 0.05)
    # Window i holds positions i..i+99: it spans the shift for i in 451..549. A false
    # discovery rate of 5% lets a few windows of noise be called beside many true ones.
    outside = np.count_nonzero((ringed < 451) | (ringed > 549))
    assert ringed.size > 50 and outside <= 0.05 * ringed.size
    assert np.all(profile.adjusted >= profile.p_values - 1e-4)
