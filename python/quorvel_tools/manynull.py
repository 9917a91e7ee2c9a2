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
from .seeds import seed_for, tie_breaks
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
    for i, values in enumerate(series):
        if np.isnan(observed[i]):
            continue
        counts = _counts_if_untied(values, configs[i].classes)
        if (
            counts is not None
            and request.null.shares_rank_null
            and rank_null_applies(method, configs[i], counts)
        ):
            together.setdefault((len(values), configs[i].classes), []).append(i)
            continue
        counts = np.rint(run_one(method, values, configs[i])[3][1:, 1]).astype(np.int64)
        found = significance(method, values, float(observed[i]), counts, configs[i], request)
        p[i] = found.p_value
    for (n, classes), members in together.items():
        config = configs[members[0]]
        shared = _shared_null(method, tie_free_counts(n, classes), config, request)
        assert shared is not None
        _, parts, read = shared
        tested = np.array(
            [
                widened(method, series[i], float(observed[i]), config, request.null)[1]
                for i in members
            ]
        )
        uniform = np.array(
            [tie_breaks(seed_for(request.seed, series[i], method), 1)[0] for i in members]
        )
        p[members] = interpolated_p_values(parts, tested, uniform, read).p_value
    return p


def _counts_if_untied(
    values: npt.NDArray[np.float64], classes: int
) -> npt.NDArray[np.int64] | None:
    """The class counts of distinct values, where no tie crosses a class boundary (so that
    the module's counts are those); None otherwise."""
    counts = tie_free_counts(len(values), classes)
    ordered = np.sort(values)
    edges = np.cumsum(counts)[:-1] - 1
    if np.any(ordered[edges] == ordered[edges + 1]):
        return None
    return counts
