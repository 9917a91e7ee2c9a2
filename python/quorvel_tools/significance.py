"""permutation_test(): the measure of a series against the same values in random orders."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from . import shown
from .config import (
    DEFAULT_ACCEPT,
    DEFAULT_BINNING,
    DEFAULT_METHOD,
    DEFAULT_Z,
    Binning,
    check_integer,
    check_method,
    check_seed,
    resolve,
)
from .engine import check_workers, fresh_seed, run_permutations
from .inputs import DEFAULT_NAN_POLICY, NanPolicy, to_series
from .nulls import DEFAULT_PERMUTATIONS, NullSample, p_values

NULL_QUANTILES = (0.5, 0.9, 0.95, 0.99)


@dataclass(frozen=True, eq=False)
class PermutationResult:
    """p_value = (1 + shuffled values >= observed) / (1 + permutations); NaN when the
    observed value is NaN. Shuffles whose measure is NaN never count as >= observed.
    `value` and `null` are clipped to [0, 1], as every result gives them; `value_exact` and
    `null_exact` are the module's doubles, on which the p-value is counted."""

    method: str
    value: float
    p_value: float
    permutations: int
    seed: int | None
    null: npt.NDArray[np.float64]
    value_exact: float = field(default=math.nan, kw_only=True)
    null_exact: npt.NDArray[np.float64] | None = field(default=None, kw_only=True)

    def __post_init__(self) -> None:
        # Built from the module's figures: those are the exact ones, the fields read clipped.
        if math.isnan(self.value_exact):
            object.__setattr__(self, "value_exact", self.value)
        if self.null_exact is None:
            object.__setattr__(self, "null_exact", self.null)
        object.__setattr__(self, "value", shown.within_unit(self.value))
        object.__setattr__(self, "null", shown.within_unit_array(self.null))

    def __repr__(self) -> str:
        median = self.quantiles()[0.5]
        return (
            f"PermutationResult({self.method}: value={shown.fraction(self.value)}, "
            f"p_value={shown.fraction(self.p_value)}, permutations={self.permutations}, "
            f"seed={self.seed}, null median={shown.fraction(median)})"
        )

    def quantiles(self) -> dict[float, float]:
        finite = self.null[~np.isnan(self.null)]
        if finite.size == 0:
            return {q: float("nan") for q in NULL_QUANTILES}
        return {q: float(np.quantile(finite, q)) for q in NULL_QUANTILES}

    def to_dict(self) -> dict[str, Any]:
        return {
            "method": self.method,
            "value": self.value,
            "value_exact": self.value_exact,
            "p_value": self.p_value,
            "permutations": self.permutations,
            "seed": self.seed,
            "null_quantiles": {str(q): v for q, v in self.quantiles().items()},
        }


def permutation_test(
    series: Any,
    method: str = DEFAULT_METHOD,
    permutations: int = DEFAULT_PERMUTATIONS,
    seed: int | None = None,
    classes: int | None = None,
    z: float = DEFAULT_Z,
    accept: float = DEFAULT_ACCEPT,
    binning: Binning = DEFAULT_BINNING,
    nan_policy: NanPolicy = DEFAULT_NAN_POLICY,
    show_progress: bool | None = None,
    workers: int | None = None,
) -> PermutationResult:
    """Shuffling keeps the distribution and removes any order: the stationary reference.

    Shuffle i of a seed is the same on any number of workers: it comes from a SplitMix64 stream
    keyed by the seed and i. seed=None draws a fresh seed."""
    check_method(method)
    permutations = check_integer("permutations", permutations)
    seed = check_seed(seed)
    clean = to_series(series, nan_policy)
    config = resolve(len(clean.values), classes, z, accept, binning)
    workers = check_workers(workers)
    observed = config.estimator().nsFunc(method, clean.values)
    drawn = fresh_seed() if seed is None else seed
    null, _, _ = run_permutations(
        method, clean.values, permutations, drawn, config, workers, show_progress
    )
    found = p_values(NullSample.of(null), np.array([observed]), np.zeros(1))
    p_value = float(found.p_high[0])
    return PermutationResult(method, observed, p_value, permutations, seed, null)
