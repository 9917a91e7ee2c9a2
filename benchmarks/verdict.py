"""The combined test (`verdict`): its size under i.i.d. data, its power beside the best single
measure at the data-size K on the series of power.py, and the Nile. Fixed seeds.

Size: the share of i.i.d. normal series with verdict p <= 0.05, 2,000 series a length; the
test is exact for any number of draws (the observed vector is exchangeable with the draws and
ties are broken at random), so fewer draws at long lengths cost resolution, not level.
Power: the share called non-stationary at 5% by the verdict and by each measure at the
data-size K with null="iid" (its own p-value, as `analyze` gives it), on the same series.

    python benchmarks/verdict.py size            # about 10 minutes on one core
    python benchmarks/verdict.py power           # about 15 minutes on one core
    python benchmarks/verdict.py power --quick   # a quarter of the series
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


def nile() -> None:
    from statsmodels.datasets import nile

    flow = nile.load_pandas().data["volume"].to_numpy(dtype=float)
    print()
    print("Nile flow 1871-1970, by default:", verdict(flow).line())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("part", choices=("size", "power"))
    parser.add_argument("--quick", action="store_true", help="a quarter of the power series")
    arguments = parser.parse_args()
    if arguments.part == "size":
        size()
    else:
        power(arguments.quick)


if __name__ == "__main__":
    main()
