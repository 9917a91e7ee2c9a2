"""What analyze() accepts, what it refuses, and how missing values and pandas indexes are
handled."""

import warnings

import numpy as np
import pandas as pd
import pytest

from quorvel_tools import analyze, rolling
from quorvel_tools.inputs import to_series

VALUES = [3.0, 1.0, 4.0, 1.0, 5.0, 9.0, 2.0, 6.0, 5.0, 3.0, 5.0, 8.0]


@pytest.mark.parametrize(
    "data",
    [
        VALUES,
        tuple(VALUES),
        np.array(VALUES, dtype=np.float32),
        np.array(VALUES, dtype=np.int16),
        np.array(VALUES, dtype=np.uint8),
        np.array(VALUES)[::-1][::-1],
        pd.Series(VALUES, index=pd.date_range("2024-01-01", periods=12)),
        pd.DataFrame({"x": VALUES}),
        pd.Series(VALUES, dtype="Int64"),
    ],
    ids=["list", "tuple", "float32", "int16", "uint8", "view", "series", "frame", "nullable"],
)
def test_every_accepted_input_gives_the_same_result(data):
    assert analyze(data, classes=3).value == analyze(np.array(VALUES), classes=3).value


@pytest.mark.parametrize(
    "data, error, message",
    [
        ("12345", TypeError, "1-D sequence of real numbers"),
        (["1", "2"], TypeError, "got text values such as '1'"),
        ([1.0, 2.0, "x"], TypeError, "got text values such as 'x' at position 2"),
        (np.array([1 + 2j, 3]), TypeError, "dtype complex"),
        (np.ones((3, 2)), ValueError, r"shape \(3, 2\)"),
        (pd.DataFrame({"a": [1.0], "b": [2.0]}), ValueError, "exactly one column"),
        (pd.Series(["a", "b"]), TypeError, "dtype"),
        ([], ValueError, "empty"),
        ([1.0, float("inf"), 2.0], ValueError, "infinite value at position 1"),
        ([1.0, 10**400, 2.0], ValueError, "position 1 \\(a number of 401 digits\\) is too large"),
        ([-1.7e308, 1.7e308, 0.0], ValueError, "a range wider than the largest double"),
        (5.0, TypeError, "got float"),
        (np.array([True, False]), TypeError, "dtype bool"),
    ],
)
def test_unusable_input_says_what_is_accepted(data, error, message):
    with pytest.raises(error, match=message):
        to_series(data)


def test_missing_values_raise_with_count_and_first_position():
    series = pd.Series([1.0, 2.0, np.nan, 4.0, None], index=list("abcde"))
    with pytest.raises(ValueError, match=r"2 missing value.*position 2 \(index label 'c'\).*omit"):
        analyze(series)


def test_omit_drops_missing_values_and_keeps_the_labels_of_the_rest():
    values = np.array([5.0, np.nan, 1.0, 4.0, None, 2.0, 8.0, 3.0, 7.0, 6.0], dtype=float)
    index = pd.date_range("2024-01-01", periods=10)
    kept = to_series(pd.Series(values, index=index), "omit")
    assert list(kept.values) == [5.0, 1.0, 4.0, 2.0, 8.0, 3.0, 7.0, 6.0]
    assert list(kept.labels) == list(index.delete([1, 4]).to_numpy())
    omitted = analyze(list(values), classes=3, nan_policy="omit")
    assert omitted.value == analyze(values[~np.isnan(values)], classes=3).value
    assert omitted.n == 8


def test_omitted_values_keep_the_positions_of_the_rest():
    values = np.array([1.0, 2, np.nan, 4, 5, 6, 7, 8, 9, 10, 11, 12] * 10)
    kept = np.flatnonzero(~np.isnan(values))
    profile = rolling(values, window=50, step=10, nan_policy="omit")
    assert list(profile.ends) == list(profile.labels) == list(kept[np.arange(49, 110, 10)])
    assert profile.ends[0] == 54 and list(profile.to_frame()["end"][:2]) == [54, 65]
    shares = analyze(values, classes=3, nan_policy="omit").running_shares()
    assert list(shares.labels[:3]) == [0, 1, 3] and shares.labels[-1] == 119
    with pytest.raises(ValueError, match="infinite value at position 3"):
        analyze([np.nan, 1.0, 2.0, np.inf, 3.0], nan_policy="omit")


