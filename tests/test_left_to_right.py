"""NSLefttoRight: the worked examples with their exact figures."""

import math

import pytest

from helpers import (
    EQUAL_FREQUENCY,
    EQUAL_WIDTH,
    assert_column,
    assert_same,
    assert_table,
    run,
    subtract_terms,
)

NAME = "NSLefttoRight"
TEN = list(range(1, 11))
TWELVE = list(range(1, 13))
SHUFFLED_TWELVE = [5, 1, 4, 2, 6, 3, 8, 7, 9, 12, 10, 11]


def test_ten_values_three_classes():
    result, H0, H, A = run(NAME, TEN, 3)
    assert_same(H0, subtract_terms([0.4, 0.3, 0.3]))
    # Classes 1..2 form the first group (share 0.4 + 0.3), class 3 the last.
    assert 0.0 + 0.4 + 0.3 == 0.7
    assert_same(H, -(0.7 * math.log(0.7) + 0.3 * math.log(0.3)))
    assert_same(result, 1 - H / H0)
    assert result == pytest.approx(0.439008, abs=5e-7)
    assert H0 == pytest.approx(1.088900, abs=5e-7)
    assert H == pytest.approx(0.610864, abs=5e-7)
    assert_table(
        A,
        [
            [0.99, 0, 0, 0, 0, 0],
            [4, 4, 0.4, 0, 0, 0],
            [7, 3, 0.3, 7, 7, 0.7],
            [10, 3, 0.3, 10, 3, 0.3],
        ],
    )


def test_ten_values_four_classes():
    result, H0, H, A = run(NAME, TEN, 4)
    share = ((0.0 + 0.3) + 0.3) + 0.2
    assert_same(H, subtract_terms([share, 0.2]))
    assert_same(H0, subtract_terms([0.3, 0.3, 0.2, 0.2]))
    assert_same(result, 1 - H / H0)
    assert result == pytest.approx(0.633716, abs=5e-7)
    assert H0 == pytest.approx(1.366159, abs=5e-7)
    assert H == pytest.approx(0.500402, abs=5e-7)
    assert_column(A, 0, [0.99, 3, 6, 8, 10])
    assert_column(A, 3, [0, 0, 0, 8, 10])
    assert_column(A, 4, [0, 0, 0, 8, 2])
    assert_column(A, 5, [0, 0, 0, share, 0.2])


def test_steady_trend_is_one_group():
    result, H0, H, A = run(NAME, TWELVE, 3)
    assert H == 0.0
    assert result == 1.0
    assert_same(H0, subtract_terms([1 / 3, 1 / 3, 1 / 3]))
    assert_table(
        A,
        [
            [0.99, 0, 0, 0, 0, 0],
            [4, 4, 1 / 3, 0, 0, 0],
            [8, 4, 1 / 3, 0, 0, 0],
            [12, 4, 1 / 3, 12, 12, 1],
        ],
    )


def test_shuffled_twelve_every_class_its_own_group():
    result, H0, H, A = run(NAME, SHUFFLED_TWELVE, 3)
    assert H == H0
    assert_same(H0, subtract_terms([1 / 3] * 3))
    assert H0 == pytest.approx(1.098612, abs=5e-7)
    assert result == 0.0
    assert_table(
        A[1:],
        [
            [4, 4, 1 / 3, 4, 4, 1 / 3],
            [8, 4, 1 / 3, 8, 4, 1 / 3],
            [12, 4, 1 / 3, 12, 4, 1 / 3],
        ],
    )


@pytest.mark.parametrize("accept", [0.0, -1.0, -math.inf])
@pytest.mark.parametrize("window", [TWELVE, TEN, [3, -2, 7, 7, 0, 1.5, 9, -4]])
def test_non_positive_threshold_every_class_alone(window, accept):
    result, H0, H, A = run(NAME, window, 3, accept=accept)
    assert H == H0
    assert result == 0.0
    assert_table(A[1:, 3], A[1:, 0])
    assert_table(A[1:, 4:6], A[1:, 1:3])


@pytest.mark.parametrize("accept", [1.1, 1.0 + 2**-52, math.inf])
def test_threshold_above_one_one_group(accept):
    result, _H0, H, A = run(NAME, SHUFFLED_TWELVE, 3, accept=accept)
    assert H == 0.0
    assert result == 1.0
    assert_column(A, 3, [0, 0, 0, 12])
    assert_column(A, 4, [0, 0, 0, 12])
    assert_column(A, 5, [0, 0, 0, 1])


