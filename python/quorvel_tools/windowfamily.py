"""The windows of a rolling profile as one family: their p-values adjusted across the profile.

An adjustment over m windows asks p-values as small as alpha k / m of the k windows it calls,
finer than the shipped tables tell (9,999 draws: 1e-4) once a profile has thousands of
windows. So the windows that share the rank null and whose p-value is small are read again
against a null of more draws, simulated once for the window length (`ranknull`): 20 per
window, so that a run of 20 windows as extreme as that null can tell is called, up to
`MOST_VALUES` values drawn in all (400,000 draws of windows of 200 values). Windows with their
own draws keep their p-value: they cost `permutations` runs each already.
"""

from __future__ import annotations

from dataclasses import replace

import numpy as np
import numpy.typing as npt

from .config import Config
from .multiplicity import adjusted
from .ranknull import simulated_null
from .request import Request
from .seeds import seed_for, tie_breaks
from .significance import WindowSignificance

DRAWS_PER_WINDOW = 20
# About 15 s on one core whatever the window's length, once per length and settings: about
# what the p-values of 10^5 windows cost (400,000 draws for windows of 200: docs/verdict.md).
MOST_VALUES = 80_000_000
# Windows above this p-value keep the table's: no adjustment calls them.
READ_AGAIN_BELOW = 0.01
SHARED_SOURCES = ("table", "interpolated", "longest table", "simulated")
# The most draws a shipped table holds: a null of fewer would tell no more.
SHIPPED_DRAWS = 9_999


def family_p_values(
    method: str,
    values: npt.NDArray[np.float64],
    starts: npt.NDArray[np.int64],
    window: int,
    config: Config,
    request: Request,
    tested: WindowSignificance,
) -> npt.NDArray[np.float64]:
    """The windows' p-values adjusted across the profile as `request.adjust` says."""
    p = tested.p_values.p_value.copy()
    if request.adjust == "none":
        return p
    draws = min(MOST_VALUES // window, DRAWS_PER_WINDOW * len(starts))
    again = np.flatnonzero(np.isin(tested.sources, SHARED_SOURCES) & (p <= READ_AGAIN_BELOW))
    if draws > max(request.permutations, SHIPPED_DRAWS) and again.size:
        deep = simulated_null(method, window, config, replace(request, permutations=draws))
        uniform = tie_breaks(seed_for(request.seed, values, method), len(starts))[again]
        p[again] = request.null.read(deep, tested.tested[again], uniform).p_value
    return adjusted(p, request.adjust)
