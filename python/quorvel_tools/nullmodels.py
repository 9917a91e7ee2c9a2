"""The null models a p-value is read against: what each asks, how its reference series are
drawn, when the shared rank null serves it and what it reports.

null="iid" asks whether the order of the values carries information: against it, any
dependence between neighbours counts, a stationary AR(1) series too. Its reference series are
shuffles; for rank-based measures on tie-free equal-frequency classes they are the same for
every series of a length, so their null comes from the shipped tables or one simulation.
null="block" asks whether the distribution drifts beyond what short-range dependence explains:
the measure is taken with its band widened by the series' long-run variance factor (over a
block of lags that grows slower than n, `dependence`), which lets dependence over a few values
pass and leaves shifts, trends and random walks to count, and it is read against the same
i.i.d. null, so it costs one run more than null="iid".

A new null is one `NullModel` in `NULL_MODELS` here (with, if it draws in a new way, a kind of
draw in the engine's `draws`, src/engine/module.cpp): the public functions, the command's
--null and the p-value code read it from there.
"""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass
from typing import Literal

import numpy as np
import numpy.typing as npt

from .config import SettingError
from .dependence import band_factor
from .pvalues import Reading, read_p_values

NullName = Literal["iid", "block"]
DEFAULT_NULL: NullName = "iid"
# Draws of a null simulated for one series or setting: a p-value resolution of 0.001.
DEFAULT_PERMUTATIONS = 999


@dataclass(frozen=True)
class NullModel:
    """One null model.

    Attributes
    ----------
    name : str
        What `null=` takes and every result reports.
    draw : str
        The kind of draw of the engine's `draws`: "shuffle" for both nulls here.
    source : str
        What `Significance.source` says of a null drawn from the series' own values.
    shares_rank_null : bool
        Whether tie-free series of one length share a null under it (rank-based measures on
        equal-frequency classes), read from the shipped tables or simulated once.
    asks : str
        The question its p-values answer, as the command's help says it.
    widening : callable or None
        The factor f of a series by which the variance of its running proportions is taken
        to exceed that of independent values: the observed measure is the measure with its
        band widened for f (`dependence.band_multiplier`). None tests the measure as it is.
    read : callable
        How an observed value's p-value is read from a null sample: by default randomised
        within the ties, with p_low and p_high the ends of their range (`pvalues`).
    """

    name: str
    draw: str
    source: str
    shares_rank_null: bool
    asks: str
    widening: Callable[[npt.NDArray[np.float64]], float] | None = None
    read: Reading = read_p_values

    def __repr__(self) -> str:
        return f"NullModel({self.name!r})"


IID = NullModel(
    "iid",
    "shuffle",
    "permutations",
    shares_rank_null=True,
    asks="does the order carry information",
)
BLOCK = NullModel(
    "block",
    "shuffle",
    "permutations",
    shares_rank_null=True,
    asks="does the distribution drift beyond what short-range dependence explains "
    "(the band widened by the series' long-run variance; the i.i.d. null)",
    widening=band_factor,
)
NULL_MODELS: dict[str, NullModel] = {model.name: model for model in (IID, BLOCK)}
NULLS: tuple[str, ...] = tuple(NULL_MODELS)


def null_model(null: object) -> NullModel:
    """The model of a name of `NULLS` (or a model itself); raises ValueError for others."""
    if isinstance(null, NullModel):
        return null
    if isinstance(null, str) and null in NULL_MODELS:
        return NULL_MODELS[null]
    names = " or ".join(repr(name) for name in NULL_MODELS)
    raise SettingError("null", f"{{name}} must be {names}, not {null!r}")
