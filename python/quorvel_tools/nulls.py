"""Null distributions of the measures, and the p-values read from them.

With equal-frequency classes and no tie across a class boundary, NSLocaltoGlobal, NSLefttoRight
and NSCircleLefttoRight depend only on the order of the ranks: under exchangeable values their
distribution depends on n and the settings alone. For the data-size number of classes it is read
from tables shipped with the package (scripts/make_null_tables.py); for other settings it is
simulated once on the batch engine from shuffles of 0..n-1 and kept, in the process and, if
asked, in a cache directory. Everything else is tested against shuffles of its own values.

The measures take few distinct values (at n = 100 more than half of all shuffles give exactly 0),
so a p-value that only counted draws at or above the observed value would reject far less often
than its level says. The p-value is therefore randomised within the ties, exactly as a random
tie-break of the ranks: p = (draws above + J) / (draws + 1), J drawn uniformly from 1 to
1 + draws equal. `p_high` is the conventional (conservative) p-value, `p_low` its other end.
"""

from __future__ import annotations

import hashlib
import os
from dataclasses import dataclass
from functools import cache
from pathlib import Path
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .config import Config, classes_for_size
from .engine import run_permutations
from .nullcache import ENTRY_SUFFIX, clear_directory, read_entry, write_entry

Null = Literal["iid", "block"]
NULLS: tuple[str, ...] = ("iid", "block")
DEFAULT_NULL: Null = "iid"
# Draws of a null simulated for one series or setting: a p-value resolution of 0.001.
DEFAULT_PERMUTATIONS = 999
RANK_BASED: tuple[str, ...] = ("NSLocaltoGlobal", "NSLefttoRight", "NSCircleLefttoRight")
TABLE_PATH = Path(__file__).with_name("data") / "null_tables.npz"
# Below 2^24 values the module's equal-frequency positions are exact in single precision too.
EXACT_COUNTS_BELOW = 2**24
DENSE_UP_TO = 400
K_RUNS_UP_TO = 10_000
OCTAVE_STEPS = 4
GEOMETRIC_POINTS = 27
SIMULATION_SEED = 0x5EED_7AB1E


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


@dataclass(frozen=True)
class NullSample:
    """A null distribution as drawn: its distinct finite values, ascending, and for each the
    number of draws at or above it. Draws whose measure is NaN count in `draws` only."""

    values: npt.NDArray[np.float64]
    at_or_above: npt.NDArray[np.int64]
    draws: int

    @classmethod
    def of(cls, drawn: npt.NDArray[np.float64]) -> NullSample:
        values, counts = np.unique(drawn[~np.isnan(drawn)], return_counts=True)
        return cls.from_counts(values, counts, len(drawn))

    @classmethod
    def from_counts(
        cls, values: npt.NDArray[np.float64], counts: npt.NDArray[Any], draws: int
    ) -> NullSample:
        at_or_above = np.cumsum(counts[::-1].astype(np.int64))[::-1]
        return cls(values, np.append(at_or_above, 0), draws)

    def above_and_equal(
        self, observed: npt.NDArray[np.float64]
    ) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64]]:
        """Draws strictly above each observed value, and draws equal to it."""
        first = np.searchsorted(self.values, observed, side="left")
        past = np.searchsorted(self.values, observed, side="right")
        at_or_above = self.at_or_above[first]
        above = self.at_or_above[past]
        return above, at_or_above - above


@dataclass(frozen=True)
class PValues:
    """p-values of observed values against a null, with the ends of their tie range."""

    p_value: npt.NDArray[np.float64]
    p_low: npt.NDArray[np.float64]
    p_high: npt.NDArray[np.float64]


def p_values(
    sample: NullSample, observed: npt.NDArray[np.float64], uniform: npt.NDArray[np.float64]
) -> PValues:
    """`uniform` in [0, 1) picks where each observed value falls among the draws it ties."""
    above, equal = sample.above_and_equal(observed)
    rank = np.floor(uniform * (equal + 1)) + 1
    scale = sample.draws + 1
    nan = np.isnan(observed)
    return PValues(
        np.where(nan, np.nan, (above + rank) / scale),
        np.where(nan, np.nan, (above + 1) / scale),
        np.where(nan, np.nan, (above + equal + 1) / scale),
    )


def interpolated_p_values(
    parts: list[tuple[NullSample, float]],
    observed: npt.NDArray[np.float64],
    uniform: npt.NDArray[np.float64],
) -> PValues:
    """The weighted mean of the p-values against the tabulated lengths around n."""
    found = [(p_values(sample, observed, uniform), weight) for sample, weight in parts]
    return PValues(
        *(sum(getattr(p, name) * w for p, w in found) for name in ("p_value", "p_low", "p_high"))
    )


def tie_free_counts(n: int, classes: int) -> npt.NDArray[np.int64]:
    """Class counts of a series without ties: the first n mod K classes hold one value more."""
    q, r = divmod(n, classes)
    counts = np.full(classes, q, dtype=np.int64)
    counts[:r] += 1
    return counts


def rank_null_applies(method: str, config: Config, counts: npt.NDArray[np.int64]) -> bool:
    """Whether the measure's null depends on n and the settings only for this series: a
    rank-based measure, equal-frequency classes, and no tie across a class boundary (the class
    counts are those of distinct values)."""
    n = int(counts.sum())
    return (
        method in RANK_BASED
        and config.binning == "equal-frequency"
        and n < EXACT_COUNTS_BELOW
        and np.array_equal(counts, tie_free_counts(n, config.classes))
    )


