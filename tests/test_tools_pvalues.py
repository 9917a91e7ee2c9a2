"""p-values next to the measure: where each null comes from, and that the shared nulls are the
ones a simulation gives."""

import numpy as np
import pytest

import quorvel
from quorvel_tools import analyze, nullstore, permutation_test, ranknull, rolling
from quorvel_tools.config import resolve
from quorvel_tools.dependence import band_factor
from quorvel_tools.engine import run_draws
from quorvel_tools.nullmodels import IID
from quorvel_tools.nullstore import clear_null_cache, set_null_cache
from quorvel_tools.nulltable import null_table
from quorvel_tools.pvalues import NullSample, interpolated_p_values
from quorvel_tools.ranknull import RANK_BASED, simulated_null, tie_free_counts
from quorvel_tools.request import Request
from quorvel_tools.tiebreak import tie_broken

from helpers import MEASURES

RNG = np.random.default_rng(20261208)


def _tail_distance(a: NullSample, b: NullSample) -> float:
    """The largest gap between the two survival functions, over both sets of values."""
    points = np.union1d(a.values, b.values)
    return float(np.max(np.abs(_survival(a, points) - _survival(b, points))))


def _survival(sample: NullSample, points: np.ndarray) -> np.ndarray:
    above, equal = sample.above_and_equal(points)
    return (above + equal) / sample.draws


@pytest.mark.parametrize("method", RANK_BASED)
@pytest.mark.parametrize("n", [60, 424, 20_000])
def test_table_and_simulated_null_agree(method, n):
    table = null_table()
    (tabulated, weight), *_ = table.around(method, n)
    assert weight == 1.0  # a tabulated length
    simulated = simulated_null(method, n, resolve(n), Request(permutations=1999, workers=2))
    # Two samples of 1,999 and of 999..9,999 draws: a gap beyond 0.06 is a different null.
    assert _tail_distance(tabulated, simulated) < 0.06


@pytest.mark.parametrize("method", RANK_BASED)
@pytest.mark.parametrize("n", [777, 3333])
def test_interpolated_p_values_keep_their_level(method, n):
    """Between tabulated lengths the p-value is the mean of its neighbours' p-values: under the
    null of that very length (simulated here), p <= alpha must still happen about alpha of the
    time. Their atoms do not line up, so single p-values in the bulk may differ more."""
    draws = 2999
    parts = null_table().around(method, n)
    assert len(parts) == 2
    request = Request(permutations=draws, workers=2, show_progress=False)
    drawn, _, _ = run_draws(method, np.arange(n, dtype=float), resolve(n), request, 7, IID)
    p = interpolated_p_values(parts, drawn, RNG.random(draws)).p_value
    for alpha in (0.05, 0.1):
        assert abs(np.mean(p <= alpha) - alpha) < 4 * np.sqrt(alpha * (1 - alpha) / draws) + 0.005


def test_tie_free_counts_are_the_modules():
    for n in [3, 10, 99, 100, 101, 4095, 4097, 65_537]:
        config = resolve(n)
        counts = analyze(np.arange(n, dtype=float), p_values=False).counts
        assert np.array_equal(counts, tie_free_counts(n, config.classes)), n


@pytest.mark.parametrize("method", RANK_BASED)
def test_increasing_transform_keeps_value_and_p_value(method):
    x = RNG.standard_normal(700)
    first = analyze(x, method=method, seed=5)
    again = analyze(np.exp(3 * x) + 10, method=method, seed=5)
    assert first.value == again.value
    assert first.significance == again.significance
    assert first.significance.source == "interpolated"  # 700 lies between tabulated lengths


