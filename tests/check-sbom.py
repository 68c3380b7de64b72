#!/usr/bin/env python3
"""check-sbom.py TOP: the zip's and the complete bill of materials are valid CycloneDX 1.6 (tests/cyclonedx/),
list exactly the files that each covers with the hashes of the files shipped, and give each module exactly
what its linker map names (as check-notices.sh reads it), with version, supplier, licence and package."""
import glob
import hashlib
import json
import os
import subprocess
import sys
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


# The schemas found by their $id. Debian 12's jsonschema resolves with RefResolver, later ones too.
schemas = {}
for path in glob.glob(os.path.join(os.path.dirname(os.path.abspath(__file__)), "cyclonedx", "*.schema.json")):
    with open(path) as f:
        schema = json.load(f)
    schemas[schema["$id"]] = schema
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
