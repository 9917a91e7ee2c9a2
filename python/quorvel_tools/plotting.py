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
    # Constrained layout keeps a legend placed beside the axes inside the figure.
    _, new_axes = pyplot.subplots(figsize=(9, 5), layout="constrained")
    result: Axes = new_axes
    return result


def plot_running_shares(shares: RunningShares, title: str, ax: Axes | None = None) -> Axes:
    """Few classes: one line per class with its band. Many classes: a map of how many band
    half-widths each class's share lies from its final share (|deviation| > 1 is outside).
    Empty classes (coinciding boundaries, as on tied data) are not drawn as lines: their share
    is 0 throughout, and the legend says how many there are."""
    if np.count_nonzero(shares.final > 0) <= MAX_CLASS_LINES:
        return _class_lines(shares, title, _axes(ax))
    return _deviation_map(shares, title, _axes(ax))


MAX_CLASS_LINES = 10


def _class_lines(shares: RunningShares, title: str, axes: Axes) -> Axes:
    colors: Any = require("matplotlib.colors", "plotting", "matplotlib")
    to_rgba = colors.to_rgba
    x = shares.labels
    drawn = np.flatnonzero(shares.final > 0)
    colour = {}
    for c in drawn:
        lower, upper = shares.boundaries[c], shares.boundaries[c + 1]
        (line,) = axes.plot(
            x,
            shares.shares[:, c],
            linewidth=1,
            label=f"({boundary_text(lower)}, {boundary_text(upper)}]",
        )
        colour[c] = to_rgba(line.get_color())
    # Classes of the same final share have the same band: it is drawn once, in grey, and said
    # so, where shading each would pile them into one mass of no colour.
    bands = np.unique(shares.final[drawn])
    # Many overlapping shadings add up to an opaque mass; their edges keep each band apart.
    shade = min(0.12, 0.5 / len(bands)) if len(bands) else 0.12
    for final in bands:
        alike = drawn[shares.final[drawn] == final]
        red, green, blue, _ = colour[alike[0]] if len(alike) == 1 else (0.4, 0.4, 0.4, 1.0)
        axes.fill_between(
            x,
            shares.lower[:, alike[0]],
            shares.upper[:, alike[0]],
            facecolor=(red, green, blue, shade),
            edgecolor=(red, green, blue, 0.6),
            linewidth=0.6,
            label="_band" if len(alike) == 1 else f"band of {len(alike)} classes",
        )
    # The first few positions have bands far wider than the shares; scale to the rest.
    settled = shares.upper[len(x) // 50 :]
    axes.set_ylim(0, min(1.0, float(np.max(settled, initial=0.0)) * 1.2 + 0.01))
    axes.set_xlabel(shares.axis)
    axes.set_ylabel("running share of class")
    axes.set_title(f"{title}: running class shares and their bands")
    empty = len(shares.final) - len(drawn)
    heading = "class values" if not empty else f"class values ({empty} empty not drawn)"
    axes.legend(fontsize="small", ncol=2, title=heading)
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
    axes.figure.colorbar(
        image,
        ax=axes,
        label="running share − final share, in band half-widths\n"
        "red above, blue below; beyond ±1 the share is outside its band",
    )
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
    """Dates only as fine as the labels need: 1871 for annual data, 1871-03 for monthly."""
    dates = np.asarray(labels)
    if dates.dtype.kind != "M":
        return [str(label) for label in labels]
    for unit in ("Y", "M", "D", "m", "s"):
        if np.all(dates.astype(f"datetime64[{unit}]") == dates):
            return [str(text).replace("T", " ") for text in np.datetime_as_string(dates, unit)]
    return [str(text).replace("T", " ") for text in np.datetime_as_string(dates)]


def plot_profile(
    profile: RollingProfile, ax: Axes | None = None, level: float | None = 0.05
) -> Axes:
    """The measure of each window against the window's end; with p-values, the windows whose
    p-value is at most `level` are ringed (level=None marks none). The legend sits beside the
    axes, where it covers none of the values (which often lie at 1)."""
    axes = _axes(ax)
    (line,) = axes.plot(
        profile.labels, profile.values, marker=".", linewidth=1, label=profile.method
    )
    if profile.p_values is not None and level is not None:
        read = profile.p_values if profile.adjusted is None else profile.adjusted
        marked = read <= level
        axes.scatter(
            profile.labels[marked],
            profile.values[marked],
            s=60,
            facecolors="none",
            edgecolors=line.get_color(),
            label=ring_label(profile, level),
        )
    axes.legend(loc="upper left", bbox_to_anchor=(1.01, 1), borderaxespad=0, fontsize="small")
    axes.set_ylim(-0.05, 1.05)
    axes.set_xlabel("window end")
    axes.set_ylabel(f"{profile.method}\n{SCALE}")
    axes.set_title(
        f"{profile.method} over windows of {profile.window} values (step {profile.step})"
    )
    return axes


SCALE = "0 = settles, 1 = drifts"


def ring_label(profile: RollingProfile, level: float) -> str:
    """What a ring says: the p-value, adjusted across how many windows and how."""
    if profile.adjusted is None or profile.adjust in (None, "none"):
        return f"p ≤ {level:g}, not adjusted ({profile.null} null)"
    name = "q (fdr)" if profile.adjust == "fdr" else "Holm-adjusted p"
    return f"{name} ≤ {level:g} across {len(profile.values):,} windows ({profile.null} null)"
