#!/usr/bin/env bash
# A Debian root made by debootstrap, with the packages asked for, or the one
# made by an earlier run; prints its path on the last line of standard
# output, and what it does on standard error (run as root):
#
#   bash scripts/debian-root.sh NAME ARCH SUITE PACKAGE...
#   bash scripts/debian-root.sh sid-amd64 amd64 sid python3.14 g++-16
#
# Roots live outside the clone, in ORVEN_ROOT_CACHE (default
# ~/.cache/orven/roots), one directory per NAME, and are reused while they
# were made for the same architecture, suite and packages: the stamp file
# .orven-root inside records them, and is written last.  A root is built in
# a temporary directory beside its final place and renamed there only once
# complete, so a run interrupted half-way leaves nothing a later run would
# take for a root (the next run removes the leftovers).  A root for another
# processor is made in two stages: debootstrap --foreign on the host, then
# the second stage inside it under qemu-user through binfmt_misc, which the
# caller must have enabled (scripts/binfmt.sh).  apt in the root ignores the
# index's validity date: an unstable mirror's index can be past it.

set -euo pipefail
shopt -s nullglob

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ "$#" -lt 3 ]; then
    echo "usage: $0 NAME ARCH SUITE [PACKAGE...]" >&2
    exit 2
fi
NAME="$1" ARCH="$2" SUITE="$3"
shift 3
PACKAGES=("$@")
CACHE="${ORVEN_ROOT_CACHE:-$HOME/.cache/orven/roots}"
TARGET="$CACHE/$NAME"
export DEBIAN_FRONTEND=noninteractive

# shellcheck source=scripts/apt.sh
source "$ROOT/scripts/apt.sh"
# shellcheck source=scripts/chroot.sh
source "$ROOT/scripts/chroot.sh"

# What the root is made of; a root whose stamp says anything else is made anew.
wanted="$(
    echo "debian-root 1"
    echo "arch $ARCH"
    echo "suite $SUITE"
    printf 'package %s\n' "${PACKAGES[@]}" | sort -u
)"

mkdir -p "$CACHE"
# One run at a time makes or checks a given root.
exec {lock}>"$CACHE/$NAME.lock"
flock "$lock"

if [ -f "$TARGET/.orven-root" ] && [ "$(cat "$TARGET/.orven-root")" = "$wanted" ]; then
    echo "root $NAME: reusing $TARGET" >&2
    printf '%s\n' "$TARGET"
    exit 0
fi

# Never delete through a mount: a bind-mounted /dev or clone would go with
# it.  (What an interrupted run left mounted is unmounted first.)
remove_root() {
    [ ! -d "$1" ] || root_leave "$1" || true
    if ! root_is_unmounted "$1"; then
        echo "error: not removing $1, something is still mounted under it" >&2
        return 1
    fi
    rm -rf --one-file-system "$1"
}

for leftover in "$CACHE/.$NAME.partial."*; do
    echo "root $NAME: removing $leftover, left by an interrupted run" >&2
    remove_root "$leftover"
done

command -v debootstrap >/dev/null 2>&1 || apt_install debootstrap

# The mirror the host's own apt uses; debootstrap's default where none is found.
mirror="$(
    {
        sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null
        sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\).*/\2/p' \
            /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null
    } | grep -E '/debian/?$' | head -n 1 || true
)"

partial="$(mktemp -d "$CACHE/.$NAME.partial.XXXXXX")"
chmod 755 "$partial"  # a root directory, readable by apt's own user
at_exit "[ ! -e '$partial' ] || remove_root '$partial'; rm -f '$partial.log' '$partial.lock'"
started=$SECONDS
echo "root $NAME: debootstrap $SUITE for $ARCH into $partial${mirror:+ from $mirror}" >&2

host_arch="$(dpkg --print-architecture)"
if [ "$ARCH" = "$host_arch" ]; then
    debootstrap --variant=minbase --arch="$ARCH" "$SUITE" "$partial" ${mirror:+"$mirror"} \
        >"$partial.log" 2>&1 || { tail -n 30 "$partial.log" >&2; exit 1; }
else
    debootstrap --foreign --variant=minbase --arch="$ARCH" "$SUITE" "$partial" ${mirror:+"$mirror"} \
        >"$partial.log" 2>&1 || { tail -n 30 "$partial.log" >&2; exit 1; }
    echo "root $NAME: second stage under emulation ($((SECONDS - started)) s so far)" >&2
    chroot "$partial" /debootstrap/debootstrap --second-stage \
        >>"$partial.log" 2>&1 || { tail -n 30 "$partial.log" >&2; exit 1; }
fi

cat >"$partial/etc/apt/apt.conf.d/90orven" <<'EOF'
Acquire::Check-Valid-Until "false";
APT::Install-Recommends "false";
APT::Install-Suggests "false";
EOF

if [ "${#PACKAGES[@]}" -ne 0 ]; then
    echo "root $NAME: installing ${PACKAGES[*]} ($((SECONDS - started)) s so far)" >&2
    root_enter "$partial"
    root_run "$partial" apt-get update -q >/dev/null
    root_run "$partial" apt-get install -y -q "${PACKAGES[@]}" >"$partial.log" 2>&1 ||
        { tail -n 30 "$partial.log" >&2; exit 1; }
    root_run "$partial" apt-get clean
    root_leave "$partial"
fi

printf '%s\n' "$wanted" >"$partial/.orven-root"
if [ -e "$TARGET" ]; then
    echo "root $NAME: replacing $TARGET, made for other packages" >&2
    remove_root "$TARGET"
fi
mv "$partial" "$TARGET"
echo "root $NAME: made in $((SECONDS - started)) s" >&2
printf '%s\n' "$TARGET"
