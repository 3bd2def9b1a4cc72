#!/usr/bin/env bash
# usage: tools/vpack_native_test.sh VPACK  — what only vpack for Linux has to get right: record names
# with \ become folders below the destination and never leave it, a link planted at a record's name
# is not written through, a refused package leaves nothing, names go through the code page of the
# Windows that unpacks them, and a 1 GiB payload streams in flat memory. Packages are made here by
# hand; stored names come from iconv.
set -euo pipefail
export LC_ALL=C.UTF-8
vpack="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "vpack_native_test: $*" >&2; exit 1; }

# record NAME DATA: one record as stored (lengths plain little-endian, name and data negated).
# Names and contents are given as bytes: mixed() negates each byte of its argument as it is.
mixed() { python3 -c 'import os,sys; sys.stdout.buffer.write(bytes((-b) & 255 for b in os.fsencode(sys.argv[1])))' "$1"; }
le32() { python3 -c 'import sys,struct; sys.stdout.buffer.write(struct.pack("<I", int(sys.argv[1])))' "$1"; }
blen() { printf '%s' "$1" | wc -c; }
record() { le32 "$(blen "$1")"; le32 "$(blen "$2")"; mixed "$1"; mixed "$2"; }
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

# / separates as \ does, for the stub and here.
package 'a.txt' 'top' 'sub/b.txt' 'below' >slash.vpk
"$vpack" extract slash.vpk slashed >/dev/null || fail "a package with a sub/ record was refused"
[[ "$(cat slashed/sub/b.txt)" == below ]] || fail "sub/b.txt did not come out in the folder sub"

# A link at a record's name is not followed: the file it points to stays as it was, even with
# --force, and so does one at a folder of a record's name, whichever separator the name uses.
echo precious >target.txt
mkdir -p elsewhere
for pkg in sub.vpk slash.vpk; do
for force in "" --force; do
    rm -rf dst && mkdir dst && ln -s ../target.txt dst/a.txt
    set +e; err="$("$vpack" extract $pkg dst $force 2>&1)"; rc=$?; set -e
    [[ $rc -eq 1 && "$(cat target.txt)" == precious && ! -e dst/sub ]] || fail "extract wrote through a link (exit $rc)"
    [[ -z "$force" || "$err" == *"dst/a.txt is there and is no file (a folder or a link): --force replaces only files"* ]] \
        || fail "--force over a link: '$err'"
    rm -rf dst && mkdir dst && ln -s ../elsewhere dst/sub
    set +e; "$vpack" extract $pkg dst $force >/dev/null 2>&1; rc=$?; set -e
    [[ $rc -eq 1 && -z "$(ls -A elsewhere)" && ! -e dst/a.txt ]] || fail "$pkg: extract wrote through a folder link (exit $rc)"
done
done

# Two records of one name in the client's eyes (letter case, or a file and a folder): refused.
for pair in 'a.txt A.TXT' 'sub sub\x'; do
    set -- $pair
    package "$1" 'one' "$2" 'two' >twice.vpk
    rm -rf dst
    set +e; err="$("$vpack" extract twice.vpk dst 2>&1)"; rc=$?; set -e
    [[ $rc -eq 1 && "$err" == *"error 165: "*"would be one file on Windows"* && ! -e dst ]] || fail "'$pair': exit $rc, '$err'"
done

# --force that fails part-way puts the user's files back: b.txt cannot be replaced (immutable).
mkdir -p in6 && echo new-a >in6/a.txt && echo new-b >in6/b.txt
"$vpack" create six.vpk in6/a.txt in6/b.txt >/dev/null
rm -rf dst && mkdir dst && echo mine-a >dst/a.txt && echo mine-b >dst/b.txt
if chattr +i dst/b.txt 2>/dev/null; then
    set +e; err="$("$vpack" extract six.vpk dst --force 2>&1)"; rc=$?; set -e
    chattr -i dst/b.txt
    [[ $rc -eq 1 && "$(cat dst/a.txt)" == mine-a && "$(cat dst/b.txt)" == mine-b ]] \
        || fail "a failed --force lost the user's files (exit $rc, '$err', a.txt: $(cat dst/a.txt))"
    [[ "$(ls -A dst | tr '\n' ' ')" == "a.txt b.txt " ]] || fail "a failed --force left: $(ls -A dst)"
else
    echo "vpack_native_test: no chattr +i here (not root on ext4): the failed --force case is left to the Windows suites"
fi

