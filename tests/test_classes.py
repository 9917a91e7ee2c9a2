"""Class boundaries, counts, shares and H0 and the band test, seen through
the columns 0 to 2 of A and the results of the measures."""

import math

import pytest

from helpers import (
    EQUAL_FREQUENCY,
    EQUAL_WIDTH,
    MEASURES,
    OFFSET_MEASURES,
    assert_column,
    assert_same,
    assert_table,
    run,
    subtract_terms,
    term,
)

TEN = list(range(1, 11))


def lowest(name, mn, mode):
    """b_0 of a measure: min - 0.01 | 0.99 * min, or min - 0.01 * |min| for NSdichotomy."""
    if name == "NSdichotomy":
        return mn - abs(mn) * 0.01
    return mn - 0.01 if mode == EQUAL_FREQUENCY else 0.99 * mn


def equal_width(window, K):
    mn, mx = min(window), max(window)
    return [((mx - mn) * i) / K + mn for i in range(1, K + 1)]


def check_classes(name, window, K, mode, inner, counts):
    """Columns 0 to 2 and H0 of a run: boundaries b_1..b_K, counts, shares = count / n."""
    _, H0, _, A = run(name, window, K, mode=mode)
    n = len(window)
    shares = [c / n for c in counts]
    assert_column(A, 0, [lowest(name, min(window), mode)] + list(inner))
    assert_column(A, 1, [0.0] + list(counts))
    assert_column(A, 2, [0.0] + shares)
    assert_same(H0, subtract_terms(shares))
    return A


@pytest.mark.parametrize("name", MEASURES)
def test_ten_values_three_classes_equal_frequency(name):
    A = check_classes(name, TEN, 3, EQUAL_FREQUENCY, [4, 7, 10], [4, 3, 3])
    assert A[0, 0] == 0.99
    _, H0, _, _ = run(name, TEN, 3)
    assert_same(H0, -(0.4 * math.log(0.4)) - 0.3 * math.log(0.3) - 0.3 * math.log(0.3))
    assert H0 == pytest.approx(1.0889, abs=5e-5)


@pytest.mark.parametrize("name", MEASURES)
def test_ten_values_four_classes_equal_frequency(name):
    check_classes(name, TEN, 4, EQUAL_FREQUENCY, [3, 6, 8, 10], [3, 3, 2, 2])


@pytest.mark.parametrize("name", MEASURES)
def test_ten_values_three_classes_equal_width(name):
    A = check_classes(name, TEN, 3, EQUAL_WIDTH, [4, 7, 10], [4, 3, 3])
    assert_column(A, 0, [lowest(name, 1, EQUAL_WIDTH)] + equal_width(TEN, 3))


@pytest.mark.parametrize("name", MEASURES)
def test_twelve_values_equal_width(name):
    window = list(range(1, 13))
    inner = [(11 * 1) / 3 + 1, (11 * 2) / 3 + 1, 12.0]
    A = check_classes(name, window, 3, EQUAL_WIDTH, inner, [4, 4, 4])
    assert A[1, 0] == pytest.approx(4.6667, abs=5e-5)
    assert A[2, 0] == pytest.approx(8.3333, abs=5e-5)


@pytest.mark.parametrize("name", MEASURES)
def test_fewer_values_than_classes(name):
    # 3, 1, 4, 1, 5 with K = 8: classes 2 and 6..8 are empty.
    check_classes(
        name,
        [3, 1, 4, 1, 5],
        8,
        EQUAL_FREQUENCY,
        [1, 1, 3, 4, 5, 5, 5, 5],
        [2, 0, 1, 1, 1, 0, 0, 0],
    )


@pytest.mark.parametrize("name", MEASURES)
def test_ties_go_to_the_lower_class(name):
    A = check_classes(name, [2, 2, 2, 5], 2, EQUAL_FREQUENCY, [2, 5], [3, 1])
    if name != "NSdichotomy":
        assert A[0, 0] == 1.99


