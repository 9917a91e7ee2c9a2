#!/usr/bin/env bash
# Builds quorvel with AddressSanitizer and UndefinedBehaviorSanitizer into a venv of its own and
# runs the whole test suite against that build. Any sanitizer report stops the interpreter with
# a non-zero status, so it fails the run.
#
#   scripts/sanitize.sh [pytest arguments...]
#
# QUORVEL_SANITIZE_VENV chooses the venv (default: build/sanitize-venv in the repository).
set -euo pipefail
cd "$(dirname "$0")/.."

venv="${QUORVEL_SANITIZE_VENV:-$PWD/build/sanitize-venv}"
python="${PYTHON:-python3}"

asan_runtime="$(g++ -print-file-name=libasan.so)"
if [[ ! -e "$asan_runtime" ]]; then
    echo "sanitize.sh: libasan not found (g++ -print-file-name=libasan.so gave '$asan_runtime')" >&2
    exit 1
fi

"$python" -m venv "$venv"
"$venv/bin/python" -m pip install --quiet --upgrade pip
# A build directory of its own keeps the instrumented objects apart from any normal build.
"$venv/bin/python" -m pip install --quiet \
    --config-settings=cmake.define.QUORVEL_SANITIZE=ON \
    --config-settings=build-dir=build/sanitize \
    ".[test]"

# The interpreter is not instrumented: the ASan runtime must be loaded first, and CPython's own
# allocations that live until exit are not leaks of ours. Allocations above 4 GiB fail (and
# become MemoryError) instead of touching the machine's memory.
export LD_PRELOAD="$asan_runtime"
export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:abort_on_error=0:exitcode=86:allocator_may_return_null=1:max_allocation_size_mb=4096:detect_stack_use_after_return=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87"
export PYTHONFAULTHANDLER=1

"$venv/bin/python" -c 'import quorvel; print("sanitized quorvel", quorvel.__version__, "from", quorvel.__file__)'
"$venv/bin/python" -m pytest -p no:cacheprovider "$@"
