"""What a p-value costs: analyze() with its p-value against the module's nsFunc on the same
tie-free series, and a rolling run with p-values against one without. Best of several runs,
in one process.

    python benchmarks/bench_pvalues.py
"""

from __future__ import annotations

import argparse
import time

import numpy as np
from bench_batch import best

import quorvel
from quorvel_tools import analyze, rolling
from quorvel_tools.nulltable import null_table
from quorvel_tools.ranknull import RANK_BASED


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=7)
    arguments = parser.parse_args()
    n = arguments.n
    x = np.random.default_rng(1).standard_normal(n)
    started = time.perf_counter()
    null_table()
    print(f"loading the null tables: {1000 * (time.perf_counter() - started):.0f} ms, once")
    estimator = quorvel.NonStationary()
    estimator.setupDS(n)
    print(f"n = {n:,}, normal values; best of {arguments.repeat}")
    print(f"{'measure':<20} {'nsFunc':>9} {'analyze':>9} {'+ p-value':>10} {'ratio':>6}")
    for method in RANK_BASED:
        module = best(lambda m=method: estimator.nsFunc(m, x), arguments.repeat)
        plain = best(lambda m=method: analyze(x, method=m, p_values=False), arguments.repeat)
        tested = best(lambda m=method: analyze(x, method=m), arguments.repeat)
        print(
            f"{method:<20} {1000 * module:7.1f}ms {1000 * plain:7.1f}ms {1000 * tested:8.1f}ms "
            f"{tested / module:6.2f}"
        )
    long = np.random.default_rng(2).standard_normal(100_000)
    long[50_000:] += 0.3
    print()
    print("rolling NSLefttoRight over 100,000 values (every core):")
    for label, window, step in (
        ("windows of 500, step 10", 500, 10),
        ("windows of 5,000, step 100", 5000, 100),
    ):
        without = best(lambda w=window, s=step: rolling(long, w, step=s), 3)
        with_p = best(lambda w=window, s=step: rolling(long, w, step=s, p_values=True), 3)
        print(
            f"  {label}: {1000 * without:.0f} ms without p-values, {1000 * with_p:.0f} ms with "
            f"({with_p / without:.2f} times)"
        )


if __name__ == "__main__":
    main()
