# Sourced by the test scripts: installing Debian packages as root, or
# through sudo, with the package lists refreshed once per script run.

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "error: need root (or sudo) to run: $*" >&2
        return 1
    fi
}

apt_updated=0
apt_install() {
    if [ "$apt_updated" -eq 0 ]; then
        as_root apt-get update
        apt_updated=1
    fi
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y --no-install-recommends "$@"
}
