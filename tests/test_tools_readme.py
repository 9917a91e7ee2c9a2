"""The README's Python examples run as written and pass mypy --strict with the package (the
package itself is checked by scripts/check.sh)."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
EXAMPLES = re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.DOTALL)


@pytest.mark.parametrize("number", range(len(EXAMPLES)))
def test_example_runs_as_written(number, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("MPLBACKEND", "Agg")
    script = tmp_path / "example.py"
    script.write_text(EXAMPLES[number])
    run = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, check=False)
    assert run.returncode == 0, run.stderr


def test_examples_pass_mypy_strict(tmp_path):
    files = []
    for number, example in enumerate(EXAMPLES):
        files.append(tmp_path / f"example_{number}.py")
        files[-1].write_text(example)
    command = [
        sys.executable,
        "-m",
        "mypy",
        "--strict",
        "--config-file",
        str(ROOT / "pyproject.toml"),
        "--cache-dir",
        str(tmp_path / "cache"),
    ]
    run = subprocess.run([*command, *map(str, files)], capture_output=True, text=True, check=False)
    assert run.returncode == 0, run.stdout + run.stderr
