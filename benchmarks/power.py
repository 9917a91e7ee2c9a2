"""What the measures detect, beside the KPSS and ADF tests: for each kind of series, the share
of series that each test calls non-stationary at the 5% level. Fixed seeds.

A measure or KPSS calls a series non-stationary when its p-value is at most 0.05 (KPSS with a
constant, lags by statsmodels' automatic rule; its p-values are read from a table clipped to
[0.01, 0.1], which is enough at 5%). ADF's null is the opposite one, a unit root: it calls a
series non-stationary when it does not reject that null (p > 0.05; lags by AIC up to
4 (n/100)^(1/4)). The
measures use null="iid", and the rank-based ones null="block" too (NSdichotomy's block null
would double its cost, 199 shuffles a series); a last table follows the block null as a level
shift grows, at n = 2,000.

    pip install ".[bench]"
    python benchmarks/power.py                  # about 15 minutes on two cores
    python benchmarks/power.py --plot power.png  # and a figure of the level shifts
"""

from __future__ import annotations

import argparse
import time
import warnings

import numpy as np
from scenarios import SCENARIOS

from quorvel_tools import METHODS, analyze
from quorvel_tools.ranknull import RANK_BASED

LENGTHS = (100, 1000, 10_000)
LEVEL = 0.05
SHORT = {"NSLocaltoGlobal": "LtG", "NSLefttoRight": "LtR", "NSdichotomy": "dich",
         "NSCircleLefttoRight": "circ"}  # fmt: skip


def series_count(n: int, quick: bool) -> int:
    count = 200 if n <= 1000 else 100
    return count // 4 if quick else count


def draws_for(n: int) -> int:
    """Shuffles where a p-value needs them (NSdichotomy, the block null)."""
    return 199 if n <= 1000 else 99


def schwert_lags(n: int) -> int:
    """ADF's longest lag, 4 (n/100)^(1/4): a third of statsmodels' default, which costs about a
    second a series at n = 10^4."""
    return int(4 * (n / 100) ** 0.25)


def flags(draw, n: int, count: int, seed: int) -> dict[str, float]:
    from statsmodels.tools.sm_exceptions import InterpolationWarning
    from statsmodels.tsa.stattools import adfuller, kpss

    rng = np.random.default_rng(seed)
    found: dict[str, list[bool]] = {}
    for _ in range(count):
        x = draw(rng, n)
        for method in METHODS:
            for null in ("iid", "block") if method in RANK_BASED else ("iid",):
                p = analyze(
                    x, method=method, null=null, permutations=draws_for(n), show_progress=False
                )
                found.setdefault(f"{SHORT[method]} {null}", []).append(p.p_value <= LEVEL)
        with warnings.catch_warnings():
            # p-values clipped to the table's ends, and notes on statsmodels' future return types
            warnings.simplefilter("ignore", InterpolationWarning)
            warnings.simplefilter("ignore", FutureWarning)
            found.setdefault("KPSS", []).append(kpss(x, "c", nlags="auto")[1] <= LEVEL)
            unit_root = adfuller(x, maxlag=schwert_lags(n), autolag="AIC")[1]
            found.setdefault("ADF", []).append(unit_root > LEVEL)
    return {key: float(np.mean(values)) for key, values in found.items()}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a quarter of the series")
    parser.add_argument("--plot", metavar="OUT.png", help="draw the level-shift rows")
    arguments = parser.parse_args()
    columns = [f"{SHORT[m]} iid" for m in METHODS] + ["KPSS", "ADF"]
    columns += [f"{SHORT[m]} block" for m in RANK_BASED]
    print(f"share of series called non-stationary at {LEVEL:.0%} (ADF: unit root not rejected);")
    print("Monte-Carlo error at most 0.035 (200 series) and 0.05 (100 series at n = 10^4)")
    print(f"{'series':<24} {'n':>6}" + "".join(f" {c:>9}" for c in columns))
    table: dict[tuple[str, int], dict[str, float]] = {}
    for s, (name, draw) in enumerate(SCENARIOS.items()):
        for n in LENGTHS:
            started = time.perf_counter()
            found = flags(draw, n, series_count(n, arguments.quick), 1009 * s + n)
            table[name, n] = found
            cells = "".join(f" {found[c]:9.3f}" for c in columns)
            print(f"{name:<24} {n:>6}{cells}   ({time.perf_counter() - started:.0f} s)")
    shift_table(arguments.quick)
    classes_table(arguments.quick)
    nile_table()
    if arguments.plot:
        plot(table, arguments.plot)


