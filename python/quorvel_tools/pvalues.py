"""p-value arithmetic: a null sample as drawn, and the p-values of observed values against it.

The measures take few distinct values (at n = 100 more than half of all shuffles give exactly 0),
so a p-value that only counted draws at or above the observed value would reject far less often
than its level says. The p-value is therefore randomised within the ties, exactly as a random
tie-break of the ranks: p = (draws above + J) / (draws + 1), J drawn uniformly from 1 to
1 + draws equal. `p_high` is the conventional (conservative) p-value, `p_low` its other end.

Between two tabulated lengths the atoms of the two nulls and those of the length itself sit at
values a rounding or a class count apart, so exact ties never happen there: `read_within`
counts draws within a small width of the observed value in part, as if each value were spread
uniformly over that width, which breaks the ties of nearby atoms as the exact reading breaks
those of one atom.
"""

from __future__ import annotations

import math
from bisect import bisect_right
from collections.abc import Callable
from dataclasses import dataclass
from functools import cached_property, lru_cache
from typing import Any

import numpy as np
import numpy.typing as npt


@dataclass(frozen=True)
class NullSample:
    """A null distribution as drawn: its distinct finite values, ascending, and for each the
    number of draws at or above it. Draws whose measure is NaN count in `draws` only."""

    values: npt.NDArray[np.float64]
    at_or_above: npt.NDArray[np.int64]
    draws: int

    @classmethod
    def of(cls, drawn: npt.NDArray[np.float64]) -> NullSample:
        values, counts = np.unique(drawn[~np.isnan(drawn)], return_counts=True)
        return cls.from_counts(values, counts, len(drawn))

    @classmethod
    def from_counts(
        cls, values: npt.NDArray[np.float64], counts: npt.NDArray[Any], draws: int
    ) -> NullSample:
        at_or_above = np.cumsum(counts[::-1].astype(np.int64))[::-1]
        return cls(values, np.append(at_or_above, 0), draws)

    def above_and_equal(
        self, observed: npt.NDArray[np.float64]
    ) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64]]:
        """Draws strictly above each observed value, and draws equal to it."""
        first = np.searchsorted(self.values, observed, side="left")
        past = np.searchsorted(self.values, observed, side="right")
        at_or_above = self.at_or_above[first]
        above = self.at_or_above[past]
        return above, at_or_above - above

    @cached_property
    def moment_above(self) -> npt.NDArray[np.float64]:
        """For each index j, the sum of count times value over the values from j up (0 past
        the last); kept, as a tabulated null is read for every series of its lengths."""
        counts = self.at_or_above[:-1] - self.at_or_above[1:]
        return np.append(np.cumsum((counts * self.values)[::-1])[::-1], 0.0)

    @cached_property
    def as_lists(self) -> tuple[list[float], list[int], list[float]]:
        """values, at_or_above and moment_above as lists, which one observed value reads
        faster than arrays; kept like moment_above."""
        return self.values.tolist(), self.at_or_above.tolist(), self.moment_above.tolist()


@dataclass(frozen=True)
class PValues:
    """p-values of observed values against a null, with the ends of their tie range."""

    p_value: npt.NDArray[np.float64]
    p_low: npt.NDArray[np.float64]
    p_high: npt.NDArray[np.float64]


def read_p_values(
    sample: NullSample, observed: npt.NDArray[np.float64], uniform: npt.NDArray[np.float64]
) -> PValues:
    """`uniform` in [0, 1) picks where each observed value falls among the draws it ties."""
    above, equal = sample.above_and_equal(observed)
    rank = np.floor(uniform * (equal + 1)) + 1
    scale = sample.draws + 1
    nan = np.isnan(observed)
    return PValues(
        np.where(nan, np.nan, (above + rank) / scale),
        np.where(nan, np.nan, (above + 1) / scale),
        np.where(nan, np.nan, (above + equal + 1) / scale),
    )


Reading = Callable[[NullSample, npt.NDArray[np.float64], npt.NDArray[np.float64]], PValues]


@lru_cache(maxsize=64)
def read_within(width: float) -> Reading:
    """The reading that takes the observed value and every draw as spread uniformly over
    `width`, the observed value's spread placed by `uniform`: a draw v counts
    clip(1 - u - (x - v) / width, 0, 1) for observed x and uniform u, and
    p = (1 + counted) / (draws + 1); p_low and p_high are the ends u = 1 and u = 0."""

    def counted(above: Any, moments: Any, first: Any, past: Any, x: Any, u: Any) -> Any:
        # The draws at or above the spread in full, those inside it in part; arrays or numbers.
        inside = above[first] - above[past]
        moment = moments[first] - moments[past]
        return above[past] + (inside * (1.0 - u) + (moment - inside * x) / width)

    def read(
        sample: NullSample, observed: npt.NDArray[np.float64], uniform: npt.NDArray[np.float64]
    ) -> PValues:
        size = len(observed)
        scale = sample.draws + 1
        if size == 1 and not math.isnan(observed[0]):
            # One series (analyze): the same arithmetic on numbers, which costs a third.
            x, u = float(observed[0]), float(uniform[0])
            values, above, moments = sample.as_lists
            ends = (x + (u - 1.0) * width, x + u * width, x, x + width, x - width, x)
            at = [bisect_right(values, end) for end in ends]
            p, low, high = (
                np.array([(1.0 + counted(above, moments, at[k], at[k + 1], x, v)) / scale])
                for k, v in ((0, u), (2, 1.0), (4, 0.0))
            )
            return PValues(p, low, high)
        # The three readings (u, and the ends u = 1 and u = 0) in one pass over the draws.
        us = np.concatenate((uniform, np.ones(size), np.zeros(size)))
        xs = np.concatenate((observed, observed, observed))
        first = np.searchsorted(sample.values, xs + (us - 1.0) * width, side="right")
        past = np.searchsorted(sample.values, xs + us * width, side="right")
        found = counted(sample.at_or_above, sample.moment_above, first, past, xs, us)
        found = np.where(np.isnan(xs), np.nan, (1.0 + found) / scale)
        return PValues(found[:size], found[size : 2 * size], found[2 * size :])

    return read


def tie_width(classes: int) -> float:
    """The width `read_within` takes between tabulated lengths: a quarter of the smallest step
    a merge makes, 2 log 2 / (K log K) (two classes of share 1/K merged). Nulls of nearby
    lengths place an atom much closer than that to each other; distinct atoms lie apart by
    at least that step."""
    return 0.5 * math.log(2.0) / (classes * math.log(classes)) if classes > 1 else 0.0


def interpolated_p_values(
    parts: list[tuple[NullSample, float]],
    observed: npt.NDArray[np.float64],
    uniform: npt.NDArray[np.float64],
    read: Reading = read_p_values,
) -> PValues:
    """The weighted mean of the p-values against the tabulated lengths around n, each read by
    `read` (one part, weight 1, for a null of this very length)."""
    found = [(read(sample, observed, uniform), weight) for sample, weight in parts]
    names = ("p_value", "p_low", "p_high")
    if len(observed) == 1:
        # One series (analyze): the same sums on numbers, which cost a fraction of those on
        # arrays of one value.
        return PValues(
            *(np.array([sum(float(getattr(p, name)[0]) * w for p, w in found)]) for name in names)
        )
    return PValues(*(sum(getattr(p, name) * w for p, w in found) for name in names))
