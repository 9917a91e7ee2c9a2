"""The analysis layer's way into the batch engine: a request's workers and progress, and the
settings of a resolved `Config`, passed to the compiled `_engine`."""

from __future__ import annotations

import os
from collections.abc import Callable, Iterator, Sequence
from contextlib import contextmanager
from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt

from . import _engine
from .config import BINNING_MODES, Config, check_integer
from .progress import progress_bar

if TYPE_CHECKING:
    from .nullmodels import NullModel
    from .request import Request

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


def checked_copy(
    values: npt.NDArray[np.float64], workers: int = 1
) -> tuple[npt.NDArray[np.float64], bool, float, float]:
    """An own copy of a non-empty series, whether every value is finite, and its least and
    greatest values (meaningful when all are finite), in one pass on `workers` threads from
    2^19 values."""
    return _engine.checked_copy(values, workers)


def run_one(
    method: str, values: npt.NDArray[np.float64], config: Config, workers: int = 1
) -> tuple[float, float, float, npt.NDArray[np.float64], list[FormedGroup]]:
    """value, H0, H, the result table and the groups the measure formed; a long series on
    `workers` threads, with the same figures for any number."""
    return _engine.run(method, values, config.classes, *_shared(config), workers)


def run_windows(
    method: str,
    values: npt.NDArray[np.float64],
    starts: npt.NDArray[np.int64],
    window: int,
    config: Config,
    request: Request,
) -> Figures:
    with _reporting(len(starts), f"{method} windows", request.show_progress) as report:
        return _engine.windows(
            method,
            values,
            starts,
            starts + window,
            config.classes,
            *_shared(config),
            request.worker_count,
            report,
        )


def run_many(
    method: str,
    series: Sequence[npt.NDArray[np.float64]],
    classes: Sequence[int],
    request: Request,
) -> Figures:
    """Every series with the request's z, accept and binning; K is per series."""
    counts = np.array(classes, dtype=np.int64)
    with _reporting(len(series), f"{method} series", request.show_progress) as report:
        return _engine.many(
            method, list(series), counts, *_shared(request), request.worker_count, report
        )


def run_draws(
    method: str,
    values: npt.NDArray[np.float64],
    config: Config,
    request: Request,
    seed: int,
    null: NullModel,
    report_to: Callable[[int], None] | None = None,
) -> Figures:
    """The measure on `request.permutations` draws of the values as `null` makes them; the
    draws made so far go to `report_to` where given, else to a bar of their own."""
    count = request.permutations
    with _reporting(count, null.source, request.show_progress) as report:
        return _engine.draws(
            method,
            values,
            count,
            seed,
            null.draw,
            config.classes,
            *_shared(config),
            request.worker_count,
            report_to if report_to is not None else report,
        )


def tie_broken(rows: npt.NDArray[np.float64], seed: int, first: int = 0) -> npt.NDArray[np.float64]:
    """The ranks 0..n-1 of the values of each row (a series, or a table of windows), each run
    of equal values in a random order from `seed`, row r's from its stream first + r."""
    return _engine.tie_broken(rows, seed, first)


def order_pattern(values: npt.NDArray[np.float64], step: int) -> bytes:
    """Whether each value is above, then below, the one before it, and the dense ranks of
    every `step`-th value: the bytes a series' own seed is hashed from."""
    return _engine.order_pattern(values, step)


def default_rng_uniforms(integers: list[int], count: int) -> npt.NDArray[np.float64]:
    """numpy.random.default_rng(integers).random(count), integers from 0 to 2^64 - 1, without
    building a generator."""
    return _engine.default_rng_uniforms(integers, count)


def shuffled(values: npt.NDArray[np.float64], seed: int, draw: int) -> npt.NDArray[np.float64]:
    """Shuffle `draw` of `seed`: the series `run_draws` measures as its draw `draw`."""
    return _engine.shuffled(values, seed, draw)


def _shared(settings: Config | Request) -> tuple[float, float, int]:
    """z, accept and the engine's binning mode, as every entry of the engine takes them."""
    return settings.z, settings.accept, BINNING_MODES[settings.binning]


@contextmanager
def _reporting(
    total: int, description: str, enabled: bool | None
) -> Iterator[Callable[[int], None] | None]:
    with progress_bar(total, description, enabled) as bar:
        if bar is None:
            yield None
        else:
            yield lambda done: bar.update(done - bar.n)
