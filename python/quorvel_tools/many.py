"""analyze_many(): many series in, one table with a fixed schema out.

Plain module-level functions, so they pickle and run unchanged on Dask, Spark's
applyInPandas or Ray's map_groups.
"""

from __future__ import annotations

import warnings
from collections.abc import Iterator, Mapping
from contextlib import contextmanager
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from ._engine import TaskError
from .config import (
    DEFAULT_ACCEPT,
    DEFAULT_BINNING,
    DEFAULT_Z,
    METHODS,
    Binning,
    Config,
    check_method,
    check_settings,
    resolve,
)
from .engine import check_workers, run_many
from .inputs import DEFAULT_NAN_POLICY, NanPolicy, to_series
from .labels import label_text
from .optional import require
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


def analyze_many(
    data: Any,
    method: str = "all",
    classes: int | None = None,
    z: float = DEFAULT_Z,
    accept: float = DEFAULT_ACCEPT,
    binning: Binning = DEFAULT_BINNING,
    nan_policy: NanPolicy = DEFAULT_NAN_POLICY,
    id_column: str = "id",
    value_column: str = "value",
    workers: int | None = None,
    show_progress: bool | None = None,
) -> Any:
    """`data`: a dict {id: series}, a list of series (ids 0, 1, ...) or a long-format DataFrame
    with `id_column` and `value_column` (rows of one id in time order). One row per series
    and method, columns as in RESULT_SCHEMA. The series are measured by the batch engine on
    `workers` threads (None: every core this process may use).

    A Dask DataFrame in long format gives a lazy Dask DataFrame of the same columns: its rows
    are brought together by id and each id's rows put back in the order of the frame's index,
    which must therefore be sorted with known divisions (as from `from_pandas` or `set_index`).
    """
    names = METHODS if method == "all" else (check_method(method),)
    check_settings(classes, z, accept, binning)
    if _is_dask_frame(data):
        options = {
            "method": method,
            "classes": classes,
            "z": z,
            "accept": accept,
            "binning": binning,
            "nan_policy": nan_policy,
            "id_column": id_column,
            "value_column": value_column,
            "workers": workers,
        }
        return _analyze_dask(data, options)
    pandas = require("pandas", "analyze_many()")
    workers = check_workers(workers)
    keys, series, configs = [], [], []
    for key, raw in _series_by_id(data, id_column, value_column):
        with _naming(key):
            clean = to_series(raw, nan_policy)
            configs.append(resolve(len(clean.values), classes, z, accept, binning))
        keys.append(key)
        series.append(clean.values)
    columns: dict[str, Any] = {name: [] for name in RESULT_SCHEMA}
    for name in names:
        try:
            value, H0, H = run_many(name, series, configs, workers, show_progress)
        except ValueError as error:
            raise _with_id(error, keys) from error
        _warn_unclassified(name, keys, series, configs)
        columns["id"] += keys
        columns["method"] += [name] * len(keys)
        # Clipped to their range as every output gives them; analyze() keeps the exact bits.
        columns["value"] += list(within_unit_array(value))
        columns["H"] += list(np.maximum(H, 0.0) + 0.0)
        columns["H0"] += list(np.maximum(H0, 0.0) + 0.0)
        columns["classes"] += [config.classes for config in configs]
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
    id_column, value_column = options["id_column"], options["value_column"]
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
    frame: pd.DataFrame = analyze_many(
        part.sort_index(kind="stable"), **options, show_progress=False
    )
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
