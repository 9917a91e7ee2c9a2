"""The quorvel command end to end, through its console script."""

import csv
import io
import json
import os
import re
import shlex
import shutil
import struct
from pathlib import Path

import numpy as np
import pytest

from quorvel_tools import METHODS, analyze, rolling

from helpers import run_quorvel

VALUES = np.random.default_rng(6).normal(size=120).cumsum().round(6)
TEXT = [repr(float(v)) for v in VALUES]
quorvel = run_quorvel


def values_by_method(text):
    return {row["method"]: float(row["value"]) for row in json.loads(text)}


def expected(values=VALUES):
    return {method: analyze(values, method=method).value for method in METHODS}


def test_default_run_shows_the_demonstration_table():
    run = quorvel(stdin=None)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert "Demonstration" in lines[0] and lines[2].split()[:3] == ["series", "method", "value"]
    # The table, a blank line and one verdict per series.
    assert len(lines) == 4 + 5 * 4 + 1 + 5 and lines[-5].startswith("stationary noise: verdict")
    rows = json.loads(quorvel("--json", stdin=None).stdout)
    value = {(row["series"], row["method"]): row["value"] for row in rows}
    for method in METHODS:
        assert value["stationary noise", method] < 0.1
        assert value["trend", method] > 0.5 and value["level shift", method] > 0.5


def test_version_and_help():
    assert quorvel("--version").stdout.strip() == "quorvel 0.0.1"
    help_text = quorvel("--help").stdout
    for option in ("--column", "--window", "--permutations", "--plot", "--json", "--nan"):
        assert option in help_text


@pytest.fixture
def files(tmp_path):
    dates = [f"2024-01-{i % 28 + 1:02d}" for i in range(len(VALUES))]
    lines = [f"{d},{v},{i}" for i, (d, v) in enumerate(zip(dates, TEXT, strict=True))]
    made = {
        "csv": tmp_path / "prices.csv",
        "tsv": tmp_path / "prices.tsv",
        "txt": tmp_path / "plain.txt",
        "npy": tmp_path / "values.npy",
        "npy2": tmp_path / "table.npy",
    }
    made["csv"].write_text("date,close,volume\n" + "\n".join(lines) + "\n")
    made["tsv"].write_text("close\tother\n" + "\n".join(f"{v}\t1" for v in TEXT))
    made["txt"].write_text("# one value a line\n" + "\n".join(f"  {v}" for v in TEXT))
    np.save(made["npy"], VALUES)
    np.save(made["npy2"], np.column_stack([np.arange(len(VALUES)), VALUES]))
    return made


@pytest.mark.parametrize(
    "kind, extra",
    [
        ("csv", []),
        ("csv", ["--column", "close"]),
        ("csv", ["--column", "2"]),
        ("tsv", []),
        ("txt", []),
        ("npy", []),
        ("npy2", ["--column", "2"]),
    ],
)
def test_each_input_format_gives_the_analysis_of_its_column(files, kind, extra):
    run = quorvel(files[kind], *extra, "--json")
    assert run.returncode == 0, run.stderr
    assert values_by_method(run.stdout) == expected()


def test_standard_input():
    run = quorvel("-", "--json", stdin="\n".join(TEXT))
    assert values_by_method(run.stdout) == expected()


def test_csv_output_parses_back_exactly(files):
    run = quorvel(files["csv"], "--csv", "--classes", "5", "--binning", "equal-width")
    rows = list(csv.DictReader(io.StringIO(run.stdout)))
    assert [row["method"] for row in rows] == list(METHODS)
    for row in rows:
        result = analyze(VALUES, method=row["method"], classes=5, binning="equal-width")
        assert (float(row["value"]), float(row["H"]), int(row["K"])) == (result.value, result.H, 5)


def test_rolling_profile_rows(files):
    run = quorvel(
        files["csv"], "--window", "40", "--step", "20", "--json", "--method", "NSdichotomy"
    )
    rows = json.loads(run.stdout)
    profile = rolling(VALUES, 40, step=20, method="NSdichotomy")
    assert [row["end"] for row in rows] == list(profile.ends)
    assert [row["NSdichotomy"] for row in rows] == list(profile.values)


