"""One request: every setting of an analysis, its default and its check, in one place.

The public functions take their data positionally and these settings by keyword; each builds a
`Request`, which the p-value code, the engine wrapper and the command read instead of passing
settings one by one. A new setting is a field here (with its check in `__post_init__`) and a
key in the `TypedDict` of the functions that take it; the readers take it from the request.
"""

from __future__ import annotations

import operator
from collections.abc import Mapping
from dataclasses import dataclass, fields
from typing import Any, Literal, TypedDict

from .config import (
    DEFAULT_ACCEPT,
    DEFAULT_BINNING,
    DEFAULT_METHOD,
    DEFAULT_Z,
    METHODS,
    Binning,
    Config,
    SettingError,
    check_integer,
    check_method,
    check_seed,
    check_settings,
    resolve,
)
from .engine import check_workers
from .inputs import DEFAULT_NAN_POLICY, NanPolicy, check_nan_policy
from .multiplicity import ADJUSTMENTS, Adjustment
from .nullmodels import DEFAULT_NULL, DEFAULT_PERMUTATIONS, NullModel, NullName, null_model

ALL = "all"

Errors = Literal["raise", "skip"]
ERRORS: tuple[str, ...] = ("raise", "skip")


class Settings(TypedDict, total=False):
    """The keyword settings every public function takes besides `method` (which each names, as
    it decides what `analyze` returns); see `Request` for their meaning."""

    classes: int | None
    z: float
    accept: float
    binning: Binning
    nan_policy: NanPolicy
    workers: int | None
    show_progress: bool | None


class NullSettings(Settings, total=False):
    """Settings of the functions that draw a null: `permutation_test`."""

    null: NullName | NullModel
    permutations: int
    seed: int | None


class TestSettings(NullSettings, total=False):
    """Settings of the functions whose p-values are optional: `analyze`."""

    p_values: bool


class WindowSettings(TestSettings, total=False):
    """Settings of `rolling`: those of `analyze`, the step between windows and the
    adjustment of their p-values across the profile."""

    step: int
    adjust: Adjustment


class ManySettings(TestSettings, total=False):
    """Settings of `analyze_many`: those of `analyze`, the columns of a long frame and what
    a series that cannot be measured does to the batch."""

    id_column: str
    value_column: str
    errors: Errors


@dataclass(frozen=True, kw_only=True)
class Request:
    """What to compute and how: checked when built, so that a request is always sound.

    Parameters
    ----------
    method : str
        A name of `METHODS`, or "all" for the four.
    classes : int or None
        K; None takes it from the number of values (the module's setupDS rule).
    z, accept : float
        The band multiplier (above 0) and the acceptance fraction (above 0, at most 1).
    binning : {"equal-frequency", "equal-width"}
    nan_policy : {"raise", "omit"}
        Whether missing values are refused or left out.
    p_values : bool
        Whether p-values are computed.
    null : str or NullModel
        The null model ("iid" or "block", see `nullmodels`).
    permutations : int
        Draws of a simulated null.
    seed : int or None
        The key of the draws and of the tie-breaks; None takes it from the series.
    workers : int or None
        Threads of the batch engine; None for every core this process may use.
    show_progress : bool or None
        A progress bar; None shows one on long runs in a terminal.
    adjust : {"fdr", "holm", "none"}
        How a rolling profile's p-values are adjusted across its windows (`multiplicity`).
    errors : {"raise", "skip"}
        Whether a series of a batch that cannot be measured stops the batch or is kept as a
        row that says why.
    """

    method: str = DEFAULT_METHOD
    classes: int | None = None
    z: float = DEFAULT_Z
    accept: float = DEFAULT_ACCEPT
    binning: Binning = DEFAULT_BINNING
    nan_policy: NanPolicy = DEFAULT_NAN_POLICY
    p_values: bool = True
    null: NullModel = null_model(DEFAULT_NULL)
    permutations: int = DEFAULT_PERMUTATIONS
    seed: int | None = None
    workers: int | None = None
    show_progress: bool | None = None
    # False discovery: it bounds the chance of any ring on noise as Holm does, yet rings a
    # change that many overlapping windows span, which Holm's bound over all windows misses.
    adjust: Adjustment = "fdr"
    errors: Errors = "raise"

    def __post_init__(self) -> None:
        if self.method != ALL:
            check_method(self.method)
        check_settings(self.classes, self.z, self.accept, self.binning)
        check_nan_policy(self.nan_policy)
        _check_choice("adjust", self.adjust, ADJUSTMENTS)
        _check_choice("errors", self.errors, ERRORS)
        checked = {
            # Checked by check_settings above; kept as a plain int, as Config will hold it.
            "classes": None if self.classes is None else operator.index(self.classes),
            "z": float(self.z),
            "accept": float(self.accept),
            "null": null_model(self.null),
            "permutations": check_integer("permutations", self.permutations),
            "seed": check_seed(self.seed),
            "workers": check_workers(self.workers),
        }
        for name, value in checked.items():
            object.__setattr__(self, name, value)

    @property
    def methods(self) -> tuple[str, ...]:
        return METHODS if self.method == ALL else (self.method,)

    @property
    def worker_count(self) -> int:
        """The threads to run on (None was resolved when the request was built)."""
        assert self.workers is not None
        return self.workers

    def config(self, n: int) -> Config:
        """K, z, accept and binning for a series of n values."""
        return resolve(n, self.classes, self.z, self.accept, self.binning)


def _check_choice(name: str, value: object, accepted: tuple[str, ...]) -> None:
    if value not in accepted:
        names = ", ".join(repr(choice) for choice in accepted)
        raise SettingError(name, f"{{name}} must be one of {names}, not {value!r}")


REQUEST_FIELDS = frozenset(field.name for field in fields(Request))


def request_of(
    function: str, method: str, given: Mapping[str, Any], accepted: Any, **defaults: Any
) -> tuple[Request, dict[str, Any]]:
    """The request of a public function, from its caller's settings over its own `defaults`,
    and the settings of that function alone (such as `step`). `accepted` is the function's
    `TypedDict`: a setting outside it is refused as Python refuses an unknown keyword."""
    keys: frozenset[str] = accepted.__optional_keys__ | accepted.__required_keys__
    for name in given:
        if name not in keys:
            raise TypeError(f"{function}() got an unexpected keyword argument {name!r}")
    own = {name: value for name, value in given.items() if name not in REQUEST_FIELDS}
    settings = defaults | {k: v for k, v in given.items() if k in REQUEST_FIELDS}
    return Request(method=method, **settings), own
