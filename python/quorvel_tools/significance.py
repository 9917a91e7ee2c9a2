"""The p-value that analyze() and rolling() put next to a measure, and the null it came from.

What each null asks and how it is drawn is in `nullmodels`; where a null is shared by every
series of a length, in `ranknull`.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, replace
from typing import Any

import numpy as np
import numpy.typing as npt

from . import shown
from .config import Config
from .engine import run_draws, run_one
from .nullmodels import NullModel
from .nulltable import null_table
from .progress import progress_bar
from .pvalues import NullSample, PValues, Reading, interpolated_p_values, read_within, tie_width
from .ranknull import rank_null_applies, simulated_null, tie_free_counts
from .request import Request
from .seeds import seed_for, tie_breaks, window_seed


@dataclass(frozen=True)
class Significance:
    """p_value: the chance under the null of a value at least as far from stationarity, ties
    with the null broken at random (so that p <= alpha has probability alpha under the null);
    p_low and p_high are the ends of that tie range (p_high is the conventional, conservative
    p-value). `resolution` is the smallest step the null can tell, 1 / (draws + 1).

    null: "iid" or "block"; source: "table" (shipped, for this length), "interpolated" (between
    the two shipped lengths around it), "simulated" (once per length and settings) or
    "permutations" (of this series' own values). `band_factor` is, under null="block", the
    long-run variance factor f of the series: the p-value is that of the measure with band
    multiplier z sqrt(f) (`tested_value`) against the i.i.d. null of the measure at z."""

    p_value: float
    p_low: float
    p_high: float
    null: str
    source: str
    draws: int
    band_factor: float | None = None
    tested_value: float | None = None

    @property
    def resolution(self) -> float:
        return 1.0 / (self.draws + 1)

    def __repr__(self) -> str:
        band = "" if self.band_factor is None else f", band factor {self.band_factor:.2f}"
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
    factor, tested = widened(method, values, observed, config, request.null)
    shared = _shared_null(method, counts, config, request)
    if shared is None:
        source, own = _own_null(method, values, config, request, seed)
        shared = source, [(own, 1.0)], request.null.read
    source, parts, read = shared
    p = interpolated_p_values(parts, np.array([tested]), tie_breaks(seed, 1), read)
    draws = min(sample.draws for sample, _ in parts)
    return Significance(
        float(p.p_value[0]),
        float(p.p_low[0]),
        float(p.p_high[0]),
        request.null.name,
        source,
        draws,
        factor,
        None if factor is None else tested,
    )


def widened(
    method: str,
    values: npt.NDArray[np.float64],
    observed: float,
    config: Config,
    model: NullModel,
) -> tuple[float | None, float]:
    """The null model's band factor f of the series (None where it has none) and the measure
    it tests: the observed one, or the measure with band multiplier z sqrt(f)."""
    if model.widening is None:
        return None, observed
    factor = model.widening(values)
    if factor == 1.0:
        return factor, observed
    wider = replace(config, z=config.z * math.sqrt(factor))
    return factor, run_one(method, values, wider)[0]


@dataclass(frozen=True)
class WindowSignificance:
    """The p-values of a rolling profile's windows, and what each came from."""

    p_values: PValues
    sources: tuple[str, ...]


def window_significance(
    method: str,
    values: npt.NDArray[np.float64],
    starts: npt.NDArray[np.int64],
    window: int,
    observed: npt.NDArray[np.float64],
    config: Config,
    request: Request,
) -> WindowSignificance:
    """Windows of one length share a null wherever the measure is rank-based and the window
    has no tie across a class boundary; the others are each tested against their own values."""
    seed = seed_for(request.seed, values, method)
    uniform = tie_breaks(seed, len(starts))
    if request.null.widening is not None:
        observed = observed.copy()
        for i in np.flatnonzero(~np.isnan(observed)):
            part = values[starts[i] : starts[i] + window]
            observed[i] = widened(method, part, observed[i], config, request.null)[1]
    counts = tie_free_counts(window, config.classes)
    shared = _shared_null(method, counts, config, request)
    own = np.ones(len(starts), dtype=bool)
    if shared is not None:
        own = _boundary_ties(values, starts, window, counts)
    low, high, p = (np.empty(len(starts)) for _ in range(3))
    sources = [""] * len(starts)
    if shared is not None and not own.all():
        source, parts, read = shared
        found = interpolated_p_values(parts, observed[~own], uniform[~own], read)
        p[~own], low[~own], high[~own] = found.p_value, found.p_low, found.p_high
        for i in np.flatnonzero(~own):
            sources[i] = source
    # An undefined window (one class) has no p-value; its shuffles would tell nothing.
    undefined = np.isnan(observed)
    p[undefined] = low[undefined] = high[undefined] = np.nan
    for i in np.flatnonzero(undefined):
        sources[i] = "undefined"
    tested = np.flatnonzero(own & ~undefined)
    quiet = replace(request, show_progress=False)
    with progress_bar(len(tested), f"{method} window nulls", request.show_progress) as bar:
        for i in tested:
            part = values[starts[i] : starts[i] + window]
            own_seed = window_seed(seed, int(i))
            source, sample = _own_null(method, part, config, quiet, own_seed)
            found = request.null.read(sample, observed[i : i + 1], uniform[i : i + 1])
            p[i], low[i], high[i] = found.p_value[0], found.p_low[0], found.p_high[0]
            sources[i] = source
            if bar is not None:
                bar.update(1)
    return WindowSignificance(PValues(p, low, high), tuple(sources))


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
        if len(parts) == 1:
            return "table", parts, request.null.read
        return "interpolated", parts, read_within(tie_width(config.classes))
    return "simulated", [(simulated_null(method, n, config, request), 1.0)], request.null.read


def _own_null(
    method: str,
    values: npt.NDArray[np.float64],
    config: Config,
    request: Request,
    seed: int,
) -> tuple[str, NullSample]:
    """Draws of the series' own values, as the request's null model makes them."""
    model = request.null
    drawn, _, _ = run_draws(method, values, config, request, seed, model)
    return model.source, NullSample.of(drawn)


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
