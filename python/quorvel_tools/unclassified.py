"""How many values of a window lie in no class, for runs that return no class table (rolling
windows, many series).

The module's class c holds b_{c-1} < x <= b_c, and b_1..b_K never decrease, so a value lies in
no class when x > b_K, or when x <= b_1 and x <= b_0. b_0 is the module's lowest boundary:
min - 0.01 (equal-frequency) or 0.99 * min (equal-width), and min - 0.01 * |min| for
NSdichotomy in both modes. Equal-frequency classes end at the maximum and b_1 >= min, so only
b_0 = min matters there; equal-width boundaries are (max - min) * i / K + min, worked out here
with the module's own operations, so that the count is exact.
"""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

RELATIVE_LOWEST = ("NSdichotomy",)


def unclassified_counts(
    method: str,
    values: npt.NDArray[np.float64],
    starts: npt.NDArray[np.int64],
    window: int,
    classes: int,
    binning: str,
) -> npt.NDArray[np.int64]:
    """For each window values[start : start + window], how many of its values lie in no class."""
    if len(starts) == 1:
        # One window (a whole series of analyze_many): its extremes, without the sliding pass.
        part = values[starts[0] : starts[0] + window]
        low, high = np.array([part.min()]), np.array([part.max()])
    else:
        low = _sliding(values, window, np.minimum)[starts]
        high = _sliding(values, window, np.maximum)[starts]
    if method in RELATIVE_LOWEST:
        lowest = low - np.abs(low) * 0.01
    elif binning == "equal-frequency":
        lowest = low - 0.01
    else:
        lowest = 0.99 * low
    if binning == "equal-frequency":
        below, above = lowest, high
    else:
        first = ((high - low) * 1.0) / float(classes) + low
        below = np.minimum(lowest, first)
        above = ((high - low) * float(classes)) / float(classes) + low
    counts = np.zeros(len(starts), dtype=np.int64)
    # Only windows whose lowest or highest boundary misses their extremes have any; they are
    # few unless the series is built so (counts with zeros, negative data in equal widths).
    for i in np.flatnonzero((below >= low) | (above < high)):
        part = values[starts[i] : starts[i] + window]
        counts[i] = np.count_nonzero(part <= below[i]) + np.count_nonzero(part > above[i])
    return counts


def shift_hint(smallest: float) -> str:
    """How to bring the values back in, when a lowest boundary at or above them is the cause."""
    if smallest > 0:
        return ""
    return "; shifting the series so that its smallest value is above 0 puts them in a class"


def _sliding(values: npt.NDArray[np.float64], window: int, pick: Any) -> npt.NDArray[np.float64]:
    """pick (np.minimum or np.maximum) over every window of `window` values, in O(n): within
    blocks of `window` values, the running pick from the left and from the right meet."""
    n = len(values)
    blocks = -(-n // window)
    padded = np.full(blocks * window, values[-1])
    padded[:n] = values
    shaped = padded.reshape(blocks, window)
    from_left = pick.accumulate(shaped, axis=1).ravel()
    from_right = pick.accumulate(shaped[:, ::-1], axis=1)[:, ::-1].ravel()
    count = n - window + 1
    result: npt.NDArray[np.float64] = pick(
        from_right[:count], from_left[window - 1 : window - 1 + count]
    )
    return result
