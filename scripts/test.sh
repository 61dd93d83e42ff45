#!/usr/bin/env bash
# The whole test suite, from scratch, on a Debian-like machine (run as root,
# or with sudo available for the one package it may need):
#
#   1. the C++ core, bindings and benchmarks built with -Werror, and the
#      core's unit tests run through CTest;
#   2. the pool and driver tests built again under ThreadSanitizer and run;
#   3. the core, its tests and the benchmarks cross-compiled for AArch64 and
#      the tests run under qemu-user (scripts/cross-test.sh aarch64);
#   4. the bindings checked against the free-threaded interpreter's ABI
#      (-DPy_GIL_DISABLED with the 3.13 headers, syntax only);
#   5. for Python 3.11 with NumPy 1.26 and Python 3.13 with NumPy 2.x: a
#      fresh virtual environment, `pip install .[test]`, the pytest suite,
#      and the quickstart example; for 3.13 the install is instead the
#      auditwheel-repaired wheel built from the sdist (scripts/wheel-check.sh)
#      with the typing and recipe extras, whose tests then run too;
#   6. the pytest suite again, on Python 3.11 with NumPy 1.26, against the
#      module built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (scripts/sanitize-test.sh).
#
# Exits non-zero at the first failure.  Build products go to build/ci-*.

set -euo pipefail
shopt -s nullglob

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

JOBS="${ORVEN_JOBS:-2}"
export CMAKE_BUILD_PARALLEL_LEVEL="$JOBS"
export DEBIAN_FRONTEND=noninteractive
export PIP_DISABLE_PIP_VERSION_CHECK=1
PYENV_VERSIONS="${PYENV_ROOT:-$HOME/.pyenv}/versions"

START=$SECONDS
step() {
    printf '\n==> [%4ds] %s\n' "$((SECONDS - START))" "$*"
}

# shellcheck source=scripts/apt.sh
source "$ROOT/scripts/apt.sh"

# The highest installed patch release of a Python minor version: pyenv's
# versions first, then what PATH offers.
find_python() {
    local minor="$1" candidate found=""
    while IFS= read -r candidate; do
        case "$candidate" in *t/bin/python3) continue ;; esac  # free-threaded builds
        if "$candidate" -c 'import sys' >/dev/null 2>&1; then
            found="$candidate"
        fi
    done < <(printf '%s\n' "$PYENV_VERSIONS"/"$minor".*/bin/python3 | sort -V)
    if [ -z "$found" ]; then
        for candidate in "python$minor" python3; do
            if command -v "$candidate" >/dev/null 2>&1 &&
                [ "$("$candidate" -c 'import sys; print("%d.%d" % sys.version_info[:2])')" = "$minor" ]; then
                found="$(command -v "$candidate")"
                break
            fi
        done
    fi
    if [ -z "$found" ]; then
        echo "error: no Python $minor interpreter found" >&2
        return 1
    fi
    printf '%s\n' "$found"
}

# ---------------------------------------------------------------- tools
step "checking build tools"
if ! dpkg -s libgtest-dev >/dev/null 2>&1; then
    apt_install libgtest-dev
fi
command -v cmake >/dev/null 2>&1 || apt_install cmake
command -v ninja >/dev/null 2>&1 || apt_install ninja-build
command -v g++ >/dev/null 2>&1 || apt_install g++

PY311="$(find_python 3.11)"
PY313="$(find_python 3.13)"
PY313_INCLUDE="$("$PY313" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"
echo "cmake:      $(cmake --version | head -n 1)"
echo "python3.11: $PY311"
echo "python3.13: $PY313 (headers $PY313_INCLUDE)"

# ------------------------------------------------- C++ core with -Werror
step "C++: configure and build with -Werror (core, tests, bindings, benchmarks)"
cmake -S . -B build/ci-werror -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DORVEN_WERROR=ON \
    -DORVEN_TESTS=ON -DORVEN_BINDINGS=ON -DORVEN_BENCH=ON \
    -DPython_EXECUTABLE="$PY311"
cmake --build build/ci-werror -j "$JOBS"

step "C++: unit tests"
ctest --test-dir build/ci-werror --output-on-failure

# ------------------------------------------------------ ThreadSanitizer
# The pool and the driver are where threads meet; their tests run again with
# every access checked.
step "C++: build the pool and driver tests under ThreadSanitizer"
tsan_targets=()
while IFS= read -r -d '' source; do
    tsan_targets+=("$(basename "$source" .cpp)")
