"""rolling(): the measure over sliding windows of a series."""

from __future__ import annotations

import math
import warnings
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Unpack

import numpy as np
import numpy.typing as npt

from . import shown
from .config import DEFAULT_METHOD, check_integer, check_method
from .engine import run_windows
from .inputs import to_series
from .labels import label_text
from .request import Request, WindowSettings, request_of
from .result import UnclassifiedValuesWarning
from .significance import window_significance
from .unclassified import shift_hint, unclassified_counts
from .windowfamily import family_p_values

if TYPE_CHECKING:
    import pandas as pd
    from matplotlib.axes import Axes


@dataclass(frozen=True, eq=False)
class RollingProfile:
    """values[i] is the measure of the window ending at position ends[i] (inclusive, 0-based,
    counted in the input, omitted missing values included); labels[i] is that position's index
    label (the position itself for unlabelled input). `values` are clipped to [0, 1];
    `values_exact` are the module's doubles to the last bit. unclassified[i] counts the values
    of window i that lie in no class (see Analysis.unclassified); the measure leaves them out.
    With p-values, p_values[i] is window i's (drawn within ties, as Significance.p_value),
    sources[i] the null it came from and adjusted[i] its p-value adjusted across the windows
    as `adjust` says ("fdr": its q-value; "holm"; "none": p_values); otherwise all are None."""

    method: str
    window: int
    step: int
    classes: int
    ends: npt.NDArray[np.int64]
    labels: npt.NDArray[Any]
    values: npt.NDArray[np.float64]
    p_values: npt.NDArray[np.float64] | None = None
    null: str | None = None
    sources: tuple[str, ...] | None = None
    values_exact: npt.NDArray[np.float64] | None = field(default=None, kw_only=True)
    unclassified: npt.NDArray[np.int64] | None = field(default=None, kw_only=True)
    adjusted: npt.NDArray[np.float64] | None = field(default=None, kw_only=True)
    adjust: str | None = field(default=None, kw_only=True)

    def __post_init__(self) -> None:
        # Built from the module's figures: those are the exact ones, `values` reads clipped.
        if self.values_exact is None:
            object.__setattr__(self, "values_exact", self.values)
        object.__setattr__(self, "values", shown.within_unit_array(self.values))

    def __repr__(self) -> str:
        span = ""
        if len(self.ends):
            span = f", ends {label_text(self.labels[0])} to {label_text(self.labels[-1])}"
        finite = self.values[~np.isnan(self.values)]
        low, high = (finite.min(), finite.max()) if finite.size else (math.nan, math.nan)
        tested = ""
        if self.p_values is not None:
            below = int(np.count_nonzero(self.p_values <= 0.05))
            tested = f", {below} with p <= 0.05 ({self.null} null)"
            if self.adjusted is not None and self.adjust != "none":
                called = int(np.count_nonzero(self.adjusted <= 0.05))
                tested += f", {called} at {self.adjust} <= 0.05 across windows"
        if self.unclassified is not None and self.unclassified.any():
            tested += f", {np.count_nonzero(self.unclassified)} with values in no class"
        return (
            f"RollingProfile({self.method}: {len(self.values)} windows of {self.window} values, "
            f"step {self.step}, K={self.classes}{span}, "
            f"values {shown.fraction(low)} to {shown.fraction(high)}{tested})"
        )

    def to_frame(self) -> pd.DataFrame:
        """One row per window, by its label: end, the measure, p_value when asked for and, when
        some window has values in no class, their count per window (`unclassified`)."""
        from .optional import require

        pandas = require("pandas", "to_frame()")
        columns: dict[str, Any] = {"end": self.ends, self.method: self.values}
        if self.p_values is not None:
            columns["p_value"] = self.p_values
            columns["p_adjusted"] = self.adjusted
        if self.unclassified is not None and self.unclassified.any():
            columns["unclassified"] = self.unclassified
        frame: pd.DataFrame = pandas.DataFrame(columns, index=self.labels)
        return frame

    def plot(self, ax: Axes | None = None, level: float | None = 0.05) -> Axes:
        """The profile; with p-values, windows whose p-value adjusted across the profile
        (`adjusted`) is at most `level` are ringed."""
        from .plotting import plot_profile

        return plot_profile(self, ax, level)


