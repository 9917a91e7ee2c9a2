"""permutation_test(): the measure of a series against draws of its own values."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Unpack

import numpy as np
import numpy.typing as npt

from . import shown
from .config import DEFAULT_METHOD, check_method
from .engine import run_draws
from .inputs import to_series
from .pvalues import NullSample
from .request import NullSettings, request_of
from .seeds import seed_for, tie_breaks
from .significance import widened

NULL_QUANTILES = (0.5, 0.9, 0.95, 0.99)


@dataclass(frozen=True, eq=False)
class PermutationResult:
    """The measure of a series and its p-value against draws of its own values.

    p_value = (draws above + J) / (1 + permutations), J drawn uniformly from 1 to 1 + draws
    equal to the observed value (ties broken at random, as `Significance.p_value`); p_low and
    p_high are the ends of that range (p_high the conventional, conservative p-value). All
    are NaN when the observed value is NaN; draws whose measure is NaN never count as at or
    above it. `seed` is the seed the draws were made with (taken from the series when none
    was given). `value` and `null_values` are clipped to [0, 1], as every result gives them;
    `value_exact` and `null_values_exact` are the module's doubles, on which the p-value is
    counted. `null` is the null model's name; under null="block", `band_factor` is the
    series' long-run variance factor f and `tested_value` the measure with its band widened
    for f (`dependence.band_multiplier`), whose p-value is given (both None under
    null="iid").
    """

    method: str
    value: float
    p_value: float
    p_low: float
    p_high: float
    permutations: int
    seed: int
    null: str
    null_values: npt.NDArray[np.float64]
    band_factor: float | None = None
    tested_value: float | None = None
    value_exact: float = field(default=math.nan, kw_only=True)
    null_values_exact: npt.NDArray[np.float64] | None = field(default=None, kw_only=True)

    def __post_init__(self) -> None:
        # Built from the module's figures: those are the exact ones, the fields read clipped.
        if math.isnan(self.value_exact):
            object.__setattr__(self, "value_exact", self.value)
        if self.null_values_exact is None:
            object.__setattr__(self, "null_values_exact", self.null_values)
        object.__setattr__(self, "value", shown.within_unit(self.value))
        object.__setattr__(self, "null_values", shown.within_unit_array(self.null_values))

    def __repr__(self) -> str:
        median = self.quantiles()[0.5]
        return (
            f"PermutationResult({self.method}: value={shown.fraction(self.value)}, "
            f"p_value={shown.fraction(self.p_value)}, permutations={self.permutations}, "
            f"seed={self.seed}, null={self.null}, null median={shown.fraction(median)})"
        )

    def quantiles(self) -> dict[float, float]:
        finite = self.null_values[~np.isnan(self.null_values)]
        if finite.size == 0:
            return {q: float("nan") for q in NULL_QUANTILES}
        return {q: float(np.quantile(finite, q)) for q in NULL_QUANTILES}

    def to_dict(self) -> dict[str, Any]:
        return {
            "method": self.method,
            "value": self.value,
            "value_exact": self.value_exact,
            "p_value": self.p_value,
            "p_low": self.p_low,
            "p_high": self.p_high,
            "permutations": self.permutations,
            "seed": self.seed,
            "null": self.null,
            "band_factor": self.band_factor,
            "tested_value": self.tested_value,
            "null_quantiles": {str(q): v for q, v in self.quantiles().items()},
        }


def permutation_test(
    series: Any, *, method: str = DEFAULT_METHOD, **settings: Unpack[NullSettings]
) -> PermutationResult:
    """Test a series against draws of its own values, which keep its distribution and remove
    its order: the stationary reference.

    Parameters
    ----------
    series : array_like, pandas.Series or Series
        The values in time order.
    method : str, default "NSLefttoRight"
        A name of `METHODS`.
    null : {"iid", "block"} or NullModel, default "iid"
        The measure against shuffles; or, for "block", the measure with its band widened by
        the series' long-run variance factor against the same shuffles.
    permutations : int, default 999
        The number of draws.
    seed : int or None, default None
        The key of the draws and of the tie-break; None takes it from the order of the
        series' values, as `analyze` does, so that a series always gets the same result.
        Draw i of a seed is the same on any number of workers: it comes from a SplitMix64
        stream keyed by the seed and i.
    **settings
        classes, z, accept, binning, nan_policy, workers and show_progress, as in `analyze`.

    Returns
    -------
    PermutationResult
        With the same p-value as `analyze` gives against the series' own draws for the same
        seed and settings.

    Raises
    ------
    ValueError
        A setting outside its meaning, or a series that cannot be analysed.
    """
    request, _ = request_of("permutation_test", method, settings, NullSettings)
    check_method(request.method)
    clean = to_series(series, request.nan_policy)
    config = request.config(len(clean.values))
    observed = config.estimator().nsFunc(method, clean.values)
    seed = seed_for(request.seed, clean.values, method)
    model = request.null
    factor, tested = widened(method, clean.values, observed, config, model)
    drawn, _, _ = run_draws(method, clean.values, config, request, seed, model)
    found = model.read(NullSample.of(drawn), np.array([tested]), tie_breaks(seed, 1))
    return PermutationResult(
        method,
        observed,
        float(found.p_value[0]),
        float(found.p_low[0]),
        float(found.p_high[0]),
        request.permutations,
        seed,
        model.name,
        drawn,
        factor,
        None if factor is None else tested,
    )
