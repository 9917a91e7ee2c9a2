"""Labels and values in messages as a person writes them: 1958-05-10, 2, 'c', not
np.datetime64('1958-05-10T00:00:00.000000') or np.int64(2)."""

from __future__ import annotations

import datetime
from typing import Any

import numpy as np


def plain(value: Any) -> Any:
    """A NumPy scalar as the Python value it holds; a date or time as ISO text."""
    if isinstance(value, np.datetime64):
        return _date_text(value)
    if isinstance(value, np.generic):
        return value.item()
    return value


def label_text(label: Any) -> str:
    """Text labels quoted, numbers and dates bare."""
    value = plain(label)
    if isinstance(label, np.datetime64):
        return str(value)
    if isinstance(value, datetime.datetime):
        return _date_text(np.datetime64(value.replace(tzinfo=None)))
    if isinstance(value, datetime.date):
        return value.isoformat()
    if isinstance(value, str):
        return repr(value)
    return str(value)


def _date_text(moment: np.datetime64) -> str:
    """Only as much of the time of day as is not zero: 1958-05-10, 1958-05-10 06:30."""
    if np.isnat(moment):
        return "NaT"
    for unit in ("D", "m", "s", "ms", "us"):
        if moment.astype(f"datetime64[{unit}]") == moment:
            return str(np.datetime_as_string(moment, unit=unit)).replace("T", " ")
    return str(np.datetime_as_string(moment)).replace("T", " ")
