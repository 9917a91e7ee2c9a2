"""Matplotlib drawings of running shares and rolling profiles."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np

from .optional import require
from .running import RunningShares

if TYPE_CHECKING:
    from matplotlib.axes import Axes

    from .rolling import RollingProfile


def _axes(ax: Axes | None) -> Axes:
    if ax is not None:
        return ax
    pyplot: Any = require("matplotlib.pyplot", "plotting", "matplotlib")
    _, new_axes = pyplot.subplots(figsize=(9, 5))
    result: Axes = new_axes
    return result


def plot_running_shares(shares: RunningShares, title: str, ax: Axes | None = None) -> Axes:
    """Few classes: one line per class with its band shaded. Many classes: a map of how many
    band half-widths each class's share lies from its final share (|deviation| > 1 is outside)."""
    if shares.shares.shape[1] <= MAX_CLASS_LINES:
        return _class_lines(shares, title, _axes(ax))
    return _deviation_map(shares, title, _axes(ax))


MAX_CLASS_LINES = 10


def _class_lines(shares: RunningShares, title: str, axes: Axes) -> Axes:
    x = shares.labels
    for c in range(shares.shares.shape[1]):
        lower, upper = shares.boundaries[c], shares.boundaries[c + 1]
        (line,) = axes.plot(
            x,
            shares.shares[:, c],
            linewidth=1,
            label=f"({boundary_text(lower)}, {boundary_text(upper)}]",
        )
        axes.fill_between(
            x, shares.lower[:, c], shares.upper[:, c], color=line.get_color(), alpha=0.15
        )
    # The first few positions have bands far wider than the shares; scale to the rest.
    settled = shares.upper[len(x) // 50 :]
    axes.set_ylim(0, min(1.0, float(np.max(settled, initial=0.0)) * 1.2 + 0.01))
    axes.set_xlabel(shares.axis)
    axes.set_ylabel("running share of class")
    axes.set_title(f"{title}: running class shares and their bands")
    axes.legend(fontsize="small", ncol=2, title="class values")
    return axes


def _deviation_map(shares: RunningShares, title: str, axes: Axes) -> Axes:
    half = (shares.upper - shares.lower) / 2
    with np.errstate(divide="ignore", invalid="ignore"):
        deviation = np.where(half > 0, (shares.shares - shares.final) / half, 0.0)
    classes = shares.shares.shape[1]
    image = axes.pcolormesh(
        np.arange(len(shares.positions)),
        np.arange(1, classes + 1),
        deviation.T,
        cmap="RdBu_r",
        vmin=-3,
        vmax=3,
        shading="nearest",
    )
    axes.figure.colorbar(image, ax=axes, label="(share − final share) / band half-width")
    ticks = np.linspace(0, len(shares.positions) - 1, 6).astype(int)
    axes.set_xticks(ticks, _tick_labels(shares.labels[ticks]), fontsize="small")
    step = max(1, classes // 10)
    rows = np.arange(1, classes + 1, step)
    axes.set_yticks(
        rows, [f"≤ {boundary_text(shares.boundaries[c])}" for c in rows], fontsize="small"
    )
    axes.set_xlabel(shares.axis)
    axes.set_ylabel("class (upper boundary)")
    axes.set_title(f"{title}: where each class's running share leaves its band")
    return axes


def boundary_text(value: float) -> str:
    """Every class boundary in one positional notation with three significant digits: 986, 1120,
    0.0123 (not 986 beside 1.12e+03)."""
    return np.format_float_positional(value, precision=3, unique=False, fractional=False, trim="-")


def _tick_labels(labels: Any) -> list[str]:
    if np.asarray(labels).dtype.kind == "M":
        return [str(day) for day in np.datetime_as_string(labels, unit="D")]
    return [str(label) for label in labels]


def plot_profile(
    profile: RollingProfile, ax: Axes | None = None, level: float | None = 0.05
) -> Axes:
    """The measure of each window against the window's end; with p-values, the windows whose
    p-value is at most `level` are ringed (level=None marks none)."""
    axes = _axes(ax)
    (line,) = axes.plot(profile.labels, profile.values, marker=".", linewidth=1)
    if profile.p_values is not None and level is not None:
        marked = profile.p_values <= level
        axes.scatter(
            profile.labels[marked],
            profile.values[marked],
            s=60,
            facecolors="none",
            edgecolors=line.get_color(),
            label=f"p ≤ {level:g} ({profile.null} null)",
        )
        axes.legend(loc="upper right")
    axes.set_ylim(-0.05, 1.05)
    axes.set_xlabel("window end")
    axes.set_ylabel(profile.method)
    axes.set_title(
        f"{profile.method} over windows of {profile.window} values (step {profile.step})"
    )
    return axes
