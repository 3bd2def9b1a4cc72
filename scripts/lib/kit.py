#!/usr/bin/env python3
"""Packs a release kit from the tree CPack staged: usage: kit.py pack MANIFEST STAGING OUTDIR.

MANIFEST is build/<preset>/kit/manifest.json (cmake/Kit.cmake): the shipped programs, the
third-party components each one links and where their notices are. Adds the notices, the bill of
materials (CycloneDX 1.5 JSON) and, for the zip, the kit's README and SHA256SUMS; then writes
vemlo-setup-kit-<version>-win32.zip or vemlo-vpack_<version>_amd64.deb into OUTDIR, byte for byte
the same on every run for the same sources and SOURCE_DATE_EPOCH, and prints its path.
"""
import datetime
import gzip
import hashlib
import json
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import uuid
import zipfile

OWN_LICENCE = ("[THE PROJECT'S OWN LICENCE GOES HERE. It is the owner's decision and has not been\n"
               " made yet: until it is, no licence to the Vemlo programs themselves is granted by\n"
               " this kit.]")
RULE = "=" * 78


def fail(message):
    sys.exit(f"kit.py: {message}")


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def excerpt(text):
    """The lines of one text entry: the whole file, or from the line matching 'from' up to the
    line matching 'to' (not included)."""
    with open(text["file"], encoding="utf-8") as f:
        lines = f.read().splitlines()
    start, end = 0, len(lines)
    if text.get("from"):
        start = next((i for i, l in enumerate(lines) if re.search(text["from"], l)), None)
        if start is None:
            fail(f"{text['file']} has no line matching '{text['from']}'")
    if text.get("to"):
        end = next((i for i in range(start + 1, len(lines)) if re.search(text["to"], lines[i])), len(lines))
    return "\n".join(lines[start:end]).rstrip() + "\n"


def copyright_lines(component):
    """The copyright lines as the component's sources give them: the Copyright fields of a Debian
    machine-readable copyright file (all but the packaging's own), else every line that says
    Copyright in its texts, with the lines that continue it."""
    found = []
    for text in component["texts"]:
        body = excerpt(text)
        if body.startswith("Format: "):
            for stanza in re.split(r"\n\s*\n", body):
                if re.search(r"^Files:\s*debian/", stanza, re.M):
                    continue
                m = re.search(r"^Copyright:(.*(?:\n[ \t].*)*)", stanza, re.M)
                if m:
                    found += [l.strip() for l in m.group(1).splitlines() if l.strip()]
        else:
            for para in re.split(r"\n\s*\n", body):
                if re.match(r"\s*(\S+ is )?Copyright \(C\)", para, re.I):
                    found.append(" ".join(para.split()))
    unique = []
    for line in found:
        if line not in unique:
            unique.append(line)
    return unique


def carriers(manifest, cid):
    return [b["file"] for b in manifest["binaries"] if cid in b["components"]]


def notices(manifest, title):
    """THIRD-PARTY-NOTICES: the project's own licence (a place for it), then every third-party
    component carried by a program of this kit, with its version, licence and copyright lines,
    then each one's licence texts as its sources give them."""
    out = [f"{title} {manifest['version']}: notices", "",
           "The Vemlo programs (" + ", ".join(b["file"] for b in manifest["binaries"]) + ").",
           "Licence:", OWN_LICENCE, "",
           "They carry the following third-party code (name, version, licence, carried by):", ""]
    for c in manifest["components"]:
        out.append(f"  {c['name']} {c['version']}  {c['spdx']}  ({', '.join(carriers(manifest, c['id']))})")
    for c in manifest["components"]:
        out += ["", RULE, f"{c['name']} {c['version']}", f"Licence: {c['spdx']}",
                f"Carried by: {', '.join(carriers(manifest, c['id']))}",
                f"Source: the Debian 12 package {c['package']} {c['debian_version']}", "Copyright:"]
        out += [f"  {line}" for line in copyright_lines(c)]
        for text in c["texts"]:
            out += ["", "-" * 78, f"From {text['file']}:", "", excerpt(text).rstrip()]
    return "\n".join(out) + "\n"


