"""The batch engine against the module: the same figures for every window, series and shuffle,
whatever the number of workers."""

import subprocess
import sys
import textwrap

import numpy as np
import pytest

from quorvel_tools import _engine

from helpers import ACCEPT, EQUAL_FREQUENCY, EQUAL_WIDTH, MEASURES, Z, estimator


def series_of(kind, n, seed=0):
    rng = np.random.default_rng(seed)
    if kind == "walk":
        return rng.normal(size=n).cumsum()
    if kind == "ties":
        return rng.integers(0, 5, size=n).astype(float)
    return rng.normal(size=n)


def module_runs(name, windows, K, mode):
    est = estimator(K, Z, ACCEPT, mode)
    out = []
    for window in windows:
        value = est.nsFunc(name, window)
        out.append((value, est.getH0(), est.getH()))
    return np.array(out).T


def assert_exact(got, expected):
    for g, e in zip(got, expected, strict=True):
        np.testing.assert_array_equal(g, e)


@pytest.mark.parametrize("mode", [EQUAL_FREQUENCY, EQUAL_WIDTH])
@pytest.mark.parametrize("name", MEASURES)
def test_windows_equal_the_module_for_every_worker_count(name, mode):
    x = series_of("walk", 3000)
    starts = np.array([0, 5, 17, 400, 2999, 2998, 100, 1000, 0])
    stops = np.array([3000, 6, 19, 1400, 3000, 3000, 350, 1031, 2000])
    expected = module_runs(name, [x[a:b] for a, b in zip(starts, stops, strict=True)], 9, mode)
    for workers in (1, 2, 3):
        got = _engine.windows(name, x, starts, stops, 9, Z, ACCEPT, mode, workers)
        assert_exact(got, expected)


@pytest.mark.parametrize("name", MEASURES)
def test_many_series_equal_the_module(name):
    series = [
        series_of(kind, n, seed)
        for seed, (kind, n) in enumerate(
            [("walk", 500), ("ties", 800), ("noise", 1), ("noise", 2), ("walk", 64)]
        )
    ]
    classes = np.array([11, 7, 3, 1, 5])
    expected = np.array(
        [
            module_runs(name, [s], int(K), EQUAL_FREQUENCY)[:, 0]
            for s, K in zip(series, classes, strict=True)
        ]
    ).T
    for workers in (1, 3):
        got = _engine.many(name, series, classes, Z, ACCEPT, EQUAL_FREQUENCY, workers)
        assert_exact(got, expected)


@pytest.mark.parametrize("name", MEASURES)
def test_permutations_are_the_documented_shuffles_for_any_worker_count(name):
    # The draws shuffle the series' labels, classified once: the module's runs on the shuffled
    # values, also where values lie in no class (a negative minimum with equal widths, zeros
    # with NSdichotomy's lowest boundary) or tie across boundaries, and past 4,096 values.
    x = series_of("walk", 700)
    tied = np.round(series_of("noise", 5000) * 2)
    cases = ((x, EQUAL_FREQUENCY), (np.abs(tied), EQUAL_FREQUENCY), (tied, EQUAL_WIDTH))
    for series, mode in cases:
        shuffles = [_engine.shuffled(series, 2024, draw) for draw in range(12)]
        for s in shuffles:
            np.testing.assert_array_equal(np.sort(s), np.sort(series))
        assert not np.array_equal(shuffles[0], shuffles[1])
        expected = module_runs(name, shuffles, 14, mode)
        for workers in (1, 2, 3):
            got = _engine.draws(name, series, 12, 2024, "shuffle", 14, Z, ACCEPT, mode, workers)
            assert_exact(got, expected)
    first = _engine.draws(name, x, 12, 2024, "shuffle", 14, Z, ACCEPT, EQUAL_FREQUENCY, 2)
    other = _engine.draws(name, x, 12, 2025, "shuffle", 14, Z, ACCEPT, EQUAL_FREQUENCY, 2)
    assert not np.array_equal(other[0], first[0]) or name == "NSdichotomy"


@pytest.mark.parametrize("name", MEASURES)
def test_draws_of_a_long_series_stay_the_module_runs_from_draw_to_draw(name):
    # Past 2 MiB of labels a worker hands a draw the arrays its last draw released.
    x = series_of("walk", 2**19 + 77)
    shuffles = [_engine.shuffled(x, 7, draw) for draw in range(3)]
    expected = module_runs(name, shuffles, 40, EQUAL_FREQUENCY)
    got = _engine.draws(name, x, 3, 7, "shuffle", 40, Z, ACCEPT, EQUAL_FREQUENCY, 1)
    assert_exact(got, expected)


