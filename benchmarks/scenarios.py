"""The series that calibration.py and power.py draw: stationary ones, dependent ones, and the
usual departures from stationarity, each of unit noise variance."""

from __future__ import annotations

from collections.abc import Callable

import numpy as np
import numpy.typing as npt

Draw = Callable[[np.random.Generator, int], npt.NDArray[np.float64]]


def ar1(phi: float) -> Draw:
    def draw(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
        burn = int(10 / (1 - phi)) + 10
        noise = rng.standard_normal(n + burn)
        try:
            from scipy.signal import lfilter
        except ImportError:
            out = np.empty_like(noise)
            out[0] = noise[0]
            for t in range(1, len(noise)):
                out[t] = phi * out[t - 1] + noise[t]
        else:
            out = lfilter([1.0], [1.0, -phi], noise)
        return np.asarray(out[burn:])

    return draw


def iid(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
    return rng.standard_normal(n)


def level_shift(size: float) -> Draw:
    def draw(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
        x = rng.standard_normal(n)
        x[n // 2 :] += size
        return x

    return draw


def variance_shift(factor: float) -> Draw:
    def draw(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
        x = rng.standard_normal(n)
        x[n // 2 :] *= factor
        return x

    return draw


def trend(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
    """A rise of one noise standard deviation over the window."""
    return rng.standard_normal(n) + np.linspace(0.0, 1.0, n)


def random_walk(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
    return np.cumsum(rng.standard_normal(n))


def shape_change(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
    """Normal, then uniform with the same mean and variance."""
    half = n // 2
    return np.concatenate(
        [rng.standard_normal(half), rng.uniform(-np.sqrt(3), np.sqrt(3), n - half)]
    )


def seasonal(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
    """A cycle of 12 steps with the noise's amplitude, as monthly data has."""
    return rng.standard_normal(n) + np.sin(2 * np.pi * np.arange(n) / 12)


SCENARIOS: dict[str, Draw] = {
    "i.i.d. normal": iid,
    "AR(1) 0.5": ar1(0.5),
    "AR(1) 0.9": ar1(0.9),
    "level shift 0.5 sd": level_shift(0.5),
    "level shift 1 sd": level_shift(1.0),
    "level shift 2 sd": level_shift(2.0),
    "variance x1.5": variance_shift(1.5),
    "variance x2": variance_shift(2.0),
    "variance x3": variance_shift(3.0),
    "linear trend (1 sd)": trend,
    "random walk": random_walk,
    "normal to uniform": shape_change,
    "seasonal (period 12)": seasonal,
}
