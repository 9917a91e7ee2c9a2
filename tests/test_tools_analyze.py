"""analyze() reports what the module computes, and its groups account for H."""

import json
import math
import warnings
from dataclasses import replace

import numpy as np
import pytest

import quorvel
from quorvel_tools import (
    METHODS,
    UnclassifiedValuesWarning,
    analyze,
    analyze_many,
    permutation_test,
    rolling,
)
from quorvel_tools.config import DEFAULT_ACCEPT, DEFAULT_Z

from helpers import ACCEPT, MEASURES, Z

RNG = np.random.default_rng(11)
SERIES = {
    "noise": RNG.normal(size=300),
    "walk": RNG.normal(size=300).cumsum(),
    "shift": np.r_[RNG.normal(size=150), RNG.normal(3, 1, size=150)],
    "ties": RNG.integers(0, 5, size=200).astype(float),
}


def test_names_and_defaults_are_the_modules():
    # Read from the core: the measures in their documented order and setupDS's z and fraction.
    assert METHODS == MEASURES
    assert (DEFAULT_Z, DEFAULT_ACCEPT) == (Z, ACCEPT)
    estimator = quorvel.NonStationary()
    estimator.setupDS(100)
    unique = np.arange(100.0)
    assert (
        estimator.nsFunc("NSLefttoRight", unique)
        == analyze(unique, method="NSLefttoRight").value_exact
    )


@pytest.mark.parametrize("name", SERIES)
@pytest.mark.parametrize("binning, mode", [("equal-frequency", 1), ("equal-width", 2)])
def test_results_equal_the_module_on_the_same_configuration(name, binning, mode):
    series = SERIES[name]
    results = analyze(series, method="all", classes=7, z=1.5, accept=0.9, binning=binning)
    estimator = quorvel.NonStationary()
    estimator.setup(7, 1.5, 0.9, mode)
    for method in METHODS:
        value = estimator.nsFunc(method, series)
        result = results[method]
        exact = result.value_exact
        assert exact == value or (math.isnan(value) and math.isnan(exact))
        assert (result.H_exact, result.H0_exact) == (estimator.getH(), estimator.getH0())
        table = estimator.getA()
        assert np.array_equal(result.boundaries, table[:, 0])
        assert np.array_equal(result.counts, table[1:, 1])
        assert np.array_equal(result.shares, table[1:, 2])


def test_default_classes_follow_the_modules_data_size_rule():
    series = SERIES["walk"]
    estimator = quorvel.NonStationary()
    estimator.setupDS(len(series))
    for method in METHODS:
        result = analyze(series, method=method)
        assert result.value_exact == estimator.nsFunc(method, series)
        assert result.classes == estimator.getA().shape[0] - 1 == 18


@pytest.mark.parametrize("method", ["NSLefttoRight", "NSdichotomy", "NSLocaltoGlobal"])
@pytest.mark.parametrize("name", SERIES)
def test_groups_cover_the_classes_and_reproduce_H(method, name):
    result = analyze(SERIES[name], method=method, classes=9)
    firsts = [g.first for g in result.groups]
    lasts = [g.last for g in result.groups]
    assert firsts[0] == 1 and lasts[-1] == 9 and firsts[1:] == [last + 1 for last in lasts[:-1]]
    assert sum(g.count for g in result.groups) == result.counts.sum()
    settled = [g.share for g in result.groups if g.kind in ("group", "core") and g.share > 0]
    if method != "NSLocaltoGlobal" or all(g.kind != "unsettled" for g in result.groups):
        assert -sum(s * math.log(s) for s in settled) == pytest.approx(result.H, abs=1e-12)


def test_local_to_global_core_and_unsettled_tails():
    # Four classes of five values: class 2 is the core, class 3 a group, both tails fail.
    result = analyze(np.arange(1.0, 21.0), method="NSLocaltoGlobal", classes=4)
    kinds = [(g.first, g.last, g.kind) for g in result.groups]
    assert kinds == [(1, 1, "unsettled"), (2, 2, "core"), (3, 3, "group"), (4, 4, "unsettled")]
    assert result.value == pytest.approx(0.25)


def test_left_to_right_reports_merged_value_ranges():
    result = analyze(np.arange(1.0, 11.0), method="NSLefttoRight", classes=3)
    spans = [(g.lower, g.upper, g.count, g.share) for g in result.groups]
    assert spans == [(0.99, 7.0, 7, pytest.approx(0.7)), (7.0, 10.0, 3, pytest.approx(0.3))]
    assert list(result.to_frame()["group"]) == [1, 1, 2]


