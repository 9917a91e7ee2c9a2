"""quorvel [FILE]: how far a series departs from stationarity in distribution, from a terminal."""

from __future__ import annotations

import argparse
import sys
import warnings
from collections.abc import Sequence
from importlib.metadata import version
from typing import NoReturn

import numpy as np

from ..config import (
    BINNING_MODES,
    DEFAULT_ACCEPT,
    DEFAULT_BINNING,
    DEFAULT_Z,
    METHODS,
    SettingError,
    check_integer,
)
from ..inputs import DEFAULT_NAN_POLICY, NAN_POLICIES, Series
from ..multiplicity import ADJUSTMENTS
from ..notes import ResultWarning
from ..nullmodels import DEFAULT_NULL, DEFAULT_PERMUTATIONS, NULL_MODELS, NULLS
from ..optional import MissingDependencyError
from ..request import Request
from ..verdict import Verdict
from . import figures
from .demo import demo_series
from .errors import UsageError, cache_warnings_as_lines, os_error_text
from .jobs import (
    Named,
    Settings,
    rolling_profiles,
    table_columns,
    under_table,
    verdict_lines,
    verdict_rows,
    verdicts,
    whole_series,
)
from .output import render
from .reading import read_column, stdin_is_empty, stdin_is_input

DESCRIPTION = """\
Measure how far a time series departs from stationarity in distribution. The series' value
range is cut into K classes and each class's running share is tested against a confidence
band; classes whose share does not settle are merged. Each measure is 1 - H/H0: 0 when the
distribution is stable along the series, towards 1 the more it drifts (nan when all values
fall in one class). Without FILE, runs on built-in series of known character.

How to read it:
  value    0 = every class's share settled by itself; 1 = all classes had to be merged.
  p_value  the chance, were the series stationary, of a value at least this far from 0.
           --null iid asks whether the order of the values carries information (any
           dependence counts, AR(1) too); --null block whether the distribution drifts
           beyond what short-range dependence explains. Take block for series whose
           neighbours are known to be alike (daily prices, temperatures).
  verdict  the line under the table: one p-value over the four measures at K = 3, 6
           and the data-size K (few classes see a change of level, many a change of
           spread or shape), calibrated as one test, and the test that saw most. Read
           it first: p <= 0.05 says the series departs; the strongest test says how.
           Past 100,000 values it is left to --verdict-only (its null takes minutes).
  next     --plot OUT.png shows where each value range drifts; --window W shows when
           (windows ringed at q <= 0.05 across the windows, see --adjust)."""

EPILOG = """\
examples:
  quorvel                                  the demonstration table
  quorvel prices.csv --column close        one column of a CSV file (header detected)
  quorvel data.csv --window 200 --step 20  the measures over sliding windows
  quorvel data.csv --null block --method NSLefttoRight   p-values that allow for dependence
  quorvel data.csv --verdict-only          only the combined test of the series
  quorvel data.csv --plot shares.png       running class shares and their bands
  quorvel data.csv --delimiter ';' --decimal ,   semicolons and decimal commas
  seq 1 100 | quorvel                      read standard input (also with FILE -)"""

DEMO_NOTE = (
    "Demonstration series of 500 values (run `quorvel FILE` on your own data; --help for more).\n"
    "value: 0 = the distribution is stable along the series; towards 1 = it drifts.\n"
)


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        _fail(f"{message} (see quorvel --help)")


