"""The command reads the files people have: layouts, the row order, missing cells, failures."""

import json
import os

import numpy as np
import pytest

from quorvel_tools import METHODS, analyze
from quorvel_tools.cli import reading
from quorvel_tools.cli.reading import read_column

from helpers import run_quorvel as quorvel

VOLUME = np.random.default_rng(3).gamma(2.0, 20.0, size=60).round(1)
YEARS = np.arange(1700, 1760)
FEW = VOLUME[:28]


def values_by_method(text):
    return {row["method"]: row["value"] for row in json.loads(text)}


def expected(values):
    return {method: analyze(values, method=method).value for method in METHODS}


def assert_one_error_line(run, message):
    assert run.returncode == 2, run.stderr
    assert run.stderr.startswith("quorvel: error: ") and run.stderr.count("\n") == 1
    assert "Traceback" not in run.stderr and run.stdout == ""
    assert message in run.stderr


def test_a_column_of_years_is_the_row_order_not_the_series(tmp_path):
    path = tmp_path / "sunspots.csv"
    path.write_text(
        "YEAR,SUNACTIVITY\n" + "".join(f"{y},{v}\n" for y, v in zip(YEARS, VOLUME, strict=True))
    )
    run = quorvel(path, "--json")
    assert run.returncode == 0, run.stderr
    assert values_by_method(run.stdout) == expected(VOLUME)
    assert "'SUNACTIVITY'" in run.stderr and "'YEAR' is the row order" in run.stderr
    picked = quorvel(path, "--json", "--column", "YEAR")
    assert values_by_method(picked.stdout) == expected(YEARS.astype(float))
    assert picked.stderr == ""


def test_a_ragged_row_is_a_missing_cell_of_the_series(tmp_path):
    lines = [f"{y},{v}" for y, v in zip(YEARS, VOLUME, strict=True)]
    lines[10] = str(YEARS[10])  # a year without its value
    path = tmp_path / "ragged.csv"
    path.write_text("year,volume\n" + "\n".join(lines) + "\n")
    message = "1 missing cell(s) in column 'volume', the first at line 12"
    assert_one_error_line(quorvel(path), message)
    run = quorvel(path, "--nan", "omit", "--json")
    assert values_by_method(run.stdout) == expected(np.delete(VOLUME, 10))


@pytest.mark.parametrize(
    "text, options",
    [
        ("date;value\n" + "".join(f"2024-01-{i + 1:02d};{v}\n" for i, v in enumerate(FEW)), []),
        ("value\tother\n" + "".join(f"{v}\t1\n" for v in FEW), []),
        ("a|value\n" + "".join(f"x|{v}\n" for v in FEW), []),
        ("value;b\n" + "".join(f"{v};1\n".replace(".", ",", 1) for v in FEW), []),
        ("value b\n" + "".join(f"{v}  7\n" for v in FEW), []),
        ("value,b\n" + "".join(f'"{v}",1\n'.replace(".", ",", 1) for v in FEW), ["--decimal", ","]),
        ("value:b\n" + "".join(f"{v}:1\n" for v in FEW), ["--delimiter", ":"]),
    ],
    ids=["semicolon", "tab", "pipe", "decimal-comma", "spaces", "quoted-comma", "option"],
)
def test_delimiter_and_decimal_mark_come_from_the_content_or_the_options(tmp_path, text, options):
    path = tmp_path / "data.csv"  # the extension says comma; the content does not
    path.write_text(text)
    run = quorvel(path, "--json", "--column", "value", *options)
    assert run.returncode == 0, run.stderr
    assert values_by_method(run.stdout) == expected(FEW)


def test_standard_input_is_read_when_it_is_not_a_terminal():
    run = quorvel("--json", stdin="\n".join(map(str, VOLUME)))
    assert values_by_method(run.stdout) == expected(VOLUME)


def test_rolling_rows_carry_the_dates_of_the_file(tmp_path):
    path = tmp_path / "daily.csv"
    dates = np.datetime64("2024-01-01") + np.arange(60)
    path.write_text("date,v\n" + "".join(f"{d},{v}\n" for d, v in zip(dates, VOLUME, strict=True)))
    run = quorvel(path, "--window", "30", "--step", "15", "--json", "--method", "NSLefttoRight")
    rows = json.loads(run.stdout)
    ends = [(row["end"], row["date"]) for row in rows]
    assert ends == [(29, "2024-01-30"), (44, "2024-02-14"), (59, "2024-02-29")]


