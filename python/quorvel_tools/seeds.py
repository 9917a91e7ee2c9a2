"""The seeds of the draws and of the tie-breaks: given, taken from the series, or fixed.

`seed=None` takes the seed from the series itself, so that a series always gets the same
p-value in `analyze`, `rolling` and `permutation_test` alike.
"""

from __future__ import annotations

import hashlib

import numpy as np
import numpy.typing as npt

# The seed of the shuffles of 0..n-1 from which a shared rank null is simulated.
SIMULATION_SEED = 0x5EED_7AB1E


def series_seed(values: npt.NDArray[np.float64], method: str) -> int:
    """A seed taken from the series itself, so that the same series gives the same p-value:
    its length, its sum and up to 4,096 evenly spaced values (cheap on long series)."""
    step = max(1, len(values) // 4096)
    digest = hashlib.blake2b(digest_size=8)
    digest.update(method.encode())
    digest.update(np.int64(len(values)).tobytes())
    with np.errstate(over="ignore"):  # a sum past the largest double is still a fine key
        digest.update(np.float64(np.sum(values)).tobytes())
    digest.update(np.ascontiguousarray(values[::step]).tobytes())
    return int.from_bytes(digest.digest(), "little")


def seed_for(seed: int | None, values: npt.NDArray[np.float64], method: str) -> int:
    """The seed given, else one taken from the series."""
    return series_seed(values, method) if seed is None else seed


def window_seed(seed: int, window: int) -> int:
    """The seed of one window's own draws, from the profile's seed and the window's index."""
    return int(np.random.SeedSequence([seed, window]).generate_state(1)[0])


def tie_breaks(seed: int, count: int) -> npt.NDArray[np.float64]:
    """The uniforms that place observed values among their ties, one per observed value."""
    return np.random.default_rng([seed, 0x71E5]).random(count)
