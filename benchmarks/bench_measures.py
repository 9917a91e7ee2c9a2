"""Time each measure against numpy.sort of the same window, with its cost per value, its ratio
to NSLefttoRight on the same window and the peak memory of each run; then the same series
through analyze() on one thread and on --workers threads (the figures checked bit for bit
against the module's), with the extra peak memory of the engine's run and the ratio to
statsmodels' KPSS test on the same series (when statsmodels is installed).

Usage: python benchmarks/bench_measures.py [--sizes 100 500 ...] [--kinds noise int10 ...]
                                           [--measures NSLefttoRight ...] [--workers 2]
                                           [--huge] [--huge-sizes 10000000 100000000]
"""

from __future__ import annotations

import os

# KPSS's BLAS calls are small: threads of OpenBLAS only wait on each other, and on a shared
# machine made them 100 times slower here. Set before NumPy loads it.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import argparse  # noqa: E402
import ctypes  # noqa: E402
import time  # noqa: E402
import warnings  # noqa: E402
from collections.abc import Callable  # noqa: E402

import numpy as np  # noqa: E402

import quorvel  # noqa: E402
from quorvel_tools import _engine, analyze  # noqa: E402
from quorvel_tools.config import METHODS  # noqa: E402


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


def peak_mib(fn: Callable[[], object]) -> float:
    """Extra peak resident memory of one call, in MiB."""
    reset_peak_rss()
    base = rss_kib("VmRSS")
    fn()
    return (rss_kib("VmHWM") - base) / 1024


def kpss_time(series: np.ndarray, repeat: int) -> float | None:
    """statsmodels' KPSS test with its default lags, or None without statsmodels."""
    try:
        from statsmodels.tsa.stattools import kpss
    except ImportError:
        return None

    with warnings.catch_warnings():  # p-values clipped to the table, notes on return types
        warnings.simplefilter("ignore")
        return best_time(lambda: kpss(series, nlags="auto"), repeat)


def through_engine(
    name: str, series: np.ndarray, workers: int, est: quorvel.NonStationary
) -> bytes:
    """The engine's run of the measure on `workers` threads, checked against the module's run."""
    K = est.getA().shape[0] - 1
    value, H0, H, table, _ = _engine.run(name, series, K, 1.96, 0.925845, 1, workers)
    got = np.array([value, H0, H]).tobytes() + table.tobytes()
    expected = np.array([est.nsFunc(name, series), est.getH0(), est.getH()]).tobytes()
    if got != expected + est.getA().tobytes():
        raise AssertionError(f"{name} on {workers} workers differs from the module")
    return got


def bench(kind: str, n: int, measures: list[str], repeat: int, workers: int) -> None:
    series = KINDS[kind](np.random.default_rng(12345), n)
    sort_time = best_time(lambda: np.sort(series), max(repeat, 3))
    kpss = kpss_time(series, repeat)
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
    # analyze() on one thread and on `workers`, and the engine's run alone for its memory.
    cells = []
    for name in measures:
        through_engine(name, series, workers, est)
        spent = {}
        for threads in (1, workers):
            with warnings.catch_warnings():  # values in no class, for NSdichotomy on zeros
                warnings.simplefilter("ignore")
                spent[threads] = best_time(
                    lambda threads=threads, name=name: analyze(
                        series, method=name, p_values=False, workers=threads
                    ),
                    repeat,
                )
        run_peak = peak_mib(
            lambda name=name: _engine.run(name, series, K, 1.96, 0.925845, 1, workers)
        )
        to_kpss = f"{spent[workers] / kpss:5.2f}x" if kpss else "    -"
        cells.append(
            f"{spent[1] * 1e3:9.3f} ms {spent[workers] * 1e3:9.3f} ms"
            f" {spent[1] / spent[workers]:5.2f}x {to_kpss} {run_peak:6.1f} MiB"
        )
    shown = f"{kpss * 1e3:9.3f} ms" if kpss else "        -   "
    print(f"{'':>9} {'analyze':<9} {'':>5} {shown} | " + " | ".join(cells), flush=True)


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
    parser.add_argument("--workers", type=int, default=2, help="threads of analyze()'s second run")
    parser.add_argument("--huge", action="store_true", help="add lines for --huge-sizes (noise)")
    parser.add_argument(
        "--huge-sizes", type=int, nargs="+", default=[10**7], help="n = 10^8 takes about 6 GiB"
    )
    args = parser.parse_args()

    print(
        "per measure: best time, cost per value, ratio to NSLefttoRight and to numpy.sort of the"
        " same window, extra peak memory of the module's run (which copies its input)"
    )
    print(
        f"then, 'analyze': analyze() on 1 and on {args.workers} threads, the speed-up, the ratio"
        " to statsmodels' KPSS (its time under np.sort), extra peak memory of the engine's run"
        " (which reads the array in place); every figure checked bit for bit against the module"
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
            bench(kind, n, args.measures, args.repeat, args.workers)
    if args.huge:
        for n in args.huge_sizes:
            bench("noise", n, args.measures, args.repeat, args.workers)


if __name__ == "__main__":
    main()
