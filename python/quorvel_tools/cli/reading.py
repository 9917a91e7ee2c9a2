"""Reading one series from a CSV/TSV/plain-text file, a .npy file or standard input.

Text is read in blocks of whole lines: the first block tells the layout, and each block's
column is parsed by NumPy's C reader, so memory stays near the parsed values however large the
file. A block that reader refuses (missing or text cells, ragged rows) is parsed again line by
line, which names the line at fault."""

from __future__ import annotations

import io
import itertools
import math
import re
import sys
import warnings
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path
from typing import IO, Any

import numpy as np
import numpy.typing as npt

from .errors import UsageError, os_error_text
from .layout import (
    SAMPLE_ROWS,
    Layout,
    data_lines,
    is_row_order,
    parse_number,
    position_hint,
    sniff,
    split_cells,
)

# About a megabyte of text at a time: NumPy's reader is as fast as on the whole file.
BLOCK_CHARS = 1 << 20
# A longer line is not a row of a table (/dev/zero, a binary file, a file with no line breaks);
# refusing it keeps memory bounded whatever the file holds.
MAX_LINE_CHARS = 1 << 20
# The layout is judged from at most this much text, however long its lines.
SAMPLE_CHARS = 1 << 20
NPY_MAGIC = b"\x93NUMPY"
READS = "CSV, TSV or plain text (UTF-8) and .npy arrays"
# Formats people try, by their first bytes and by their extensions.
FORMATS = (
    (b"PAR1", (".parquet",), "Parquet"),
    (b"PK\x03\x04", (".xlsx", ".zip", ".npz", ".ods"), "zip (or Excel .xlsx)"),
    (b"\xd0\xcf\x11\xe0", (".xls",), "Excel .xls"),
    (b"\x89HDF", (".h5", ".hdf5", ".hdf"), "HDF5"),
    (b"ARROW1", (".feather", ".arrow"), "Arrow/Feather"),
    (b"\x1f\x8b", (".gz",), "gzip-compressed"),
    (b"\x80", (".pkl", ".pickle"), "pickle"),
)
BLANK_LINE = re.compile(r"(?:^|\n)[ \t\f\v]*\n")
INFINITE = {"inf", "infinity"}


@dataclass(frozen=True, eq=False)
class Column:
    """The values of the chosen column; `labels` the row-order column's cells for each value
    (dates or numbers) when asked for and present; `first_missing_line` the file line of the
    first missing cell (0 when there is none or lines do not apply)."""

    name: str
    values: npt.NDArray[np.float64]
    labels: npt.NDArray[Any] | None = None
    label_name: str | None = None
    first_missing_line: int = 0
    note: str | None = None


def read_column(
    source: str,
    column: str | None = None,
    delimiter: str | None = None,
    decimal: str | None = None,
    labels: bool = False,
) -> Column:
    """`source` "-" is standard input; `delimiter`/`decimal` None are taken from the content."""
    if source != "-" and source.lower().endswith(".npy"):
        return _read_npy(Path(source), column)
    where = "standard input" if source == "-" else source
    if source != "-":
        _refuse_other_formats(source)
    with _text_stream(source) as stream:
        try:
            return _read_text(stream, where, column, delimiter, decimal, labels)
        except UnicodeDecodeError:
            raise UsageError(
                f"{where} is not UTF-8 text; quorvel reads {READS} (give .npy files the .npy "
                "extension)"
            ) from None


def _refuse_other_formats(source: str) -> None:
    """Spreadsheets, Parquet and other binary formats, named, rather than "not UTF-8 text"."""
    try:
        with open(source, "rb") as handle:
            head = handle.read(8)
    except OSError:
        return  # the text reader says what is wrong with the path
    if head.startswith((b"\xff\xfe", b"\xfe\xff")):
        raise UsageError(f"{source} is UTF-16 text; save it as UTF-8 (quorvel reads {READS})")
    suffix = Path(source).suffix.lower()
    for magic, suffixes, kind in FORMATS:
        if head.startswith(magic) or (suffix in suffixes and not head.isascii()):
            raise UsageError(
                f"{source} is a {kind} file, which quorvel does not read; it reads {READS} "
                "(pandas can convert: pandas.read_parquet(path).to_csv('out.csv'), read_excel ...)"
            )


