"""How much a series' short-range dependence widens the band of its running proportions.

The band test takes the running share of a class after i values to vary as c(1 - c) / i, which
holds for independent values. Under dependence it varies f times as much, f the long-run
variance factor of the class indicator, so the test at z sqrt(f) asks of a dependent series
what the test at z asks of an independent one, and its null is the i.i.d. null at z. This is
the correction of KPSS and of HAC standard errors, made for the band test.

The rule (`band_factor`):

- the long-run variance factor is Bartlett's (Newey and West, 1987) with bandwidth
  M = ceil(2 n^(1/3)), a rate below n, so that dependence over a few values counts in full
  while a random walk's persistence, which has no scale, is credited at most M-fold;
- it is read within segments of L = max(2M, ceil(4 sqrt(n))) values, each centred on its own
  mean, so that a level shift or a trend (the departures under test) does not count as
  dependence;
- on two rank-based series, so that f depends on the order of the values only: the indicators
  of the series' terciles (dependence in level) and the distance of each mid-rank from the
  median rank (dependence in spread, as in GARCH series, whose levels are uncorrelated);
- f is the larger of the two, at least 1 and at most max(4.5, 0.9 n^(1/4)): a persistence
  that widens the band more than that is not short against n, and counts. Within segments a
  random walk looks more persistent than AR(1) 0.9 (at n = 1,000 its factor is about 11
  against 5), so without the bound it would pass as dependence; as the bound grows slower than
  the walk's factor (which grows as M), a random walk is called non-stationary ever more surely
  while a fixed short-range dependence is, from some length on, credited in full;
- NSLocaltoGlobal's band takes f^0.6 (`CREDITED_POWER`): f in full over-corrects that
  measure, which then calls AR(1) 0.9 stationary in all but a few series in a thousand while
  a random walk keeps only 0.82 of its power at 1,000 values.

Terciles, 2 n^(1/3), 4 sqrt(n) and the bound were chosen by hand on the figures of
benchmarks/dependence.py (NSLefttoRight, 200 to 5,000 values): the band test's class
indicators are far less persistent than the series itself, so the series' own long-run
variance over-corrects and takes the power against shifts; the bound of 4.5 at short lengths
holds the level under AR(1) 0.9, where it cannot be told from a random walk, and 0.9 n^(1/4)
keeps the power against a random walk at 1,000 values and beyond (docs/calibration.md); the
power 0.6 on the same rows with --method NSLocaltoGlobal.
"""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

LEVEL_GROUPS = 3
BANDWIDTH_SCALE = 2.0
SEGMENT_SCALE = 4.0
LEAST_BOUND = 4.5
BOUND_SCALE = 0.9
# The power of f that a measure's band takes, where it is not f itself. f in full over-corrects
# NSLocaltoGlobal: its AR(1) 0.9 series fall to a 5% rejection at f of about 2 to 3, where the
# rule gives 4 to 7, and a random walk keeps 0.82 of its power at n = 1,000
# (benchmarks/dependence.py --method NSLocaltoGlobal). 0.6 was chosen by hand on those rows.
CREDITED_POWER = {"NSLocaltoGlobal": 0.6}


def band_multiplier(z: float, factor: float, method: str) -> float:
    """The band multiplier of a measure on a series of factor f: z sqrt(f), f raised to the
    measure's `CREDITED_POWER` where it has one."""
    power = CREDITED_POWER.get(method)
    return z * math.sqrt(factor if power is None else factor**power)


def bandwidth(n: int) -> int:
    """The number of lags of the long-run variance, M = ceil(2 n^(1/3))."""
    return max(1, math.ceil(BANDWIDTH_SCALE * math.cbrt(n)))


def segment_length(n: int) -> int:
    """The values each segment holds before it is centred: max(2M, ceil(4 sqrt(n)))."""
    return max(2 * bandwidth(n), math.ceil(SEGMENT_SCALE * math.sqrt(n)))


def largest_factor(n: int) -> float:
    """The most a series of n values is credited: max(4.5, 0.9 n^(1/4))."""
    return max(LEAST_BOUND, BOUND_SCALE * math.sqrt(math.sqrt(n)))


def band_factor(values: npt.NDArray[np.float64]) -> float:
    """The factor f (from 1 to `largest_factor`) by which the variance of the series' running
    proportions is taken to exceed that of independent values; the band is widened to
    z sqrt(f)."""
    n = len(values)
    if n < 4:
        return 1.0
    ranks = mid_ranks(values)
    groups = np.minimum((LEVEL_GROUPS * ranks / n).astype(np.int64), LEVEL_GROUPS - 1)
    levels = np.stack([(groups == g).astype(np.float64) for g in range(LEVEL_GROUPS)])
    spread = np.abs(ranks - (n - 1) / 2.0)[np.newaxis, :]
    found = max(1.0, long_run_factor(levels), long_run_factor(spread))
    return min(found, largest_factor(n))


def mid_ranks(values: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """Ranks from 0 to n - 1, tied values sharing the mean of their ranks."""
    _, inverse, counts = np.unique(values, return_inverse=True, return_counts=True)
    ends = np.cumsum(counts)
    # Annotated, as NumPy 1.x leaves np.unique untyped.
    ranks: npt.NDArray[np.float64] = (ends - (counts + 1) / 2.0)[inverse.ravel()]
    return ranks


def long_run_factor(rows: npt.NDArray[np.float64]) -> float:
    """Bartlett's long-run variance over the variance of the rows' series, pooled over rows
    and over segments centred on their own means; 1 where the segments do not vary."""
    n = rows.shape[1]
    count = max(1, n // segment_length(n))
    length = n // count
    lags = min(bandwidth(n), length - 1)
    # The fewer than `count` values that do not fill a segment are left out at both ends.
    first = (n - count * length) // 2
    segments = rows[:, first : first + count * length].reshape(len(rows), count, length)
    centred = segments - segments.mean(axis=2, keepdims=True)
    size = 1 << (length + lags).bit_length()
    spectrum = np.fft.rfft(centred, size, axis=2)
    products = np.fft.irfft(spectrum * np.conj(spectrum), size, axis=2)[:, :, : lags + 1]
    covariances = products.sum(axis=(0, 1))
    if not covariances[0] > 0.0:
        return 1.0
    k = np.arange(1, lags + 1)
    weights = 1.0 - k / (lags + 1)
    return float(1.0 + 2.0 * np.sum(weights * covariances[1:]) / covariances[0])
