"""analyze_many(): many series in, one table with a fixed schema out.

Plain module-level functions, so they pickle and run unchanged on Dask, Spark's
applyInPandas or Ray's map_groups.
"""

from __future__ import annotations

import math
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
from .manynull import batch_p_values
from .multiplicity import q_values
from .optional import require
from .request import ALL, ManySettings, Request, request_of
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


# The columns analyze_many(p_values=True) adds: each series' p-value and its q-value, the
# Benjamini-Hochberg adjusted p-value across the series of the batch, for each measure.
P_VALUE_SCHEMA: dict[str, str] = {"p_value": "float64", "q_value": "float64"}
# The column analyze_many(errors="skip") adds: why a series has no figures ("" if it has).
ERROR_SCHEMA: dict[str, str] = {"error": "object"}


def result_schema(*, p_values: bool = False, errors: str = "raise") -> dict[str, str]:
    """The columns and pandas dtypes of the table analyze_many returns with these options."""
    schema = dict(RESULT_SCHEMA)
    if p_values:
        schema |= P_VALUE_SCHEMA
    if errors == "skip":
        schema |= ERROR_SCHEMA
    return schema


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
    p_values : bool, default False
        Whether to add each series' p-value (`p_value`, from the nulls of `analyze`; with a
        `seed`, `analyze`'s own, and with seed=None its tie-break keyed on the series' rises
        and falls, which costs no ranking) and its q-value across the batch (`q_value`, for
        each measure).
    errors : {"raise", "skip"}, default "raise"
        "raise" stops at the first series that cannot be measured, naming it; "skip" keeps a
        row for it (NaN figures, 0 for K and its length when unknown) whose `error` says why.
    **settings
        classes, z, accept, binning, nan_policy, null, permutations, seed, workers and
        show_progress, as in `analyze`.

    Returns
    -------
    pandas.DataFrame or dask.dataframe.DataFrame
        One row per series and method, columns as in ``result_schema(p_values=...,
        errors=...)``: RESULT_SCHEMA, then p_value and q_value, then error. A Dask DataFrame
        gives a lazy Dask DataFrame of the same columns: its rows are brought together by id
        and each id's rows put back in the order of the frame's index, which must therefore be
        sorted with known divisions (as from `from_pandas` or `set_index`); its q-values are
        taken within each partition.

    Notes
    -----
    The series are measured by the batch engine on `workers` threads (None: every core this
    process may use). p-values come from the nulls `analyze` uses: series of one length that
    the shared rank null serves are read against it at once, which costs little; the others
    (NSdichotomy, ties across a class boundary, equal-width classes) cost `permutations` runs
    each. A q-value at most q calls the series non-stationary with a false discovery rate of
    q among the series of the batch.
    """
    request, own = request_of("analyze_many", method, settings, ManySettings, p_values=False)
    id_column: str = own.get("id_column", "id")
    value_column: str = own.get("value_column", "value")
    if _is_dask_frame(data):
        return _analyze_dask(data, {"method": method, **settings})
    pandas = require("pandas", "analyze_many()")
    skip = request.errors == "skip"
    keys: list[Any] = []
    series: list[npt.NDArray[np.float64]] = []
    configs: list[Config] = []
    failed: dict[int, tuple[str, int]] = {}
    for key, raw in _series_by_id(data, id_column, value_column):
        try:
            with _naming(key):
                clean = to_series(raw, request.nan_policy)
                configs.append(request.config(len(clean.values)))
        except (TypeError, ValueError) as error:
            if not skip:
                raise
            failed[len(keys)] = (_reason(error), _length(raw))
            keys.append(key)
            continue
        keys.append(key)
        series.append(clean.values)
    measured = [i for i in range(len(keys)) if i not in failed]
    schema = result_schema(p_values=request.p_values, errors=request.errors)
    columns: dict[str, Any] = {name: [] for name in schema}
    for name in request.methods:
        value, H0, H, lost = _measured(name, series, configs, request, [keys[i] for i in measured])
        # A series the engine refuses for this measure may still be measured by the others.
        refused = failed | {measured[j]: (reason, len(series[j])) for j, reason in lost.items()}
        kept = [j for j in range(len(measured)) if measured[j] not in refused]
        _warn_unclassified(
            name,
            [keys[measured[j]] for j in kept],
            [series[j] for j in kept],
            [configs[j] for j in kept],
        )
        figures = _figures(len(keys), measured, refused, value, H0, H, configs, series)
        columns["id"] += keys
        columns["method"] += [name] * len(keys)
        for column in ("value", "H", "H0", "classes", "n"):
            columns[column] += figures[column]
        if request.p_values:
            p = np.full(len(keys), np.nan)
            rows = [measured[j] for j in kept]
            p[rows] = batch_p_values(
                name, [series[j] for j in kept], value[kept], [configs[j] for j in kept], request
            )
            columns["p_value"] += list(p)
            columns["q_value"] += list(q_values(p))
        if skip:
            columns["error"] += [refused[i][0] if i in refused else "" for i in range(len(keys))]
    # Rows by series, then by method, as a loop over series would give them.
    order = sorted(range(len(columns["id"])), key=lambda row: row % len(keys) if keys else 0)
    frame: pd.DataFrame = pandas.DataFrame({k: [v[i] for i in order] for k, v in columns.items()})
    return frame.astype(schema)


def _measured(
    method: str,
    series: list[npt.NDArray[np.float64]],
    configs: list[Config],
    request: Request,
    keys: list[Any],
) -> tuple[
    npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.float64], dict[int, str]
]:
    """Every series on the batch engine; under errors="skip", one the engine refuses is left
    out (its figures NaN, its reason kept) and the rest measured again."""
    lost: dict[int, str] = {}
    while True:
        left = [j for j in range(len(series)) if j not in lost]
        try:
            value, H0, H = run_many(
                method, [series[j] for j in left], [configs[j].classes for j in left], request
            )
        except TaskError as error:
            if request.errors != "skip":
                raise _with_id(error, [keys[j] for j in left]) from error
            lost[left[error.index]] = error.reason
            continue
        except ValueError as error:
            raise _with_id(error, keys) from error
        figures = [np.full(len(series), np.nan) for _ in range(3)]
        for whole, part in zip(figures, (value, H0, H), strict=True):
            whole[left] = part
        return figures[0], figures[1], figures[2], lost


def _figures(
    count: int,
    measured: list[int],
    failed: dict[int, tuple[str, int]],
    value: npt.NDArray[np.float64],
    H0: npt.NDArray[np.float64],
    H: npt.NDArray[np.float64],
    configs: list[Config],
    series: list[npt.NDArray[np.float64]],
) -> dict[str, list[Any]]:
    """The columns of one measure's rows, in the order of the ids; a skipped series has NaN
    figures, K 0 and its length if it has one (else 0)."""
    figures: dict[str, list[Any]] = {name: [math.nan] * count for name in ("value", "H", "H0")}
    figures["classes"] = [0] * count
    figures["n"] = [failed[i][1] if i in failed else 0 for i in range(count)]
    for j, i in enumerate(measured):
        if i in failed:
            continue
        # Clipped to their range as every output gives them; analyze() keeps the exact bits.
        figures["value"][i] = float(within_unit_array(value[j : j + 1])[0])
        figures["H"][i] = max(float(H[j]), 0.0) + 0.0
        figures["H0"][i] = max(float(H0[j]), 0.0) + 0.0
        figures["classes"][i] = configs[j].classes
        figures["n"][i] = len(series[j])
    return figures


def _reason(error: BaseException) -> str:
    """The error itself, without the series' name that `_naming` put before it."""
    return str(error.__cause__ or error)


