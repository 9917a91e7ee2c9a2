"""quorvel [FILE]: how far a series departs from stationarity in distribution, from a terminal."""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence
from importlib.metadata import version
from typing import NoReturn

import numpy as np

from ..config import BINNING_MODES, DEFAULT_ACCEPT, DEFAULT_Z, METHODS
from ..optional import MissingDependencyError
from . import figures
from .demo import demo_series
from .errors import UsageError
from .jobs import Named, Settings, rolling_profiles, whole_series
from .output import render
from .reading import read_column

DESCRIPTION = """\
Measure how far a time series departs from stationarity in distribution. The series' value
range is cut into K classes and each class's running share is tested against a confidence
band; classes whose share does not settle are merged. Each measure is 1 - H/H0: 0 when the
distribution is stable along the series, towards 1 the more it drifts (nan when all values
fall in one class). Without FILE, runs on built-in series of known character."""

EPILOG = """\
examples:
  quorvel                                  the demonstration table
  quorvel prices.csv --column close        one column of a CSV file (header detected)
  quorvel data.csv --window 200 --step 20  the measures over sliding windows
  quorvel data.csv --permutations 199 --seed 1 --method NSLefttoRight
  quorvel data.csv --plot shares.png       running class shares and their bands
  seq 1 100 | quorvel -                    read standard input"""

DEMO_NOTE = (
    "Demonstration series of 500 values (run `quorvel FILE` on your own data; --help for more).\n"
    "value: 0 = the distribution is stable along the series; towards 1 = it drifts.\n"
)


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        _fail(f"{message} (see quorvel --help)")


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="quorvel",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument(
        "file", nargs="?", metavar="FILE", help="CSV/TSV/text or .npy file; - reads standard input"
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {version('quorvel')}")
    parser.add_argument(
        "--column",
        metavar="NAME|N",
        help="column by header name or position from 1 (default: the first numeric one)",
    )
    parser.add_argument(
        "--nan",
        choices=("raise", "omit"),
        default="raise",
        help="missing cells: stop with an error (default) or omit them",
    )
    parser.add_argument(
        "--method",
        action="append",
        choices=METHODS,
        metavar="NAME",
        help=f"a measure to run, repeatable (default: all of {', '.join(METHODS)})",
    )
    parser.add_argument(
        "--classes",
        type=_positive,
        metavar="K",
        help="number of classes (default: from the data size)",
    )
    parser.add_argument(
        "--z", type=float, default=DEFAULT_Z, help="band multiplier (default: %(default)s)"
    )
    parser.add_argument(
        "--accept",
        type=float,
        default=DEFAULT_ACCEPT,
        help="least in-band fraction for a class to settle (default: %(default)s)",
    )
    parser.add_argument(
        "--binning",
        choices=sorted(BINNING_MODES),
        default="equal-frequency",
        help="class boundaries (default: %(default)s)",
    )
    parser.add_argument(
        "--window",
        type=_positive,
        metavar="W",
        help="measure each window of W values (a rolling profile)",
    )
    parser.add_argument(
        "--step",
        type=_positive,
        default=1,
        metavar="S",
        help="distance between windows (default: 1)",
    )
    parser.add_argument(
        "--permutations", type=_positive, metavar="N", help="p-values from N shuffles of the series"
    )
    parser.add_argument("--seed", type=int, help="seed of the shuffles, for reproducible p-values")
    parser.add_argument(
        "--plot",
        metavar="OUT.png",
        help="write the running class shares (or the rolling profile) as an image",
    )
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", dest="form", action="store_const", const="json", help="JSON output")
    form.add_argument("--csv", dest="form", action="store_const", const="csv", help="CSV output")
    return parser


def _positive(text: str) -> int:
    try:
        number = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a positive integer, got {text!r}") from None
    if number < 1:
        raise argparse.ArgumentTypeError(f"expected a positive integer, got {text!r}")
    return number


def main(argv: Sequence[str] | None = None) -> int:
    arguments = build_parser().parse_args(argv)
    try:
        return _run(arguments)
    except (UsageError, ValueError, TypeError, MissingDependencyError) as error:
        _fail(str(error))
    except MemoryError:
        _fail("not enough memory for this run; is --classes or --window too large?")
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader (head, less) went away; nothing is left to say.
        sys.stderr.close()
        return 0


def _run(arguments: argparse.Namespace) -> int:
    if arguments.permutations is not None and arguments.window is not None:
        raise UsageError("--permutations and --window cannot be combined")
    if arguments.plot:
        figures.check_target(arguments.plot)
    named = _series(arguments)
    settings = Settings(
        methods=arguments.method or METHODS,
        classes=arguments.classes,
        z=arguments.z,
        accept=arguments.accept,
        binning=arguments.binning,
    )
    if arguments.window is not None:
        rows, profiles = rolling_profiles(named, settings, arguments.window, arguments.step)
        if arguments.plot:
            figures.save_profiles(arguments.plot, profiles)
    else:
        rows, results = whole_series(named, settings, arguments.permutations, arguments.seed)
        if arguments.plot:
            figures.save_shares(arguments.plot, results)
    if arguments.file is None and arguments.form is None:
        sys.stdout.write(DEMO_NOTE)
    print(render(rows, arguments.form or "table"))
    return 0


def _series(arguments: argparse.Namespace) -> Named:
    if arguments.file is None:
        return demo_series()
    column = read_column(arguments.file, arguments.column)
    missing = np.isnan(column.values)
    if missing.any():
        if arguments.nan == "raise":
            first = int(column.lines[np.argmax(missing)])
            where = f" at line {first}" if first else f" at position {int(np.argmax(missing))}"
            raise UsageError(
                f"{int(missing.sum())} missing cell(s) in column {column.name!r}, the first{where}; "
                "use --nan omit to skip them"
            )
        if missing.all():
            raise UsageError(f"column {column.name!r} has no values besides missing cells")
    return {column.name: column.values[~missing]}


def _fail(message: str) -> NoReturn:
    print(f"quorvel: error: {message}", file=sys.stderr)
    raise SystemExit(2)