done < <(find core/src/pool core/src/extractor -name '*_test.cpp' -print0 | sort -z)
if [ "${#tsan_targets[@]}" -eq 0 ]; then
    echo "error: no pool or driver tests found" >&2
    exit 1
fi
cmake -S . -B build/ci-tsan -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEN_WERROR=ON -DORVEN_TSAN=ON \
    -DORVEN_TESTS=ON -DORVEN_BINDINGS=OFF -DORVEN_BENCH=OFF
cmake --build build/ci-tsan -j "$JOBS" --target "${tsan_targets[@]}"

step "C++: pool and driver tests under ThreadSanitizer"
# ThreadSanitizer's shadow memory cannot cope with the address-space
# randomisation of some kernels; run without it where the kernel lets us.
norandom=()
if setarch "$(uname -m)" -R true >/dev/null 2>&1; then
    norandom=(setarch "$(uname -m)" -R)
fi
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
# CTest knows tests by suite, not by program: collect the suites of these
# programs and run exactly those.
suites=()
for target in "${tsan_targets[@]}"; do
    program="$(find build/ci-tsan -type f -name "$target" -perm -u+x | head -n 1)"
    while IFS= read -r line; do
        case "$line" in
            " "* | "" | "Running main()"*) ;;
            *) suites+=("${line%%.*}") ;;
        esac
    done < <("${norandom[@]}" "$program" --gtest_list_tests)
done
suite_pattern="$(printf '%s\n' "${suites[@]}" | sort -u | sed 's/[][\\.^$*+?(){}|]/\\&/g' | paste -sd '|')"
"${norandom[@]}" ctest --test-dir build/ci-tsan --output-on-failure --no-tests=error \
    -R "^(${suite_pattern})\\."

# ------------------------------------------- AArch64 under emulation
step "C++: core and tests cross-compiled for AArch64, run under qemu-user"
bash "$ROOT/scripts/cross-test.sh" aarch64

# ------------------------------------- free-threaded header check (3.13)
step "bindings: syntax check against the free-threaded ABI (-DPy_GIL_DISABLED)"
binding_sources=()
while IFS= read -r -d '' source; do
    binding_sources+=("$source")
done < <(find bindings/src -name '*.cpp' -print0 | sort -z)
if [ "${#binding_sources[@]}" -eq 0 ]; then
    echo "error: no binding sources found under bindings/src" >&2
    exit 1
fi
for source in "${binding_sources[@]}"; do
    echo "  $source"
    g++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -ffp-contract=off \
        -DPy_GIL_DISABLED -isystem "$PY313_INCLUDE" \
        -I bindings/src -I core/src "$source"
done

# ------------------------------------------------------- Python suites
# The 3.13 suite installs the wheel a user would get (built from the sdist,
# repaired by auditwheel) with the type checkers and recipe libraries, so the
# typing and recipe tests run there; the 3.11 suite installs from the tree.
python_suite() {
    local python="$1" numpy_requirement="$2" venv="$3" source="${4:-.}" extras="${5:-test}"
    step "python: $("$python" -V) with $numpy_requirement in $venv"
    "$python" -m venv --clear "$venv"
    "$venv/bin/python" -m pip install --quiet "$numpy_requirement" "pytest>=7"
    "$venv/bin/python" -m pip install --quiet "$source[$extras]"
    "$venv/bin/python" -c 'import numpy, orven; print("orven from", orven.__file__, "with numpy", numpy.__version__)'
    step "python: pytest ($("$python" -V))"
    (cd "$ROOT" && "$venv/bin/python" -m pytest -p no:cacheprovider tests)
    step "python: quickstart example ($("$python" -V))"
    "$venv/bin/python" examples/quickstart.py
}

python_suite "$PY311" "numpy==1.26.*" build/ci-venv-3.11
step "wheels: sdist, wheel from the sdist, auditwheel show and repair ($("$PY313" -V))"
repaired_wheel="$(bash scripts/wheel-check.sh "$PY313" build/ci-wheel-3.13 | tail -n 1)"
python_suite "$PY313" "numpy>=2" build/ci-venv-3.13 "$repaired_wheel" "test,typing,recipes"

# ------------------------------------ AddressSanitizer + UndefinedBehaviorSanitizer
# Reuses the 3.11 environment made above; any sanitizer finding fails it.
step "python: pytest against the module built with ASan + UBSan ($("$PY311" -V))"
ORVEN_SANITIZE_VENV=build/ci-venv-3.11 bash scripts/sanitize-test.sh tests

step "all tests passed in $((SECONDS - START)) s"
