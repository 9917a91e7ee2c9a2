"""Turning what users hold (lists, arrays, pandas objects) into one clean float64 series."""

from __future__ import annotations

import numbers
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

NanPolicy = Literal["raise", "omit"]

ACCEPTED = (
    "a 1-D sequence of real numbers: a list, a tuple, a NumPy array, "
    "a pandas Series or a one-column DataFrame"
)


@dataclass(frozen=True, eq=False)
class Series:
    """Finite float64 values in order, with the labels of their positions (None: 0, 1, 2, ...)."""

    values: npt.NDArray[np.float64]
    labels: npt.NDArray[Any] | None

    def label(self, position: int) -> Any:
        """The index label of a position, or the position itself for unlabelled input."""
        return position if self.labels is None else self.labels[position]


def to_series(data: Any, nan_policy: NanPolicy = "raise") -> Series:
    """Validates and converts `data`; raises TypeError/ValueError naming what is accepted."""
    if nan_policy not in ("raise", "omit"):
        raise ValueError(f"nan_policy must be 'raise' or 'omit', not {nan_policy!r}")
    raw, labels = _unwrap_pandas(data)
    values = _as_float_array(raw)
    missing = np.isnan(values)
    if missing.any():
        if nan_policy == "raise":
            first = int(np.argmax(missing))
            where = f"position {first}"
            if labels is not None:
                where += f" (index label {labels[first]!r})"
            raise ValueError(
                f"the series has {int(missing.sum())} missing value(s) (NaN), the first at "
                f"{where}; pass nan_policy='omit' to drop them"
            )
        values = values[~missing]
        labels = None if labels is None else labels[~missing]
    if np.isinf(values).any():
        first = int(np.argmax(np.isinf(values)))
        raise ValueError(f"the series holds an infinite value at position {first}")
    if values.size == 0:
        raise ValueError("the series is empty (no values left to analyse)")
    # An own read-only copy: the caller's array stays writable and results cannot alias it.
    values = np.array(values, dtype=np.float64, copy=True)
    values.flags.writeable = False
    return Series(values, labels)


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


def _is_real_pandas_dtype(data: Any) -> bool:
    # Nullable pandas dtypes (Int64, Float64) expose their NumPy kind as numpy_dtype;
    # extension dtypes without one (strings, categories) are not numbers.
    try:
        return _is_real_dtype(np.dtype(getattr(data.dtype, "numpy_dtype", data.dtype)))
    except TypeError:
        return False


def _is_real_dtype(dtype: np.dtype[Any]) -> bool:
    return dtype.kind in "iuf"


def _as_float_array(raw: Any) -> npt.NDArray[np.float64]:
    if isinstance(raw, (str, bytes)) or np.isscalar(raw) or raw is None:
        raise TypeError(f"expected {ACCEPTED}; got {type(raw).__name__}")
    array = np.asarray(raw)
    if array.dtype == object:
        array = _objects_to_float(array)
    if array.ndim != 1:
        raise ValueError(f"expected {ACCEPTED}; got an array of shape {array.shape}")
    if array.dtype.kind in "US":
        raise TypeError(f"expected {ACCEPTED}; got text values such as {str(array.flat[0])!r}")
    if not _is_real_dtype(array.dtype):
        raise TypeError(f"expected {ACCEPTED}; got values of dtype {array.dtype}")
    return array.astype(np.float64, copy=False)


def _objects_to_float(array: npt.NDArray[Any]) -> npt.NDArray[np.float64]:
    """Mixed Python numbers convert; None counts as missing; anything else is refused."""
    flat = array.ravel()
    for item in flat:
        if item is not None and (isinstance(item, bool) or not isinstance(item, numbers.Real)):
            raise TypeError(f"expected {ACCEPTED}; found the element {item!r}")
    converted = np.array([np.nan if item is None else float(item) for item in flat])
    return converted.reshape(array.shape)
