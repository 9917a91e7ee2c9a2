"""How a text file is laid out, judged from its first lines: delimiter, decimal mark, header,
which column is the row order (an index), and which column is the series."""

from __future__ import annotations

import csv
import math
import re
from collections import Counter
from collections.abc import Iterator
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from .errors import UsageError

MISSING = {"", "nan", "na", "n/a", "null", "none"}
DELIMITERS = ("\t", ";", ",", "|")
WHITESPACE = None  # cells separated by runs of spaces or tabs
SAMPLE_ROWS = 200
# Shares of sample lines that must split into the same number of cells for a delimiter to count.
CONSISTENT = 0.9
DECIMAL_COMMA = re.compile(r"^[+-]?\d*,\d+$")
DECIMAL_POINT = re.compile(r"^[+-]?\d*\.\d+(?:[eE][+-]?\d+)?$")
DATE_START = re.compile(r"^\d{4}-\d{2}")
DAY = re.compile(r"^\d{4}-\d{2}-\d{2}$")
QUOTED_OR_BARE = re.compile(r'"([^"]*)"|(\S+)')
TIME_OF_DAY = re.compile(r"^\d{1,2}:\d{2}(?::\d{2}(?:\.\d+)?)?$")
# Cells a line may have: enough for wide tables, few enough that sniffing stays in memory.
MAX_CELLS = 100_000

Lines = list[tuple[int, str]]


@dataclass(frozen=True)
class Layout:
    """`series` and `index` are 0-based columns; `index` is the row-order column whose cells
    label the positions (None when there is none); `header_line` is 0 without a header."""

    delimiter: str | None
    decimal: str
    header_line: int
    names: list[str]
    series: int
    index: int | None
    index_is_date: bool
    chosen: bool
    # Whitespace-separated rows whose `2024-01-31 12:00` stamps were joined into one cell: the
    # raw column (as NumPy's reader splits the row) of each cell; None when nothing was joined.
    raw_columns: tuple[int, ...] | None = None

    def raw(self, column: int) -> int:
        return column if self.raw_columns is None else self.raw_columns[column]

    @property
    def name(self) -> str:
        return self.names[self.series]

    def note(self) -> str | None:
        """Which column was analysed, when the command chose it among several."""
        if self.chosen or len(self.names) == 1:
            return None
        text = f"analysing column {self.name!r}"
        if self.index is not None:
            text += f" (column {self.names[self.index]!r} is the row order)"
        return text + "; choose another with --column"


def data_lines(text: str, first_number: int = 1, limit: int | None = None) -> Lines:
    """(line number, line) of the lines holding data, without their # comments; blank lines
    and whole-line comments are left out, as NumPy's reader leaves them out. `limit` stops
    after that many."""
    found: Lines = []
    for number, line in enumerate(_lines(text), first_number):
        content = line.split("#", 1)[0].rstrip("\r")
        if content.strip():
            found.append((number, content))
            if len(found) == limit:
                break
    return found


def _lines(text: str) -> Iterator[str]:
    """One line at a time, so that a sample of a large block copies only what it reads."""
    start = 0
    while start < len(text):
        end = text.find("\n", start)
        end = len(text) if end < 0 else end
        yield text[start:end]
        start = end + 1


def split_cells(line: str, delimiter: str | None) -> list[str]:
    if delimiter is WHITESPACE:
        return whitespace_cells(line)[0]
    return [cell.strip() for cell in next(csv.reader([line], delimiter=delimiter))]


def whitespace_cells(line: str) -> tuple[list[str], list[int]]:
    """The cells of a line split at runs of whitespace, and where each starts among the
    columns NumPy's reader sees there. A quoted cell is one ("2024-01-31 12:00", as pandas
    writes it), and so is an unquoted day followed by a time of day, though a space parts them."""
    if '"' not in line and ":" not in line:
        plain = line.split()
        return plain, list(range(len(plain)))
    cells: list[str] = []
    starts: list[int] = []
    joinable = False
    for raw, token in enumerate(QUOTED_OR_BARE.finditer(line)):
        quoted, bare = token.group(1), token.group(2)
        if bare is not None and joinable and TIME_OF_DAY.match(bare):
            cells[-1] += " " + bare
            joinable = False
            continue
        cells.append(quoted if quoted is not None else bare)
        starts.append(raw)
        joinable = bare is not None and bool(DAY.match(bare))
    return cells, starts