def release_section(source_dir):
    """The README's release section: from "## Making a release" to the next section."""
    with open(os.path.join(source_dir, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    m = re.search(r"^## Making a release\n.*?(?=^## |\Z)", readme, re.M | re.S)
    if not m:
        fail("README.md has no section '## Making a release'")
    return m.group(0).rstrip() + "\n"


def purl(c):
    version = c["debian_version"].replace("+", "%2B").replace(":", "%3A")
    return f"pkg:deb/debian/{c['package']}@{version}"


def bom(manifest, kit_name, root, files, epoch):
    """A CycloneDX 1.5 bill of materials: the kit, every file in it with its SHA-256, the
    third-party components, and which program carries which."""
    digests = {name: sha256(os.path.join(root, name)) for name in files}
    components = []
    for c in manifest["components"]:
        components.append({
            "type": "library", "bom-ref": f"component:{c['id']}", "name": c["name"], "version": c["version"],
            "licenses": [{"expression": c["spdx"]}], "purl": purl(c),
            "copyright": "\n".join(copyright_lines(c))})
    for name in files:
        components.append({"type": "file", "bom-ref": f"file:{name}", "name": name,
                           "hashes": [{"alg": "SHA-256", "content": digests[name]}]})
    dependencies = [{"ref": "kit", "dependsOn": [f"file:{n}" for n in files]}]
    for b in manifest["binaries"]:
        for name in files:
            if os.path.basename(name) == b["file"]:
                dependencies.append({"ref": f"file:{name}",
                                     "dependsOn": [f"component:{cid}" for cid in b["components"]]})
    seed = kit_name + manifest["version"] + "".join(digests[n] for n in files)
    return {
        "bomFormat": "CycloneDX", "specVersion": "1.5",
        "serialNumber": f"urn:uuid:{uuid.uuid5(uuid.NAMESPACE_URL, seed)}", "version": 1,
        "metadata": {
            "timestamp": datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
            "component": {"type": "application", "bom-ref": "kit", "name": kit_name, "version": manifest["version"]}},
        "components": components, "dependencies": dependencies}


def tree_files(root):
    """Every file under root, as sorted relative paths with '/'."""
    found = []
    for folder, _, names in os.walk(root):
        for n in names:
            found.append(os.path.relpath(os.path.join(folder, n), root).replace(os.sep, "/"))
    return sorted(found)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def pack_zip(manifest, staging, outdir, epoch):
    kit = f"vemlo-setup-kit-{manifest['version']}"
    with open(os.path.join(manifest["source_dir"], "kit", "README.txt"), encoding="utf-8") as f:
        intro = f.read().replace("@VERSION@", manifest["version"])
    write(os.path.join(staging, "README.txt"), intro + "\n" + RULE + "\nFrom the project's README:\n\n"
          + release_section(manifest["source_dir"]))
    write(os.path.join(staging, "THIRD-PARTY-NOTICES.txt"), notices(manifest, "Vemlo Setup kit"))
    files = tree_files(staging)
    write(os.path.join(staging, "vemlo-setup-kit.cdx.json"),
          json.dumps(bom(manifest, "vemlo-setup-kit", staging, files, epoch), indent=2) + "\n")
    files = tree_files(staging)
    write(os.path.join(staging, "SHA256SUMS"),
          "".join(f"{sha256(os.path.join(staging, n))}  {n}\n" for n in files))
    # Fixed order, times and permissions: the bytes depend on the contents alone.
    when = datetime.datetime.fromtimestamp(max(epoch, 315532800), datetime.timezone.utc).timetuple()[:6]
    out = os.path.join(outdir, f"{kit}-win32.zip")
    with zipfile.ZipFile(out + ".part", "w") as z:
        for name in tree_files(staging):
            info = zipfile.ZipInfo(f"{kit}/{name}", date_time=when)
            info.create_system = 3
            info.external_attr = (stat.S_IFREG | (0o755 if name.endswith(".exe") else 0o644)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(staging, name), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(out + ".part", out)
    return out


def shlib_depends(binary):
    """The Depends line for a program, from dpkg-shlibdeps (it needs a debian/control beside it)."""
    with tempfile.TemporaryDirectory() as work:
        write(os.path.join(work, "debian", "control"), "Source: vemlo\n\nPackage: vemlo-vpack\nArchitecture: any\n")
        got = subprocess.run(["dpkg-shlibdeps", "-O", "-e", os.path.abspath(binary)], cwd=work,
                             capture_output=True, text=True)
        if got.returncode != 0:
            fail(f"dpkg-shlibdeps failed: {got.stderr.strip()}")
    m = re.search(r"^shlibs:Depends=(.*)$", got.stdout, re.M)
    return m.group(1) if m else ""


def pack_deb(manifest, staging, outdir, epoch):
    version, package = manifest["version"], "vemlo-vpack"
    vpack = os.path.join(staging, "usr", "bin", "vpack")
    doc = os.path.join(staging, "usr", "share", "doc", package)
    man = subprocess.run(["help2man", "--no-info", "--section=1", "--source=Vemlo",
                          "--name=build, inspect and unpack Vemlo packages", vpack],
                         capture_output=True, text=True, env=dict(os.environ, LC_ALL="C.UTF-8"))
    if man.returncode != 0:
        fail(f"help2man could not make the man page: {man.stderr.strip()}")
    page = os.path.join(staging, "usr", "share", "man", "man1", "vpack.1.gz")
    os.makedirs(os.path.dirname(page), exist_ok=True)
    with open(page, "wb") as f:
        f.write(gzip.compress(man.stdout.encode(), compresslevel=9, mtime=0))
    write(os.path.join(doc, "copyright"), notices(manifest, "Vemlo vpack"))
    stamp = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime("%a, %d %b %Y %H:%M:%S +0000")
    changelog = (f"{package} ({version}) unstable; urgency=medium\n\n  * Release {version}.\n\n"
                 f" -- Vemlo Release <release@vemlo.invalid>  {stamp}\n")
    with open(os.path.join(doc, "changelog.gz"), "wb") as f:
        f.write(gzip.compress(changelog.encode(), compresslevel=9, mtime=0))
    files = tree_files(staging)
    write(os.path.join(doc, f"{package}.cdx.json"),
          json.dumps(bom(manifest, package, staging, files, epoch), indent=2) + "\n")
    files = tree_files(staging)
    control = os.path.join(staging, "DEBIAN")
    os.makedirs(control, exist_ok=True)
    size = sum(os.path.getsize(os.path.join(staging, n)) for n in files)
    write(os.path.join(control, "control"),
          f"Package: {package}\nVersion: {version}\nArchitecture: amd64\n"
          f"Maintainer: Vemlo Release <release@vemlo.invalid>\nInstalled-Size: {(size + 1023) // 1024}\n"
          f"Depends: {shlib_depends(vpack)}\nSection: utils\nPriority: optional\n"
          "Description: package tool of the Vemlo client's setups\n"
          " vpack builds, inspects and unpacks Vemlo packages and assembles a Vemlo\n"
          " setup from the setup stub and the files it installs; it also handles the\n"
          " client's stored formats (password, digest files).\n")
    write(os.path.join(control, "md5sums"), "".join(
        f"{hashlib.md5(open(os.path.join(staging, n), 'rb').read()).hexdigest()}  {n}\n" for n in files))
    # Fixed times and permissions; owner root comes from --root-owner-group.
    for folder, dirs, names in os.walk(staging):
        for d in dirs:
            os.chmod(os.path.join(folder, d), 0o755)
        for n in names:
            p = os.path.join(folder, n)
            os.chmod(p, 0o755 if p == vpack else 0o644)
    for folder, dirs, names in os.walk(staging, topdown=False):
        for n in names + dirs:
            os.utime(os.path.join(folder, n), (epoch, epoch), follow_symlinks=False)
    os.utime(staging, (epoch, epoch))
    out = os.path.join(outdir, f"{package}_{version}_amd64.deb")
    got = subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "-z9", "--build", staging, out + ".part"],
                         capture_output=True, text=True, env=dict(os.environ, SOURCE_DATE_EPOCH=str(epoch)))
    if got.returncode != 0:
        fail(f"dpkg-deb failed: {got.stderr.strip()}")
    os.replace(out + ".part", out)
    return out


def main():
    if len(sys.argv) != 5 or sys.argv[1] != "pack":
        sys.exit("usage: kit.py pack MANIFEST STAGING OUTDIR")
    _, _, manifest_path, staging, outdir = sys.argv
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit():
        fail("SOURCE_DATE_EPOCH must be set to the release's time in seconds (scripts/kit sets it)")
    with open(manifest_path, encoding="utf-8") as f:
        manifest = json.load(f)
    if not os.path.isdir(staging):
        fail(f"{staging}: no staged install tree")
    os.makedirs(outdir, exist_ok=True)
    if manifest["kind"] == "deb":
        # Debian's copyright files name /usr/share/common-licenses for the texts left out here.
        for c in manifest["components"]:
            c["texts"] = [t for t in c["texts"] if t.get("deb", True)]
    pack = pack_zip if manifest["kind"] == "zip" else pack_deb
    print(pack(manifest, staging, outdir, int(epoch)))


if __name__ == "__main__":
    main()
