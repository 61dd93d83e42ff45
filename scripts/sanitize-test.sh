#!/usr/bin/env bash
# The Python test suite against a build of the module instrumented with
# AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   bash scripts/sanitize-test.sh [pytest arguments...]
#
# Builds the module (core and bindings, both instrumented) into build/ci-asan
# with the interpreter of a virtual environment that already has NumPy and
# pytest (ORVEN_SANITIZE_VENV, default build/ci-venv-3.11, the one
# scripts/test.sh makes; created here with NumPy 1.26 if it is missing), then
# runs pytest with the built module first on the import path.  The
# interpreter itself is not instrumented, so the sanitizer runtime is
# preloaded, with libstdc++ beside it so that its interceptors see the C++
# allocations of the module.  Any UndefinedBehaviorSanitizer finding or
# AddressSanitizer error ends the process that hit it, and so fails the run
# (a finding in a child interpreter fails the test that started it).

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

JOBS="${ORVEN_JOBS:-2}"
VENV="${ORVEN_SANITIZE_VENV:-build/ci-venv-3.11}"
BUILD=build/ci-asan
export PIP_DISABLE_PIP_VERSION_CHECK=1

if [ ! -x "$VENV/bin/python" ]; then
    python="${ORVEN_SANITIZE_PYTHON:-${PYENV_ROOT:-$HOME/.pyenv}/versions/3.11.7/bin/python3}"
    echo "==> no virtual environment at $VENV: making one with $python"
    "$python" -m venv --clear "$VENV"
    "$VENV/bin/python" -m pip install --quiet "numpy==1.26.*" "pytest>=7" "hypothesis>=6"
fi
PYTHON="$VENV/bin/python"
# The environment made by an older test command may lack the fuzzer.
"$PYTHON" -c 'import hypothesis' 2>/dev/null ||
    "$PYTHON" -m pip install --quiet "hypothesis>=6"

echo "==> building the instrumented module into $BUILD with $("$PYTHON" -V)"
cmake -S . -B "$BUILD" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEN_WERROR=ON -DORVEN_SANITIZE=ON \
    -DORVEN_TESTS=OFF -DORVEN_BINDINGS=ON -DORVEN_BENCH=OFF \
    -DPython_EXECUTABLE="$PYTHON"
cmake --build "$BUILD" -j "$JOBS" --target orven

module="$(find "$BUILD/bindings" -maxdepth 1 -name 'orven*.so' | head -n 1)"
if [ -z "$module" ]; then
    echo "error: no module built under $BUILD/bindings" >&2
    exit 1
fi

libasan="$(g++ -print-file-name=libasan.so)"
libstdcxx="$(g++ -print-file-name=libstdc++.so)"
for library in "$libasan" "$libstdcxx"; do
    if [ ! -e "$library" ]; then
        echo "error: $library not found" >&2
        exit 1
    fi
done

# The interpreter's own allocations are never freed at exit, so leak
# detection would only report CPython.  Quarantine is kept small so that the
# memory-growth checks measure the module, not freed blocks held back.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:quarantine_size_mb=16${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# Tests that cannot run meaningfully under the sanitizer runtime (address
# space limits, timing) look for this.
export ORVEN_UNDER_SANITIZER=1
export PYTHONPATH="$ROOT/$(dirname "$module")${PYTHONPATH:+:$PYTHONPATH}"

LD_PRELOAD="$libasan:$libstdcxx" "$PYTHON" -c \
    'import orven, numpy; print("orven from", orven.__file__, "with numpy", numpy.__version__)'
echo "==> pytest under AddressSanitizer + UndefinedBehaviorSanitizer"
LD_PRELOAD="$libasan:$libstdcxx" exec "$PYTHON" -m pytest -p no:cacheprovider "${@:-tests}"
