"""Time each measure against numpy.sort of the same window, with the peak memory of each run.

Usage: python benchmarks/bench_measures.py [--sizes 1000 10000 ...] [--kinds noise walk ...]
                                           [--measures NSLefttoRight ...] [--huge]
"""

from __future__ import annotations

import argparse
import ctypes
import time
from collections.abc import Callable

import numpy as np

import quorvel

MEASURES = ("NSLocaltoGlobal", "NSLefttoRight", "NSdichotomy", "NSCircleLefttoRight")


def noise(rng: np.random.Generator, n: int) -> np.ndarray:
    return rng.normal(size=n)


def ar1(rng: np.random.Generator, n: int) -> np.ndarray:
    eps = rng.normal(size=n)
    out = np.empty(n)
    level = 0.0
    for i, e in enumerate(eps):  # plain loop: fine up to 10^7 for a benchmark
        level = 0.9 * level + e
        out[i] = level
    return out


def walk(rng: np.random.Generator, n: int) -> np.ndarray:
    return rng.normal(size=n).cumsum()


def level_shift(rng: np.random.Generator, n: int) -> np.ndarray:
    x = rng.normal(size=n)
    x[n // 2 :] += 1.0
    return x


def variance_shift(rng: np.random.Generator, n: int) -> np.ndarray:
    x = rng.normal(size=n)
    x[n // 2 :] *= 2.0
    return x


KINDS: dict[str, Callable[[np.random.Generator, int], np.ndarray]] = {
    "noise": noise,
    "ar1": ar1,
    "walk": walk,
    "level": level_shift,
    "variance": variance_shift,
}


LIBC = ctypes.CDLL("libc.so.6")


def reset_peak_rss() -> None:
    # Hand freed heap back first, so that the peak reflects what this run allocates.
    LIBC.malloc_trim(0)
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def rss_kib(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field)


def best_time(fn: Callable[[], object], repeat: int) -> float:
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def bench(kind: str, n: int, measures: list[str], repeat: int) -> None:
    series = KINDS[kind](np.random.default_rng(12345), n)
    sort_time = best_time(lambda: np.sort(series), max(repeat, 3))
    est = quorvel.NonStationary()
    est.setupDS(n)
    K = est.getA().shape[0] - 1
    cells = []
    for name in measures:
        reset_peak_rss()
        base = rss_kib("VmRSS")
        t = best_time(lambda: est.nsFunc(name, series), repeat)
        peak_mib = (rss_kib("VmHWM") - base) / 1024
        cells.append(f"{t * 1e3:9.1f} ms {t / sort_time:6.1f}x {peak_mib:7.1f} MiB")
    print(
        f"{n:>9} {kind:<9} {K:>5} {sort_time * 1e3:8.2f} ms | " + " | ".join(cells),
        flush=True,
    )


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawTextHelpFormatter
    )
    parser.add_argument("--sizes", type=int, nargs="+", default=[10**3, 10**4, 10**5, 10**6])
    parser.add_argument("--kinds", nargs="+", default=list(KINDS), choices=list(KINDS))
    parser.add_argument("--measures", nargs="+", default=list(MEASURES), choices=list(MEASURES))
    parser.add_argument("--repeat", type=int, default=3, help="runs per measure (best is shown)")
    parser.add_argument("--huge", action="store_true", help="add one line for n = 10^7 (noise)")
    args = parser.parse_args()

    print("per measure: best time, ratio to numpy.sort of the same window, peak memory of the run")
    print(
        f"{'n':>9} {'kind':<9} {'K':>5} {'np.sort':>11} | "
        + " | ".join(f"{m:^32}" for m in args.measures)
    )
    for n in args.sizes:
        for kind in args.kinds:
            bench(kind, n, args.measures, args.repeat)
    if args.huge:
        bench("noise", 10**7, args.measures, args.repeat)


if __name__ == "__main__":
    main()
