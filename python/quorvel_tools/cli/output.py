"""Rows of results as an aligned table, CSV or JSON."""

from __future__ import annotations

import csv
import io
import json
import math
from collections.abc import Sequence
from typing import Any

Row = dict[str, Any]


def render(rows: Sequence[Row], form: str) -> str:
    if form == "json":
        return json.dumps([{k: _plain(v) for k, v in row.items()} for row in rows], indent=2)
    if form == "csv":
        return _csv(rows)
    return _table(rows)


def _plain(value: Any) -> Any:
    """JSON has no NaN: a measure that is undefined (H0 = 0) becomes null."""
    if isinstance(value, float) and math.isnan(value):
        return None
    if hasattr(value, "item"):
        return _plain(value.item())
    return value


def _csv(rows: Sequence[Row]) -> str:
    if not rows:
        return ""
    buffer = io.StringIO()
    writer = csv.DictWriter(buffer, fieldnames=list(rows[0]), lineterminator="\n")
    writer.writeheader()
    writer.writerows({k: _cell(v, exact=True) for k, v in row.items()} for row in rows)
    return buffer.getvalue().rstrip("\n")


def _table(rows: Sequence[Row]) -> str:
    if not rows:
        return "(no results)"
    columns = list(rows[0])
    cells = [[_cell(row[c]) for c in columns] for row in rows]
    widths = [max(len(c), *(len(line[i]) for line in cells)) for i, c in enumerate(columns)]
    numeric = [all(_is_number(row[c]) for row in rows) for c in columns]

    def line(values: Sequence[str]) -> str:
        parts = [
            v.rjust(w) if n else v.ljust(w) for v, w, n in zip(values, widths, numeric, strict=True)
        ]
        return "  ".join(parts).rstrip()

    return "\n".join([line(columns), line(["-" * w for w in widths]), *map(line, cells)])


def _is_number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool) or hasattr(value, "item")


def _cell(value: Any, exact: bool = False) -> str:
    if not exact and isinstance(getattr(value, "text", None), str):
        return str(value.text)  # a figure with its own table text (a p-value, say)
    value = _plain(value)
    if value is None:
        return "nan" if not exact else ""
    if isinstance(value, float):
        if exact:
            return repr(value)
        text = f"{value:.6f}"
        # Rounding leaves "-0.000000" for tiny negative values: a sign that is not there.
        return text[1:] if text.startswith("-") and float(text) == 0 else text
    return str(value)
