"""analyze_many(): many series in, one table with a fixed schema out.

Plain module-level functions, so they pickle and run unchanged on Dask, Spark's
applyInPandas or Ray's map_groups.
"""

from __future__ import annotations

from collections.abc import Mapping
from typing import TYPE_CHECKING, Any

from .analysis import analyze
from .config import DEFAULT_ACCEPT, DEFAULT_Z, METHODS, Binning, check_method, check_settings
from .inputs import NanPolicy
from .labels import label_text
from .optional import require

if TYPE_CHECKING:
    import pandas as pd

# Column names and pandas dtypes of every table analyze_many returns.
RESULT_SCHEMA: dict[str, str] = {
    "id": "object",
    "method": "object",
    "value": "float64",
    "H": "float64",
    "H0": "float64",
    "classes": "int64",
    "n": "int64",
}


def analyze_many(
    data: Any,
    method: str = "all",
    classes: int | None = None,
    z: float = DEFAULT_Z,
    accept: float = DEFAULT_ACCEPT,
    binning: Binning = "equal-frequency",
    nan_policy: NanPolicy = "raise",
    id_column: str = "id",
    value_column: str = "value",
) -> pd.DataFrame:
    """`data`: a dict {id: series}, a list of series (ids 0, 1, ...) or a long-format DataFrame
    with `id_column` and `value_column` (rows of one id in time order). One row per series
    and method, columns as in RESULT_SCHEMA."""
    pandas = require("pandas", "analyze_many()")
    names = METHODS if method == "all" else (check_method(method),)
    check_settings(classes, z, accept, binning)
    rows = []
    for key, series in _series_by_id(data, id_column, value_column):
        for name in names:
            try:
                result = analyze(series, name, classes, z, accept, binning, nan_policy)
            except (TypeError, ValueError) as error:
                kind = TypeError if isinstance(error, TypeError) else ValueError
                raise kind(f"series {label_text(key)}: {error}") from error
            rows.append((key, name, result.value, result.H, result.H0, result.classes, result.n))
    frame: pd.DataFrame = pandas.DataFrame(rows, columns=list(RESULT_SCHEMA))
    return frame.astype(RESULT_SCHEMA)


def _series_by_id(data: Any, id_column: str, value_column: str) -> list[tuple[Any, Any]]:
    if hasattr(data, "columns"):
        missing = {id_column, value_column} - set(data.columns)
        if missing:
            raise ValueError(f"the DataFrame has no column(s) {sorted(missing)}")
        # Group-by drops rows without an id; losing data silently is worse than refusing it.
        unnamed = int(data[id_column].isna().sum())
        if unnamed:
            raise ValueError(
                f"{unnamed} row(s) have no {id_column!r} (None or NaN); give them an id "
                "or drop them before analyze_many"
            )
        grouped = data.groupby(id_column, sort=False, observed=True)[value_column]
        return [(key, values.to_numpy()) for key, values in grouped]
    if isinstance(data, Mapping):
        return list(data.items())
    if isinstance(data, (list, tuple)):
        return list(enumerate(data))
    raise TypeError("expected a dict of series, a list of series or a long-format DataFrame")
