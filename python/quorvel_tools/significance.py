"""The p-value that analyze() and rolling() put next to a measure, and the null it came from.

What each null asks and how it is drawn is in `nullmodels`; where a null is shared by every
series of a length, in `ranknull`; how a tied series comes to share it, in `tiebreak`; how
draws of a series' own values stop once the answer is plain, in `sequential`.
"""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass, replace
from typing import Any

import numpy as np
import numpy.typing as npt

from . import shown
from .config import Config
from .dependence import band_multiplier
from .engine import run_draws, run_many, run_one
from .nullmodels import NullModel
from .nulltable import null_table
from .progress import progress_bar
from .pvalues import NullSample, PValues, Reading, interpolated_p_values, read_within, tie_width
from .ranknull import rank_null_applies, ranks_decide, simulated_null, tie_free_counts
from .request import Request
from .seeds import seed_for, tie_breaks, window_seed
from .sequential import sequential_p_value
from .tiebreak import tie_broken


@dataclass(frozen=True)
class Significance:
    """p_value: the chance under the null of a value at least as far from stationarity, ties
    with the null broken at random (so that p <= alpha has probability alpha under the null);
    p_low and p_high are the ends of that tie range (p_high is the conventional, conservative
    p-value). `resolution` is the smallest step the null can tell, 1 / (draws + 1).

    null: "iid" or "block"; source: "table" (shipped, for this length), "interpolated" (between
    the two shipped lengths around it), "longest table" (past the tables' longest length, the
    null of that length), "simulated" (once per length and settings), "permutations" (of this
    series' own values, all `draws` of them) or "sequential permutations" (of its own values,
    stopped once enough draws reached the observed value: `draws` is how many were made).
    `band_factor` is, under null="block", the long-run variance factor f of the series: the
    p-value is that of the measure with band multiplier z sqrt(f) (z f^0.3 for NSLocaltoGlobal,
    `dependence.CREDITED_POWER`) against the i.i.d. null of the measure at z. `ties_broken`
    says that the series had ties across a class boundary and was tested with them broken at
    random, which lets a rank-based measure read the null of distinct values. `tested_value`
    is the measure the p-value is that of, where it is not the reported value (None
    otherwise)."""

    p_value: float
    p_low: float
    p_high: float
    null: str
    source: str
    draws: int
    band_factor: float | None = None
    tested_value: float | None = None
    ties_broken: bool = False

    @property
    def resolution(self) -> float:
        return 1.0 / (self.draws + 1)

    def __repr__(self) -> str:
        band = "" if self.band_factor is None else f", band factor {self.band_factor:.2f}"
        band += ", ties broken at random" if self.ties_broken else ""
        return (
            f"Significance(p_value={shown.p_value(self.p_value, self.resolution)}, "
            f"null={self.null} from {self.source}, {self.draws} draws{band})"
        )

    def to_dict(self) -> dict[str, Any]:
        return {
            "p_value": self.p_value,
            "p_low": self.p_low,
            "p_high": self.p_high,
            "null": self.null,
            "source": self.source,
            "draws": self.draws,
            "resolution": self.resolution,
            "band_factor": self.band_factor,
            "tested_value": self.tested_value,
            "ties_broken": self.ties_broken,
        }


def significance(
    method: str,
    values: npt.NDArray[np.float64],
    observed: float,
    counts: npt.NDArray[np.int64],
    config: Config,
    request: Request,
) -> Significance:
    """The p-value of one series' measure `observed`, whose class counts are `counts`."""
    seed = seed_for(request.seed, values, method)
    model = request.null
    n = len(values)
    distinct = tie_free_counts(n, config.classes)
    broken = (
        model.shares_rank_null
        and ranks_decide(method, config, n)
        and not np.array_equal(counts, distinct)
    )
    factor, tested = widened(method, values, observed, config, model, seed if broken else None)
    shared = _shared_null(method, distinct if broken else counts, config, request)
    uniform = tie_breaks(seed, 1)
    if shared is None:
        sequential = _own_p_value(method, values, tested, float(uniform[0]), config, request, seed)
        p = PValues(*(np.array([v]) for v in sequential[:3]))
        source, draws = sequential[3], sequential[4]
    else:
        source, parts, read = shared
        p = interpolated_p_values(parts, np.array([tested]), uniform, read)
        draws = min(sample.draws for sample, _ in parts)
    return Significance(
        float(p.p_value[0]),
        float(p.p_low[0]),
        float(p.p_high[0]),
        model.name,
        source,
        draws,
        factor,
        tested if broken or factor is not None else None,
        broken,
    )


