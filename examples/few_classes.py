"""Few classes against the data-size K on a short series with a drop of its level.

100 values of unit noise whose level drops by 1.5 after the first 28 (the shape of the Nile's
annual flow at Aswan, 1871-1970), measured with K = 3, 4, 6, 8 and the data-size K (11). The
README quotes this output whole, and tests/test_tools_readme.py checks that it still does.
"""

import numpy as np

from quorvel_tools import analyze

SHORT = {
    "NSLocaltoGlobal": "LtG",
    "NSLefttoRight": "LtR",
    "NSdichotomy": "dich",
    "NSCircleLefttoRight": "circ",
}


def main() -> None:
    rng = np.random.default_rng(2)
    series = rng.normal(size=100) + np.where(np.arange(100) < 28, 1.5, 0.0)
    for classes in (3, 4, 6, 8, None):
        results = analyze(series, method="all", classes=classes)
        name = (
            f"K = {classes}" if classes else f"K = {results['NSLefttoRight'].classes} (data size)"
        )
        cells = "  ".join(
            f"{SHORT[method]} {result.value:.3f} (p {result.p_value:.3f})"
            for method, result in results.items()
        )
        print(f"{name:<20} {cells}")


if __name__ == "__main__":
    main()
