"""The result of one measure on one series."""

from __future__ import annotations

import math
from collections.abc import Callable
from dataclasses import KW_ONLY, dataclass
from typing import TYPE_CHECKING, Any, overload

import numpy as np
import numpy.typing as npt

from . import shown
from .groups import Group
from .inputs import Series
from .notes import ResultWarning
from .running import DEFAULT_MAX_POINTS, RunningShares, running_shares
from .significance import Significance

if TYPE_CHECKING:
    import pandas as pd
    from matplotlib.axes import Axes


class UnclassifiedValuesWarning(ResultWarning):
    """Some values of the series lie in no class of the measure's table, so its shares and
    groups do not count them (see Analysis.unclassified)."""


class _GroupsOnFirstUse:
    """The `groups` field: given as the groups, or as a function that forms them, called on
    first access (none given: no groups). A run forms a group for every class, which weighs on
    short series whose groups nobody reads."""

    def __set_name__(self, owner: type, name: str) -> None:
        self._kept = f"_{name}"

    @overload
    def __get__(self, result: None, owner: type) -> tuple[Group, ...]: ...
    @overload
    def __get__(self, result: object, owner: type | None = None) -> tuple[Group, ...]: ...
    def __get__(self, result: object, owner: type | None = None) -> tuple[Group, ...]:
        if result is None:  # the field's default
            return ()
        kept = result.__dict__[self._kept]
        if callable(kept):
            kept = kept()
            result.__dict__[self._kept] = kept
        return kept  # type: ignore[no-any-return]

    def __set__(
        self, result: object, groups: tuple[Group, ...] | Callable[[], tuple[Group, ...]]
    ) -> None:
        result.__dict__[self._kept] = groups


@dataclass(frozen=True, repr=False, eq=False)
class Analysis:
    """value = 1 − H/H0 of `method`; 0 when every class's share settles, towards 1 the more
    classes had to be merged; NaN when H0 is 0 (all values in one class).

    `value` is clipped to [0, 1] and `H`, `H0` to at least 0: the module's own doubles can land
    a rounding step outside their meaning (1.0000000000000002, H = -6.7e-16), and these are the
    figures one compares and filters on. `value_exact`, `H_exact` and `H0_exact` are the
    module's doubles to the last bit.

    `unclassified` counts the values that lie in no class: the lowest boundary is the module's
    own (min - 0.01 for equal-frequency classes, 0.99 * min for equal-width ones and
    min - 0.01 * |min| for NSdichotomy), so a minimum of 0 (NSdichotomy) or a negative minimum
    (equal-width classes) leaves the lowest values outside every class, and the measure is then
    taken on the other n - unclassified values only.
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
    series: Series
    significance: Significance | None = None
    _: KW_ONLY
    value_exact: float = math.nan
    H_exact: float = math.nan
    H0_exact: float = math.nan
    groups: _GroupsOnFirstUse = _GroupsOnFirstUse()

    def __post_init__(self) -> None:
        # Built from the module's figures: those are the exact ones, the fields read clipped.
        self._keep_exact("value", shown.within_unit)
        self._keep_exact("H", shown.non_negative)
        self._keep_exact("H0", shown.non_negative)

    def _keep_exact(self, name: str, clip: Callable[[float], float]) -> None:
        given = getattr(self, name)
        if math.isnan(getattr(self, f"{name}_exact")):
            object.__setattr__(self, f"{name}_exact", given)
        object.__setattr__(self, name, clip(given))

    @property
    def unclassified(self) -> int:
        """How many values lie in no class (n minus the class counts of the module's table)."""
        return self.n - int(self.counts.sum())

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
        outside = f", {self.unclassified} in no class" if self.unclassified else ""
        return (
            f"Analysis({self.method}: value={shown.fraction(self.value)}{p}, "
            f"H={shown.entropy(self.H)}, H0={shown.entropy(self.H0)}, "
            f"K={self.classes}, n={self.n}{outside}, "
            f"groups={len(self.groups)} ({merged} merged))"
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
            "unclassified": self.unclassified,
            "value_exact": self.value_exact,
            "H_exact": self.H_exact,
            "H0_exact": self.H0_exact,
            "boundaries": self.boundaries.tolist(),
            "counts": self.counts.tolist(),
            "shares": self.shares.tolist(),
            "groups": [group.to_dict() for group in self.groups],
            "significance": None if self.significance is None else self.significance.to_dict(),
        }

    def to_frame(self) -> pd.DataFrame:
        """One row per class: its value range, count, share and the group it was merged into.
        `frame.attrs` holds n and the number of values in no class, which no row counts."""
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
        frame.attrs.update(n=self.n, unclassified=self.unclassified)
        return frame

    def running_shares(self, max_points: int | None = DEFAULT_MAX_POINTS) -> RunningShares:
        """Each class's running share along the series with its band (positions thinned to
        about `max_points` for long series; None keeps every position)."""
        return running_shares(
            self.series.values,
            self.boundaries,
            self.z,
            self.series.labels if self.series.labels is not None else self.series.positions,
            max_points,
            self.series.axis,
        )

    def plot(self, ax: Axes | None = None, max_points: int | None = DEFAULT_MAX_POINTS) -> Axes:
        """Draws the running shares and bands with matplotlib; returns the axes."""
        from .plotting import plot_running_shares

        title = self.method if self.series.name is None else f"{self.method} on {self.series.name}"
        return plot_running_shares(self.running_shares(max_points), title, ax)