def rolling(
    series: Any, window: int, *, method: str = DEFAULT_METHOD, **settings: Unpack[WindowSettings]
) -> RollingProfile:
    """The measure over sliding windows of a series, with their p-values if asked.

    The windows are measured by the batch engine on `workers` threads; the figures are the
    module's, whatever the number of workers.

    Parameters
    ----------
    series : array_like, pandas.Series or Series
        The values in time order.
    window : int
        The values in each window (positional: with the series it is the data measured).
    method : str, default "NSLefttoRight"
        A name of `METHODS`.
    step : int, default 1
        Positions between the starts of consecutive windows.
    p_values : bool, default False
        Whether to add each window's p-value, and its p-value adjusted across the windows.
    adjust : {"fdr", "holm", "none"}, default "fdr"
        The adjustment across windows (`adjusted`, what `plot` rings): "fdr" gives q-values
        (Benjamini-Hochberg), which on a profile of noise ring any window with chance at most
        the level and ring a change that many overlapping windows span; "holm" bounds the
        chance of any false ring under any dependence, which over many windows asks more than
        one change of the series gives; "none" rings every window at p <= level.
    **settings
        classes (None takes K from the window length), z, accept, binning, nan_policy, null,
        permutations, seed, workers and show_progress, as in `analyze`.

    Returns
    -------
    RollingProfile

    Raises
    ------
    ValueError
        A setting outside its meaning, or a window longer than the series.

    Notes
    -----
    Under null="iid" every tie-free window of a rank-based measure shares one null (a table
    lookup, or one simulation of `permutations` shuffles), which costs next to nothing, and
    so does every tie-free window under null="block", which adds one run and the band factor
    per window; windows with ties across a class boundary, NSdichotomy and equal-width
    classes cost `permutations` runs per window.
    """
    request, own = request_of("rolling", method, settings, WindowSettings, p_values=False)
    return rolling_request(series, window, own.get("step", 1), request)


def rolling_request(series: Any, window: int, step: int, request: Request) -> RollingProfile:
    """`rolling` of a built request, as the command runs it."""
    method = check_method(request.method)  # one measure at a time: "all" is refused as unknown
    window = check_integer("window", window)
    step = check_integer("step", step)
    clean = to_series(series, request.nan_policy)
    n = len(clean.values)
    if window > n:
        raise ValueError(f"the window ({window} values) is longer than the series ({n} values)")
    config = request.config(window)
    starts = np.arange(0, n - window + 1, step, dtype=np.int64)
    values, _, _ = run_windows(method, clean.values, starts, window, config, request)
    last = starts + window - 1
    # Positions in the input, so that omitted missing values do not shift them.
    ends = clean.position_of(last)
    labels = np.asarray(ends if clean.labels is None else clean.labels[last])
    outside = unclassified_counts(
        method, clean.values, starts, window, config.classes, config.binning
    )
    if outside.any():
        note = windows_note(method, outside, window, float(clean.values.min()))
        warnings.warn(
            UnclassifiedValuesWarning(f"{note} (counted in RollingProfile.unclassified)"),
            stacklevel=2,
        )
    if not request.p_values:
        return RollingProfile(
            method, window, step, config.classes, ends, labels, values, unclassified=outside
        )
    tested = window_significance(
        method, clean.values, starts, window, values, config, request, outside
    )
    return RollingProfile(
        method,
        window,
        step,
        config.classes,
        ends,
        labels,
        values,
        tested.p_values.p_value,
        request.null.name,
        tested.sources,
        unclassified=outside,
        adjusted=family_p_values(method, clean.values, starts, window, config, request, tested),
        adjust=request.adjust,
    )


def windows_note(method: str, outside: npt.NDArray[np.int64], window: int, smallest: float) -> str:
    """Says how many windows have values the measure left out."""
    return (
        f"{method}: {np.count_nonzero(outside)} of {len(outside)} windows have values in no "
        f"class (up to {int(outside.max())} of {window}, which the measure leaves out)"
        f"{shift_hint(smallest)}"
    )
