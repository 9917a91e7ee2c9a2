"""The block length of the block null, chosen from the series' own autocorrelation.

Politis and White's rule for the stationary bootstrap (2004, with the correction of Patton,
Politis and White, 2009): the autocorrelations are read up to the first lag after which
max(5, sqrt(log10 n)) of them in a row stay within 2 sqrt(log10 n / n); a flat-top window over
twice that lag gives the long-run variance G and the sum of |k| times the autocovariances, and
the rule's length is (2 G^2 / D)^(1/3) n^(1/3), D = 2 g(0)^2. The rule is made for the
variance of a mean; the measures follow the whole distribution along the series and need longer
blocks, so the length taken is twice the rule's (with the rule itself NSCircleLefttoRight's
block null rejected 12% of AR(1) 0.9 series of 200 values at 5%, with twice it 7%: see
benchmarks/calibration.py). A series without autocorrelation gets 1, the plain shuffle.
"""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

RULE_FACTOR = 2.0


def block_length(values: npt.NDArray[np.float64]) -> float:
    """The mean block length for a block permutation of `values`, from 1 to n / 3."""
    n = len(values)
    if n < 4:
        return 1.0
    peak = float(np.max(np.abs(values)))
    if peak == 0.0:
        return 1.0
    # Brought below 1 by a power of two, which is exact: no sum of squares can overflow or
    # underflow, whatever the magnitude (1e-320 to 1e308), and x * 2^k gets the length of x.
    values = np.ldexp(values, -math.frexp(peak)[1])
    centred = values - values.mean()
    if not np.any(centred):
        return 1.0
    run = max(5, math.ceil(math.sqrt(math.log10(n))))
    longest = min(math.ceil(math.sqrt(n)) + run, n - 1)
    covariances = _autocovariances(centred, longest)
    correlations = covariances[1:] / covariances[0]
    bound = 2.0 * math.sqrt(math.log10(n) / n)
    small = np.abs(correlations) < bound
    lag = longest
    for m in range(0, longest - run + 1):
        if small[m : m + run].all():
            lag = m
            break
    window = min(2 * lag, longest)
    if window == 0:
        return 1.0
    k = np.arange(1, window + 1)
    flat_top = np.clip(2.0 * (1.0 - k / window), 0.0, 1.0)
    g0 = covariances[0] + 2.0 * float(np.sum(flat_top * covariances[k]))
    weighted = 2.0 * float(np.sum(flat_top * k * covariances[k]))
    if g0 <= 0.0 or weighted == 0.0:
        return 1.0
    rule = (2.0 * weighted**2 / (2.0 * g0**2)) ** (1 / 3) * n ** (1 / 3)
    return float(min(max(RULE_FACTOR * rule, 1.0), n / 3))


def _autocovariances(centred: npt.NDArray[np.float64], lags: int) -> npt.NDArray[np.float64]:
    """Biased autocovariances at lags 0..lags, by FFT."""
    n = len(centred)
    size = 1 << (2 * n - 1).bit_length()
    spectrum = np.fft.rfft(centred, size)
    return np.fft.irfft(spectrum * np.conj(spectrum), size)[: lags + 1] / n