def test_circle_reports_no_groups_and_constant_series_is_nan():
    assert analyze(SERIES["walk"], method="NSCircleLefttoRight").groups == ()
    assert math.isnan(analyze(np.full(50, 3.0), method="NSLefttoRight").value)


def test_results_are_frozen_and_comparable():
    result = analyze(SERIES["shift"], method="NSdichotomy")
    with pytest.raises(ValueError):
        result.shares[0] = 1.0
    assert result != analyze(SERIES["shift"], method="NSdichotomy")  # no array-truth error


def test_to_dict_is_json_and_repr_is_short():
    result = analyze(SERIES["shift"], method="NSdichotomy")
    assert json.loads(json.dumps(result.to_dict()))["method"] == "NSdichotomy"
    assert repr(result).startswith("Analysis(NSdichotomy: value=") and len(repr(result)) < 150


@pytest.mark.parametrize(
    "setting, value, accepted",
    [
        ("z", 0, "finite number above 0"),
        ("z", -1.0, "finite number above 0"),
        ("z", float("inf"), "finite number above 0"),
        ("accept", 1.5, "above 0 and at most 1"),
        ("accept", -1, "above 0 and at most 1"),
        ("accept", 0.0, "above 0 and at most 1"),
        ("classes", 1, "integer of at least 2"),
        ("classes", 2.0, "integer of at least 2"),
        ("classes", 3.0, "not 3.0 \\(a float; pass int\\(3.0\\) if that is meant\\)"),
        ("classes", 2.5, "not 2.5 \\(a float; counts are whole numbers\\)"),
        ("classes", True, "integer of at least 2"),
        ("classes", 10**30, "at most the number of values \\(300\\)"),
        ("binning", "quantile", "'equal-frequency' or 'equal-width'"),
    ],
)
def test_settings_outside_their_meaning_are_refused_everywhere(setting, value, accepted):
    from quorvel_tools import analyze_many, permutation_test, rolling

    series = SERIES["walk"]
    calls = [
        lambda **kw: analyze(series, **kw),
        lambda **kw: analyze(series, method="all", **kw),
        lambda **kw: permutation_test(series, permutations=3, **kw),
        lambda **kw: rolling(series, window=300, **kw),
        lambda **kw: analyze_many({"a": series}, **kw),
    ]
    for call in calls:
        with pytest.raises(ValueError, match=f"{setting} must be .*{accepted}"):
            call(**{setting: value})


def test_numpy_integers_and_floats_are_settings_like_any_number():
    series = SERIES["walk"]
    plain = analyze(series, classes=7, z=1.5, accept=0.9)
    numpy = analyze(series, classes=np.int64(7), z=np.float64(1.5), accept=np.float32(0.9))
    assert plain.value == analyze(series, classes=7, z=1.5, accept=float(np.float32(0.9))).value
    assert numpy.classes == 7 and isinstance(numpy.classes, int)


def test_figures_are_clipped_to_their_range_in_every_output_and_exact_under_their_names():
    # The README's random walk: the module gives 1 − H/H0 = 1.0000000000000002, H = −6.7e−16
    # and a group share of 1.0000000000000007; integers 0..9 (seed 8) give NSLocaltoGlobal −2.2e−16.
    walk = np.random.default_rng(0).normal(size=1000).cumsum()
    ties = np.random.default_rng(8).integers(0, 10, 200).astype(float)
    estimator = quorvel.NonStationary()
    estimator.setupDS(1000)
    exact = estimator.nsFunc("NSLefttoRight", walk)
    result = analyze(walk)
    assert (result.value_exact, result.H_exact) == (exact, estimator.getH())
    assert exact > 1 and result.H_exact < 0 and result.groups[0].share_exact > 1
    assert (result.value, result.H, result.groups[0].share) == (1.0, 0.0, 1.0)
    assert "share=1.0," in repr(result.groups[0])
    # Groups a run forms are the objects the constructor makes of the same figures.
    assert all(replace(group) == group for group in result.groups)
    as_dict = json.loads(json.dumps(result.to_dict()))
    assert (as_dict["value"], as_dict["H"], as_dict["value_exact"]) == (1.0, 0.0, exact)
    assert as_dict["groups"][0]["share"] == 1.0
    assert "value=1, p_value=0.0001 (iid), H=0, H0=3.36719," in repr(result)
    assert "value=1, p_value=0.0001 (iid), H=" in repr(analyze(np.arange(100.0)))
    zero = analyze(ties, method="NSLocaltoGlobal", classes=7, p_values=False)
    assert zero.value_exact < 0 and zero.value == 0 and str(zero.value) == "0.0"
    profile = rolling(walk, window=1000)
    assert (profile.values[0], profile.values_exact[0]) == (1.0, exact)
    shuffled = permutation_test(walk, permutations=5, seed=0)
    assert (shuffled.value, shuffled.value_exact, shuffled.to_dict()["value"]) == (1.0, exact, 1.0)
    assert profile.to_frame()["NSLefttoRight"].iloc[0] == 1.0
    table = analyze_many({"walk": walk, "ties": ties}, classes=7)
    assert table["value"].between(0, 1).all() and (table["H"] >= 0).all()
    assert (table["value"] == 0).sum() == (table["value"] <= 0).sum() > 0


