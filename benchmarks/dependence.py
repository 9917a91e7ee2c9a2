"""The block null's band factor: what it must be, and what the rule gives. Fixed seeds.

The block null tests the measure at band multiplier z sqrt(f) against the i.i.d. null at z.
The first table fixes f by hand for every series: it shows the factor a stationary series needs
(the smallest f whose rejection is near 5%) and how much power a departure keeps at that f. The
second gives the rule's own factor (`quorvel_tools.dependence.band_factor`, median and 10% to
90% over the series). A random walk needs f below about 5 for a rejection above 0.9 at
n = 1000, AR(1) 0.9 needs f above about 4.5 for one below 0.12: any factor read from the series
sees the random walk as the more persistent of the two, so both cannot hold there.

    python benchmarks/dependence.py             # about 4 minutes on two cores
    python benchmarks/dependence.py --quick
"""

from __future__ import annotations

import argparse
import math

import numpy as np
from scenarios import SCENARIOS

from quorvel_tools import analyze
from quorvel_tools.dependence import band_factor
from quorvel_tools.nullmodels import NullModel

FACTORS = (1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0, 12.0)
ROWS = ("i.i.d. normal", "AR(1) 0.6", "AR(1) 0.9", "AR(1) 0.97", "MA(1) 0.8", "GARCH(1,1)",
        "random walk", "level shift 1 sd", "level shift 1.5 sd", "linear trend (1 sd)",
        "AR(1) 0.5 + 1 sd shift")  # fmt: skip


def fixed(factor: float) -> NullModel:
    """The block null with the factor set by hand."""
    return NullModel(
        f"f = {factor}",
        "shuffle",
        "permutations",
        shares_rank_null=True,
        asks="",
        widening=lambda values: factor,
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a quarter of the series")
    parser.add_argument("--n", type=int, default=1000, help="the series' length")
    parser.add_argument("--method", default="NSLefttoRight")
    arguments = parser.parse_args()
    n, method = arguments.n, arguments.method
    count = 50 if arguments.quick else 200
    print(f"{method}, n = {n}, {count} series a row: share of p <= 0.05 with the band factor")
    print(f"f fixed by hand (Monte-Carlo error at most {0.5 / math.sqrt(count):.3f}), and the")
    print("rule's factor: its median [10%, 90%] and the share it rejects")
    print(f"{'series':<24}" + "".join(f" {f:>5}" for f in FACTORS) + "   rule: f, share")
    for s, name in enumerate(ROWS):
        rng = np.random.default_rng(104_729 * s + n)
        series = [SCENARIOS[name](rng, n) for _ in range(count)]
        cells = ""
        for factor in FACTORS:
            model = fixed(factor)
            found = [analyze(x, method=method, null=model).p_value <= 0.05 for x in series]
            cells += f" {np.mean(found):5.2f}"
        factors = np.array([band_factor(x) for x in series])
        rule = [analyze(x, method=method, null="block").p_value <= 0.05 for x in series]
        low, mid, high = np.quantile(factors, (0.1, 0.5, 0.9))
        print(f"{name:<24}{cells}   {mid:5.1f} [{low:4.1f}, {high:4.1f}], {np.mean(rule):.2f}")


if __name__ == "__main__":
    main()