def widened(
    method: str,
    values: npt.NDArray[np.float64],
    observed: float,
    config: Config,
    model: NullModel,
    tie_seed: int | None = None,
) -> tuple[float | None, float]:
    """The null model's band factor f of the series (None where it has none) and the measure
    it tests: the observed one, or the measure with its band widened for f
    (`dependence.band_multiplier`), of the series with its ties broken by `tie_seed` where one
    is given."""
    factor = None if model.widening is None else model.widening(values)
    if tie_seed is None and (factor is None or factor == 1.0):
        return factor, observed
    series = values if tie_seed is None else tie_broken(values, tie_seed)
    return factor, run_one(method, series, widened_config(method, config, factor))[0]


def widened_config(method: str, config: Config, factor: float | None) -> Config:
    """The settings with the band widened for f; the same settings where f is None or 1."""
    if factor is None or factor == 1.0:
        return config
    return replace(config, z=band_multiplier(config.z, factor, method))


@dataclass(frozen=True)
class WindowSignificance:
    """The p-values of a rolling profile's windows, what each came from, and the measure each
    is the p-value of (widened under null="block", of the tie-broken window where it had ties
    across a class boundary)."""

    p_values: PValues
    sources: tuple[str, ...]
    tested: npt.NDArray[np.float64]


# Windows whose ties are broken together: their tie-broken ranks are one array of this many
# values at most.
TIE_BROKEN_VALUES = 2**22


def window_significance(
    method: str,
    values: npt.NDArray[np.float64],
    starts: npt.NDArray[np.int64],
    window: int,
    observed: npt.NDArray[np.float64],
    config: Config,
    request: Request,
    outside: npt.NDArray[np.int64] | None = None,
) -> WindowSignificance:
    """Windows of one length share a null wherever the measure's ranks decide it: a window
    with a tie across a class boundary, or with values in no class (`outside`), is tested
    with its ties broken at random; the others are each tested against draws of their own
    values, stopped once the answer is plain."""
    seed = seed_for(request.seed, values, method)
    uniform = tie_breaks(seed, len(starts))
    model = request.null
    counts = tie_free_counts(window, config.classes)
    shared = _shared_null(method, counts, config, request)
    tested = observed.copy()
    undefined = np.isnan(observed)
    own = np.full(len(starts), shared is None)
    broken = np.zeros(len(starts), dtype=bool)
    if shared is not None:
        broken = _boundary_ties(values, starts, window, counts)
        if outside is not None:
            broken |= outside > 0
        broken &= ~undefined
    if model.widening is not None:
        for i in np.flatnonzero(~undefined):
            part = values[starts[i] : starts[i] + window]
            tie_seed = window_seed(seed, int(i)) if broken[i] else None
            tested[i] = widened(method, part, observed[i], config, model, tie_seed)[1]
    elif broken.any():
        tested[broken] = _tie_broken_windows(
            method, values, starts[broken], window, config, request, seed
        )
    low, high, p = (np.empty(len(starts)) for _ in range(3))
    sources = [""] * len(starts)
    if shared is not None:
        source, parts, read = shared
        found = interpolated_p_values(parts, tested, uniform, read)
        p[:], low[:], high[:] = found.p_value, found.p_low, found.p_high
        sources = [source] * len(starts)
    # An undefined window (one class) has no p-value; its shuffles would tell nothing.
    p[undefined] = low[undefined] = high[undefined] = np.nan
    for i in np.flatnonzero(undefined):
        sources[i] = "undefined"
    drawn = np.flatnonzero(own & ~undefined)
    quiet = replace(request, show_progress=False)
    with progress_bar(len(drawn), f"{method} window nulls", request.show_progress) as bar:
        for i in drawn:
            part = values[starts[i] : starts[i] + window]
            own_seed = window_seed(seed, int(i))
            p[i], low[i], high[i], sources[i], _ = _own_p_value(
                method, part, float(tested[i]), float(uniform[i]), config, quiet, own_seed
            )
            if bar is not None:
                bar.update(1)
    return WindowSignificance(PValues(p, low, high), tuple(sources), tested)