def long_series(kind, n, rng):
    if kind == "continuous":  # a drifting level, so that stretches split and close
        return rng.normal(size=n) + np.linspace(0.0, 0.4, n)
    if kind == "tied":
        return rng.integers(0, 60, size=n).astype(float)
    if kind == "wide":  # boundaries far apart: NSdichotomy peels classes off a stretch it follows
        return rng.normal(size=n) * 100.0
    # Constant stretches, and zeros signed + in the first half and - in the second: a boundary
    # among them is the first zero in the window's order, which threads must keep.
    x = np.repeat(rng.normal(size=n // 4000 + 1), 4000)[:n]
    zeros = rng.random(n) < 0.3
    x[zeros] = 0.0
    x[n // 2 :][zeros[n // 2 :]] = -0.0
    return x


@pytest.mark.parametrize("kind", ["continuous", "tied", "stretches", "wide"])
def test_a_long_series_on_threads_is_the_module_bit_for_bit(kind):
    # Past 2^19 values a run shares its work with the workers; past 2^20 its blocks are wider.
    n = 2**20 + 4321
    x = long_series(kind, n, np.random.default_rng(28))
    settings = [(None, EQUAL_FREQUENCY), (3, EQUAL_FREQUENCY), (90, EQUAL_WIDTH)]
    if kind == "wide":  # parts of a followed stretch taken out together on all threads
        settings = [(16, EQUAL_FREQUENCY)]
    for K, mode in settings:
        est = estimator(1, mode=mode)
        if K is None:
            est.setupDS(n)
        else:
            est.setup(K, Z, ACCEPT, mode)
        classes = est.getA().shape[0] - 1
        for name in MEASURES:
            value = est.nsFunc(name, x)
            expected = np.array([value, est.getH0(), est.getH()]).tobytes() + est.getA().tobytes()
            groups = None
            for workers in (1, 2, 3):
                got = _engine.run(name, x, classes, Z, ACCEPT, mode, workers)
                assert np.array(got[:3]).tobytes() + got[3].tobytes() == expected, (name, K)
                assert groups is None or got[4] == groups, (name, K, workers)
                groups = got[4]


def test_shuffles_are_uniform_over_orders():
    # Every order of three values comes up about as often as the others.
    counts = {}
    for draw in range(6000):
        order = tuple(_engine.shuffled(np.array([0.0, 1.0, 2.0]), 5, draw))
        counts[order] = counts.get(order, 0) + 1
    assert len(counts) == 6
    assert all(abs(c - 1000) < 150 for c in counts.values()), counts


def test_a_long_shuffle_is_fisher_yates_on_the_documented_stream():
    # SplitMix64 from mix(mix(seed) ^ draw), Lemire's bounded draws, swaps from the last
    # position down; past 1 MiB the positions are drawn a batch ahead of their swaps.
    mask = 2**64 - 1

    def mix(z):
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & mask
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & mask
        return z ^ (z >> 31)

    seed, draw, n = 11, 3, 140_037
    state = mix(mix(seed) ^ draw)
    expected = list(range(n))
    for j in range(n, 1, -1):
        while True:
            state = (state + 0x9E3779B97F4A7C15) & mask
            product = mix(state) * j
            if product & mask >= (2**64 - j) % j:
                break
        k = product >> 64
        expected[j - 1], expected[k] = expected[k], expected[j - 1]
    got = _engine.shuffled(np.arange(n, dtype=float), seed, draw)
    np.testing.assert_array_equal(got, np.array(expected, dtype=float))


def test_order_pattern_and_uniforms_are_numpys():
    # The seed's bytes as NumPy writes them: rises, then falls, packed from the top bit, and
    # the dense ranks of every step-th value (-0.0 ties 0.0, every NaN just above the rest).
    rng = np.random.default_rng(3)
    for trial in range(600):
        n = int(rng.integers(1, 200))
        x = np.round(rng.standard_normal(n) * 3) * [1e-300, 1.0, 1e300][trial % 3]
        x[rng.random(n) < 0.1] = -0.0
        x[rng.random(n) < 0.05] = [np.nan, np.inf, -np.inf][trial % 3]
        step = int(rng.integers(1, 4))
        rises, falls = x[1:] > x[:-1], x[1:] < x[:-1]
        ordered = np.sort(x[::step])
        distinct = ordered[np.concatenate(([True], ordered[1:] != ordered[:-1]))]
        ranks = np.searchsorted(distinct, x[::step]).astype("<i8")
        expected = np.packbits(rises).tobytes() + np.packbits(falls).tobytes() + ranks.tobytes()
        assert _engine.order_pattern(x, step) == expected, (trial, x, step)
    # The tie uniforms: default_rng's doubles for one- and two-word integers and several.
    for entropy in ([0], [2**32 - 1, 0x71E5], [2**32, 7], [2**64 - 1, 0x71E5], [5, 2**40, 9]):
        expected = np.random.default_rng(entropy).random(5)
        assert _engine.default_rng_uniforms(entropy, 5).tolist() == expected.tolist()


def test_a_refused_window_names_the_first_one_whatever_the_workers():
    x = series_of("noise", 1000)
    x[[300, 700]] = np.nan
    starts = np.arange(0, 900, 10)
    for workers in (1, 2, 3):
        with pytest.raises(ValueError, match=r"^window 21: window contains NaN at position 90:"):
            _engine.windows("NSLefttoRight", x, starts, starts + 100, 5, Z, ACCEPT, 1, workers)
    with pytest.raises(_engine.TaskError, match="^series 1: empty window") as raised:
        _engine.many("NSLefttoRight", [x[:5], x[:0]], np.array([2, 2]), Z, ACCEPT, 1, 2)
    # The parts of the message, for a caller that names the task otherwise (analyze_many).
    error = raised.value
    assert (error.what, error.index) == ("series", 1)
    assert str(error) == f"series 1: {error.reason}"
    assert error.reason.startswith("empty window")


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (
            lambda x: _engine.windows("NSLefttoRight", x, [0], [11], 3, Z, ACCEPT, 1, 1),
            IndexError,
            "out of range",
        ),
        (
            lambda x: _engine.windows("NSLefttoRight", x, [5], [4], 3, Z, ACCEPT, 1, 1),
            IndexError,
            "start <= stop",
        ),
        (
            lambda x: _engine.windows("nope", x, [0], [5], 3, Z, ACCEPT, 1, 1),
            ValueError,
            "accepted names",
        ),
        (
            lambda x: _engine.windows("NSLefttoRight", x, [0], [5], 3, float("nan"), ACCEPT, 1, 1),
            ValueError,
            "NaN",
        ),
        (
            lambda x: _engine.windows("NSLefttoRight", x, [0], [5], -1, Z, ACCEPT, 1, 1),
            ValueError,
            "classes",
        ),
        (
            lambda x: _engine.draws("NSLefttoRight", x, 3, 0, "shuffle", 3, Z, ACCEPT, 1, 0),
            ValueError,
            "workers",
        ),
        (
            lambda x: _engine.draws("NSLefttoRight", x, 3, 0, "bootstrap", 3, Z, ACCEPT, 1, 1),
            ValueError,
            "'shuffle', not 'bootstrap'",
        ),
        (
            lambda x: _engine.many("NSLefttoRight", [x], np.array([3, 3]), Z, ACCEPT, 1, 1),
            ValueError,
            "one K per series",
        ),
    ],
)
def test_arguments_are_checked_before_any_work(call, error, message):
    with pytest.raises(error, match=message):
        call(np.arange(10.0))


def test_progress_is_reported_and_ends_at_the_count():
    seen = []
    x = series_of("walk", 20_000)
    _engine.draws("NSLefttoRight", x, 40, 1, "shuffle", 50, Z, ACCEPT, 1, 2, seen.append)
    assert seen and seen[-1] == 40 and seen == sorted(seen)


def test_other_python_threads_run_while_a_batch_runs():
    import threading

    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(1)
            stop.wait(0.001)

    thread = threading.Thread(target=tick)
    thread.start()
    x = series_of("walk", 200_000)
    before = len(ticks)
    _engine.draws("NSLefttoRight", x, 30, 1, "shuffle", 200, Z, ACCEPT, 1, 1)
    during = len(ticks) - before
    stop.set()
    thread.join()
    assert during > 10


def test_ctrl_c_stops_a_long_batch():
    body = """
        import os, subprocess, time
        import numpy as np
        from quorvel_tools import _engine
        x = np.random.default_rng(0).normal(size=1_000_000).cumsum()
        subprocess.Popen(["sh", "-c", f"sleep 0.5; kill -INT {os.getpid()}"])
        start = time.perf_counter()
        try:
            _engine.draws("NSdichotomy", x, 10_000, 1, "shuffle", 469, 1.96, 0.925845, 1, 2)
        except KeyboardInterrupt:
            print(time.perf_counter() - start - 0.5)
        else:
            raise AssertionError("ran to its end")
    """
    child = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(body)],
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )
    assert child.returncode == 0, child.stderr
    assert float(child.stdout) < 0.5
