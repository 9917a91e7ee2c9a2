"""The estimator object: configuration, dispatch, results and error behaviour."""

import math

import numpy as np
import pytest

import quorvel

from helpers import (
    ACCEPT,
    MEASURES,
    Z,
    assert_same,
    assert_state,
    assert_table,
    estimator,
    state,
)

TEN = [float(x) for x in range(1, 11)]
SERIES = [
    4.0,
    -1.5,
    2.0,
    9.0,
    0.0,
    3.5,
    3.5,
    7.25,
    -4.0,
    1.0,
    6.0,
    2.0,
    8.0,
    5.5,
    -2.5,
    0.5,
]
MAX_ROWS = 0x1555555555555555


# --- configuration ---------------------------------------------------------------------------


@pytest.mark.parametrize(("n", "K"), [(1, 0), (2, 1), (3, 2), (100, 11), (1000, 29)])
def test_setupDS_class_count(est, n, K):
    est.setupDS(n)
    assert est.getA().shape == (K + 1, 6)


@pytest.mark.parametrize("n", [4, 5, 10, 37, 250, 3000, 10000, 123457])
def test_setupDS_class_count_formula(est, n):
    est.setupDS(n)
    assert est.getA().shape == (int(1.87 * float(n - 1) ** 0.4) + 1, 6)


def test_setupDS_configuration_matches_explicit_setup():
    series = [float((7 * i) % 23) for i in range(100)]
    derived = quorvel.NonStationary()
    derived.setupDS(100)
    explicit = estimator(11, 1.96, 0.925845, 1)
    for name in MEASURES:
        assert_same(derived.nsFunc(name, series), explicit.nsFunc(name, series))
        assert_state(derived, state(explicit))


def test_setup_stores_mode_two_as_equal_width():
    # 1..12 with K = 3: equal-width boundaries 0.99, 11/3 + 1, 22/3 + 1, 12.
    est = estimator(3, 2.0, 0.9, 2)
    est.nsFunc("NSLefttoRight", [float(x) for x in range(1, 13)])
    assert_table(
        est.getA()[:, 0],
        [0.99 * 1, (11 * 1) / 3 + 1, (11 * 2) / 3 + 1, (11 * 3) / 3 + 1],
    )


def test_setup_example_mode_two():
    # setup(5, 2.0, 0.9, 2): binningMode 2.0 selects equal-width classes.
    est = estimator(5, 2.0, 0.9, 2)
    window = [float(x) for x in range(1, 13)]
    est.nsFunc("NSdichotomy", window)
    assert_table(est.getA()[1:, 0], [(11 * i) / 5 + 1 for i in range(1, 6)])


@pytest.mark.parametrize("mode", [0, 2, -1, 7, 2**31 - 1, -(2**31)])
def test_any_mode_but_one_is_equal_width(mode):
    window = [float(x) for x in range(1, 13)]
    width = estimator(3, Z, ACCEPT, mode)
    width.nsFunc("NSLefttoRight", window)
    reference = estimator(3, Z, ACCEPT, 2)
    reference.nsFunc("NSLefttoRight", window)
    assert_state(width, state(reference))


def test_setup_twice_with_another_K_gives_the_new_shape():
    est = estimator(3)
    est.nsFunc("NSLefttoRight", TEN)
    est.setup(7, Z, ACCEPT, 1)
    assert est.getA().shape == (8, 6)
    est.setup(1, Z, ACCEPT, 1)
    assert est.getA().shape == (2, 6)
    est.setupDS(1000)
    assert est.getA().shape == (30, 6)


def test_run_after_reconfiguration_writes_new_shape_and_zeros():
    est = estimator(3)
    est.nsFunc("NSLefttoRight", TEN)
    est.setup(10, Z, ACCEPT, 1)
    est.nsFunc("NSLefttoRight", [1.0, 2.0, 3.0])
    A = est.getA()
    assert A.shape == (11, 6)
    # n = 3 < K = 10: classes 4..10 are empty; every unwritten entry is 0.
    assert_table(A[4:, 1:3], np.zeros((7, 2)))
    assert_table(A[0, 1:], np.zeros(5))


def test_getA_after_setup_only_has_the_configured_shape():
    est = estimator(4)
    assert est.getA().shape == (5, 6)


# --- nsFunc and nsFuncRange --------------------------------------------------------------------


