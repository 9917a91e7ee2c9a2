"""A progress bar for long loops, only when someone is watching a terminal."""

from __future__ import annotations

import sys
from collections.abc import Iterable, Iterator
from typing import TypeVar

T = TypeVar("T")

# Short loops finish before the bar would appear.
DELAY_SECONDS = 1.0


def progress(
    items: Iterable[T], total: int, description: str, enabled: bool | None = None
) -> Iterator[T]:
    """`enabled=None` shows tqdm's bar when stderr is a terminal and tqdm is installed."""
    if enabled is None:
        enabled = sys.stderr.isatty()
    if not enabled:
        yield from items
        return
    try:
        from tqdm import tqdm
    except ImportError:
        yield from items
        return
    yield from tqdm(items, total=total, desc=description, delay=DELAY_SECONDS, file=sys.stderr)
