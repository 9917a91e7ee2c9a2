"""Turning what users hold (lists, arrays, pandas objects) into one clean float64 series."""

from __future__ import annotations

import math
import numbers
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .config import SettingError
from .engine import checked_copy
from .labels import label_text

NanPolicy = Literal["raise", "omit"]
NAN_POLICIES: tuple[str, ...] = ("raise", "omit")
DEFAULT_NAN_POLICY: NanPolicy = "raise"

ACCEPTED = (
    "a 1-D sequence of real numbers: a list, a tuple, a NumPy (or masked) array, "
    "a pandas Series or a one-column DataFrame"
)


@dataclass(frozen=True, eq=False)
class Series:
    """Values in order, with the labels of their positions (None: 0, 1, 2, ...), the series'
    name and the name of its labels (a pandas Series gives its name and its index's name).
    analyze() and the others take one as input too; the Series they keep is checked: finite
    float64 values.

    `positions` are the values' positions in the input the series came from (None: 0, 1, 2,
    ...); they differ once missing values are omitted, and results report these."""

    values: npt.NDArray[np.float64]
    labels: npt.NDArray[Any] | None
    name: str | None = None
    label_name: str | None = None
    positions: npt.NDArray[np.int64] | None = None

    def label(self, position: int) -> Any:
        """The index label of a value, or its position in the input for unlabelled input."""
        if self.labels is not None:
            return self.labels[position]
        return position if self.positions is None else int(self.positions[position])

    def position_of(self, index: npt.NDArray[np.int64]) -> npt.NDArray[np.int64]:
        """Positions in the input of the values at `index` of this series."""
        return index if self.positions is None else self.positions[index]

    @property
    def axis(self) -> str:
        """What the positions are, for an axis: the labels' name, "date" or "position"."""
        if self.label_name:
            return self.label_name
        if self.labels is not None and self.labels.dtype.kind == "M":
            return "date"
        return "position"


def check_nan_policy(nan_policy: object) -> NanPolicy:
    """ "raise" or "omit"."""
    if nan_policy not in NAN_POLICIES:
        raise SettingError("nan_policy", f"{{name}} must be 'raise' or 'omit', not {nan_policy!r}")
    return nan_policy  # type: ignore[return-value]


def to_series(data: Any, nan_policy: NanPolicy = DEFAULT_NAN_POLICY, *, workers: int = 1) -> Series:
    """Validates and converts `data`; raises TypeError/ValueError naming what is accepted.
    A long series is checked and copied on `workers` threads."""
    check_nan_policy(nan_policy)
    name = label_name = positions = None
    if isinstance(data, Series):
        raw, labels, name, label_name = data.values, data.labels, data.name, data.label_name
        positions = data.positions
    else:
        raw, labels = _unwrap_pandas(data)
        name, label_name = _pandas_names(data)
    values = _as_float_array(raw)
    # One pass for the usual all-finite series (the copy and the range with it); the others
    # are told where their NaN or infinite values lie.
    copy, finite, low, high = _copy_and_scan(values, workers)
    if not finite:
        missing = np.isnan(values)
        if missing.any():
            if nan_policy == "raise":
                first = int(np.argmax(missing))
                where = f"position {first}"
                if labels is not None:
                    where += f" (index label {label_text(labels[first])})"
                raise ValueError(
                    f"the series has {int(missing.sum())} missing value(s) (NaN), the first at "
                    f"{where}; pass nan_policy='omit' to drop them"
                )
            # The values kept are reported at their positions in the input, not renumbered.
            kept = np.flatnonzero(~missing)
            positions = kept if positions is None else positions[kept]
            values = values[~missing]
            labels = None if labels is None else labels[~missing]
        if np.isinf(values).any():
            first = int(np.argmax(np.isinf(values)))
            at = first if positions is None else int(positions[first])
            raise ValueError(f"the series holds an infinite value at position {at}")
        copy, _, low, high = _copy_and_scan(values, workers)
    if copy.size == 0:
        raise ValueError("the series is empty (no values left to analyse)")
    _check_span(low, high)
    # An own read-only copy: the caller's array stays writable and results cannot alias it.
    copy.flags.writeable = False
    return Series(copy, labels, name, label_name, positions)


def _copy_and_scan(
    values: npt.NDArray[np.float64], workers: int
) -> tuple[npt.NDArray[np.float64], bool, float, float]:
    """An own copy of the values, whether all are finite, and their least and greatest (NaN
    for no values), in one pass of the engine."""
    if values.size == 0:
        return np.array(values, dtype=np.float64, copy=True), True, math.nan, math.nan
    return checked_copy(np.ascontiguousarray(values, dtype=np.float64), workers)