def test_each_kind_of_series_gets_its_path_to_a_p_value():
    """Ties across a class boundary: the table, read at the measure of the series with its
    ties broken by the seed; NSdichotomy and equal-width classes: draws of their own values;
    past the longest tabulated length: that length's null."""
    from quorvel_tools.pvalues import read_p_values
    from quorvel_tools.seeds import tie_breaks

    x = RNG.standard_normal(300)
    rounded = np.round(x, 1)
    found = analyze(rounded, seed=1)
    tested = found.significance
    assert (tested.source, tested.ties_broken, tested.draws) == ("table", True, 9999)
    estimator = quorvel.NonStationary()
    estimator.setupDS(300)
    assert tested.tested_value == estimator.nsFunc("NSLefttoRight", list(tie_broken(rounded, 1)))
    assert found.value_exact == estimator.nsFunc("NSLefttoRight", list(rounded))
    ((sample, _),) = null_table().around("NSLefttoRight", 300)
    assert (
        tested.p_value
        == read_p_values(sample, np.array([tested.tested_value]), tie_breaks(1, 1)).p_value[0]
    )
    for own in (
        analyze(x, method="NSdichotomy", seed=1, permutations=99),
        analyze(x, binning="equal-width", seed=1, permutations=99),
    ):
        assert own.significance.source in ("permutations", "sequential permutations")
        assert not own.significance.ties_broken
    # Ties inside a class leave the counts of distinct values: nothing to break.
    inside = np.sort(x)
    inside[1] = inside[0]
    assert (analyze(inside, seed=1).significance.source, found.significance.ties_broken) == (
        "table",
        True,
    )
    # Ranks follow the values; each of the 6 orders of three tied values comes in a sixth of
    # the seeds, and -0.0 ties with 0.0 (4.5 sd of 3,000 draws).
    ties = np.array([1.0, 0.0, 1.0, 1.0, 2.0, -0.0])
    drawn = np.array([tie_broken(ties, s) for s in range(3000)])
    assert np.all(drawn[:, [1, 5]].max(axis=1) < drawn[:, [0, 2, 3]].min(axis=1))
    assert np.all(drawn[:, 4] == 5)
    orders = np.argsort(drawn[:, [0, 2, 3]], axis=1) @ np.array([9, 3, 1])
    assert np.all(np.abs(np.unique(orders, return_counts=True)[1] - 500) < 4.5 * 20.4)
    assert len(np.unique(orders)) == 6
    assert abs(np.sum(drawn[:, 5] < drawn[:, 1]) - 1500) < 4.5 * 27.4
    longest = null_table().longest
    beyond = analyze(RNG.standard_normal(longest + 5), seed=3).significance
    assert (beyond.source, beyond.draws) == ("longest table", 999)


TIE_BREAK_DIGEST = """
import hashlib, numpy as np
from quorvel_tools.tiebreak import tie_broken
x = np.round(np.random.default_rng(3).standard_normal(1000), 1)
rows = np.round(np.random.default_rng(4).standard_normal((50, 200)), 1)
ranks = tie_broken(x, 7).tobytes() + tie_broken(rows, 7, 0).tobytes()
print(hashlib.sha256(ranks).hexdigest())
"""


def test_ties_are_broken_alike_whatever_vector_instructions_the_cpu_has():
    """NumPy's default sort orders ties by the CPU's vector instructions, so a seed must not
    lean on it: the same ranks with every dispatched instruction set turned off."""
    import os
    import subprocess
    import sys

    try:
        from numpy._core import _multiarray_umath as features
    except ImportError:  # NumPy 1.x
        from numpy.core import _multiarray_umath as features

    found = [name for name in features.__cpu_dispatch__ if features.__cpu_features__.get(name)]
    digests = set()
    for disabled in ([], found):
        env = dict(os.environ, NPY_DISABLE_CPU_FEATURES=" ".join(disabled))
        command = [sys.executable, "-c", TIE_BREAK_DIGEST]
        digests.add(subprocess.run(command, env=env, capture_output=True, check=True).stdout)
    assert len(digests) == 1


