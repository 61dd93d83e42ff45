#!/usr/bin/env bash
# GoogleTest built from the sources that Debian's googletest package installs
# (/usr/src/googletest) with a given CMake toolchain, for builds that cannot
# use the system's library (another processor, another C++ library).
# Prints the install prefix on the last line of standard output:
#
#   bash scripts/googletest.sh NAME TOOLCHAIN_FILE COMPILER
#
# Builds are kept outside the clone, in ORVEN_TOOL_CACHE (default
# ~/.cache/orven)/googletest, one per NAME, GoogleTest version, toolchain
# file and COMPILER version, and reused; each is built in a temporary
# directory and renamed into place once installed, so an interrupted build
# is never taken for a finished one.

set -euo pipefail

if [ "$#" -ne 3 ]; then
    echo "usage: $0 NAME TOOLCHAIN_FILE COMPILER" >&2
    exit 2
fi
NAME="$1" TOOLCHAIN="$(realpath "$2")" COMPILER="$3"
JOBS="${ORVEN_JOBS:-2}"
SOURCE=/usr/src/googletest
CACHE="${ORVEN_TOOL_CACHE:-$HOME/.cache/orven}/googletest"

version="$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || echo unknown)"
key="$(
    {
        echo "$version"
        cat "$TOOLCHAIN"
        "$COMPILER" --version | head -n 1
    } | sha256sum | cut -c1-16
)"
PREFIX="$CACHE/$NAME-$key"

mkdir -p "$CACHE"
exec {lock}>"$CACHE/$NAME.lock"
flock "$lock"

if [ ! -f "$PREFIX/lib/cmake/GTest/GTestConfig.cmake" ]; then
    rm -rf "$CACHE/.$NAME-"*
    work="$(mktemp -d "$CACHE/.$NAME-$key.XXXXXX")"
    trap 'rm -rf "$work"' EXIT
    echo "GoogleTest $version for $NAME: building into $PREFIX" >&2
    cmake -S "$SOURCE" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$PREFIX" >&2
    cmake --build "$work/build" -j "$JOBS" >&2
    # Installed under its final name through DESTDIR, then moved there.
    DESTDIR="$work/install" cmake --install "$work/build" >/dev/null
    rm -rf "$PREFIX"
    mv "$work/install$PREFIX" "$PREFIX"
else
    echo "GoogleTest $version for $NAME: reusing $PREFIX" >&2
fi
printf '%s\n' "$PREFIX"