@pytest.mark.parametrize("method", ["NSLefttoRight", "NSdichotomy"])
def test_p_value_column_by_default_with_either_null(files, method):
    def p_value(*options):
        run = quorvel(files["csv"], "--json", "--method", method, "--permutations", "30", *options)
        (row,) = json.loads(run.stdout)
        return row.get("p_value")

    assert p_value() == analyze(VALUES, method=method, permutations=30).p_value
    assert p_value("--seed", "4") == analyze(VALUES, method=method, permutations=30, seed=4).p_value
    block = analyze(VALUES, method=method, null="block", permutations=30).p_value
    assert p_value("--null", "block") == block
    assert p_value("--no-p-values") is None


def test_rolling_p_values(files):
    run = quorvel(
        files["csv"], "--window", "60", "--step", "30", "--json", "--method", "NSLefttoRight"
    )
    rows = json.loads(run.stdout)
    profile = rolling(VALUES, 60, step=30, p_values=True)
    assert [row["NSLefttoRight_p"] for row in rows] == list(profile.p_values)


def test_missing_cells_are_omitted_on_request(tmp_path):
    path = tmp_path / "gaps.csv"
    path.write_text("x\n" + "\n".join("" if i % 10 == 3 else v for i, v in enumerate(TEXT)))
    run = quorvel(path, "--nan", "omit", "--json")
    kept = np.array([v for i, v in enumerate(VALUES) if i % 10 != 3])
    assert values_by_method(run.stdout) == expected(kept)
    # Windows end at the file's positions, the omitted cells counted: 39 kept values end at 42.
    path.write_text("x\n" + "\n".join("nan" if i % 10 == 3 else v for i, v in enumerate(TEXT)))
    windows = quorvel(path, "--nan", "omit", "--window", "39", "--step", "27", "--csv")
    ends = [int(row["end"]) for row in csv.DictReader(io.StringIO(windows.stdout))]
    assert ends == [42, 72, 102]


def test_figures_reach_csv_and_json_within_their_range(tmp_path):
    # The README's random walk: the module's own figures are 1.0000000000000002 and -6.7e-16.
    path = tmp_path / "walk.csv"
    walk = np.random.default_rng(0).normal(size=1000).cumsum()
    path.write_text("\n".join(repr(float(v)) for v in walk))
    args = (path, "--method", "NSLefttoRight", "--no-p-values")
    (row,) = csv.DictReader(io.StringIO(quorvel(*args, "--csv").stdout))
    assert (row["value"], row["H"]) == ("1.0", "0.0")
    (row,) = json.loads(quorvel(*args, "--json").stdout)
    assert (row["value"], row["H"]) == (1.0, 0.0)


def test_values_in_no_class_are_counted_in_every_output_and_noted_once(tmp_path):
    path = tmp_path / "counts.csv"
    path.write_text("\n".join(str(i % 5) for i in range(100)))
    run = quorvel(path, "--csv", "--no-p-values")
    rows = {
        row["method"]: int(row["unclassified"]) for row in csv.DictReader(io.StringIO(run.stdout))
    }
    assert rows == {**dict.fromkeys(METHODS, 0), "NSdichotomy": 20}
    assert run.stderr.startswith("quorvel: note: NSdichotomy: 20 of 100 values lie in no class")
    assert run.stderr.count("\n") == 1, run.stderr
    assert json.loads(quorvel(path, "--json", "--no-p-values").stdout)[2]["unclassified"] == 20
    windows = quorvel(path, "--window", "50", "--step", "25", "--no-p-values")
    assert windows.returncode == 0 and windows.stderr.count("\n") == 1, windows.stderr
    assert windows.stderr.startswith(
        "quorvel: note: NSdichotomy: 3 of 3 windows have values in no class (up to 10 of 50"
    )