def test_bad_configuration_is_refused_before_the_module_runs():
    with pytest.raises(ValueError, match="unknown method"):
        analyze([1.0, 2.0, 3.0], method="NSRightToLeft")
    with pytest.raises(ValueError, match="binning"):
        analyze([1.0, 2.0, 3.0], binning="quantile")
    with pytest.raises(ValueError, match="classes"):
        analyze([1.0, 2.0, 3.0], classes=0)
    with pytest.raises(ValueError, match="accept"):
        analyze([1.0, 2.0, 3.0], accept=float("nan"))
    with pytest.raises(ValueError, match="too few"):
        analyze([1.0])


def test_values_in_no_class_are_counted_said_and_warned():
    # The module's lowest boundaries: 0 for NSdichotomy on a minimum of 0, and 0.99 * min above
    # the next boundary for equal-width classes on negative data, so class 1 (b0, b1] is empty.
    counts = np.random.default_rng(11).integers(0, 5, 100).astype(float)
    drifting = np.random.default_rng(0).uniform(-1000, -990, 400)
    drifting[200:] += 3
    with pytest.warns(UnclassifiedValuesWarning, match="NSdichotomy: 19 of 100 values lie in no"):
        result = analyze(counts, method="NSdichotomy", p_values=False)
    assert result.unclassified == np.count_nonzero(counts == 0) == 19
    assert result.counts.sum() == 81 and "n=100, 19 in no class," in repr(result)
    assert result.to_dict()["unclassified"] == 19 and result.to_frame().attrs["unclassified"] == 19
    with pytest.warns(UnclassifiedValuesWarning, match="17 of 400"):
        negative = analyze(drifting, binning="equal-width", p_values=False)
    assert negative.unclassified == np.count_nonzero(drifting <= negative.boundaries[1]) == 17
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for clean in (analyze(drifting + 2000, binning="equal-width"), analyze(counts)):
            assert clean.unclassified == 0 and "no class" not in repr(clean)


def test_results_that_say_little_say_so_and_cost_no_shuffles():
    from quorvel_tools import ResultWarning, rolling

    # Shuffles of a constant series would cost minutes at this count; none are drawn.
    with pytest.warns(ResultWarning, match="NSdichotomy is undefined .*: the series is constant"):
        result = analyze(np.full(50, 3.0), method="NSdichotomy", permutations=10**8)
    assert math.isnan(result.value) and math.isnan(result.p_value) and result.significance is None
    with pytest.warns(ResultWarning, match="a series of 9 values can say little"):
        analyze(np.arange(9.0))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        analyze(np.arange(10.0))
    series = np.r_[np.full(60, 1.0), np.arange(60.0)]
    profile = rolling(series, 30, step=10, method="NSdichotomy", p_values=True, permutations=50)
    assert profile.sources[:4] == ("undefined",) * 4 and np.isnan(profile.p_values[:4]).all()


def test_settings_are_keyword_only_and_each_function_takes_only_its_own():
    from quorvel_tools import analyze_many, permutation_test, rolling

    series = SERIES["walk"]
    with pytest.raises(TypeError, match="positional"):
        analyze(series, "NSdichotomy")
    with pytest.raises(TypeError, match="positional"):
        rolling(series, 100, 10)
    for call, name in [
        (lambda: analyze(series, step=3), "analyze() got an unexpected keyword argument 'step'"),
        (lambda: analyze_many([series], adjust="holm"), "'adjust'"),
        (lambda: analyze(series, errors="skip"), "'errors'"),
        (lambda: permutation_test(series, p_values=False), "'p_values'"),
    ]:
        with pytest.raises(TypeError, match=name.replace("(", r"\(").replace(")", r"\)")):
            call()
