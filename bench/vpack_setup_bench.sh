#!/usr/bin/env bash
# usage: bench/vpack_setup_bench.sh [VPACK] [SIZE_MIB]  — vpack for Linux making a setup (--store) of a
# payload of SIZE_MIB (1024 by default) against what the same bytes cost the plain tools: cp, and
# cp with a hash reading them once more: b3sum (BLAKE3, what vpack computes; on one thread, as
# vpack hashes) and xxhsum -H3 (XXH3-64, what older vpacks closed packages with). Prints the times,
# the ratio and vpack's peak RSS. A benchmark: it prints figures and checks nothing.
#        bench/vpack_setup_bench.sh --compressed [MIB] [BIG_MIB]  — compressed setups of real Windows
# PE files (MinGW's runtime DLLs, Wine's PE DLLs, the build's own programs), MIB (64) of them:
# the package's size against xz -9 of the same files, vpack's time for BIG_MIB (300) at the
# default level, a payload of random bytes stored as it is, and under Wine (win64 build,
# unpack_bench --compressed) the unpack against CopyFileA of the installed files and xz -d, and
# the peak working set for 16 and 256 MiB payloads.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [[ "${1:-}" == "--compressed" ]]; then
    exec "$ROOT/bench/lib/compressed-setups.sh" "${@:2}"
fi
vpack="${1:-$ROOT/build/native/bin/vpack}"
mib="${2:-1024}"
[[ -x "$vpack" ]] || { echo "no vpack at $vpack: cmake --preset native && cmake --build --preset native" >&2; exit 2; }
work="$(mktemp -d "${TMPDIR:-/var/tmp}/vpack-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Random bytes, so that no file system can store them sparse or compressed; written once and then
# read from the page cache by every contender alike.
head -c $((mib << 20)) /dev/urandom >"$work/ulmApxSvr.exe"
: >"$work/VemloSetup.exe"
python3 - "$work/stub.exe" <<'PY'
import sys
stub = bytearray(4096); stub[0:2] = b"MZ"; stub[0x3C:0x40] = (0x80).to_bytes(4, "little")
stub[0x80:0x86] = b"PE\0\0\x4c\x01"
open(sys.argv[1], "wb").write(stub)
PY
sync

# ms COMMAND...: the best wall time of three runs in milliseconds, each with what it wrote flushed
# to the disk as vpack flushes its own (cp and the hash get the same sync at their end).
ms() {
    local start end best="" i t
    for i in 1 2 3; do
        rm -f "$work/copy" "$work/Setup.exe"
        start=$(date +%s%N)
        "$@" >/dev/null
        sync
        end=$(date +%s%N)
        t=$(( (end - start) / 1000000 ))
        if [[ -z "$best" || $t -lt $best ]]; then best=$t; fi
    done
    echo "$best"
}
sec() { printf '%d.%02d' $(($1 / 1000)) $(($1 % 1000 / 10)); }
cp_hash() { cp "$work/ulmApxSvr.exe" "$work/copy" && "$@" "$work/copy" >/dev/null 2>&1; }

cp "$work/ulmApxSvr.exe" "$work/copy" && sync  # warms the disk's writeback for everybody
t_cp=$(ms cp "$work/ulmApxSvr.exe" "$work/copy")
t_xxh=$(ms cp_hash xxhsum -H3)
t_b3=$(ms cp_hash b3sum --num-threads 1)
t_vpack=$(ms "$vpack" setup --store "$work/stub.exe" -o "$work/Setup.exe" "$work/ulmApxSvr.exe" "$work/VemloSetup.exe")
rm -f "$work/Setup.exe"
# The peak RSS of one more run, as the kernel counted it (KiB). GNU time starts it from a small
# process; without it Python does, whose own size the count then includes (an upper bound).
run_setup=("$vpack" setup --store "$work/stub.exe" -o "$work/Setup.exe" "$work/ulmApxSvr.exe" "$work/VemloSetup.exe")
if [[ -x /usr/bin/time ]]; then
    peak=$( { /usr/bin/time -f '%M' "${run_setup[@]}" >/dev/null; } 2>&1 | tail -1)
else
    peak=$(python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "${run_setup[@]}")
fi

echo "payload: $mib MiB of random bytes; best of three runs, each followed by sync"
printf '  %-28s %6s s\n' "cp" "$(sec "$t_cp")" "cp + xxhsum -H3" "$(sec "$t_xxh")"
printf '  %-28s %6s s\n' "cp + b3sum (one thread)" "$(sec "$t_b3")"
ratio=$(( t_vpack * 100 / t_b3 )) ratio_cp=$(( t_vpack * 100 / t_cp ))
printf '  %-28s %6s s   (%d.%02dx cp + b3sum, %d.%02dx cp)\n' "vpack setup" "$(sec "$t_vpack")" \
    $((ratio / 100)) $((ratio % 100)) $((ratio_cp / 100)) $((ratio_cp % 100))
echo "  vpack setup peak RSS: $((peak / 1024)) MiB"