@pytest.mark.parametrize(
    "args, stdin, message",
    [
        (["missing.csv"], "", "no such file: missing.csv"),
        (["{csv}", "--column", "price"], "", "no column 'price'"),
        (
            ["{csv}", "--column", "date"],
            "",
            "non-numeric cell '2024-01-01' in column 'date' at line 2",
        ),
        (["-"], "", "holds no data"),
        (["-"], "x\n1\n\n# only a header left\n", "too few"),
        (
            ["-"],
            "1\nNaN\n3\n",
            "1 missing cell(s) in column 'column 1', the first at line 2; use --nan omit",
        ),
        (
            ["{csv}", "--window", "500"],
            "",
            "window (500 values) is longer than the series (120 values)",
        ),
        (["--window", "0"], "", "--window must be an integer of at least 1, not 0"),
        (["--method", "NSUpward"], "", "invalid choice"),
        (["{csv}", "--z", "-1"], "", "--z must be a finite number above 0, not -1.0"),
        (["{csv}", "--z", "nan"], "", "--z must be a finite number above 0"),
        (["{csv}", "--accept", "1.5"], "", "--accept must be a fraction above 0 and at most 1"),
        (["{csv}", "--classes", "1"], "", "--classes must be an integer of at least 2"),
        (["{csv}", "--classes", str(10**30)], "", "--classes must be at most the number of values"),
        (["{csv}", "--classes", "10**30"], "", "--classes: expected an integer, got '10**30'"),
        (["{csv}", "--permutations", "0"], "", "--permutations must be an integer of at least 1"),
        (["{csv}", "--permutations", "5", "--seed", "-1"], "", "--seed must be an integer of at"),
        (["-"], "5\n", "1 value(s) are too few to analyse"),
        (["-"], "5\n6\n", "2 value(s) are too few to choose the number of classes from the data"),
        (["-"], "5\n6\n", "; give --classes (from 2 to 2)"),
        (["{csv}", "--null", "bootstrap"], "", "--null: invalid choice: 'bootstrap'"),
        (["{csv}", "--plot", "/no/such/folder/out.png"], "", "no such file or directory"),
        (["{npy}", "--column", "3"], "", "no column '3'"),
    ],
)
def test_user_errors_end_with_one_line_and_status_2(files, args, stdin, message):
    args = [a.format(csv=files["csv"], npy=files["npy2"]) for a in args]
    run = quorvel(*args, stdin=stdin)
    assert run.returncode == 2
    assert run.stderr.startswith("quorvel: error: ") and run.stderr.count("\n") == 1
    assert "Traceback" not in run.stderr and run.stdout == ""
    if message:
        assert message in run.stderr


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", data[16:24])


@pytest.mark.parametrize(
    "extra", [[], ["--window", "40", "--step", "10"]], ids=["shares", "rolling"]
)
def test_plot_is_a_png_with_content(files, tmp_path, extra):
    import matplotlib.image

    out = tmp_path / "plot.png"
    run = quorvel(files["csv"], "--plot", out, *extra)
    assert run.returncode == 0, run.stderr
    width, height = png_size(out)
    assert 600 <= width <= 3000 and 300 <= height <= 3000
    pixels = matplotlib.image.imread(out)
    assert pixels.reshape(-1, pixels.shape[-1]).std(axis=0).max() > 0.05


def test_missing_matplotlib_is_one_clear_line(files, tmp_path):
    blocker = tmp_path / "blocked" / "matplotlib"
    blocker.mkdir(parents=True)
    (blocker / "__init__.py").write_text(
        "raise ImportError('matplotlib is blocked in this test')\n"
    )
    env = {**os.environ, "PYTHONPATH": str(blocker.parent)}
    run = quorvel(files["csv"], "--plot", tmp_path / "x.png", env=env)
    assert run.returncode == 2 and "pip install matplotlib" in run.stderr
    assert run.stderr.count("\n") == 1


def test_readme_commands_work_as_written(tmp_path):
    root = Path(__file__).resolve().parent.parent
    blocks = re.findall(r"```sh\n(.*?)```", (root / "README.md").read_text(), flags=re.DOTALL)
    commands = [line.split("  #")[0] for block in blocks for line in block.splitlines()]
    commands = [c for c in commands if c.startswith("quorvel ")]
    assert len(commands) >= 5
    (tmp_path / "examples").mkdir()
    shutil.copy(root / "examples" / "prices.csv", tmp_path / "examples")
    for command in commands:
        run = quorvel(*shlex.split(command)[1:], cwd=tmp_path)
        assert run.returncode == 0, f"{command}: {run.stderr}"
    assert (tmp_path / "shares.png").exists() and (tmp_path / "profile.png").exists()


