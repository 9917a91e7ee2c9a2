"""The result of one measure on one series."""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from . import shown
from .groups import Group
from .inputs import Series
from .pvalues import Significance
from .running import DEFAULT_MAX_POINTS, RunningShares, running_shares

if TYPE_CHECKING:
    import pandas as pd
    from matplotlib.axes import Axes


@dataclass(frozen=True, repr=False, eq=False)
class Analysis:
    """value = 1 − H/H0 of `method`; 0 when every class's share settles, towards 1 the more
    classes had to be merged; NaN when H0 is 0 (all values in one class).

    `value`, `H` and `H0` are exactly the module's figures (to_dict() and to_frame() too), so
    they can land a rounding step outside their meaning (1.0000000000000002, H = -6.7e-16);
    the repr shows them as they read: the value within [0, 1], entropies never below 0.
    """

    method: str
    value: float
    H: float
    H0: float
    classes: int
    z: float
    accept: float
    binning: str
    n: int
    boundaries: npt.NDArray[np.float64]
    counts: npt.NDArray[np.int64]
    shares: npt.NDArray[np.float64]
    groups: tuple[Group, ...]
    series: Series
    significance: Significance | None = None

    @property
    def p_value(self) -> float:
        """The p-value under the null in `significance`; NaN when none was asked for."""
        return float("nan") if self.significance is None else self.significance.p_value

    def __repr__(self) -> str:
        merged = sum(1 for g in self.groups if g.last > g.first)
        tested = self.significance
        p = (
            ""
            if tested is None
            else f", p_value={shown.p_value(tested.p_value, tested.resolution)} ({tested.null})"
        )
        return (
            f"Analysis({self.method}: value={shown.fraction(self.value)}{p}, "
            f"H={shown.entropy(self.H)}, H0={shown.entropy(self.H0)}, "
            f"K={self.classes}, n={self.n}, groups={len(self.groups)} ({merged} merged))"
        )

    def to_dict(self) -> dict[str, Any]:
        """Plain Python values only, ready for json.dumps."""
        return {
            "method": self.method,
            "value": self.value,
            "H": self.H,
            "H0": self.H0,
            "classes": self.classes,
            "z": self.z,
            "accept": self.accept,
            "binning": self.binning,
            "n": self.n,
            "boundaries": self.boundaries.tolist(),
            "counts": self.counts.tolist(),
            "shares": self.shares.tolist(),
            "groups": [group.to_dict() for group in self.groups],
            "significance": None if self.significance is None else self.significance.to_dict(),
        }

    def to_frame(self) -> pd.DataFrame:
        """One row per class: its value range, count, share and the group it was merged into."""
        from .optional import require

        pandas = require("pandas", "to_frame()")
        group_of = np.zeros(self.classes, dtype=np.int64)
        for number, group in enumerate(self.groups, start=1):
            group_of[group.first - 1 : group.last] = number
        frame: pd.DataFrame = pandas.DataFrame(
            {
                "class": np.arange(1, self.classes + 1),
                "lower": self.boundaries[:-1],
                "upper": self.boundaries[1:],
                "count": self.counts,
                "share": self.shares,
                "group": group_of,
            }
        )
        return frame

    def running_shares(self, max_points: int | None = DEFAULT_MAX_POINTS) -> RunningShares:
        """Each class's running share along the series with its band (positions thinned to
        about `max_points` for long series; None keeps every position)."""
        return running_shares(
            self.series.values,
            self.boundaries,
            self.z,
            self.series.labels,
            max_points,
            self.series.axis,
        )

    def plot(self, ax: Axes | None = None, max_points: int | None = DEFAULT_MAX_POINTS) -> Axes:
        """Draws the running shares and bands with matplotlib; returns the axes."""
        from .plotting import plot_running_shares

        title = self.method if self.series.name is None else f"{self.series.name}: {self.method}"
        return plot_running_shares(self.running_shares(max_points), title, ax)