@pytest.mark.parametrize("null", ["iid", "block"])
@pytest.mark.parametrize("method", ["NSdichotomy", "NSLefttoRight"])
def test_p_values_repeat_from_a_seed_whatever_the_workers(method, null):
    x = np.cumsum(RNG.standard_normal(250))
    one = analyze(x, method=method, null=null, permutations=199, seed=3, workers=1)
    two = analyze(x, method=method, null=null, permutations=199, seed=3, workers=2)
    default_seed = analyze(x, method=method, null=null, permutations=199)
    assert one.significance == two.significance
    assert (
        default_seed.significance
        == analyze(x, method=method, null=null, permutations=199).significance
    )
    tested = one.significance
    assert tested.p_low <= tested.p_value <= tested.p_high
    if method == "NSdichotomy":  # its own draws, stopped once 10 reach the observed value
        stopped = tested.source == "sequential permutations"
        assert tested.draws < 199 and tested.p_value == 10 / tested.draws if stopped else True
    else:
        assert tested.draws == 9999 and tested.resolution == 1 / 10000


def test_p_value_is_randomised_within_ties_only():
    """A constant-free series with no merging ties with most of its null at value 0: p spreads
    over the tie range, and stays within it."""
    x = RNG.standard_normal(100)
    found = [analyze(x, seed=s).significance for s in range(40)]
    assert all(f.p_low <= f.p_value <= f.p_high for f in found)
    assert len({f.p_value for f in found}) > 1 or found[0].p_low == found[0].p_high


def test_block_null_reads_the_widened_measure_against_the_iid_null():
    """The p-value under null="block" is the iid null's p-value of the measure with band
    multiplier z sqrt(f) (z f^0.3 for NSLocaltoGlobal): equal to the bit to one read by hand
    from the same null."""
    from quorvel_tools.nulltable import null_table
    from quorvel_tools.pvalues import read_p_values
    from quorvel_tools.seeds import tie_breaks

    x = np.convolve(RNG.standard_normal(404), np.ones(5), "valid")  # dependence over 5 values
    factor = band_factor(x)
    multipliers = {"NSLocaltoGlobal": 1.96 * np.sqrt(factor**0.6)}
    for method in ("NSLefttoRight", "NSLocaltoGlobal", "NSdichotomy"):
        found = analyze(x, method=method, null="block", permutations=49, seed=2)
        assert found.significance.band_factor == factor > 1
        estimator = quorvel.NonStationary()
        z = multipliers.get(method, 1.96 * np.sqrt(factor))
        estimator.setup(found.classes, z, 0.925845, 1)
        tested = estimator.nsFunc(method, x)
        assert found.significance.tested_value == tested != found.value_exact
        if method != "NSdichotomy":
            ((sample, _),) = null_table().around(method, 400)
            expected = read_p_values(sample, np.array([tested]), tie_breaks(2, 1))
            assert found.significance.source == "table"
            assert found.p_value == expected.p_value[0]
        else:
            iid = permutation_test(x, method=method, permutations=49, seed=2)
            block = permutation_test(x, method=method, null="block", permutations=49, seed=2)
            assert np.array_equal(iid.null_values_exact, block.null_values_exact)
            assert block.tested_value == tested


def test_simulated_null_is_cached_reused_and_rebuilt(tmp_path, monkeypatch):
    calls = []
    real = ranknull.run_draws

    def counting(*args, **kwargs):
        calls.append(args[3].permutations)
        return real(*args, **kwargs)

    monkeypatch.setattr(ranknull, "run_draws", counting)
    set_null_cache(tmp_path)
    try:
        clear_null_cache()
        x = RNG.standard_normal(150)
        first = analyze(x, classes=6, permutations=99, seed=1)
        assert first.significance.source == "simulated" and calls == [99]
        assert analyze(x + 1, classes=6, permutations=99, seed=1).significance == first.significance
        assert calls == [99] and len(list(tmp_path.glob("*.null.npz"))) == 1
        nullstore._cache.samples.clear()  # a new process: read back from the directory
        assert analyze(x, classes=6, permutations=99, seed=1).significance == first.significance
        assert calls == [99]
        assert clear_null_cache() == 1
        assert analyze(x, classes=6, permutations=99, seed=1).significance == first.significance
        assert calls == [99, 99]
    finally:
        set_null_cache(None)
        clear_null_cache()