@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
@pytest.mark.parametrize("name", MEASURES)
def test_constant_window(name, mode):
    window = [3.5] * 7
    result, H0, H, A = run(name, window, 4, mode=mode)
    assert_column(A, 0, [lowest(name, 3.5, mode), 3.5, 3.5, 3.5, 3.5])
    assert_column(A, 1, [0, 7, 0, 0, 0])
    assert_column(A, 2, [0, 1, 0, 0, 0])
    assert H0 == 0.0
    assert H == 0.0
    assert math.isnan(result)


@pytest.mark.parametrize("name", OFFSET_MEASURES)
def test_non_positive_minimum_equal_width(name):
    # -2..2 with K = 2: b_0 = 0.99 * -2 = -1.98, so -2 lies in no class.
    A = check_classes(name, [-2, -1, 0, 1, 2], 2, EQUAL_WIDTH, [0, 2], [2, 2])
    assert A[0, 0] == -1.98
    assert A[1, 2] + A[2, 2] == 0.8


@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
def test_non_positive_minimum_dichotomy(mode):
    # NSdichotomy's b_0 = -2 - 0.02 = -2.02 counts all five values.
    A = check_classes("NSdichotomy", [-2, -1, 0, 1, 2], 2, mode, [0, 2], [3, 2])
    assert A[0, 0] == -2.02


@pytest.mark.parametrize("name", MEASURES)
def test_minimum_zero_equal_width(name):
    # b_0 = 0 under 0.99 * min and under min - 0.01 * |min|: the zeros lie in no class.
    window = [0, 2, 0, 1, 3]
    A = check_classes(name, window, 2, EQUAL_WIDTH, equal_width(window, 2), [1, 2])
    assert A[0, 0] == 0.0


def test_minimum_zero_equal_frequency():
    window = [0, 2, 0, 1, 3]
    # Under min - 0.01 the zeros are counted ...
    for name in OFFSET_MEASURES:
        A = check_classes(name, window, 2, EQUAL_FREQUENCY, [1, 3], [3, 2])
        assert A[0, 0] == -0.01
    # ... under NSdichotomy's min - 0.01 * |min| = 0 they are not.
    check_classes("NSdichotomy", window, 2, EQUAL_FREQUENCY, [1, 3], [1, 2])


@pytest.mark.parametrize("name", MEASURES)
def test_top_boundary_just_below_max(name):
    _, _, _, A = run(name, [0.2, 0.5, 0.9], 1, mode=EQUAL_WIDTH)
    assert A[1, 0] == 0.8999999999999999
    assert A[1, 0] < 0.9
    assert A[1, 1] == 2.0
    assert A[1, 2] == 2 / 3
    if name != "NSdichotomy":
        assert A[0, 0] == 0.198
    _, _, _, A = run(name, [0.1, 1.0, 2.9], 3, mode=EQUAL_WIDTH)
    assert A[3, 0] == 2.8999999999999995
    # 0.1 and 1.0 lie in class 1; 2.9 lies above b_3 and in no class.
    assert_column(A, 1, [0, 2, 0, 0])


@pytest.mark.parametrize("name", OFFSET_MEASURES)
def test_negative_minimum_puts_b0_above_b1(name):
    A = check_classes(name, [-100, -99.5, -99], 2, EQUAL_WIDTH, [-99.5, -99], [0, 1])
    assert_column(A, 0, [-99.0, -99.5, -99.0])


@pytest.mark.parametrize("name", MEASURES)
def test_shares_are_counts_over_n_with_values_outside(name):
    # Equal-width classes of -2..2 leave -2 out under 0.99 * min: the shares sum to 0.8.
    _, _, _, A = run(name, [-2, -1, 0, 1, 2], 2, mode=EQUAL_WIDTH)
    assert_table(A[1:, 2], A[1:, 1] / 5)


