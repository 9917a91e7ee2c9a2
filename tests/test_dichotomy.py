"""NSdichotomy: the worked examples with their exact figures."""

import math

import numpy as np
import pytest

from helpers import (
    EQUAL_FREQUENCY,
    EQUAL_WIDTH,
    assert_column,
    assert_same,
    assert_table,
    run,
    subtract_terms,
    term,
)

NAME = "NSdichotomy"
ALTERNATING = [1, 10, 2, 9, 3, 8, 4, 7, 5, 6]
TEN = list(range(1, 11))


def test_two_classes_split():
    # The running share at or below b_1 = 5 of 1, 10, 2, 9, ... stays in its band: score 1.
    result, H0, H, A = run(NAME, ALTERNATING, 2)
    assert_table(
        A,
        [
            [0.99, 0, 0, 0.99, 0, 0],
            [5, 5, 0.5, 5, 5, 0.5],
            [10, 5, 0.5, 10, 5, 0.5],
        ],
    )
    assert_same(H, subtract_terms([0.5, 0.5]))
    assert H == H0
    assert result == 0.0


def test_two_classes_score_equal_to_threshold_closes():
    # The same score 1.0 with an acceptance fraction of exactly 1.0 does not split.
    result, _H0, H, A = run(NAME, ALTERNATING, 2, accept=1.0)
    assert_column(A, 3, [0.99, 0, 10])
    assert_column(A, 4, [0, 0, 10])
    assert_column(A, 5, [0, 0, 1])
    assert H == 0.0
    assert result == 1.0


def test_two_classes_closed():
    # Ascending 1..10: the share at or below 5 leaves its band at t = 4 and 5: fraction 0.8.
    result, H0, H, A = run(NAME, TEN, 2)
    assert_table(
        A,
        [
            [0.99, 0, 0, 0.99, 0, 0],
            [5, 5, 0.5, 0, 0, 0],
            [10, 5, 0.5, 10, 10, 1],
        ],
    )
    assert H == 0.0
    assert_same(H0, math.log(2))
    assert result == 1.0


def test_two_classes_closed_just_above_fraction():
    # The same boundary scores 0.8: it splits at 0.79 and is closed at 0.8.
    assert run(NAME, TEN, 2, accept=0.79)[0] == 0.0
    assert run(NAME, TEN, 2, accept=0.8)[0] == 1.0


def test_single_value_score_one():
    # One value, K = 2: b = 4.95, 5, 5; the only inner boundary scores 1.
    split = run(NAME, [5.0], 2)
    assert_table(
        split[3],
        [[5 - 5 * 0.01, 0, 0, 4.95, 0, 0], [5, 1, 1, 5, 1, 1], [5, 0, 0, 5, 0, 0]],
    )
    assert split[1] == 0.0 and split[2] == 0.0
    assert math.isnan(split[0])
    closed = run(NAME, [5.0], 2, accept=1.0)
    assert_table(closed[3], [[4.95, 0, 0, 4.95, 0, 0], [5, 1, 1, 0, 0, 0], [5, 0, 0, 5, 1, 1]])


def test_empty_stretch_keeps_undecided_marks():
    # 1, 2 with K = 4: b = 0.99, 1, 2, 2, 2. Pass 1 splits at b_2 (nearest the centre 2),
    # pass 2 splits (0, 2) at b_1; the stretch (2, 4) holds no values and stays undecided,
    # so column 3 still shows b_3, and the delimiter 4 closes an empty merged class.
    result, H0, H, A = run(NAME, [1, 2], 4)
    assert_table(
        A,
        [
            [0.99, 0, 0, 0.99, 0, 0],
            [1, 1, 0.5, 1, 1, 0.5],
            [2, 1, 0.5, 2, 1, 0.5],
            [2, 0, 0, 2, 0, 0],
            [2, 0, 0, 2, 0, 0],
        ],
    )
    assert_same(H, subtract_terms([0.5, 0.5]))
    assert H == H0
    assert result == 0.0


def test_empty_merged_class_counted_with_the_next():
    # 1, 1, 5 with K = 3: class 2 = (1, 1] is empty; both inner boundaries split.
    result, H0, H, A = run(NAME, [1, 1, 5], 3)
    assert_table(
        A,
        [
            [0.99, 0, 0, 0.99, 0, 0],
            [1, 2, 2 / 3, 1, 2, 2 / 3],
            [1, 0, 0, 1, 0, 0],
            [5, 1, 1 / 3, 5, 1, 1 / 3],
        ],
    )
    assert_same(H, subtract_terms([2 / 3, 1 / 3]))
    assert H == H0
    assert result == 0.0


@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
def test_one_class(mode):
    result, H0, H, A = run(NAME, TEN, 1, mode=mode)
    # Both marks equal K = 1: column 3 is 0 in both rows, columns 4 and 5 stay 0.
    assert_table(A, [[0.99, 0, 0, 0, 0, 0], [10, 10, 1, 0, 0, 0]])
    assert H == 0.0
    assert H0 == 0.0
    assert math.isnan(result)


def test_one_class_with_values_outside():
    result, H0, H, A = run(NAME, [0.2, 0.5, 0.9], 1, mode=EQUAL_WIDTH)
    assert_table(A, [[0.2 - 0.2 * 0.01, 0, 0, 0, 0, 0], [0.8999999999999999, 2, 2 / 3, 0, 0, 0]])
    assert H == 0.0
    assert_same(H0, term(2 / 3))
    assert result == 1.0


