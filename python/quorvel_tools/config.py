"""The measure names and the settings shared by every analysis and by the command, checked
once here before the module runs: the module itself stores whatever it is given."""

from __future__ import annotations

import math
import numbers
import operator
from dataclasses import dataclass
from functools import lru_cache
from typing import Any, Literal

import quorvel

from . import _engine
from .labels import plain

METHODS: tuple[str, ...] = _engine.METHODS
Binning = Literal["equal-frequency", "equal-width"]
BINNING_MODES: dict[str, int] = {"equal-frequency": 1, "equal-width": 2}
DEFAULT_METHOD = "NSLefttoRight"
DEFAULT_BINNING: Binning = "equal-frequency"
DEFAULT_Z: float = _engine.DEFAULT_Z
DEFAULT_ACCEPT: float = _engine.DEFAULT_ACCEPT
MIN_CLASSES = 2


class SettingError(ValueError):
    """A setting outside its meaning. The text names the setting as the caller wrote it: the
    command rephrases it with its option (`--classes`) through `naming`."""

    def __init__(self, setting: str, template: str) -> None:
        self.setting = setting
        self.template = template
        super().__init__(self.naming(setting))

    def naming(self, name: str) -> str:
        return self.template.format(name=name)


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


def check_settings(
    classes: int | None = None,
    z: float = DEFAULT_Z,
    accept: float = DEFAULT_ACCEPT,
    binning: Binning = DEFAULT_BINNING,
) -> None:
    """The checks that need no data; `resolve` adds the bound of K by the number of values."""
    if not isinstance(binning, str) or binning not in BINNING_MODES:
        names = " or ".join(repr(name) for name in BINNING_MODES)
        raise SettingError("binning", f"{{name}} must be {names}, not {_shown(binning)}")
    if not (_real(z) and z > 0):
        raise SettingError("z", f"{{name}} must be a finite number above 0, not {_shown(z)}")
    if not (_real(accept) and 0 < accept <= 1):
        raise SettingError(
            "accept",
            f"{{name}} must be a fraction above 0 and at most 1, not {_shown(accept)}",
        )
    if classes is not None:
        check_integer("classes", classes, MIN_CLASSES)


def resolve(
    n: int,
    classes: int | None = None,
    z: float = DEFAULT_Z,
    accept: float = DEFAULT_ACCEPT,
    binning: Binning = "equal-frequency",
) -> Config:
    """`classes=None` takes K from the data size as the module's setupDS does for n values;
    K is at least 2 and at most n, since a class needs values for its share to mean anything."""
    check_settings(classes, z, accept, binning)
    if n < MIN_CLASSES:
        raise ValueError(f"{n} value(s) are too few to analyse; at least {MIN_CLASSES} are needed")
    if classes is None:
        count = classes_for_size(n)
        if count < MIN_CLASSES:
            raise SettingError(
                "classes",
                f"{n} value(s) are too few to choose the number of classes from the data size; "
                f"give {{name}} (from {MIN_CLASSES} to {n})",
            )
    else:
        count = operator.index(classes)
        if count > n:
            raise SettingError(
                "classes",
                f"{{name}} must be at most the number of values ({n}), not {count}",
            )
    return Config(count, float(z), float(accept), binning)


@lru_cache(maxsize=256)
def classes_for_size(n: int) -> int:
    """The module's own data-size rule, read back from the shape of its result table; kept for
    the lengths in use."""
    estimator = quorvel.NonStationary()
    estimator.setupDS(n)
    return int(estimator.getA().shape[0]) - 1


def check_integer(name: str, value: object, least: int = 1) -> int:
    """Any integral number (int, NumPy integers), never a bool or a float; returns it as int."""
    if not isinstance(value, bool):
        try:
            number = operator.index(value)  # type: ignore[arg-type]
        except TypeError:
            pass
        else:
            if number >= least:
                return number
    why = ""
    if isinstance(value, numbers.Real) and not isinstance(value, (bool, numbers.Integral)):
        # As range() and NumPy take counts: a float is refused even when integral, so that a
        # computed 2.9999999 is never silently taken for 3.
        if math.isfinite(float(value)) and float(value).is_integer():
            why = f" (a float; pass int({_shown(value)}) if that is meant)"
        else:
            why = " (a float; counts are whole numbers)"
    raise SettingError(
        name, f"{{name}} must be an integer of at least {least}, not {_shown(value)}{why}"
    )


SEED_LIMIT = 2**64


def check_seed(seed: object) -> int | None:
    """None (a fresh seed) or an integer from 0 to 2**64 - 1, the key of the shuffles."""
    if seed is None:
        return None
    number = check_integer("seed", seed, 0)
    if number >= SEED_LIMIT:
        raise SettingError("seed", f"{{name}} must be below 2**64, not {number}")
    return number


def check_method(method: str) -> str:
    if method not in METHODS:
        raise ValueError(f"unknown method {method!r}; choose one of {', '.join(METHODS)}")
    return method


def _real(value: Any) -> bool:
    return (
        not isinstance(value, bool)
        and isinstance(value, numbers.Real)
        and math.isfinite(float(value))
    )


def _shown(value: object) -> str:
    return repr(plain(value))
