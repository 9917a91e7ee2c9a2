"""Where this process keeps the nulls it simulates: in memory, and in a cache directory if one
is chosen (by `set_null_cache`, or by QUORVEL_NULL_CACHE when the package is imported)."""

from __future__ import annotations

import os
from dataclasses import dataclass
from pathlib import Path

import numpy as np
import numpy.typing as npt

from .nullcache import ENTRY_SUFFIX, clear_directory, read_entry, write_entry
from .pvalues import NullSample

NullKey = tuple[str, int, int, float, float, int]  # method, n, K, z, accept, draws


@dataclass
class _NullCache:
    """The simulated nulls of this process, where they are kept between processes, and who
    chose that place (named when the cache fails)."""

    samples: dict[NullKey, NullSample]
    directory: Path | None
    chosen_by: str = "set_null_cache"

    def describe(self) -> str:
        return f"{self.directory} (from {self.chosen_by})"


_cache = (
    _NullCache({}, Path(os.environ["QUORVEL_NULL_CACHE"]), "QUORVEL_NULL_CACHE")
    if os.environ.get("QUORVEL_NULL_CACHE")
    else _NullCache({}, None)
)


def default_cache_directory() -> Path:
    base = os.environ.get("XDG_CACHE_HOME") or str(Path.home() / ".cache")
    return Path(base) / "quorvel" / "nulls"


def set_null_cache(directory: str | os.PathLike[str] | bool | None) -> Path | None:
    """Choose where simulated nulls are kept between sessions.

    Parameters
    ----------
    directory : path, bool or None
        A directory; True for the user's cache directory ($XDG_CACHE_HOME/quorvel/nulls, else
        ~/.cache/quorvel/nulls); None or False for this process only (the default, unless
        QUORVEL_NULL_CACHE names a directory).

    Returns
    -------
    Path or None
        The directory chosen.

    Notes
    -----
    The cache is best-effort: an entry that fails its checks is simulated again and replaced,
    and a directory that cannot be written keeps nulls for the process only, each with a
    `NullCacheWarning`; p-values are the same as without a cache.
    """
    if directory is True:
        chosen: Path | None = default_cache_directory()
    elif directory is None or directory is False:
        chosen = None
    else:
        chosen = Path(directory)
    _cache.directory = chosen
    _cache.chosen_by = "set_null_cache"
    return chosen


def clear_null_cache() -> int:
    """Forget every simulated null, in the process and in the cache directory.

    Returns
    -------
    int
        The number of files removed (with the temporaries of writers that were interrupted);
        files another process removes at the same time are not counted.
    """
    _cache.samples.clear()
    _ordered.clear()
    return 0 if _cache.directory is None else clear_directory(_cache.directory)


def kept(key: NullKey) -> NullSample | None:
    """The null of this key if the process or the cache directory has it."""
    found = _cache.samples.get(key)
    if found is not None:
        return found
    path = _cache_path(key)
    entry = None if path is None else read_entry(path, repr(key), key[-1], _cache.describe())
    if entry is None:
        return None
    found = NullSample.from_counts(*entry, key[-1])
    _cache.samples[key] = found
    return found


def keep(key: NullKey, sample: NullSample) -> None:
    """Keeps a simulated null in the process and, if one is chosen, the cache directory."""
    path = _cache_path(key)
    if path is not None:
        counts = -np.diff(sample.at_or_above)
        write_entry(path, repr(key), sample.values, counts, sample.draws, _cache.describe())
    _cache.samples[key] = sample


# Draws in the order the engine made them, for tests that read several measures on the same
# shuffles (`verdict`); kept for the process only, as the cache directory holds counts.
_ordered: dict[NullKey, npt.NDArray[np.float64]] = {}


def kept_draws(key: NullKey) -> npt.NDArray[np.float64] | None:
    """The ordered draws of this key if the process has them."""
    return _ordered.get(key)


def keep_draws(key: NullKey, drawn: npt.NDArray[np.float64]) -> None:
    drawn.flags.writeable = False
    _ordered[key] = drawn


def _cache_path(key: NullKey) -> Path | None:
    directory = _cache.directory
    if directory is None:
        return None
    method, n, classes, z, accept, draws = key
    return directory / f"{method}-n{n}-K{classes}-z{z!r}-a{accept!r}-d{draws}{ENTRY_SUFFIX}"
