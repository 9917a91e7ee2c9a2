"""analyze(): run one measure, or all four, on a series and collect a result object."""

from __future__ import annotations

from typing import Any, Literal, TypeVar, overload

import numpy as np
import numpy.typing as npt

import quorvel

from .config import DEFAULT_ACCEPT, DEFAULT_Z, METHODS, Binning, Config, check_method, resolve
from .groups import read_groups
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
        estimator = config.estimator()
        return {name: run(estimator, name, clean, config) for name in METHODS}
    return run(config.estimator(), check_method(method), clean, config)


def run(estimator: quorvel.NonStationary, method: str, series: Series, config: Config) -> Analysis:
    """One measure on an already checked series, with an estimator set up with `config`."""
    value = estimator.nsFunc(method, series.values)
    table = estimator.getA()
    return Analysis(
        method=method,
        value=value,
        H=estimator.getH(),
        H0=estimator.getH0(),
        classes=config.classes,
        z=config.z,
        accept=config.accept,
        binning=config.binning,
        n=len(series.values),
        boundaries=_read_only(table[:, 0].copy()),
        counts=_read_only(np.rint(table[1:, 1]).astype(np.int64)),
        shares=_read_only(table[1:, 2].copy()),
        groups=read_groups(method, table),
        series=series,
    )


def _read_only(array: npt.NDArray[T]) -> npt.NDArray[T]:
    """Results are frozen, their arrays too."""
    array.flags.writeable = False
    return array
