"""How results give their figures. The module's 1 − H/H0 can land an ulp outside [0, 1] and an
entropy an ulp below 0, which reads as a meaning that is not there (`value == 0` misses a zero),
so every output gives them clipped to their range; the exact doubles stay under *_exact names."""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt


def within_unit(value: float) -> float:
    """A degree clipped to [0, 1]; NaN stays NaN, and -0.0 becomes 0.0."""
    return value if math.isnan(value) else min(max(value, 0.0), 1.0) + 0.0


def non_negative(value: float) -> float:
    """An entropy clipped to at least 0; NaN stays NaN."""
    return value if math.isnan(value) else max(value, 0.0) + 0.0


def within_unit_array(values: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """within_unit() of every element (NaN stays NaN)."""
    return np.clip(values, 0.0, 1.0) + 0.0


def fraction(value: float) -> str:
    """A measure or a p-value, clamped to [0, 1]; NaN stays NaN."""
    if math.isnan(value):
        return "nan"
    return f"{0.0 if value <= 0 else min(value, 1.0):.6g}"


def entropy(value: float) -> str:
    """An entropy, never below 0 (and never "-0")."""
    if math.isnan(value):
        return "nan"
    return f"{value if value > 0 else 0.0:.6g}"


def p_value(value: float, resolution: float) -> str:
    """A p-value to the digits its null can tell: 1e-3 steps show three decimals."""
    if math.isnan(value):
        return "nan"
    digits = max(1, math.ceil(-math.log10(resolution) - 1e-9))
    return f"{value:.{digits}f}"


def p_value_or_floor(value: float, resolution: float) -> str:
    """As p_value; at the smallest value the null can give, "<=" it: the p-value may be any
    value below, which no finer figure should suggest."""
    if not math.isnan(value) and value <= resolution:
        return "<=" + p_value(resolution, resolution)
    return p_value(value, resolution)
