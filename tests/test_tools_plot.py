"""Plots draw one line per class or window profile; a missing matplotlib gives a clear error."""

import sys

import matplotlib
import numpy as np
import pandas as pd
import pytest

from quorvel_tools import METHODS, MissingDependencyError, analyze, rolling

matplotlib.use("Agg")


def test_running_shares_plot_has_a_line_and_band_per_class():
    series = np.random.default_rng(1).normal(size=300).cumsum()
    axes = analyze(series, classes=5, binning="equal-width").plot()
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


def test_rolling_plot_rings_the_windows_below_the_level():
    series = np.random.default_rng(3).normal(size=600)
    series[300:] += 2
    profile = rolling(series, window=200, step=50, p_values=True)
    (rings,) = profile.plot(level=0.01).collections
    marked = profile.p_values <= 0.01
    assert 0 < marked.sum() < len(marked)
    assert np.array_equal(rings.get_offsets()[:, 0], profile.labels[marked])
    assert not profile.plot(level=None).collections


def test_missing_matplotlib_is_named_with_the_install_command(monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(MissingDependencyError, match="pip install matplotlib"):
        analyze(np.arange(20.0), classes=3).plot()


def test_plots_name_the_series_label_their_axis_and_write_boundaries_alike():
    index = pd.date_range("2024-01-01", periods=300, name="day")
    series = pd.Series(np.linspace(900, 1500, 300), index=index, name="close")
    axes = analyze(series, classes=5).plot()
    assert axes.get_title() == "NSLefttoRight on close: running class shares and their bands"
    assert axes.get_xlabel() == "day"
    legend = [text.get_text() for text in axes.get_legend().get_texts()]
    assert legend[1] == "(1020, 1140]" and all("e+" not in label for label in legend)
    many = analyze(pd.Series(series.to_numpy(), index=index.rename(None)), classes=27).plot()
    assert many.get_xlabel() == "date"
    assert all("e+" not in tick.get_text() for tick in many.get_yticklabels())


def test_profiles_that_coincide_stay_visible_and_say_so(tmp_path, monkeypatch):
    from quorvel_tools.cli import figures

    methods = ("NSLefttoRight", "NSCircleLefttoRight", "NSdichotomy")
    found = [rolling(np.arange(300.0), 100, step=20, method=method) for method in methods]
    captured = {}
    monkeypatch.setattr(figures, "_save", lambda figure, path: captured.update(figure=figure))
    figures.save_profiles(str(tmp_path / "p.png"), {"walk": found})
    axes = captured["figure"].axes[0]
    styles = {(line.get_linestyle(), line.get_linewidth()) for line in axes.get_lines()}
    assert len(styles) == 3
    legend = [text.get_text() for text in axes.get_legend().get_texts()]
    assert legend == [
        "NSLefttoRight (same as NSCircleLefttoRight)",
        "NSCircleLefttoRight (same as NSLefttoRight)",
        "NSdichotomy",
    ]


def legend_of(axes):
    legend = axes.get_legend()
    return legend, [text.get_text() for text in legend.get_texts()]


def beside(axes):
    """The legend lies right of the axes, so it covers none of the values."""
    axes.figure.canvas.draw()
    legend = axes.get_legend().get_window_extent()
    return legend.x0 >= axes.get_window_extent().x1


def test_profile_legends_name_every_line_and_the_rings_beside_the_axes(tmp_path, monkeypatch):
    from quorvel_tools.cli import figures

    series = np.random.default_rng(3).normal(size=600)
    series[300:] += 2
    found = [rolling(series, 200, step=50, method=method, p_values=True) for method in METHODS]
    captured = {}
    monkeypatch.setattr(figures, "_save", lambda figure, path: captured.update(figure=figure))
    figures.save_profiles(str(tmp_path / "p.png"), {"shift": found})
    axes = captured["figure"].axes[0]
    legend, texts = legend_of(axes)
    ring = "q (fdr) ≤ 0.05 across 9 windows (iid null)"
    assert [text.split(" (same")[0] for text in texts] == [*METHODS, ring]
    drawn = [(line.get_color(), line.get_linestyle()) for line in axes.get_lines()]
    assert [(h.get_color(), h.get_linestyle()) for h in legend.legend_handles[:4]] == drawn
    assert legend.legend_handles[4].get_marker() == "o" and beside(axes)
    assert "0 = settles, 1 = drifts" in axes.get_ylabel()
    single = found[1].plot()
    assert legend_of(single)[1] == ["NSLefttoRight", ring] and beside(single)
    plain = rolling(series, 200, step=50, p_values=True, adjust="none").plot()
    assert legend_of(plain)[1] == ["NSLefttoRight", "p ≤ 0.05, not adjusted (iid null)"]
    assert single.get_ylabel() == "NSLefttoRight\n0 = settles, 1 = drifts"


def test_share_plots_stay_readable_on_tied_and_annual_data():
    # Integers 0..4 with K = 11: six classes (b, b] are empty and the five others share a band.
    tied = analyze(np.arange(100.0) % 5, classes=11, p_values=False).plot()
    legend, texts = legend_of(tied)
    assert len(tied.get_lines()) == 5 and len(tied.collections) == 1
    assert legend.get_title().get_text() == "class values (6 empty not drawn)"
    assert texts[-1] == "band of 5 classes"
    years = pd.Series(
        np.random.default_rng(0).normal(size=100).cumsum(),
        index=pd.date_range("1871-01-01", periods=100, freq="YS"),
        name="flow",
    )
    axes = analyze(years, classes=20).plot()
    assert axes.get_title().startswith("NSLefttoRight on flow: ")
    assert [tick.get_text() for tick in axes.get_xticklabels()][:2] == ["1871", "1890"]
    (colour_bar,) = [a for a in axes.figure.axes if a is not axes]
    assert "beyond ±1 the share is outside its band" in colour_bar.get_ylabel()
