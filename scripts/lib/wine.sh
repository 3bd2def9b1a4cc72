# Shared by the scripts: the project's Wine prefixes, the headless display, the warm wineserver.
# Sourced, not run.

VEMLO_WINE=/usr/lib/wine/wine64          # /usr/bin/wine may pick the 32-bit loader and fail
VEMLO_WINESERVER=/usr/lib/wine/wineserver64
VEMLO_ROOT="${VEMLO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"

# vemlo_wine_env BITS [PROGRAM]: the environment every Wine call of the project runs with. The
# prefix lives in the binary folder that holds PROGRAM (<folder>/bin/x.exe -> <folder>/wine), so
# each build has its own; other programs use the preset's folder.
vemlo_wine_env() {
    local prefix="$VEMLO_ROOT/build/win$1/wine"
    if [[ -n "${2:-}" && "$2" == */bin/* ]]; then
        local folder
        folder="$(cd "$(dirname "$2")/.." 2>/dev/null && pwd)" || folder=""
        [[ -n "$folder" && -f "$folder/CMakeCache.txt" ]] && prefix="$folder/wine"
    fi
    export WINEPREFIX="${VEMLO_WINEPREFIX:-$prefix}"
    export WINEDEBUG="${WINEDEBUG:--all}"
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export WINEARCH=win64
}

# vemlo_wine_exec BITS PROGRAM [ARGS...]: runs a program in the prefix (32-bit ones through the
# emulator route of scripts/lib/win32.sh).
vemlo_wine_exec() {
    local bits="$1"; shift
    if [[ "$bits" == 32 ]]; then
        # shellcheck source=scripts/lib/win32.sh
        source "$VEMLO_ROOT/scripts/lib/win32.sh"
        vemlo_win32_exec "$@"
    else
        "$VEMLO_WINE" "$@"
    fi
}

# vemlo_wineserver BITS ARGS...: the wineserver tool for the prefix; a 32-bit prefix's server is
# reached from inside the route, where its processes live.
vemlo_wineserver() {
    local bits="$1"; shift
    if [[ "$bits" == 32 ]]; then
        # shellcheck source=scripts/lib/win32.sh
        source "$VEMLO_ROOT/scripts/lib/win32.sh"
        vemlo_win32_run "$VEMLO_WINESERVER" "$@"
    else
        "$VEMLO_WINESERVER" "$@"
    fi
}

# vemlo_wine_prefix BITS: makes the prefix on first use (under a lock: CTest may start several
# programs at once). No window manager runs under Xvfb, so windows are made unmanaged: otherwise
# every hidden window costs a 2 s wait.
vemlo_wine_prefix() {
    local bits="$1"
    [[ -f "$WINEPREFIX/.vemlo-ready" ]] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [[ ! -f "$WINEPREFIX/.vemlo-ready" ]]; then
            echo "winrun: creating Wine prefix $WINEPREFIX" >&2
            vemlo_wine_exec "$bits" wineboot --init >/dev/null 2>&1 || true
            vemlo_wine_exec "$bits" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
            # A crashing program prints its backtrace and ends, instead of waiting on a crash
            # dialog that nobody sees on the headless display.
            vemlo_wine_exec "$bits" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
            vemlo_wineserver "$bits" -w || true
            [[ -f "$WINEPREFIX/system.reg" ]] || { echo "winrun: could not create $WINEPREFIX" >&2; exit 1; }
            touch "$WINEPREFIX/.vemlo-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
}

# vemlo_xvfb_start: a private headless X server; sets VEMLO_DISPLAY.
vemlo_xvfb_start() {
    local n
    for n in $(seq 90 140); do
        [[ -e "/tmp/.X$n-lock" || -e "/tmp/.X11-unix/X$n" ]] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        VEMLO_XVFB_PID=$!
        local i
        for i in $(seq 1 100); do
            [[ -e "/tmp/.X11-unix/X$n" ]] && break
            kill -0 "$VEMLO_XVFB_PID" 2>/dev/null || break
            sleep 0.05
        done
        if [[ -e "/tmp/.X11-unix/X$n" ]]; then
            export VEMLO_DISPLAY=":$n" VEMLO_XVFB_PID
            return 0
        fi
    done
    echo "winrun: could not start Xvfb" >&2
    return 1
}

vemlo_xvfb_stop() {
    if [[ -n "${VEMLO_XVFB_PID:-}" ]]; then
        kill "$VEMLO_XVFB_PID" 2>/dev/null || true
        wait "$VEMLO_XVFB_PID" 2>/dev/null || true
        unset VEMLO_XVFB_PID VEMLO_DISPLAY
    fi
}

# A warm wineserver for a whole test run: Debian's wrapper would end it with the last client,
# so each test program would pay for a new one.
vemlo_wineserver_start() {
    "$VEMLO_WINESERVER" -k >/dev/null 2>&1 || true
    "$VEMLO_WINESERVER" -w >/dev/null 2>&1 || true
    "$VEMLO_WINESERVER" -p >/dev/null 2>&1 </dev/null
}

vemlo_wineserver_stop() {
    "$VEMLO_WINESERVER" -k >/dev/null 2>&1 || true
}

# vemlo_winrun_parent: prints the path of scripts/winrun's Windows parent (scripts/lib/winrun-parent.c),
# built with the 64-bit MinGW compiler on first use and whenever its source changes; it runs as
# a 64-bit program in the 32-bit route's prefix too. Fails when it cannot be built.
vemlo_winrun_parent() {
    local src="$VEMLO_ROOT/scripts/lib/winrun-parent.c" out="$VEMLO_ROOT/build/winrun/winrun-parent.exe"
    if [[ ! -f "$out" || "$src" -nt "$out" ]]; then
        mkdir -p "$(dirname "$out")"
        (
            flock 9
            if [[ ! -f "$out" || "$src" -nt "$out" ]]; then
                x86_64-w64-mingw32-gcc -O2 -s -municode -o "$out.tmp" "$src" && mv -f "$out.tmp" "$out"
            fi
        ) 9>"$out.lock" >&2 || return 1
    fi
    [[ -f "$out" ]] && echo "$out"
}

# vemlo_wine_suite PRESET: the preset's CTest suite, one test at a time (tests share fixed places:
# c:\VemloLog, C:\tmp, the registry). Tests that fail are run once more, on their own: Wine under
# load now and then loses a process that had not started yet. A test that fails twice fails the
# suite; one that passes the second time is named, with its first output kept in the CTest log
# LastTest.first.log, and goes into build/PRESET/Testing/Temporary/passed-when-run-again.
vemlo_wine_suite() {
    local preset="$1" dir="build/$1/Testing/Temporary"
    rm -f "$dir/LastTest.first.log" "$dir/passed-when-run-again"
    ctest --preset "$preset" -j1 && return 0
    [[ -s "$dir/LastTestsFailed.log" ]] || return 1
    cp "$dir/LastTest.log" "$dir/LastTest.first.log"
    local failed
    failed="$(cut -d: -f2- "$dir/LastTestsFailed.log")"
    echo "== $preset: $(wc -l <<<"$failed") failed test(s) run once more on their own:"
    sed 's/^/   /' <<<"$failed"
    ctest --preset "$preset" -j1 --rerun-failed || return 1
    printf '%s\n' "$failed" >"$dir/passed-when-run-again"
    echo "== $preset: passed when run again (their first output: $dir/LastTest.first.log):"
    sed 's/^/   /' <<<"$failed"
}
