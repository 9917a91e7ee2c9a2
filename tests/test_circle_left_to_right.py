"""NSCircleLefttoRight: the worked examples with their exact figures.

Each start score w(s) is arc(1, s-1) + arc(s, K), an arc's entropy being its groups' terms
subtracted from 0 left to right; H is the smallest of them."""

import math

import numpy as np
import pytest

from helpers import (
    EQUAL_FREQUENCY,
    EQUAL_WIDTH,
    arc_entropy,
    assert_column,
    assert_same,
    run,
    running_shares,
    subtract_terms,
    term,
)

NAME = "NSCircleLefttoRight"
TEN = list(range(1, 11))
SHUFFLED_TEN = [3, 7, 1, 9, 5, 2, 8, 4, 10, 6]


def forty():
    values = []
    for t in range(1, 41):
        if t % 2 == 1:
            values.append((t + 1) / 2)
        elif t % 4 == 2:
            values.append(21 + (t - 2) / 4)
        else:
            values.append(31 + (t - 4) / 4)
    return values


def assert_reports_no_grouping(A):
    K = A.shape[0] - 1
    assert_column(A, 3, np.zeros(K + 1))
    assert_column(A, 4, np.zeros(K + 1))
    assert_column(A, 5, np.zeros(K + 1))
    assert A[0, 1] == 0.0 and A[0, 2] == 0.0


def test_forty_values_window():
    window = forty()
    assert window[:8] == [1, 21, 2, 31, 3, 22, 4, 32]
    assert window[-2:] == [20, 40]
    assert sorted(window) == [float(x) for x in range(1, 41)]
    result, H0, H, A = run(NAME, window, 4)
    assert_column(A, 0, [0.99, 10, 20, 30, 40])
    assert_column(A, 2, [0, 0.25, 0.25, 0.25, 0.25])
    assert_same(H0, subtract_terms([0.25] * 4))
    assert H0 == pytest.approx(math.log(4), abs=1e-15)
    w = {
        1: subtract_terms([0.25 + 0.25, 0.25, 0.25]),
        2: term(0.25) + term(((0.0 + 0.25) + 0.25) + 0.25),
        3: term(0.25 + 0.25) + subtract_terms([0.25, 0.25]),
        4: subtract_terms([0.25 + 0.25, 0.25]) + term(0.25),
    }
    assert min(w.values()) == w[2]
    # H is the smallest start score, w(2) = -ln(0.25)*0.25 - ln(0.75)*0.75.
    assert_same(H, w[2])
    assert_same(H, -math.log(0.25) * 0.25 - math.log(0.75) * 0.75)
    assert H == pytest.approx(0.5623, abs=5e-5)
    assert w[1] == pytest.approx(1.0397, abs=5e-5)
    assert_same(result, 1 - H / H0)
    assert result == pytest.approx(0.5944, abs=5e-5)
    assert_reports_no_grouping(A)


def test_forty_values_left_to_right_scores_start_one():
    window = forty()
    result, _H0, H, _ = run("NSLefttoRight", window, 4)
    assert_same(H, subtract_terms([0.25 + 0.25, 0.25, 0.25]))
    assert result == pytest.approx(0.25, abs=1e-15)


@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
def test_ascending_ten_values(mode):
    result, H0, H, A = run(NAME, TEN, 3, mode=mode)
    assert_column(A, 0, [0.99, 4, 7, 10])
    assert_same(H0, subtract_terms([0.4, 0.3, 0.3]))
    w1 = subtract_terms([(0.0 + 0.4) + 0.3, 0.3])
    w2 = term(0.4) + subtract_terms([0.3, 0.3])
    w3 = term((0.0 + 0.4) + 0.3) + term(0.3)
    assert_same(w2, term(0.4) + subtract_terms([0.3, 0.3]))
    assert_same(H, min(w1, w2, w3))
    assert_same(H, -math.log(0.7) * 0.7 - math.log(0.3) * 0.3)
    assert H == pytest.approx(0.6109, abs=5e-5)
    assert_same(result, 1 - H / H0)
    assert result == pytest.approx(0.4390, abs=5e-5)
    # NSLefttoRight gives the same H here.
    assert_same(run("NSLefttoRight", TEN, 3, mode=mode)[2], H)
    assert_reports_no_grouping(A)


