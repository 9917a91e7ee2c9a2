"""Warnings for results that are what the module computes but say less than they seem to."""

from __future__ import annotations

import warnings

# Below this many values the measures take a handful of values: up to 4 values every order
# gives 0, no order of 6 or fewer distinct values reaches p <= 0.05, and up to 10 NSdichotomy
# is 0 for every order of distinct values (all orders counted at the data-size K).
SHORT_SERIES = 10


class ResultWarning(UserWarning):
    """A result that says less than it seems: an undefined measure, a very short series, values
    in no class (UnclassifiedValuesWarning)."""


def undefined(method: str, constant: bool) -> None:
    why = "the series is constant" if constant else "every value lies in one class"
    warnings.warn(
        f"{method} is undefined (nan) and has no p-value: {why}, so there is no distribution "
        "whose drift could be measured (H0 = 0)",
        ResultWarning,
        stacklevel=5,
    )


def short(n: int) -> None:
    warnings.warn(
        f"a series of {n} values can say little about its stationarity: below {SHORT_SERIES} "
        "values the measures take only a few values and the p-value cannot get small",
        ResultWarning,
        stacklevel=4,
    )
