#!/usr/bin/env bash
# The checks that keep the tree clean, as CI runs them: ruff's lint rules and its formatting
# over the Python code, clang-format over the C++ sources, and mypy --strict over the package
# (against its sources and the stubs of the compiled modules, so nothing needs building first).
# The tools come from the dev extra of pyproject.toml; pre-commit runs the same commands.
#
#   scripts/check.sh
set -euo pipefail
cd "$(dirname "$0")/.."
python="${PYTHON:-python3}"

# clang-format from the same environment as the Python tools, not another one on the PATH.
clang_format="$("$python" -c 'import sysconfig; print(sysconfig.get_path("scripts"))')/clang-format"

python_code=(python tests benchmarks scripts)
"$python" -m ruff check "${python_code[@]}"
"$python" -m ruff format --check "${python_code[@]}"
find src \( -name '*.cpp' -o -name '*.hpp' \) -print0 | sort -z |
    xargs -0 "$clang_format" --dry-run -Werror
"$python" -m mypy
