#!/usr/bin/env bash
# The whole test suite, from scratch, on a Debian-like machine (run as root,
# or with sudo available for the packages it may need).  Steps, in the order
# that fails fastest (cheap checks of what breaks most often first):
#
#   1. the bindings checked against the free-threaded interpreter's ABI
#      (-DPy_GIL_DISABLED with the 3.13 headers, syntax only);
#   2. the C++ core, bindings and benchmarks built with -Werror, and the
#      core's unit tests run through CTest;
#   3. the same with clang-16 and libc++ (scripts/clang-test.sh);
#   4. the pool and driver tests built again under ThreadSanitizer and run;
#   5. for Python 3.11 with NumPy 1.26 and Python 3.13 with NumPy 2.x: a
#      fresh virtual environment, `pip install .[test]`, the pytest suite,
#      and the quickstart example; for 3.13 the install is instead the
#      auditwheel-repaired wheel built from the sdist (scripts/wheel-check.sh)
#      with the typing and recipe extras, whose tests then run too and must
#      not be skipped (ORVEN_REQUIRE_EXTRAS=1);
#   6. Python 3.14 and GCC 16 in a Debian unstable root: the module, the C++
#      tests and the Python suite (scripts/py314-test.sh);
#   7. the pytest suite again, on Python 3.11 with NumPy 1.26, against the
#      module built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (scripts/sanitize-test.sh);
#   8. everything on AArch64 (scripts/aarch64-test.sh): the core, its tests,
#      the benchmarks and the Python module cross-compiled, the C++ tests run
#      under qemu-user (scripts/cross-test.sh), and the Python suite run in
#      an arm64 Debian root under emulation.  It is the slowest step and
#      needs nothing the others build, so it runs in the background from the
#      start, its output kept in build/ci-logs/aarch64.log and shown when it
#      ends; its failure fails the run at the next step boundary.
#
# Exits non-zero at the first failure.  Build products go to build/, the
# Debian roots to ~/.cache/orven/roots (made once, then reused).

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
aarch64_pid=
step() {
    check_background
    printf '\n==> [%4ds] %s\n' "$((SECONDS - START))" "$*"
}
check_background() { :; }  # until the background run starts

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
# Everything the steps install, in one go.
step "checking build tools"
packages=()
for package in libgtest-dev googletest cmake ninja-build g++ \
    clang-16 libc++-16-dev libc++abi-16-dev \
    g++-aarch64-linux-gnu qemu-user-static debootstrap; do
    case "$package" in
        cmake | ninja-build | g++)
            command -v "${package%-build}" >/dev/null 2>&1 || packages+=("$package") ;;
        *) dpkg -s "$package" >/dev/null 2>&1 || packages+=("$package") ;;
    esac
done
if [ "${#packages[@]}" -ne 0 ]; then
    apt_install "${packages[@]}"
fi

PY311="$(find_python 3.11)"
PY313="$(find_python 3.13)"
PY313_INCLUDE="$("$PY313" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"
echo "cmake:      $(cmake --version | head -n 1)"
echo "python3.11: $PY311"
echo "python3.13: $PY313 (headers $PY313_INCLUDE)"

# ------------------------------------------- AArch64, in the background
# Started first: it spends most of its time emulated.  Its
# own process group, so that a failure elsewhere ends all of it (and its
# exit trap unmounts its root).
LOGS=build/ci-logs
mkdir -p "$LOGS"
AARCH64_LOG="$LOGS/aarch64.log"
AARCH64_STATUS="$LOGS/aarch64.status"
rm -f "$AARCH64_STATUS"
step "AArch64: started in the background (log: $AARCH64_LOG)"
setsid bash -c 'bash "$1" >"$2" 2>&1 </dev/null; echo "$?" >"$3"' \
    aarch64-test "$ROOT/scripts/aarch64-test.sh" "$AARCH64_LOG" "$AARCH64_STATUS" &
