"""NSLocaltoGlobal: the worked examples with their exact figures.

H is ((lowerSum + upperSum) + F) + I; each expected value below repeats the additions of the
groups that the measure forms, in the same order, so the comparisons are exact."""

import math

import numpy as np
import pytest

from helpers import (
    EQUAL_WIDTH,
    assert_column,
    assert_same,
    run,
    subtract_terms,
    term,
)

NAME = "NSLocaltoGlobal"
TEN = list(range(1, 11))
TWENTY = list(range(1, 21))


def check(window, K, H, marks, accept=0.925845, mode=1, shares=None):
    result, H0, actual_H, A = run(NAME, window, K, accept=accept, mode=mode)
    assert_same(actual_H, H)
    if shares is not None:
        assert_same(H0, subtract_terms(shares))
    assert_same(result, 1 - H / H0)
    assert_column(A, 3, marks)
    assert_column(A, 4, np.zeros(K + 1))
    assert_column(A, 5, np.zeros(K + 1))
    return result, H0


def test_ten_values_three_classes():
    # Core class 2 (F), upper tail class 3 passes, lower tail class 1 fails (I = its term).
    H = ((0.0 + term(0.3)) + term(0.3)) + term(0.4)
    result, H0 = check(TEN, 3, H, [0, 3, 3, 1], shares=[0.4, 0.3, 0.3])
    assert H == pytest.approx(H0, abs=1e-15)
    assert result == pytest.approx(0.0, abs=1e-15)
    assert H0 == pytest.approx(1.0889, abs=5e-5)


def test_twenty_values_four_classes_tie_goes_to_lower():
    # Core class 2 (tie), class 3 an upper group, both tails fail: I uses 0.25 + 0.25.
    H = ((0.0 + term(0.25)) + term(0.25)) + term(0.25 + 0.25)
    result, H0 = check(TWENTY, 4, H, [0, 4, 4, 1, 0], shares=[0.25] * 4)
    assert H == pytest.approx(3 * (-0.25 * math.log(0.25)), abs=1e-15)
    assert H0 == pytest.approx(math.log(4), abs=1e-15)
    assert result == pytest.approx(0.25, abs=1e-15)


def test_core_at_class_one_lower_side_not_tested():
    # Core class 1; class 2 passes upward; the upper tail (class 3) fails and adds nothing.
    window = [8, 3, 2, 3, 0, 2]
    H = ((0.0 + term(2 / 6)) + term(3 / 6)) + 0.0
    result, H0 = check(window, 3, H, [3, 3, 1, 0], shares=[3 / 6, 2 / 6, 1 / 6])
    _, _, _, A = run(NAME, window, 3)
    assert_column(A, 0, [-0.01, 2, 3, 8])
    assert H == pytest.approx(0.7128, abs=5e-5)
    assert H0 == pytest.approx(1.0114, abs=5e-5)
    assert result == pytest.approx(0.2953, abs=5e-5)


def test_empty_core_both_tails_fail():
    window = [1] * 6 + [9] * 6
    result, H0 = check(window, 3, 0.0, [0, 3, 3, 0], mode=EQUAL_WIDTH, shares=[0.5, 0.0, 0.5])
    assert result == 1.0
    assert_same(H0, math.log(2))
    _, _, _, A = run(NAME, window, 3, mode=EQUAL_WIDTH)
    assert_column(A, 0, [0.99, 8 / 3 + 1, 16 / 3 + 1, 9])
    assert_column(A, 1, [0, 6, 0, 6])


def test_threshold_above_one_no_core():
    result, _ = check(TWENTY, 4, 0.0, [1, 0, 0, 0, 1], accept=1.1)
    assert result == 1.0


def test_threshold_above_one_five_classes_upper_tail_cleared():
    result, _ = check(TWENTY, 5, 0.0, [1, 0, 0, 0, 0, 0], accept=1.1)
    assert result == 1.0


