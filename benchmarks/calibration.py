"""Are the p-values calibrated? Under i.i.d. continuous data the share of p <= alpha should be
alpha, within its Monte-Carlo error; under AR(1) data the block null should reject at 5% no more
than about 5%. Fixed seeds: the same figures on every run.

    python benchmarks/calibration.py            # about 20 minutes on two cores
    python benchmarks/calibration.py --quick    # fewer series, to try it
"""

from __future__ import annotations

import argparse
import math
import time

import numpy as np
from scenarios import SCENARIOS

from quorvel_tools import METHODS, analyze
from quorvel_tools.ranknull import RANK_BASED

LEVELS = (0.01, 0.05, 0.1)
# On the tables' grid (50, 200, 10^4) and between its points (1000, 3333, 10^5, 333333).
LENGTHS = (50, 200, 1000, 3333, 10_000, 100_000, 333_333)


def series_count(method: str, n: int, quick: bool) -> int:
    """Rank-based measures read a table: many series are cheap. NSdichotomy shuffles each."""
    if method in RANK_BASED:
        count = 4000 if n <= 10_000 else 1000 if n <= 100_000 else 400
    else:
        count = 1000 if n <= 1000 else 300 if n <= 10_000 else 100
    return max(50, count // 8) if quick else count


def draws_for(n: int) -> int:
    return 999 if n <= 1000 else 199 if n <= 10_000 else 99


def p_values(method: str, draw, n: int, count: int, seed: int, null: str) -> tuple[np.ndarray, str]:
    """The p-values of `count` series, and where the last one's null came from."""
    rng = np.random.default_rng(seed)
    found = []
    source = ""
    for _ in range(count):
        result = analyze(
            draw(rng, n), method=method, null=null, permutations=draws_for(n), show_progress=False
        )
        found.append(result.p_value)
        source = result.significance.source if result.significance else ""
    return np.array(found), source


def iid_table(quick: bool) -> None:
    print("i.i.d. normal series, null='iid': share of p <= alpha (z: its distance from alpha")
    print("in Monte-Carlo standard errors, sqrt(alpha (1 - alpha) / series))")
    print(f"{'n':>7} {'method':<20} {'series':>6} {'source':<12}", end="")
    print("".join(f" {f'p<={a}':>8} {'z':>5}" for a in LEVELS))
    for n in LENGTHS:
        for i, method in enumerate(METHODS):
            if method not in RANK_BASED and n > 100_000:
                continue
            count = series_count(method, n, quick)
            started = time.perf_counter()
            p, kind = p_values(method, SCENARIOS["i.i.d. normal"], n, count, 1000 * n + i, "iid")
            cells = ""
            for a in LEVELS:
                share = float(np.mean(p <= a))
                z = (share - a) / math.sqrt(a * (1 - a) / count)
                cells += f" {share:8.4f} {z:5.1f}"
            print(f"{n:>7} {method:<20} {count:>6} {kind:<12}{cells}", end="")
            print(f"   ({time.perf_counter() - started:.0f} s)", flush=True)


def dependent_table(quick: bool) -> None:
    print()
    print("AR(1) series: share of p <= 0.05 under each null (the block null should stay <= 0.10)")
    print(f"{'series':<10} {'n':>6} {'method':<20} {'count':>5} {'iid':>6} {'block':>6}")
    for name in ("AR(1) 0.5", "AR(1) 0.9"):
        for n in (200, 1000, 10_000):
            for i, method in enumerate(METHODS):
                count = 1000 if n <= 200 else 300 if n <= 1000 else 150
                count = max(40, count // 5) if quick else count
                seed = 7 * n + i + (1 if name.endswith("0.9") else 0)
                shares = [
                    float(
                        np.mean(p_values(method, SCENARIOS[name], n, count, seed, null)[0] <= 0.05)
                    )
                    for null in ("iid", "block")
                ]
                print(
                    f"{name:<10} {n:>6} {method:<20} {count:>5} {shares[0]:6.3f} {shares[1]:6.3f}"
                )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="an eighth of the series")
    parser.add_argument("--only", choices=("iid", "dependent"), help="one of the two tables")
    arguments = parser.parse_args()
    if arguments.only != "dependent":
        iid_table(arguments.quick)
    if arguments.only != "iid":
        dependent_table(arguments.quick)


if __name__ == "__main__":
    main()
