"""PNG files of running class shares or rolling profiles, one panel per series."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

from ..optional import require
from ..plotting import plot_profile, plot_running_shares
from ..result import Analysis
from ..rolling import RollingProfile
from .errors import UsageError


def save_shares(path: str, results: Mapping[str, Analysis]) -> None:
    figure, axes = _panels(len(results))
    for ax, (name, result) in zip(axes, results.items()):
        plot_running_shares(result.running_shares(), name, ax)
    _save(figure, path)


def save_profiles(path: str, profiles: Mapping[str, Sequence[RollingProfile]]) -> None:
    figure, axes = _panels(len(profiles))
    for ax, (name, found) in zip(axes, profiles.items()):
        for profile in found:
            plot_profile(profile, ax)
        ax.set_ylabel("measure")
        ax.set_title(f"{name}: windows of {found[0].window} values (step {found[0].step})")
        ax.legend([p.method for p in found], fontsize="small")
    _save(figure, path)


def check_target(path: str) -> None:
    """Fails before any work is done when the file could not be written."""
    folder = Path(path).resolve().parent
    if not folder.is_dir():
        raise UsageError(f"cannot write {path}: no folder {folder}")
    require("matplotlib", "--plot")


def _panels(count: int) -> tuple[Any, list[Any]]:
    figure_module: Any = require("matplotlib.figure", "--plot", "matplotlib")
    figure = figure_module.Figure(figsize=(10, 4.5 * count), layout="constrained")
    axes = figure.subplots(count, 1, squeeze=False)[:, 0]
    return figure, list(axes)


def _save(figure: Any, path: str) -> None:
    try:
        figure.savefig(path, dpi=100)
    except (ValueError, OSError) as error:
        raise UsageError(f"cannot write {path}: {error}") from None
