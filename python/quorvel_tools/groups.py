"""The groups of adjacent classes that a measure merged, as the measure itself formed them."""

from __future__ import annotations

import math
from collections.abc import Iterable
from dataclasses import dataclass, field
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .shown import within_unit

GroupKind = Literal["group", "core", "unsettled", "failed-core"]


@dataclass(frozen=True)
class Group:
    """Classes first..last (1-based), i.e. the values in (lower, upper], merged by a measure.

    kind: "group" a group the measure closed; "core" NSLocaltoGlobal's core group; "unsettled"
    a tail of NSLocaltoGlobal whose classes reached the end of the range without settling (they
    join no group); "failed-core" the middle classes that NSLocaltoGlobal's core search merged
    without settling a core. share is the group's share as the measure summed it, clipped to
    [0, 1] (a sum of shares can land an ulp above 1); share_exact is the module's double.
    """

    first: int
    last: int
    lower: float
    upper: float
    count: int
    share: float
    kind: GroupKind = "group"
    share_exact: float = field(default=math.nan, kw_only=True, repr=False)

    def __post_init__(self) -> None:
        # Given only a share, that is the exact one; given both, the share is shown clipped.
        if math.isnan(self.share_exact):
            object.__setattr__(self, "share_exact", self.share)
        object.__setattr__(self, "share", within_unit(self.share))

    @classmethod
    def _measured(
        cls, first: int, last: int, lower: float, upper: float, count: int, share: float, kind: str
    ) -> Group:
        """A group as a measure formed it, its share the module's double: the same object the
        constructor makes from share_exact, without its checks, as a run forms one for every
        class and the constructor's cost then weighs on short series."""
        group = object.__new__(cls)
        group.__dict__.update(
            first=first,
            last=last,
            lower=lower,
            upper=upper,
            count=count,
            share=within_unit(share),
            kind=kind,
            share_exact=share,
        )
        return group

    def to_dict(self) -> dict[str, Any]:
        return {
            "first": self.first,
            "last": self.last,
            "lower": self.lower,
            "upper": self.upper,
            "count": self.count,
            "share": self.share,
            "kind": self.kind,
            "share_exact": self.share_exact,
        }


def groups_from(
    formed: Iterable[tuple[int, int, int, float, str]], table: npt.NDArray[np.float64]
) -> tuple[Group, ...]:
    """The groups the measure reported, in class order, with their value ranges from the
    boundaries in column 0 of its table. NSCircleLefttoRight reports none."""
    bounds = table[:, 0].tolist()
    return tuple(
        Group._measured(first, last, bounds[first - 1], bounds[last], int(count), share, kind)
        for first, last, count, share, kind in formed
    )
