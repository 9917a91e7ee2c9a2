"""Permutation p-values: small for ordered series, not for shuffled noise, and reproducible."""

import numpy as np
import pytest

from quorvel_tools import permutation_test


def test_trend_is_significant_and_noise_is_not():
    rng = np.random.default_rng(21)
    trend = np.linspace(0, 5, 300) + rng.normal(size=300)
    noise = rng.normal(size=300)
    assert permutation_test(trend, permutations=199, seed=1).p_value == 1 / 200
    assert permutation_test(noise, permutations=199, seed=1).p_value > 0.05


def test_same_seed_same_null_and_p_value_follows_its_formula():
    series = np.random.default_rng(4).normal(size=120).cumsum()
    first = permutation_test(series, method="NSdichotomy", permutations=50, seed=9)
    again = permutation_test(series, method="NSdichotomy", permutations=50, seed=9)
    assert np.array_equal(first.null_values, again.null_values)
    exceed = np.count_nonzero(first.null_values_exact >= first.value_exact)
    assert first.p_high == (1 + exceed) / 51
    quantiles = first.quantiles()
    assert quantiles[0.5] <= quantiles[0.9] <= quantiles[0.99]


def test_input_is_not_shuffled_in_place():
    series = np.arange(100.0)
    permutation_test(series, permutations=5, seed=0)
    assert np.array_equal(series, np.arange(100.0))


def test_constant_series_gives_nan_p_value():
    assert np.isnan(permutation_test(np.ones(40), permutations=5, seed=0).p_value)


def test_seed_and_count_accept_numpy_integers_and_refuse_the_rest():
    series = np.random.default_rng(4).normal(size=80).cumsum()
    first = permutation_test(series, permutations=np.int64(20), seed=np.uint8(3))
    again = permutation_test(series, permutations=20, seed=3)
    assert np.array_equal(first.null_values, again.null_values)
    for seed in ("a", -1, 1.5):
        with pytest.raises(ValueError, match="^seed must be an integer of at least 0"):
            permutation_test(series, permutations=5, seed=seed)


def test_repr_is_a_summary():
    text = repr(permutation_test(np.arange(100.0), permutations=999, seed=0))
    assert text.startswith("PermutationResult(NSLefttoRight: value=1, p_value=0.001,")
    assert len(text) < 200


@pytest.mark.parametrize("null", ["iid", "block"])
def test_p_value_and_seed_mean_what_they_mean_in_analyze(null):
    """One convention: ties broken at random with p_low..p_high around it, and seed=None taken
    from the series; the test takes all its draws, analyze stops once ten reach the observed
    value, so analyze's p is the test's own draws' p where it did not stop."""
    from quorvel_tools import analyze
    from quorvel_tools.seeds import series_seed

    x = np.round(np.random.default_rng(8).normal(size=150), 0)  # ties with the null at 0
    for seed in (None, 5):
        tested = permutation_test(x, method="NSdichotomy", null=null, permutations=99, seed=seed)
        own = analyze(x, method="NSdichotomy", null=null, permutations=99, seed=seed).significance
        assert (tested.null, tested.band_factor) == (own.null, own.band_factor)
        assert tested.p_low <= tested.p_value <= tested.p_high
        assert own.p_low <= own.p_value <= own.p_high
        assert own.source == "sequential permutations" and own.p_value == 10 / own.draws
        assert tested.seed == (series_seed(x, "NSdichotomy") if seed is None else seed)
    assert tested.p_low < tested.p_high


def _drift(n):
    """A positive random walk plus noise, and the same with ties across class boundaries."""
    rng = np.random.default_rng(11)
    x = 0.3 * rng.normal(size=n).cumsum() + rng.normal(size=n)
    x = x - x.min() + 1.0
    return {"distinct": x, "tied": np.round(2 * x) / 2}


INCREASING = {
    "2x + 5": lambda x: 2 * x + 5,
    "x * 1e-10": lambda x: x * 1e-10,
    "exp(x / max|x|)": lambda x: np.exp(x / np.max(np.abs(x))),
}
# The band factor of the block null comes from ranks, so both nulls of a rank-based measure
# are invariant under any increasing map.
INVARIANT = [
    (method, null, name)
    for method in ("NSLocaltoGlobal", "NSLefttoRight", "NSCircleLefttoRight")
    for null in ("iid", "block")
    for name in INCREASING
]


@pytest.mark.parametrize("method, null, transform", INVARIANT)
def test_seed_none_gives_an_increasing_transform_the_same_p_values(method, null, transform):
    """seed=None keys the draws and tie-breaks on the order of the values, never their units:
    table and own-draw p-values, of the series and of its windows, are equal."""
    from quorvel_tools import analyze, rolling
    from quorvel_tools.seeds import series_seed

    settings = {"method": method, "null": null, "permutations": 99}
    for x in _drift(120).values():
        y = INCREASING[transform](x)
        assert series_seed(x, "NSdichotomy") == series_seed(y, "NSdichotomy")
        first, second = (analyze(s, **settings) for s in (x, y))
        a, b = first.significance, second.significance
        assert (first.value, a.p_value, a.p_low, a.p_high) == (
            second.value,
            b.p_value,
            b.p_low,
            b.p_high,
        )
        assert (a.band_factor, a.tested_value) == (b.band_factor, b.tested_value)
        assert permutation_test(x, **settings).p_value == permutation_test(y, **settings).p_value
        windows = [rolling(s, 60, step=20, p_values=True, **settings).p_values for s in (x, y)]
        assert np.array_equal(*windows)


def test_a_sequential_p_value_moves_one_bar_over_its_batches(monkeypatch, capsys):
    pytest.importorskip("tqdm")
    from quorvel_tools import analyze, progress

    monkeypatch.setattr(progress, "DELAY_SECONDS", 0.0)
    x = np.random.default_rng(3).standard_normal(3000)
    x[1500:] += 0.15  # p about 0.06: several batches of draws
    found = analyze(x, method="NSdichotomy", seed=4, show_progress=True).significance
    lines = [line for line in capsys.readouterr().err.replace("\r", "\n").splitlines() if line]
    assert found.source == "sequential permutations" and found.draws > 20, found
    assert {line.split(":")[0] for line in lines} == {
        "NSdichotomy p-value, permutations of the series"
    }
    # The total grows with each batch planned, and the bar ends full at the draws made.
    made = int(lines[-1].split("|")[2].split("/")[0])
    assert made >= found.draws and f" {made}/{made} " in lines[-1]
