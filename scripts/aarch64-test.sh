#!/usr/bin/env bash
# Everything on AArch64, under emulation (run as root):
#
#   bash scripts/aarch64-test.sh [pytest arguments...]
#
#   1. binfmt_misc mounted and qemu-aarch64-static registered for AArch64
#      ELF files (scripts/binfmt.sh), so that an arm64 Debian root runs under
#      chroot; where the kernel refuses binfmt_misc, the Python part is
#      skipped with the reason and the rest still runs;
#   2. that root, made once and cached (scripts/debian-root.sh): Debian 12's
#      python3, python3-dev, python3-numpy (1.24), python3-pytest and
#      python3-hypothesis for arm64;
#   3. the core, its tests, the benchmarks and the Python module
#      cross-compiled on the host with -Werror, the module against the
#      root's headers (compiling under emulation is about ten times slower),
#      and the C++ tests run under qemu-user (scripts/cross-test.sh);
#   4. the whole Python suite, run by the root's interpreter against that
#      module (the whole-call differential at an eighth of its size).

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
export DEBIAN_FRONTEND=noninteractive
BUILD="$ROOT/build/cross-aarch64"

START=$SECONDS
step() {
    printf '\n==> [aarch64 %4ds] %s\n' "$((SECONDS - START))" "$*"
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
skipped=
binfmt_enable aarch64 2>"$BUILD/binfmt.txt" || status=$?
case "$status" in
    0) ;;
    1) skipped="$(cat "$BUILD/binfmt.txt")" ;;
    *)
        cat "$BUILD/binfmt.txt" >&2
        exit 1
        ;;
esac

module_arguments=()
if [ -z "$skipped" ]; then
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
print("python:", sys.version.split()[0], "on", platform.machine(), "with numpy", numpy.__version__, "and pytest", pytest.__version__)'
    # The toolchain's own C library headers come first; the root's include
    # tree is searched last, for what only it has (Python's per-architecture
    # pyconfig.h, which Debian keeps under aarch64-linux-gnu/).
    module_arguments=(-DORVEN_BINDINGS=ON -DPython_INCLUDE_DIR="$root$include"
        -DPython_SOABI="$soabi" -DCMAKE_CXX_FLAGS="-idirafter $root/usr/include")
fi

step "C++ for AArch64 (scripts/cross-test.sh)${module_arguments:+, with the Python module}"
bash "$ROOT/scripts/cross-test.sh" aarch64 "${module_arguments[@]}"

if [ -n "$skipped" ]; then
    echo "SKIPPED: the Python module on AArch64 is not tested here: $skipped"
    exit 0
fi

step "python: pytest on AArch64 under emulation"
module="$BUILD/orven/bindings/orven.$soabi.so"
if [ ! -f "$module" ]; then
    echo "error: $module was not built" >&2
    exit 1
fi
# The stub package ships beside the module; the tests that compare the two
# find it here.
ROOT_ENV=(PYTHONPATH="$(dirname "$module"):$ROOT/frames:$ROOT/stubs")
in_root python3 - "$module" <<'PY'
import os, platform, sys
import orven
if os.path.realpath(orven.__file__) != os.path.realpath(sys.argv[1]):
    sys.exit(f"error: imported {orven.__file__}, not {sys.argv[1]}")
if platform.machine() != "aarch64":
    sys.exit(f"error: the interpreter runs on {platform.machine()}, not aarch64")
print("orven from", orven.__file__)
PY
# The whole-call differential at scale runs at an eighth of its size (its
# minimum, 8 calls; about 90 s here): its reference is plain Python over
# millions of values in three interpreters, which emulation slows tenfold.
ROOT_ENV+=(ORVEN_DIFFERENTIAL_SCALE="${ORVEN_DIFFERENTIAL_SCALE:-0.125}")
in_root sh -c 'cd "$1" && shift && exec "$@"' sh "$ROOT" \
    python3 -m pytest -p no:cacheprovider --durations=10 "${@:-tests}"

step "AArch64 passed in $((SECONDS - START)) s"