def _check_span(low: float, high: float) -> None:
    """Class boundaries are computed from max - min: a series spanning more than the largest
    double would get infinite boundaries and values classified nowhere, without an error."""
    # Python floats overflow to inf without a warning, as the module's own arithmetic does.
    if not math.isfinite(high - low):
        raise ValueError(
            f"the series spans from {low:.6g} to {high:.6g}, a range wider than the largest "
            "double (max - min overflows), so its classes cannot be computed; rescale it first "
            "(e.g. divide by 1e10)"
        )


def _unwrap_pandas(data: Any) -> tuple[Any, npt.NDArray[Any] | None]:
    """Pandas objects give their values and their index; anything else passes through."""
    module = type(data).__module__
    if not module.startswith("pandas"):
        return data, None
    if hasattr(data, "columns"):
        if data.shape[1] != 1:
            raise ValueError(
                f"a DataFrame must have exactly one column, this one has {data.shape[1]}"
            )
        data = data.iloc[:, 0]
    if not hasattr(data, "index"):
        return data, None
    if not _is_real_pandas_dtype(data):
        raise TypeError(f"expected {ACCEPTED}; got a pandas object of dtype {data.dtype}")
    values = data.to_numpy(dtype=np.float64, na_value=np.nan)
    return values, np.asarray(data.index)


def _pandas_names(data: Any) -> tuple[str | None, str | None]:
    """The Series' (or one column's) name and its index's name, as text."""
    if not type(data).__module__.startswith("pandas"):
        return None, None
    name = data.columns[0] if hasattr(data, "columns") else getattr(data, "name", None)
    index_name = getattr(getattr(data, "index", None), "name", None)
    return (
        None if name is None else str(name),
        None if index_name is None else str(index_name),
    )


def _is_real_pandas_dtype(data: Any) -> bool:
    # Nullable pandas dtypes (Int64, Float64) expose their NumPy kind as numpy_dtype;
    # extension dtypes without one (strings, categories) are not numbers.
    try:
        return _is_real_dtype(np.dtype(getattr(data.dtype, "numpy_dtype", data.dtype)))
    except TypeError:
        return False


def _first_text(array: npt.NDArray[Any]) -> str:
    """The first value that reads as no number (NumPy turns [1, 2, "x"] into text throughout),
    with its position, among the first 10,000; else the first value."""
    for position, value in enumerate(array.flat[:10_000]):
        try:
            float(value)
        except ValueError:
            return f"{str(value)!r} at position {position}"
    return repr(str(array.flat[0]))


def _is_real_dtype(dtype: np.dtype[Any]) -> bool:
    return dtype.kind in "iuf"


def _as_float_array(raw: Any) -> npt.NDArray[np.float64]:
    if isinstance(raw, (str, bytes)) or np.isscalar(raw) or raw is None:
        raise TypeError(f"expected {ACCEPTED}; got {type(raw).__name__}")
    if isinstance(raw, np.ma.MaskedArray):
        # Masked elements are missing values: they meet nan_policy, whatever their data holds.
        values = _as_float_array(np.asarray(raw.data)).copy()
        mask = np.asarray(raw.mask, dtype=bool)  # a single False when nothing is masked
        values[np.broadcast_to(mask, values.shape)] = np.nan
        return values
    array = np.asarray(raw)
    if array.dtype == object:
        array = _objects_to_float(array)
    if array.ndim != 1:
        raise ValueError(f"expected {ACCEPTED}; got an array of shape {array.shape}")
    if array.dtype.kind in "US":
        raise TypeError(f"expected {ACCEPTED}; got text values such as {_first_text(array)}")
    if not _is_real_dtype(array.dtype):
        raise TypeError(f"expected {ACCEPTED}; got values of dtype {array.dtype}")
    return array.astype(np.float64, copy=False)


def _objects_to_float(array: npt.NDArray[Any]) -> npt.NDArray[np.float64]:
    """Mixed Python numbers convert; None counts as missing; anything else is refused."""
    flat = array.ravel()
    for item in flat:
        if item is not None and (isinstance(item, bool) or not isinstance(item, numbers.Real)):
            raise TypeError(f"expected {ACCEPTED}; found the element {item!r}")
    converted = np.empty(len(flat))
    for position, item in enumerate(flat):
        try:
            converted[position] = np.nan if item is None else float(item)
        except OverflowError:
            raise ValueError(
                f"the element at position {position} ({_digits(item)}) is too large for a "
                "double (at most about 1.8e308)"
            ) from None
    return converted.reshape(array.shape)


def _digits(item: Any) -> str:
    text = str(item)
    return text if len(text) <= 24 else f"a number of {len(text.lstrip('-'))} digits"