# INT, TERM and HUP: the temporary goes, the output was never there, the signal ends vpack. The
# input is a pipe that vpack waits on once the temporary exists.
for sig in INT TERM HUP; do
    rm -rf sg && mkdir sg && mkfifo sg/pipe.dat && echo x >sg/a.txt
    "$vpack" create sg/p.vpk sg/a.txt sg/pipe.dat & pid=$!
    exec 3>sg/pipe.dat
    until compgen -G 'sg/.p.vpk.vpack-*' >/dev/null; do sleep 0.01; done
    kill -s $sig $pid
    set +e; wait $pid; rc=$?; set -e
    exec 3>&-
    [[ $rc -eq $((128 + $(kill -l $sig))) ]] || fail "$sig: exit $rc"
    [[ "$(ls -A sg | tr '\n' ' ')" == "a.txt pipe.dat " ]] || fail "$sig left: $(ls -A sg)"
done

# A failed append leaves the package as it was; a closed one takes nothing more.
cp sub.vpk keep.vpk
"$vpack" append keep.vpk missing.txt >/dev/null 2>&1 && fail "append of a missing file succeeded"
cmp -s sub.vpk keep.vpk || fail "a failed append changed the package"
"$vpack" close keep.vpk >/dev/null
"$vpack" append keep.vpk out/a.txt 2>/dev/null && fail "append to a closed package succeeded"
[[ $(( $(stat -c %s keep.vpk) - $(stat -c %s sub.vpk) )) -eq 53 ]] || fail "close did not add one 53-byte end record"
# Names beyond ASCII: stored in the code page given, shown and unpacked back in the locale's.
for cp in 936 1252; do
    case $cp in 936) name='客户端 配置.ini' ;; 1252) name='Übersicht für café.txt' ;; esac
    rm -rf cp && mkdir -p cp/in && printf 'settings %s' "$cp" >"cp/in/$name"
    stored="$(printf '%s' "$name" | iconv -f UTF-8 -t "CP$cp")"
    "$vpack" create --codepage "$cp" cp/p.vpk "cp/in/$name" || fail "create --codepage $cp"
    package "$stored" "settings $cp" >cp/expected.vpk
    cmp -s cp/expected.vpk cp/p.vpk || fail "code page $cp: the name is not stored as iconv gives it"
    [[ "$("$vpack" list --codepage "$cp" cp/p.vpk)" == "$name	$(blen "settings $cp")"* ]] || fail "list --codepage $cp"
    "$vpack" extract --codepage "$cp" cp/p.vpk cp/out || fail "extract --codepage $cp"
    cmp -s "cp/in/$name" "cp/out/$name" || fail "code page $cp: the file did not come back under its name"
    # Without the code page: create says how, list shows the bytes, extract unpacks nothing.
    set +e; err="$("$vpack" create cp/q.vpk "cp/in/$name" 2>&1)"; rc=$?; set -e
    [[ $rc -eq 1 && "$err" == *"pass --codepage N"* && ! -e cp/q.vpk ]] || fail "no code page: create gave $rc, '$err'"
    [[ "$("$vpack" list cp/p.vpk)" == *'\x'* ]] || fail "no code page: list did not show the bytes"
    set +e; err="$("$vpack" extract cp/p.vpk cp/none 2>&1)"; rc=$?; set -e
    [[ $rc -eq 1 && "$err" == *"pass --codepage N"* && ! -e cp/none ]] || fail "no code page: extract gave $rc, '$err'"
done
# A double-byte character whose trail byte is 0x5C (the \ of ASCII) is no separator in 936.
package "$(printf '\xb1\x5c.txt')" 'gb' >dbcs.vpk
"$vpack" extract --codepage 936 dbcs.vpk dbcs || fail "a 936 name with a 0x5C trail byte was refused"
[[ "$(cat "dbcs/$(printf '\xb1\x5c' | iconv -f CP936 -t UTF-8).txt")" == gb ]] || fail "the 0x5C trail byte split the name"

# Compressed records: vpack's frame, taken out of the package and unmixed by hand, is what the
# zstd command decodes to the file; extract gives the same; a mixed setup lists both kinds.
python3 -c "import sys; sys.stdout.write('Vemlo compressed record line.\\n' * 3000)" >z.txt
"$vpack" create --compress z.vpk z.txt || fail "create --compress"
python3 - <<'PY' || fail "the compressed record's head"
import struct
b = open("z.vpk", "rb").read()
n, d = struct.unpack_from("<II", b, 17)
assert n == 0x80000000 | 5, hex(n)
open("z.zst", "wb").write(bytes((-x) & 255 for x in b[17 + 8 + 5:17 + 8 + 5 + d]))
PY
zstd -q -d -c z.zst | cmp -s - z.txt || fail "the zstd command does not decode the record to the file"
[[ "$(zstd -l -v z.zst 2>&1 | grep -c 'Decompressed Size: .*(90000 B)')" == 1 ]] || fail "the frame declares no size of 90000"
"$vpack" extract z.vpk zout && cmp -s zout/z.txt z.txt || fail "extract of a compressed record"
"$vpack" append z.vpk dbcs.vpk && "$vpack" list z.vpk >z.list || fail "append to a compressed package"
grep -q "^z.txt	90000	zstd [0-9]*$" z.list && grep -q "^dbcs.vpk	" z.list && grep -q "^compressed: " z.list ||
    fail "list of a mixed package: $(cat z.list)"

