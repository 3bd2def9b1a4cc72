# The 32-bit route: not set up yet on this machine. Sourced, not run.
vemlo_win32_exec() {
    echo "winrun: the 32-bit route is not available on this machine" >&2
    return 127
}
