"""Running class shares and their bands, as the measures define them."""

import numpy as np
import pytest

from quorvel_tools import analyze
from quorvel_tools.running import class_of, running_shares


def test_running_shares_equal_direct_counts_and_end_at_the_class_shares():
    series = np.random.default_rng(3).normal(size=400).cumsum()
    result = analyze(series, classes=6)
    shares = result.running_shares(max_points=None)
    b = result.boundaries
    for j in (1, 7, 150, 400):
        prefix = series[:j]
        direct = [np.mean((prefix > b[c - 1]) & (prefix <= b[c])) for c in range(1, 7)]
        assert shares.shares[j - 1] == pytest.approx(direct, abs=1e-15)
    assert np.array_equal(shares.final, result.shares)
    p, j = result.shares[2], 50
    half = 1.96 * np.sqrt(p * (1 - p) / j)
    assert (shares.lower[j - 1, 2], shares.upper[j - 1, 2]) == pytest.approx((p - half, p + half))


def test_class_membership_at_boundaries_and_with_b0_above_b1():
    boundaries = np.array([0.99, 4.0, 7.0, 10.0])
    values = np.array([0.99, 1.0, 4.0, 4.0001, 7.0, 10.0, 10.5])
    assert list(class_of(values, boundaries)) == [0, 1, 1, 2, 2, 3, 0]
    # equal-width with a negative minimum: b_0 = 0.99·min lies above b_1, class 1 is empty.
    result = analyze([-100.0, -99.5, -99.0], classes=2, binning="equal-width")
    assert list(class_of(result.series.values, result.boundaries)) == [0, 0, 2]
    assert list(result.counts) == [0, 1]


def test_long_series_are_thinned_but_keep_first_and_last_positions():
    values = np.random.default_rng(0).normal(size=100_000)
    boundaries = np.quantile(values, np.linspace(0, 1, 9))
    boundaries[0] -= 0.01
    shares = running_shares(values, boundaries, 1.96, max_points=500)
    assert shares.positions[0] == 1 and shares.positions[-1] == 100_000
    assert len(shares.positions) <= 500 and shares.shares.shape == (len(shares.positions), 8)
    assert shares.shares[-1] == pytest.approx(shares.final)


def test_a_drifting_class_leaves_its_band_where_stable_classes_stay_inside():
    rng = np.random.default_rng(5)
    series = np.r_[rng.normal(size=500), rng.normal(4, 1, size=500)]
    fractions = analyze(series, classes=4).running_shares(max_points=None).in_band()
    assert fractions.min() < 0.5