def check_cells(sample: Lines, where: str) -> None:
    """Refuses a line with more than MAX_CELLS cells before anything splits it."""
    for number, line in sample:
        most = max(line.count(delimiter) for delimiter in DELIMITERS) + 1
        if most <= MAX_CELLS and line.count(" ") + line.count("\t") >= MAX_CELLS:
            most = len(line.split())
        if most > MAX_CELLS:
            raise UsageError(
                f"line {number} of {where} has more than {MAX_CELLS:,} cells; quorvel reads "
                "one column of a table of at most that many columns"
            )


def parse_number(cell: str, decimal: str = ".") -> float | None:
    """A float, NaN for a missing cell, or None for text."""
    cell = cell.strip()
    if cell.lower() in MISSING:
        return math.nan
    if decimal != ".":
        cell = cell.replace(decimal, ".")
    try:
        return float(cell)
    except ValueError:
        return None


def is_row_order(values: npt.NDArray[np.float64]) -> bool:
    """Strictly increasing integers with a constant step: the positions themselves, not data."""
    if len(values) < 3 or not np.all(np.isfinite(values)) or np.any(values != np.round(values)):
        return False
    with np.errstate(over="ignore", invalid="ignore"):  # steps past the largest double
        steps = np.diff(values)
    return bool(np.isfinite(steps[0]) and steps[0] > 0 and np.all(steps == steps[0]))


def is_date(cell: str) -> bool:
    if not DATE_START.match(cell):
        return False
    try:
        np.datetime64(cell.replace(" ", "T", 1))
    except ValueError:
        return False
    return True


def sniff(
    sample: Lines, column: str | None, delimiter: str | None, decimal: str | None, where: str
) -> Layout:
    """`delimiter`/`decimal` None: taken from the sample; `column`: a header name or a
    position from 1, else the first column of numbers that is not the row order."""
    if not sample:
        raise UsageError(f"{where} holds no data")
    sample = sample[:SAMPLE_ROWS]
    check_cells(sample, where)
    if delimiter is None:
        delimiter = _sniff_delimiter([line for _, line in sample])
    rows = [split_cells(line, delimiter) for _, line in sample]
    if delimiter is WHITESPACE and len(rows) > 1 and len(rows[0]) < len(rows[1]):
        # pandas writes no name over an unnamed index: the header's names are the last columns.
        rows[0] = [""] * (len(rows[1]) - len(rows[0])) + rows[0]
    if decimal is None:
        decimal = _sniff_decimal(rows, delimiter)
    header = _is_header(rows, decimal)
    body = rows[1:] if header else rows
    if not body:
        raise UsageError(f"{where} has a header but no data rows")
    width = max(len(cells) for cells in rows)
    names = list(rows[0]) if header else []
    names += [f"column {i}" for i in range(len(names) + 1, width + 1)]
    columns = [[cells[i] if i < len(cells) else "" for cells in body] for i in range(width)]
    numeric = [[parse_number(cell, decimal) for cell in cells] for cells in columns]
    dates = [any(cells) and all(is_date(c) for c in cells if c) for cells in columns]
    order = [
        all(v is not None for v in values) and is_row_order(np.array(values, dtype=np.float64))
        for values in numeric
    ]
    index_columns = [i for i in range(width) if dates[i] or order[i]]
    index = index_columns[0] if index_columns else None
    if column is not None:
        series = _named_column(column, names, header, where)
    elif width == 1:
        series = 0
    else:
        series = _first_series_column(numeric, order, names, where)
        if series < 0:
            lines = sample[1:] if header else sample
            _refuse_text_cell(columns, numeric, order, names, lines, where)
    if index == series:
        index = None
    raw_columns = None
    first_line = sample[1][1] if header else sample[0][1]
    if delimiter is WHITESPACE:
        _, starts = whitespace_cells(first_line)
        if starts != list(range(len(starts))):
            after = sum(1 for _ in QUOTED_OR_BARE.finditer(first_line))
            raw_columns = tuple(starts) + tuple(range(after, after + width - len(starts)))
    return Layout(
        delimiter=delimiter,
        decimal=decimal,
        header_line=sample[0][0] if header else 0,
        names=names,
        series=series,
        index=index,
        index_is_date=index is not None and dates[index],
        chosen=column is not None,
        raw_columns=raw_columns,
    )


