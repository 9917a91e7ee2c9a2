"""Built-in series of known character, so a first run shows what the numbers mean."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

LENGTH = 500


def demo_series(seed: int = 2024) -> dict[str, npt.NDArray[np.float64]]:
    rng = np.random.default_rng(seed)
    t = np.arange(LENGTH, dtype=np.float64)
    noise = rng.normal(size=LENGTH)
    half = LENGTH // 2
    return {
        "stationary noise": noise,
        "trend": 0.01 * t + rng.normal(size=LENGTH),
        "level shift": np.r_[rng.normal(size=half), rng.normal(2.0, 1.0, size=LENGTH - half)],
        "variance shift": np.r_[rng.normal(size=half), rng.normal(0.0, 3.0, size=LENGTH - half)],
        "seasonal": np.sin(2 * np.pi * t / 50) + 0.3 * rng.normal(size=LENGTH),
    }
