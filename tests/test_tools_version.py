"""The package's version is the module's, and its licence is declared where tools look."""

import tomllib
from pathlib import Path

import quorvel
import quorvel_tools

ROOT = Path(__file__).resolve().parent.parent


def test_version_is_the_modules_and_the_licence_is_declared():
    # The installed metadata, the compiled module and pyproject.toml must name one release.
    project = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
    assert quorvel_tools.__version__ == quorvel.__version__ == project["version"]
    assert project["license"] == {"text": "BSD-3-Clause"}
    assert (ROOT / "LICENSE").read_text().startswith("BSD 3-Clause License\n")