def _tie_broken_windows(
    method: str,
    values: npt.NDArray[np.float64],
    starts: npt.NDArray[np.int64],
    window: int,
    config: Config,
    request: Request,
    seed: int,
) -> npt.NDArray[np.float64]:
    """The measure of each window with its ties broken at random, on the batch engine."""
    found = np.empty(len(starts))
    views = np.lib.stride_tricks.sliding_window_view(values, window)
    chunk = max(1, TIE_BROKEN_VALUES // window)
    quiet = replace(request, show_progress=False)
    for first in range(0, len(starts), chunk):
        rows = tie_broken(views[starts[first : first + chunk]], seed, first)
        found[first : first + chunk] = run_many(
            method, list(rows), [config.classes] * len(rows), quiet
        )[0]
    return found


def _shared_null(
    method: str, counts: npt.NDArray[np.int64], config: Config, request: Request
) -> tuple[str, list[tuple[NullSample, float]], Reading] | None:
    """The null every tie-free series of this length shares, where there is one, with the
    way its p-values are read: ties within `tie_width` between tabulated lengths."""
    if not request.null.shares_rank_null or not rank_null_applies(method, config, counts):
        return None
    n = int(counts.sum())
    table = null_table()
    if table.serves(method, config, n):
        parts = table.around(method, n)
        if len(parts) == 2:
            return "interpolated", parts, read_within(tie_width(config.classes))
        return ("table" if n <= table.longest else "longest table"), parts, request.null.read
    return "simulated", [(simulated_null(method, n, config, request), 1.0)], request.null.read


def _own_p_value(
    method: str,
    values: npt.NDArray[np.float64],
    tested: float,
    uniform: float,
    config: Config,
    request: Request,
    seed: int,
) -> tuple[float, float, float, str, int]:
    """p, p_low, p_high, source and draws of `tested` against draws of the series' own values
    as the request's null model makes them, stopped once the answer is plain."""
    model = request.null
    quiet = replace(request, show_progress=False)
    description = f"{method} p-value, {model.source} of the series"
    with progress_bar(request.permutations, description, request.show_progress) as bar:

        def draw(batch: int, size: int) -> npt.NDArray[np.float64]:
            batch_request = replace(quiet, permutations=size)
            seed_of_batch = window_seed(seed, batch)
            report = _batch_on(bar, size)
            return run_draws(method, values, config, batch_request, seed_of_batch, model, report)[0]

        ties = np.random.default_rng([seed, 0x5E9])
        found = sequential_p_value(draw, tested, uniform, ties, request.permutations)
    source = f"sequential {model.source}" if found.stopped else model.source
    return found.p_value, found.p_low, found.p_high, source, found.draws


def _batch_on(bar: Any, size: int) -> Callable[[int], None] | None:
    """One bar over the batches of a sequential p-value: its total becomes the draws planned
    so far, and the next batch's draws move it. None where no bar is shown."""
    if bar is None:
        return None
    made = bar.n
    bar.total = made + size
    return lambda done: bar.update(made + done - bar.n)


def _boundary_ties(
    values: npt.NDArray[np.float64],
    starts: npt.NDArray[np.int64],
    window: int,
    counts: npt.NDArray[np.int64],
) -> npt.NDArray[np.bool_]:
    """Windows where a value at a class boundary is tied with the next one up, which makes
    their class counts differ from those of distinct values."""
    tied = np.zeros(len(starts), dtype=bool)
    if len(np.unique(values)) == len(values):
        return tied
    edges = np.cumsum(counts)[:-1] - 1
    views = np.lib.stride_tricks.sliding_window_view(values, window)
    chunk = max(1, 2**22 // window)
    for first in range(0, len(starts), chunk):
        rows = np.sort(views[starts[first : first + chunk]], axis=1)
        tied[first : first + chunk] = np.any(rows[:, edges] == rows[:, edges + 1], axis=1)
    return tied
