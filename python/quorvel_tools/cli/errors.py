"""Mistakes in the command's input that end it with one line and exit status 2."""

from __future__ import annotations

import sys
import warnings
from collections.abc import Iterator
from contextlib import contextmanager
from typing import TextIO

from ..nullcache import NullCacheWarning


class UsageError(Exception):
    """Something the person running the command can fix: a path, a column, a cell, an option."""


def os_error_text(error: OSError, action: str, path: str) -> str:
    """One line for a failed read or write: what, where and the system's reason."""
    if isinstance(error, FileNotFoundError) and action == "read":
        return f"no such file: {path}"
    if isinstance(error, IsADirectoryError):
        return f"{path} is a directory, not a file"
    reason = error.strerror or str(error) or type(error).__name__
    return f"cannot {action} {path}: {reason[0].lower()}{reason[1:]}"


@contextmanager
def cache_warnings_as_lines() -> Iterator[None]:
    """The null cache's warnings as one line of the command's own: the run goes on, and the
    line names the cache and what failed in it."""
    with warnings.catch_warnings():
        shown = warnings.showwarning

        def show(
            message: Warning | str,
            category: type[Warning],
            filename: str,
            lineno: int,
            file: TextIO | None = None,
            line: str | None = None,
        ) -> None:
            if issubclass(category, NullCacheWarning):
                print(f"quorvel: warning: {message}", file=sys.stderr)
            else:
                shown(message, category, filename, lineno, file, line)

        warnings.showwarning = show
        yield