# Frames of several files are made on two threads ahead of their records: the package is the one
# of the files packed one by one (each one-file package's records, in order, behind one magic), and
# a file that fails among them is the one named, whatever was being made around it, with nothing
# left behind. A sysfs file says 4096 bytes and gives fewer: it "changed size while packed".
python3 -c "import sys; sys.stdout.write(''.join('line %d of a file that compresses\\n' % (i % 5000) for i in range(200000)))" >z1.txt
python3 -c "import sys; sys.stdout.write(''.join('%d, another one\\n' % (i * 7919 % 65536) for i in range(300000)))" >z2.txt
rm -f one.vpk && for f in z1.txt z.txt z2.txt dbcs.vpk; do
    "$vpack" create --compress "$f.vpk" "$f" && tail -c +18 "$f.vpk" >>one.vpk || fail "create --compress $f"
done
"$vpack" create --compress set.vpk z1.txt z.txt z2.txt dbcs.vpk || fail "create --compress of four files"
cmp -s <(head -c 17 z.vpk; cat one.vpk) set.vpk || fail "four files packed at once differ from them packed one by one"
sysfile=/sys/devices/system/cpu/online
if [[ -f "$sysfile" && $(stat -L -c %s "$sysfile") -gt $(wc -c <"$sysfile") ]]; then
    ln -s "$sysfile" short.txt
    for set in "short.txt z1.txt z2.txt" "z1.txt short.txt z2.txt" "z1.txt z2.txt short.txt"; do
        set +e; err="$("$vpack" create --compress failed.vpk $set 2>&1)"; rc=$?; set -e
        [[ $rc -eq 1 && "$err" == "vpack: error 166: a content piece cannot be read in full, or the source changed size while packed (short.txt: it changed size while packed)" ]] ||
            fail "$set: exit $rc, '$err'"
        [[ -z "$(ls -A | grep -e '^failed.vpk$' -e '\.vpack-')" ]] || fail "$set left: $(ls -A | grep -e failed -e vpack-)"
    done
else
    echo "vpack_native_test: no sysfs file that reads shorter than its size here: a file failing among others is not checked"
fi

# 1 GiB through setup --store and list: peak memory stays flat (the payload is sparse, so this is quick).
mkdir -p big && truncate -s 1G big/ulmApxSvr.exe && : >big/VemloSetup.exe
python3 - "$vpack" <<'PY' || fail "1 GiB payload"
import os, resource, subprocess, sys
# MZ, PE for i386 with one section, .vslot, holding the empty slot at 0x200.
stub = bytearray(1024); stub[0:2] = b"MZ"; stub[0x3C:0x40] = (0x80).to_bytes(4, "little")
stub[0x80:0x88] = b"PE\0\0\x4c\x01\x01\0"
stub[0x98:0xC0] = b".vslot\0\0" + (48).to_bytes(4, "little") + (0x1000).to_bytes(4, "little") + \
    (48).to_bytes(4, "little") + (0x200).to_bytes(4, "little") + bytes(16)
stub[0x200:0x20C] = b"VemloSlt\x01\x02\x00\x20"
open("big/stub.exe", "wb").write(stub)
for args in (["setup", "--store", "big/stub.exe", "-o", "big/Setup.exe", "big/ulmApxSvr.exe", "big/VemloSetup.exe"],
             ["list", "big/Setup.exe"]):
    subprocess.run([sys.argv[1]] + args, check=True, stdout=subprocess.DEVNULL)
size = os.path.getsize("big/Setup.exe")
want = 307200 + 17 + (8 + 13 + (1 << 30)) + (8 + 14) + 53
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024
print(f"1 GiB payload: setup of {size} bytes, peak RSS {peak} MiB")
sys.exit(0 if size == want and peak <= 64 else 1)
PY
# An extract stopped by a signal removes its temporaries and the folder it made.
"$vpack" extract big/Setup.exe big/out & pid=$!
until compgen -G 'big/out/.ulmApxSvr.exe.vpack-*' >/dev/null; do
    kill -0 $pid 2>/dev/null || fail "extract of 1 GiB ended before it could be interrupted"
    sleep 0.01
done
kill -s INT $pid
set +e; wait $pid; rc=$?; set -e
[[ $rc -eq 130 && ! -e big/out ]] || fail "an interrupted extract: exit $rc, left: $(ls -A big/out 2>&1)"
rm -rf big
echo "vpack for Linux: names, links, code pages, refusals and a 1 GiB payload as expected"