DELIMITER_NAMES = {"tab": "\t", "\\t": "\t", "space": None, "whitespace": None}


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="quorvel",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument(
        "file",
        nargs="?",
        metavar="FILE",
        help="CSV/TSV/text or .npy file; - (or a pipe without FILE) reads standard input",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {version('quorvel')}")
    parser.add_argument(
        "--column",
        metavar="NAME|N",
        help="column by header name or position from 1 (default: the first column of numbers "
        "that is not the row order, such as years or dates)",
    )
    parser.add_argument(
        "--delimiter",
        type=_delimiter,
        metavar="CHAR",
        help="cell delimiter: one character, 'tab' or 'space' (default: from the content)",
    )
    parser.add_argument(
        "--decimal",
        choices=(".", ","),
        help="decimal mark (default: from the content; a comma when cells read 1,5)",
    )
    parser.add_argument(
        "--nan",
        choices=NAN_POLICIES,
        default=DEFAULT_NAN_POLICY,
        help="missing cells: stop with an error (default) or omit them",
    )
    parser.add_argument(
        "--method",
        action="append",
        choices=(*METHODS, "all"),
        metavar="NAME",
        help=f"a measure to run, repeatable, or all (default: all of {', '.join(METHODS)})",
    )
    parser.add_argument(
        "--classes",
        type=_integer,
        metavar="K",
        help="number of classes, from 2 to the number of values (default: from the data size)",
    )
    parser.add_argument(
        "--z",
        type=_real,
        default=DEFAULT_Z,
        help="band multiplier, above 0 (default: %(default)s)",
    )
    parser.add_argument(
        "--accept",
        type=_real,
        default=DEFAULT_ACCEPT,
        help="least in-band fraction for a class to settle, in (0, 1] (default: %(default)s)",
    )
    parser.add_argument(
        "--binning",
        choices=sorted(BINNING_MODES),
        default=DEFAULT_BINNING,
        help="class boundaries (default: %(default)s)",
    )
    parser.add_argument(
        "--window",
        type=_integer,
        metavar="W",
        help="measure each window of W values (a rolling profile)",
    )
    parser.add_argument(
        "--step",
        type=_integer,
        default=1,
        metavar="S",
        help="distance between windows (default: 1)",
    )
    parser.add_argument(
        "--null",
        choices=NULLS,
        default=DEFAULT_NULL,
        help=_null_help(),
    )
    parser.add_argument(
        "--no-p-values",
        dest="p_values",
        action="store_false",
        help="skip the p-value column",
    )
    parser.add_argument(
        "--adjust",
        choices=ADJUSTMENTS,
        default="fdr",
        help="with --window, the adjustment of the windows' p-values across the profile, "
        "which the plot rings and JSON and CSV give as METHOD_p_adjusted: fdr = q-values "
        "(default: noise rings anywhere at most 5%% of the time, a change many windows span "
        "is rung), holm = any false ring at most 5%% of the time under any dependence, "
        "none = each window's own p-value",
    )
    parser.add_argument(
        "--verdict-only",
        action="store_true",
        help="print only the combined test of each series: one p-value over the four "
        "measures at K = 3, 6 and the data-size K, and which of them saw most",
    )
    parser.add_argument(
        "--permutations",
        type=_integer,
        default=DEFAULT_PERMUTATIONS,
        metavar="N",
        help="shuffles for a p-value that needs them (ties, NSdichotomy, equal-width classes; "
        "default: %(default)s)",
    )
    parser.add_argument(
        "--seed",
        type=_integer,
        help="seed of the shuffles (default: taken from the order of each series' values, "
        "so p-values are repeatable and do not depend on the units)",
    )
    parser.add_argument(
        "--workers",
        type=_integer,
        metavar="N",
        help="threads for rolling windows and shuffles (default: every core this process may use)",
    )
    parser.add_argument(
        "--plot",
        metavar="OUT.png",
        help="write the running class shares (or the rolling profile) as an image",
    )
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", dest="form", action="store_const", const="json", help="JSON output")
    form.add_argument("--csv", dest="form", action="store_const", const="csv", help="CSV output")
    return parser


# Option values are only parsed here; what they may be is checked by the analysis layer.
def _integer(text: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected an integer, got {text!r}") from None


def _real(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None


def _delimiter(text: str) -> str | None:
    if text.lower() in DELIMITER_NAMES:
        return DELIMITER_NAMES[text.lower()]
    if len(text) != 1 or text in '"\r\n.0123456789':
        raise argparse.ArgumentTypeError(f"expected one character, 'tab' or 'space', got {text!r}")
    return text


def main(argv: Sequence[str] | None = None) -> int:
    arguments = build_parser().parse_args(argv)
    with cache_warnings_as_lines():
        return _main(arguments)


def _main(arguments: argparse.Namespace) -> int:
    try:
        return _run(arguments)
    except SettingError as error:
        # The layer names its parameter (classes); here the person typed an option (--classes).
        _fail(error.naming(f"--{error.setting}"))
    except (UsageError, ValueError, TypeError, MissingDependencyError) as error:
        _fail(str(error))
    except MemoryError:
        _fail(f"not enough memory for this run{_memory_hint(arguments)}")
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader (head, less) went away; nothing is left to say.
        sys.stderr.close()
        return 0
    except OSError as error:
        _fail(os_error_text(error, "write", error.filename or "standard output"))


def _run(arguments: argparse.Namespace) -> int:
    _check_options(arguments)
    if arguments.plot:
        figures.check_target(arguments.plot)
    source = arguments.file
    if source is None and stdin_is_input():
        if stdin_is_empty():
            # An empty pipe or /dev/null: data that did not come, not a wish for the demonstration.
            raise UsageError(
                "standard input holds no data; give a FILE, or run quorvel from a terminal "
                "without one for its demonstration"
            )
        source = "-"
    named, note = (demo_series_named(), None) if source is None else _series(source, arguments)
    settings = Settings(_methods(arguments.method), _request(arguments))
    notes: list[str] = []
    found: dict[str, Verdict | int] = {}
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", ResultWarning)
        if arguments.window is not None:
            rows, profiles = rolling_profiles(
                named, settings, arguments.window, arguments.step, notes
            )
            if arguments.plot:
                figures.save_profiles(arguments.plot, profiles)
        elif arguments.verdict_only:
            alone = verdicts(named, settings.request)
            rows = verdict_rows(alone)
            found.update(alone)
        else:
            rows, results = whole_series(named, settings, notes)
            if arguments.plot:
                figures.save_shares(arguments.plot, results)
            if arguments.p_values and arguments.form is None:
                found = under_table(named, settings.request)
    key = None
    if arguments.form is None:
        rows, key = table_columns(rows)
    if source is None and arguments.form is None and not arguments.verdict_only:
        sys.stdout.write(DEMO_NOTE)
    if arguments.verdict_only and arguments.form is None:
        sys.stdout.write("\n".join(verdict_lines(found)) + "\n")
    else:
        sys.stdout.write(render(rows, arguments.form or "table") + "\n")
    if key:
        sys.stdout.write(f"({key})\n")
    if found and not arguments.verdict_only:
        sys.stdout.write("\n" + "\n".join(verdict_lines(found)) + "\n")
    sys.stdout.flush()
    # Said once the run has succeeded, so that a failing run still ends with one line.
    if note:
        print(f"quorvel: {note}", file=sys.stderr)
    for line in notes:
        print(f"quorvel: note: {line}", file=sys.stderr)
    told = set()
    for warning in caught:
        if not issubclass(warning.category, ResultWarning):
            warnings.showwarning(
                warning.message, warning.category, warning.filename, warning.lineno
            )
        elif str(warning.message) not in told:
            told.add(str(warning.message))
            print(f"quorvel: note: {warning.message}", file=sys.stderr)
    if arguments.plot:
        print(f"quorvel: wrote the plot to {arguments.plot}", file=sys.stderr)
    return 0


def _null_help() -> str:
    """What each null model asks, as the models themselves say it."""
    said = [
        f"{model.name} = {model.asks}{' (default)' if model.name == DEFAULT_NULL else ''}"
        for model in NULL_MODELS.values()
    ]
    return f"what the p-values test: {'; '.join(said)}"


def _methods(chosen: list[str] | None) -> tuple[str, ...]:
    """In the order given, each once; "all" (as in analyze) stands for the four."""
    if not chosen:
        return METHODS
    names = [name for method in chosen for name in (METHODS if method == "all" else (method,))]
    return tuple(dict.fromkeys(names))


def _memory_hint(arguments: argparse.Namespace) -> str:
    """The options given that set how much memory a run takes, as the likely cause."""
    named = [f"--{name}" for name in ("classes", "window") if getattr(arguments, name)]
    if arguments.p_values and arguments.permutations != DEFAULT_PERMUTATIONS:
        named.append("--permutations")
    if not named:
        return " (the series itself needs more than is free)"
    return f"; is {' or '.join(named)} too large?"


def _request(arguments: argparse.Namespace) -> Request:
    """The request the options make; every setting is checked as the analysis layer checks it.
    (The measures are run one by one, in the order given, from `_methods`.)"""
    return Request(
        classes=arguments.classes,
        z=arguments.z,
        accept=arguments.accept,
        binning=arguments.binning,
        nan_policy=arguments.nan,
        p_values=arguments.p_values,
        null=arguments.null,
        permutations=arguments.permutations,
        seed=arguments.seed,
        workers=arguments.workers,
        adjust=arguments.adjust,
    )


def _check_options(arguments: argparse.Namespace) -> None:
    """Every setting before any reading or work, with the checks of the analysis layer."""
    _request(arguments)
    if arguments.verdict_only and (
        arguments.window is not None or not arguments.p_values or arguments.plot
    ):
        raise UsageError(
            "--verdict-only prints the combined test of the whole series: it takes neither "
            "--window, --plot nor --no-p-values"
        )
    for name in ("window", "step"):
        if getattr(arguments, name) is not None:
            check_integer(name, getattr(arguments, name))


def demo_series_named() -> Named:
    return {name: Series(values, None) for name, values in demo_series().items()}


def _series(source: str, arguments: argparse.Namespace) -> tuple[Named, str | None]:
    """The chosen column, and which one it is when the command chose it."""
    column = read_column(
        source,
        arguments.column,
        arguments.delimiter,
        arguments.decimal,
        labels=arguments.window is not None or arguments.plot is not None,
    )
    values, labels = column.values, column.labels
    missing = np.isnan(values)
    if missing.any():
        if arguments.nan == "raise":
            first = column.first_missing_line
            where = f" at line {first}" if first else f" at position {int(np.argmax(missing))}"
            count = int(missing.sum())
            raise UsageError(
                f"{count} missing cell(s) in column {column.name!r}, the first{where}; "
                "use --nan omit to skip them"
            )
        if missing.all():
            raise UsageError(f"column {column.name!r} has no values besides missing cells")
        values = values[~missing]
        labels = None if labels is None else labels[~missing]
        # Windows end at the file's positions, the omitted cells counted.
        positions = np.flatnonzero(~missing)
    else:
        positions = None
    series = Series(values, labels, column.name, column.label_name, positions)
    return {column.name: series}, column.note


def _fail(message: str) -> NoReturn:
    print(f"quorvel: error: {message}", file=sys.stderr)
    raise SystemExit(2)
