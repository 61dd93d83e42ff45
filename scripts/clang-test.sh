#!/usr/bin/env bash
# A second compiler and C++ library: the core, its tests, the bindings and
# the benchmarks built with Debian's clang-16 and LLVM's libc++, with
# -Wall -Wextra -Werror, and the C++ tests run (run as root, or with sudo for
# the packages it may need):
#
#   bash scripts/clang-test.sh PYTHON
#
# PYTHON is the interpreter whose headers the bindings are built against; it
# must have NumPy.
# GoogleTest is built from the sources that Debian's googletest package
# installs (/usr/src/googletest), since the system's library is built for
# libstdc++; the build is kept outside the clone (scripts/googletest.sh).  The module is then imported and called once, so that a module
# that links but cannot load (a libc++ symbol missing at run time) fails
# here.  Build products go to build/clang.

set -euo pipefail

if [ "$#" -ne 1 ]; then
    echo "usage: $0 PYTHON" >&2
    exit 2
fi
PYTHON="$1"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="${ORVEN_JOBS:-2}"
export CMAKE_BUILD_PARALLEL_LEVEL="$JOBS"
export DEBIAN_FRONTEND=noninteractive
BUILD="$ROOT/build/clang"
TOOLCHAIN="$ROOT/cmake/toolchains/clang-libcxx.cmake"

START=$SECONDS
step() {
    printf '\n==> [clang %4ds] %s\n' "$((SECONDS - START))" "$*"
}

# shellcheck source=scripts/apt.sh
source "$ROOT/scripts/apt.sh"

step "checking clang-16 and libc++"
missing=()
command -v clang++-16 >/dev/null 2>&1 || missing+=(clang-16)
dpkg -s libc++-16-dev >/dev/null 2>&1 || missing+=(libc++-16-dev)
dpkg -s libc++abi-16-dev >/dev/null 2>&1 || missing+=(libc++abi-16-dev)
[ -d /usr/src/googletest ] || missing+=(googletest)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
if [ "${#missing[@]}" -ne 0 ]; then
    apt_install "${missing[@]}"
fi
echo "compiler: $(clang++-16 --version | head -n 1)"

step "GoogleTest with libc++ (scripts/googletest.sh)"
GTEST_PREFIX="$(bash "$ROOT/scripts/googletest.sh" clang-16-libcxx "$TOOLCHAIN" clang++-16)"

step "C++: core, tests, bindings and benchmarks with clang-16, libc++ and -Werror"
cmake -S . -B "$BUILD/orven" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release -DORVEN_WERROR=ON \
    -DORVEN_TESTS=ON -DORVEN_BINDINGS=ON -DORVEN_BENCH=ON \
    -DGTest_DIR="$GTEST_PREFIX/lib/cmake/GTest" -DPython_EXECUTABLE="$PYTHON" >/dev/null
cmake --build "$BUILD/orven" -j "$JOBS"

# Every object must have been compiled against libc++: a stray libstdc++
# symbol would mean a flag did not reach some target.
nm -C "$BUILD"/orven/core/*_test "$BUILD"/orven/bindings/orven*.so >"$BUILD/symbols.txt"
if grep -q 'std::__cxx11::' "$BUILD/symbols.txt" || ! grep -q 'std::__1::' "$BUILD/symbols.txt"; then
    echo "error: the clang build is not built against libc++ throughout" >&2
    exit 1
fi

step "C++: unit tests (clang-16, libc++)"
ctest --test-dir "$BUILD/orven" --output-on-failure --no-tests=error -j "$JOBS"

step "python: the libc++ module imported and called ($("$PYTHON" -V))"
module="$(find "$BUILD/orven/bindings" -maxdepth 1 -name 'orven*.so' | head -n 1)"
if [ -z "$module" ] || [[ "$(ldd "$module")" != *libc++.so* ]]; then
    echo "error: no module linked with libc++ under $BUILD/orven/bindings" >&2
    exit 1
fi
PYTHONPATH="$(dirname "$module")" "$PYTHON" - "$module" <<'PY'
import os, sys
import numpy as np
import orven
assert os.path.realpath(orven.__file__) == os.path.realpath(sys.argv[1]), orven.__file__
[record] = orven.extract_features([{"a": np.array([1.0, -2.0, 4.0, 0.5])}])
assert record["a"]["sum_values"] == 3.5 and record["a"]["median"] == 0.75, record
print("orven from", orven.__file__, "computes", record["a"]["sum_values"])
PY

step "clang-16 with libc++ passed in $((SECONDS - START)) s"
