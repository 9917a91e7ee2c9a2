"""Run the four measures on series built here: steady noise, and the same values as a trend."""

import numpy as np

import quorvel

MEASURES = ("NSLocaltoGlobal", "NSLefttoRight", "NSdichotomy", "NSCircleLefttoRight")


def report(title: str, series: np.ndarray) -> None:
    estimator = quorvel.NonStationary()
    estimator.setupDS(len(series))
    print(f"{title} ({len(series)} values):")
    for name in MEASURES:
        result = estimator.nsFunc(name, series)
        print(
            f"  {name:<20} {result:9.6f}   H0 = {estimator.getH0():.6f}   H = {estimator.getH():.6f}"
        )
    estimator.nsFunc("NSLefttoRight", series)
    print("  A of NSLefttoRight (boundary, count, share, group end, group count, group share):")
    with np.printoptions(precision=4, suppress=True, linewidth=100):
        print(estimator.getA())
    print()


def main() -> None:
    rng = np.random.default_rng(7)
    noise = rng.normal(size=200)
    report("stationary noise", noise)
    report("the same values sorted (a trend)", np.sort(noise))


if __name__ == "__main__":
    main()
