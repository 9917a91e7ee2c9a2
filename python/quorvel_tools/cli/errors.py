"""Mistakes in the command's input that end it with one line and exit status 2."""


class UsageError(Exception):
    """Something the person running the command can fix: a path, a column, a cell, an option."""
