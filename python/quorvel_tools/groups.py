"""The groups of adjacent classes that a measure merged, as the measure itself formed them."""

from __future__ import annotations

from collections.abc import Iterable
from dataclasses import dataclass
from typing import Any, Literal, cast

import numpy as np
import numpy.typing as npt

GroupKind = Literal["group", "core", "unsettled", "failed-core"]


@dataclass(frozen=True)
class Group:
    """Classes first..last (1-based), i.e. the values in (lower, upper], merged by a measure.

    kind: "group" a group the measure closed; "core" NSLocaltoGlobal's core group; "unsettled"
    a tail of NSLocaltoGlobal whose classes reached the end of the range without settling (they
    join no group); "failed-core" the middle classes that NSLocaltoGlobal's core search merged
    without settling a core. share is the group's share as the measure summed it.
    """

    first: int
    last: int
    lower: float
    upper: float
    count: int
    share: float
    kind: GroupKind = "group"

    def to_dict(self) -> dict[str, Any]:
        return {
            "first": self.first,
            "last": self.last,
            "lower": self.lower,
            "upper": self.upper,
            "count": self.count,
            "share": self.share,
            "kind": self.kind,
        }


def groups_from(
    formed: Iterable[tuple[int, int, int, float, str]], table: npt.NDArray[np.float64]
) -> tuple[Group, ...]:
    """The groups the measure reported, in class order, with their value ranges from the
    boundaries in column 0 of its table. NSCircleLefttoRight reports none."""
    return tuple(
        Group(
            first=first,
            last=last,
            lower=float(table[first - 1, 0]),
            upper=float(table[last, 0]),
            count=int(count),
            share=float(share),
            kind=cast(GroupKind, kind),
        )
        for first, last, count, share, kind in formed
    )
