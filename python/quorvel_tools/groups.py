"""Reading the grouping that each measure reports in columns 3 to 5 of its result table."""

from __future__ import annotations

import itertools
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

GroupKind = Literal["group", "core", "unsettled", "segment"]


@dataclass(frozen=True)
class Group:
    """Classes first..last (1-based), i.e. the values in (lower, upper], merged by a measure.

    kind: "group" a group the measure formed; "core" NSLocaltoGlobal's core group; "unsettled"
    a tail of NSLocaltoGlobal whose classes joined no group; "segment" the stretch between two
    cut marks of NSLocaltoGlobal when its core search found no core (the marks then do not
    separate the classes the search merged from the side group next to them).
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


def read_groups(method: str, table: npt.NDArray[np.float64]) -> tuple[Group, ...]:
    """The groups a measure reports; NSCircleLefttoRight reports none."""
    classes = table.shape[0] - 1
    if method == "NSLefttoRight":
        # A group ends where column 3 holds its boundary or column 4 its count; an empty group
        # ending exactly at boundary 0 cannot be told apart and joins the next one.
        ends = [c for c in range(1, classes + 1) if table[c, 3] != 0 or table[c, 4] != 0]
        return _groups_ending_at(table, ends, "group")
    if method == "NSdichotomy":
        # Empty merged classes are counted with the next one by the measure itself.
        ends = [c for c in range(1, classes + 1) if table[c, 4] != 0]
        return _groups_ending_at(table, ends, "group")
    if method == "NSLocaltoGlobal":
        return _local_to_global_groups(table)
    return ()


def _groups_ending_at(
    table: npt.NDArray[np.float64], ends: list[int], kind: GroupKind
) -> tuple[Group, ...]:
    classes = table.shape[0] - 1
    if not ends or ends[-1] != classes:
        ends = [*ends, classes]
    groups = []
    first = 1
    for last in ends:
        groups.append(_span(table, first, last, kind))
        first = last + 1
    return tuple(groups)


def _span(table: npt.NDArray[np.float64], first: int, last: int, kind: GroupKind) -> Group:
    counts = table[first : last + 1, 1]
    shares = table[first : last + 1, 2]
    return Group(
        first=first,
        last=last,
        lower=float(table[first - 1, 0]),
        upper=float(table[last, 0]),
        count=round(float(counts.sum())),
        share=float(shares.sum()),
        kind=kind,
    )


def _local_to_global_groups(table: npt.NDArray[np.float64]) -> tuple[Group, ...]:
    """Column 3 marks cuts with 1 and the core's boundaries with K; a cleared end mark (0 at
    boundary 0 or K) means that tail failed its band test and joined no group."""
    classes = table.shape[0] - 1
    marks = table[:, 3]
    has_core = classes >= 2 and bool((marks == classes).any())
    core = [i for i in range(classes + 1) if marks[i] == classes] if has_core else []
    # Every boundary of the core carries the mark K; only its two ends cut.
    cuts = [i for i in range(1, classes) if marks[i] != 0 and not (core and core[0] < i < core[-1])]
    edges = [0, *cuts, classes]
    groups = []
    for start, end in itertools.pairwise(edges):
        if start == 0 and marks[0] == 0 or end == classes and marks[classes] == 0:
            kind: GroupKind = "unsettled"
        elif core and (start, end) == (core[0], core[-1]):
            kind = "core"
        else:
            kind = "group" if has_core else "segment"
        groups.append(_span(table, start + 1, end, kind))
    return tuple(groups)
