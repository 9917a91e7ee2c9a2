"""The README's Python examples run as written and pass mypy --strict with the package (the
package itself is checked by scripts/check.sh); every output the README quotes, after an example
or from a named script ("$ python examples/...", quoted whole), is still what they print."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
BLOCKS = re.findall(r"```(\w+)\n(.*?)```", README.read_text(), flags=re.DOTALL)
EXAMPLES = [body for kind, body in BLOCKS if kind == "python"]
# A text block right after an example is that example's output.
OUTPUTS = {
    EXAMPLES.index(body): BLOCKS[i + 1][1]
    for i, (kind, body) in enumerate(BLOCKS[:-1])
    if kind == "python" and BLOCKS[i + 1][0] == "text" and not BLOCKS[i + 1][1].startswith("$ ")
}
SCRIPTS = [
    (head[len("$ python ") :], rest)
    for kind, body in BLOCKS
    if kind == "text" and body.startswith("$ python ")
    for head, _, rest in [body.partition("\n")]
]


@pytest.mark.parametrize("number", range(len(EXAMPLES)))
def test_example_runs_as_written(number, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("MPLBACKEND", "Agg")
    script = tmp_path / "example.py"
    script.write_text(EXAMPLES[number])
    run = subprocess.run(
        [sys.executable, str(script)], capture_output=True, text=True, check=False, timeout=300
    )
    assert run.returncode == 0, run.stderr
    if number in OUTPUTS:
        assert run.stdout == OUTPUTS[number]


def test_quoted_outputs_are_found_and_each_script_still_prints_its_quote():
    assert OUTPUTS and [script for script, _ in SCRIPTS] == ["examples/few_classes.py"]
    for script, quoted in SCRIPTS:
        command = [sys.executable, *script.split()]
        run = subprocess.run(
            command, cwd=ROOT, capture_output=True, text=True, check=False, timeout=300
        )
        assert (run.returncode, run.stdout) == (0, quoted), run.stderr


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