@pytest.mark.parametrize("name", MEASURES)
def test_row_zero_of_counts_and_shares_is_zero(name):
    _, _, _, A = run(name, [5, 3, 8, 1, 9, 2, 7], 3)
    assert A[0, 1] == 0.0 and A[0, 2] == 0.0


@pytest.mark.parametrize("name", MEASURES)
def test_order_of_values_does_not_change_classes(name):
    shuffled = [3, 7, 1, 9, 5, 2, 8, 4, 10, 6]
    _, H0a, _, Aa = run(name, TEN, 3)
    _, H0b, _, Ab = run(name, shuffled, 3)
    assert_same(H0a, H0b)
    assert_table(Aa[:, :3], Ab[:, :3])


# --- the band test, through NSLefttoRight's first group -------------------------------------
#
# In the window 1, 10, 10, ..., 10 (ten values) with K = 2 equal-width classes, class 1 holds
# only the first value: its running proportion is 1, 1/2, ..., 1/10. With z = 1.96 the band
# at i = 1 (0.1 +- 0.588) excludes 1.0 and every later element lies inside: fraction 0.9.

SINGLE_FIRST = [1.0] + [10.0] * 9


def test_band_fraction_below_threshold_fails():
    result, _H0, H, A = run("NSLefttoRight", SINGLE_FIRST, 2, accept=0.925845, mode=EQUAL_WIDTH)
    # Class 1 fails: both classes form one group holding every value.
    assert H == term((0.0 + 0.1) + 0.9)
    assert H == 0.0
    assert result == 1.0
    assert_column(A, 3, [0, 0, 10])


def test_band_fraction_equal_to_threshold_passes():
    result, H0, H, A = run("NSLefttoRight", SINGLE_FIRST, 2, accept=0.9, mode=EQUAL_WIDTH)
    assert_same(H, subtract_terms([0.1, 0.9]))
    assert_same(H, H0)
    assert result == 0.0
    assert_column(A, 3, [0, 5.5, 10])


def test_band_fraction_just_above_passes_just_below_fails():
    above = run(
        "NSLefttoRight",
        SINGLE_FIRST,
        2,
        accept=math.nextafter(0.9, 0),
        mode=EQUAL_WIDTH,
    )
    below = run(
        "NSLefttoRight",
        SINGLE_FIRST,
        2,
        accept=math.nextafter(0.9, 1),
        mode=EQUAL_WIDTH,
    )
    assert above[0] == 0.0
    assert below[0] == 1.0


def test_band_of_empty_class_passes():
    # An all-zero running proportion lies on its band of width 0: the empty class 1 passes.
    result, H0, H, A = run("NSLefttoRight", [-100, -99.5, -99], 2, accept=1.0, mode=EQUAL_WIDTH)
    assert_same(H, term(1 / 3))
    assert_same(H0, H)
    assert result == 0.0
    assert_table(
        A,
        [
            [-99.0, 0, 0, 0, 0, 0],
            [-99.5, 0, 0, -99.5, 0, 0],
            [-99.0, 1, 1 / 3, -99.0, 1, 1 / 3],
        ],
    )


def test_band_of_single_value_passes():
    # With one value every running proportion has one element, its own centre: fraction 1.
    # The window 5 with K = 2 equal-frequency classes: b = 4.99, 5, 5; class 1 passes alone.
    result, H0, H, A = run("NSLefttoRight", [5.0], 2, accept=1.0, mode=EQUAL_FREQUENCY)
    assert_column(A, 3, [0, 5.0, 5.0])
    assert_column(A, 4, [0, 1, 0])
    assert H0 == 0.0 and H == 0.0
    assert math.isnan(result)


def test_band_with_threshold_above_one_never_passes():
    result, _, _H, A = run("NSLefttoRight", SINGLE_FIRST, 2, accept=1.0 + 1e-12, mode=EQUAL_WIDTH)
    assert result == 1.0
    assert_column(A, 3, [0, 0, 10])
