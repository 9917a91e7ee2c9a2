"""A progress bar for long batches, only when someone is watching a terminal."""

from __future__ import annotations

import sys
from collections.abc import Iterator
from contextlib import contextmanager
from typing import Any

# Short loops finish before the bar would appear.
DELAY_SECONDS = 1.0


@contextmanager
def progress_bar(total: int, description: str, enabled: bool | None = None) -> Iterator[Any]:
    """A tqdm bar to move by hand (its `update` and `n`), or None where none is shown:
    `enabled=None` shows one when stderr is a terminal and tqdm is installed."""
    if enabled is None:
        enabled = sys.stderr.isatty()
    bar = _tqdm_bar(total, description) if enabled else None
    try:
        yield bar
    finally:
        if bar is not None:
            bar.close()


def _tqdm_bar(total: int, description: str) -> Any:
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, desc=description, delay=DELAY_SECONDS, file=sys.stderr)