def test_minimum_zero_values_in_no_class():
    # b_0 = 0: the zeros count in n but in no class; shares 0.2 and 0.4.
    window = [0, 3, 1, 0, 2]
    result, H0, H, A = run(NAME, window, 2, mode=EQUAL_WIDTH)
    assert_table(A, [[0, 0, 0, 0, 0, 0], [1.5, 1, 0.2, 1.5, 1, 0.2], [3, 2, 0.4, 3, 2, 0.4]])
    assert_same(H0, subtract_terms([0.2, 0.4]))
    assert H == H0
    assert result == 0.0


def test_first_pass_closes_whole_range_counted_share():
    # No split: H is the term of the counted share 3/5, not 0.
    window = [0, 3, 1, 0, 2]
    result, H0, H, A = run(NAME, window, 2, accept=1.1, mode=EQUAL_WIDTH)
    assert_same(H, term(3 / 5))
    assert_same(result, 1 - H / H0)
    assert_column(A, 3, [0, 0, 3])
    assert_column(A, 4, [0, 0, 3])
    assert_column(A, 5, [0, 0, 3 / 5])


def test_negative_minimum_lowest_boundary():
    window = [-3, 4, -1, 2, 0, 5]
    _, _, _, A = run(NAME, window, 3, mode=EQUAL_WIDTH)
    assert A[0, 0] == -3 - abs(-3) * 0.01
    assert A[0, 0] < -3
    assert A[1:, 1].sum() == 6


@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
@pytest.mark.parametrize("K", [2, 3, 5, 8])
def test_every_boundary_split(K, mode):
    # A negative acceptance fraction splits every stretch: H = H0 exactly, result 0.
    window = [7, 1, 12, 4, 9, 15, 3, 10, 6, 14, 2, 11, 5, 13, 8, 16]
    result, H0, H, A = run(NAME, window, K, accept=-1.0, mode=mode)
    assert H == H0
    assert result == 0.0
    assert_table(A[:, 3], A[:, 0])
    assert_table(A[1:, 4:6], A[1:, 1:3])


@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
@pytest.mark.parametrize("K", [2, 3, 6])
def test_threshold_above_one_closes_everything(K, mode):
    window = [7, 1, 12, 4, 9, 15, 3, 10, 6, 14, 2, 11, 5, 13, 8, 16]
    _result, _H0, H, A = run(NAME, window, K, accept=1.1, mode=mode)
    counted = A[1:, 1].sum()
    expected_marks = np.zeros(K + 1)
    expected_marks[0] = A[0, 0]
    expected_marks[K] = A[K, 0]
    assert_table(A[:, 3], expected_marks)
    assert A[K, 4] == counted
    assert_same(H, term(counted / 16))


@pytest.mark.parametrize("K", [2, 3, 4, 7])
@pytest.mark.parametrize("accept", [0.0, 0.5, 0.925845, 1.0])
def test_columns_three_to_five(K, accept):
    window = [3, 8, -2, 5, 5, 0, 9, 1, 4, 7, -1, 6, 2, 8, 3]
    _result, _H0, _H, A = run(NAME, window, K, accept=accept)
    # Column 3 always shows b_0 and b_K; other rows show their boundary or 0 (dropped).
    assert A[0, 3] == A[0, 0] and A[K, 3] == A[K, 0]
    assert all(A[i, 3] in (0.0, A[i, 0]) for i in range(K + 1))
    # Row 0 of columns 4, 5 is 0; columns 4 and 5 hold whole counts and count / n.
    assert A[0, 4] == 0 and A[0, 5] == 0
    assert_table(A[:, 5], A[:, 4] / len(window))
    assert A[1:, 4].sum() == A[1:, 1].sum()


def interleaved_forty():
    """1..30 in ascending order, with 31..40 in every fourth place: 1, 2, 3, 31, 4, ..."""
    low = iter(range(1, 31))
    high = iter(range(31, 41))
    return [float(next(high)) if t % 4 == 0 else float(next(low)) for t in range(1, 41)]


def test_far_candidate_loses_to_non_candidates():
    # K = 4, b = 0.99, 10, 20, 30, 40. Pass 1 scores b_1 0.45, b_2 0.575, b_3 1.0: the only
    # candidate b_3 lies 5 from the centre (b_2 + b_3) / 2 = 25, the non-candidates count 1.0,
    # so b_1 is chosen (lowest q). Pass 2, stretch (1, 4): b_2 0.8333, b_3 0.9333 > 0.925845;
    # again the far candidate b_3 loses and b_2 is chosen. Pass 3, stretch (2, 4): b_3 scores
    # 0.8 and is dropped. Merged classes: 1, 2, and 3..4.
    result, H0, H, A = run(NAME, interleaved_forty(), 4)
    assert_table(
        A,
        [
            [0.99, 0, 0, 0.99, 0, 0],
            [10, 10, 0.25, 10, 10, 0.25],
            [20, 10, 0.25, 20, 10, 0.25],
            [30, 10, 0.25, 0, 0, 0],
            [40, 10, 0.25, 40, 20, 0.5],
        ],
    )
    assert_same(H, subtract_terms([0.25, 0.25, 0.5]))
    assert_same(result, 1 - H / H0)
    assert result == pytest.approx(0.25, abs=1e-15)