def test_threshold_zero_every_class_alone():
    x = term(0.2)
    lower = (0.0 - math.log(0.2) * 0.2) - math.log(0.2) * 0.2
    upper = (0.0 - math.log(0.2) * 0.2) - math.log(0.2) * 0.2
    H = ((lower + upper) + x) + 0.0
    result, H0 = check(TWENTY, 5, H, [1, 1, 5, 5, 1, 1], accept=0.0, shares=[0.2] * 5)
    assert result == pytest.approx(0.0, abs=1e-15)
    assert H == pytest.approx(H0, abs=1e-15)


def test_core_search_failing_twice_then_tie():
    # The core grows 3-4, then 2-5, then takes class 1 (tie with class 6): classes 1..5.
    window = [5, 7, 6, 4, 2, 3, 1, 0, 9, 8]
    core = ((((0.0 + 0.2) + 0.2) + 0.2) + 0.1) + 0.2
    H = ((0.0 + term(0.1)) + term(core)) + 0.0
    result, H0 = check(window, 6, H, [6] * 6 + [1], shares=[0.2, 0.2, 0.2, 0.2, 0.1, 0.1])
    _, _, _, A = run(NAME, window, 6)
    assert_column(A, 0, [-0.01, 1, 3, 5, 7, 8, 9])
    assert H == pytest.approx(0.3251, abs=5e-5)
    assert H0 == pytest.approx(1.7481, abs=5e-5)
    assert result == pytest.approx(0.8140, abs=5e-5)


def test_lower_tail_of_two_classes_passes():
    # Core class 3; upper tail class 4 passes; class 2 alone fails, classes 2+1 pass as tail.
    window = [2, 3, 5, 0, 1, 4]
    H = ((term((0.0 + 2 / 6) + 2 / 6) + term(1 / 6)) + term(1 / 6)) + 0.0
    result, H0 = check(window, 4, H, [1, 0, 4, 4, 1], shares=[2 / 6, 2 / 6, 1 / 6, 1 / 6])
    _, _, _, A = run(NAME, window, 4)
    assert_column(A, 0, [-0.01, 1, 3, 4, 5])
    assert H == pytest.approx(0.8676, abs=5e-5)
    assert H0 == pytest.approx(1.3297, abs=5e-5)
    assert result == pytest.approx(0.3475, abs=5e-5)


@pytest.mark.parametrize("mode", [1, 2])
def test_constant_window_is_nan(mode):
    result, H0, H, _ = run(NAME, [4.0] * 8, 5, mode=mode)
    assert H0 == 0.0 and H == 0.0
    assert math.isnan(result)


def test_one_class_equal_frequency_is_nan():
    result, H0, H, _A = run(NAME, TEN, 1)
    assert H0 == 0.0
    assert H == 0.0
    assert math.isnan(result)


def test_one_class_equal_width_with_values_outside():
    # K = 1: m = 1, the core search does not start (lo < 2); the upper tail is class 1.
    result, H0, H, A = run(NAME, [0.2, 0.5, 0.9], 1, mode=EQUAL_WIDTH)
    assert_same(H0, term(2 / 3))
    assert A[1, 0] == 0.8999999999999999
    # The tail passes (fraction 1.0): H = ((0 + 0) + 0) + 0 with upperSum = the class's term.
    assert_same(H, term(2 / 3))
    assert result == 0.0
    assert_column(A, 3, [1, 1])


@pytest.mark.parametrize("K", [2, 3, 4, 5, 6, 7])
def test_core_marks_with_threshold_zero(K):
    # With every test passing, the core is one class (the better of the two middle ones); both
    # of its boundaries carry K and every other class is a group of its own (marks 1).
    result, H0, H, A = run(NAME, TWENTY, K, accept=0.0)
    marks = list(A[:, 3])
    core = [i for i, mark in enumerate(marks) if mark == K]
    assert len(core) == 2 and core[1] == core[0] + 1
    assert core[1] in (K // 2, K // 2 + 1)
    assert all(mark == 1.0 for i, mark in enumerate(marks) if i not in core)
    assert H == pytest.approx(H0, abs=1e-14)
    assert result == pytest.approx(0.0, abs=1e-14)


def test_one_class_threshold_zero_marks():
    _, _, _, A = run(NAME, TWENTY, 1, accept=0.0)
    assert_column(A, 3, [1, 1])