@pytest.mark.parametrize("mode", [1, 2])
@pytest.mark.parametrize("name", MEASURES)
def test_nsFuncRange_whole_equals_nsFunc(name, mode):
    whole = estimator(4, Z, 0.9, mode)
    whole.data = SERIES
    by_range = whole.nsFuncRange(name, 0, len(SERIES))
    range_state = state(whole)
    direct = estimator(4, Z, 0.9, mode)
    assert_same(by_range, direct.nsFunc(name, SERIES))
    assert_state(direct, range_state)


@pytest.mark.parametrize("bounds", [(0, 1), (1, 5), (3, 12), (5, 16), (15, 16), (2, 3)])
@pytest.mark.parametrize("name", MEASURES)
def test_nsFuncRange_slice_equals_nsFunc(name, bounds):
    i, j = bounds
    est = estimator(3, Z, 0.9, 1)
    est.data = SERIES
    by_range = est.nsFuncRange(name, i, j)
    range_state = state(est)
    direct = estimator(3, Z, 0.9, 1)
    assert_same(by_range, direct.nsFunc(name, SERIES[i:j]))
    assert_state(direct, range_state)


def test_nsFuncRange_does_not_change_data():
    est = estimator(3)
    est.data = SERIES
    est.nsFuncRange("NSdichotomy", 2, 9)
    assert est.data == SERIES


def test_data_is_independent_of_configuration():
    est = quorvel.NonStationary()
    est.data = SERIES
    est.setup(3, Z, ACCEPT, 1)
    assert est.data == SERIES
    est.setupDS(16)
    assert est.data == SERIES


def test_getA_returns_an_independent_copy():
    est = estimator(3)
    est.nsFunc("NSLefttoRight", TEN)
    A = est.getA()
    saved = A.copy()
    A[:] = -7.0
    assert_table(est.getA(), saved)
    assert est.getA() is not est.getA()


def test_results_of_last_run_only():
    est = estimator(3)
    est.nsFunc("NSLefttoRight", TEN)
    first = state(est)
    est.nsFunc("NSLefttoRight", [float(x) for x in range(1, 13)])
    assert est.getH() == 0.0
    est.nsFunc("NSLefttoRight", TEN)
    assert_state(est, first)


@pytest.mark.parametrize("name", MEASURES)
def test_repeated_runs_are_identical(name):
    est = estimator(5, Z, 0.9, 1)
    first = est.nsFunc(name, SERIES)
    first_state = state(est)
    assert_same(est.nsFunc(name, SERIES), first)
    assert_state(est, first_state)


# --- errors: every one is raised before anything changes --------------------------------------


def _prepared():
    """An estimator with K = 3 that has run NSLefttoRight on 1..10, and its state."""
    est = estimator(3)
    est.data = TEN
    est.nsFunc("NSLefttoRight", TEN)
    return est, state(est)


def _still_works(est, expected_state):
    """The previous results are intact and the configuration still gives them."""
    assert_state(est, expected_state)
    assert est.getA().shape == (4, 6)
    result = est.nsFunc("NSLefttoRight", TEN)
    assert_same(result, 1 - expected_state[1] / expected_state[0])
    assert_state(est, expected_state)


@pytest.mark.parametrize(
    "bad",
    ["NSFoo", "", "nslefttoright", "NSLeftToRight", "NSDichotomy", "NSLefttoRight "],
)
def test_unknown_measure_name(bad):
    est, before = _prepared()
    with pytest.raises(ValueError) as info:
        est.nsFunc(bad, TEN)
    message = str(info.value)
    for name in MEASURES:
        assert name in message
    with pytest.raises(ValueError):
        est.nsFuncRange(bad, 0, 10)
    _still_works(est, before)


def test_unknown_name_is_reported_before_an_empty_window():
    est, before = _prepared()
    with pytest.raises(ValueError, match="NSCircleLefttoRight"):
        est.nsFunc("nope", [])
    _still_works(est, before)


@pytest.mark.parametrize(
    "bounds", [(5, 4), (0, 11), (10, 11), (11, 11), (2**64 - 1, 2**64 - 1), (3, 2**63)]
)
def test_nsFuncRange_out_of_range(bounds):
    est, before = _prepared()
    with pytest.raises(IndexError):
        est.nsFuncRange("NSLefttoRight", *bounds)
    _still_works(est, before)


def test_nsFuncRange_on_empty_data():
    est = estimator(3)
    with pytest.raises(IndexError):
        est.nsFuncRange("NSLefttoRight", 0, 1)
    with pytest.raises(ValueError):
        est.nsFuncRange("NSLefttoRight", 0, 0)