def shift_table(quick: bool) -> None:
    """The block null's power should grow with the size of a level shift, never fall."""
    from scenarios import level_shift

    n, count = 2000, 50 if quick else 200
    sizes = (0.5, 0.75, 1.0, 1.25, 1.5, 1.75, 2.0)
    print()
    print(f"null='block', level shift at the middle, n = {n}, {count} series a cell:")
    print(f"{'measure':<22}" + "".join(f" {f'{size} sd':>7}" for size in sizes))
    for method in RANK_BASED:
        shares = []
        for size in sizes:
            rng = np.random.default_rng(int(100 * size) + len(method))
            draw = level_shift(size)
            found = [
                analyze(draw(rng, n), method=method, null="block").p_value <= LEVEL
                for _ in range(count)
            ]
            shares.append(float(np.mean(found)))
        print(f"{method:<22}" + "".join(f" {v:7.3f}" for v in shares), flush=True)


def classes_table(quick: bool) -> None:
    """How the number of classes trades resolution for power (NSLefttoRight, null="iid")."""
    print()
    print("NSLefttoRight with a given number of classes K (null simulated once per K and n):")
    choices = (3, 4, 6, 10, None)
    print(
        f"{'series':<22} {'n':>6}" + "".join(f" {f'K={k}' if k else 'K=data':>8}" for k in choices)
    )
    for name in ("i.i.d. normal", "level shift 0.5 sd", "level shift 1 sd", "variance x2",
                 "normal to uniform"):  # fmt: skip
        for n in (100, 1000):
            count = series_count(n, quick)
            shares = []
            for k in choices:
                rng = np.random.default_rng(31 * n + len(name))
                rejected = [
                    analyze(SCENARIOS[name](rng, n), classes=k, show_progress=False).p_value
                    <= LEVEL
                    for _ in range(count)
                ]
                shares.append(float(np.mean(rejected)))
            print(f"{name:<22} {n:>6}" + "".join(f" {v:8.3f}" for v in shares))


def nile_table() -> None:
    """The Nile's annual flow at Aswan, 1871-1970, with its drop around 1898."""
    from statsmodels.datasets import nile

    flow = nile.load_pandas().data["volume"].to_numpy(dtype=float)
    print()
    print("Nile flow 1871-1970 (100 values, tied: the rank-based measures break the ties at")
    print("random and read the null of distinct values, NSdichotomy draws its own; seed 1):")
    for k in (3, 4, 6, 8, None):
        found = {m: analyze(flow, method=m, classes=k, seed=1) for m in METHODS}
        cells = "  ".join(f"{SHORT[m]} {r.value:.3f} (p {r.p_value:.3f})" for m, r in found.items())
        label = f"K = {found['NSLefttoRight'].classes}" + (" (data size)" if k is None else "")
        print(f"  {label:<20} {cells}")


def plot(table: dict[tuple[str, int], dict[str, float]], path: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rows = [name for name in SCENARIOS if name.startswith(("level", "variance"))] + [
        "normal to uniform"
    ]
    figure, axes = plt.subplots(1, len(LENGTHS), figsize=(13, 4), sharey=True)
    for ax, n in zip(axes, LENGTHS, strict=True):
        keys = ["LtR iid", "dich iid", "circ iid", "KPSS", "ADF"]
        width = 0.8 / len(keys)
        for k, key in enumerate(keys):
            ax.bar(
                np.arange(len(rows)) + k * width,
                [table[row, n][key] for row in rows],
                width,
                label=key,
            )
        ax.set_xticks(np.arange(len(rows)) + 0.4 - width / 2, rows, rotation=60, ha="right")
        ax.set_title(f"n = {n}")
        ax.axhline(LEVEL, color="black", linewidth=0.5)
    axes[0].set_ylabel("share called non-stationary")
    axes[0].legend(fontsize=8)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    print(f"wrote {path}")


if __name__ == "__main__":
    main()
