#!/usr/bin/env python3
"""make-sbom.py VERSION EPOCH ROOT --module FOLDER:BUILD:TRIPLET ... [--beside FILE ...]: writes to
standard output a CycloneDX 1.6 bill of materials of a KivDraw release: the product (version VERSION,
its time EPOCH, in seconds), every file below ROOT (the download as packed) with its SHA-256 and
SHA-512, and, for each module ROOT/FOLDER/KIVDRAW.OCX, the runtime libraries and start files that its
link took, as the build folder BUILD's linker map names them, each found where that link (the target
TRIPLET, the linker flags in BUILD's CMake cache) finds it, with the Debian package that installed it.
Each FILE named with --beside is listed too, by its name alone.

Two bills of materials come out of a release, as none can hold its own hash nor that of a package
that carries it. The one that the zip carries, and the installer packages beside each module, lists
the download's files; it is made before it joins them, so it leaves itself out. The complete one,
beside the zip, lists the download's files with that first one among them, and the zip, the symbols
zip and the installer packages as shipped (signed, when make-dist.sh signs).

A runtime library is one component for each target: both modules link the same libraries of the same
versions, but each its own architecture's build of them, from a Debian package of its own.

The same inputs give the same bytes: keys and lists sorted, fixed indentation, the release's time
and no random serial number: it is derived from the document's own contents."""
import argparse
import datetime
import hashlib
import json
import os
import subprocess
import sys
import urllib.parse
import uuid

# The namespace of the serial numbers (uuid5, as uuidgen --sha1): the bill of materials' contents name
# each one within it.
SERIAL_NAMESPACE = uuid.UUID("115ec646-8c41-4a4b-9277-fafe355b1c48")

# The terms of each Debian source package whose files a module links, as THIRD-PARTY-NOTICES gives
# them. Most of the mingw-w64 runtime is under the Zope Public License 2.1; its start-up code
# (mingw-w64-crt/crt in Debian's copyright file), the DLL entry point and the few C functions that the
# modules take from libmingwex.a are in the public domain, which SPDX has no identifier for.
LICENCES = {
    "gcc-mingw-w64": {None: "GPL-3.0-or-later WITH GCC-exception-3.1"},
    "mingw-w64": {None: "ZPL-2.1",
                  "dllcrt2.o": "LicenseRef-public-domain AND ZPL-2.1",
                  "libmingw32.a": "LicenseRef-public-domain AND ZPL-2.1",
                  "libmingwex.a": "LicenseRef-public-domain AND ZPL-2.1"},
}


def fail(message):
    sys.exit(f"make-sbom: {message}")


def hashes(path):
    sums = [hashlib.sha256(), hashlib.sha512()]
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            for s in sums:
                s.update(block)
    return [{"alg": "SHA-256", "content": sums[0].hexdigest()}, {"alg": "SHA-512", "content": sums[1].hexdigest()}]


def file_component(name, path):
    return {"bom-ref": f"file:{name}", "type": "file", "name": name, "hashes": hashes(path)}


def taken(map_path):
    """What the link took, as tests/check-notices.sh reads the map: the last column names
    "library:member.o" for a member of an archive, "name.o" for a start file."""
    names = set()
    with open(map_path) as f:
        for line in f:
            fields = line.split()
            if fields and fields[-1].endswith(".o"):
                part = fields[-1].split(":")
                names.add(part[0] + ".a" if len(part) == 2 else part[0])
    if not names:
        fail(f"{map_path} names no library that the link took members from")
    return sorted(names)


def link_flags(build):
    """The -B and -L folders of the module's link (CMAKE_SHARED_LINKER_FLAGS, from the toolchain)."""
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("CMAKE_SHARED_LINKER_FLAGS:"):
                return [flag for flag in line.split("=", 1)[1].split() if flag[:2] in ("-B", "-L")]
    fail(f"{build} has no CMAKE_SHARED_LINKER_FLAGS")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout.strip()


def library_component(name, triplet, flags):
    # The driver that linked the module says which file of that name the link found.
    path = run("clang", f"--target={triplet}", *flags, f"-print-file-name={name}")
    if not os.path.isabs(path):
        fail(f"no {name} for {triplet}")
    path = os.path.realpath(path)
    package = run("dpkg-query", "--search", path).split(":")[0]
    source, version, arch = run("dpkg-query", "-W", "-f=${source:Package}\t${Version}\t${Architecture}",
                                package).split("\t")
    terms = LICENCES.get(source) or fail(f"{name} comes from {source}, whose terms are not known")
    purl_name, purl_version = (urllib.parse.quote(text, safe="") for text in (package, version))
    return {
        "bom-ref": f"lib:{triplet}/{name}",
        "type": "library",
        "name": name,
        # The upstream version: the Debian one without epoch and revision.
        "version": version.split(":")[-1].rsplit("-", 1)[0],
        "supplier": {"name": "Debian", "url": ["https://www.debian.org/"]},
        "licenses": [{"expression": terms.get(name, terms[None])}],
        "purl": f"pkg:deb/debian/{purl_name}@{purl_version}?arch={arch}&distro=debian-12",
        "hashes": hashes(path),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("version")
    parser.add_argument("epoch", type=int)
    parser.add_argument("root")
    parser.add_argument("--module", action="append", default=[])
    parser.add_argument("--beside", action="append", default=[])
    args = parser.parse_args()

    components = {}
    for folder, _, files in os.walk(args.root):
        for file in files:
            path = os.path.join(folder, file)
            component = file_component(os.path.relpath(path, args.root), path)
            components[component["bom-ref"]] = component
    for path in args.beside:
        component = file_component(os.path.basename(path), path)
        components[component["bom-ref"]] = component

    product = {
        "bom-ref": "kivdraw",
        "type": "library",
        "name": "KivDraw",
        "version": args.version,
        "description": "KIVDRAW.OCX, the KivDraw control (type library Kiv), for 32-bit and 64-bit Windows",
        "supplier": {"name": "Kiv"},
        "licenses": [{"license": {"id": "MIT"}}],
    }
    dependencies = {"kivdraw": set()}
    for module in args.module:
        folder, build, triplet = module.split(":")
        module_ref = f"file:{folder}/KIVDRAW.OCX"
        if module_ref not in components:
            fail(f"{args.root} has no {folder}/KIVDRAW.OCX")
        dependencies["kivdraw"].add(module_ref)
        dependencies[module_ref] = set()
        flags = link_flags(build)
        for name in taken(os.path.join(build, "bin", "KIVDRAW.map")):
            library = library_component(name, triplet, flags)
            components[library["bom-ref"]] = library
            dependencies[module_ref].add(library["bom-ref"])
            dependencies.setdefault(library["bom-ref"], set())

    moment = datetime.datetime.fromtimestamp(args.epoch, datetime.timezone.utc)
    bom = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": {"timestamp": moment.strftime("%Y-%m-%dT%H:%M:%SZ"), "component": product},
        "components": sorted(components.values(), key=lambda c: c["bom-ref"]),
        "dependencies": [{"ref": ref, "dependsOn": sorted(on)} for ref, on in sorted(dependencies.items())],
    }
    text = json.dumps(bom, indent=2, sort_keys=True, ensure_ascii=False)
    bom["serialNumber"] = "urn:uuid:" + str(uuid.uuid5(SERIAL_NAMESPACE, f"{args.version}\n{text}"))
    sys.stdout.write(json.dumps(bom, indent=2, sort_keys=True, ensure_ascii=False) + "\n")


if __name__ == "__main__":
    main()
