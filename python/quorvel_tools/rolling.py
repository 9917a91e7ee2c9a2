"""rolling(): the measure over sliding windows of a series."""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from .config import DEFAULT_ACCEPT, DEFAULT_Z, Binning, check_method, check_positive_int, resolve
from .inputs import NanPolicy, to_series
from .progress import progress

if TYPE_CHECKING:
    import pandas as pd
    from matplotlib.axes import Axes


@dataclass(frozen=True, eq=False)
class RollingProfile:
    """values[i] is the measure of the window ending at position ends[i] (inclusive, 0-based);
    labels[i] is that position's index label (the position itself for unlabelled input)."""

    method: str
    window: int
    step: int
    classes: int
    ends: npt.NDArray[np.int64]
    labels: npt.NDArray[Any]
    values: npt.NDArray[np.float64]

    def to_frame(self) -> pd.DataFrame:
        from .optional import require

        pandas = require("pandas", "to_frame()")
        frame: pd.DataFrame = pandas.DataFrame(
            {"end": self.ends, self.method: self.values}, index=self.labels
        )
        return frame

    def plot(self, ax: Axes | None = None) -> Axes:
        from .plotting import plot_profile

        return plot_profile(self, ax)


def rolling(
    series: Any,
    window: int,
    step: int = 1,
    method: str = "NSLefttoRight",
    classes: int | None = None,
    z: float = DEFAULT_Z,
    accept: float = DEFAULT_ACCEPT,
    binning: Binning = "equal-frequency",
    nan_policy: NanPolicy = "raise",
    show_progress: bool | None = None,
) -> RollingProfile:
    """classes=None takes K from the window length. The series is handed to the module once;
    each window is then a range of it, so no Python work is done per value."""
    check_method(method)
    clean = to_series(series, nan_policy)
    n = len(clean.values)
    check_positive_int("window", window)
    check_positive_int("step", step)
    if window > n:
        raise ValueError(f"the window ({window} values) is longer than the series ({n} values)")
    config = resolve(window, classes, z, accept, binning)
    estimator = config.estimator()
    estimator.data = clean.values
    starts = range(0, n - window + 1, step)
    values = np.empty(len(starts))
    for i, start in enumerate(progress(starts, len(starts), f"{method} windows", show_progress)):
        values[i] = estimator.nsFuncRange(method, start, start + window)
    ends = np.asarray(starts, dtype=np.int64) + window - 1
    labels = ends if clean.labels is None else clean.labels[ends]
    return RollingProfile(method, window, step, config.classes, ends, np.asarray(labels), values)