def stdin_is_input() -> bool:
    """Standard input is piped or redirected, so it holds the data (an empty pipe or /dev/null
    too: they hold none, which is said, not answered with the demonstration); a terminal or a
    closed input leave the command to its demonstration."""
    return sys.stdin is not None and not sys.stdin.isatty()


def stdin_is_empty() -> bool:
    peek = getattr(sys.stdin.buffer, "peek", None)
    return peek is not None and peek(1)[:1] == b""


@contextmanager
def _text_stream(source: str) -> Iterator[IO[str]]:
    if source == "-":
        # Universal newlines: old Mac files end their lines with a lone CR.
        stream = io.TextIOWrapper(sys.stdin.buffer, encoding="utf-8-sig")
        try:
            yield stream
        finally:
            stream.detach()
        return
    try:
        handle = open(source, encoding="utf-8-sig")
    except OSError as error:
        raise UsageError(os_error_text(error, "read", source)) from None
    with handle:
        yield handle


def _blocks(stream: IO[str], where: str) -> Iterator[str]:
    """Whole lines, about BLOCK_CHARS at a time; a line longer than MAX_LINE_CHARS or a NUL
    character ends the reading with one message, before memory grows with it."""
    lines = 0
    while True:
        try:
            block = stream.read(BLOCK_CHARS)
            if "\0" in block:
                raise UsageError(
                    f"{where} holds NUL characters, so it is not text; quorvel reads {READS}"
                )
            if block and not block.endswith("\n"):
                rest = stream.readline(MAX_LINE_CHARS + 1)
                if len(block) - block.rfind("\n") - 1 + len(rest.rstrip("\n")) > MAX_LINE_CHARS:
                    raise UsageError(
                        f"line {lines + block.count(chr(10)) + 1} of {where} is longer than "
                        f"{MAX_LINE_CHARS:,} characters; quorvel reads {READS}, one row a line"
                    )
                block += rest
        except OSError as error:
            name = str(getattr(stream, "name", "input"))
            raise UsageError(os_error_text(error, "read", name)) from None
        if not block:
            return
        lines += block.count("\n")
        yield block


def _read_text(
    stream: IO[str],
    where: str,
    column: str | None,
    delimiter: str | None,
    decimal: str | None,
    want_labels: bool,
) -> Column:
    blocks = _blocks(stream, where)
    # The layout is judged from the first SAMPLE_ROWS lines of data, whatever the block size.
    head: list[str] = []
    sample: list[tuple[int, str]] = []
    for block in blocks:
        head.append(block)
        first_line = 1 + sum(text.count("\n") for text in head[:-1])
        sample += data_lines(block, first_line, SAMPLE_ROWS - len(sample))
        if len(sample) >= SAMPLE_ROWS or sum(len(line) for _, line in sample) > SAMPLE_CHARS:
            break
    first = "".join(head)
    del head
    layout = sniff(sample, column, delimiter, decimal, where)
    # The header's line is left out of the first block; numbering goes on after it.
    offset = 0
    for _ in range(layout.header_line):
        offset = first.find("\n", offset) + 1 or len(first)
    body = first[offset:]
    del first
    line = layout.header_line + 1
    parts: list[npt.NDArray[np.float64]] = []
    label_parts: list[npt.NDArray[Any]] | None = None
    if want_labels and layout.index is not None:
        label_parts = []
    first_missing = 0
    # In a file of one column an empty cell is a blank line: it keeps its position.
    blanks = _Blanks() if len(layout.names) == 1 else None
    for text in itertools.chain([body], blocks):
        values, missing_line = _block_values(text, line, layout, where, blanks)
        parts.append(values)
        first_missing = first_missing or missing_line
        if label_parts is not None:
            found = _block_labels(text, layout)
            # Labels are a help for reading results; a cell they cannot use drops them all.
            label_parts = None if found is None or len(found) != len(values) else label_parts
            if label_parts is not None and found is not None:
                label_parts.append(found)
        line += text.count("\n")
    values = np.concatenate(parts) if parts else np.empty(0)
    del parts
    if values.size == 0:
        raise UsageError(f"{where} has a header but no data rows")
    labels = np.concatenate(label_parts) if label_parts else None
    return Column(
        name=layout.name,
        values=values,
        labels=labels,
        label_name=None if labels is None or layout.index is None else layout.names[layout.index],
        first_missing_line=first_missing,
        note=layout.note(),
    )


