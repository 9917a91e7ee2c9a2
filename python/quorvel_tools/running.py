"""Running share of every class along a series, with the confidence band the measures test."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

DEFAULT_MAX_POINTS = 2000


@dataclass(frozen=True, eq=False)
class RunningShares:
    """Shares of classes 1..K after the first j values, at the positions j in `positions`.

    `shares`, `lower` and `upper` have one row per position and one column per class; the band
    of class c at j is final_c ± z·sqrt(final_c·(1 − final_c)/j).
    """

    positions: npt.NDArray[np.int64]
    labels: npt.NDArray[Any]
    shares: npt.NDArray[np.float64]
    lower: npt.NDArray[np.float64]
    upper: npt.NDArray[np.float64]
    final: npt.NDArray[np.float64]
    boundaries: npt.NDArray[np.float64]
    axis: str = "position"

    def in_band(self) -> npt.NDArray[np.float64]:
        """Per class, the fraction of the listed positions whose share lies inside the band."""
        inside = (self.shares >= self.lower) & (self.shares <= self.upper)
        return np.asarray(inside.mean(axis=0), dtype=np.float64)


def class_of(
    values: npt.NDArray[np.float64], boundaries: npt.NDArray[np.float64]
) -> npt.NDArray[np.int64]:
    """Class c (1..K) of each value, b_{c-1} < x <= b_c, or 0 for a value in no class."""
    classes = len(boundaries) - 1
    # b_1..b_K never decrease; only b_0 may lie above b_1, so class 1 checks it on its own.
    index = np.searchsorted(boundaries[1:], values, side="left") + 1
    index[(index > classes) | ((index == 1) & (values <= boundaries[0]))] = 0
    return index.astype(np.int64)


def running_shares(
    values: npt.NDArray[np.float64],
    boundaries: npt.NDArray[np.float64],
    z: float,
    labels: npt.NDArray[Any] | None = None,
    max_points: int | None = DEFAULT_MAX_POINTS,
    axis: str = "position",
) -> RunningShares:
    """Computed class by class, so memory stays O(n + points·K) for long series."""
    n = len(values)
    positions = _positions(n, max_points)
    membership = class_of(values, boundaries)
    classes = len(boundaries) - 1
    shares = np.empty((len(positions), classes))
    for c in range(1, classes + 1):
        shares[:, c - 1] = np.cumsum(membership == c)[positions - 1] / positions
    final = np.bincount(membership, minlength=classes + 1)[1:] / n
    half = z * np.sqrt(final * (1 - final) / positions[:, None])
    point_labels = positions - 1 if labels is None else labels[positions - 1]
    return RunningShares(
        positions=positions,
        labels=np.asarray(point_labels),
        shares=shares,
        lower=final - half,
        upper=final + half,
        final=final.astype(np.float64),
        boundaries=boundaries,
        axis=axis,
    )


def _positions(n: int, max_points: int | None) -> npt.NDArray[np.int64]:
    """All of 1..n, or about max_points of them evenly spread, always with the first and last."""
    if max_points is None or n <= max_points:
        return np.arange(1, n + 1, dtype=np.int64)
    if max_points < 2:
        raise ValueError("max_points must be at least 2")
    return np.unique(np.linspace(1, n, max_points).round().astype(np.int64))