@pytest.mark.parametrize("name", MEASURES)
def test_empty_window(name):
    est, before = _prepared()
    with pytest.raises(ValueError):
        est.nsFunc(name, [])
    with pytest.raises(ValueError):
        est.nsFunc(name, np.array([], dtype=np.float64))
    for i in (0, 4, 10):
        with pytest.raises(ValueError):
            est.nsFuncRange(name, i, i)
    _still_works(est, before)


@pytest.mark.parametrize("name", MEASURES)
@pytest.mark.parametrize("configure", ["setup", "setupDS"])
def test_zero_classes_equal_frequency_rejected(name, configure):
    est = quorvel.NonStationary()
    if configure == "setup":
        est.setup(0, 1.96, 0.9, 1)
    else:
        est.setupDS(1)
    assert est.getA().shape == (1, 6)
    with pytest.raises(ValueError):
        est.nsFunc(name, [1.0, 2.0, 3.0])
    # Nothing was run: the results are still those of a new object.
    assert math.isnan(est.getH())
    assert math.isnan(est.getH0())


@pytest.mark.parametrize("mode", [1, 0, 2])
@pytest.mark.parametrize("name", [m for m in MEASURES if m != "NSLefttoRight"])
def test_zero_classes_rejected_by_three_measures(name, mode):
    est = estimator(0, Z, ACCEPT, mode)
    with pytest.raises(ValueError):
        est.nsFunc(name, [1.0, 2.0, 3.0])


@pytest.mark.parametrize("window", [[2.0, 5.0, 3.0], [-4.0, 1.0], [0.0, 0.0]])
def test_zero_classes_equal_width_left_to_right(window):
    est = estimator(0, Z, ACCEPT, 2)
    result = est.nsFunc("NSLefttoRight", window)
    assert math.isnan(result)
    assert est.getH0() == 0.0
    assert est.getH() == 0.0
    assert_table(est.getA(), [[0.99 * min(window), 0, 0, 0, 0, 0]])


@pytest.mark.parametrize("mode", [0, 2])
@pytest.mark.parametrize("name", [m for m in MEASURES if m != "NSLefttoRight"])
def test_failed_zero_class_run_keeps_previous_results(name, mode):
    est = estimator(0, Z, ACCEPT, mode)
    est.nsFunc("NSLefttoRight", [2.0, 5.0, 3.0])
    before = state(est)
    with pytest.raises(ValueError):
        est.nsFunc(name, [2.0, 5.0, 3.0])
    assert_state(est, before)
    assert math.isnan(est.nsFunc("NSLefttoRight", [2.0, 5.0, 3.0]))
    assert_state(est, before)


def test_setupDS_zero_rejected():
    est, before = _prepared()
    with pytest.raises(ValueError):
        est.setupDS(0)
    _still_works(est, before)


def test_setupDS_zero_on_new_object_leaves_it_unconfigured(est):
    with pytest.raises(ValueError):
        est.setupDS(0)
    with pytest.raises(RuntimeError):
        est.getA()


@pytest.mark.parametrize(
    ("z", "accept", "message"),
    [(math.nan, ACCEPT, "band multiplier"), (Z, math.nan, "acceptance fraction")],
)
def test_nan_band_multiplier_or_acceptance_fraction_rejected(z, accept, message):
    # A NaN band multiplier would let every band test fail silently: 1.0 on pure noise.
    est, before = _prepared()
    with pytest.raises(ValueError, match=message):
        est.setup(3, z, accept, 1)
    _still_works(est, before)


def test_infinite_acceptance_fraction_accepted():
    # Only NaN is rejected: no band test passes with +inf, every one with -inf.
    assert run_one("NSLocaltoGlobal", TEN, 3, math.inf) == 1.0
    assert run_one("NSLefttoRight", TEN, 3, -math.inf) == 0.0


def run_one(name, window, K, accept):
    return estimator(K, Z, accept, 1).nsFunc(name, window)


@pytest.mark.parametrize("K", [2**31, 2**32, 2**32 + 3, 2**60, MAX_ROWS - 1, 2**64 - 1])
def test_setup_K_above_int32_rejected(K):
    est, before = _prepared()
    with pytest.raises(ValueError):
        est.setup(K, Z, ACCEPT, 1)
    _still_works(est, before)


def test_large_K_with_few_values():
    # K up to 2**31 - 1 passes the check, but its (K+1) x 6 table (about 100 GB) is not
    # allocated here: 2**16 classes for two values stand in.
    est = estimator(2**16, Z, ACCEPT, 2)
    est.nsFunc("NSLefttoRight", [1.0, 2.0])
    assert est.getA().shape == (2**16 + 1, 6)


