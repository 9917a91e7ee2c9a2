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
from .seeds import seed_and_distinct, tie_breaks
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
    together: dict[tuple[int, int], list[int]] = {}
    # Whether the shared null serves tie-free series of a length and K, and where their class
    # boundaries fall among the sorted values: one answer for every series of that length.
    shapes: dict[tuple[int, int], tuple[bool, npt.NDArray[np.int64]]] = {}
    seeds: dict[int, int] = {}
    for i, values in enumerate(series):
        if np.isnan(observed[i]):
            continue
        shape = (len(values), configs[i].classes)
        if shape not in shapes:
            counts = tie_free_counts(*shape)
            serves = request.null.shares_rank_null and rank_null_applies(method, configs[i], counts)
            shapes[shape] = serves, np.cumsum(counts)[:-1] - 1
        serves, edges = shapes[shape]
        if serves:
            seed, distinct = (
                (request.seed, None)
                if request.seed is not None
                else (seed_and_distinct(values, method))
            )
            if distinct == len(values) or not _tied_across(values, edges):
                together.setdefault(shape, []).append(i)
                seeds[i] = seed
                continue
        counts = np.rint(run_one(method, values, configs[i])[3][1:, 1]).astype(np.int64)
        found = significance(method, values, float(observed[i]), counts, configs[i], request)
        p[i] = found.p_value
    for (n, classes), members in together.items():
        config = configs[members[0]]
        shared = _shared_null(method, tie_free_counts(n, classes), config, request)
        assert shared is not None
        _, parts, read = shared
        tested = observed[members]
        if request.null.widening is not None:
            tested = np.array(
                [widened(method, series[i], observed[i], config, request.null)[1] for i in members]
            )
        uniform = np.array([tie_breaks(seeds[i], 1)[0] for i in members])
        p[members] = interpolated_p_values(parts, tested, uniform, read).p_value
    return p


def _tied_across(values: npt.NDArray[np.float64], edges: npt.NDArray[np.int64]) -> bool:
    """Whether a value at a class boundary equals the next one up, which makes the module's
    class counts differ from those of distinct values."""
    ordered = np.sort(values)
    return bool(np.any(ordered[edges] == ordered[edges + 1]))
