#!/usr/bin/env python3
"""check-sbom.py TOP SCHEMAS: the zip's and the complete bill of materials are valid CycloneDX 1.6, list
exactly the files that each covers with the hashes of the files shipped, and give each module exactly what
its linker map names (as check-notices.sh reads it), with version, supplier, licence and package.

The official JSON schemas (CycloneDX publishes them under the Apache License 2.0) come from the npm package
@cyclonedx/cyclonedx-library, whose res/schema/ holds them as *.SNAPSHOT.schema.json, referring to each
other by those names; npm fetches the package into the folder SCHEMAS once, checking it against the
registry's integrity record."""
import hashlib
import json
import os
import subprocess
import sys
import tarfile
import warnings
import zipfile

import jsonschema

top = sys.argv[1]


def dist(*option):
    return subprocess.run([f"{top}/tools/make-dist.sh", *option], check=True, capture_output=True,
                          text=True).stdout.strip()


def digests(data):
    return {"SHA-256": hashlib.sha256(data).hexdigest(), "SHA-512": hashlib.sha512(data).hexdigest()}


def taken(folder):
    with open(os.path.join(top, "build", dist("--preset", folder), "bin", "KIVDRAW.map")) as f:
        ends = [line.split()[-1].split(":") for line in f if line.strip().endswith(".o")]
    return sorted({end[0] + ".a" if len(end) == 2 else end[0] for end in ends})


# The schemas found by their $id and by the names that they refer to each other by. Debian 12's jsonschema
# resolves with RefResolver, later ones too.
LIBRARY = "@cyclonedx/cyclonedx-library@10.3.0"
NAMES = ("bom-1.6", "spdx", "jsf-0.82")
schemas = {}
os.makedirs(sys.argv[2], exist_ok=True)
tarball = os.path.join(sys.argv[2], "cyclonedx-cyclonedx-library-10.3.0.tgz")
if not os.path.exists(tarball):
    subprocess.run(["npm", "pack", "--silent", "--pack-destination", sys.argv[2], LIBRARY], check=True,
                   stdout=subprocess.DEVNULL)
with tarfile.open(tarball) as package:
    for name in NAMES:
        schema = json.load(package.extractfile(f"package/res/schema/{name}.SNAPSHOT.schema.json"))
        schemas[schema["$id"]] = schemas[f"http://cyclonedx.org/schema/{name}.SNAPSHOT.schema.json"] = schema
root = schemas["http://cyclonedx.org/schema/bom-1.6.schema.json"]
with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    resolver = jsonschema.RefResolver.from_schema(root, store=schemas)
validator = jsonschema.Draft7Validator(root, resolver=resolver, format_checker=jsonschema.Draft7Validator.FORMAT_CHECKER)

zip_path = os.path.join(top, dist("--zip"))
with zipfile.ZipFile(zip_path) as package:
    shipped = {name: digests(package.read(name)) for name in package.namelist()}
    carried = json.loads(package.read("kivdraw.cdx.json"))
beside = {}
for path in [dist("--zip"), dist("--symbols-zip")] + [dist("--msi", k) for k in ("x86", "x64", "x86-peruser", "x64-peruser")]:
    with open(os.path.join(top, path), "rb") as f:
        beside[os.path.basename(path)] = digests(f.read())
with open(zip_path[:-len(".zip")] + ".cdx.json") as f:
    complete = json.load(f)
linked = {folder: taken(folder) for folder in ("x86", "x64")}

failures = []
inside = {name: sums for name, sums in shipped.items() if name != "kivdraw.cdx.json"}
for label, bom, files in (("the zip's bill of materials", carried, inside),
                          ("the complete bill of materials", complete, {**shipped, **beside})):
    failures += [f"{label}: /{'/'.join(map(str, e.absolute_path))}: {e.message}" for e in validator.iter_errors(bom)]
    components = {c.get("bom-ref"): c for c in bom.get("components", [])}
    listed = {c["name"]: {h["alg"]: h["content"] for h in c.get("hashes", [])}
              for c in components.values() if c.get("type") == "file"}
    failures += [f"{label} lists {name} with other hashes than the file shipped, or not at all"
                 for name in sorted(set(files) | set(listed)) if listed.get(name) != files.get(name)]
    depends = {d["ref"]: d.get("dependsOn", []) for d in bom.get("dependencies", [])}
    modules = [f"file:{folder}/KIVDRAW.OCX" for folder in linked]
    if sorted(depends.get(bom.get("metadata", {}).get("component", {}).get("bom-ref"), [])) != sorted(modules):
        failures.append(f"{label}: the product does not depend on exactly the two modules")
    for folder, module in zip(linked, modules):
        libraries = [components.get(ref, {"name": f"{ref} (no component)"}) for ref in depends.get(module, [])]
        if sorted(c["name"] for c in libraries) != linked[folder]:
            failures.append(f"{label}: {folder} has {sorted(c['name'] for c in libraries)}, not {linked[folder]}")
        failures += [f"{label}: {c['name']} has no {key}" for c in libraries if "bom-ref" in c
                     for key in ("version", "supplier", "licenses", "purl") if key not in c]

print("\n".join(f"FAIL: {failure}" for failure in failures) or
      f"PASS: both are valid CycloneDX 1.6 with the files shipped and the {len(linked['x86'])} and "
      f"{len(linked['x64'])} libraries linked")
sys.exit(1 if failures else 0)