def test_rolling_windows_share_the_null_and_fall_back_on_ties():
    x = RNG.standard_normal(600)
    x[300:] += 1.5
    profile = rolling(x, 200, step=50, p_values=True, seed=4)
    assert set(profile.sources) == {"table"}
    for i, start in enumerate(range(0, 401, 50)):
        alone = analyze(x[start : start + 200]).significance
        assert alone.p_low <= profile.p_values[i] <= alone.p_high
    assert profile.p_values[4] < 0.05 < profile.p_values[0]
    tied = x.copy()
    tied[100:200] = np.round(tied[100:200])
    # Windows with ties across a boundary read the same table with their ties broken.
    mixed = rolling(tied, 200, step=100, p_values=True, permutations=49, seed=4)
    assert set(mixed.sources) == {"table"} and np.all((0 < mixed.p_values) & (mixed.p_values <= 1))
    rows = np.round(np.lib.stride_tricks.sliding_window_view(tied, 200)[::100], 0)
    ranks = tie_broken(rows, 4, 0)
    for i, (row, rank) in enumerate(zip(rows, ranks, strict=True)):
        assert sorted(rank) == list(range(200))
        assert np.all(np.diff(row[np.argsort(rank)]) >= 0)  # ranks follow the values
        # Row i's order is its stream's, however the rows are taken together.
        assert np.array_equal(tie_broken(rows[i : i + 1], 4, i)[0], rank)
    assert np.array_equal(tie_broken(rows[:1], 4, 0)[0], tie_broken(rows[0], 4))
    assert "p_value" in profile.to_frame()
    assert rolling(x, 200, step=50).p_values is None


def test_measures_report_p_values_for_all():
    found = analyze(RNG.standard_normal(120), method="all", permutations=49, seed=1)
    assert set(found) == set(MEASURES)
    assert all(0 < result.p_value <= 1 for result in found.values())
    assert np.isnan(analyze(RNG.standard_normal(50), p_values=False).p_value)


@pytest.mark.parametrize(
    "options, message",
    [
        ({"null": "bootstrap"}, "null must be 'iid' or 'block'"),
        ({"permutations": 0}, "permutations must be an integer of at least 1"),
        ({"seed": -1}, "seed must be an integer of at least 0"),
    ],
)
def test_bad_null_options_are_refused(options, message):
    with pytest.raises(ValueError, match=message):
        analyze(np.arange(30.0), **options)


def test_shipped_table_matches_its_grid_and_measures_and_its_format_is_checked(tmp_path):
    from quorvel_tools.nullgrid import grid_lengths
    from quorvel_tools.nulltable import FORMAT_VERSION, TABLE_PATH, NullTable, NullTableError

    table = null_table()
    assert table.lengths.tolist() == grid_lengths()
    assert table.measures == RANK_BASED and "make_null_tables.py" in table.provenance
    with np.load(TABLE_PATH) as data:
        arrays = {key: data[key] for key in data.files}
    expected = {"format", "provenance", "measures", "n", "draws", "settings"}
    for method in RANK_BASED:
        expected |= {f"{method}.values", f"{method}.counts", f"{method}.offsets"}
        offsets = arrays[f"{method}.offsets"]
        assert len(offsets) == len(grid_lengths()) + 1 and offsets[-1] == len(
            arrays[f"{method}.values"]
        )
        # Every length's part holds all its draws.
        drawn = np.add.reduceat(arrays[f"{method}.counts"], offsets[:-1])
        assert np.array_equal(drawn, arrays["draws"])
    assert set(arrays) == expected
    for version in (None, FORMAT_VERSION + 1):
        other = {k: v for k, v in arrays.items() if k != "format"}
        if version is not None:
            other["format"] = np.array(version)
        np.savez(tmp_path / "table.npz", **other)
        with pytest.raises(NullTableError, match=f"format {version}; this version reads format"):
            NullTable(tmp_path / "table.npz")


def test_pattern_seed_follows_the_rises_and_falls_only():
    from quorvel_tools.seeds import pattern_seed

    x = np.random.default_rng(9).normal(size=60)
    assert pattern_seed(np.exp(x), "NSLefttoRight") == pattern_seed(x, "NSLefttoRight")
    others = [pattern_seed(-x, "NSLefttoRight"), pattern_seed(x, "NSdichotomy")]
    assert pattern_seed(x, "NSLefttoRight") not in others
