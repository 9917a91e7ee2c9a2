"""Mistakes in the command's input that end it with one line and exit status 2."""

from __future__ import annotations


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
