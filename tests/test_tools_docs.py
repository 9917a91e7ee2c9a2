"""The package's version and licence as tools read them, and the pages of documentation: every
link, script and section they point to is there."""

import re
import tomllib
from pathlib import Path

import pytest

import quorvel
import quorvel_tools

ROOT = Path(__file__).resolve().parent.parent
PAGES = sorted(
    page.relative_to(ROOT) for page in [*ROOT.glob("*.md"), *(ROOT / "docs").glob("*.md")]
)


def test_version_is_the_modules_and_the_licence_is_declared():
    # The installed metadata, the compiled module and pyproject.toml must name one release.
    project = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
    assert quorvel_tools.__version__ == quorvel.__version__ == project["version"]
    assert project["license"] == {"text": "BSD-3-Clause"}
    assert (ROOT / "LICENSE").read_text().startswith("BSD 3-Clause License\n")


def anchors(page: Path) -> set[str]:
    """The anchors a renderer gives a page's headings: lower case, punctuation dropped."""
    headings = re.findall(r"^#+ (.*)$", page.read_text(), flags=re.MULTILINE)
    return {re.sub(r"[^\w\- ]", "", h.lower()).replace(" ", "-") for h in headings}


@pytest.mark.parametrize("page", PAGES, ids=str)
def test_links_and_named_scripts_exist(page):
    text = (ROOT / page).read_text()
    missing = []
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"\w+:", target):
            continue
        path, _, anchor = target.partition("#")
        linked = (ROOT / page).parent / path if path else ROOT / page
        if not linked.exists() or (anchor and anchor not in anchors(linked)):
            missing.append(target)
    # Scripts named as commands (`python benchmarks/power.py`, `scripts/check.sh`).
    for script in re.findall(r"\b((?:benchmarks|scripts|examples)/\w+\.(?:py|sh))\b", text):
        if not (ROOT / script).is_file():
            missing.append(script)
    assert not missing, f"{page} points to what is not there: {missing}"
