# Sourced by the scripts that run another processor's programs as if they
# were the host's (a foreign Debian root under chroot): the kernel hands ELF
# files of that processor to qemu-user through binfmt_misc.
#
#   binfmt_enable aarch64
#
# mounts binfmt_misc if needed and registers qemu-aarch64-static for AArch64
# ELF files, with the F flag (the kernel opens the emulator once, now, so it
# need not exist inside the root).  An entry already registered for these
# files is kept.  Returns 1 with the reason on standard error where the
# kernel refuses binfmt_misc (a container without the privilege, say), so the
# caller can skip, and 2 with a message starting "error:" on anything else.
# Needs apt.sh sourced first.

BINFMT_DIR=/proc/sys/fs/binfmt_misc

# The ELF header of a 64-bit little-endian AArch64 executable or shared
# object, and which of its bits to compare (as Debian's qemu-user-static).
_binfmt_aarch64_magic='\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
_binfmt_aarch64_mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# The enabled entry whose magic matches, if any (the kernel lists it in hex).
_binfmt_entry_for() {
    local magic_hex="$1" entry
    for entry in "$BINFMT_DIR"/*; do
        case "$(basename "$entry")" in register | status) continue ;; esac
        if grep -qx 'enabled' "$entry" && grep -qx "magic $magic_hex" "$entry"; then
            printf '%s\n' "$entry"
            return 0
        fi
    done
    return 1
}

binfmt_enable() {
    local arch="$1" qemu entry magic_hex
    case "$arch" in
        aarch64) ;;
        *)
            echo "error: binfmt_enable: no ELF magic known for $arch" >&2
            return 2
            ;;
    esac
    magic_hex="$(printf '%b' "$_binfmt_aarch64_magic" | od -An -tx1 -v | tr -d ' \n')"

    if [ ! -e "$BINFMT_DIR/register" ]; then
        if ! mount -t binfmt_misc binfmt_misc "$BINFMT_DIR" 2>/dev/null ||
            [ ! -e "$BINFMT_DIR/register" ]; then
            echo "the kernel refuses binfmt_misc (mount -t binfmt_misc failed)" >&2
            return 1
        fi
    fi
    if [ "$(cat "$BINFMT_DIR/status" 2>/dev/null)" != enabled ]; then
        echo "binfmt_misc is disabled in this kernel ($BINFMT_DIR/status)" >&2
        return 1
    fi

    if entry="$(_binfmt_entry_for "$magic_hex")"; then
        if ! grep -q '^flags:.*F' "$entry"; then
            echo "error: $entry is registered without the F flag; its emulator" \
                "$(sed -n 's/^interpreter //p' "$entry") would have to exist inside the root" >&2
            return 2
        fi
        echo "binfmt: $arch ELF files run by $(sed -n 's/^interpreter //p' "$entry") ($(basename "$entry"))"
        return 0
    fi

    qemu="$(command -v "qemu-$arch-static" || true)"
    if [ -z "$qemu" ]; then
        apt_install qemu-user-static || return 2
        qemu="$(command -v "qemu-$arch-static" || true)"
    fi
    if [ -z "$qemu" ]; then
        echo "error: no qemu-$arch-static after installing qemu-user-static" >&2
        return 2
    fi
    # A disabled entry of the same name blocks registering a new one.
    if [ -e "$BINFMT_DIR/qemu-$arch" ]; then
        echo -1 >"$BINFMT_DIR/qemu-$arch" || return 2
    fi
    if ! printf ':qemu-%s:M::%s:%s:%s:F\n' "$arch" "$_binfmt_aarch64_magic" \
        "$_binfmt_aarch64_mask" "$qemu" >"$BINFMT_DIR/register" 2>/dev/null; then
        echo "the kernel refuses to register $qemu with binfmt_misc" >&2
        return 1
    fi
    echo "binfmt: $arch ELF files run by $qemu (registered now)"
}
