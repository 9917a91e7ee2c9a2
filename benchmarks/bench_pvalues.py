"""What a p-value costs, as a multiple of one run of the measure in the same process: analyze()
with its p-value against the module's nsFunc on the same series, for tie-free and tied data,
NSdichotomy and the block null, stationary series and clearly non-stationary ones; a rolling
run with p-values against one without; and, with --long, a tied series of 10^7 values and the
command on 2 * 10^6 values with and without p-values. Best of several runs.

    python benchmarks/bench_pvalues.py                # about 3 minutes on two cores
    python benchmarks/bench_pvalues.py --long         # and the command on a long file
"""

from __future__ import annotations

import argparse
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
from bench_batch import best

import quorvel
from quorvel_tools import analyze, rolling
from quorvel_tools.nulltable import null_table
from quorvel_tools.ranknull import RANK_BASED

KINDS = {
    "tie-free normal": lambda rng, n: rng.standard_normal(n),
    "normal rounded to 0.1": lambda rng, n: np.round(rng.standard_normal(n), 1),
    "Poisson(3)": lambda rng, n: rng.poisson(3.0, n).astype(float),
    "integers 0..99": lambda rng, n: rng.integers(0, 100, n).astype(float),
}


def shifted(values: np.ndarray) -> np.ndarray:
    """The same values with a shift of one standard deviation in the second half."""
    out = values.copy()
    out[len(out) // 2 :] += np.std(values)
    return out


def cost_row(label: str, method: str, x: np.ndarray, repeat: int, **settings: object) -> None:
    estimator = quorvel.NonStationary()
    estimator.setupDS(len(x))
    module = best(lambda: estimator.nsFunc(method, x), repeat)
    found = analyze(x, method=method, **settings)
    tested = best(lambda: analyze(x, method=method, **settings), repeat)
    significance = found.significance
    path = f"{significance.source}{', ties broken' if significance.ties_broken else ''}"
    print(
        f"  {label:<48} {method:<20} {1000 * module:8.2f}ms {1000 * tested:9.2f}ms "
        f"{tested / module:7.1f}x  p {found.p_value:.3g} ({path}, {significance.draws} draws)",
        flush=True,
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument(
        "--long",
        action="store_true",
        help="a tied series of 10^7 values and the command on 2 * 10^6",
    )
    arguments = parser.parse_args()
    repeat = arguments.repeat
    started = time.perf_counter()
    null_table()
    print(f"loading the null tables: {1000 * (time.perf_counter() - started):.0f} ms, once")
    print(f"analyze() with its p-value against nsFunc (best of {repeat}; {100 * repeat} at 10^3):")
    print(f"  {'series':<48} {'measure':<20} {'nsFunc':>10} {'+ p-value':>11} {'ratio':>8}")
    rng = np.random.default_rng(1)
    n = 1_000_000
    x = rng.standard_normal(n)
    for method in RANK_BASED:
        cost_row(f"tie-free normal, n = {n:,}", method, x, repeat)
    for n in (1000, 100_000):
        # A call on 10^3 values takes well under a millisecond: the best of a few would keep
        # the scatter of a shared machine.
        runs = repeat if n > 10_000 else 100 * repeat
        for name, draw in KINDS.items():
            if name == "tie-free normal":
                continue
            x = draw(rng, n)
            for method in RANK_BASED:
                cost_row(f"{name}, n = {n:,}", method, x, runs)
                cost_row(f"{name} + 1 sd shift, n = {n:,}", method, shifted(x), runs)
    n = 100_000
    # Stationary series differ in how many draws reach their value: three of them.
    for seed in (11, 12, 13):
        x = np.random.default_rng(seed).standard_normal(n)
        cost_row(f"normal (seed {seed}), n = {n:,}", "NSdichotomy", x, 3)
        cost_row(
            f"normal (seed {seed}), null='block', n = {n:,}", "NSLefttoRight", x, 3, null="block"
        )
    cost_row(f"normal + 1 sd shift, n = {n:,}", "NSdichotomy", shifted(x), 3)
    cost_row(
        f"normal + 1 sd shift, null='block', n = {n:,}",
        "NSLefttoRight",
        shifted(x),
        3,
        null="block",
    )
    print()
    print("rolling NSLefttoRight with p-values against without:")
    for label, series, window, step in (
        ("windows of 100, step 1, 5,000 values to 0.01", np.round(x[:5000], 2), 100, 1),
        ("windows of 500, step 10, 10^5 values", shifted(x), 500, 10),
        ("windows of 5,000, step 100, 10^5 values", shifted(x), 5000, 100),
    ):
        without = best(lambda s=series, w=window, t=step: rolling(s, w, step=t), 3)
        with_p = best(lambda s=series, w=window, t=step: rolling(s, w, step=t, p_values=True), 3)
        print(
            f"  {label}: {1000 * without:.0f} ms without p-values, {1000 * with_p:.0f} ms with "
            f"({with_p / without:.2f} times)",
            flush=True,
        )
    if arguments.long:
        print()
        x = np.round(np.random.default_rng(7).standard_normal(10_000_000), 2)
        cost_row("normal rounded to 0.01, n = 10,000,000", "NSLefttoRight", x, 2)
        command_rows()


def command_rows() -> None:
    """`quorvel FILE` with default settings on 2 * 10^6 values written with 6 decimals: the
    file of seed 5, then those of seeds 6 to 10, since NSdichotomy's own shuffles (nearly all
    of the cost) stop sooner the farther its p-value lies from the level."""
    print()
    for seed in range(5, 11):
        values = np.random.default_rng(seed).standard_normal(2_000_000)
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "long.csv"
            np.savetxt(path, values, fmt="%.6f")
            times = {}
            shown = ""
            for label, extra in (("with p-values", []), ("--no-p-values", ["--no-p-values"])):
                command = [sys.executable, "-m", "quorvel_tools", str(path), *extra]

                def run(command: list[str] = command) -> None:
                    nonlocal shown
                    shown = subprocess.run(
                        command, check=True, capture_output=True, text=True
                    ).stdout

                times[label] = best(run, 2 if seed == 5 else 1)
                if label == "with p-values":
                    row = next(line for line in shown.splitlines() if " NSdichotomy " in line)
                    dichotomy_p = row.split()[-1]
        ratio = times["with p-values"] / times["--no-p-values"]
        print(
            f"quorvel FILE, 2,000,000 values with 6 decimals (seed {seed}, NSdichotomy's p"
            f" {dichotomy_p}): {times['with p-values']:.2f} s, against"
            f" {times['--no-p-values']:.2f} s with --no-p-values ({ratio:.2f} times)",
            flush=True,
        )


if __name__ == "__main__":
    main()
