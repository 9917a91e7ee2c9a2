"""Leak and soak check: many runs across every measure and method in one process, with failing
calls in between, printing the resident memory as it goes.

    python benchmarks/soak.py [--runs 100000] [--report-every 10000]

Resident memory should settle after the first reports and then stay flat; the script exits with
status 1 when it grows by more than --tolerance-mb between the first and the last report.
"""

import argparse
import math
import random
import resource

import numpy as np

import quorvel
from quorvel_tools.config import METHODS

EXPECTED = (ValueError, IndexError, RuntimeError, MemoryError, TypeError)


def resident_mb():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize() / 2**20


def one_step(est, rng, step):
    """One successful run of some measure and method, then one call that must fail."""
    name = METHODS[step % len(METHODS)]
    n = rng.randint(1, 300)
    window = [rng.gauss(0.0, 1.0) + 0.01 * j for j in range(n)]
    K = rng.randint(1, 40)
    kind = step % 5
    if kind == 0:
        est.setup(K, 1.96, rng.choice([0.0, 0.5, 0.925845, 1.1]), rng.choice([0, 1, 2]))
        est.nsFunc(name, window)
    elif kind == 1:
        est.setupDS(n + 1)
        est.nsFunc(name, np.asarray(window))
    elif kind == 2:
        est.setup(K, 1.96, 0.925845, rng.choice([0, 1]))
        est.data = window
        first = rng.randint(0, n - 1)
        est.nsFuncRange(name, first, rng.randint(first + 1, n))
    elif kind == 3:
        est.setup(K, math.inf, 0.9, 1)
        est.nsFunc(name, [1e308, -1e308, 5e-324, math.inf][: rng.randint(1, 4)])
    else:
        est.setup(K, 1.96, 0.925845, 1)
        est.nsFunc(name, window)
    est.getA()
    est.getH()
    est.getH0()

    failing = (
        lambda: est.nsFunc(name, []),
        lambda: est.nsFunc(name, [1.0, math.nan]),
        lambda: est.nsFunc("nslefttoright", window),
        lambda: est.nsFuncRange(name, 2, 1),
        lambda: est.nsFuncRange(name, 0, 2**64 - 1),
        lambda: est.setup(0x1555555555555555, 1.96, 0.9, 1),  # releases the table
        lambda: est.setup(2**31, 1.96, 0.9, 1),
        lambda: est.setup(3, 1.96, math.nan, 1),
        lambda: est.setupDS(0),
        lambda: (
            est.setup(0, 1.96, 0.9, 1),
            est.nsFunc(name, window),
        ),  # fails inside the run
        lambda: est.setup(-1, 1.96, 0.9, 1),
        lambda: quorvel.NonStationary().getA(),
    )
    try:
        failing[step % len(failing)]()
    except EXPECTED:
        pass
    else:
        raise AssertionError(f"step {step}: no error")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=100_000)
    parser.add_argument("--report-every", type=int, default=10_000)
    parser.add_argument("--tolerance-mb", type=float, default=2.0)
    args = parser.parse_args()

    rng = random.Random(4)
    est = quorvel.NonStationary()
    reports = []
    print(f"{'runs':>8} {'resident MB':>12}")
    for step in range(1, args.runs + 1):
        one_step(est, rng, step)
        if step % args.report_every == 0:
            reports.append(resident_mb())
            print(f"{step:>8} {reports[-1]:>12.2f}", flush=True)
    growth = reports[-1] - reports[0]
    print(f"growth from the first to the last report: {growth:+.2f} MB")
    raise SystemExit(0 if growth <= args.tolerance_mb else 1)


if __name__ == "__main__":
    main()
