"""Reading one series from a CSV/TSV/plain-text file, a .npy file or standard input."""

from __future__ import annotations

import csv
import io
import math
import sys
from dataclasses import dataclass
from pathlib import Path

import numpy as np
import numpy.typing as npt

from .errors import UsageError

MISSING = {"", "nan", "na", "n/a", "null", "none"}


@dataclass(frozen=True, eq=False)
class Column:
    """The values of the chosen column and the file line of each (0 where lines do not apply)."""

    name: str
    values: npt.NDArray[np.float64]
    lines: npt.NDArray[np.int64]


def read_column(source: str, column: str | None) -> Column:
    if source != "-" and source.lower().endswith(".npy"):
        return _read_npy(Path(source), column)
    text = sys.stdin.read() if source == "-" else _read_text(Path(source))
    return _parse_text(
        text, _delimiter_for(source), column, "standard input" if source == "-" else source
    )


def _read_text(path: Path) -> str:
    if not path.exists():
        raise UsageError(f"no such file: {path}")
    if path.is_dir():
        raise UsageError(f"{path} is a directory, not a file")
    try:
        return path.read_text(encoding="utf-8-sig")
    except UnicodeDecodeError:
        raise UsageError(
            f"{path} is not a UTF-8 text file (give .npy files the .npy extension)"
        ) from None


def _delimiter_for(source: str) -> str | None:
    suffix = Path(source).suffix.lower()
    return {".csv": ",", ".tsv": "\t", ".tab": "\t"}.get(suffix)


def _parse_text(text: str, delimiter: str | None, column: str | None, where: str) -> Column:
    numbered = [
        (number, line)
        for number, line in enumerate(text.splitlines(), start=1)
        if line.strip() and not line.lstrip().startswith("#")
    ]
    if not numbered:
        raise UsageError(f"{where} holds no data")
    delimiter = delimiter or _sniff(numbered[0][1])
    rows = [(number, _split(line, delimiter)) for number, line in numbered]
    header = _header(rows)
    if header is not None:
        rows = rows[1:]
    if not rows:
        raise UsageError(f"{where} has a header but no data rows")
    index, name = _choose_column(rows, header, column, where)
    values, lines = [], []
    for number, cells in rows:
        if index >= len(cells):
            raise UsageError(f"line {number} of {where} has no column {name!r}")
        value = _number(cells[index])
        if value is None:
            raise UsageError(
                f"non-numeric cell {cells[index]!r} in column {name!r} at line {number} of {where}"
            )
        values.append(value)
        lines.append(number)
    return Column(name, np.array(values, dtype=np.float64), np.array(lines, dtype=np.int64))


def _sniff(line: str) -> str | None:
    for delimiter in ("\t", ",", ";"):
        if delimiter in line:
            return delimiter
    return None


def _split(line: str, delimiter: str | None) -> list[str]:
    if delimiter is None:
        return line.split()
    return [cell.strip() for cell in next(csv.reader(io.StringIO(line), delimiter=delimiter))]


def _number(cell: str) -> float | None:
    """A float, NaN for a missing cell, or None for text."""
    if cell.strip().lower() in MISSING:
        return math.nan
    try:
        return float(cell)
    except ValueError:
        return None


def _header(rows: list[tuple[int, list[str]]]) -> list[str] | None:
    """The first row is a header when some column holds text there and a number below it."""
    first = rows[0][1]
    if len(rows) == 1:
        return first if all(_number(cell) is None for cell in first) else None
    second = rows[1][1]
    for i, cell in enumerate(first):
        if _number(cell) is None and i < len(second) and _number(second[i]) is not None:
            return first
    return None


def _choose_column(
    rows: list[tuple[int, list[str]]], header: list[str] | None, column: str | None, where: str
) -> tuple[int, str]:
    width = len(rows[0][1])
    names = header or [f"column {i}" for i in range(1, width + 1)]
    if column is None and width == 1:
        return 0, names[0]
    if column is None:
        # The first column whose cells are all numbers (or missing): dates and labels are skipped.
        for i in range(width):
            if all(i < len(cells) and _number(cells[i]) is not None for _, cells in rows):
                return i, names[i]
        raise UsageError(f"{where} has no column of numbers; choose one with --column")
    if header is not None and column in header:
        return header.index(column), column
    if column.isdigit() and 1 <= int(column) <= width:
        return int(column) - 1, names[int(column) - 1]
    available = ", ".join(repr(n) for n in header) if header else f"positions 1 to {width}"
    raise UsageError(f"no column {column!r} in {where}; available: {available}")


def _read_npy(path: Path, column: str | None) -> Column:
    if not path.exists():
        raise UsageError(f"no such file: {path}")
    try:
        array = np.load(path, allow_pickle=False)
    except (ValueError, OSError, EOFError) as error:
        raise UsageError(f"cannot read {path} as a .npy array: {error}") from None
    if array.ndim == 2:
        array = array[:, _npy_column(column, array.shape[1], path)]
    if array.ndim != 1:
        raise UsageError(
            f"{path} holds an array of shape {array.shape}; expected one or two dimensions"
        )
    if array.dtype.kind not in "iuf":
        raise UsageError(f"{path} holds values of dtype {array.dtype}; expected real numbers")
    if array.size == 0:
        raise UsageError(f"{path} holds no data")
    return Column(path.name, array.astype(np.float64), np.zeros(array.size, dtype=np.int64))


def _npy_column(column: str | None, width: int, path: Path) -> int:
    if column is None:
        return 0
    if column.isdigit() and 1 <= int(column) <= width:
        return int(column) - 1
    raise UsageError(f"no column {column!r} in {path}; available: positions 1 to {width}")