@pytest.mark.parametrize("K", [MAX_ROWS, MAX_ROWS + 1, 2**63, 2**64 - 2])
def test_setup_K_beyond_table_limit_is_memory_error(K):
    est, before = _prepared()
    with pytest.raises(MemoryError):
        est.setup(K, Z, ACCEPT, 1)
    # The table was released: nothing runs until setup is called again.
    for call in (
        est.getA,
        lambda: est.nsFunc("NSLefttoRight", TEN),
        lambda: est.nsFuncRange("NSLefttoRight", 0, 10),
    ):
        with pytest.raises(RuntimeError, match="setup or setupDS"):
            call()
    est.setup(3, Z, ACCEPT, 1)
    assert_same(est.nsFunc("NSLefttoRight", TEN), 1 - before[1] / before[0])
    assert_state(est, before)


def test_setupDS_after_memory_error_restores(est):
    with pytest.raises(MemoryError):
        est.setup(MAX_ROWS, Z, ACCEPT, 1)
    est.setupDS(100)
    assert est.getA().shape == (12, 6)


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(lambda e: e.nsFunc("NSLefttoRight", [1.0, 2.0]), id="nsFunc"),
        pytest.param(lambda e: e.nsFunc("unknown", [1.0, 2.0]), id="nsFunc-unknown-name"),
        pytest.param(lambda e: e.nsFuncRange("NSLefttoRight", 0, 0), id="nsFuncRange"),
        pytest.param(lambda e: e.nsFuncRange("NSLefttoRight", 0, 3), id="nsFuncRange-valid"),
        pytest.param(
            lambda e: e.nsFuncRange("NSLefttoRight", 2, 99),
            id="nsFuncRange-out-of-range",
        ),
        pytest.param(lambda e: e.getA(), id="getA"),
    ],
)
def test_before_configuration_runtime_error(est, call):
    est.data = [1.0, 2.0, 3.0]
    with pytest.raises(RuntimeError) as info:
        call(est)
    assert "setup or setupDS" in str(info.value)
    est.setup(2, Z, ACCEPT, 1)
    est.nsFunc("NSLefttoRight", [1.0, 2.0])


@pytest.mark.parametrize("name", MEASURES)
def test_before_configuration_runtime_error_for_every_measure(est, name):
    with pytest.raises(RuntimeError, match="setup or setupDS"):
        est.nsFunc(name, [1.0, 2.0])


def test_results_before_any_run_are_nan(est):
    assert math.isnan(est.getH())
    assert math.isnan(est.getH0())
    est.setup(3, Z, ACCEPT, 1)
    assert math.isnan(est.getH())
    assert math.isnan(est.getH0())
    est.setupDS(50)
    assert math.isnan(est.getH())
    assert math.isnan(est.getH0())


@pytest.mark.parametrize("name", MEASURES)
@pytest.mark.parametrize("position", [0, 3, 9])
def test_nan_in_window(name, position):
    est, before = _prepared()
    window = list(TEN)
    window[position] = math.nan
    with pytest.raises(ValueError) as info:
        est.nsFunc(name, window)
    assert f"position {position}" in str(info.value)
    with pytest.raises(ValueError):
        est.nsFunc(name, np.array(window))
    _still_works(est, before)


def test_nan_in_range_position_is_relative_to_the_window():
    est, _ = _prepared()
    est.data = [1.0, 2.0, 3.0, math.nan, 5.0]
    with pytest.raises(ValueError, match="position 2"):
        est.nsFuncRange("NSLefttoRight", 1, 5)
    # A range that avoids the NaN runs.
    by_range = est.nsFuncRange("NSLefttoRight", 0, 3)
    direct = estimator(3)
    assert_same(by_range, direct.nsFunc("NSLefttoRight", [1.0, 2.0, 3.0]))
    assert_state(est, state(direct))


@pytest.mark.parametrize("name", MEASURES)
def test_failed_run_keeps_previous_results_of_another_measure(name):
    est = estimator(4, Z, 0.9, 1)
    est.nsFunc(name, SERIES)
    before = state(est)
    for bad in ([], [1.0, math.nan], [math.nan]):
        with pytest.raises(ValueError):
            est.nsFunc(name, bad)
        assert_state(est, before)
    with pytest.raises(ValueError):
        est.nsFunc("NSnothing", SERIES)
    assert_state(est, before)


def test_a_long_unknown_name_is_shortened_in_the_message():
    est, before = _prepared()
    with pytest.raises(ValueError) as info:
        est.nsFunc("x" * 1_000_000, TEN)
    assert len(str(info.value)) < 300
    assert "NSLefttoRight" in str(info.value)
    _still_works(est, before)
