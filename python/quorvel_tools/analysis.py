"""analyze(): run one measure, or all four, on a series and collect a result object."""

from __future__ import annotations

from typing import Any, Literal, TypeVar, overload

import numpy as np
import numpy.typing as npt

from .config import DEFAULT_ACCEPT, DEFAULT_Z, METHODS, Binning, Config, check_method, resolve
from .engine import run_one
from .groups import groups_from
from .inputs import NanPolicy, Series, to_series
from .result import Analysis

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
) -> Analysis: ...


def analyze(
    series: Any,
    method: str = "NSLefttoRight",
    classes: int | None = None,
    z: float = DEFAULT_Z,
    accept: float = DEFAULT_ACCEPT,
    binning: Binning = "equal-frequency",
    nan_policy: NanPolicy = "raise",
) -> Analysis | dict[str, Analysis]:
    """Measure how far `series` departs from stationarity in distribution.

    classes=None takes K from the series length (the module's setupDS rule); method="all"
    returns the four measures in a dict keyed by name.
    """
    clean = to_series(series, nan_policy)
    config = resolve(len(clean.values), classes, z, accept, binning)
    if method == "all":
        return {name: run(name, clean, config) for name in METHODS}
    return run(check_method(method), clean, config)


def run(method: str, series: Series, config: Config) -> Analysis:
    """One measure on an already checked series, configured by `config`."""
    value, H0, H, table, formed = run_one(method, series.values, config)
    return Analysis(
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
        counts=_read_only(np.rint(table[1:, 1]).astype(np.int64)),
        shares=_read_only(table[1:, 2].copy()),
        groups=groups_from(formed, table),
        series=series,
    )


def _read_only(array: npt.NDArray[T]) -> npt.NDArray[T]:
    """Results are frozen, their arrays too."""
    array.flags.writeable = False
    return array
