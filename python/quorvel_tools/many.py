"""analyze_many(): many series in, one table with a fixed schema out.

Plain module-level functions, so they pickle and run unchanged on Dask, Spark's
applyInPandas or Ray's map_groups.
"""

from __future__ import annotations

import warnings
from collections.abc import Iterator, Mapping
from contextlib import contextmanager
from typing import TYPE_CHECKING, Any, Unpack

import numpy as np
import numpy.typing as npt

from ._engine import TaskError
from .config import Config
from .engine import run_many
from .inputs import to_series
from .labels import label_text
from .optional import require
from .request import ALL, ManySettings, request_of
from .result import UnclassifiedValuesWarning
from .shown import within_unit_array
from .unclassified import unclassified_counts

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


def analyze_many(data: Any, *, method: str = ALL, **settings: Unpack[ManySettings]) -> Any:
    """Measure many series at once, into one table with a fixed schema.

    Parameters
    ----------
    data : dict, list or DataFrame
        A dict {id: series}, a list of series (ids 0, 1, ...) or a long-format DataFrame with
        `id_column` and `value_column` (rows of one id in time order); or a Dask DataFrame in
        long format.
    method : str, default "all"
        A name of `METHODS`, or "all" for the four.
    id_column, value_column : str, default "id", "value"
        The columns of a long-format frame.
    **settings
        classes, z, accept, binning, nan_policy, workers and show_progress, as in `analyze`.

    Returns
    -------
    pandas.DataFrame or dask.dataframe.DataFrame
        One row per series and method, columns as in RESULT_SCHEMA. A Dask DataFrame gives a
        lazy Dask DataFrame of the same columns: its rows are brought together by id and each
        id's rows put back in the order of the frame's index, which must therefore be sorted
        with known divisions (as from `from_pandas` or `set_index`).

    Notes
    -----
    The series are measured by the batch engine on `workers` threads (None: every core this
    process may use).
    """
    request, own = request_of("analyze_many", method, settings, ManySettings)
    id_column: str = own.get("id_column", "id")
    value_column: str = own.get("value_column", "value")
    if _is_dask_frame(data):
        return _analyze_dask(data, {"method": method, **settings})
    pandas = require("pandas", "analyze_many()")
    keys, series, configs = [], [], []
    for key, raw in _series_by_id(data, id_column, value_column):
        with _naming(key):
            clean = to_series(raw, request.nan_policy)
            configs.append(request.config(len(clean.values)))
        keys.append(key)
        series.append(clean.values)
    classes = [config.classes for config in configs]
    columns: dict[str, Any] = {name: [] for name in RESULT_SCHEMA}
    for name in request.methods:
        try:
            value, H0, H = run_many(name, series, classes, request)
        except ValueError as error:
            raise _with_id(error, keys) from error
        _warn_unclassified(name, keys, series, configs)
        columns["id"] += keys
        columns["method"] += [name] * len(keys)
        # Clipped to their range as every output gives them; analyze() keeps the exact bits.
        columns["value"] += list(within_unit_array(value))
        columns["H"] += list(np.maximum(H, 0.0) + 0.0)
        columns["H0"] += list(np.maximum(H0, 0.0) + 0.0)
        columns["classes"] += classes
        columns["n"] += [len(values) for values in series]
    # Rows by series, then by method, as a loop over series would give them.
    order = sorted(range(len(columns["id"])), key=lambda row: row % len(keys) if keys else 0)
    frame: pd.DataFrame = pandas.DataFrame({k: [v[i] for i in order] for k, v in columns.items()})
    return frame.astype(RESULT_SCHEMA)


def _warn_unclassified(
    method: str, keys: list[Any], series: list[npt.NDArray[np.float64]], configs: list[Config]
) -> None:
    """The table has no column for them (its schema is fixed), so a warning names the series
    with values in no class; analyze() on one of them gives the count."""
    outside = [
        (
            key,
            int(
                unclassified_counts(
                    method, values, START, len(values), config.classes, config.binning
                )[0]
            ),
        )
        for key, values, config in zip(keys, series, configs, strict=True)
    ]
    hit = [(key, count) for key, count in outside if count]
    if hit:
        named = ", ".join(f"{label_text(key)} ({count})" for key, count in hit[:5])
        more = f" and {len(hit) - 5} more" if len(hit) > 5 else ""
        warnings.warn(
            UnclassifiedValuesWarning(
                f"{method}: {len(hit)} series have values in no class, which the measure leaves "
                f"out: {named}{more} (see analyze(...).unclassified)"
            ),
            stacklevel=3,
        )


START = np.zeros(1, dtype=np.int64)


@contextmanager
def _naming(key: Any) -> Iterator[None]:
    """An error about one series says which."""
    try:
        yield
    except (TypeError, ValueError) as error:
        kind = TypeError if isinstance(error, TypeError) else ValueError
        raise kind(f"series {label_text(key)}: {error}") from error


def _with_id(error: ValueError, keys: list[Any]) -> ValueError:
    """The engine numbers the series it refuses; the caller knows them by id."""
    if not isinstance(error, TaskError):
        return error
    return ValueError(f"series {label_text(keys[error.index])}: {error.reason}")


def _is_dask_frame(data: Any) -> bool:
    return type(data).__module__.startswith("dask") and hasattr(data, "map_partitions")


def _analyze_dask(data: Any, options: dict[str, Any]) -> Any:
    pandas = require("pandas", "analyze_many()")
    id_column = options.get("id_column", "id")
    value_column = options.get("value_column", "value")
    missing = {id_column, value_column} - set(data.columns)
    if missing:
        raise ValueError(f"the DataFrame has no column(s) {sorted(missing)}")
    if not data.known_divisions:
        raise ValueError(
            "a Dask DataFrame needs a sorted index with known divisions, which gives the time "
            "order of each id's rows: use set_index on a time or position column first"
        )
    meta = pandas.DataFrame({k: pandas.Series(dtype=v) for k, v in RESULT_SCHEMA.items()})
    shuffled = data[[id_column, value_column]].shuffle(on=id_column)
    return shuffled.map_partitions(_analyze_partition, options, meta=meta)


def _analyze_partition(part: pd.DataFrame, options: dict[str, Any]) -> pd.DataFrame:
    """Every id's rows lie in one partition after the shuffle; the index restores their order."""
    settings = {**options, "show_progress": False}
    frame: pd.DataFrame = analyze_many(part.sort_index(kind="stable"), **settings)
    return frame


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
