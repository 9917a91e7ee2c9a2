"""Two builds of the module timed against each other, for a change that should cost nothing: the
builds run in alternating processes, each cell keeps its best time over the rounds, and the
table gives the ratio B/A per cell and its geometric mean per measure. It also checks that both
builds give the same value in every cell.

A build is an install directory, made on each commit with
    pip install . --no-deps --no-build-isolation --target DIR

Usage: python benchmarks/compare_builds.py DIR_A DIR_B [--rounds 3] [--sizes 100 1000 ...]
                                           [--kinds noise walk ...] [--measures NSLefttoRight ...]
"""

from __future__ import annotations

import argparse
import json
import math
import subprocess
import sys
from pathlib import Path

SIZES = [100, 1_000, 10_000, 100_000, 1_000_000]
KINDS = ["noise", "walk", "variance", "int100"]
MEASURES = ["NSLocaltoGlobal", "NSLefttoRight", "NSdichotomy", "NSCircleLefttoRight"]


def child(build: str, sizes: list[int], kinds: list[str], measures: list[str]) -> None:
    """Times every cell with the build at `build`; prints one JSON line per cell."""
    sys.path.insert(0, build)
    sys.path.insert(1, str(Path(__file__).parent))
    import numpy as np
    from bench_measures import KINDS as GENERATORS
    from bench_measures import best_time

    import quorvel

    if not quorvel.__file__ or not quorvel.__file__.startswith(build):
        raise SystemExit(f"{build} holds no build of the module (found {quorvel.__file__})")
    for n in sizes:
        for kind in kinds:
            # Many short series, not one: a single one repeated is learnt by the branch predictor.
            rng = np.random.default_rng(12345)
            series = [GENERATORS[kind](rng, n) for _ in range(max(1, 20_000 // n))]
            estimator = quorvel.NonStationary()
            estimator.setupDS(n)
            for name in measures:

                def measure_all(
                    name: str = name,
                    estimator: quorvel.NonStationary = estimator,
                    series: list[np.ndarray] = series,
                ) -> list[float]:
                    return [estimator.nsFunc(name, x) for x in series]

                seconds = best_time(measure_all, 5) / len(series)
                value = repr(sum(measure_all()))
                cell = {"n": n, "kind": kind, "measure": name, "seconds": seconds}
                print(json.dumps({**cell, "value": value}), flush=True)


Cell = tuple[int, str, str]


def run(build: str, args: argparse.Namespace) -> list[tuple[Cell, float, str]]:
    """(cell, seconds, value) of every cell, timed in a process of its own."""
    command = [sys.executable, __file__, "--child", build, "--sizes", *map(str, args.sizes)]
    command += ["--kinds", *args.kinds, "--measures", *args.measures]
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    timed = []
    for line in output.splitlines():
        cell = json.loads(line)
        key = (int(cell["n"]), str(cell["kind"]), str(cell["measure"]))
        timed.append((key, float(cell["seconds"]), str(cell["value"])))
    return timed


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("builds", nargs="*", metavar="DIR")
    parser.add_argument("--child", metavar="DIR", help=argparse.SUPPRESS)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--sizes", nargs="+", type=int, default=SIZES)
    parser.add_argument("--kinds", nargs="+", default=KINDS)
    parser.add_argument("--measures", nargs="+", default=MEASURES)
    args = parser.parse_args()
    if args.child:
        child(args.child, args.sizes, args.kinds, args.measures)
        return
    if len(args.builds) != 2:
        parser.error("give two build directories, A and B")
    best: list[dict[Cell, float]] = [{}, {}]
    values: list[dict[Cell, str]] = [{}, {}]
    for _ in range(args.rounds):
        for side, build in enumerate(args.builds):
            for key, seconds, value in run(build, args):
                best[side][key] = min(best[side].get(key, math.inf), seconds)
                values[side][key] = value
    print(f"{'n':>9} {'kind':>9} {'measure':>20} {'A (us)':>11} {'B (us)':>11}  B/A")
    logs: dict[str, list[float]] = {}
    for key in sorted(best[0]):
        ratio = best[1][key] / best[0][key]
        logs.setdefault(key[2], []).append(math.log(ratio))
        same = "" if values[0][key] == values[1][key] else "  VALUES DIFFER"
        print(
            f"{key[0]:>9} {key[1]:>9} {key[2]:>20} {best[0][key] * 1e6:>11.2f} "
            f"{best[1][key] * 1e6:>11.2f}  {ratio:.3f}{same}"
        )
    for name, ratios in logs.items():
        print(f"{name}: geometric mean of B/A {math.exp(sum(ratios) / len(ratios)):.3f}")


if __name__ == "__main__":
    main()
