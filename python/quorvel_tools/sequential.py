"""Monte-Carlo p-values that stop drawing once the answer is plain (Besag and Clifford, 1991).

A series tested against shuffles of its own values draws them in batches and stops as soon as
`HITS` draws lie at or above the observed value (ties broken at random): its p-value is then
HITS / draws used, and a series far from the null's tail stops after a few dozen draws. A
series whose value few draws reach takes all `most` draws and gets (1 + draws above) /
(1 + most), as a fixed number of draws gives. Both are valid p-values: under the null,
P(p <= alpha) <= alpha at every alpha; the stopped ones take the values HITS / L, L >= HITS,
so they are coarser where the p-value is large, which no decision at a usual level needs.

Ties: each draw carries a uniform v and the observed value a uniform u, and a draw equal to the
observed value counts as at or above it when v > u, which makes the values continuous, as the
sequential rule needs, and spreads p over the ties as the fixed-draw tie-break does.
"""

from __future__ import annotations

import math
from collections.abc import Callable
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

# Draws at or above the observed value at which drawing stops: at p = 0.2 about 50 draws.
HITS = 10


@dataclass(frozen=True)
class SequentialP:
    """p_value and the ends of its tie range (p_low with draws equal to the observed value
    counted below it, p_high with them counted at or above), and the draws used."""

    p_value: float
    p_low: float
    p_high: float
    draws: int
    stopped: bool


def next_batch(used: int, reached: int, most: int, hits: int = HITS) -> int:
    """Draws to make next: at first 2 * hits; then about what the hits still missing need at
    the share of draws that reached the observed value so far (at least `hits`, at most what
    is left of `most`)."""
    if used == 0:
        return min(2 * hits, most)
    share = (reached + 1) / (used + 2)
    return min(max(math.ceil(1.1 * (hits - reached) / share), hits), most - used)


def sequential_p_value(
    draw: Callable[[int, int], npt.NDArray[np.float64]],
    observed: float,
    uniform: float,
    ties: np.random.Generator,
    most: int,
    hits: int = HITS,
) -> SequentialP:
    """The p-value of `observed` against draws `draw(batch, size)` made batch by batch, with
    at most `most` draws; `ties` gives each draw its uniform, `uniform` is the observed one."""
    if math.isnan(observed):
        return SequentialP(math.nan, math.nan, math.nan, 0, False)
    used = reached = above = equal = 0
    batch = 0
    while used < most:
        drawn = draw(batch, next_batch(used, reached, most, hits))
        at_tie = drawn == observed
        counts = (drawn > observed) | (at_tie & (ties.random(len(drawn)) > uniform))
        running = reached + np.cumsum(counts)
        if running[-1] >= hits:
            last = int(np.argmax(running >= hits)) + 1
            drawn_above = above + int(np.count_nonzero(drawn[:last] > observed))
            drawn_equal = equal + int(np.count_nonzero(at_tie[:last]))
            size = used + last
            p = hits / size
            return SequentialP(
                p,
                min(p, (drawn_above + 1) / (size + 1)),
                max(p, (drawn_above + drawn_equal + 1) / (size + 1)),
                size,
                True,
            )
        reached = int(running[-1])
        above += int(np.count_nonzero(drawn > observed))
        equal += int(np.count_nonzero(at_tie))
        used += len(drawn)
        batch += 1
    return SequentialP(
        (reached + 1) / (most + 1),
        (above + 1) / (most + 1),
        (above + equal + 1) / (most + 1),
        most,
        False,
    )
