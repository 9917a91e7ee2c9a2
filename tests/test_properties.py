"""Properties of the four measures, checked on generated windows (hypothesis, bounded)."""

import math

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel

from helpers import MEASURES, assert_same, assert_table

SETTINGS = settings(max_examples=150, deadline=None, derandomize=True)

# Values from a small pool (ties, zeros, negatives) mixed with arbitrary moderate floats.
VALUES = st.one_of(
    st.sampled_from([-3.0, -1.5, -1.0, 0.0, 0.0, 0.5, 1.0, 1.0, 2.0, 2.5, 7.0]),
    st.integers(-6, 6).map(float),
    st.floats(-1e3, 1e3, allow_nan=False, allow_infinity=False, allow_subnormal=False),
)
WINDOWS = st.lists(VALUES, min_size=1, max_size=40)
CLASS_COUNTS = st.integers(1, 12)  # with windows of 1..40 values: n < K happens
MODES = st.sampled_from([1, 2, 0])
ACCEPTS = st.one_of(
    st.sampled_from([0.0, 0.5, 0.9, 0.925845, 1.0, 1.1]),
    st.floats(0.0, 1.0),
)
ZS = st.sampled_from([1.0, 1.96, 2.5, 0.0])


def configured(K, z, accept, mode):
    est = quorvel.NonStationary()
    est.setup(K, z, accept, mode)
    return est


def outcome(est, name, window):
    result = est.nsFunc(name, window)
    return result, est.getH0(), est.getH(), est.getA()


@SETTINGS
@given(window=WINDOWS, K=CLASS_COUNTS, z=ZS, accept=ACCEPTS, mode=MODES)
def test_result_between_zero_and_one(window, K, z, accept, mode):
    est = configured(K, z, accept, mode)
    for name in MEASURES:
        result, H0, H, A = outcome(est, name, window)
        assert A.shape == (K + 1, 6)
        assert H0 >= 0.0
        assert H >= -1e-12
        if H0 > 0:
            assert -1e-12 <= result <= 1 + 1e-12, (name, result, H0, H)
            assert H <= H0 + 1e-12
            assert_same(result, 1 - H / H0)
        elif H == 0.0:
            assert math.isnan(result)


@SETTINGS
@given(window=WINDOWS, K=CLASS_COUNTS, z=ZS, accept=ACCEPTS, mode=MODES)
def test_circle_never_above_left_to_right(window, K, z, accept, mode):
    est = configured(K, z, accept, mode)
    line = outcome(est, "NSLefttoRight", window)
    circle = outcome(est, "NSCircleLefttoRight", window)
    # n + K <= 2**24: both measures obtain the same boundaries, counts, shares and H0.
    assert_table(circle[3][:, :3], line[3][:, :3])
    assert_same(circle[1], line[1])
    assert circle[2] <= line[2]
    if line[1] > 0:
        assert circle[0] >= line[0]


@SETTINGS
@given(data=st.data(), window=WINDOWS, K=CLASS_COUNTS, z=ZS, accept=ACCEPTS, mode=MODES)
def test_order_does_not_change_classes(data, window, K, z, accept, mode):
    permuted = data.draw(st.permutations(window))
    est = configured(K, z, accept, mode)
    for name in MEASURES:
        first = outcome(est, name, window)
        second = outcome(est, name, permuted)
        assert_same(first[1], second[1])
        assert_table(first[3][:, :3], second[3][:, :3])


@SETTINGS
@given(data=st.data(), window=WINDOWS, K=CLASS_COUNTS, z=ZS, accept=ACCEPTS, mode=MODES)
def test_nsFunc_equals_nsFuncRange(data, window, K, z, accept, mode):
    n = len(window)
    first = data.draw(st.integers(0, n - 1))
    last = data.draw(st.integers(first + 1, n))
    by_range = configured(K, z, accept, mode)
    by_range.data = window
    direct = configured(K, z, accept, mode)
    for name in MEASURES:
        result = by_range.nsFuncRange(name, first, last)
        expected = outcome(direct, name, window[first:last])
        assert_same(result, expected[0])
        assert_same(by_range.getH0(), expected[1])
        assert_same(by_range.getH(), expected[2])
        assert_table(by_range.getA(), expected[3])


@SETTINGS
@given(window=WINDOWS, K=CLASS_COUNTS, z=ZS, accept=ACCEPTS, mode=MODES)
def test_numpy_array_equals_list(window, K, z, accept, mode):
    est = configured(K, z, accept, mode)
    for name in MEASURES:
        from_list = outcome(est, name, window)
        from_array = outcome(est, name, np.array(window, dtype=np.float64))
        for a, b in zip(from_list[:3], from_array[:3], strict=True):
            assert_same(a, b)
        assert_table(from_array[3], from_list[3])


