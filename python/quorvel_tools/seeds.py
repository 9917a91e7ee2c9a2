"""The seeds of the draws and of the tie-breaks: given, taken from the series, or fixed.

`seed=None` takes the seed from the order of the series' values (which of them are larger,
equal or smaller), never from the values themselves: a series always gets the same p-value in
`analyze`, `rolling` and `permutation_test` alike, and so does any strictly increasing transform
of it (2x + 5, x * 1e-10, exp(x)), whose p-value then changes only where the measure does.
"""

from __future__ import annotations

import hashlib

import numpy as np
import numpy.typing as npt

from .engine import default_rng_uniforms, order_pattern

# The seed of the shuffles of 0..n-1 from which a shared rank null is simulated.
SIMULATION_SEED = 0x5EED_7AB1E
# Up to this many evenly spaced values enter the seed by their ranks among themselves.
RANKED_VALUES = 4096


def series_seed(values: npt.NDArray[np.float64], method: str) -> int:
    """A seed taken from the order of the series' values, unchanged by any strictly increasing
    transform: the method, the length, whether each value is above, equal to or below the one
    before it (every value, with comparisons only, so no magnitude can overflow), and the dense
    ranks among themselves of up to `RANKED_VALUES` evenly spaced values (all of a short
    series). A full ranking would cost as much as the measure itself on long series."""
    step = max(1, -(-len(values) // RANKED_VALUES))
    digest = hashlib.blake2b(digest_size=8)
    digest.update(method.encode())
    digest.update(np.int64(len(values)).tobytes())
    digest.update(order_pattern(values, step))
    return int.from_bytes(digest.digest(), "little")


def pattern_seed(values: npt.NDArray[np.float64], method: str) -> int:
    """A seed taken from whether each value is above, equal to or below the one before it,
    with the method and the length: like `series_seed`, unchanged by any strictly increasing
    transform, but without ranking the values, which costs more than the measure itself on a
    batch of short series. analyze_many keys its tie-breaks on it."""
    following, previous = values[1:], values[:-1]
    digest = hashlib.blake2b(digest_size=8, person=b"pattern")
    digest.update(method.encode())
    digest.update(np.int64(len(values)).tobytes())
    digest.update(np.packbits(following > previous).tobytes())
    digest.update(np.packbits(following < previous).tobytes())
    return int.from_bytes(digest.digest(), "little")


def seed_for(seed: int | None, values: npt.NDArray[np.float64], method: str) -> int:
    """The seed given, else one taken from the series."""
    return series_seed(values, method) if seed is None else seed


def window_seed(seed: int, window: int) -> int:
    """The seed of one window's own draws, from the profile's seed and the window's index."""
    return int(np.random.SeedSequence([seed, window]).generate_state(1)[0])


def tie_breaks(seed: int, count: int) -> npt.NDArray[np.float64]:
    """The uniforms that place observed values among their ties, one per observed value:
    numpy.random.default_rng([seed, 0x71E5]).random(count), from the engine in a microsecond."""
    return default_rng_uniforms([seed, 0x71E5], count)