aarch64_pid=$!
stop_background() {
    if [ -n "$aarch64_pid" ] && [ ! -f "$AARCH64_STATUS" ]; then
        echo "stopping the AArch64 run (process group $aarch64_pid)" >&2
        kill -TERM -- "-$aarch64_pid" 2>/dev/null || true
        wait "$aarch64_pid" 2>/dev/null || true
        # Its exit trap unmounts its root: give it the time to.
        local waited=0
        while kill -0 -- "-$aarch64_pid" 2>/dev/null && [ "$waited" -lt 300 ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
    fi
}
trap stop_background EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Called between steps and at the end: a failure of the background run ends
# the whole run as soon as it is known.
check_background() {
    local status
    [ -n "$aarch64_pid" ] && [ -f "$AARCH64_STATUS" ] || return 0
    wait "$aarch64_pid" || true
    aarch64_pid=
    status="$(cat "$AARCH64_STATUS")"
    printf '\n==> [%4ds] AArch64 (background run) ended with status %s:\n' \
        "$((SECONDS - START))" "$status"
    cat "$AARCH64_LOG"
    if [ "$status" != 0 ]; then
        echo "error: the AArch64 run failed (log: $AARCH64_LOG)" >&2
        exit 1
    fi
}

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

# ------------------------------------------------- C++ core with -Werror
step "C++: configure and build with -Werror (core, tests, bindings, benchmarks)"
cmake -S . -B build/ci-werror -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DORVEN_WERROR=ON \
    -DORVEN_TESTS=ON -DORVEN_BINDINGS=ON -DORVEN_BENCH=ON \
    -DPython_EXECUTABLE="$PY311"
cmake --build build/ci-werror -j "$JOBS"

step "C++: unit tests"
ctest --test-dir build/ci-werror --output-on-failure --no-tests=error

# --------------------------------------------------- Python environments
# Made early: the clang step loads its module with the 3.11 one.
make_venv() {
    local python="$1" numpy_requirement="$2" venv="$3"
    step "python: $("$python" -V) with $numpy_requirement in $venv"
    "$python" -m venv --clear "$venv"
    "$venv/bin/python" -m pip install --quiet "$numpy_requirement" "pytest>=7" "hypothesis>=6"
}
make_venv "$PY311" "numpy==1.26.*" build/ci-venv-3.11

# ------------------------------------------------------ clang and libc++
step "C++: clang-16 with libc++ (scripts/clang-test.sh)"
bash "$ROOT/scripts/clang-test.sh" build/ci-venv-3.11/bin/python

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
# programs and run exactly those.  Each listing is taken whole first, so
# that a program that fails to list its tests fails the run.
suites=()
for target in "${tsan_targets[@]}"; do
    program="$(find build/ci-tsan -type f -name "$target" -perm -u+x)"
    if [ -z "$program" ]; then
        echo "error: $target was not built under build/ci-tsan" >&2
        exit 1
    fi
    listing="$("${norandom[@]}" "$program" --gtest_list_tests)"
    while IFS= read -r line; do
        case "$line" in
            " "* | "" | "Running main()"*) ;;
            *) suites+=("${line%%.*}") ;;
        esac
    done <<<"$listing"
done
if [ "${#suites[@]}" -eq 0 ]; then
    echo "error: the ThreadSanitizer programs list no tests" >&2
    exit 1
fi
suite_pattern="$(printf '%s\n' "${suites[@]}" | sort -u | sed 's/[][\\.^$*+?(){}|]/\\&/g' | paste -sd '|')"
"${norandom[@]}" ctest --test-dir build/ci-tsan --output-on-failure --no-tests=error \
    -R "^(${suite_pattern})\\."

# ------------------------------------------------------- Python suites
# The 3.13 suite installs the wheel a user would get (built from the sdist,
# repaired by auditwheel) with the type checkers and recipe libraries, so the
# typing and recipe tests run there, and a missing library fails them
# instead of skipping them; the 3.11 suite installs from the tree.
python_suite() {
    local python="$1" venv="$2" source="${3:-.}" extras="${4:-test}" require_extras="${5:-}"
    "$venv/bin/python" -m pip install --quiet "$source[$extras]"
    "$venv/bin/python" -c 'import numpy, orven; print("orven from", orven.__file__, "with numpy", numpy.__version__)'
    step "python: pytest ($("$python" -V))"
    (cd "$ROOT" && env ${require_extras:+ORVEN_REQUIRE_EXTRAS=1} \
        "$venv/bin/python" -m pytest -p no:cacheprovider tests)
    step "python: quickstart example ($("$python" -V))"
    "$venv/bin/python" examples/quickstart.py
}

step "python: pip install .[test] ($("$PY311" -V))"
python_suite "$PY311" build/ci-venv-3.11
step "wheels: sdist, wheel from the sdist, auditwheel show and repair ($("$PY313" -V))"
repaired_wheel="$(bash scripts/wheel-check.sh "$PY313" build/ci-wheel-3.13 | tail -n 1)"
make_venv "$PY313" "numpy>=2" build/ci-venv-3.13
python_suite "$PY313" build/ci-venv-3.13 "$repaired_wheel" "test,typing,recipes" require

# ------------------------------------------- Python 3.14 and GCC 16
step "python: Python 3.14 and GCC 16 in a Debian unstable root (scripts/py314-test.sh)"
bash "$ROOT/scripts/py314-test.sh"

# ------------------------------------ AddressSanitizer + UndefinedBehaviorSanitizer
# Reuses the 3.11 environment made above; any sanitizer finding fails it.
step "python: pytest against the module built with ASan + UBSan ($("$PY311" -V))"
bash scripts/sanitize-test.sh build/ci-venv-3.11 tests

if [ -n "$aarch64_pid" ]; then
    step "AArch64: waiting for the background run"
    while [ ! -f "$AARCH64_STATUS" ]; do
        sleep 5
    done
    check_background
fi

step "all tests passed in $((SECONDS - START)) s"