def test_shuffled_ten_values_every_class_alone():
    result, H0, H, A = run(NAME, SHUFFLED_TEN, 3)
    assert_column(A, 0, [0.99, 4, 7, 10])
    assert_column(A, 2, [0, 0.4, 0.3, 0.3])
    w1 = subtract_terms([0.4, 0.3, 0.3])
    w2 = term(0.4) + subtract_terms([0.3, 0.3])
    w3 = subtract_terms([0.4, 0.3]) + term(0.3)
    assert_same(w1, H0)
    assert_same(H, min(w1, w2, w3))
    assert H <= H0
    assert result == pytest.approx(0.0, abs=1e-15)
    assert result >= 0.0
    assert_reports_no_grouping(A)


def test_one_class_some_values_outside():
    result, H0, H, A = run(NAME, [0.2, 0.5, 0.9], 1, mode=EQUAL_WIDTH)
    assert_same(H0, term(2 / 3))
    assert_same(H, H0)
    assert result == 0.0
    assert_column(A, 1, [0, 2])
    assert_reports_no_grouping(A)


def test_one_class_equal_frequency_is_nan():
    result, H0, H, _ = run(NAME, TEN, 1)
    assert H0 == 0.0 and H == 0.0
    assert math.isnan(result)


@pytest.mark.parametrize("value", [3.0, 0.0, -2.0])
@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
def test_constant_window_is_nan(value, mode):
    result, H0, H, A = run(NAME, [value] * 6, 4, mode=mode)
    assert H0 == 0.0 and H == 0.0
    assert math.isnan(result)
    assert_reports_no_grouping(A)


@pytest.mark.parametrize("accept", [0.0, -5.0])
def test_threshold_zero_every_class_alone(accept):
    # Every class passes alone: w(1) = H0 exactly, and H is at most w(1).
    window = [4, 9, 1, 1, 7, 3, 8, 2, 6, 5, 0, 9]
    result, H0, H, A = run(NAME, window, 5, accept=accept)
    shares = list(A[1:, 2])
    assert_same(subtract_terms(shares), H0)
    assert H <= H0
    assert result == pytest.approx(0.0, abs=1e-15)


def test_threshold_above_one_whole_arcs():
    # No candidate passes: every arc is one group, and w(1) holds every value: H = 0.
    result, _H0, H, _ = run(NAME, TEN, 4, accept=1.5)
    assert H == 0.0
    assert result == 1.0


def test_empty_class_closes_a_group_alone():
    # 3, 1, 4, 1, 5 with K = 8: the empty classes pass alone and add nothing.
    _result, H0, H, A = run(NAME, [3, 1, 4, 1, 5], 8)
    assert_column(A, 1, [0, 2, 0, 1, 1, 1, 0, 0, 0])
    assert H <= H0
    assert_reports_no_grouping(A)


# --- longer windows against a plain NumPy evaluation of every start score ---


def _shifted(kind, n=2500):
    rng = np.random.default_rng(7)
    x = rng.normal(size=n)
    if kind == "variance":
        x[n // 2 :] *= 2.0
    elif kind == "mirrored":  # the same values in both halves: many starts tie
        x[n // 2 :] = -x[: n - n // 2]
        x[n // 2 :] *= 1.5
    elif kind == "integers":  # few distinct values: empty classes between them
        x = np.round(np.abs(x) * 2.0)
        x[n // 2 :] += 1.0
    return x


# Starts are searched best-first and dropped on a bound of their score; the least score must be
# the one that every start, partitioned in full, gives.
@pytest.mark.parametrize("kind", ["variance", "mirrored", "integers"])
@pytest.mark.parametrize(
    "K, z, accept, mode",
    [
        (30, 1.96, 0.925845, EQUAL_FREQUENCY),
        (30, 1.0, 0.5, EQUAL_WIDTH),
        (45, 3.3, 0.99, EQUAL_WIDTH),
        (25, math.inf, 0.925845, EQUAL_WIDTH),  # empty classes fail alone, the others pass
    ],
)
def test_least_start_score_matches_every_start_partitioned(kind, K, z, accept, mode):
    window = _shifted(kind)
    result, H0, H, A = run(NAME, window, K, z=z, accept=accept, mode=mode)
    P = running_shares(window, A[:, 0])
    scores = [arc_entropy(P, 1, K, z, accept)]
    scores += [
        arc_entropy(P, 1, s - 1, z, accept) + arc_entropy(P, s, K, z, accept)
        for s in range(2, K + 1)
    ]
    assert_same(H, min(scores))
    assert_same(result, 1 - H / H0)
