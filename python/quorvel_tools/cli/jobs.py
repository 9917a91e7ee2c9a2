"""The command's work on named series: whole-series measures, p-values or rolling profiles."""

from __future__ import annotations

import warnings
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, replace

from .. import shown
from ..analysis import analyze_request, unclassified_note
from ..inputs import Series
from ..labels import plain
from ..request import Request
from ..result import Analysis, UnclassifiedValuesWarning
from ..rolling import RollingProfile, rolling_request, windows_note
from ..verdict import Verdict, verdict_request
from .output import Row

# Each series by name, with the labels of its positions when the file has a row-order column.
Named = Mapping[str, Series]
# A rolling profile's windows may each have their own null; the table shows them at this step.
WINDOW_RESOLUTION = 1e-3
# The column of a window's p-value adjusted across the profile, after the measure's name.
ADJUSTED = "_p_adjusted"
# The rolling table's names for the measures, so that four of them fit a terminal.
SHORT_NAMES = {
    "NSLocaltoGlobal": "LtG",
    "NSLefttoRight": "LtR",
    "NSdichotomy": "dich",
    "NSCircleLefttoRight": "circ",
}


@dataclass(frozen=True)
class Shown:
    """A figure and the text the table shows for it; JSON and CSV take the figure itself."""

    value: float
    text: str

    def item(self) -> float:
        return self.value


def p_cell(value: float, resolution: float) -> Shown:
    return Shown(value, shown.p_value_or_floor(value, resolution))


@dataclass(frozen=True)
class Settings:
    """The measures in the order asked for, and the request each is run with."""

    methods: Sequence[str]
    request: Request

    def of(self, method: str) -> Request:
        return replace(self.request, method=method)


def whole_series(
    named: Named, settings: Settings, notes: list[str] | None = None
) -> tuple[list[Row], dict[str, Analysis]]:
    """One row per series and method; the first method's result per series, for plotting.
    What a reader must know about a result (values in no class) is added to `notes`."""
    notes = [] if notes is None else notes
    rows: list[Row] = []
    first: dict[str, Analysis] = {}
    for name, values in named.items():
        for method in settings.methods:
            with warnings.catch_warnings():
                # The row's unclassified column and the note after the table say it instead.
                warnings.simplefilter("ignore", UnclassifiedValuesWarning)
                result = analyze_request(values, settings.of(method))[method]
            first.setdefault(name, result)
            row: Row = {"series": name, "method": method, "value": result.value, "H": result.H}
            row |= {"H0": result.H0, "K": result.classes, "n": result.n}
            row["unclassified"] = result.unclassified
            if result.unclassified:
                notes.append(unclassified_note(result))
            if settings.request.p_values:
                tested = result.significance
                resolution = WINDOW_RESOLUTION if tested is None else tested.resolution
                row["p_value"] = p_cell(result.p_value, resolution)
            rows.append(row)
    return rows, first


# The verdict under a table costs its family's null: about 10^4 runs of the measures in a new
# process, some 10 s up to this length and minutes past it (at 2 * 10^6 values, two minutes
# against one second for the table). Past it the table says how to ask for it instead.
VERDICT_UNDER_TABLE_MOST = 100_000


def verdicts(named: Named, request: Request) -> dict[str, Verdict]:
    """The combined test of every series, by name."""
    with warnings.catch_warnings():
        # Said once already by the table's own run of each measure.
        warnings.simplefilter("ignore", UnclassifiedValuesWarning)
        return {name: verdict_request(values, request) for name, values in named.items()}


def under_table(named: Named, request: Request) -> dict[str, Verdict | int]:
    """The verdict of every series short enough for one under the table; the length of the
    others."""
    short = {n: v for n, v in named.items() if len(v.values) <= VERDICT_UNDER_TABLE_MOST}
    found = verdicts(short, request)
    return {name: found.get(name, len(values.values)) for name, values in named.items()}


def verdict_rows(found: Mapping[str, Verdict]) -> list[Row]:
    """One row per series for JSON and CSV: the verdict and the test that saw most."""
    rows: list[Row] = []
    for name, tested in found.items():
        best = tested.strongest
        rows.append(
            {
                "series": name,
                "p_value": tested.p_value,
                "null": tested.null,
                "tests": len(tested.components),
                "method": None if best is None else best.method,
                "K": None if best is None else best.classes,
                "value": None if best is None else best.value,
                "method_p": None if best is None else best.p_value,
            }
        )
    return rows


def verdict_lines(found: Mapping[str, Verdict | int]) -> list[str]:
    """The verdicts as the table shows them: one line, named when there are several series.
    A series given by its length instead has no verdict, too long for one under the table."""
    lines = {
        name: (
            tested.line()
            if isinstance(tested, Verdict)
            else f"verdict: not computed under the table for {tested:,} values (its null "
            f"takes about 10^4 runs of the measures, minutes at this length); --verdict-only "
            f"computes it"
        )
        for name, tested in found.items()
    }
    if len(lines) == 1:
        return list(lines.values())
    return [f"{name}: {line}" for name, line in lines.items()]


def rolling_profiles(
    named: Named, settings: Settings, window: int, step: int, notes: list[str] | None = None
) -> tuple[list[Row], dict[str, list[RollingProfile]]]:
    """One row per series and window, one column per method; windows with values in no class
    are said in `notes` (a column per method would double the table's width)."""
    notes = [] if notes is None else notes
    rows: list[Row] = []
    profiles: dict[str, list[RollingProfile]] = {}
    for name, values in named.items():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", UnclassifiedValuesWarning)
            found = [
                rolling_request(values, window, step, settings.of(m)) for m in settings.methods
            ]
        profiles[name] = found
        for profile in found:
            if profile.unclassified is not None and profile.unclassified.any():
                smallest = float(values.values.min())
                notes.append(windows_note(profile.method, profile.unclassified, window, smallest))
        for i, end in enumerate(found[0].ends):
            row: Row = {"series": name, "end": int(end)}
            if values.labels is not None:
                row[values.axis] = plain(found[0].labels[i])
            for profile in found:
                row[profile.method] = float(profile.values[i])
                if profile.p_values is not None:
                    p = float(profile.p_values[i])
                    row[f"{profile.method}_p"] = p_cell(p, WINDOW_RESOLUTION)
                if profile.adjusted is not None:
                    row[f"{profile.method}{ADJUSTED}"] = float(profile.adjusted[i])
            rows.append(row)
    return rows, profiles


def table_columns(rows: list[Row]) -> tuple[list[Row], str | None]:
    """A rolling table of several measures under short column names, with their key; one
    series' name is left out of every row (the command names its column on standard error)."""
    if not rows or "end" not in rows[0]:
        return rows, None
    # The table keeps to the p-values that fit a terminal; JSON and CSV add the adjusted ones.
    rows = [{k: v for k, v in row.items() if not k.endswith(ADJUSTED)} for row in rows]
    single = len({row["series"] for row in rows}) == 1
    named = [k for k in rows[0] if k in SHORT_NAMES]
    if len(named) < 2:
        return (
            [{k: v for k, v in row.items() if k != "series"} for row in rows] if single else rows
        ), None

    def short(key: str) -> str:
        if key in SHORT_NAMES:
            return SHORT_NAMES[key]
        if key.endswith("_p") and key[:-2] in SHORT_NAMES:
            return SHORT_NAMES[key[:-2]] + " p"
        return key

    renamed = [
        {short(k): v for k, v in row.items() if not (single and k == "series")} for row in rows
    ]
    key = ", ".join(f"{SHORT_NAMES[name]} = {name}" for name in named)
    return renamed, key