def _length(raw: Any) -> int:
    try:
        return len(raw)
    except TypeError:
        return 0


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


def _check_columns(data: Any, id_column: str, value_column: str) -> None:
    """A long frame names its columns; say which it has and how to pick them."""
    missing = [name for name in (id_column, value_column) if name not in data.columns]
    if missing:
        raise ValueError(
            f"the DataFrame has no column(s) {missing}; it has {list(data.columns)[:10]}: name "
            "the columns of the series' ids and values with id_column= and value_column="
        )


def _is_dask_frame(data: Any) -> bool:
    return type(data).__module__.startswith("dask") and hasattr(data, "map_partitions")


def _analyze_dask(data: Any, options: dict[str, Any]) -> Any:
    pandas = require("pandas", "analyze_many()")
    id_column = options.get("id_column", "id")
    value_column = options.get("value_column", "value")
    _check_columns(data, id_column, value_column)
    if not data.known_divisions:
        raise ValueError(
            "a Dask DataFrame needs a sorted index with known divisions, which gives the time "
            "order of each id's rows: use set_index on a time or position column first"
        )
    schema = result_schema(
        p_values=bool(options.get("p_values", False)), errors=options.get("errors", "raise")
    )
    meta = pandas.DataFrame({k: pandas.Series(dtype=v) for k, v in schema.items()})
    shuffled = data[[id_column, value_column]].shuffle(on=id_column)
    return shuffled.map_partitions(_analyze_partition, options, meta=meta)


def _analyze_partition(part: pd.DataFrame, options: dict[str, Any]) -> pd.DataFrame:
    """Every id's rows lie in one partition after the shuffle; the index restores their order."""
    settings = {**options, "show_progress": False}
    frame: pd.DataFrame = analyze_many(part.sort_index(kind="stable"), **settings)
    return frame


def _series_by_id(data: Any, id_column: str, value_column: str) -> list[tuple[Any, Any]]:
    if hasattr(data, "columns"):
        _check_columns(data, id_column, value_column)
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
