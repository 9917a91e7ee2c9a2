"""The combined test: its min-p arithmetic on hand-built draws, its family, its two kinds of
draws, and what it says of series whose answer is known."""

import math
from pathlib import Path

import numpy as np
import pytest

from quorvel_tools import analyze, verdict
from quorvel_tools.config import resolve
from quorvel_tools.verdict import family_of, family_p_values


def test_min_p_is_read_among_the_pooled_vectors():
    # Counts at or above, among the 4 vectors: column 0 gives 1, 4, 2, 4; column 1 gives
    # 4, 4, 1, 2. Min-p counts: observed 1, draws 4, 1, 2: one draw ties, none is smaller.
    observed = np.array([1.0, 0.0])
    drawn = np.array([[0.0, 0.0], [0.5, 1.0], [0.0, 0.5]])
    for u, expected in ((0.0, 0.25), (0.49, 0.25), (0.5, 0.5), (0.99, 0.5)):
        p, components = family_p_values(observed, drawn, np.array([u]))
        assert (p.p_value[0], p.p_low[0], p.p_high[0]) == (expected, 0.25, 0.5)
        assert components.tolist() == [0.25, 1.0]
    # A draw whose measure is undefined counts below every value.
    p, components = family_p_values(np.array([0.0]), np.array([[np.nan], [0.0]]), np.zeros(1))
    assert components.tolist() == [2 / 3] and p.p_high[0] == 2 / 3


def test_family_is_every_measure_at_few_and_many_classes_within_the_length():
    config = resolve(100, None, 1.96, 0.925845, "equal-frequency")
    assert family_of(100, config) == [
        ("NSLocaltoGlobal", 3),
        ("NSLocaltoGlobal", 6),
        ("NSLocaltoGlobal", 11),
        ("NSLefttoRight", 3),
        ("NSLefttoRight", 6),
        ("NSLefttoRight", 11),
        ("NSdichotomy", 11),
        ("NSCircleLefttoRight", 3),
        ("NSCircleLefttoRight", 6),
        ("NSCircleLefttoRight", 11),
    ]
    small = resolve(5, 4, 1.96, 0.925845, "equal-frequency")
    assert [k for m, k in family_of(5, small) if m == "NSLefttoRight"] == [3, 4]


def test_components_are_the_measures_with_p_values_from_the_same_draws():
    rng = np.random.default_rng(3)
    series = rng.normal(size=150)
    series[75:] += 1.0
    found = verdict(series, permutations=199, seed=4)
    assert found.source == "simulated" and found.draws == 199
    for part in found.components:
        assert part.value == analyze(series, method=part.method, classes=part.classes).value
        assert part.p_value * 200 == pytest.approx(round(part.p_value * 200)) and part.p_value > 0
    least = min(c.p_value for c in found.components)
    assert found.strongest.p_value == least and found.p_high >= least
    assert verdict(series, permutations=199, seed=4) == found


def test_shared_and_own_draws_agree_for_rank_based_measures_on_tie_free_series():
    """Shuffle i of the sorted values has the ranks of shuffle i of 0..n-1, so reading the
    rank-based components from the kept draws is reading them on the series' shuffles."""
    from quorvel_tools import _engine
    from quorvel_tools.seeds import SIMULATION_SEED

    values = np.random.default_rng(8).normal(size=90)
    for method in ("NSLefttoRight", "NSCircleLefttoRight", "NSLocaltoGlobal"):
        args = (30, SIMULATION_SEED, "shuffle", 6, 1.96, 0.925845, 1, 1)
        on_ranks = _engine.draws(method, np.arange(90.0), *args)[0]
        on_values = _engine.draws(method, np.sort(values), *args)[0]
        assert np.array_equal(on_ranks, on_values)


def test_tied_series_and_the_block_null_draw_their_own_shuffles_and_widen_the_band():
    tied = np.round(np.random.default_rng(5).normal(size=120), 1)
    found = verdict(tied, permutations=99, seed=2)
    assert found.source == "permutations" and found.band_factor is None
    ar = np.zeros(300)
    noise = np.random.default_rng(6).normal(size=300)
    for i in range(1, 300):
        ar[i] = 0.8 * ar[i - 1] + noise[i]
    iid = verdict(ar, permutations=199, seed=1)
    block = verdict(ar, null="block", permutations=199, seed=1)
    assert block.band_factor > 1 and block.p_value > iid.p_value
    for part in block.components:
        assert part.tested_value <= part.value + 1e-12 or part.method == "NSdichotomy"


def test_undefined_series_has_no_verdict_and_settings_are_checked():
    found = verdict(np.ones(40))
    assert math.isnan(found.p_value) and found.strongest is None
    assert found.line().startswith("verdict: undefined")
    with pytest.raises(ValueError, match="permutations"):
        verdict(np.arange(50.0), permutations=0)
    with pytest.raises(TypeError, match="unexpected keyword argument 'method'"):
        verdict(np.arange(50.0), method="NSLefttoRight")


def test_the_nile_departs_by_default():
    # The Nile's annual flow at Aswan, 1871-1970 (10^8 m^3), as statsmodels' `nile` holds it.
    path = Path(__file__).with_name("data") / "nile.csv"
    flow = np.loadtxt(path, skiprows=1)
    found = verdict(flow)
    assert found.p_value <= 0.02, found
    assert found.strongest.method == "NSLefttoRight" and found.strongest.classes < 11
    assert found.line().startswith("verdict: p = 0.003 over 10 tests (4 measures at K = 3, 6, 11;")
