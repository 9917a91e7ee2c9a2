"""PNG files of running class shares or rolling profiles, one panel per series."""

from __future__ import annotations

import itertools
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

import numpy as np

from ..optional import require
from ..plotting import SCALE, plot_profile, plot_running_shares, ring_label
from ..result import Analysis
from ..rolling import RollingProfile
from .errors import UsageError, os_error_text


def save_shares(path: str, results: Mapping[str, Analysis]) -> None:
    figure, axes = _panels(len(results))
    for ax, (name, result) in zip(axes, results.items(), strict=True):
        plot_running_shares(result.running_shares(), f"{result.method} on {name}", ax)
    _save(figure, path)


# Measures often agree window for window; wide solid lines under thin dashed ones keep each seen.
LINE_STYLES = (("-", 3.2), ("--", 2.2), (":", 1.8), ("-.", 1.0))
# The level at which the command rings windows (plot_profile's default).
LEVEL = 0.05
# Profiles this close draw as one line, whatever the last bits of their figures.
SAME = 1e-9


def save_profiles(path: str, profiles: Mapping[str, Sequence[RollingProfile]]) -> None:
    lines_module: Any = require("matplotlib.lines", "--plot", "matplotlib")
    figure, axes = _panels(len(profiles))
    for ax, (name, found) in zip(axes, profiles.items(), strict=True):
        for profile in found:
            plot_profile(profile, ax, LEVEL)
        # One line per profile (the rings are scatter collections, not lines).
        lines = ax.get_lines()
        for line, (style, width) in zip(lines, itertools.cycle(LINE_STYLES)):
            line.set_linestyle(style)
            line.set_linewidth(width)
        handles: list[Any] = list(lines)
        labels = [_legend_entry(p, found) for p in found]
        tested = [p for p in found if p.p_values is not None]
        if tested:
            # The rings of every measure mean the same: one entry, in a neutral colour.
            handles.append(
                lines_module.Line2D(
                    [],
                    [],
                    marker="o",
                    linestyle="none",
                    markersize=8,
                    markerfacecolor="none",
                    markeredgecolor="0.3",
                )
            )
            labels.append(ring_label(tested[0], LEVEL))
        ax.set_ylabel(f"measure\n{SCALE}")
        ax.set_title(f"{name}: windows of {found[0].window} values (step {found[0].step})")
        ax.legend(
            handles,
            labels,
            loc="upper left",
            bbox_to_anchor=(1.01, 1),
            borderaxespad=0,
            fontsize="small",
        )
    _save(figure, path)


def _legend_entry(profile: RollingProfile, found: Sequence[RollingProfile]) -> str:
    same = [
        other.method
        for other in found
        if other is not profile
        and np.allclose(other.values, profile.values, rtol=0, atol=SAME, equal_nan=True)
    ]
    return profile.method + (f" (same as {', '.join(same)})" if same else "")


def check_target(path: str) -> None:
    """Fails before any work is done when the file could not be written: a folder, a format
    matplotlib does not write, or a place where no file can be made."""
    require("matplotlib", "--plot")
    target = Path(path)
    if target.is_dir():
        raise UsageError(f"{path} is a folder; give a file name such as {target / 'plot.png'}")
    if _format(path) not in _formats():
        known = ", ".join(sorted(_formats()))
        raise UsageError(f"cannot write {path}: unknown image format (known: {known})")
    existed = target.exists()
    try:
        with open(target, "ab"):
            pass
    except OSError as error:
        raise UsageError(os_error_text(error, "write", path)) from None
    if not existed:
        target.unlink()


def _panels(count: int) -> tuple[Any, list[Any]]:
    figure_module: Any = require("matplotlib.figure", "--plot", "matplotlib")
    figure = figure_module.Figure(figsize=(10, 4.5 * count), layout="constrained")
    axes = figure.subplots(count, 1, squeeze=False)[:, 0]
    return figure, list(axes)


def _format(path: str) -> str:
    """The image format of a file name; PNG when it has no extension."""
    return Path(path).suffix[1:].lower() or "png"


def _formats() -> set[str]:
    backend: Any = require("matplotlib.backend_bases", "--plot", "matplotlib")
    return set(backend.FigureCanvasBase.get_supported_filetypes())


def _save(figure: Any, path: str) -> None:
    try:
        # The format is given so that a name without extension is written as it was given.
        figure.savefig(path, dpi=100, format=_format(path))
    except OSError as error:
        raise UsageError(os_error_text(error, "write", path)) from None
