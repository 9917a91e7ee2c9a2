"""Prints how long the command's reading path takes on a large CSV and how much memory it holds at
its peak, against NumPy's own reader on the same column, and the same for the whole command.

    python benchmarks/read_big_file.py                 # 8·10^6 rows, about 200 MB
    python benchmarks/read_big_file.py --rows 1000000 --repeats 3

Every figure comes from a fresh process (peak resident memory is per process); the best of
--repeats runs is kept, since the machine is shared.
"""

import argparse
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

# Each snippet runs in its own interpreter and prints its peak resident memory in KiB. VmHWM
# is the peak of this process's own memory; ru_maxrss would also count the parent's at fork.
PEAK = "print(next(l for l in open('/proc/self/status') if l.startswith('VmHWM')).split()[1])"
BASELINE = f"import numpy, quorvel_tools.cli.reading\n{PEAK}"
NUMPY_READER = f"""import numpy as np
values = np.loadtxt({{path!r}}, delimiter=",", skiprows=1, usecols=[1])
assert values.size == {{rows}}
{PEAK}"""
OUR_READER = f"""from quorvel_tools.cli.reading import read_column
column = read_column({{path!r}})
assert column.name == "value" and column.values.size == {{rows}}
{PEAK}"""
# The wrapper imports nothing heavy, so the command's own peak is what ru_maxrss reports.
COMMAND = """import subprocess, resource
subprocess.run([{script!r}, {path!r}, *{options!r}], check=True, stdout=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)"""
WRITER = """import sys
sys.path.insert(0, {folder!r})
from read_big_file import write_csv
write_csv({path!r}, {rows})"""


def write_csv(path: str, rows: int) -> None:
    """Row number, a random walk with 6 decimals and a volume: about 26 bytes a row."""
    rng = np.random.default_rng(0)
    with open(path, "w") as handle:
        handle.write("t,value,volume\n")
        for start in range(0, rows, 1_000_000):
            count = min(1_000_000, rows - start)
            table = np.column_stack(
                [
                    np.arange(start, start + count),
                    (1000 + rng.normal(size=count).cumsum()).round(4),
                    rng.integers(100, 10_000, size=count),
                ]
            )
            np.savetxt(handle, table, fmt=["%d", "%.6f", "%d"], delimiter=",")


def measure(code: str, repeats: int) -> tuple[float, float]:
    """Best wall time (s) and least peak resident memory (MiB) over `repeats` runs."""
    times, peaks = [], []
    for _ in range(repeats):
        start = time.perf_counter()
        command = [sys.executable, "-c", code]
        run = subprocess.run(command, capture_output=True, text=True, check=True)
        times.append(time.perf_counter() - start)
        peaks.append(int(run.stdout.split()[-1]) / 1024)
    return min(times), min(peaks)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=8_000_000)
    parser.add_argument("--repeats", type=int, default=2)
    arguments = parser.parse_args()
    script = str(Path(sys.executable).with_name("quorvel"))
    with tempfile.TemporaryDirectory() as folder:
        path = str(Path(folder) / "big.csv")
        # Written by a process of its own, so that this one stays small for the ones it starts.
        writer = WRITER.format(folder=str(Path(__file__).parent), path=path, rows=arguments.rows)
        subprocess.run([sys.executable, "-c", writer], check=True)
        size = Path(path).stat().st_size / 2**20
        values = arguments.rows * 8 / 2**20
        print(f"{arguments.rows} rows, {size:.0f} MiB of CSV, {values:.0f} MiB of parsed values")
        print(f"best of {arguments.repeats}; memory is the process's peak resident set")
        _, base = measure(BASELINE, 1)
        print(f"  {'interpreter with numpy and the reader imported':<44} {'':>8} {base:7.0f} MiB")
        runs = [
            ("numpy.loadtxt, one column", NUMPY_READER, None),
            ("read_column (the command's reading path)", OUR_READER, None),
            ("quorvel FILE --method NSLefttoRight", COMMAND, ["--method", "NSLefttoRight"]),
            ("quorvel FILE (all four measures)", COMMAND, []),
        ]
        reference = None
        for name, template, options in runs:
            code = template.format(path=path, rows=arguments.rows, script=script, options=options)
            seconds, peak = measure(code, arguments.repeats)
            reference = reference or seconds
            print(
                f"  {name:<44} {seconds:6.2f} s {peak:7.0f} MiB"
                f"  ({(peak - base) / values:.1f}x the values above the interpreter,"
                f" {seconds / reference:.2f}x loadtxt's time)"
            )


if __name__ == "__main__":
    main()
