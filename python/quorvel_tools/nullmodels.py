"""The null models a p-value is read against: what each asks, how its reference series are
drawn, when the shared rank null serves it and what it reports.

null="iid" asks whether the order of the values carries information: against it, any
dependence between neighbours counts, a stationary AR(1) series too. Its reference series are
shuffles; for rank-based measures on tie-free equal-frequency classes they are the same for
every series of a length, so their null comes from the shipped tables or one simulation.
null="block" asks whether the distribution drifts beyond what short-range dependence explains:
its reference series are block permutations of the series (blocks of random length, their mean
chosen from the series' autocorrelation), so each series needs its own draws.

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

from .blocks import block_length
from .config import SettingError
from .pvalues import Reading, read_p_values

NullName = Literal["iid", "block"]
DEFAULT_NULL: NullName = "iid"
# Draws of a null simulated for one series or setting: a p-value resolution of 0.001.
DEFAULT_PERMUTATIONS = 999


def _no_length(values: npt.NDArray[np.float64]) -> None:
    return None


@dataclass(frozen=True)
class NullModel:
    """One null model.

    Attributes
    ----------
    name : str
        What `null=` takes and every result reports.
    draw : str
        The kind of draw of the engine's `draws`: "shuffle" or "block".
    source : str
        What `Significance.source` says of a null drawn from the series' own values.
    shares_rank_null : bool
        Whether tie-free series of one length share a null under it (rank-based measures on
        equal-frequency classes), read from the shipped tables or simulated once.
    asks : str
        The question its p-values answer, as the command's help says it.
    length : callable
        The mean block length of the draws for a series, or None where blocks mean nothing.
    read : callable
        How an observed value's p-value is read from a null sample: by default randomised
        within the ties, with p_low and p_high the ends of their range (`pvalues`).
    """

    name: str
    draw: str
    source: str
    shares_rank_null: bool
    asks: str
    length: Callable[[npt.NDArray[np.float64]], float | None] = _no_length
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
    "block",
    "block permutations",
    shares_rank_null=False,
    asks="does the distribution drift beyond what short-range dependence explains "
    "(block permutations of each series: --permutations runs per series)",
    length=block_length,
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
