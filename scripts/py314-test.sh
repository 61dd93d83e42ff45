#!/usr/bin/env bash
# The newest interpreter and compiler, from Debian's unstable distribution,
# in a root of their own (run as root; the root is made once and cached, see
# scripts/debian-root.sh):
#
#   bash scripts/py314-test.sh [pytest arguments...]
#
#   1. a fresh virtual environment with NumPy 2.x, pytest and hypothesis
#      from PyPI;
#   2. `pip install .[test]` into it, built with GCC 16 and -Werror, the
#      same CMake build also making the C++ tests and the benchmarks (one
#      compilation of the core serves both), and the C++ tests run;
#   3. the Python suite with Python 3.14 against the installed module.
#
# The clone is mounted at its own path inside the root; build products go to
# build/py314 in it, pip's cache stays in the root.

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="${ORVEN_JOBS:-2}"
BUILD="$ROOT/build/py314"
VENV="$BUILD/venv"

START=$SECONDS
step() {
    printf '\n==> [py314 %4ds] %s\n' "$((SECONDS - START))" "$*"
}

# shellcheck source=scripts/chroot.sh
source "$ROOT/scripts/chroot.sh"

step "Debian unstable root with Python 3.14 and GCC 16"
root="$(bash "$ROOT/scripts/debian-root.sh" sid-amd64 amd64 sid \
    python3.14 python3.14-dev python3.14-venv g++-16 cmake ninja-build libgtest-dev ca-certificates)"
root_enter "$root" "$ROOT"
ROOT_ENV=(CMAKE_BUILD_PARALLEL_LEVEL="$JOBS" CXX=g++-16)
in_root() { root_run "$root" "$@"; }
in_root sh -c 'echo "compiler: $(g++-16 --version | head -n 1)"; echo "python:   $(python3.14 -VV)"'

step "python: Python 3.14 with NumPy 2.x in $VENV"
in_root python3.14 -m venv --clear "$VENV"
in_root "$VENV/bin/python" -m pip install --quiet "numpy>=2" "pytest>=7" "hypothesis>=6"

step "pip install .[test] with GCC 16 and -Werror, with the C++ tests and benchmarks"
in_root "$VENV/bin/python" -m pip install --quiet "$ROOT[test]" \
    -C build-dir="$BUILD/wheel" -C cmake.define.ORVEN_WERROR=ON \
    -C cmake.define.ORVEN_TESTS=ON -C cmake.define.ORVEN_BENCH=ON
if ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*g++-16$' "$BUILD/wheel/CMakeCache.txt"; then
    echo "error: pip's build did not use g++-16:" >&2
    grep '^CMAKE_CXX_COMPILER:' "$BUILD/wheel/CMakeCache.txt" >&2
    exit 1
fi
# The module the suite imports must be the one just installed, not the tree.
in_root "$VENV/bin/python" - "$VENV" <<'PY'
import os, sys
import numpy, orven
if not os.path.realpath(orven.__file__).startswith(os.path.realpath(sys.argv[1]) + os.sep):
    sys.exit(f"error: imported {orven.__file__}, not the one installed in {sys.argv[1]}")
print("orven from", orven.__file__, "with numpy", numpy.__version__, "on", sys.version.split()[0])
PY

step "C++: unit tests (GCC 16)"
in_root ctest --test-dir "$BUILD/wheel" --output-on-failure --no-tests=error -j "$JOBS"

step "python: pytest (Python 3.14)"
in_root sh -c 'cd "$1" && shift && exec "$@"' sh "$ROOT" \
    "$VENV/bin/python" -m pytest -p no:cacheprovider "${@:-tests}"

step "Python 3.14 and GCC 16 passed in $((SECONDS - START)) s"
