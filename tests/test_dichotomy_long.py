"""NSdichotomy on long windows against a NumPy evaluation that builds every running share of
every stretch, position by position, with the same floating-point operations. The windows make
the measure follow large stretches through the window's own index and take small ones out."""

import math

import numpy as np
import pytest

import quorvel

from helpers import ACCEPT, TIED, Z, in_band_fraction, tied


def autoregressive(n: int, coefficient: float, seed: int) -> np.ndarray:
    eps = np.random.default_rng(seed).normal(size=n)
    out = np.empty(n)
    level = 0.0
    for i, e in enumerate(eps):
        level = coefficient * level + e
        out[i] = level
    return out


def split(values, s, e, level, K, marks, b, accept):
    """One split step; returns how many marks it set."""
    t = np.arange(1, len(values) + 1, dtype=float)
    scores = []
    for q in range(s + 1, e):
        p = np.cumsum(values <= b[q]) / t
        f1, f2 = in_band_fraction(p, Z), in_band_fraction(1.0 - p, Z)
        scores.append(min(f1, f2))
    best = max(scores)
    if best > accept:
        M = (s + e) // 2
        centre = (b[M] + b[M + 1]) * 0.5
        distance = [
            abs(b[q] - centre) if score == best else 1.0 for q, score in enumerate(scores, s + 1)
        ]
        marks[s + 1 + int(np.argmin(distance))] = level  # the lowest of equal distances
        return 1
    marks[s + 1 : e] = K
    return e - s - 1


def dichotomy(window: np.ndarray, b: np.ndarray, accept: float) -> tuple[np.ndarray, float]:
    """The boundary marks and H."""
    K = len(b) - 1
    marks = np.zeros(K + 1)
    marks[0] = marks[K] = 1.0
    decided = 0
    for level in range(1, K):
        s = 0
        while True:
            e = s + 1
            while marks[e] == 0:
                e += 1
            values = window[(b[s] < window) & (window <= b[e])]
            if e - s >= 2 and len(values):
                decided += split(values, s, e, level, K, marks, b, accept)
            s = e
            if e >= K - 1:
                break
        if decided >= K - 1:
            break
    H, s = 0.0, 0
    for e in range(1, K + 1):
        if marks[e] in (0.0, K):
            continue
        count = np.count_nonzero((b[s] < window) & (window <= b[e]))
        if count:
            p = count / len(window)
            H = H - math.log(p) * p
            s = e
    return marks, H


WINDOWS = {
    "ar-0.9": lambda: autoregressive(8000, 0.9, 1),
    "ar-0.97": lambda: autoregressive(8000, 0.97, 2),
    "noise": lambda: np.random.default_rng(3).normal(size=8000),
    # Over 256 blocks of 40 values: a boundary also probes where the one scored before it strayed.
    "noise-long": lambda: np.random.default_rng(10).normal(size=16000),
    "ar-0.9-long": lambda: autoregressive(16000, 0.9, 11),
    "ties": lambda: np.round(autoregressive(8000, 0.9, 4) * 2.0),
    # Boundaries mostly more than 1.0 from the centre, where the lowest boundary short of the
    # best score wins; and whole-number boundaries, some exactly 1.0 from the centre.
    "ar-0.9-wide": lambda: autoregressive(8000, 0.9, 5) * 20.0,
    "steps": lambda: np.round(autoregressive(8000, 0.9, 6)),
    **{kind: lambda kind=kind: tied(kind, 8000, 8) for kind in TIED},
}


@pytest.mark.parametrize("kind", WINDOWS)
@pytest.mark.parametrize(("mode", "accept"), [(1, 0.5), (1, ACCEPT), (0, ACCEPT)])
def test_matches_the_running_shares(kind, mode, accept):
    window = WINDOWS[kind]()
    est = quorvel.NonStationary()
    est.setup(40, Z, accept, mode)
    est.nsFunc("NSdichotomy", window)
    A = est.getA()
    marks, H = dichotomy(window, A[:, 0], accept)
    assert est.getH() == H
    K = len(marks) - 1
    assert np.array_equal(A[:, 3], np.where(marks == K, 0.0, A[:, 0]))


@pytest.mark.parametrize("coefficient", [0.9, 0.97])
def test_many_classes_peeled_from_below(coefficient):
    # With many classes the best-scoring boundaries lie far from the centre, so each pass splits
    # off the lowest classes, and most far boundaries are left unscored unless a split needs them.
    window = autoregressive(6000, coefficient, 7)
    est = quorvel.NonStationary()
    est.setup(120, Z, 0.5, 1)
    est.nsFunc("NSdichotomy", window)
    A = est.getA()
    marks, H = dichotomy(window, A[:, 0], 0.5)
    assert est.getH() == H
    K = len(marks) - 1
    assert np.array_equal(A[:, 3], np.where(marks == K, 0.0, A[:, 0]))


@pytest.mark.parametrize("kind", TIED)
def test_tied_values_with_many_empty_classes(kind):
    # Many more classes than levels: most boundaries coincide, and a stretch split there keeps
    # empty classes at its bottom, whose boundaries have no value of it below them.
    window = tied(kind, 6000, 9)
    est = quorvel.NonStationary()
    est.setup(120, Z, ACCEPT, 1)
    est.nsFunc("NSdichotomy", window)
    A = est.getA()
    marks, H = dichotomy(window, A[:, 0], ACCEPT)
    assert est.getH() == H
    K = len(marks) - 1
    assert np.array_equal(A[:, 3], np.where(marks == K, 0.0, A[:, 0]))
