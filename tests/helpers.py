"""Shared helpers of the quorvel test suite (imported by the test modules)."""

import json
import math
import os
import subprocess
import sys
from pathlib import Path

import numpy as np

import quorvel

DATA = Path(__file__).parent / "data"

MEASURES = ("NSLocaltoGlobal", "NSLefttoRight", "NSdichotomy", "NSCircleLefttoRight")
# Measures whose class table is built with the lowest boundary min - 0.01 (equal-frequency)
# or 0.99 * min (equal-width); NSdichotomy uses min - 0.01 * |min| in both modes.
OFFSET_MEASURES = ("NSLocaltoGlobal", "NSLefttoRight", "NSCircleLefttoRight")

Z = 1.96
ACCEPT = 0.925845
EQUAL_FREQUENCY = 1
EQUAL_WIDTH = 2


def tied(kind, n, seed):
    """Rounded and counted series, whose equal-frequency boundaries coincide (empty classes)."""
    rng = np.random.default_rng(seed)
    if kind == "integers-10":
        return rng.integers(0, 10, n).astype(float)
    if kind == "integers-100":
        return rng.integers(0, 100, n).astype(float)
    if kind == "rounded-0.1":
        return np.round(rng.normal(size=n), 1)
    if kind == "rounded-0.01":
        return np.round(rng.normal(size=n), 2)
    if kind == "half-at-one-level":
        return np.where(rng.random(n) < 0.5, 0.5, rng.normal(size=n))
    return rng.poisson(2.0, n).astype(float)  # counts with a small mean


TIED = [
    "integers-10",
    "integers-100",
    "rounded-0.1",
    "rounded-0.01",
    "half-at-one-level",
    "poisson",
]


def estimator(K, z=Z, accept=ACCEPT, mode=EQUAL_FREQUENCY):
    """A NonStationary configured with setup(K, z, accept, mode)."""
    est = quorvel.NonStationary()
    est.setup(K, z, accept, mode)
    return est


def run(name, window, K, z=Z, accept=ACCEPT, mode=EQUAL_FREQUENCY):
    """Runs one measure on a fresh estimator; returns (result, H0, H, A)."""
    est = estimator(K, z, accept, mode)
    result = est.nsFunc(name, [float(x) for x in window])
    return result, est.getH0(), est.getH(), est.getA()


def state(est):
    """H0, H and A of an estimator's last run."""
    return est.getH0(), est.getH(), est.getA()


def same(a, b):
    """Exact float equality in which NaN equals NaN (and -0.0 equals 0.0)."""
    a = float(a)
    b = float(b)
    return a == b or (math.isnan(a) and math.isnan(b))


def assert_same(actual, expected):
    assert same(actual, expected), f"{actual!r} != {expected!r}"


def assert_table(actual, expected):
    """Exact comparison of two tables (NaN equals NaN, -0.0 equals 0.0)."""
    expected = np.asarray(expected, dtype=np.float64)
    actual = np.asarray(actual)
    assert actual.dtype == np.float64
    assert actual.shape == expected.shape, f"{actual.shape} != {expected.shape}"
    assert np.array_equal(actual, expected, equal_nan=True), f"\n{actual!r}\n!=\n{expected!r}"


def assert_column(A, column, expected):
    assert_table(A[:, column], expected)


def assert_state(est, expected):
    """The estimator still reports the given (H0, H, A)."""
    H0, H, A = expected
    assert_same(est.getH0(), H0)
    assert_same(est.getH(), H)
    assert_table(est.getA(), A)


def term(p):
    """The entropy term -ln(p)*p, computed as the measures do (0 - ln(p)*p; 0 for p = 0)."""
    return 0.0 if p == 0 else 0.0 - math.log(p) * p


def subtract_terms(shares, start=0.0):
    """start - ln(p)*p for every non-zero share, one at a time, in the given order."""
    total = start
    for p in shares:
        if p != 0:
            total = total - math.log(p) * p
    return total


def running_shares(window, b):
    """Row c-1 is the running proportion of class c (b[c-1] < x <= b[c]) along the window."""
    j = np.arange(1, len(window) + 1, dtype=float)
    inside = (b[:-1, None] < window[None, :]) & (window[None, :] <= b[1:, None])
    return np.cumsum(inside, axis=1, dtype=float) / j


def in_band_fraction(v, z):
    """The band test's fraction of v inside c +- z*sqrt(c(1-c)/i), c = v[-1], as it evaluates it."""
    c = v[-1]
    f = (1.0 - c) * c
    with np.errstate(invalid="ignore"):
        half = z * np.sqrt(f / np.arange(1, len(v) + 1, dtype=float))
        return np.count_nonzero((v >= c - half) & (half + c >= v)) / len(v)


def left_to_right_groups(P, a, b, z=Z, accept=ACCEPT):
    """The left-to-right partition of classes a..b from the running shares P, as (first, last,
    running proportion) per group: a group grows until it passes the band test or reaches b."""
    groups, g = [], a
    while g <= b:
        v = np.zeros(P.shape[1])
        for t in range(g, b + 1):
            v = v + P[t - 1]
            if t == b or in_band_fraction(v, z) >= accept:
                break
        groups.append((g, t, v))
        g = t + 1
    return groups


def arc_entropy(P, a, b, z=Z, accept=ACCEPT):
    """Entropy of the left-to-right partition of classes a..b, the terms subtracted in order."""
    entropy = 0.0
    for _, _, v in left_to_right_groups(P, a, b, z, accept):
        if v[-1] != 0:
            entropy = entropy - math.log(v[-1]) * v[-1]
    return entropy


def load_jsonl(name):
    with open(DATA / name) as handle:
        return [json.loads(line) for line in handle if line.strip()]


# The installed console script, beside the interpreter running the tests.
QUORVEL_SCRIPT = Path(sys.executable).with_name("quorvel")


def run_quorvel(*args, stdin="", env=None, cwd=None, stdout=subprocess.PIPE, timeout=120):
    """The command end to end in its own process; text in and out. stdin=None gives it a
    terminal as standard input, as a person typing the command has."""
    command = [str(QUORVEL_SCRIPT), *map(str, args)]
    options = dict(stdout=stdout, stderr=subprocess.PIPE, text=True, env=env, cwd=cwd)
    if stdin is not None:
        return subprocess.run(command, input=stdin, check=False, timeout=timeout, **options)
    import pty

    leader, follower = pty.openpty()
    try:
        return subprocess.run(command, stdin=follower, check=False, timeout=timeout, **options)
    finally:
        os.close(leader)
        os.close(follower)