def _has_blank_line(text: str) -> bool:
    # Plain substring tests first: they cost next to nothing on a block of a megabyte.
    if "\n\n" in text or text.startswith("\n"):
        return True
    return ("\t\n" in text or " \n" in text) and bool(BLANK_LINE.search(text))


class _Blanks:
    """Blank lines of a one-column file since its last value: missing cells once a value
    follows them, nothing at the end of the file (or before its first value)."""

    def __init__(self) -> None:
        self.started = False
        self.pending: list[int] = []


def _block_values(
    text: str, line: int, layout: Layout, where: str, blanks: _Blanks | None = None
) -> tuple[npt.NDArray[np.float64], int]:
    """The series cells of one block, and the line of its first missing cell (or 0)."""
    fast = _loadtxt(text, layout, layout.series, np.float64)
    lines_in = text.count("\n") + (not text.endswith("\n") and bool(text))
    # A value on every line leaves no room for a blank one; only then is the search saved.
    blank = blanks is not None and (fast is None or fast.size != lines_in) and _has_blank_line(text)
    if fast is not None and np.isfinite(fast).all():
        if blanks is None:
            return fast, 0
        # Blank lines at the end of the last block, before these values, are missing cells too.
        if not blank and not (fast.size and blanks.pending):
            blanks.started = blanks.started or fast.size > 0
            return fast, 0
    values: list[float] = []
    lines: list[int] = []
    rows = _lines_with_blanks(text, line) if blanks is not None else data_lines(text, line)
    for number, content in rows:
        if blanks is not None:
            if not content.strip():
                if blanks.started:
                    blanks.pending.append(number)
                continue
            values += [np.nan] * len(blanks.pending)
            lines += blanks.pending
            blanks.started, blanks.pending = True, []
        cells = split_cells(content, layout.delimiter)
        # A short row has no cell for the column: a missing value, not a reason to switch columns.
        cell = cells[layout.series] if layout.series < len(cells) else ""
        value = parse_number(cell, layout.decimal)
        if value is None:
            raise UsageError(
                f"non-numeric cell {cell!r} in column {layout.name!r} at line {number} of {where}"
            )
        if math.isinf(value):
            what = (
                "an infinite value"
                if cell.lower().lstrip("+-") in INFINITE
                else ("a number too large for a double")
            )
            raise UsageError(
                f"{what} ({_short(cell)}) in column {layout.name!r} at line {number} of {where}"
            )
        values.append(value)
        lines.append(number)
    array = np.array(values, dtype=np.float64)
    missing = np.isnan(array)
    return array, (lines[int(np.argmax(missing))] if missing.any() else 0)


def _lines_with_blanks(text: str, first_number: int) -> Iterator[tuple[int, str]]:
    """Every line but whole-line comments, blank ones as "" (a one-column file's empty cells)."""
    pieces = text.split("\n")
    if pieces[-1] == "":
        pieces.pop()  # what follows the last line break is no line
    for number, line in enumerate(pieces, first_number):
        if not line.lstrip().startswith("#"):
            yield number, line.split("#", 1)[0]


