"""analyze(): run one measure, or all four, on a series and collect a result object."""

from __future__ import annotations

import math
import warnings
from functools import partial
from typing import Any, Literal, TypeVar, Unpack, overload

import numpy as np
import numpy.typing as npt

from . import notes
from .config import DEFAULT_METHOD, Config
from .engine import run_one
from .groups import groups_from
from .inputs import Series, to_series
from .request import Request, TestSettings, request_of
from .result import Analysis, UnclassifiedValuesWarning
from .significance import significance
from .unclassified import shift_hint

T = TypeVar("T", bound=np.generic)


@overload
def analyze(
    series: Any, *, method: Literal["all"], **settings: Unpack[TestSettings]
) -> dict[str, Analysis]: ...


@overload
def analyze(series: Any, *, method: str = ..., **settings: Unpack[TestSettings]) -> Analysis: ...


def analyze(
    series: Any, *, method: str = DEFAULT_METHOD, **settings: Unpack[TestSettings]
) -> Analysis | dict[str, Analysis]:
    """Measure how far a series departs from stationarity in distribution, with its p-value.

    Parameters
    ----------
    series : array_like, pandas.Series or Series
        The values in time order (a pandas index gives their labels).
    method : str, default "NSLefttoRight"
        A name of `METHODS`, or "all" for the four.
    classes : int or None, default None
        K; None takes it from the series length (the module's setupDS rule).
    z : float, default 1.96
        The band multiplier.
    accept : float, default 0.925845
        The acceptance fraction, above 0 and at most 1.
    binning : {"equal-frequency", "equal-width"}, default "equal-frequency"
    nan_policy : {"raise", "omit"}, default "raise"
        Whether missing values are refused or left out.
    p_values : bool, default True
        Whether to compute the p-value (False skips it).
    null : {"iid", "block"} or NullModel, default "iid"
        The null model: shuffles; or, for series with short-range dependence, the measure
        with its band widened by the series' long-run variance factor against the same null
        (see `nullmodels`).
    permutations : int, default 999
        Draws of a null that is simulated.
    seed : int or None, default None
        The key of the draws and of the tie-break; None takes it from the order of the
        series' values (ranks and ties, not units), so that a series, or any strictly
        increasing transform of it, always gets the same draws and tie-break.
    workers : int or None, default None
        Threads of the engine; None for every core this process may use. A series of 2^19
        values or more is measured on all of them, and a null's draws are spread over them;
        every figure is the same for any number.
    show_progress : bool or None, default None
        A progress bar; None shows one on long runs in a terminal.

    Returns
    -------
    Analysis or dict of str to Analysis
        The result; for method="all" the four, keyed by name.

    Raises
    ------
    ValueError
        A setting outside its meaning, or a series that cannot be analysed.
    TypeError
        Data that is not a series of numbers, or an unknown keyword.

    Notes
    -----
    The p-value (result.p_value; result.significance says how it was found) costs little for
    NSLocaltoGlobal, NSLefttoRight and NSCircleLefttoRight with equal-frequency classes and no
    tie across a class boundary under null="iid": their null depends on n alone and is read
    from shipped tables (the data-size K and default z, accept) or simulated once per length
    and settings from `permutations` shuffles. null="block" adds one run of the measure and
    the band factor (a sort of the values). NSdichotomy, equal-width classes and tied values
    each need `permutations` runs of the measure on this series, on `workers` threads.
    """
    request, _ = request_of("analyze", method, settings, TestSettings)
    results = analyze_request(series, request)
    return results if request.method == "all" else results[request.method]


def analyze_request(series: Any, request: Request) -> dict[str, Analysis]:
    """`analyze` of a built request, by measure name, as the command runs it."""
    clean = to_series(series, request.nan_policy, workers=request.worker_count)
    config = request.config(len(clean.values))
    if len(clean.values) < notes.SHORT_SERIES:
        notes.short(len(clean.values))
    # A loop, not a comprehension: a warning of run() then points at the caller's line.
    results = {}
    for name in request.methods:
        results[name] = run(name, clean, config, request)
    return results


def run(method: str, series: Series, config: Config, request: Request) -> Analysis:
    """One measure on an already checked series, configured by `config`; with its p-value
    if the request asks for one."""
    value, H0, H, table, formed = run_one(method, series.values, config, request.worker_count)
    counts = np.rint(table[1:, 1]).astype(np.int64)
    tested = None
    if math.isnan(value):
        # No shuffle of one class can tell anything: no p-value, and why.
        values = series.values
        notes.undefined(method, bool(values.size) and bool(np.all(values == values[0])))
    elif request.p_values:
        tested = significance(method, series.values, value, counts, config, request)
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
        groups=partial(groups_from, formed, table),
        series=series,
        significance=tested,
        value_exact=value,
        H_exact=H,
        H0_exact=H0,
    )
    if result.unclassified:
        warnings.warn(unclassified_note(result), UnclassifiedValuesWarning, stacklevel=4)
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
