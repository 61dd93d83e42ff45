#!/usr/bin/env bash
# The Python module on AArch64: cross-compiled on the host against the
# Python headers of an arm64 Debian root, and the Python suite run in that
# root under emulation with Debian's arm64 Python and NumPy (run as root):
#
#   bash scripts/aarch64-python-test.sh [pytest arguments...]
#
#   1. binfmt_misc mounted and qemu-aarch64-static registered for AArch64
#      ELF files (scripts/binfmt.sh); where the kernel refuses binfmt_misc,
#      the step is skipped with the reason, and passes;
#   2. the root, made once and cached (scripts/debian-root.sh): Debian 12's
#      python3, python3-dev, python3-numpy (1.24), python3-pytest and
#      python3-hypothesis for arm64;
#   3. the module built on the host with Debian's AArch64 cross compiler and
#      -Werror, against the root's headers (about ten times faster than
#      compiling under emulation);
#   4. the whole Python suite, run by the root's interpreter.
#
# Build products go to build/aarch64-python.

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="${ORVEN_JOBS:-2}"
export CMAKE_BUILD_PARALLEL_LEVEL="$JOBS"
export DEBIAN_FRONTEND=noninteractive
BUILD="$ROOT/build/aarch64-python"
TRIPLE=aarch64-linux-gnu

START=$SECONDS
step() {
    printf '\n==> [aarch64 python %4ds] %s\n' "$((SECONDS - START))" "$*"
}

# shellcheck source=scripts/apt.sh
source "$ROOT/scripts/apt.sh"
# shellcheck source=scripts/binfmt.sh
source "$ROOT/scripts/binfmt.sh"
# shellcheck source=scripts/chroot.sh
source "$ROOT/scripts/chroot.sh"

step "binfmt_misc: AArch64 programs run under qemu-user"
mkdir -p "$BUILD"
status=0
binfmt_enable aarch64 2>"$BUILD/binfmt.txt" || status=$?
case "$status" in
    0) ;;
    1)
        echo "SKIPPED: the Python module on AArch64 is not tested here: $(cat "$BUILD/binfmt.txt")"
        exit 0
        ;;
    *)
        cat "$BUILD/binfmt.txt" >&2
        exit 1
        ;;
esac

step "Debian 12 arm64 root with Python, NumPy, pytest and hypothesis"
root="$(bash "$ROOT/scripts/debian-root.sh" bookworm-arm64 arm64 bookworm \
    python3 python3-dev python3-numpy python3-pytest python3-hypothesis)"
root_enter "$root" "$ROOT"
in_root() { root_run "$root" "$@"; }

# What the target interpreter expects of an extension: its headers and suffix.
target="$(in_root python3 -c \
    'import sysconfig; print(sysconfig.get_paths()["include"], sysconfig.get_config_var("SOABI"))')"
read -r include soabi <<<"$target"
if [ ! -f "$root$include/Python.h" ] || [[ "$soabi" != *aarch64* ]]; then
    echo "error: the root's interpreter gives headers '$include' and suffix '$soabi'" >&2
    exit 1
fi
in_root python3 -c 'import platform, sys, numpy, pytest
print("python:  ", sys.version.split()[0], "on", platform.machine(), "with numpy", numpy.__version__, "and pytest", pytest.__version__)'

step "the module cross-compiled for AArch64 with -Werror"
command -v "$TRIPLE-g++" >/dev/null 2>&1 || apt_install "g++-$TRIPLE"
command -v ninja >/dev/null 2>&1 || apt_install ninja-build
echo "compiler: $("$TRIPLE-g++" --version | head -n 1)"
# The toolchain's own C library headers come first; the root's include tree
# is searched last, for what only it has (Python's per-architecture
# pyconfig.h, which Debian keeps under aarch64-linux-gnu/).
cmake -S . -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchains/$TRIPLE.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DORVEN_WERROR=ON \
    -DORVEN_TESTS=OFF -DORVEN_BINDINGS=ON -DORVEN_BENCH=OFF \
    -DPython_INCLUDE_DIR="$root$include" -DPython_SOABI="$soabi" \
    -DCMAKE_CXX_FLAGS="-idirafter $root/usr/include" >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target orven
module="$BUILD/bindings/orven.$soabi.so"
if [ ! -f "$module" ]; then
    echo "error: $module was not built" >&2
    exit 1
fi

step "python: pytest on AArch64 under emulation"
# The stub package ships beside the module; the tests that compare the two
# find it here.
ROOT_ENV=(PYTHONPATH="$(dirname "$module"):$ROOT/stubs")
in_root python3 - "$module" <<'PY'
import os, platform, sys
import orven
if os.path.realpath(orven.__file__) != os.path.realpath(sys.argv[1]):
    sys.exit(f"error: imported {orven.__file__}, not {sys.argv[1]}")
if platform.machine() != "aarch64":
    sys.exit(f"error: the interpreter runs on {platform.machine()}, not aarch64")
print("orven from", orven.__file__)
PY
in_root sh -c 'cd "$1" && shift && exec "$@"' sh "$ROOT" \
    python3 -m pytest -p no:cacheprovider "${@:-tests}"

step "the Python module on AArch64 passed in $((SECONDS - START)) s"