def test_method_all_p_values_at_their_step_and_a_rolling_table_that_fits(files):
    default = quorvel(files["csv"], "--json", "--permutations", "30")
    assert quorvel(files["csv"], "--json", "--permutations", "30", "--method", "all").stdout == (
        default.stdout
    )
    trend = "\n".join(map(str, range(120)))
    drift = quorvel("--method", "NSLefttoRight", "--method", "NSdichotomy", stdin=trend)
    cells = [line.split()[-1] for line in drift.stdout.splitlines()[2:4]]
    # At the smallest p-value its null can give: 9,999 draws shipped for n = 120, 999 shuffles.
    assert cells == ["<=0.0001", "<=0.001"], drift.stdout
    cells = [line.split()[-1] for line in quorvel(files["csv"]).stdout.splitlines()[2:6]]
    assert [len(cell.split(".")[1]) for cell in cells] == [4, 4, 3, 4]
    run = quorvel(files["csv"], "--window", "60", "--step", "20")
    lines = run.stdout.splitlines()
    assert run.returncode == 0 and max(map(len, lines)) <= 100, run.stdout
    assert lines[0].split() == ["end", "date", "LtG", "LtG", "p", "LtR", "LtR", "p", "dich"] + [
        "dich",
        "p",
        "circ",
        "circ",
        "p",
    ]
    assert lines[-1].startswith("(LtG = NSLocaltoGlobal, LtR = NSLefttoRight")
    rows = json.loads(quorvel(files["csv"], "--window", "60", "--step", "20", "--json").stdout)
    assert set(rows[0]) >= {"series", "NSLocaltoGlobal", "NSLocaltoGlobal_p"}


@pytest.mark.parametrize(
    "stdin, note",
    [
        ("3\n" * 40, "note: NSLefttoRight is undefined (nan) and has no p-value: the series is"),
        ("1\n5\n2\n4\n3\n", "note: a series of 5 values can say little about its stationarity"),
    ],
)
def test_results_that_say_little_are_noted_on_standard_error(stdin, note):
    run = quorvel("--method", "NSLefttoRight", "--json", stdin=stdin)
    assert run.returncode == 0 and note in run.stderr and run.stderr.count("\n") == 1


def test_verdict_under_the_table_and_alone(files):
    from quorvel_tools import verdict

    expected = verdict(VALUES, permutations=99)
    table = quorvel(files["csv"], "--permutations", "99").stdout.splitlines()
    assert table[-2] == "" and table[-1] == expected.line()
    alone = quorvel(files["csv"], "--permutations", "99", "--verdict-only")
    assert alone.stdout.splitlines() == [expected.line()]
    (row,) = json.loads(
        quorvel(files["csv"], "--permutations", "99", "--verdict-only", "--json").stdout
    )
    assert row["p_value"] == expected.p_value and row["method"] == expected.strongest.method
    assert "verdict" not in quorvel(files["csv"], "--json", "--permutations", "9").stdout
    for extra in (("--window", "50"), ("--plot", "x.png"), ("--no-p-values",)):
        refused = quorvel(files["csv"], "--verdict-only", *extra)
        assert refused.returncode == 2 and "it takes neither --window" in refused.stderr


def test_past_its_length_the_verdict_under_the_table_is_left_to_verdict_only(monkeypatch):
    # Its null costs about 10^4 runs in a new process: minutes on long series.
    from quorvel_tools import verdict
    from quorvel_tools.cli import jobs
    from quorvel_tools.inputs import to_series
    from quorvel_tools.request import NullSettings, request_of

    monkeypatch.setattr(jobs, "VERDICT_UNDER_TABLE_MOST", 60)
    request, _ = request_of("verdict", "all", {"permutations": 19}, NullSettings)
    named = {"short": to_series(VALUES[:60]), "long": to_series(VALUES)}
    found = jobs.under_table(named, request)
    assert found["long"] == 120
    assert jobs.verdict_lines(found) == [
        f"short: {verdict(VALUES[:60], permutations=19).line()}",
        "long: verdict: not computed under the table for 120 values (its null takes about "
        "10^4 runs of the measures, minutes at this length); --verdict-only computes it",
    ]


def test_rolling_json_gives_the_adjusted_p_values_the_plot_rings(files):
    args = (files["csv"], "--window", "60", "--step", "20", "--method", "NSLefttoRight")
    for adjust in ("fdr", "none"):
        rows = json.loads(quorvel(*args, "--adjust", adjust, "--json").stdout)
        profile = rolling(VALUES, 60, step=20, p_values=True, adjust=adjust)
        assert [row["NSLefttoRight_p_adjusted"] for row in rows] == profile.adjusted.tolist()
    assert "p_adjusted" not in quorvel(*args).stdout
