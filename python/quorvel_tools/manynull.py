"""The p-values of analyze_many: each series' own, as analyze() gives it, with one reading of
the shared null for every series of one length and class counts."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from .config import Config
from .engine import run_one
from .pvalues import interpolated_p_values
from .ranknull import rank_null_applies, tie_free_counts
from .request import Request
from .seeds import pattern_seed, tie_breaks
from .significance import _shared_null, significance, widened


def batch_p_values(
    method: str,
    series: list[npt.NDArray[np.float64]],
    observed: npt.NDArray[np.float64],
    configs: list[Config],
    request: Request,
) -> npt.NDArray[np.float64]:
    """The p-value of every series' measure (NaN where the measure is undefined): the series
    the shared rank null serves are read against it together, length by length; the others
    each get their own draws, as analyze() draws them."""
    p = np.full(len(series), np.nan)
    candidates: dict[tuple[int, int], list[int]] = {}
    for i, values in enumerate(series):
        if np.isnan(observed[i]):
            continue
        shape = (len(values), configs[i].classes)
        candidates.setdefault(shape, []).append(i)
    for (n, classes), members in candidates.items():
        config = configs[members[0]]
        counts = tie_free_counts(n, classes)
        shared = None
        if request.null.shares_rank_null and rank_null_applies(method, config, counts):
            shared = _shared_null(method, counts, config, request)
        served: list[int] = []
        seeds: list[int] = []
        if shared is not None:
            served, seeds = _untied(method, series, members, counts, request)
        own = set(members) - set(served)
        for i in (i for i in members if i in own):
            counts_i = np.rint(run_one(method, series[i], configs[i])[3][1:, 1]).astype(np.int64)
            found = significance(
                method, series[i], float(observed[i]), counts_i, configs[i], request
            )
            p[i] = found.p_value
        if not served:
            continue
        assert shared is not None
        _, parts, read = shared
        tested = observed[served]
        if request.null.widening is not None:
            tested = np.array(
                [widened(method, series[i], observed[i], config, request.null)[1] for i in served]
            )
        uniform = np.array([tie_breaks(seed, 1)[0] for seed in seeds])
        p[served] = interpolated_p_values(parts, tested, uniform, read).p_value
    return p


def _untied(
    method: str,
    series: list[npt.NDArray[np.float64]],
    members: list[int],
    counts: npt.NDArray[np.int64],
    request: Request,
) -> tuple[list[int], list[int]]:
    """The members (series of one length) whose class counts are those of distinct values, so
    that the shared null serves them, with the seed of each: the one given, else the series'
    pattern of rises and falls (`pattern_seed`)."""
    edges = np.cumsum(counts)[:-1] - 1
    served: list[int] = []
    seeds: list[int] = []
    for i in members:
        if not _tied_across(series[i], edges):
            served.append(i)
            seeds.append(pattern_seed(series[i], method) if request.seed is None else request.seed)
    return served, seeds


def _tied_across(values: npt.NDArray[np.float64], edges: npt.NDArray[np.int64]) -> bool:
    """Whether a value at a class boundary equals the next one up, which makes the module's
    class counts differ from those of distinct values."""
    ordered = np.sort(values)
    return bool(np.any(ordered[edges] == ordered[edges + 1]))