def test_pandas_index_labels_positions_in_results():
    index = pd.date_range("2024-01-01", periods=40, freq="D")
    series = pd.Series(np.arange(40.0) % 7, index=index)
    profile = rolling(series, window=10, step=10)
    assert list(profile.labels) == list(index[[9, 19, 29, 39]].to_numpy())
    shares = analyze(series, classes=3).running_shares()
    assert shares.labels[0] == index[0] and shares.labels[-1] == index[-1]


def test_input_series_is_not_modified_and_results_cannot_change_it():
    values = np.array(VALUES)
    result = analyze(values, classes=3)
    values[0] = 100.0
    assert result.series.values[0] == 3.0
    with pytest.raises(ValueError):
        result.series.values[0] = 0.0


def test_masked_elements_are_missing_values():
    data = np.arange(330.0)
    mask = np.arange(330) % 11 == 0
    data[mask] = np.inf  # what lies under the mask is never read
    masked = np.ma.masked_array(data, mask=mask)
    with pytest.raises(ValueError, match="30 missing value.*first at position 0"):
        analyze(masked)
    result = analyze(masked, nan_policy="omit")
    assert result.n == 300 and result.value == analyze(np.arange(330.0)[~mask]).value


def test_messages_write_labels_as_a_person_does():
    dates = pd.date_range("1958-03-29", periods=8, freq="W-SAT")
    with pytest.raises(ValueError, match=r"\(index label 1958-05-10\)"):
        analyze(pd.Series([1.0] * 6 + [np.nan, 2.0], index=dates))
    numbered = pd.Series([1.0, np.nan, 2.0], index=np.array([5, 2, 9]))
    with pytest.raises(ValueError, match=r"\(index label 2\)"):
        analyze(numbered)


def test_values_near_the_largest_double_are_classified_without_numpy_warnings():
    values = np.full(100, 1e307) + np.arange(100) * 1e300
    with warnings.catch_warnings():
        # min - 0.01 is min here, so the minimum lies in no class and says so; NumPy says nothing.
        warnings.simplefilter("error", RuntimeWarning)
        for null in ("iid", "block"):
            result = analyze(values, null=null, permutations=20)
            assert np.isfinite(result.boundaries).all() and 0 <= result.p_value <= 1


@pytest.mark.parametrize("workers", [1, 2, 3])
def test_a_long_series_is_checked_and_copied_alike_on_threads(workers):
    # 2^19 values and more are cut into one range per thread: a bad value or the extremes in
    # any range must be found, and the copy must be the values bit for bit.
    n = 2**19 + 7
    values = np.random.default_rng(4).normal(size=n)
    values[[5, n // 2 + 3, n - 1]] = [-0.0, -7.5, 9.25]
    found = to_series(values, workers=workers)
    assert found.values.tobytes() == values.tobytes() and not np.shares_memory(found.values, values)
    for bad, message in (
        (np.nan, "1 missing value.*position 400000"),
        (np.inf, "at position 400000"),
    ):
        broken = values.copy()
        broken[400_000] = bad
        with pytest.raises(ValueError, match=message):
            to_series(broken, workers=workers)
    wide = values.copy()
    wide[[1, n - 2]] = [-1.7e308, 1.7e308]
    with pytest.raises(ValueError, match="spans from -1.7e\\+308 to 1.7e\\+308"):
        to_series(wide, workers=workers)
    kept = to_series(np.where(np.arange(n) % 3 == 0, np.nan, values), "omit", workers=workers)
    assert kept.values.tobytes() == values[np.arange(n) % 3 != 0].tobytes()
