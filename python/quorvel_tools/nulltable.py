"""The shipped null tables: their format, and reading a length's null from them.

The archive (data/null_tables.npz, written by scripts/make_null_tables.py) holds, for the
lengths of `nullgrid.grid_lengths`:

- ``format``: `FORMAT_VERSION`, raised whenever the layout below changes;
- ``provenance``: how the table was made (script, seed, draws), as text;
- ``measures``: the measures it covers, each with ``<measure>.values``, ``.counts`` (the
  distinct values of each length's null, ascending, and their draws) and ``.offsets`` (where
  each length's part starts: length i is ``offsets[i]:offsets[i + 1]``);
- ``n``, ``draws``: the lengths and the draws of each;
- ``settings``: z, accept and the seed the nulls were drawn with, at the data-size K.
"""

from __future__ import annotations

from functools import cache
from pathlib import Path

import numpy as np

from .config import Config, classes_for_size
from .pvalues import NullSample

FORMAT_VERSION = 1
TABLE_PATH = Path(__file__).with_name("data") / "null_tables.npz"


class NullTableError(RuntimeError):
    """The shipped table is not one this version reads (a broken or mismatched install)."""


class NullTable:
    """The shipped tables: one null per covered measure for each tabulated length, with the
    data-size number of classes and the band multiplier and acceptance fraction they were
    drawn with."""

    def __init__(self, path: Path) -> None:
        with np.load(path) as data:
            found = int(data["format"]) if "format" in data.files else None
            if found != FORMAT_VERSION:
                raise NullTableError(
                    f"{path} has null table format {found}; this version reads format "
                    f"{FORMAT_VERSION} (reinstall quorvel, or run scripts/make_null_tables.py)"
                )
            self.provenance = str(data["provenance"])
            self.measures: tuple[str, ...] = tuple(str(name) for name in data["measures"])
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
                for method in self.measures
            }
            # Each length's null is read for every series of that length: built once.
            self._samples: dict[tuple[str, int], NullSample] = {}
            # And the parts of the lengths in use, as every series of a length reads them.
            self._around: dict[tuple[str, int], list[tuple[NullSample, float]]] = {}

    @property
    def longest(self) -> int:
        return int(self.lengths[-1])

    def serves(self, method: str, config: Config, n: int) -> bool:
        """Whether this measure, these settings and this length are the tables' (for a series
        the rank null applies to); past the longest length the tables serve its null."""
        return (
            method in self._columns
            and config.z == self.z
            and config.accept == self.accept
            and int(self.lengths[0]) <= n
            and config.classes == classes_for_size(n)
        )

    def sample(self, method: str, i: int) -> NullSample:
        found = self._samples.get((method, i))
        if found is None:
            values, counts, offsets = self._columns[method]
            part = slice(int(offsets[i]), int(offsets[i + 1]))
            found = NullSample.from_counts(values[part], counts[part], int(self.draws[i]))
            self._samples[method, i] = found
        return found

    def around(self, method: str, n: int) -> list[tuple[NullSample, float]]:
        """The tabulated lengths around n with their weights: linear in n between two lengths
        that share K, in log n across a change of K; past the longest length, that length.
        Its null changes little over the last octaves and its upper quantiles fall with n
        (from 2.3e5 to 1.1e6 values the 95% point goes from about 0.07 to 0.06), so read at a
        longer series it errs on the conservative side."""
        found = self._around.get((method, n))
        if found is None:
            found = self._around[method, n] = self._parts_around(method, n)
        return found

    def _parts_around(self, method: str, n: int) -> list[tuple[NullSample, float]]:
        if n >= self.longest:
            return [(self.sample(method, len(self.lengths) - 1), 1.0)]
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
