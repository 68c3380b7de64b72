#!/usr/bin/env python3
"""check-sbom.py TOP: the bills of materials that make dist wrote, the one in the zip and the complete
one beside it, are valid CycloneDX 1.6 (the official schema, tests/cyclonedx/), each lists exactly
the files that it covers with the hashes of the files as shipped, and each names, for each module,
every library and start file that the module's linker map names, and only those."""
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
    """A path that make-dist.sh names (--zip, --msi KIND, --preset FOLDER ...)."""
    return subprocess.run([f"{top}/tools/make-dist.sh", *option], check=True, capture_output=True,
                          text=True).stdout.strip()


def digests(data):
    return {"SHA-256": hashlib.sha256(data).hexdigest(), "SHA-512": hashlib.sha512(data).hexdigest()}


def taken(map_path):
    """As check-notices.sh reads the map: "library:member.o" for an archive's member, "name.o" else."""
    with open(map_path) as f:
        ends = [line.split()[-1].split(":") for line in f if line.split() and line.split()[-1].endswith(".o")]
    return sorted({part[0] + ".a" if len(part) == 2 else part[0] for part in ends})


# The schema and the two that it refers to, each found by its $id. Debian 12's jsonschema resolves
# references with RefResolver, which later versions keep but call deprecated.
schemas = {}
for path in glob.glob(os.path.join(os.path.dirname(os.path.abspath(__file__)), "cyclonedx", "*.schema.json")):
    with open(path) as f:
        schema = json.load(f)
    schemas[schema["$id"]] = schema
bom_schema = schemas["http://cyclonedx.org/schema/bom-1.6.schema.json"]
with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    resolver = jsonschema.RefResolver.from_schema(bom_schema, store=schemas)
validator = jsonschema.Draft7Validator(bom_schema, resolver=resolver,
                                       format_checker=jsonschema.Draft7Validator.FORMAT_CHECKER)

zip_path = os.path.join(top, dist("--zip"))
with zipfile.ZipFile(zip_path) as package:
    shipped = {name: digests(package.read(name)) for name in package.namelist()}
    carried = json.loads(package.read("kivdraw.cdx.json"))
beside = {}
kinds = ("x86", "x64", "x86-peruser", "x64-peruser")
for path in [dist("--zip"), dist("--symbols-zip")] + [dist("--msi", kind) for kind in kinds]:
    with open(os.path.join(top, path), "rb") as f:
        beside[os.path.basename(path)] = digests(f.read())
with open(zip_path[:-len(".zip")] + ".cdx.json") as f:
    complete = json.load(f)
linked = {folder: taken(os.path.join(top, "build", dist("--preset", folder), "bin", "KIVDRAW.map"))
          for folder in ("x86", "x64")}

failures = []
inside = {name: sums for name, sums in shipped.items() if name != "kivdraw.cdx.json"}
for label, bom, files in (("kivdraw.cdx.json in the zip", carried, inside),
                          ("the complete bill of materials", complete, {**shipped, **beside})):
    failures += [f"{label}: /{'/'.join(map(str, error.absolute_path))}: {error.message}"
                 for error in validator.iter_errors(bom)]
    components = {c.get("bom-ref"): c for c in bom.get("components", [])}
    listed = {c["name"]: {h["alg"]: h["content"] for h in c.get("hashes", [])}
              for c in components.values() if c.get("type") == "file"}
    for name in sorted(set(files) | set(listed)):
        if name not in files:
            failures.append(f"{label} lists {name}, which is not shipped")
        elif listed.get(name) != files[name]:
            failures.append(f"{label}: {name} is " + ("listed with other hashes" if name in listed else "missing"))
    depends = {d["ref"]: d.get("dependsOn", []) for d in bom.get("dependencies", [])}
    modules = [f"file:{folder}/KIVDRAW.OCX" for folder in linked]
    product = bom.get("metadata", {}).get("component", {}).get("bom-ref")
    if sorted(depends.get(product, [])) != sorted(modules):
        failures.append(f"{label}: the product does not depend on exactly the two modules")
    for folder, names in linked.items():
        libraries = [components.get(ref, {"name": f"{ref} (no component)"})
                     for ref in depends.get(f"file:{folder}/KIVDRAW.OCX", [])]
        if sorted(c["name"] for c in libraries) != names:
            failures.append(f"{label}: {folder}'s libraries are {sorted(c['name'] for c in libraries)}, "
                            f"the link took {names}")
        failures += [f"{label}: {c['name']} lacks its {key}" for c in libraries if "bom-ref" in c
                     for key in ("version", "supplier", "licenses", "purl") if key not in c]

for failure in failures:
    print("FAIL:", failure)
if not failures:
    print(f"PASS: both bills of materials are valid CycloneDX 1.6 and list {len(shipped)} files in the zip, "
          f"{len(beside)} beside it and the {len(linked['x86'])} and {len(linked['x64'])} libraries linked")
sys.exit(1 if failures else 0)
