#!/usr/bin/env bash
# The Python test suite against a build of the module instrumented with
# AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   bash scripts/sanitize-test.sh VENV [pytest arguments...]
#
# VENV is a virtual environment with NumPy, pytest and hypothesis (and
# orven installed, for the stub package; scripts/test.sh passes its 3.11
# one).  Builds the module (core and bindings, both instrumented) into
# build/ci-asan with VENV's interpreter, then runs pytest with the built
# module first on the import path, after checking that it is the module
# imported and that it links the sanitizer runtime.  The interpreter itself
# is not instrumented, so the sanitizer runtime is preloaded, with libstdc++
# beside it so that its interceptors see the C++ allocations of the module.
# Any UndefinedBehaviorSanitizer finding or AddressSanitizer error ends the
# process that hit it, and so fails the run (a finding in a child
# interpreter fails the test that started it).

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

if [ "$#" -lt 1 ]; then
    echo "usage: $0 VENV [pytest arguments...]" >&2
    exit 2
fi
VENV="$1"
shift
JOBS="${ORVEN_JOBS:-2}"
BUILD=build/ci-asan
PYTHON="$VENV/bin/python"
if ! "$PYTHON" -c 'import numpy, pytest, hypothesis' 2>/dev/null; then
    echo "error: $VENV is not a virtual environment with NumPy, pytest and hypothesis" >&2
    exit 1
fi

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

if [[ "$(ldd "$module")" != *libasan.so* ]]; then
    echo "error: $module does not link the AddressSanitizer runtime" >&2
    exit 1
fi
# The instrumented module, not the one installed in VENV, is the one the
# suite imports.
LD_PRELOAD="$libasan:$libstdcxx" "$PYTHON" - "$ROOT/$module" <<'PY'
import os, sys
import numpy, orven
if os.path.realpath(orven.__file__) != os.path.realpath(sys.argv[1]):
    sys.exit(f"error: imported {orven.__file__}, not the instrumented {sys.argv[1]}")
print("orven from", orven.__file__, "with numpy", numpy.__version__)
PY
echo "==> pytest under AddressSanitizer + UndefinedBehaviorSanitizer"
LD_PRELOAD="$libasan:$libstdcxx" exec "$PYTHON" -m pytest -p no:cacheprovider "${@:-tests}"
