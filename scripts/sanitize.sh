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
# ASan intercepts __cxa_throw and needs the real one at start-up; python does not link libstdc++.
cxx_runtime="$(g++ -print-file-name=libstdc++.so)"
for runtime in "$asan_runtime" "$cxx_runtime"; do
    if [[ ! -e "$runtime" ]]; then
        echo "sanitize.sh: runtime library not found: '$runtime' (is g++ installed?)" >&2
        exit 1
    fi
done
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

"$python" -m venv "$venv"
# A build directory of its own keeps the instrumented objects apart from any normal build.
"$venv/bin/python" -m pip install --quiet \
    --config-settings=cmake.define.QUORVEL_SANITIZE=ON \
    --config-settings=build-dir=build/sanitize \
    ".[test]"

# The interpreter is not instrumented: the ASan runtime must be loaded first, and CPython's own
# allocations that live until exit are not leaks of ours (benchmarks/soak.py watches for leaks).
# Allocations above 4 GiB fail, and become MemoryError, instead of filling the machine's memory.
# Reports go to log files, since pytest's output capture would swallow them when a run aborts.
logs="$PWD/build/sanitize-logs"
rm -rf "$logs"
mkdir -p "$logs"
export LD_PRELOAD="$asan_runtime $cxx_runtime"
export ASAN_OPTIONS="log_path=$logs/asan:detect_leaks=0:halt_on_error=1:exitcode=86:allocator_may_return_null=1:max_allocation_size_mb=4096:detect_stack_use_after_return=1:strict_string_checks=1"
export UBSAN_OPTIONS="log_path=$logs/ubsan:halt_on_error=1:print_stacktrace=1:exitcode=87"

"$venv/bin/python" -c 'import quorvel; print("sanitized quorvel", quorvel.__version__, "from", quorvel.__file__)'
status=0
"$venv/bin/python" -m pytest -p no:cacheprovider "$@" || status=$?
# The MemoryError tests leave "failed to allocate" warnings; anything else is a report.
if compgen -G "$logs/*" >/dev/null &&
    grep -q -v -h -e "WARNING: AddressSanitizer failed to allocate" "$logs"/*; then
    echo "sanitize.sh: sanitizer reports:" >&2
    cat "$logs"/* >&2
    status=1
fi
exit "$status"
