"""Time each measure against numpy.sort of the same window, with its cost per value, its ratio
to NSLefttoRight on the same window and the peak memory of each run.

Usage: python benchmarks/bench_measures.py [--sizes 100 500 ...] [--kinds noise int10 ...]
                                           [--measures NSLefttoRight ...] [--huge]
"""

from __future__ import annotations

import argparse
import ctypes
import time
from collections.abc import Callable

import numpy as np

import quorvel
from quorvel_tools.config import METHODS


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


# Tied and rounded series: their equal-frequency boundaries coincide, leaving empty classes.
def integers(top: int) -> Callable[[np.random.Generator, int], np.ndarray]:
    return lambda rng, n: rng.integers(0, top, n).astype(float)


def rounded(decimals: int) -> Callable[[np.random.Generator, int], np.ndarray]:
    return lambda rng, n: np.round(rng.normal(size=n), decimals)


def half_at_one_level(rng: np.random.Generator, n: int) -> np.ndarray:
    return np.where(rng.random(n) < 0.5, 0.5, rng.normal(size=n))


def poisson(rng: np.random.Generator, n: int) -> np.ndarray:
    return rng.poisson(2.0, n).astype(float)


KINDS: dict[str, Callable[[np.random.Generator, int], np.ndarray]] = {
    "noise": noise,
    "ar1": ar1,
    "walk": walk,
    "level": level_shift,
    "variance": variance_shift,
    "int10": integers(10),
    "int100": integers(100),
    "round0.1": rounded(1),
    "round0.01": rounded(2),
    "half": half_at_one_level,
    "poisson2": poisson,
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
    """The best of `repeat` timings of one call; short calls are timed in loops of about 20 ms."""
    start = time.perf_counter()
    fn()
    calls = max(1, int(0.02 / max(time.perf_counter() - start, 1e-7)))
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        best = min(best, (time.perf_counter() - start) / calls)
    return best


def bench(kind: str, n: int, measures: list[str], repeat: int) -> None:
    series = KINDS[kind](np.random.default_rng(12345), n)
    sort_time = best_time(lambda: np.sort(series), max(repeat, 3))
    est = quorvel.NonStationary()
    est.setupDS(n)
    K = est.getA().shape[0] - 1
    times = {}
    peaks = {}
    for name in measures:
        reset_peak_rss()
        base = rss_kib("VmRSS")
        times[name] = best_time(lambda name=name: est.nsFunc(name, series), repeat)
        peaks[name] = (rss_kib("VmHWM") - base) / 1024
    cells = []
    for name in measures:
        t = times[name]
        versus = f"{t / times['NSLefttoRight']:5.1f}x" if "NSLefttoRight" in times else "    -"
        cells.append(
            f"{t * 1e3:9.3f} ms {t * 1e9 / n:6.1f} ns {versus} {t / sort_time:6.1f}x"
            f" {peaks[name]:6.1f} MiB"
        )
    print(
        f"{n:>9} {kind:<9} {K:>5} {sort_time * 1e3:9.3f} ms | " + " | ".join(cells),
        flush=True,
    )


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawTextHelpFormatter
    )
    parser.add_argument(
        "--sizes", type=int, nargs="+", default=[100, 500, 2000, 10**4, 10**5, 10**6]
    )
    parser.add_argument("--kinds", nargs="+", default=list(KINDS), choices=list(KINDS))
    parser.add_argument("--measures", nargs="+", default=list(METHODS), choices=list(METHODS))
    parser.add_argument("--repeat", type=int, default=3, help="runs per measure (best is shown)")
    parser.add_argument("--huge", action="store_true", help="add one line for n = 10^7 (noise)")
    args = parser.parse_args()

    print(
        "per measure: best time, cost per value, ratio to NSLefttoRight and to numpy.sort of the"
        " same window, peak memory of the run"
    )
    fixed = quorvel.NonStationary()
    fixed.setupDS(2)
    two = np.array([0.0, 1.0])
    call = best_time(lambda: fixed.nsFunc("NSLefttoRight", two), args.repeat)
    print(f"a call on a window of two values (about the binding's fixed cost): {call * 1e6:.2f} us")
    print(
        f"{'n':>9} {'kind':<9} {'K':>5} {'np.sort':>12} | "
        + " | ".join(f"{m:^47}" for m in args.measures)
    )
    for n in args.sizes:
        for kind in args.kinds:
            bench(kind, n, args.measures, args.repeat)
    if args.huge:
        bench("noise", 10**7, args.measures, args.repeat)


if __name__ == "__main__":
    main()
