"""Are the p-values calibrated? Under i.i.d. continuous data the share of p <= alpha should be
alpha within its Monte-Carlo error, and the p-values uniform (KS distance) at every length,
tabulated or not, and with ties as well; under stationary dependent data the block null should
reject at 5% about 5%; and the 5% decision should rarely change between n and n + 1 values
where K changes. Fixed seeds: the same figures on every run.

    python benchmarks/calibration.py            # about 25 minutes on two cores
    python benchmarks/calibration.py --quick    # an eighth of the series, to try it
    python benchmarks/calibration.py --only iid|ties|block|flips
    python benchmarks/calibration.py --only iid --method NSdichotomy
"""

from __future__ import annotations

import argparse
import math
import time
import warnings

import numpy as np
from scenarios import DEPENDENT, SCENARIOS

from quorvel_tools import METHODS, UnclassifiedValuesWarning, analyze
from quorvel_tools.ranknull import RANK_BASED

LEVELS = (0.01, 0.05, 0.1)
# Tabulated lengths (50, 200, 10^4) and lengths between the table's points.
LENGTHS = (50, 200, 401, 555, 1000, 3333, 5003, 10_000, 20_011, 100_000, 333_333)
KS_LENGTHS = (401, 555, 1000, 5003, 20_011)
BLOCK_LENGTHS = (200, 1000, 5000)
BLOCK_METHODS = ("NSLocaltoGlobal", "NSLefttoRight", "NSCircleLefttoRight")
# n and n + 1 on either side of a change of the data-size K, and one pair within a run of K.
FLIP_PAIRS = ((423, 424), (5130, 5131), (1000, 1001))