def test_block_boundaries_lose_no_line_and_keep_line_numbers(tmp_path, monkeypatch):
    # Tiny blocks: every fall-back to line-by-line parsing meets a block edge somewhere.
    monkeypatch.setattr(reading, "BLOCK_CHARS", 40)
    values = VOLUME.copy()
    lines = ["# made by a logger", "t,value"]
    for i, v in enumerate(values):
        lines.append(f"{i},{v}")
        if i % 17 == 5:
            lines.append("")  # blank lines are skipped wherever they are
        if i % 23 == 7:
            lines.append("# a note")
    lines[lines.index("40," + str(values[40]))] = "40,NA"
    path = tmp_path / "long.csv"
    path.write_text("\n".join(lines) + "\n")
    column = read_column(str(path), labels=True)
    assert column.name == "value" and column.label_name == "t"
    assert np.isnan(column.values[40])
    assert np.array_equal(np.delete(column.values, 40), np.delete(values, 40))
    assert column.first_missing_line == lines.index("40,NA") + 1
    assert list(column.labels) == list(range(60))


def three_values(folder):
    (folder / "x.csv").write_text("1\n2\n3\n")


@pytest.mark.parametrize(
    "make, args, message",
    [
        (lambda p: np.save(p / "empty.npy", np.zeros((5, 0))), ["empty.npy"], "holds no data"),
        (lambda p: (p / "t.npy").write_text("1\n2\n"), ["t.npy"], "is not a NumPy .npy file"),
        (lambda p: (p / "d").mkdir(), ["d"], "d is a directory"),
        (lambda p: None, ["/proc/self/mem"], "cannot read /proc/self/mem"),
        (three_values, ["x.csv", "--plot", "."], "is a folder"),
        (three_values, ["x.csv", "--plot", "o.txt"], "unknown image format"),
        (three_values, ["x.csv", "--plot", "/proc/o.png"], "cannot write /proc/o.png"),
        (three_values, ["x.csv", "--delimiter", "ab"], "one character"),
        (
            lambda p: (p / "x.csv").write_text("y,v\n1,a\n2,b\n3,c\n"),
            ["x.csv"],
            "no column of numbers besides the row order ('y')",
        ),
    ],
)
def test_unreadable_inputs_and_outputs_end_with_one_line(tmp_path, make, args, message):
    make(tmp_path)
    assert_one_error_line(quorvel(*args, cwd=tmp_path), message)
    assert not (tmp_path / "o.txt").exists()


@pytest.mark.skipif(os.geteuid() == 0, reason="permissions do not bind root")
def test_a_file_without_read_permission(tmp_path):
    path = tmp_path / "secret.csv"
    path.write_text("1\n2\n3\n")
    path.chmod(0)
    assert_one_error_line(quorvel(path), "permission denied")


def test_a_failed_write_of_the_results_is_one_line(tmp_path):
    with open("/dev/full", "w") as full:
        run = quorvel("-", stdin="1\n2\n3\n4\n", stdout=full)
    assert run.returncode == 2 and run.stderr.count("\n") == 1
    assert "cannot write standard output: no space left on device" in run.stderr


def test_plot_is_written_where_it_was_asked_and_said(tmp_path):
    path = tmp_path / "x.csv"
    path.write_text("\n".join(map(str, VOLUME)))
    run = quorvel(path, "--plot", tmp_path / "figure", "--method", "NSLefttoRight")
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "figure").read_bytes()[:4] == b"\x89PNG"
    assert f"wrote the plot to {tmp_path / 'figure'}" in run.stderr


def dated(rows):
    return "date,value\n" + "".join(f"2024-01-{i + 1:02d},{v}\n" for i, v in enumerate(rows))


ONE_COLUMN = "".join(f"{v}\n" for v in FEW)