@SETTINGS
@given(window=WINDOWS, K=CLASS_COUNTS, z=ZS, accept=ACCEPTS, mode=MODES)
def test_counts_and_shares(window, K, z, accept, mode):
    est = configured(K, z, accept, mode)
    n = len(window)
    for name in MEASURES:
        _, _H0, _, A = outcome(est, name, window)
        bounds = A[:, 0]
        counts = [sum(1 for x in window if bounds[c - 1] < x <= bounds[c]) for c in range(1, K + 1)]
        assert list(A[1:, 1]) == counts
        assert_table(A[1:, 2], [c / n for c in counts])
        assert A[0, 1] == 0.0 and A[0, 2] == 0.0
        assert A[1:, 1].sum() <= n
        if mode == 1:
            assert all(bounds[i] <= bounds[i + 1] for i in range(1, K))
            assert bounds[K] == max(window)
            assert A[1:, 1].sum() == n or name == "NSdichotomy"


# --- a plain, table-based evaluation of NSLefttoRight and NSCircleLefttoRight for small windows ---


def _band_passes(v, z, threshold):
    n = len(v)
    c = v[-1]
    f = (1.0 - c) * c
    count = 0
    for i in range(1, n + 1):
        half = z * math.sqrt(f / i) if f >= 0 else math.nan
        lower = c - half
        upper = half + c
        if v[i - 1] >= lower and upper >= v[i - 1]:
            count += 1
    return count / n >= threshold


def _classes(window, K, mode):
    """Boundaries (offset rule), counts, shares, H0 and the running proportions per class.
    Integer positions equal the single- and double-precision ones while n + K <= 2**24."""
    n = len(window)
    ordered = sorted(window)
    mn, mx = ordered[0], ordered[-1]
    if mode == 1:
        r, q = n % K, n // K
        positions = [i * (q + 1) if i <= r else (i - r) * q + r * (q + 1) for i in range(1, K + 1)]
        b = [mn - 0.01] + [ordered[p - 1] for p in positions]
    else:
        b = [0.99 * mn] + [((mx - mn) * i) / K + mn for i in range(1, K + 1)]
    columns = []
    H0 = 0.0
    for c in range(1, K + 1):
        m = 0.0
        column = []
        for j, x in enumerate(window, 1):
            if b[c - 1] < x <= b[c]:
                m = m + 1.0
            column.append(m / j)
        columns.append(column)
        if column[-1] != 0:
            H0 = H0 - math.log(column[-1]) * column[-1]
    return b, columns, H0


def _group(columns, g, t):
    v = [0.0] * len(columns[0])
    for c in range(g, t + 1):
        v = [a + b for a, b in zip(v, columns[c - 1], strict=True)]
    return v


def _arc_entropy(columns, a, b, z, threshold):
    E = 0.0
    g = t = a
    while a <= b and t < b:
        v = _group(columns, g, t)
        if _band_passes(v, z, threshold):
            if v[-1] != 0:
                E = E - math.log(v[-1]) * v[-1]
            g = t = t + 1
        else:
            t += 1
    if a <= b:
        p = _group(columns, g, b)[-1]
        if p != 0:
            E = E - math.log(p) * p
    return E


@settings(max_examples=120, deadline=None, derandomize=True)
@given(window=WINDOWS, K=CLASS_COUNTS, z=ZS, accept=ACCEPTS, mode=MODES)
def test_left_to_right_and_circle_match_a_table_based_evaluation(window, K, z, accept, mode):
    b, columns, H0 = _classes(window, K, mode)
    H_line = _arc_entropy(columns, 1, K, z, accept)
    scores = [H_line] + [
        _arc_entropy(columns, 1, s - 1, z, accept) + _arc_entropy(columns, s, K, z, accept)
        for s in range(2, K + 1)
    ]
    est = configured(K, z, accept, mode)
    for name, H in (("NSLefttoRight", H_line), ("NSCircleLefttoRight", min(scores))):
        result, actual_H0, actual_H, A = outcome(est, name, window)
        assert_table(A[:, 0], b)
        assert_same(actual_H0, H0)
        assert_same(actual_H, H)
        assert_same(result, 1 - H / H0 if H0 != 0 else (math.nan if H == 0 else -math.inf))