class NullTable:
    """The shipped tables: one null per rank-based measure for each tabulated length, with the
    data-size number of classes and the band multiplier and acceptance fraction they were
    drawn with."""

    def __init__(self, path: Path) -> None:
        with np.load(path) as data:
            self.z, self.accept = (float(v) for v in data["settings"][:2])
            self.lengths = data["n"]
            self.draws = data["draws"]
            self.classes = np.array([classes_for_size(int(n)) for n in self.lengths])
            self._columns = {
                method: (
                    data[f"{method}.values"],
                    data[f"{method}.counts"],
                    data[f"{method}.offsets"],
                )
                for method in RANK_BASED
            }

    def serves(self, config: Config, n: int) -> bool:
        """Whether these settings and length are the tables' (for a series the rank null
        applies to)."""
        return (
            config.z == self.z
            and config.accept == self.accept
            and int(self.lengths[0]) <= n <= int(self.lengths[-1])
            and config.classes == classes_for_size(n)
        )

    def sample(self, method: str, i: int) -> NullSample:
        values, counts, offsets = self._columns[method]
        part = slice(int(offsets[i]), int(offsets[i + 1]))
        return NullSample.from_counts(values[part], counts[part], int(self.draws[i]))

    def around(self, method: str, n: int) -> list[tuple[NullSample, float]]:
        """The tabulated lengths around n with their weights: linear in n between two lengths
        that share K, in log n across a change of K."""
        i = int(np.searchsorted(self.lengths, n))
        if self.lengths[i] == n:
            return [(self.sample(method, i), 1.0)]
        low, high = int(self.lengths[i - 1]), int(self.lengths[i])
        if self.classes[i - 1] == self.classes[i]:
            weight = (high - n) / (high - low)
        else:
            weight = float(np.log(high / n) / np.log(high / low))
        return [(self.sample(method, i - 1), weight), (self.sample(method, i), 1.0 - weight)]


@cache
def null_table() -> NullTable:
    return NullTable(TABLE_PATH)


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
    """Where simulated nulls are kept between sessions: a directory, True for the user's cache
    directory ($XDG_CACHE_HOME/quorvel/nulls, else ~/.cache/quorvel/nulls), or None/False for
    this process only (the default, unless QUORVEL_NULL_CACHE names a directory). Returns it.

    The cache is best-effort: an entry that fails its checks is simulated again and replaced,
    and a directory that cannot be written keeps nulls for the process only, each with a
    `NullCacheWarning`; p-values are the same as without a cache."""
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
    """Forgets every simulated null, in the process and in the cache directory (with the
    temporaries of writers that were interrupted); returns the number of files removed. Files
    another process removes at the same time are not counted."""
    _cache.samples.clear()
    return 0 if _cache.directory is None else clear_directory(_cache.directory)


def simulated_null(
    method: str,
    n: int,
    config: Config,
    draws: int,
    workers: int,
    show_progress: bool | None,
) -> NullSample:
    """The null of a rank-based measure for n tie-free values and these settings, from `draws`
    shuffles of 0..n-1 with a fixed seed: simulated once, then reused."""
    key = (method, n, config.classes, config.z, config.accept, draws)
    found = _cache.samples.get(key)
    if found is not None:
        return found
    path = _cache_path(key)
    kept = None if path is None else read_entry(path, repr(key), draws, _cache.describe())
    if kept is not None:
        found = NullSample.from_counts(*kept, draws)
    else:
        ranks = np.arange(n, dtype=np.float64)
        drawn, _, _ = run_permutations(
            method, ranks, draws, SIMULATION_SEED, config, workers, show_progress
        )
        found = NullSample.of(drawn)
        if path is not None:
            counts = -np.diff(found.at_or_above)
            write_entry(path, repr(key), found.values, counts, draws, _cache.describe())
    _cache.samples[key] = found
    return found


def _cache_path(key: NullKey) -> Path | None:
    directory = _cache.directory
    if directory is None:
        return None
    method, n, classes, z, accept, draws = key
    return directory / f"{method}-n{n}-K{classes}-z{z!r}-a{accept!r}-d{draws}{ENTRY_SUFFIX}"


def series_seed(values: npt.NDArray[np.float64], method: str) -> int:
    """A seed taken from the series itself, so that the same series gives the same p-value:
    its length, its sum and up to 4,096 evenly spaced values (cheap on long series)."""
    step = max(1, len(values) // 4096)
    digest = hashlib.blake2b(digest_size=8)
    digest.update(method.encode())
    digest.update(np.int64(len(values)).tobytes())
    with np.errstate(over="ignore"):  # a sum past the largest double is still a fine key
        digest.update(np.float64(np.sum(values)).tobytes())
    digest.update(np.ascontiguousarray(values[::step]).tobytes())
    return int.from_bytes(digest.digest(), "little")


def tie_breaks(seed: int, count: int) -> npt.NDArray[np.float64]:
    """The uniforms that place observed values among their ties, one per observed value."""
    return np.random.default_rng([seed, 0x71E5]).random(count)


def check_null(null: object) -> Null:
    if null not in NULLS:
        raise ValueError(f"null must be 'iid' or 'block', not {null!r}")
    return null  # type: ignore[return-value]
