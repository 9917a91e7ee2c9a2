"""Ties broken at random, so that a tied series of a rank-based measure shares the null of
tie-free series.

A tie across a class boundary changes the class counts, and with them the measure's null:
without more, every tied series would need shuffles of its own values. Ranking the values with
their ties ordered at random gives a tie-free series whose measure has, under exchangeable
values, exactly the null of n distinct values (a uniformly random order of ranks, whatever the
ties were), so its p-value is read from the tables at the cost of one more run. The p-value is
then that of the series with its ties broken (`Significance.tested_value`); the measure's own
value, which `analyze` reports, is unchanged.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from . import engine

# Keys the random orders of tied values, apart from the draws and tie-breaks of a seed.
TIE_ORDER_KEY = 0x7_1EB0


def tie_broken(values: npt.NDArray[np.float64], seed: int) -> npt.NDArray[np.float64]:
    """The ranks 0..n-1 of the values, tied values in an order drawn from the seed (the
    engine's: a radix sort, then each run of equal values shuffled)."""
    return engine.tie_broken(values, seed)


def tie_broken_rows(
    rows: npt.NDArray[np.float64], seed: int, chunk: int
) -> npt.NDArray[np.float64]:
    """The ranks of every row (window) of chunk number `chunk` with its ties in a random
    order, as `tie_broken` gives one series', at once: one stream of random orders for the
    chunk, each row sorted stably from its random order (NumPy's default sort would order the
    ties by the CPU's vector instructions)."""
    width = rows.shape[-1]
    shuffled = _generator(seed, chunk).permuted(
        np.broadcast_to(np.arange(width), rows.shape), axis=-1
    )
    picked = np.take_along_axis(rows, shuffled, axis=-1)
    order = np.take_along_axis(shuffled, np.argsort(picked, axis=-1, kind="stable"), axis=-1)
    ranks = np.empty(rows.shape, dtype=np.float64)
    np.put_along_axis(ranks, order, np.arange(width, dtype=np.float64), axis=-1)
    return ranks


def _generator(seed: int, *more: int) -> np.random.Generator:
    return np.random.default_rng([seed, TIE_ORDER_KEY, *more])
