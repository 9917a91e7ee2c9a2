"""Writes the null tables that analyze() reads its p-values from: for each rank-based measure with
the data-size number of classes, the distribution of the measure over shuffles of a tie-free
series of n values, on a grid of n.

Without tied values such a measure depends only on the order of the ranks, so shuffling 0..n-1
gives its null for every continuous series of that length. Where n is small the distribution is
a few large atoms, so every length is tabulated; from 401 values on, the two ends of every run of
lengths that share K; from 10^4 on, a geometric grid (four points an octave) to 2^(27/4) * 10^4.
Draws: 9,999 up to 10^4 values (p-values to 1e-4, their error at 5% about 0.002), 1,999 to
10^5 and 999 beyond, where one draw of the three measures costs milliseconds.

    python scripts/make_null_tables.py            # about 16 minutes on two cores
    python scripts/make_null_tables.py --stamp    # format and provenance into a table of before

The archive's layout is described in quorvel_tools/nulltable.py; the loader refuses a table of
another format version.
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

import numpy as np

from quorvel_tools.config import DEFAULT_ACCEPT, DEFAULT_Z, resolve
from quorvel_tools.engine import default_workers, run_draws
from quorvel_tools.nullgrid import grid_lengths
from quorvel_tools.nullmodels import IID
from quorvel_tools.nulltable import FORMAT_VERSION, TABLE_PATH
from quorvel_tools.ranknull import RANK_BASED
from quorvel_tools.request import Request

SEED = 20261208


def draws_for(n: int) -> int:
    if n <= 10_000:
        return 9_999
    return 1_999 if n <= 100_000 else 999


def header() -> dict[str, np.ndarray]:
    """The format version, the provenance and the measures of a table this script writes."""
    provenance = (
        "scripts/make_null_tables.py: shuffles of 0..n-1 on the batch engine, seed 20261208 + n, "
        "data-size K, z and accept as in `settings`; 9,999 draws up to 10^4 values, 1,999 to "
        "10^5, 999 beyond"
    )
    return {
        "format": np.array(FORMAT_VERSION, dtype=np.int64),
        "provenance": np.array(provenance),
        "measures": np.array(RANK_BASED),
    }


def stamp(path: Path) -> None:
    """Adds the header to a table written before it existed; every array stays bit for bit."""
    with np.load(path) as data:
        arrays = {key: data[key] for key in data.files if key not in header()}
    np.savez_compressed(path, **header(), **arrays)  # type: ignore[arg-type]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=TABLE_PATH)
    parser.add_argument("--workers", type=int, default=default_workers())
    parser.add_argument("--stamp", action="store_true", help="only add the header to --out")
    arguments = parser.parse_args()
    if arguments.stamp:
        stamp(arguments.out)
        return 0
    lengths = grid_lengths()
    columns: dict[str, list[np.ndarray]] = {}
    started = time.perf_counter()
    for i, n in enumerate(lengths):
        config = resolve(n)
        request = Request(permutations=draws_for(n), workers=arguments.workers, show_progress=False)
        ranks = np.arange(n, dtype=np.float64)
        for method in RANK_BASED:
            null, _, _ = run_draws(method, ranks, config, request, SEED + n, IID)
            values, counts = np.unique(null, return_counts=True)
            columns.setdefault(f"{method}.values", []).append(values)
            columns.setdefault(f"{method}.counts", []).append(counts)
        if i % 50 == 0 or i == len(lengths) - 1:
            spent = time.perf_counter() - started
            print(f"{i + 1}/{len(lengths)} lengths, n = {n}, {spent:.0f} s", file=sys.stderr)
    arrays: dict[str, np.ndarray] = {
        **header(),
        "n": np.array(lengths, dtype=np.int64),
        "draws": np.array([draws_for(n) for n in lengths], dtype=np.int64),
        "settings": np.array([DEFAULT_Z, DEFAULT_ACCEPT, SEED], dtype=np.float64),
    }
    for key, parts in columns.items():
        arrays[key] = np.concatenate(parts)
        if key.endswith(".values"):
            sizes = [len(part) for part in parts]
            arrays[key.replace(".values", ".offsets")] = np.cumsum([0, *sizes], dtype=np.int64)
    arrays = {k: (v.astype(np.int32) if k.endswith(".counts") else v) for k, v in arrays.items()}
    np.savez_compressed(arguments.out, **arrays)  # type: ignore[arg-type]
    print(f"wrote {arguments.out} ({arguments.out.stat().st_size / 1e6:.1f} MB)", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
