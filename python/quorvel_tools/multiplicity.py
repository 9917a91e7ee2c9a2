"""p-values adjusted for the many tests of a family: windows of a profile, series of a batch.

Two adjustments, each of the p-values of one family (NaN, an untested member, is left out of
the family and stays NaN):

- "holm": Holm's step-down adjustment, which bounds the chance of any false call (the
  family-wise error) under any dependence between the tests;
- "fdr": Benjamini and Hochberg's adjusted p-values, the q-values, which bound the expected
  share of false calls among the calls (the false discovery rate) for independent or
  positively dependent tests; when every member is null, that is the chance of any call.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import Literal

import numpy as np
import numpy.typing as npt

Adjustment = Literal["fdr", "holm", "none"]
ADJUSTMENTS: tuple[str, ...] = ("fdr", "holm", "none")


def q_values(p: npt.ArrayLike) -> npt.NDArray[np.float64]:
    """Benjamini-Hochberg adjusted p-values: for the i-th smallest of m p-values,
    q = min over j >= i of m p_(j) / j, at most 1."""
    return _in_order(
        p, lambda s, m: np.minimum.accumulate((s * m / np.arange(1, m + 1))[::-1])[::-1]
    )


def holm(p: npt.ArrayLike) -> npt.NDArray[np.float64]:
    """Holm's adjusted p-values: for the i-th smallest of m p-values,
    max over j <= i of (m - j + 1) p_(j), at most 1."""
    return _in_order(p, lambda s, m: np.maximum.accumulate(s * (m - np.arange(m))))


def _in_order(
    p: npt.ArrayLike,
    step: Callable[[npt.NDArray[np.float64], int], npt.NDArray[np.float64]],
) -> npt.NDArray[np.float64]:
    """`step` of the m non-NaN p-values in ascending order (ties in their order), put back in
    place and held at most 1; NaN stays NaN and does not count in m."""
    found = np.asarray(p, dtype=np.float64)
    adjusted = np.full(found.shape, np.nan)
    tested = np.flatnonzero(~np.isnan(found))
    if len(tested):
        order = tested[np.argsort(found[tested], kind="stable")]
        adjusted[order] = np.minimum(step(found[order], len(tested)), 1.0)
    return adjusted


def adjusted(p: npt.ArrayLike, adjustment: str) -> npt.NDArray[np.float64]:
    """The p-values of one family adjusted as `adjustment` says ("none" leaves them)."""
    if adjustment == "fdr":
        return q_values(p)
    if adjustment == "holm":
        return holm(p)
    return np.asarray(p, dtype=np.float64).copy()
