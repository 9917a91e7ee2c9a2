"""The batch engine against a loop of module calls, with one worker and with every worker.

Usage: python benchmarks/bench_batch.py [--method NSLefttoRight] [--skip-large]

Prints, for each row, the cost per run of today's loop of nsFuncRange/nsFunc calls where there
is one, of the engine with one worker and with all workers, and the speed-up of all over one.
"""

from __future__ import annotations

import argparse
import threading
import time
from collections.abc import Callable

import numpy as np

import quorvel
from quorvel_tools import analyze_many, permutation_test, rolling
from quorvel_tools.engine import default_workers, shuffled

N = 10**6
# Windows measured per row: fewer where each window costs more.
WINDOW_COUNTS = {100: 50_000, 500: 20_000, 2000: 5_000, 10_000: 1_000}


def best(fn: Callable[[], object], repeat: int = 3) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def row(label: str, runs: int, loop: float | None, one: float, every: float) -> None:
    loop_text = f"{loop / runs * 1e6:10.1f} us" if loop is not None else f"{'':>13}"
    print(
        f"{label:<34} {runs:>7} {loop_text} {one / runs * 1e6:10.1f} us "
        f"{every / runs * 1e6:10.1f} us {one / every:7.2f}x",
        flush=True,
    )


def windows(method: str, x: np.ndarray, workers: int) -> None:
    for window, count in WINDOW_COUNTS.items():
        part = x[: count + window - 1]
        est = quorvel.NonStationary()
        est.setupDS(window)
        est.data = part

        def loop(est: quorvel.NonStationary = est, window: int = window, count: int = count):
            for start in range(count):
                est.nsFuncRange(method, start, start + window)

        def engine(workers: int, part: np.ndarray = part, window: int = window) -> None:
            rolling(part, window, step=1, method=method, workers=workers, show_progress=False)

        row(
            f"rolling, window {window}, step 1",
            count,
            best(loop, 1),
            best(lambda: engine(1), 1),
            best(lambda: engine(workers), 1),
        )


def many(method: str, workers: int) -> None:
    rng = np.random.default_rng(1)
    series = {i: rng.normal(size=1000).cumsum() for i in range(10_000)}

    def run(workers: int) -> None:
        analyze_many(series, method=method, workers=workers)

    row(
        "analyze_many, 10^4 series of 10^3",
        len(series),
        None,
        best(lambda: run(1), 1),
        best(lambda: run(workers), 1),
    )


def permutations(method: str, workers: int, sizes: list[int]) -> None:
    for n in sizes:
        x = np.random.default_rng(2).normal(size=n).cumsum()
        est = quorvel.NonStationary()
        est.setupDS(n)
        # The loop: the module on each shuffle of the series, as a draw was once made (fewer of
        # them at 10^6, scaled to 999).
        looped = 999 if n <= 10**5 else 100

        def loop(x: np.ndarray = x, est: quorvel.NonStationary = est, looped: int = looped) -> None:
            for draw in range(looped):
                est.nsFunc(method, shuffled(x, 1, draw))

        def run(workers: int, x: np.ndarray = x) -> None:
            permutation_test(
                x, method=method, permutations=999, seed=1, workers=workers, show_progress=False
            )

        row(
            f"permutation_test, 999, n = {n:.0e}",
            999,
            best(loop, 1) * 999 / looped,
            best(lambda: run(1), 1),
            best(lambda: run(workers), 1),
        )


def thread_keeps_running(method: str, workers: int) -> None:
    ticks = 0
    stop = threading.Event()

    def tick() -> None:
        nonlocal ticks
        while not stop.is_set():
            ticks += 1
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    x = np.random.default_rng(3).normal(size=200_000).cumsum()
    ticker.start()
    start = time.perf_counter()
    permutation_test(
        x, method=method, permutations=200, seed=1, workers=workers, show_progress=False
    )
    elapsed = time.perf_counter() - start
    stop.set()
    ticker.join()
    print(f"a Python thread ticking every 1 ms ticked {ticks} times during a {elapsed:.2f} s batch")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--method", default="NSLefttoRight")
    parser.add_argument("--skip-large", action="store_true", help="no permutations at n = 10^6")
    args = parser.parse_args()
    workers = default_workers()
    print(f"{args.method}, {workers} workers for 'all'; cost per run (window, series, shuffle)")
    print(f"{'':<34} {'runs':>7} {'loop':>13} {'1 worker':>13} {'all':>13} {'all/1':>8}")
    x = np.random.default_rng(0).normal(size=N).cumsum()
    windows(args.method, x, workers)
    many(args.method, workers)
    permutations(args.method, workers, [10**3, 10**5] if args.skip_large else [10**3, 10**5, 10**6])
    thread_keeps_running(args.method, workers)


if __name__ == "__main__":
    main()
