"""Matplotlib drawings of running shares and rolling profiles."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

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
    """One line per class with its band shaded; lines leaving their band show drift."""
    axes = _axes(ax)
    x = shares.labels
    for c in range(shares.shares.shape[1]):
        lower, upper = shares.boundaries[c], shares.boundaries[c + 1]
        (line,) = axes.plot(
            x, shares.shares[:, c], linewidth=1, label=f"({lower:.3g}, {upper:.3g}]"
        )
        axes.fill_between(
            x, shares.lower[:, c], shares.upper[:, c], color=line.get_color(), alpha=0.15
        )
    axes.set_ylim(0, min(1.0, float(shares.upper.max()) * 1.1 + 0.01))
    axes.set_xlabel("position")
    axes.set_ylabel("running share of class")
    axes.set_title(f"{title}: running class shares and their bands")
    if shares.shares.shape[1] <= 12:
        axes.legend(fontsize="small", ncol=2, title="class values")
    return axes


def plot_profile(profile: RollingProfile, ax: Axes | None = None) -> Axes:
    """The measure of each window against the window's end."""
    axes = _axes(ax)
    axes.plot(profile.labels, profile.values, marker=".", linewidth=1)
    axes.set_ylim(-0.05, 1.05)
    axes.set_xlabel("window end")
    axes.set_ylabel(profile.method)
    axes.set_title(
        f"{profile.method} over windows of {profile.window} values (step {profile.step})"
    )
    return axes
