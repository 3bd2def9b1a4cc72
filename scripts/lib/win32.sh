# The 32-bit route: 32-bit Windows programs under Wine's i386 loader, which runs under qemu-i386.
# Sourced, not run.
#
# The kernel here runs no i386 Linux binary itself (32-bit emulation is disabled), so qemu-i386 is
# registered for i386 ELF files through binfmt_misc, but only inside a private user and mount
# namespace (binfmt_misc has one instance per user namespace from kernel 6.7 on): the machine's own
# binfmt settings stay untouched. 64-bit Wine (wine64) runs natively inside the namespace and
# starts its 32-bit loader for 32-bit programs; the kernel hands that loader to qemu. Everything
# that talks to one 32-bit prefix (wineboot, the wineserver, the programs) must run inside the
# same kind of namespace: a process outside would start the 32-bit loader natively and fail with
# "Exec format error".

VEMLO_QEMU_MIN_MAJOR=10                       # bookworm's 7.2 takes about a minute per process
VEMLO_QEMU_I386=/usr/bin/qemu-i386
VEMLO_WINE32_LOADER=/usr/lib/wine/wine        # the i386 loader that wine64 starts for 32-bit programs
VEMLO_BINFMT_NAME=vemlo-i386
VEMLO_WIN32_LIB="${BASH_SOURCE[0]}"

# vemlo_win32_kernel_ok: true on a kernel whose user namespaces have their own binfmt_misc;
# otherwise prints why not.
vemlo_win32_kernel_ok() {
    local release major minor
    release="$(uname -r)"
    major="${release%%.*}"; minor="${release#*.}"; minor="${minor%%[!0-9]*}"
    if [[ "$major" =~ ^[0-9]+$ && "$minor" =~ ^[0-9]+$ ]] && (( major > 6 || (major == 6 && minor >= 7) )); then
        return 0
    fi
    echo "kernel $release is older than 6.7, whose user namespaces have no binfmt_misc of their own"
    return 1
}

# vemlo_win32_inside: true inside a namespace where the route's registration is in place.
vemlo_win32_inside() {
    [[ -e "/proc/sys/fs/binfmt_misc/$VEMLO_BINFMT_NAME" ]]
}

# vemlo_win32_register: in a fresh user and mount namespace, mounts that namespace's own
# binfmt_misc and registers qemu-i386 for i386 executables. F opens the interpreter now, so it is
# found from any mount namespace and root below; P keeps argv[0] as the program gave it.
vemlo_win32_register() {
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
    echo ":$VEMLO_BINFMT_NAME:M::$magic:$mask:$VEMLO_QEMU_I386:FP" >/proc/sys/fs/binfmt_misc/register
}

# vemlo_win32_run COMMAND [ARGS...]: runs a Linux command inside the route, entering a namespace
# of its own unless already inside one; passes the exit code through. Everything the command
# starts (Wine's helper processes too) stays in that namespace.
vemlo_win32_run() {
    if vemlo_win32_inside; then
        "$@"
        return
    fi
    unshare --user --map-root-user --mount --fork -- \
        bash -c 'source "$1" && shift && vemlo_win32_register && exec "$@"' vemlo-win32 "$VEMLO_WIN32_LIB" "$@"
}

# vemlo_win32_exec PROGRAM [ARGS...]: runs a Windows program (or a Wine tool such as wineboot)
# under Wine through the route, in the prefix and environment the caller set up.
# Under qemu a page fault reaches the program as an illegal instruction (0xC000001D), which Wine's
# own fault guards (IsBadReadPtr and the like) do not catch; the crash would then start winedbg,
# which cannot debug a process under qemu and waits for ever. Without it, the process ends at once
# with the exception's code, so a crashing test fails in seconds instead of at CTest's time-out.
# VEMLO_EMULATOR tells a test program that it runs under the emulator.
vemlo_win32_exec() {
    WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winedbg.exe=d" VEMLO_EMULATOR=qemu-i386 \
        vemlo_win32_run "${VEMLO_WINE:-/usr/lib/wine/wine64}" "$@"
}

# vemlo_win32_check: true when the route works on this machine; otherwise prints why not (one
# line). Runs the i386 Wine loader once through the route, which proves the namespace, the binfmt
# registration and qemu together.
vemlo_win32_check() {
    local reason v
    if ! reason="$(vemlo_win32_kernel_ok)"; then echo "$reason"; return 1; fi
    if [[ ! -x "$VEMLO_QEMU_I386" ]]; then
        echo "$VEMLO_QEMU_I386 is missing (qemu-user $VEMLO_QEMU_MIN_MAJOR or later; scripts/bootstrap-win32 installs it)"
        return 1
    fi
    v="$("$VEMLO_QEMU_I386" --version 2>/dev/null | awk 'NR == 1 { print $3 }')"
    if ! [[ "${v%%.*}" =~ ^[0-9]+$ ]] || (( ${v%%.*} < VEMLO_QEMU_MIN_MAJOR )); then
        echo "qemu-i386 ${v:-of unknown version} is older than $VEMLO_QEMU_MIN_MAJOR (too slow: about a minute per process)"
        return 1
    fi
    if [[ ! -x "$VEMLO_WINE32_LOADER" ]]; then
        echo "the 32-bit Wine loader $VEMLO_WINE32_LOADER is missing (wine32:i386; scripts/bootstrap-win32 installs it)"
        return 1
    fi
    if ! unshare --user --map-root-user --mount --fork -- true 2>/dev/null; then
        echo "cannot make a private user and mount namespace here (unshare --user --mount failed)"
        return 1
    fi
    if ! v="$(vemlo_win32_run "$VEMLO_WINE32_LOADER" --version 2>&1)" || [[ "$v" != wine-* ]]; then
        echo "the 32-bit Wine loader does not start under qemu-i386 in a private namespace: ${v:-no output}"
        return 1
    fi
    return 0
}
