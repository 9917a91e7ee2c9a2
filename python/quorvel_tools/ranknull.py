"""The null that tie-free series of one length share under null="iid".

With equal-frequency classes and no tie across a class boundary, NSLocaltoGlobal, NSLefttoRight
and NSCircleLefttoRight depend only on the order of the ranks: under exchangeable values their
distribution depends on n and the settings alone. For the data-size number of classes it is read
from the tables shipped with the package (`nulltable`); for other settings it is simulated once
on the batch engine from shuffles of 0..n-1 and kept (`nullstore`). Everything else is tested
against draws of its own values.
"""

from __future__ import annotations

from functools import lru_cache

import numpy as np
import numpy.typing as npt

from . import nullstore
from .config import Config
from .engine import run_draws
from .nullmodels import IID
from .pvalues import NullSample
from .request import Request
from .seeds import SIMULATION_SEED

RANK_BASED: tuple[str, ...] = ("NSLocaltoGlobal", "NSLefttoRight", "NSCircleLefttoRight")
# Below 2^24 values the module's equal-frequency positions are exact in single precision too.
EXACT_COUNTS_BELOW = 2**24


@lru_cache(maxsize=256)
def tie_free_counts(n: int, classes: int) -> npt.NDArray[np.int64]:
    """Class counts of a series without ties: the first n mod K classes hold one value more.
    Kept for the lengths in use, read-only, as every p-value of a series asks for them."""
    q, r = divmod(n, classes)
    counts = np.full(classes, q, dtype=np.int64)
    counts[:r] += 1
    counts.flags.writeable = False
    return counts


def ranks_decide(method: str, config: Config, n: int) -> bool:
    """Whether the measure of n distinct values depends on their ranks alone: a rank-based
    measure with equal-frequency classes, at a length whose class positions are exact."""
    return method in RANK_BASED and config.binning == "equal-frequency" and n < EXACT_COUNTS_BELOW


def rank_null_applies(method: str, config: Config, counts: npt.NDArray[np.int64]) -> bool:
    """Whether the measure's null depends on n and the settings only for this series: the
    ranks decide it, and no tie across a class boundary (the class counts are those of
    distinct values)."""
    n = int(counts.sum())
    return ranks_decide(method, config, n) and np.array_equal(
        counts, tie_free_counts(n, config.classes)
    )


def simulated_null(method: str, n: int, config: Config, request: Request) -> NullSample:
    """The null of a rank-based measure for n tie-free values and these settings, from
    `request.permutations` shuffles of 0..n-1 with a fixed seed: simulated once, then reused."""
    draws = request.permutations
    key = (method, n, config.classes, config.z, config.accept, draws)
    found = nullstore.kept(key)
    if found is None:
        ranks = np.arange(n, dtype=np.float64)
        drawn, _, _ = run_draws(method, ranks, config, request, SIMULATION_SEED, IID)
        found = NullSample.of(drawn)
        nullstore.keep(key, found)
    return found