def series_count(method: str, n: int, quick: bool) -> int:
    """Rank-based measures read a table: many series are cheap. NSdichotomy shuffles each."""
    if method in RANK_BASED:
        count = 20_000 if n in KS_LENGTHS else 4000 if n <= 10_000 else 1000
        count = 400 if n > 100_000 else count
    else:
        count = 1000 if n <= 1000 else 300 if n <= 10_000 else 100
    return max(50, count // 8) if quick else count


def draws_for(n: int) -> int:
    return 999 if n <= 1000 else 199 if n <= 10_000 else 99


def ks_distance(p: np.ndarray) -> float:
    """The Kolmogorov-Smirnov distance of the p-values to the uniform distribution."""
    p = np.sort(p)
    i = np.arange(1, len(p) + 1)
    return float(max(np.max(i / len(p) - p), np.max(p - (i - 1) / len(p))))


def p_values(
    method: str, draw, n: int, count: int, seed: int, null: str
) -> tuple[np.ndarray, str, list[float], int]:
    """The p-values of `count` series, where the last one's null came from and its draws, and
    the band factors (under the block null)."""
    rng = np.random.default_rng(seed)
    found, factors = [], []
    source, draws = "", 0
    for _ in range(count):
        result = analyze(
            draw(rng, n), method=method, null=null, permutations=draws_for(n), show_progress=False
        )
        found.append(result.p_value)
        if result.significance is not None:
            source, draws = result.significance.source, result.significance.draws
            factors.append(result.significance.band_factor or 1.0)
    return np.array(found), source, factors, draws


def iid_table(quick: bool, methods: tuple[str, ...] = METHODS) -> None:
    print("i.i.d. normal series, null='iid': share of p <= alpha (z: its distance from alpha")
    print("in Monte-Carlo standard errors of the series, sqrt(alpha (1 - alpha) / series); zt:")
    print("the same with the error of a shared null's own draws added, alpha (1 - alpha) /")
    print("draws, since a table or simulation is one sample for every series); KS: distance of")
    print("the p-values to the uniform (its Monte-Carlo 95% point is 1.36 / sqrt(series))")
    print(f"{'n':>7} {'method':<20} {'series':>6} {'source':<12}", end="")
    print("".join(f" {f'p<={a}':>8} {'z':>5} {'zt':>5}" for a in LEVELS), end="")
    print(f" {'KS':>6} {'KS 95%':>6}")
    for n in LENGTHS:
        for i, method in enumerate(METHODS):
            if method not in methods or (method not in RANK_BASED and n > 100_000):
                continue
            count = series_count(method, n, quick)
            started = time.perf_counter()
            iid = SCENARIOS["i.i.d. normal"]
            p, kind, _, draws = p_values(method, iid, n, count, 1000 * n + i, "iid")
            shared = not kind.endswith("permutations")
            cells = ""
            for a in LEVELS:
                share = float(np.mean(p <= a))
                z = (share - a) / math.sqrt(a * (1 - a) / count)
                total = math.sqrt(a * (1 - a) * (1 / count + (1 / draws if shared else 0)))
                cells += f" {share:8.4f} {z:5.1f} {(share - a) / total:5.1f}"
            cells += f" {ks_distance(p):6.3f} {1.36 / math.sqrt(count):6.3f}"
            print(f"{n:>7} {method:<20} {count:>6} {kind:<12}{cells}", end="")
            print(f"   ({time.perf_counter() - started:.0f} s)", flush=True)


def block_table(quick: bool) -> None:
    print()
    print("Stationary series, null='block': share of p <= 0.05 (Monte-Carlo error")
    print("sqrt(0.05 * 0.95 / series)) and the median band factor f; the iid null beside it")
    print(f"{'series':<22} {'n':>5} {'series':>6}", end="")
    print("".join(f" {m[2:]:>16}" for m in BLOCK_METHODS) + "   iid null (LtR)")
    for s, name in enumerate(("i.i.d. normal", *DEPENDENT)):
        for n in BLOCK_LENGTHS:
            count = 100 if quick else 800 if n <= 1000 else 400
            cells = ""
            for i, method in enumerate(BLOCK_METHODS):
                seed = 7919 * s + 13 * n + i
                p, _, factors, _ = p_values(method, SCENARIOS[name], n, count, seed, "block")
                cells += f" {np.mean(p <= 0.05):6.3f} f {np.median(factors):6.2f}"
            seed = 7919 * s + 13 * n + 1
            iid, _, _, _ = p_values("NSLefttoRight", SCENARIOS[name], n, count, seed, "iid")
            error = math.sqrt(0.05 * 0.95 / count)
            print(f"{name:<22} {n:>5} {count:>6}{cells}   {np.mean(iid <= 0.05):.3f}", end="")
            print(f"   (+-{error:.3f})", flush=True)


TIED = {
    "normal rounded to 0.1": lambda rng, n: np.round(rng.standard_normal(n), 1),
    "Poisson(3)": lambda rng, n: rng.poisson(3.0, n).astype(float),
    "integers 0..99": lambda rng, n: rng.integers(0, 100, n).astype(float),
}


def ties_table(quick: bool) -> None:
    # Poisson zeros lie below NSdichotomy's lowest boundary; the warning says so every series.
    warnings.simplefilter("ignore", UnclassifiedValuesWarning)
    print()
    print("i.i.d. series with ties, null='iid': share of p <= alpha (z in Monte-Carlo errors of")
    print("the series); the rank-based measures break the ties at random and read the table,")
    print("NSdichotomy stops its own shuffles once 10 reach the observed value")
    print(f"{'series':<22} {'n':>5} {'method':<20} {'series':>6} {'ties broken':>11}", end="")
    print("".join(f" {f'p<={a}':>8} {'z':>5}" for a in LEVELS) + f" {'draws':>6}")
    for s, (name, draw) in enumerate(TIED.items()):
        for n in (100, 1000):
            for i, method in enumerate(METHODS):
                count = 1000 if method in RANK_BASED else 300
                count = max(50, count // 8) if quick else count
                rng = np.random.default_rng(60_013 * s + 7 * n + i)
                found = [
                    analyze(draw(rng, n), method=method, show_progress=False) for _ in range(count)
                ]
                p = np.array([r.p_value for r in found])
                broken = np.mean([r.significance.ties_broken for r in found])
                draws = np.mean([r.significance.draws for r in found])
                cells = ""
                for a in LEVELS:
                    share = float(np.mean(p <= a))
                    cells += f" {share:8.4f} {(share - a) / math.sqrt(a * (1 - a) / count):5.1f}"
                print(f"{name:<22} {n:>5} {method:<20} {count:>6} {broken:11.2f}{cells}", end="")
                print(f" {draws:6.0f}", flush=True)


def flip_table(quick: bool) -> None:
    print()
    print("i.i.d. series of n + 1 values: share whose 5% decision differs between the first n")
    print("values and all n + 1 (null='iid'; K of each length in brackets)")
    from quorvel_tools.config import classes_for_size

    for n, m in FLIP_PAIRS:
        count = 500 if quick else 4000
        cells = []
        for i, method in enumerate(BLOCK_METHODS):
            rng = np.random.default_rng(31 * n + i)
            flips = 0
            for _ in range(count):
                x = rng.standard_normal(m)
                first = analyze(x[:n], method=method, show_progress=False).p_value <= 0.05
                flips += first != (analyze(x, method=method, show_progress=False).p_value <= 0.05)
            cells.append(f"{method[2:]} {flips / count:.4f}")
        ks = f"[K {classes_for_size(n)} -> {classes_for_size(m)}]"
        print(f"  {n} -> {m} {ks:<14} {count} series: " + "  ".join(cells), flush=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="an eighth of the series")
    tables = {"iid": iid_table, "ties": ties_table, "block": block_table, "flips": flip_table}
    parser.add_argument("--only", choices=tuple(tables), help="one of the tables")
    parser.add_argument("--method", choices=METHODS, help="the iid table of one measure only")
    arguments = parser.parse_args()
    for name, table in tables.items():
        if arguments.only in (None, name):
            if name == "iid" and arguments.method:
                iid_table(arguments.quick, (arguments.method,))
            else:
                table(arguments.quick)


if __name__ == "__main__":
    main()
