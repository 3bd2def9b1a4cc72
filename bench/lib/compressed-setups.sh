#!/usr/bin/env bash
# The compressed-setup figures of bench/vpack_setup_bench.sh --compressed [MIB] [BIG_MIB]. Prints
# figures and checks nothing.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
mib="${1:-64}" big="${2:-300}"
vpack="$ROOT/build/native/bin/vpack"
stub="$ROOT/build/win64/bin/Setup.exe"
bench="$ROOT/build/win64/bin/unpack_bench.exe"
for f in "$vpack" "$stub" "$bench"; do
    [[ -x "$f" ]] || { echo "missing $f: build the native and win64 presets" >&2; exit 2; }
done
work="$(mktemp -d "${TMPDIR:-/var/tmp}/vpack-zstd.XXXXXX")"
trap 'rm -rf "$work"' EXIT
trap 'exit 1' TERM  # a failed setup (in a subshell) stops the bench through this, cleaning up
now() { date +%s%N; }
sec() { local ns=$1; printf '%d.%02d' $((ns / 1000000000)) $((ns % 1000000000 / 10000000)); }

# is_stub FILE: the file is a setup stub (it has the payload slot's section), which vpack refuses
# among the files.
is_stub() { x86_64-w64-mingw32-objdump -h "$1" 2>/dev/null | grep -q ' \.vslot '; }
# payload DIR MIB: real PE files up to MIB MiB, no stub, each name tagged with the number of the
# folder it came from (the same DLL name exists for both architectures and thread models, in
# folders whose last parts alone are alike: i686-w64-mingw32/12-posix, x86_64-w64-mingw32/12-posix).
payload() {
    local dir="$1" cap=$(( $2 << 20 )) total=0 f tag size
    local -A folders=()
    mkdir -p "$dir"
    for f in /usr/lib/gcc/*mingw*/*/*.dll /usr/*mingw32/lib/*.dll "$ROOT"/build/win64/bin/*.exe \
             /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.dll; do
        [[ -f "$f" ]] || continue
        [[ "$f" != *.exe ]] || ! is_stub "$f" || continue
        size=$(stat -c %s "$f")
        (( total + size <= cap )) || continue
        [[ -n "${folders[${f%/*}]:-}" ]] || folders[${f%/*}]=${#folders[@]}
        tag="d${folders[${f%/*}]}"
        cp "$f" "$dir/$tag-$(basename "$f")"
        total=$((total + size))
    done
}
# setup OUT DIR [vpack options]: a setup of the files in DIR; the ns it took on stdout. When vpack
# fails, its message on standard error and the whole bench stops.
setup() {
    local out="$1" dir="$2" start end
    shift 2
    start=$(now)
    if ! "$vpack" setup "$@" "$stub" -o "$out" "$dir"/* --no-program-check >/dev/null 2>"$work/vpack.err"; then
        cat "$work/vpack.err" >&2
        echo "vpack setup failed for the payload in $dir: no figures" >&2
        kill -TERM $$
        exit 1
    fi
    end=$(now)
    echo $((end - start))
}

payload "$work/pe" "$mib"
content=$(du -cb "$work"/pe/* | tail -1 | cut -f1)
echo "payload: $(ls "$work/pe" | wc -l) real PE files, $content bytes"
t_setup=$(setup "$work/Setup.exe" "$work/pe")
stored=$(( $(stat -c %s "$work/Setup.exe") - 307200 ))
t_store=$(setup "$work/Stored.exe" "$work/pe" --store)
start=$(now); tar cf - -C "$work/pe" . | xz -9 -T1 >"$work/pe.tar.xz"; end=$(now); t_xz=$((end - start))
xz_size=$(stat -c %s "$work/pe.tar.xz")
t19=$(setup "$work/S19.exe" "$work/pe" --level 19)
zstd19=$(( $(stat -c %s "$work/S19.exe") - 307200 ))
echo "  package, default level (vpack setup): $stored bytes ($(python3 -c "print(f'{100*$stored/$content:.1f}')") % of the files) in $(sec "$t_setup") s"
echo "  package, --level 19:                  $zstd19 bytes in $(sec "$t19") s"
echo "  package, --store:                     $(( $(stat -c %s "$work/Stored.exe") - 307200 )) bytes in $(sec "$t_store") s"
echo "  xz -9 of the same files (tar):        $xz_size bytes in $(sec "$t_xz") s"
echo "  default level / xz -9: $(python3 -c "print(f'{$stored/$xz_size:.3f}')")  (target <= 1.15); level 19 / xz -9: $(python3 -c "print(f'{$zstd19/$xz_size:.3f}')")"
best=""
for i in 1 2 3; do
    rm -rf "$work/xzout"; mkdir "$work/xzout"; sync
    start=$(now); xz -d -c "$work/pe.tar.xz" | tar xf - -C "$work/xzout"; end=$(now)
    t=$((end - start)); if [[ -z "$best" || $t -lt $best ]]; then best=$t; fi
done
echo "  xz -d of them into files (best of 3): $(sec "$best") s"
rm -rf "$work/xzout" "$work/S19.exe" "$work/Stored.exe"

# A payload that does not compress: stored as it is.
head -c $((mib << 20)) /dev/urandom >"$work/rnd.bin"
mkdir "$work/rnd" && mv "$work/rnd.bin" "$work/rnd/"
t_r=$(setup "$work/R.exe" "$work/rnd"); t_rs=$(setup "$work/R0.exe" "$work/rnd" --store)
echo "random bytes, $mib MiB: setup $(stat -c %s "$work/R.exe") bytes in $(sec "$t_r") s, --store $(stat -c %s "$work/R0.exe") bytes in $(sec "$t_rs") s"
rm -rf "$work/rnd" "$work/R.exe" "$work/R0.exe"

# Compression time for a large payload at the default level.
payload "$work/big" "$big"
t_big=$(setup "$work/Big.exe" "$work/big")
echo "$(du -cb "$work"/big/* | tail -1 | cut -f1) bytes of PE files: vpack setup in $(sec "$t_big") s, $(stat -c %s "$work/Big.exe") bytes"
rm -rf "$work/Big.exe"

# Under Wine: the unpack of the compressed setup against CopyFileA, then 16 and 256 MiB payloads.
echo "unpack under Wine (win64, as a bound setup), $mib MiB:"
"$ROOT/scripts/winrun" "$bench" --compressed "Z:$work/Setup.exe" "Z:$work/pe" | grep -v '^round'
echo "  (xz -d took $(sec "$best") s for the same files, natively)"
for m in 16 256; do
    rm -rf "$work/m"; payload "$work/m" "$m"; setup "$work/M.exe" "$work/m" >/dev/null
    echo "$m MiB payload: $("$ROOT/scripts/winrun" "$bench" --compressed "Z:$work/M.exe" "Z:$work/m" | grep 'peak working set')"
done
