"""The combined test (`verdict`): its size under i.i.d. data, its power beside the best single
measure at the data-size K on the series of power.py, and the Nile; rolling p-values adjusted
across windows on noise and on a shift; analyze_many's p-values, their cost and their q-values
on null series. Fixed seeds.

Size: the share of i.i.d. normal series with verdict p <= 0.05, 2,000 series a length; the
test is exact for any number of draws (the observed vector is exchangeable with the draws and
ties are broken at random), so fewer draws at long lengths cost resolution, not level.
Power: the share called non-stationary at 5% by the verdict and by each measure at the
data-size K with null="iid" (its own p-value, as `analyze` gives it), on the same series.

    python benchmarks/verdict.py size            # about 10 minutes on one core
    python benchmarks/verdict.py power           # about 15 minutes on one core
    python benchmarks/verdict.py power --quick   # a quarter of the series
    python benchmarks/verdict.py family          # about 2 minutes on one core
    python benchmarks/verdict.py rolling         # about 25 minutes on one core
    python benchmarks/verdict.py many            # about 10 minutes on two cores

Rolling: 200 series of 10^5 i.i.d. values, windows of 200, step 1, NSLefttoRight, the default
adjustment (fdr): the share of series with any ringed window (adjusted p <= 0.05); then one
series with a 1 sd shift at its middle: how many of the windows that span it are ringed, and
how many others. Many: analyze_many(method="NSLefttoRight") on 10^4 series of 10^3 values
with and without p-values, in one process (the least of five runs each); then 100 runs of
10^4 i.i.d. series of 100 values: the share of runs in which any q-value is <= 0.05.
"""

from __future__ import annotations

import argparse
import math
import time

import numpy as np
from scenarios import SCENARIOS

from quorvel_tools import METHODS, analyze, verdict

LEVEL = 0.05
SIZE_LENGTHS = (50, 200, 1000, 10_000)
SIZE_SERIES = 2000
POWER_LENGTHS = (100, 1000, 10_000)
SHORT = {"NSLocaltoGlobal": "LtG", "NSLefttoRight": "LtR", "NSdichotomy": "dich",
         "NSCircleLefttoRight": "circ"}  # fmt: skip


def draws_for(n: int) -> int:
    return 999 if n <= 100 else 499 if n <= 200 else 199 if n <= 1000 else 99


def error(share: float, count: int) -> float:
    """The Monte-Carlo standard error of a share of `count` series."""
    return math.sqrt(max(share * (1 - share), LEVEL * (1 - LEVEL)) / count)


def size() -> None:
    print(f"size of the verdict at {LEVEL:.0%}, i.i.d. normal series (null='iid'):")
    print(
        f"{'n':>6} {'series':>7} {'draws':>6} {'size':>7} {'MC error':>9} {'|size-0.05|/err':>16}"
    )
    for n in SIZE_LENGTHS:
        started = time.perf_counter()
        rng = np.random.default_rng(20_000 + n)
        p = np.array(
            [
                verdict(rng.normal(size=n), permutations=draws_for(n), workers=1).p_value
                for _ in range(SIZE_SERIES)
            ]
        )
        share = float(np.mean(p <= LEVEL))
        se = math.sqrt(LEVEL * (1 - LEVEL) / SIZE_SERIES)
        print(
            f"{n:>6} {SIZE_SERIES:>7} {draws_for(n):>6} {share:7.4f} {se:9.4f} "
            f"{abs(share - LEVEL) / se:16.2f}   ({time.perf_counter() - started:.0f} s)",
            flush=True,
        )


def power(quick: bool) -> None:
    print(f"share called non-stationary at {LEVEL:.0%}: the verdict, each measure at the data-size")
    print("K (null='iid'), and the verdict minus the best of them (MC error of the difference")
    print("at most twice the error shown)")
    columns = [SHORT[m] for m in METHODS]
    head = "".join(f" {c:>6}" for c in columns)
    print(f"{'series':<24} {'n':>6} {'verdict':>8}{head} {'v-best':>7} {'MC err':>7}")
    for s, (name, draw) in enumerate(SCENARIOS.items()):
        for n in POWER_LENGTHS:
            count = 200 if n <= 1000 else 50
            count = count // 4 if quick else count
            rng = np.random.default_rng(7919 * s + n)
            hits = {key: 0 for key in ("verdict", *columns)}
            started = time.perf_counter()
            for _ in range(count):
                x = draw(rng, n)
                draws = draws_for(n)
                hits["verdict"] += verdict(x, permutations=draws, workers=1).p_value <= LEVEL
                for method in METHODS:
                    p = analyze(x, method=method, permutations=draws, workers=1).p_value
                    hits[SHORT[method]] += p <= LEVEL
            shares = {key: value / count for key, value in hits.items()}
            best = max(shares[c] for c in columns)
            cells = "".join(f" {shares[c]:6.3f}" for c in columns)
            print(
                f"{name:<24} {n:>6} {shares['verdict']:8.3f}{cells} "
                f"{shares['verdict'] - best:7.3f} {error(best, count):7.3f}"
                f"   ({time.perf_counter() - started:.0f} s)",
                flush=True,
            )
    nile()


