"""The measure names and the configuration shared by every analysis, checked before the module runs."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Literal

import quorvel

METHODS: tuple[str, ...] = (
    "NSLocaltoGlobal",
    "NSLefttoRight",
    "NSdichotomy",
    "NSCircleLefttoRight",
)
Binning = Literal["equal-frequency", "equal-width"]
BINNING_MODES: dict[str, int] = {"equal-frequency": 1, "equal-width": 2}
DEFAULT_Z = 1.96
DEFAULT_ACCEPT = 0.925845


@dataclass(frozen=True)
class Config:
    """K, band multiplier, acceptance fraction and binning of one analysis."""

    classes: int
    z: float
    accept: float
    binning: Binning

    def estimator(self) -> quorvel.NonStationary:
        estimator = quorvel.NonStationary()
        estimator.setup(self.classes, self.z, self.accept, BINNING_MODES[self.binning])
        return estimator


def resolve(
    n: int,
    classes: int | None = None,
    z: float = DEFAULT_Z,
    accept: float = DEFAULT_ACCEPT,
    binning: Binning = "equal-frequency",
) -> Config:
    """`classes=None` takes K from the data size as the module's setupDS does for n values."""
    if binning not in BINNING_MODES:
        raise ValueError(f"binning must be one of {sorted(BINNING_MODES)}, not {binning!r}")
    for name, value in (("z", z), ("accept", accept)):
        if (
            isinstance(value, bool)
            or not isinstance(value, (int, float))
            or not math.isfinite(value)
        ):
            raise ValueError(f"{name} must be a finite number, not {value!r}")
    if classes is None:
        classes = classes_for_size(n)
        if classes < 1:
            raise ValueError(
                f"{n} value(s) are too few to choose the number of classes; give classes"
            )
    else:
        check_positive_int("classes", classes)
    return Config(classes, float(z), float(accept), binning)


def classes_for_size(n: int) -> int:
    """The module's own data-size rule, read back from the shape of its result table."""
    estimator = quorvel.NonStationary()
    estimator.setupDS(n)
    return int(estimator.getA().shape[0]) - 1


def check_positive_int(name: str, value: object) -> None:
    if isinstance(value, bool) or not isinstance(value, int) or value < 1:
        raise ValueError(f"{name} must be a positive integer, not {value!r}")


def check_method(method: str) -> str:
    if method not in METHODS:
        raise ValueError(f"unknown method {method!r}; choose one of {', '.join(METHODS)}")
    return method
