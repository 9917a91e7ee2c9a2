# Type stubs of the compiled batch engine.
from collections.abc import Callable, Sequence

import numpy as np
import numpy.typing as npt

_Figures = tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.float64]]
_Progress = Callable[[int], None] | None

METHODS: tuple[str, ...]
DEFAULT_Z: float
DEFAULT_ACCEPT: float

class TaskError(ValueError):
    """A task of a batch refused its input; str() gives "series 3: reason"."""

    what: str
    index: int
    reason: str

def run(
    method: str,
    series: npt.ArrayLike,
    classes: int,
    z: float,
    accept: float,
    mode: int,
    workers: int = 1,
) -> tuple[
    float, float, float, npt.NDArray[np.float64], list[tuple[int, int, int, float, str]]
]: ...
def checked_copy(
    series: npt.ArrayLike, workers: int = 1
) -> tuple[npt.NDArray[np.float64], bool, float, float]: ...
def windows(
    method: str,
    series: npt.ArrayLike,
    starts: npt.ArrayLike,
    stops: npt.ArrayLike,
    classes: int,
    z: float,
    accept: float,
    mode: int,
    workers: int,
    progress: _Progress = None,
) -> _Figures: ...
def many(
    method: str,
    series: Sequence[npt.ArrayLike],
    classes: npt.ArrayLike,
    z: float,
    accept: float,
    mode: int,
    workers: int,
    progress: _Progress = None,
) -> _Figures: ...
def draws(
    method: str,
    series: npt.ArrayLike,
    count: int,
    seed: int,
    kind: str,
    classes: int,
    z: float,
    accept: float,
    mode: int,
    workers: int,
    progress: _Progress = None,
) -> _Figures: ...
def tie_broken(rows: npt.ArrayLike, seed: int, first: int = 0) -> npt.NDArray[np.float64]: ...
def order_pattern(series: npt.ArrayLike, step: int) -> bytes: ...
def default_rng_uniforms(integers: Sequence[int], count: int) -> npt.NDArray[np.float64]: ...
def shuffled(series: npt.ArrayLike, seed: int, draw: int) -> npt.NDArray[np.float64]: ...
