#!/usr/bin/env bash
# usage: bench/vpack_setup_bench.sh [VPACK] [SIZE_MIB]  — vpack for Linux making a setup of a
# payload of SIZE_MIB (1024 by default) against what the same bytes cost the plain tools: cp, and
# cp with the hash xxhsum -H3 (b3sum too when installed) reading them once more. Prints the times,
# the ratio and vpack's peak RSS. A benchmark: it prints figures and checks nothing.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
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

# seconds COMMAND...: the best wall time of three runs, each with what it wrote flushed to the
# disk as vpack flushes its own (cp and the hash get the same sync at their end).
seconds() {
    local start end best="" i t
    for i in 1 2 3; do
        rm -f "$work/copy" "$work/Setup.exe"
        start=$(date +%s%N)
        "$@" >/dev/null
        sync
        end=$(date +%s%N)
        t=$(( (end - start) / 1000000 ))
        [[ -z "$best" || $t -lt $best ]] && best=$t
    done
    printf '%d.%02d' $((best / 1000)) $((best % 1000 / 10))
}
cp_hash() { cp "$work/ulmApxSvr.exe" "$work/copy" && "$@" "$work/copy" >/dev/null 2>&1; }

cp "$work/ulmApxSvr.exe" "$work/copy" && sync  # warms the disk's writeback for everybody
t_cp=$(seconds cp "$work/ulmApxSvr.exe" "$work/copy")
t_xxh=$(seconds cp_hash xxhsum -H3)
if command -v b3sum >/dev/null; then t_b3=$(seconds cp_hash b3sum); fi
t_vpack=$(seconds "$vpack" setup "$work/stub.exe" -o "$work/Setup.exe" "$work/ulmApxSvr.exe" "$work/VemloSetup.exe")
rm -f "$work/Setup.exe"
peak=$( { /usr/bin/time -f '%M' "$vpack" setup "$work/stub.exe" -o "$work/Setup.exe" "$work/ulmApxSvr.exe" \
          "$work/VemloSetup.exe" >/dev/null; } 2>&1 | tail -1)

echo "payload: $mib MiB of random bytes; best of three runs, each followed by sync"
printf '  %-28s %6s s\n' "cp" "$t_cp" "cp + xxhsum -H3" "$t_xxh"
[[ -n "${t_b3:-}" ]] && printf '  %-28s %6s s\n' "cp + b3sum" "$t_b3"
printf '  %-28s %6s s   (%sx cp + xxhsum -H3)\n' "vpack setup" "$t_vpack" "$(echo "scale=2; x = $t_vpack / $t_xxh; if (x < 1) print 0; x" | bc)"
echo "  vpack setup peak RSS: $((peak / 1024)) MiB"
