"""Prints how long rolling() takes against calling the module directly on each window."""

import time

import numpy as np

import quorvel
from quorvel_tools import rolling

N, WINDOW, STEP, METHOD = 20_000, 500, 10, "NSLefttoRight"


def seconds(work) -> float:
    """Best of three runs: the machine is shared, the least disturbed run is the figure."""
    times = []
    for _ in range(3):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def direct_calls(series: np.ndarray) -> None:
    estimator = quorvel.NonStationary()
    estimator.setupDS(WINDOW)
    for start in range(0, N - WINDOW + 1, STEP):
        estimator.nsFunc(METHOD, series[start : start + WINDOW])


def main() -> None:
    series = np.random.default_rng(0).normal(size=N).cumsum()
    windows = len(range(0, N - WINDOW + 1, STEP))
    layer = seconds(lambda: rolling(series, WINDOW, step=STEP, method=METHOD, show_progress=False))
    direct = seconds(lambda: direct_calls(series))
    print(f"{windows} windows of {WINDOW} values, {METHOD}")
    print(f"  rolling():                   {layer:.3f} s ({1e6 * layer / windows:.0f} us/window)")
    print(f"  nsFunc on each window view:  {direct:.3f} s ({1e6 * direct / windows:.0f} us/window)")


if __name__ == "__main__":
    main()