def test_threshold_above_one_share_sum_rounding():
    # Ten values in K = 3 classes: 0.4 + 0.3 + 0.3 is 1.0 here, so H is 0 and the result 1.
    result, _, H, A = run(NAME, [3, 7, 1, 9, 5, 2, 8, 4, 10, 6], 3, accept=1.5)
    share = ((0.0 + 0.4) + 0.3) + 0.3
    assert A[3, 5] == share
    assert_same(H, subtract_terms([share]))
    assert result == pytest.approx(1.0, abs=1e-15)


def test_empty_class_starting_a_group():
    # -100, -99.5, -99 with K = 2 equal-width classes: b = -99, -99.5, -99; class 1 is empty.
    result, H0, H, A = run(NAME, [-100, -99.5, -99], 2, mode=EQUAL_WIDTH)
    assert_table(
        A,
        [
            [-99.0, 0, 0, 0, 0, 0],
            [-99.5, 0, 0, -99.5, 0, 0],
            [-99.0, 1, 1 / 3, -99.0, 1, 1 / 3],
        ],
    )
    assert_same(H, subtract_terms([1 / 3]))
    assert H == H0
    assert result == 0.0


def test_empty_inner_class_is_a_group_of_its_own():
    # 3, 1, 4, 1, 5 with K = 8: class 2 is empty and starts (and ends) a group after class 1.
    _result, _H0, _H, A = run(NAME, [3, 1, 4, 1, 5], 8)
    assert A[2, 3] == 1.0
    assert A[2, 4] == 0.0 and A[2, 5] == 0.0


def test_one_class_some_values_outside():
    result, H0, H, A = run(NAME, [0.2, 0.5, 0.9], 1, mode=EQUAL_WIDTH)
    assert_same(H0, subtract_terms([2 / 3]))
    assert H == H0
    assert result == 0.0
    assert_table(
        A,
        [
            [0.198, 0, 0, 0, 0, 0],
            [0.8999999999999999, 2, 2 / 3, 0.8999999999999999, 2, 2 / 3],
        ],
    )


@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
def test_one_class_holding_every_value(mode):
    result, H0, H, A = run(NAME, [4, 2, 9, 7], 1, mode=mode)
    assert H0 == 0.0
    assert H == 0.0
    assert math.isnan(result)
    assert_column(A, 4, [0, 4])


@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
def test_constant_window(mode):
    result, H0, H, _ = run(NAME, [2.5] * 9, 3, mode=mode)
    assert H0 == 0.0 and H == 0.0
    assert math.isnan(result)


@pytest.mark.parametrize("window", [[2.0, 5.0, 3.0], [7.0], [-1.0, -3.0]])
def test_no_class_equal_width(window):
    result, H0, H, A = run(NAME, window, 0, mode=EQUAL_WIDTH)
    assert math.isnan(result)
    assert H0 == 0.0 and H == 0.0
    assert_table(A, [[0.99 * min(window), 0, 0, 0, 0, 0]])


@pytest.mark.parametrize(
    ("window", "K", "mode"),
    [
        (TEN, 3, EQUAL_FREQUENCY),
        (TEN, 4, EQUAL_FREQUENCY),
        (SHUFFLED_TWELVE, 3, EQUAL_WIDTH),
        ([3, -2, 7, 7, 0, 1.5, 9, -4, 2, 2, 6, -1], 5, EQUAL_FREQUENCY),
        ([3, -2, 7, 7, 0, 1.5, 9, -4, 2, 2, 6, -1], 5, EQUAL_WIDTH),
    ],
)
def test_group_columns_are_consistent(window, K, mode):
    # Column 4 and 5 hold running sums of columns 1 and 2 over each group; column 3 the end.
    _, _, H, A = run(NAME, window, K, mode=mode)
    count = share = 0.0
    shares = []
    for c in range(1, K + 1):
        count += A[c, 1]
        share += A[c, 2]
        if A[c, 3] != 0 or c == K:
            assert A[c, 3] == A[c, 0]
            assert A[c, 4] == count
            assert A[c, 5] == share
            shares.append(share)
            count = share = 0.0
        else:
            assert A[c, 4] == 0 and A[c, 5] == 0
    assert_same(H, subtract_terms(shares))
    assert list(A[0, 1:]) == [0.0] * 5
