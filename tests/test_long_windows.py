"""Long windows: the measures, which never build the n x K table of running proportions, against
a NumPy evaluation that does, position by position, with the same floating-point operations."""

import itertools

import numpy as np
import pytest

import quorvel

from helpers import ACCEPT, TIED, Z, arc_entropy, running_shares, tied


def series(kind: str, n: int) -> np.ndarray:
    rng = np.random.default_rng(2024)
    x = rng.normal(size=n)
    if kind == "walk":
        return x.cumsum()
    if kind == "level":
        x[n // 2 :] += 1.0
    if kind == "variance":
        x[n // 2 :] *= 2.0
    if kind == "ties":
        return np.round(x * 3.0)
    if kind in TIED:
        return tied(kind, n, 2024)
    if kind == "stretches":
        # Sorted stretches: a group's running count rises at every position of a block, or not
        # at all, which tests the judgement of a block by its ends at its extremes.
        return np.sort(x.reshape(-1, 1500), axis=1).ravel()
    return x


@pytest.mark.parametrize("kind", ["noise", "walk", "level", "variance", "ties", "stretches", *TIED])
@pytest.mark.parametrize(("mode", "K"), [(1, 40), (0, 40), (1, 90)])
def test_sweeps_match_the_table(kind, mode, K):
    # K = 90 puts several equal-frequency boundaries on most levels of the tied series.
    window = series(kind, 6000)
    est = quorvel.NonStationary()
    est.setup(K, Z, ACCEPT, mode)
    est.nsFunc("NSLefttoRight", window)
    P = running_shares(window, est.getA()[:, 0])
    K = P.shape[0]
    assert est.getH() == arc_entropy(P, 1, K)
    est.nsFunc("NSCircleLefttoRight", window)
    P = running_shares(window, est.getA()[:, 0])
    scores = [arc_entropy(P, 1, K)]
    scores += [arc_entropy(P, 1, s - 1) + arc_entropy(P, s, K) for s in range(2, K + 1)]
    assert est.getH() == min(scores)


@pytest.mark.parametrize("n", [4095, 4096, 20000])
def test_equal_frequency_boundaries_are_the_sorted_window(n):
    # With K = n every boundary b_1..b_n is one sorted value: any slip of the sort shows.
    rng = np.random.default_rng(n)
    window = rng.normal(scale=1e3, size=n)
    window[:8] = [np.inf, -np.inf, 5e-324, -5e-324, 0.0, -0.0, 1e308, -1e308]
    window[8:200] = np.round(window[8:200] / 1e3)  # ties
    rng.shuffle(window)
    est = quorvel.NonStationary()
    est.setup(n, Z, ACCEPT, 1)
    est.nsFunc("NSLefttoRight", window)
    assert np.array_equal(est.getA()[1:, 0], np.sort(window))


def hostile(kind: str, n: int) -> np.ndarray:
    """Windows whose values defeat an even spread over the value range."""
    rng = np.random.default_rng(7)
    if kind == "outliers":
        x = rng.normal(size=n)
        x[rng.integers(0, n, 6)] = [np.inf, -np.inf, 1e308, -1e308, 1e300, -1e300]
        return x
    if kind == "geometric":
        return rng.choice([-1.0, 1.0], n) * 2.0 ** rng.uniform(-1070, 1020, n)
    if kind == "ties":
        return rng.integers(0, 6, n).astype(float)
    if kind == "subnormal":
        return rng.integers(-40, 40, n) * 5e-324 + np.where(rng.random(n) < 0.3, -0.0, 0.0)
    if kind == "heavy":
        return rng.standard_cauchy(n)
    if kind == "skewed":
        return rng.lognormal(0.0, 3.0, n)
    if kind == "clusters":
        return np.where(rng.random(n) < 0.5, 1e-300, 1e300) * (1.0 + rng.random(n))
    return np.full(n, -2.5)  # constant


HOSTILE = ["outliers", "geometric", "heavy", "skewed", "ties", "subnormal", "clusters", "constant"]


@pytest.mark.parametrize("kind", HOSTILE)
def test_equal_frequency_boundaries_pick_the_sorted_values(kind):
    # Few classes in a long window: each boundary is one order statistic of the window.
    n, K = 60000, 48
    window = hostile(kind, n)
    est = quorvel.NonStationary()
    est.setup(K, Z, ACCEPT, 1)
    est.nsFunc("NSLefttoRight", window)
    ranks = np.arange(1, K + 1) * (n // K) - 1
    assert np.array_equal(est.getA()[1:, 0], np.sort(window)[ranks])


@pytest.mark.parametrize("kind", HOSTILE + ["noise", "walk"])
@pytest.mark.parametrize(("K", "mode"), [(1, 1), (7, 0), (469, 1), (469, 0), (5000, 1)])
def test_class_counts_follow_the_boundaries(kind, K, mode):
    n = 30000
    window = series(kind, n) if kind in ("noise", "walk") else hostile(kind, n)
    est = quorvel.NonStationary()
    est.setup(K, Z, ACCEPT, mode)
    est.nsFunc("NSLefttoRight", window)
    b = est.getA()[:, 0]
    inside = [np.count_nonzero((lo < window) & (window <= hi)) for lo, hi in itertools.pairwise(b)]
    assert np.array_equal(est.getA()[1:, 1], inside)
