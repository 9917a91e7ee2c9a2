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


def ma1(theta: float) -> Draw:
    def draw(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
        noise = rng.standard_normal(n + 1)
        return np.asarray(noise[1:] + theta * noise[:-1])

    return draw


def garch(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
    """GARCH(1, 1) with alpha = 0.1, beta = 0.85: uncorrelated values, clustered volatility."""
    alpha, beta, omega, burn = 0.1, 0.85, 0.05, 500
    noise = rng.standard_normal(n + burn)
    out = np.empty(n + burn)
    variance, previous = omega / (1 - alpha - beta), 0.0
    for t in range(n + burn):
        variance = omega + alpha * previous * previous + beta * variance
        previous = out[t] = np.sqrt(variance) * noise[t]
    return out[burn:]


def ar1_shift(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
    """AR(1) 0.5 scaled to unit variance, plus a 1 sd level shift at the middle."""
    x = ar1(0.5)(rng, n) * np.sqrt(0.75)
    x[n // 2 :] += 1.0
    return x


def sorted_values(rng: np.random.Generator, n: int) -> npt.NDArray[np.float64]:
    """Normal values in ascending order: the plainest departure of all."""
    return np.sort(rng.standard_normal(n))


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
    "AR(1) 0.3": ar1(0.3),
    "AR(1) 0.5": ar1(0.5),
    "AR(1) 0.6": ar1(0.6),
    "AR(1) 0.9": ar1(0.9),
    "AR(1) 0.97": ar1(0.97),
    "MA(1) 0.8": ma1(0.8),
    "GARCH(1,1)": garch,
    "level shift 0.5 sd": level_shift(0.5),
    "level shift 0.75 sd": level_shift(0.75),
    "level shift 1 sd": level_shift(1.0),
    "level shift 1.5 sd": level_shift(1.5),
    "level shift 2 sd": level_shift(2.0),
    "AR(1) 0.5 + 1 sd shift": ar1_shift,
    "variance x1.5": variance_shift(1.5),
    "variance x2": variance_shift(2.0),
    "variance x3": variance_shift(3.0),
    "linear trend (1 sd)": trend,
    "random walk": random_walk,
    "normal to uniform": shape_change,
    "seasonal (period 12)": seasonal,
    "sorted values": sorted_values,
}
# Stationary series with dependence: the block null should call few of them non-stationary.
DEPENDENT = ("AR(1) 0.3", "AR(1) 0.6", "AR(1) 0.9", "AR(1) 0.97", "MA(1) 0.8", "GARCH(1,1)",
             "seasonal (period 12)")  # fmt: skip
