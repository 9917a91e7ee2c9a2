"""Plots draw one line per class or window profile; a missing matplotlib gives a clear error."""

import sys

import matplotlib
import numpy as np
import pytest

from quorvel_tools import MissingDependencyError, analyze, rolling

matplotlib.use("Agg")


def test_running_shares_plot_has_a_line_and_band_per_class():
    series = np.random.default_rng(1).normal(size=300).cumsum()
    axes = analyze(series, classes=5).plot()
    assert len(axes.get_lines()) == 5 and len(axes.collections) == 5
    assert axes.get_lines()[0].get_xdata()[-1] == 299


def test_many_classes_are_drawn_as_one_deviation_map():
    series = np.random.default_rng(1).normal(size=800).cumsum()
    axes = analyze(series).plot()
    (mesh,) = axes.collections
    deviation = mesh.get_array()
    assert deviation.size == 27 * 800 and np.abs(deviation).max() > 1


def test_rolling_profile_plot_follows_the_window_ends():
    profile = rolling(np.arange(100.0) % 9, window=40, step=20)
    (line,) = profile.plot().get_lines()
    assert list(line.get_xdata()) == [39, 59, 79, 99]


def test_missing_matplotlib_is_named_with_the_install_command(monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(MissingDependencyError, match="pip install matplotlib"):
        analyze(np.arange(20.0), classes=3).plot()
