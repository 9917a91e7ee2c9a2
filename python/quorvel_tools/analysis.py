"""analyze(): run one measure, or all four, on a series and collect a result object."""

from __future__ import annotations

import math
import warnings
from typing import Any, Literal, TypeVar, overload

import numpy as np
import numpy.typing as npt

from . import notes
from .config import (
    DEFAULT_ACCEPT,
    DEFAULT_BINNING,
    DEFAULT_METHOD,
    DEFAULT_Z,
    METHODS,
    Binning,
    Config,
    check_method,
    resolve,
)
from .engine import run_one
from .groups import groups_from
from .inputs import DEFAULT_NAN_POLICY, NanPolicy, Series, to_series
from .nulls import DEFAULT_NULL, DEFAULT_PERMUTATIONS, Null
from .pvalues import NullOptions, significance
from .result import Analysis, UnclassifiedValuesWarning
from .unclassified import shift_hint

T = TypeVar("T", bound=np.generic)


@overload
def analyze(
    series: Any,
    method: Literal["all"],
    classes: int | None = ...,
    z: float = ...,
    accept: float = ...,
    binning: Binning = ...,
    nan_policy: NanPolicy = ...,
    p_values: bool = ...,
    null: Null = ...,
    permutations: int = ...,
    seed: int | None = ...,
    workers: int | None = ...,
    show_progress: bool | None = ...,
) -> dict[str, Analysis]: ...


@overload
def analyze(
    series: Any,
    method: str = ...,
    classes: int | None = ...,
    z: float = ...,
    accept: float = ...,
    binning: Binning = ...,
    nan_policy: NanPolicy = ...,
    p_values: bool = ...,
    null: Null = ...,
    permutations: int = ...,
    seed: int | None = ...,
    workers: int | None = ...,
    show_progress: bool | None = ...,
) -> Analysis: ...


def analyze(
    series: Any,
    method: str = DEFAULT_METHOD,
    classes: int | None = None,
    z: float = DEFAULT_Z,
    accept: float = DEFAULT_ACCEPT,
    binning: Binning = DEFAULT_BINNING,
    nan_policy: NanPolicy = DEFAULT_NAN_POLICY,
    p_values: bool = True,
    null: Null = DEFAULT_NULL,
    permutations: int = DEFAULT_PERMUTATIONS,
    seed: int | None = None,
    workers: int | None = None,
    show_progress: bool | None = None,
) -> Analysis | dict[str, Analysis]:
    """Measure how far `series` departs from stationarity in distribution, with its p-value.

    classes=None takes K from the series length (the module's setupDS rule); method="all"
    returns the four measures in a dict keyed by name.

    The p-value (result.p_value; result.significance says how it was found) costs little for
    NSLocaltoGlobal, NSLefttoRight and NSCircleLefttoRight with equal-frequency classes and no
    tie across a class boundary under null="iid": their null depends on n alone and is read
    from shipped tables (the data-size K and default z, accept) or simulated once per length
    and settings from `permutations` shuffles. NSdichotomy, equal-width classes, tied values
    and null="block" (block permutations of the series, for series with short-range
    dependence) each need `permutations` runs of the measure on this series, on `workers`
    threads. seed=None takes the seed from the series, so a series always gets the same
    p-value; p_values=False skips it.
    """
    clean = to_series(series, nan_policy)
    config = resolve(len(clean.values), classes, z, accept, binning)
    options = (
        NullOptions.checked(null, permutations, seed, workers, show_progress) if p_values else None
    )
    if method != "all":
        check_method(method)
    if len(clean.values) < notes.SHORT_SERIES:
        notes.short(len(clean.values))
    if method == "all":
        # A loop, not a comprehension: a warning of run() then points at the caller's line.
        results = {}
        for name in METHODS:
            results[name] = run(name, clean, config, options)
        return results
    return run(check_method(method), clean, config, options)


def run(
    method: str, series: Series, config: Config, options: NullOptions | None = None
) -> Analysis:
    """One measure on an already checked series, configured by `config`; with its p-value
    unless `options` is None."""
    value, H0, H, table, formed = run_one(method, series.values, config)
    counts = np.rint(table[1:, 1]).astype(np.int64)
    tested = None
    if math.isnan(value):
        # No shuffle of one class can tell anything: no p-value, and why.
        values = series.values
        notes.undefined(method, bool(values.size) and bool(np.all(values == values[0])))
    elif options is not None:
        tested = significance(method, series.values, value, counts, config, options)
    result = Analysis(
        method=method,
        value=value,
        H=H,
        H0=H0,
        classes=config.classes,
        z=config.z,
        accept=config.accept,
        binning=config.binning,
        n=len(series.values),
        boundaries=_read_only(table[:, 0].copy()),
        counts=_read_only(counts),
        shares=_read_only(table[1:, 2].copy()),
        groups=groups_from(formed, table),
        series=series,
        significance=tested,
        value_exact=value,
        H_exact=H,
        H0_exact=H0,
    )
    if result.unclassified:
        warnings.warn(unclassified_note(result), UnclassifiedValuesWarning, stacklevel=3)
    return result


def unclassified_note(result: Analysis) -> str:
    """Says how many values the measure left out, where they lie and how to bring them in."""
    values, b = result.series.values, result.boundaries
    below = int(np.count_nonzero(values <= min(b[0], b[1])))
    where = []
    if below:
        where.append(
            f"{below} at or below {min(b[0], b[1]):.6g}; the lowest class is "
            f"({b[0]:.6g}, {b[1]:.6g}]"
        )
    if result.unclassified > below:
        above = result.unclassified - below
        where.append(f"{above} above the highest, {b[-1]:.17g}, which rounds below the maximum")
    smallest = float(values.min())
    return (
        f"{result.method}: {result.unclassified} of {result.n} values lie in no class "
        f"({', '.join(where)}), so the measure counts the other "
        f"{result.n - result.unclassified}{shift_hint(smallest) if below else ''}"
    )


def _read_only(array: npt.NDArray[T]) -> npt.NDArray[T]:
    """Results are frozen, their arrays too."""
    array.flags.writeable = False
    return array
