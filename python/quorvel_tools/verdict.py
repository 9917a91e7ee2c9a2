"""verdict(): one p-value for "does this series depart from stationarity", over the measures
and a few class counts, and which of them saw the departure.

Few classes see a change of level sooner, many classes a change of spread or shape, and the
four measures merge differently; a user rarely knows beforehand which kind of change to look
for. The verdict takes every rank-based measure at K = 3, 6 and the data-size K (or the K
given) and NSdichotomy at that K, and tests the smallest of their p-values (min-p) against the
smallest p-values of the same draws: one family, calibrated as a whole.

Every component is measured on the same reference series, so that one draw gives one vector
of component values. Its component p-values are counted among the observed vector and the
draws together, (number of vectors at or above it) / (draws + 1), and the family's p-value
is the rank of the observed min-p among the draws' min-p, ties broken at random as
everywhere in this package, so that p <= alpha has probability alpha under the null.

The draws are shuffles. For a series whose rank-based components the shared rank null
serves (equal-frequency classes, no tie across a class boundary), shuffle i of the sorted
values has the ranks of shuffle i of 0..n-1: the rank-based components of those draws are
simulated once per length and settings (`nullstore`), and only NSdichotomy, which compares
values, is run on the draws of this series, as its own p-value would be. Otherwise every
component is run on the series' own shuffles, with one seed. Under null="block" each
component is the measure with its band widened for f (z sqrt(f); f the series' band factor,
`dependence.band_multiplier`) against the i.i.d. draws at z.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, replace
from typing import Any, Unpack

import numpy as np
import numpy.typing as npt

from . import notes, nullstore, shown
from .config import METHODS, MIN_CLASSES, Config
from .engine import run_draws, run_many, run_one, shuffled
from .inputs import to_series
from .nullmodels import IID
from .pvalues import NullSample, read_p_values
from .ranknull import RANK_BASED, rank_null_applies
from .request import NullSettings, Request, request_of
from .seeds import SIMULATION_SEED, seed_for, tie_breaks
from .significance import widened_config

# With the data-size K (or the K given): few classes see level shifts, many spread and shape.
FAMILY_CLASSES = (3, 6)
# The pool of shuffles the rank-based components are read from (see `pool_size`).
POOL_MOST = 9_999
POOL_VALUES = 100_000_000
# The values of the shuffles measured at once (64 MB).
BATCH_VALUES = 2**23
# The name the verdict's seed is keyed on, as a measure's name keys its own.
VERDICT_KEY = "verdict"


@dataclass(frozen=True)
class Component:
    """One test of the family: a measure at K classes, its value (clipped to [0, 1]) and its
    p-value from the family's draws, (1 + draws at or above) / (draws + 1). Under
    null="block", `tested_value` is the measure with its band widened, whose p-value it is."""

    method: str
    classes: int
    value: float
    p_value: float
    tested_value: float | None = None

    def to_dict(self) -> dict[str, Any]:
        return {
            "method": self.method,
            "classes": self.classes,
            "value": self.value,
            "p_value": self.p_value,
            "tested_value": self.tested_value,
        }


@dataclass(frozen=True, repr=False)
class Verdict:
    """The combined test of a series.

    p_value is the chance under the null that the smallest p-value of the family is at least
    as small as the series' (ties broken at random; p_low and p_high the ends of that range);
    it is NaN when no component is defined (every value in one class). `components` are the
    tests of the family in order, `strongest` the one with the smallest p-value: which measure
    and number of classes saw the departure best. `source` is "simulated" (rank-based
    components from draws shared by every series of this length) or "permutations" (all
    from this series' own shuffles); `band_factor` is f under null="block"."""

    p_value: float
    p_low: float
    p_high: float
    null: str
    source: str
    draws: int
    components: tuple[Component, ...]
    band_factor: float | None = None

    @property
    def resolution(self) -> float:
        return 1.0 / (self.draws + 1)

    @property
    def strongest(self) -> Component | None:
        defined = [c for c in self.components if not math.isnan(c.p_value)]
        return min(defined, key=lambda c: c.p_value) if defined else None

    def line(self) -> str:
        """The verdict in one line, as the command prints it under its table."""
        if math.isnan(self.p_value):
            return "verdict: undefined (every value in one class); no test"
        ks = ", ".join(str(k) for k in sorted({c.classes for c in self.components}))
        measures = len({c.method for c in self.components})
        best = self.strongest
        assert best is not None
        return (
            f"verdict: {self._p(self.p_value)} over {len(self.components)} tests ({measures} "
            f"measures at K = {ks}; {self.null} null); strongest {best.method} at "
            f"K = {best.classes}: value {best.value:.3f}, {self._p(best.p_value)}"
        )

    def _p(self, p: float) -> str:
        text = shown.p_value_or_floor(p, self.resolution)
        return f"p {text[:2]} {text[2:]}" if text.startswith("<=") else f"p = {text}"

    def __repr__(self) -> str:
        best = self.strongest
        seen = "" if best is None else f", strongest={best.method} at K={best.classes}"
        return (
            f"Verdict(p_value={shown.p_value(self.p_value, self.resolution)}, "
            f"null={self.null} from {self.source}, {len(self.components)} tests, "
            f"{self.draws} draws{seen})"
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
            "components": [c.to_dict() for c in self.components],
        }


def verdict(series: Any, **settings: Unpack[NullSettings]) -> Verdict:
    """Whether a series departs from stationarity, in one p-value over the measures and a few
    numbers of classes, and which of them saw it.

    Parameters
    ----------
    series : array_like, pandas.Series or Series
        The values in time order.
    classes : int or None, default None
        The largest K of the family (with 3 and 6); None takes it from the series length.
    z, accept, binning, nan_policy, null, permutations, seed, workers, show_progress
        As in `analyze`; `permutations` is the number of draws of the family's null.

    Returns
    -------
    Verdict
        Its p-value, the family's tests and the strongest of them.

    Notes
    -----
    The family is every rank-based measure (NSLocaltoGlobal, NSLefttoRight,
    NSCircleLefttoRight) at K = 3, 6 and the data-size K, and NSdichotomy at the data-size K;
    class counts above the number of values are left out. For series the shared rank null
    serves, it costs the measures once, NSdichotomy's `permutations` runs (as its own p-value
    does), and once per length and settings a simulation of `permutations` draws of the
    rank-based components; otherwise `permutations` runs of every component.
    """
    request, _ = request_of("verdict", "all", settings, NullSettings)
    return verdict_request(series, request)


def verdict_request(series: Any, request: Request) -> Verdict:
    """`verdict` of a built request, as the command runs it."""
    values = to_series(series, request.nan_policy).values
    n = len(values)
    if n < notes.SHORT_SERIES:
        notes.short(n)
    config = request.config(n)
    family = family_of(n, config)
    seed = seed_for(request.seed, values, VERDICT_KEY)
    factor = None if request.null.widening is None else request.null.widening(values)
    observed, tested, shared = [], [], True
    for method, classes in family:
        setting = replace(config, classes=classes)
        value, _, _, table, _ = run_one(method, values, setting)
        counts = np.rint(table[1:, 1]).astype(np.int64)
        if method in RANK_BASED:
            shared = shared and rank_null_applies(method, setting, counts)
        observed.append(value)
        wide = factor is not None and factor != 1.0 and not math.isnan(value)
        if wide:
            assert factor is not None
            value = run_one(method, values, widened_config(method, setting, factor))[0]
        tested.append(value)
    shared = shared and request.null.shares_rank_null
    defined = [i for i, value in enumerate(observed) if not math.isnan(value)]
    if not defined:
        nan = math.nan
        parts = tuple(Component(m, k, nan, nan) for m, k in family)
        return Verdict(nan, nan, nan, request.null.name, "undefined", 0, parts, factor)
    family = [family[i] for i in defined]
    drawn = _family_draws(family, values, config, request, seed, shared)
    found = family_p_values(np.array([tested[i] for i in defined]), drawn, tie_breaks(seed, 1))
    p, component_p = found
    components = tuple(
        Component(
            method,
            k,
            shown.within_unit(observed[i]),
            float(component_p[j]),
            None if factor is None else tested[i],
        )
        for j, (i, (method, k)) in enumerate(zip(defined, family, strict=True))
    )
    return Verdict(
        float(p.p_value[0]),
        float(p.p_low[0]),
        float(p.p_high[0]),
        request.null.name,
        "simulated" if shared else IID.source,
        request.permutations,
        components,
        factor,
    )


def family_of(n: int, config: Config) -> list[tuple[str, int]]:
    """The tests of the family for n values: (measure, K) in the order of `METHODS`."""
    ks = sorted({k for k in (*FAMILY_CLASSES, config.classes) if MIN_CLASSES <= k <= n})
    return [
        (method, k)
        for method in METHODS
        for k in (ks if method in RANK_BASED else [config.classes])
    ]


def family_p_values(
    observed: npt.NDArray[np.float64],
    drawn: npt.NDArray[np.float64],
    uniform: npt.NDArray[np.float64],
) -> tuple[Any, npt.NDArray[np.float64]]:
    """The min-p test of `observed` (one value per component) against `drawn` (one row per
    draw): the family's p-values (`PValues` of one element) and each component's p-value.

    In each component a vector's count is the number of vectors, the observed and the draws
    together, at or above its value; a vector's min-p is its smallest count, and the family's
    p-value is read as any other, ties broken by `uniform`."""
    pool = np.vstack([observed[np.newaxis, :], drawn])
    pool = np.where(np.isnan(pool), -np.inf, pool)
    counts = np.empty(pool.shape, dtype=np.int64)
    for c in range(pool.shape[1]):
        column = np.sort(pool[:, c])
        counts[:, c] = len(column) - np.searchsorted(column, pool[:, c], side="left")
    smallest = counts.min(axis=1).astype(np.float64)
    # A smaller count is further from the null: read it as a larger value.
    sample = NullSample.of(-smallest[1:])
    p = read_p_values(sample, -smallest[:1], uniform)
    return p, counts[0] / len(pool)


def _family_draws(
    family: list[tuple[str, int]],
    values: npt.NDArray[np.float64],
    config: Config,
    request: Request,
    seed: int,
    shared: bool,
) -> npt.NDArray[np.float64]:
    """The components' values on the family's draws, one row per draw.

    Shared: draw j is shuffle i_j of the pool of the simulation's seed, the indices i_j picked
    by the series' seed among `pool_size` shuffles; its rank-based components are read from the
    pool, kept once per length (shuffle i of the sorted values has the ranks of shuffle i of
    0..n-1), and NSdichotomy is run on those shuffles of the sorted values. A pool larger than
    the draws keeps the verdict's level from resting on the few draws of one fixed null.
    Otherwise every component is run on the series' own shuffles of `seed`."""
    columns = []
    if not shared:
        for method, k in family:
            setting = replace(config, classes=k)
            columns.append(run_draws(method, values, setting, request, seed, IID)[0])
        return np.stack(columns, axis=1)
    n, draws = len(values), request.permutations
    pool = pool_size(n, draws)
    picked = np.arange(draws)
    if pool > draws:
        picked = np.sort(np.random.default_rng([seed, 0x9001]).choice(pool, draws, replace=False))
    ordered = np.sort(values)
    for method, k in family:
        setting = replace(config, classes=k)
        if method in RANK_BASED:
            columns.append(_pool(method, n, setting, request, pool)[picked])
        elif pool == draws:
            columns.append(run_draws(method, ordered, setting, request, SIMULATION_SEED, IID)[0])
        else:
            columns.append(_on_shuffles(method, ordered, picked, setting, request))
    return np.stack(columns, axis=1)


def _on_shuffles(
    method: str,
    ordered: npt.NDArray[np.float64],
    picked: npt.NDArray[np.int64],
    config: Config,
    request: Request,
) -> npt.NDArray[np.float64]:
    """The measure on the picked shuffles of the simulation's seed, a batch of at most
    `BATCH_VALUES` values at a time."""
    batch = max(1, BATCH_VALUES // len(ordered))
    found = []
    for first in range(0, len(picked), batch):
        part = [shuffled(ordered, SIMULATION_SEED, int(i)) for i in picked[first : first + batch]]
        found.append(run_many(method, part, [config.classes] * len(part), request)[0])
    return np.concatenate(found)


def pool_size(n: int, draws: int) -> int:
    """Shuffles in the pool of the rank-based components: up to 9,999 (as the shipped tables
    hold), fewer for long series so that the pool costs at most `POOL_VALUES` values run, and
    never fewer than the draws."""
    return max(draws, min(POOL_MOST, POOL_VALUES // max(n, 1)))


def _pool(
    method: str, n: int, config: Config, request: Request, pool: int
) -> npt.NDArray[np.float64]:
    """A rank-based component on `pool` shuffles of 0..n-1 of the simulation's seed."""
    key = (method, n, config.classes, config.z, config.accept, pool)
    found = nullstore.kept_draws(key)
    if found is None:
        ranks = np.arange(n, dtype=np.float64)
        found = run_draws(
            method, ranks, config, replace(request, permutations=pool), SIMULATION_SEED, IID
        )[0]
        nullstore.keep_draws(key, found)
    return found
