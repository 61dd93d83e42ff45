# Sourced by the scripts that run commands in a Debian root (made by
# scripts/debian-root.sh): the kernel's file systems and host directories
# mounted inside, every mount undone when the script exits, however it exits
# (an error under `set -e`, a signal, or the end).
#
#   root_enter ROOT [HOST_DIR...]   wait until no other run uses ROOT, then
#                                   mount /proc, /sys, /dev and each HOST_DIR
#                                   at the same path inside ROOT
#   root_run ROOT COMMAND...        run COMMAND in ROOT with a clean environment
#                                   (the array ROOT_ENV holds NAME=VALUE words to add)
#   root_leave ROOT                 undo root_enter (done at exit anyway)
#   root_is_unmounted ROOT          true when nothing is mounted under ROOT
#   at_exit COMMAND                 run COMMAND at exit, after every root is left
#
# This file owns the script's EXIT, INT, TERM and HUP traps.  Host
# directories keep their path inside the root, so the paths that CMake and pip
# record are the same inside and out.

# Mount points under ROOT, deepest first, so that each is unmounted before
# the one it sits on.
_mounts_under() {
    local root
    root="$(realpath -m "$1")"
    awk -v root="$root" '$2 == root || index($2, root "/") == 1 { print $2 }' /proc/self/mounts |
        sort -r
}

root_is_unmounted() {
    [ -z "$(_mounts_under "$1")" ]
}

root_leave() {
    local root="$1" target
    # What root_enter mounted, and anything a command mounted inside.
    while IFS= read -r target; do
        [ -n "$target" ] || continue
        umount "$target" 2>/dev/null || umount -l "$target" 2>/dev/null || true
    done < <(_mounts_under "$root")
    if ! root_is_unmounted "$root"; then
        echo "error: still mounted under $root:" >&2
        _mounts_under "$root" >&2
        return 1
    fi
}

_roots_entered=()
_exit_commands=()
_on_exit() {
    local status=$? root command
    trap - EXIT
    for root in "${_roots_entered[@]}"; do
        root_leave "$root" || status=1
    done
    _roots_entered=()
    for command in "${_exit_commands[@]}"; do
        eval "$command" || status=1
    done
    exit "$status"
}
trap _on_exit EXIT
# A signal becomes an exit, so the mounts are undone on that path too.
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

at_exit() {
    _exit_commands+=("$1")
}

_host_ca_bundle=/etc/ssl/certs/ca-certificates.crt

_root_mount() {
    local target="$1"
    shift
    mkdir -p "$target"
    mount "$@" "$target"
}

root_enter() {
    local root="$1" dir lock
    shift
    # One run at a time in a root: another run's exit would unmount what
    # this one mounted.  (The lock goes with the process.)
    exec {lock}>"$root.lock"
    if ! flock -n "$lock"; then
        echo "waiting for another run to leave $root" >&2
        flock "$lock"
    fi
    _roots_entered+=("$root")
    _root_mount "$root/proc" -t proc proc
    _root_mount "$root/sys" -t sysfs -o ro sysfs
    # /dev with what is mounted below it: /dev/pts, and /dev/shm, which
    # multiprocessing needs.  Slave, so that unmounting here leaves the host's.
    _root_mount "$root/dev" --rbind /dev
    mount --make-rslave "$root/dev"
    for dir in "$@"; do
        _root_mount "$root$dir" --bind "$dir"
    done
    # Name resolution, and the certificate authorities the host trusts (on
    # a network whose proxy signs with its own, pip needs them).
    cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    if [ -f "$_host_ca_bundle" ]; then
        mkdir -p "$root/etc/ssl/certs"
        cp -L "$_host_ca_bundle" "$root$_host_ca_bundle"
    fi
}

ROOT_ENV=()
root_run() {
    local root="$1" trust=()
    shift
    if [ -f "$root$_host_ca_bundle" ]; then
        trust=(SSL_CERT_FILE="$_host_ca_bundle" PIP_CERT="$_host_ca_bundle")
    fi
    chroot "$root" /usr/bin/env -i "${trust[@]}" \
        HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        DEBIAN_FRONTEND=noninteractive PIP_DISABLE_PIP_VERSION_CHECK=1 \
        "${ROOT_ENV[@]}" "$@"
}
