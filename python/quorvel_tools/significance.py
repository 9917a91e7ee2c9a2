"""permutation_test(): the measure of a series against the same values in random orders."""

from __future__ import annotations

from dataclasses import dataclass
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
    `value` and `null` are the module's exact figures; the repr shows a summary, with the
    value within [0, 1]."""

    method: str
    value: float
    p_value: float
    permutations: int
    seed: int | None
    null: npt.NDArray[np.float64]

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
