"""The block-length rule against hand-worked cases: the lag where the autocorrelations die out,
the flat-top window over twice it, and twice Politis and White's stationary-bootstrap length."""

import math

import numpy as np
import pytest

from quorvel_tools.blocks import block_length

# Integer moving sums of one, two and three steps: their autocorrelations pass the bound
# 2 sqrt(log10 n / n) at lag q and stay within it for the five lags after.
SERIES = {
    1: [2, 6, 2, -4, -2, 2, 3, 3, 3, 5, 6, 6, 6, 5, 5, 0, -6, -1, 2, 2],
    2: [3, -1, -3, -6, -7, -9, -8, -3, 1, 6, 4, 4, 4, 6, 6, 3, 1, 3, 1, 3],
    3: [2, -3, -2, -2, -3, -3, -4, -3, -5, -3, -3, -5, -6, -4, -2, 1, 3, 1, 2, 4]
    + [1, 5, 4, -1, 2, 0, 2, 4, 1, -2],
}
# The flat-top window at k / M for k = 1..M-1, M = 2q: 1 up to M / 2, then down to 0 at M.
FLAT_TOP = {1: [1.0], 2: [1.0, 1.0, 0.5], 3: [1.0, 1.0, 1.0, 2 / 3, 1 / 3]}


def _autocovariances(x):
    """Biased autocovariances by direct sums, lags 0..n-1."""
    c = np.asarray(x, dtype=float) - np.mean(x)
    return np.array([np.dot(c[: len(c) - k], c[k:]) / len(c) for k in range(len(c))])


@pytest.mark.parametrize("lag", [1, 2, 3])
def test_block_length_is_twice_the_flat_top_rule(lag):
    x = SERIES[lag]
    n = len(x)
    gamma = _autocovariances(x)
    rho = gamma / gamma[0]
    bound = 2 * math.sqrt(math.log10(n) / n)
    # The case is what it claims: lag q is the first after which five correlations are small.
    assert abs(rho[lag]) >= bound and np.all(np.abs(rho[lag + 1 : lag + 6]) < bound)
    k = np.arange(1, 2 * lag)
    w = np.array(FLAT_TOP[lag])
    g = gamma[0] + 2 * np.sum(w * gamma[k])  # long-run variance
    d = 2 * np.sum(w * k * gamma[k])  # sum over k of |k| gamma(k)
    rule = (2 * d**2 / (2 * g**2)) ** (1 / 3) * n ** (1 / 3)
    assert 1 < rule and 2 * rule < n / 3  # neither end clips it
    assert block_length(np.array(x, dtype=float)) == pytest.approx(2 * rule, rel=1e-12)


@pytest.mark.parametrize(
    "x, expected",
    [
        ([1.0, 2.0, 3.0], 1.0),  # too short to estimate
        ([4.0] * 10, 1.0),  # constant
        ([0, 1] * 6 + [0], 13 / 3),  # alternating: no lag passes, the rule clips at n / 3
        ([1.0, -1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0], 1.0),  # no correlation past lag 0
    ],
)
def test_block_length_ends(x, expected):
    assert block_length(np.array(x, dtype=float)) == expected


@pytest.mark.filterwarnings("error")
@pytest.mark.parametrize("scale", [1e-300, 1e-150, 1e-10, 1e100, 1e130, 1e300, 1.7e308])
def test_block_length_keeps_to_the_series_shape_at_any_magnitude(scale):
    """Rescaled by a power of two first, the rule neither overflows nor underflows (1e100 used to
    raise OverflowError, 1e-300 to divide 0 by 0) and is exact under x -> 2^k x; other affine
    maps round the values, so there the length agrees to rounding."""
    rng = np.random.default_rng(5)
    unit = np.abs(rng.normal(size=400).cumsum())
    unit /= unit.max()
    expected = block_length(unit)
    assert 1 < expected < 400 / 3
    assert block_length(unit * scale) == pytest.approx(expected, rel=1e-12)
    assert block_length(0.5 * (unit * scale) + scale / 4) == pytest.approx(expected, rel=1e-12)
    power = math.frexp(scale)[1] - 1  # unit * 2^power stays at or below scale
    assert block_length(np.ldexp(unit, power)) == expected
