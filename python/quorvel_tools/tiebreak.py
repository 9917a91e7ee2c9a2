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


def tie_broken(
    values: npt.NDArray[np.float64], seed: int, first: int = 0
) -> npt.NDArray[np.float64]:
    """The ranks 0..n-1 of the values, tied values in an order drawn from the seed (the
    engine's: a radix sort, then each run of equal values shuffled). A table of rows
    (windows) is ranked row by row, row r's order from stream first + r of the seed, so that
    rows broken a chunk at a time get the orders they would get all at once."""
    return engine.tie_broken(values, seed, first)
