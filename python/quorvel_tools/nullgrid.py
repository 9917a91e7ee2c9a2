"""The lengths the shipped null tables hold, as scripts/make_null_tables.py builds them."""

from __future__ import annotations

from .config import classes_for_size

DENSE_UP_TO = 400
K_RUNS_UP_TO = 10_000
OCTAVE_STEPS = 4
GEOMETRIC_POINTS = 27


def grid_lengths() -> list[int]:
    """The lengths the tables hold: every n up to 400, then both ends of every run of lengths
    that share K up to 10^4, then 10^4 * 2^(j/4) for j = 1..27."""
    lengths = list(range(3, DENSE_UP_TO + 1))
    classes = {n: classes_for_size(n) for n in range(DENSE_UP_TO, K_RUNS_UP_TO + 2)}
    for n in range(DENSE_UP_TO + 1, K_RUNS_UP_TO + 1):
        if classes[n] != classes[n - 1] or classes[n] != classes[n + 1] or n == K_RUNS_UP_TO:
            lengths.append(n)
    for j in range(1, GEOMETRIC_POINTS + 1):
        lengths.append(round(K_RUNS_UP_TO * 2 ** (j / OCTAVE_STEPS)))
    return lengths
