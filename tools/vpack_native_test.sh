#!/usr/bin/env bash
# usage: tools/vpack_native_test.sh VPACK  — what only vpack for Linux has to get right: record names
# with \ become folders below the destination and never leave it, a link planted at a record's name
# is not written through, and a refused package leaves nothing. Packages are made here by hand.
set -euo pipefail
vpack="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "vpack_native_test: $*" >&2; exit 1; }

# record NAME DATA: one record as stored (lengths plain little-endian, name and data negated).
mixed() { python3 -c 'import sys; sys.stdout.buffer.write(bytes((-b) & 255 for b in sys.argv[1].encode()))' "$1"; }
le32() { python3 -c 'import sys,struct; sys.stdout.buffer.write(struct.pack("<I", int(sys.argv[1])))' "$1"; }
record() { le32 "${#1}"; le32 "${#2}"; mixed "$1"; mixed "$2"; }
package() { mixed "^-=Vemlo=-^ Reed "; while [[ $# -gt 0 ]]; do record "$1" "$2"; shift 2; done; }

# A name with \ lands in the folder below the destination, as on Windows.
package 'a.txt' 'top' 'sub\b.txt' 'below' >sub.vpk
mkdir -p out/sub
"$vpack" extract sub.vpk out >/dev/null || fail "a package with a subfolder record was refused"
[[ "$(cat out/a.txt)" == top && "$(cat out/sub/b.txt)" == below ]] || fail "records did not come out as packed"

# Names that would leave the destination: refused with 165, nothing written anywhere.
for name in '..\evil.txt' '../evil.txt' 'sub\..\..\evil.txt' '/tmp/evil.txt' 'C:evil.txt'; do
    package "$name" 'x' >bad.vpk
    rm -rf dst && mkdir dst
    set +e; err="$("$vpack" extract bad.vpk dst 2>&1)"; rc=$?; set -e
    [[ $rc -eq 1 && "$err" == "vpack: error 165: "* ]] || fail "'$name': exit $rc, '$err'"
    [[ -z "$(ls -A dst)" && ! -e evil.txt && ! -e /tmp/evil.txt ]] || fail "'$name' wrote a file"
done

# A link at a record's name is not followed: the file it points to stays as it was.
echo precious >target.txt
rm -rf dst && mkdir dst && ln -s ../target.txt dst/a.txt
set +e; "$vpack" extract sub.vpk dst >/dev/null 2>&1; rc=$?; set -e
[[ $rc -eq 1 && "$(cat target.txt)" == precious ]] || fail "extract wrote through a link (exit $rc)"

# A failed append leaves the package as it was; a closed one takes nothing more.
cp sub.vpk keep.vpk
"$vpack" append keep.vpk missing.txt >/dev/null 2>&1 && fail "append of a missing file succeeded"
cmp -s sub.vpk keep.vpk || fail "a failed append changed the package"
"$vpack" close keep.vpk >/dev/null
"$vpack" append keep.vpk out/a.txt 2>/dev/null && fail "append to a closed package succeeded"
[[ $(( $(stat -c %s keep.vpk) - $(stat -c %s sub.vpk) )) -eq 53 ]] || fail "close did not add one 53-byte end record"
echo "vpack for Linux: names, links and refusals as expected"