def _first_series_column(
    numeric: list[list[float | None]], order: list[bool], names: list[str], where: str
) -> int:
    """The first column of numbers, not all NaN, that is not the row order; -1 when none is,
    but some column is mostly numbers."""
    for i, values in enumerate(numeric):
        if (
            not order[i]
            and all(v is not None for v in values)
            and not all(math.isnan(v) for v in values if v is not None)
        ):
            return i
    if any(not order[i] and _mostly_numbers(values) for i, values in enumerate(numeric)):
        return -1
    besides = ""
    if any(order):
        ordered = ", ".join(
            repr(name) for name, is_order in zip(names, order, strict=True) if is_order
        )
        besides = f" besides the row order ({ordered})"
    raise UsageError(f"{where} has no column of numbers{besides}; choose one with --column")


def _mostly_numbers(values: list[float | None]) -> bool:
    numbers = sum(1 for v in values if v is not None and not math.isnan(v))
    return numbers > 0 and numbers >= sum(1 for v in values if v is None)


def _refuse_text_cell(
    columns: list[list[str]],
    numeric: list[list[float | None]],
    order: list[bool],
    names: list[str],
    body: Lines,
    where: str,
) -> None:
    """A column of numbers but for a few text cells: name the first, not a missing column."""
    i = next(i for i, v in enumerate(numeric) if not order[i] and _mostly_numbers(v))
    row = next(row for row, v in enumerate(numeric[i]) if v is None)
    raise UsageError(
        f"non-numeric cell {columns[i][row]!r} in column {names[i]!r} at line {body[row][0]} "
        f"of {where}; a missing value is an empty cell or NA (or choose a column with --column)"
    )


def _sniff_delimiter(lines: list[str]) -> str | None:
    """The first of tab, ';', ',', '|' that splits nearly every line into the same number (> 1)
    of cells; else runs of whitespace."""
    for delimiter in (*DELIMITERS, WHITESPACE):
        if delimiter is not None and not any(delimiter in line for line in lines):
            continue
        counts = Counter(len(split_cells(line, delimiter)) for line in lines)
        cells, lines_with = counts.most_common(1)[0]
        if cells > 1 and lines_with >= CONSISTENT * len(lines):
            return delimiter
    return WHITESPACE


def _sniff_decimal(rows: list[list[str]], delimiter: str | None) -> str:
    """A decimal comma when cells look like 1,5 and none like 1.5 (never with a comma delimiter)."""
    if delimiter == ",":
        return "."
    cells = [cell for cells in rows for cell in cells]
    commas = any(DECIMAL_COMMA.match(cell) for cell in cells)
    if commas and not any(DECIMAL_POINT.match(cell) for cell in cells):
        return ","
    return "."


def _is_header(rows: list[list[str]], decimal: str) -> bool:
    """The first row is a header when some column holds text there and a number below it."""
    first = rows[0]
    if len(rows) == 1:
        return all(parse_number(cell, decimal) is None for cell in first)
    if first[0] == "" and _is_index(rows[1:], decimal):
        return True  # pandas' header: no name over the index, a name (even "0") over each column
    below = rows[1 : 1 + 5]
    for i, cell in enumerate(first):
        if parse_number(cell, decimal) is None and not is_date(cell):
            below_cells = [cells[i] for cells in below if i < len(cells)]
            if any(parse_number(cell, decimal) is not None for cell in below_cells):
                return True
    return False


def _is_index(rows: list[list[str]], decimal: str) -> bool:
    """The first cells of the rows are dates or the row order, none empty."""
    cells = [cells[0] if cells else "" for cells in rows]
    if len(cells) < 2 or not all(cells):
        return False
    if all(is_date(cell) for cell in cells):
        return True
    values = [parse_number(cell, decimal) for cell in cells]
    return all(v is not None for v in values) and is_row_order(np.array(values, dtype=np.float64))


def _named_column(column: str, names: list[str], header: bool, where: str) -> int:
    if header and column in names:
        return names.index(column)
    if column.isdigit() and 1 <= int(column) <= len(names):
        return int(column) - 1
    available = ", ".join(repr(n) for n in names) if header else f"positions 1 to {len(names)}"
    raise UsageError(
        f"no column {column!r} in {where}{position_hint(column)}; available: {available}"
    )


def position_hint(column: str) -> str:
    """Positions count from 1, as people count columns; 0 is the usual slip."""
    return " (positions count from 1)" if column.isdigit() and int(column) == 0 else ""
