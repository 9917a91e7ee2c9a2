"""The arithmetic of the p-values, on null samples built by hand: counts with ties and the
randomised tie-break, ties within a width between tabulated lengths, the weights between two
tabulated lengths, and permutation_test's conservative p on a null small enough to enumerate."""

import itertools
import math
import operator

import numpy as np
import pytest

from quorvel_tools import analyze, permutation_test
from quorvel_tools.nulltable import null_table
from quorvel_tools.pvalues import NullSample, interpolated_p_values, read_within, tie_width
from quorvel_tools.pvalues import read_p_values as p_values
from quorvel_tools.ranknull import RANK_BASED

from helpers import estimator

# The conservative end of permutation_test's tie range (counts >= observed).
permutation_p_high = operator.attrgetter("p_high")

# Eight draws, one of them NaN (it counts among the draws, never at or above a value): 0 three
# times, 0.1 twice, 0.2, 0.5. p = (above + J) / 9 with J in 1..1 + equal.
DRAWN = np.array([0.0, 0.1, 0.0, 0.5, np.nan, 0.1, 0.0, 0.2])


@pytest.mark.parametrize(
    "observed, above, equal",
    [(0.1, 2, 2), (0.0, 4, 3), (0.5, 0, 1), (0.7, 0, 0), (-1.0, 7, 0), (0.05, 4, 0)],
)
def test_p_values_count_ties_and_spread_evenly_over_them(observed, above, equal):
    sample = NullSample.of(DRAWN)
    assert sample.draws == 8
    # Uniforms spread evenly over [0, 1): each reachable J takes an equal share of them.
    uniform = (np.arange(840) + 0.5) / 840
    found = p_values(sample, np.full(840, observed), uniform)
    assert np.all(found.p_low == (above + 1) / 9)
    assert np.all(found.p_high == (above + equal + 1) / 9)
    reachable, times = np.unique(found.p_value, return_counts=True)
    assert reachable.tolist() == [(above + j) / 9 for j in range(1, equal + 2)]
    assert np.all(times == 840 // (equal + 1))
    # The ends of [0, 1) give the ends of the tie range.
    ends = p_values(sample, np.full(2, observed), np.array([0.0, np.nextafter(1.0, 0.0)]))
    assert ends.p_value.tolist() == [(above + 1) / 9, (above + equal + 1) / 9]


def test_p_values_of_nan_are_nan():
    found = p_values(NullSample.of(DRAWN), np.array([np.nan, 0.1]), np.array([0.5, 0.5]))
    for p in (found.p_value, found.p_low, found.p_high):
        assert np.isnan(p[0]) and not np.isnan(p[1])


@pytest.mark.filterwarnings("ignore:a series of 6 values can say little")
def test_analyze_spreads_p_evenly_over_a_null_that_is_all_ties():
    """NSdichotomy is 0 on every order of six distinct values: against 3 shuffles the observed
    0 ties all of them, so p_low = 1/4, p_high = 1 and p is 1/4, 2/4, 3/4 or 1, a quarter of
    the seeds each."""
    values = np.arange(1.0, 7.0)
    est = estimator(3)
    assert {est.nsFunc("NSdichotomy", list(o)) for o in itertools.permutations(values)} == {0.0}
    found = [
        analyze(values, method="NSdichotomy", permutations=3, seed=seed).significance
        for seed in range(200)
    ]
    assert {(f.p_low, f.p_high) for f in found} == {(0.25, 1.0)}
    reachable, times = np.unique([f.p_value for f in found], return_counts=True)
    assert reachable.tolist() == [0.25, 0.5, 0.75, 1.0]
    assert np.all(np.abs(times - 50) < 30)  # 5 standard deviations of a binomial(200, 1/4)


def test_interpolated_p_values_weigh_each_length():
    # Against A (4 draws) 0.1 has 1 above and 1 equal; against B (6 draws, one NaN) 1 and 3.
    a = NullSample.of(np.array([0.0, 0.0, 0.1, 0.2]))
    b = NullSample.of(np.array([0.0, 0.1, 0.1, 0.1, 0.3, np.nan]))
    found = interpolated_p_values([(a, 0.25), (b, 0.75)], np.full(2, 0.1), np.array([0.0, 0.99]))
    expected_low = 0.25 * 2 / 5 + 0.75 * 2 / 7
    expected_high = 0.25 * 3 / 5 + 0.75 * 5 / 7
    assert found.p_low == pytest.approx([expected_low] * 2, rel=1e-15)
    assert found.p_high == pytest.approx([expected_high] * 2, rel=1e-15)
    # u = 0 takes the lowest place in both ties, u = 0.99 the highest.
    assert found.p_value == pytest.approx([expected_low, expected_high], rel=1e-15)
    # One observed value at a time (analyze's sums on numbers) gives the same doubles.
    for i, u in enumerate((0.0, 0.99)):
        alone = interpolated_p_values([(a, 0.25), (b, 0.75)], np.array([0.1]), np.array([u]))
        for name in ("p_value", "p_low", "p_high"):
            assert getattr(alone, name).tolist() == [getattr(found, name)[i]]


def test_ties_within_a_width_count_each_draw_in_part():
    """Width 0.1 against DRAWN: a draw v counts clip(1 - u - (x - v) / 0.1, 0, 1), and
    p = (1 + counted) / 9. At x = 0.1, u = 0.5: 0.1 twice counts 1/2 each, 0.2 and 0.5 count
    1, the zeros 0; x = 0.15, u = 0.25: 0.1 counts 1/4 each, 0.2 counts 1, 0.5 counts 1."""
    sample = NullSample.of(DRAWN)
    observed, uniform = np.array([0.1, 0.15, np.nan]), np.array([0.5, 0.25, 0.5])
    found = read_within(0.1)(sample, observed, uniform)
    assert found.p_value[:2] == pytest.approx([(1 + 1 + 2) / 9, (1 + 0.5 + 2) / 9], abs=1e-15)
    # u = 1 and u = 0: at 0.1 the ends of the exact tie range (draws equal to it out, in).
    assert found.p_low[0] == pytest.approx(3 / 9, abs=1e-15)
    assert found.p_high[0] == pytest.approx(5 / 9, abs=1e-15)
    assert np.isnan(found.p_value[2]) and np.isnan(found.p_high[2])
    # One observed value at a time (analyze's reading) gives the same doubles as a batch.
    for i in range(3):
        alone = read_within(0.1)(sample, observed[i : i + 1], uniform[i : i + 1])
        for name in ("p_value", "p_low", "p_high"):
            assert np.array_equal(getattr(alone, name), getattr(found, name)[i : i + 1], True)
    # A width below every gap between draws reads as the exact tie-break's ends.
    exact = p_values(sample, np.array([0.1, 0.05]), np.array([0.5, 0.5]))
    narrow = read_within(1e-6)(sample, np.array([0.1, 0.05]), np.array([0.5, 0.5]))
    assert narrow.p_low == pytest.approx(exact.p_low, abs=1e-9)
    assert narrow.p_high == pytest.approx(exact.p_high, abs=1e-9)
    # A quarter of one merge of two classes of share 1/K: 2 log 2 / (K log K) / 4.
    assert tie_width(23) == pytest.approx(math.log(2) / (2 * 23 * math.log(23)), rel=1e-15)


def test_band_factor_is_bartlett_over_centred_segments_of_ranks():
    """The rule written out with loops: mid-ranks, tercile indicators and the distance of each
    mid-rank from the median rank, cut into n // L segments of n // (n // L) values (the rest
    left out, half at each end), each centred; Bartlett weights 1 - k / (M + 1) up to M; f the
    larger factor, from 1 to max(4.5, 0.9 n^(1/4))."""
    from quorvel_tools.dependence import (
        band_factor,
        bandwidth,
        largest_factor,
        mid_ranks,
        segment_length,
    )

    assert mid_ranks(np.array([3.0, 1.0, 3.0, 2.0])).tolist() == [2.5, 0.0, 2.5, 1.0]
    assert (bandwidth(1000), segment_length(1000), bandwidth(8), segment_length(8)) == (
        20,
        127,
        4,
        12,
    )
    assert (largest_factor(100), largest_factor(10**4)) == (4.5, pytest.approx(9.0, rel=1e-15))

    def by_hand(rows):
        n = len(rows[0])
        count = max(1, n // segment_length(n))
        length = n // count
        lags = min(bandwidth(n), length - 1)
        first = (n - count * length) // 2
        gamma = [0.0] * (lags + 1)
        for row in rows:
            for c in range(count):
                part = row[first + c * length : first + (c + 1) * length]
                centred = [v - sum(part) / length for v in part]
                for k in range(lags + 1):
                    gamma[k] += sum(centred[t] * centred[t + k] for t in range(length - k))
        weighted = sum((1 - k / (lags + 1)) * gamma[k] for k in range(1, lags + 1))
        return 1 + 2 * weighted / gamma[0]

    rng = np.random.default_rng(4)
    walk = np.cumsum(rng.normal(size=1000))
    smooth = np.convolve(rng.normal(size=1003), np.ones(8), "valid")
    for x in (smooth, rng.normal(size=37), walk):
        ranks = mid_ranks(x)
        terciles = np.minimum((3 * ranks / len(x)).astype(int), 2)
        levels = [list((terciles == g).astype(float)) for g in range(3)]
        spread = [list(np.abs(ranks - (len(x) - 1) / 2))]
        expected = max(1.0, by_hand(levels), by_hand(spread))
        assert band_factor(x) == pytest.approx(min(expected, largest_factor(len(x))), rel=1e-12)
    assert band_factor(walk) == largest_factor(1000) < by_hand([list(mid_ranks(walk))])
    # Ranks only: any increasing map, any magnitude, gives the same factor; no spread, 1.
    x = np.convolve(rng.normal(size=520), np.ones(8), "valid")
    assert band_factor(x) > 2.0
    assert band_factor(np.exp(x)) == band_factor(x * 1e-300) == band_factor(x * 1e300)
    assert band_factor(np.full(50, 7.0)) == band_factor(np.arange(3.0)) == 1.0


def test_sequential_p_value_stops_at_the_tenth_draw_at_or_above():
    """Draws 0.5 and 0.1 in turn against observed 0.3: every other draw reaches it, so the
    10th does at draw 19 (batches of 20, then more): p = 10 / 19. Against draws that never
    reach it, all `most` draws and p = 1 / (most + 1). A tie counts when its uniform is above
    the observed one's: with u = 0.5 and draws' uniforms 0.25, 0.75 in turn, half the ties."""
    from quorvel_tools.sequential import next_batch, sequential_p_value

    class Uniforms:
        def __init__(self, values):
            self.values = itertools.cycle(values)

        def random(self, size):
            return np.array([next(self.values) for _ in range(size)])

    sizes = []

    def alternating(batch, size):
        sizes.append(size)
        return np.resize([0.5, 0.1], size)

    found = sequential_p_value(alternating, 0.3, 0.5, Uniforms([0.0]), most=999)
    assert (found.p_value, found.draws, found.stopped) == (10 / 19, 19, True)
    # The ends bracket p with the fixed-draw ends of the 19 draws used: 10 above, no ties.
    assert (found.p_low, found.p_high) == (10 / 19, 11 / 20)
    assert sizes == [20]
    never = sequential_p_value(lambda b, size: np.zeros(size), 0.3, 0.5, Uniforms([0.0]), 99)
    assert (never.p_value, never.p_low, never.p_high, never.draws) == (0.01, 0.01, 0.01, 99)
    ties = sequential_p_value(lambda b, s: np.full(s, 0.3), 0.3, 0.5, Uniforms([0.25, 0.75]), 99)
    assert (ties.p_value, ties.draws) == (10 / 20, 20)  # the 10th tie counted is draw 20
    assert (ties.p_low, ties.p_high) == (1 / 21, 1.0)
    nan = sequential_p_value(alternating, float("nan"), 0.5, Uniforms([0.0]), 99)
    assert math.isnan(nan.p_value) and nan.draws == 0
    # After 20 draws of which 2 reached: share 3/22, 8 missing: ceil(1.1 * 8 * 22 / 3) = 65.
    assert (next_batch(0, 0, 999), next_batch(20, 2, 999), next_batch(20, 2, 50)) == (20, 65, 30)


@pytest.mark.parametrize("method", RANK_BASED)
@pytest.mark.parametrize(
    "low, high, n, weight",
    [
        # Both lengths have K = 21: linear in n, 441 lies a third of the way from 424.
        pytest.param(424, 475, 441, 2 / 3, id="linear-441"),
        pytest.param(424, 475, 458, 1 / 3, id="linear-458"),
        # K = 74 at 10^4, 79 at 10^4 * 2^(1/4): linear in log n.
        pytest.param(
            10_000,
            11_892,
            10_500,
            math.log(11_892 / 10_500) / math.log(11_892 / 10_000),
            id="log-10500",
        ),
    ],
)
def test_tabulated_lengths_around_n_and_their_weights(method, low, high, n, weight):
    table = null_table()
    i = int(np.searchsorted(table.lengths, low))
    assert table.lengths[i] == low and table.lengths[i + 1] == high
    (below, w_below), (above, w_above) = table.around(method, n)
    # The nearer length weighs more: each weight goes with its own length's sample.
    for got, index in ((below, i), (above, i + 1)):
        expected = table.sample(method, index)
        assert np.array_equal(got.values, expected.values)
        assert np.array_equal(got.at_or_above, expected.at_or_above)
    assert w_below == pytest.approx(weight, rel=1e-12)
    assert w_above == pytest.approx(1 - weight, rel=1e-12)


def _enumerated_null(method, values, classes):
    """Every distinct value of the measure over all orders of `values`, with how many give it."""
    est = estimator(classes)
    found = [est.nsFunc(method, list(order)) for order in itertools.permutations(values)]
    return dict(zip(*np.unique(found, return_counts=True), strict=True))


@pytest.mark.parametrize("method", RANK_BASED)
@pytest.mark.parametrize("end", ["largest", "smallest"])
def test_permutation_test_counts_ties_as_at_or_above(method, end):
    """Six values in three classes: the measure takes two or three values over the 720 orders,
    most of them 0, so the shuffles tie the observed value whichever end it is."""
    values = [0.0, 1.0, 2.0, 3.0, 4.0, 5.0]
    null = _enumerated_null(method, values, 3)
    target = max(null) if end == "largest" else min(null)
    est = estimator(3)
    series = next(
        o for o in itertools.permutations(values) if est.nsFunc(method, list(o)) == target
    )
    permutations = 999
    result = permutation_test(
        np.array(series), method=method, permutations=permutations, seed=1, classes=3
    )
    assert result.value_exact == target
    drawn = result.null_values_exact
    assert set(np.unique(drawn)) <= set(null)
    ties = int(np.count_nonzero(drawn == target))
    share = null[target] / 720
    assert abs(ties - permutations * share) < 5 * math.sqrt(permutations * share * (1 - share))
    above = int(np.count_nonzero(drawn > target))
    assert ties > 0 and permutation_p_high(result) == (1 + above + ties) / (permutations + 1)
    if end == "smallest":
        assert permutation_p_high(result) == 1.0