def family() -> None:
    """Four unadjusted p-values are four chances: how often any is <= 0.05 on noise."""
    n, count = 200, 2000
    rng = np.random.default_rng(80_000)
    hits = 0
    for _ in range(count):
        x = rng.normal(size=n)
        found = analyze(x, method="all", workers=1)
        hits += any(r.p_value <= LEVEL for r in found.values())
    share = hits / count
    print(
        f"method='all', {count} i.i.d. series of {n}: share with any of the four unadjusted "
        f"p-values <= {LEVEL}: {share:.3f} (MC error {error(share, count):.3f})"
    )


def rolling_part() -> None:
    from quorvel_tools import rolling

    count, n, window = 200, 100_000, 200
    print(f"rolling NSLefttoRight, windows of {window}, step 1, adjust='fdr' (the default):")
    any_ring = 0
    started = time.perf_counter()
    for s in range(count):
        x = np.random.default_rng(40_000 + s).normal(size=n)
        profile = rolling(x, window, p_values=True, workers=1, show_progress=False)
        any_ring += bool(np.any(profile.adjusted <= LEVEL))
        if s % 50 == 49:
            print(f"  {s + 1} noise series: {any_ring} with a ringed window", flush=True)
    share = any_ring / count
    print(
        f"noise, {count} series of {n:,}: share with any ringed window {share:.3f} "
        f"(MC error {error(share, count):.3f})   ({time.perf_counter() - started:.0f} s)"
    )
    x = np.random.default_rng(99).normal(size=n)
    x[n // 2 :] += 1.0
    profile = rolling(x, window, p_values=True, workers=1, show_progress=False)
    ringed = profile.adjusted <= LEVEL
    # Window i holds positions i..i+window-1: it spans the shift for i in n/2-window+1..n/2-1.
    spans = np.zeros(len(ringed), dtype=bool)
    spans[n // 2 - window + 1 : n // 2] = True
    print(
        f"1 sd shift at position {n // 2:,}: {np.count_nonzero(ringed & spans)} of "
        f"{np.count_nonzero(spans)} spanning windows ringed, "
        f"{np.count_nonzero(ringed & ~spans)} of the other {np.count_nonzero(~spans):,}"
    )


def many_part() -> None:
    from quorvel_tools import analyze_many

    data = [np.random.default_rng(i).normal(size=1000) for i in range(10_000)]
    analyze_many(data[:100], method="NSLefttoRight", p_values=True)
    took = {False: [], True: []}
    for _ in range(5):
        for p_values in (False, True):
            started = time.perf_counter()
            analyze_many(data, method="NSLefttoRight", p_values=p_values, show_progress=False)
            took[p_values].append(time.perf_counter() - started)
    without, with_p = min(took[False]), min(took[True])
    print(
        f"analyze_many, 10^4 series of 10^3 values, NSLefttoRight: {without:.2f} s without "
        f"p-values, {with_p:.2f} s with: ratio {with_p / without:.2f}"
    )
    runs, flagged = 100, 0
    started = time.perf_counter()
    for r in range(runs):
        rng = np.random.default_rng(60_000 + r)
        batch = [rng.normal(size=100) for _ in range(10_000)]
        frame = analyze_many(batch, method="NSLefttoRight", p_values=True, show_progress=False)
        flagged += bool((frame.q_value <= LEVEL).any())
    share = flagged / runs
    print(
        f"q-values, {runs} runs of 10^4 i.i.d. series of 100 values: share of runs with any "
        f"q <= {LEVEL} {share:.3f} (MC error {error(share, runs):.3f})   "
        f"({time.perf_counter() - started:.0f} s)"
    )


def nile() -> None:
    from statsmodels.datasets import nile

    flow = nile.load_pandas().data["volume"].to_numpy(dtype=float)
    print()
    print("Nile flow 1871-1970, by default:", verdict(flow).line())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("part", choices=("size", "power", "family", "rolling", "many"))
    parser.add_argument("--quick", action="store_true", help="a quarter of the power series")
    arguments = parser.parse_args()
    if arguments.part == "size":
        size()
    elif arguments.part == "power":
        power(arguments.quick)
    elif arguments.part == "family":
        family()
    elif arguments.part == "rolling":
        rolling_part()
    else:
        many_part()


if __name__ == "__main__":
    main()