@pytest.mark.parametrize(
    "content, args, message",
    [
        ("", [], "standard input holds no data"),
        ("", ["--csv", "--window", "5"], "standard input holds no data"),
        (dated([*FEW[:5], "x", *FEW[6:]]), [], "non-numeric cell 'x' in column 'value' at line 7"),
        (dated(FEW), ["--column", "0"], "no column '0' in {path} (positions count from 1)"),
        (
            b"PAR1\x15\x04\x15\x80",
            [],
            "is a Parquet file, which quorvel does not read; it reads CSV",
        ),
        ("\ufeffvalue\n1\n".encode("utf-16"), [], "is UTF-16 text; save it as UTF-8"),
        (ONE_COLUMN[:20] + "\n" + ONE_COLUMN[20:], [], "1 missing cell(s) in column 'column 1'"),
        (
            "1\n2\n1e400\n4\n",
            [],
            "a number too large for a double ('1e400') in column 'column 1' at line 3",
        ),
        ("1\n2\n-inf\n4\n", ["--nan", "omit"], "an infinite value ('-inf') in column"),
        ("-1.7e308\n1.7e308\n" * 10, [], "a range wider than the largest double"),
        (",".join(["1"] * 100_001) + "\n", [], "line 1 of {path} has more than 100,000 cells"),
        (
            "1\n" + "2" * (1 << 21) + "\n",
            [],
            "line 2 of {path} is longer than 1,048,576 characters",
        ),
        (b"1\n2\x00\x00\n", [], "holds NUL characters, so it is not text"),
    ],
    ids=[
        "empty-pipe",
        "empty-pipe-csv",
        "one-text-cell",
        "column-0",
        "parquet",
        "utf-16",
        "blank-line",
        "too-large",
        "infinite",
        "span",
        "too-many-cells",
        "long-line",
        "nul",
    ],
)
def test_what_a_new_user_trips_on_ends_with_one_line(tmp_path, content, args, message):
    path = tmp_path / "data.csv"
    if content:
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        args = [path, *args]
    assert_one_error_line(quorvel(*args, timeout=30), message.format(path=path))


def eighty_megabytes(path):
    path.write_text(("0.1," * 10**7 + "\n") * 2)  # two lines of 10^7 cells
    return [path]


def fifty_values(path):
    # The verdict under the table draws all its permutations at once.
    path.write_text("\n".join(map(str, VOLUME[:50])))
    return [path, "--method", "NSdichotomy", "--permutations", str(10**9)]


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda path: ["/dev/zero"], "/dev/zero holds NUL characters, so it is not text"),
        (eighty_megabytes, "line 1 of {path} is longer than 1,048,576 characters"),
        (fifty_values, "not enough memory for this run; is --permutations too large?"),
    ],
    ids=["dev-zero", "ten-million-columns", "permutations"],
)
def test_any_file_is_read_in_bounded_memory_and_time(tmp_path, make, message):
    import resource
    import subprocess

    from helpers import QUORVEL_SCRIPT

    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer reserves terabytes of address space: no cap can hold it")
    path = tmp_path / "data.csv"
    args = make(path)

    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (500 << 20, 500 << 20))

    run = subprocess.run(
        [str(QUORVEL_SCRIPT), *map(str, args)],
        capture_output=True,
        text=True,
        timeout=10,
        preexec_fn=limit,
        check=False,
    )
    assert_one_error_line(run, message.format(path=path))


def test_stamps_with_spaces_old_mac_lines_and_blank_lines_at_the_end(tmp_path):
    stamps = np.datetime64("2024-01-01T00:00") + np.arange(60) * np.timedelta64(90, "m")
    spaced = tmp_path / "log.txt"
    spaced.write_text(
        "time value\n"
        + "".join(f"{str(t).replace('T', ' ')} {v}\n" for t, v in zip(stamps, VOLUME, strict=True))
    )
    mac = tmp_path / "mac.txt"
    mac.write_text("\r\r" + "\r".join(map(str, VOLUME)) + "\r\r\n\n")  # blanks around values
    for path in (spaced, mac):
        run = quorvel(path, "--json")
        assert run.returncode == 0, run.stderr
        assert values_by_method(run.stdout) == expected(VOLUME)
    run = quorvel(spaced, "--window", "30", "--step", "30", "--json", "--method", "NSLefttoRight")
    assert [(row["end"], row["time"]) for row in json.loads(run.stdout)] == [
        (29, "2024-01-02 19:30"),
        (59, "2024-01-04 16:30"),
    ]


@pytest.mark.parametrize(
    "write",
    [
        lambda frame, path: frame.to_csv(path, sep=" "),
        lambda frame, path: frame.to_csv(path, sep=" ", date_format="%Y-%m-%d %H:%M"),
        lambda frame, path: frame["v"].to_csv(path, header=["0"]),
        lambda frame, path: frame.reset_index(drop=True)["v"].to_csv(path),
    ],
    ids=["spaces-unnamed-index", "spaces-quoted-stamps", "series-named-0", "series-row-order"],
)
def test_files_as_pandas_writes_them(tmp_path, write):
    import pandas as pd

    index = pd.date_range("2024-01-01", periods=60, freq="90min")
    path = tmp_path / "written.txt"
    write(pd.DataFrame({"v": VOLUME}, index=index), path)
    run = quorvel(path, "--json")
    assert run.returncode == 0, run.stderr
    assert values_by_method(run.stdout) == expected(VOLUME)
    run = quorvel(path, "--window", "30", "--step", "30", "--json", "--method", "NSLefttoRight")
    assert [row["end"] for row in json.loads(run.stdout)] == [29, 59]
