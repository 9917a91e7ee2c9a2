"""The analysis layer's way into the batch engine: worker counts, progress and seeds."""

from __future__ import annotations

import functools
import os
import secrets
from collections.abc import Callable, Iterator, Sequence
from contextlib import contextmanager

import numpy as np
import numpy.typing as npt

from . import _engine
from .config import BINNING_MODES, Config, check_integer
from .progress import progress_bar

Figures = tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.float64]]
FormedGroup = tuple[int, int, int, float, str]


def default_workers() -> int:
    """The cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def check_workers(workers: object) -> int:
    """None for every core this process may use, or a positive integer."""
    return default_workers() if workers is None else check_integer("workers", workers, 1)


def fresh_seed() -> int:
    return secrets.randbits(64)


def run_one(
    method: str, values: npt.NDArray[np.float64], config: Config
) -> tuple[float, float, float, npt.NDArray[np.float64], list[FormedGroup]]:
    """value, H0, H, the result table and the groups the measure formed."""
    return _engine.run(method, values, config.classes, *_shared(config))


def run_windows(
    method: str,
    values: npt.NDArray[np.float64],
    starts: npt.NDArray[np.int64],
    window: int,
    config: Config,
    workers: int,
    show_progress: bool | None,
) -> Figures:
    with _reporting(len(starts), f"{method} windows", show_progress) as report:
        return _engine.windows(
            method,
            values,
            starts,
            starts + window,
            config.classes,
            *_shared(config),
            workers,
            report,
        )


def run_many(
    method: str,
    series: Sequence[npt.NDArray[np.float64]],
    configs: Sequence[Config],
    workers: int,
    show_progress: bool | None,
) -> Figures:
    """Every config shares z, accept and binning; K is per series."""
    classes = np.array([config.classes for config in configs], dtype=np.int64)
    shared = _shared(configs[0]) if configs else (1.96, 0.925845, 1)
    with _reporting(len(series), f"{method} series", show_progress) as report:
        return _engine.many(method, list(series), classes, *shared, workers, report)


def run_permutations(
    method: str,
    values: npt.NDArray[np.float64],
    permutations: int,
    seed: int,
    config: Config,
    workers: int,
    show_progress: bool | None,
    block_length: float | None = None,
) -> Figures:
    """Shuffles of the values, or block permutations of mean length `block_length`."""
    if block_length is None:
        what = "permutations"
        draw = functools.partial(_engine.permutations, method, values, permutations, seed)
    else:
        what = "block permutations"
        draw = functools.partial(
            _engine.block_permutations, method, values, permutations, seed, block_length
        )
    with _reporting(permutations, what, show_progress) as report:
        return draw(config.classes, *_shared(config), workers, report)


def _shared(config: Config) -> tuple[float, float, int]:
    return config.z, config.accept, BINNING_MODES[config.binning]


@contextmanager
def _reporting(
    total: int, description: str, enabled: bool | None
) -> Iterator[Callable[[int], None] | None]:
    with progress_bar(total, description, enabled) as bar:
        if bar is None:
            yield None
        else:
            yield lambda done: bar.update(done - bar.n)