def _short(cell: str) -> str:
    return repr(cell) if len(cell) <= 24 else f"{cell[:12]!r}... of {len(cell)} characters"


def _block_labels(text: str, layout: Layout) -> npt.NDArray[Any] | None:
    """Dates as datetime64, row numbers as integers; None when a cell does not parse."""
    assert layout.index is not None
    if layout.index_is_date and layout.raw_columns is not None:
        # A `2024-01-31 12:00` stamp spans two of NumPy's whitespace columns: cell by cell.
        cells = [split_cells(content, None) for _, content in data_lines(text)]
        try:
            return np.array(
                [np.datetime64(row[layout.index].replace(" ", "T", 1), "s") for row in cells]
            )
        except (ValueError, IndexError):
            return None
    if layout.index_is_date:
        return _loadtxt(text, layout, layout.index, np.dtype("datetime64[s]"))
    numbers = _loadtxt(text, layout, layout.index, np.float64)
    return None if numbers is None else np.rint(numbers).astype(np.int64)


def _loadtxt(text: str, layout: Layout, column: int, dtype: Any) -> npt.NDArray[Any] | None:
    """NumPy's C reader on one column of a block; None when it refuses a cell or a row."""
    if layout.decimal != ".":
        if layout.delimiter == ",":
            return None
        text = text.replace(layout.decimal, ".")
    try:
        with warnings.catch_warnings():
            # A block of comments only is no data, which is not worth a warning.
            warnings.simplefilter("ignore", UserWarning)
            array: npt.NDArray[Any] = np.loadtxt(
                io.StringIO(text),
                dtype=dtype,
                delimiter=layout.delimiter,
                usecols=[layout.raw(column)],
                comments="#",
                quotechar='"',
                ndmin=1,
            )
    except ValueError:
        return None
    return array


def _read_npy(path: Path, column: str | None) -> Column:
    try:
        with open(path, "rb") as handle:
            magic = handle.read(len(NPY_MAGIC))
        # A memory map reads only the column that is used.
        array = np.load(path, mmap_mode="r", allow_pickle=False) if magic == NPY_MAGIC else None
    except OSError as error:
        raise UsageError(os_error_text(error, "read", str(path))) from None
    except (ValueError, EOFError) as error:
        raise UsageError(f"cannot read {path} as a .npy array: {error}") from None
    if array is None:
        raise UsageError(
            f"{path} is not a NumPy .npy file; give a text file an extension such as .csv or .txt"
        )
    if array.dtype.kind not in "iuf" or array.dtype.fields is not None:
        raise UsageError(f"{path} holds values of dtype {array.dtype}; expected real numbers")
    if array.ndim not in (1, 2):
        raise UsageError(
            f"{path} holds an array of shape {array.shape}; expected one or two dimensions"
        )
    if array.size == 0:
        raise UsageError(f"{path} holds no data (an array of shape {array.shape})")
    if array.ndim == 1:
        return Column(path.name, np.array(array, dtype=np.float64))
    index = _npy_column(array, column, path)
    note = None
    if column is None and array.shape[1] > 1:
        note = f"analysing column {index + 1} of {path.name}; choose another with --column"
    return Column(f"column {index + 1}", np.array(array[:, index], dtype=np.float64), note=note)


def _npy_column(array: npt.NDArray[Any], column: str | None, path: Path) -> int:
    width = array.shape[1]
    if column is None:
        # As in text files, the row order itself is never the default series.
        for index in range(width):
            if not is_row_order(np.asarray(array[:, index], dtype=np.float64)):
                return index
        raise UsageError(f"{path} has no column besides the row order; choose one with --column")
    if column.isdigit() and 1 <= int(column) <= width:
        return int(column) - 1
    raise UsageError(
        f"no column {column!r} in {path}{position_hint(column)}; available: positions 1 to {width}"
    )
