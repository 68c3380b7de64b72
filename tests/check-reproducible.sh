#!/usr/bin/env bash
# check-reproducible.sh TOP WORK: builds the release files a second time, from a copy of the checkout
# TOP in WORK (another folder, so other absolute paths), and compares them byte for byte with those of
# TOP's release builds: each module, its PDB and manifest, the two zips that make-dist.sh packs from
# each side (the bill of materials in the zip among their files), and the complete bill of materials
# but for the installer packages' hashes and its serial number, made from them: wixl gives each
# package a code of its own. A file that differs is named, with the first of its texts that differ (a
# folder or a time shows there) and, where Debian's diffoscope is installed, its first differences.
#
# The copy builds only what the packing needs (the modules with their PDBs and manifests, the generated
# header and identifiers, the installer's registry entries), both sides pack at the same release time,
# and neither signs.
set -uo pipefail
top=$1 work=$2
second=$work/checkout
unset SIGN_PFX SIGN_PASSWORD
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work" && mkdir -p "$second" || fail "no folder $work"
# The checkout as it is, uncommitted changes included, without its builds, packages and history.
tar -C "$top" --exclude=./.git --exclude=./build --exclude='./build-*' --exclude=./dist --exclude=./demo/out -cf - . |
    tar -C "$second" -xf - || fail "the checkout could not be copied"
presets="$("$top/tools/make-dist.sh" --preset x86) $("$top/tools/make-dist.sh" --preset x64)"
for preset in $presets; do
    (cd "$second" && cmake --preset "$preset" --log-level=WARNING &&
         tools/with-wine.sh "build/$preset" cmake --build --preset "$preset" \
             --target kivdraw kivdraw_manifest kivdraw_installer_registry) >"$work/build-$preset.log" 2>&1 ||
        { cat "$work/build-$preset.log"; fail "the second build of $preset failed"; }
done
"$top/tools/make-dist.sh" "$top/build" --out "$work/first-dist" >/dev/null || fail "make-dist.sh of $top"
"$second/tools/make-dist.sh" "$second/build" --out "$work/second-dist" >/dev/null || fail "make-dist.sh of the copy"

status=0
# same NAME FIRST SECOND
same() {
    cmp -s "$2" "$3" && return 0
    echo "FAIL: $1 differs between the two builds"
    diff <(strings -n 8 "$2") <(strings -n 8 "$3") | head -n 10
    if command -v diffoscope >/dev/null; then diffoscope --text - "$2" "$3" 2>&1 | head -n 40; fi
    status=1
}
for preset in $presets; do
    for file in KIVDRAW.OCX KIVDRAW.pdb KIVDRAW.manifest; do
        same "$preset's $file" "$top/build/$preset/bin/$file" "$second/build/$preset/bin/$file"
    done
done
for zip in "$work"/first-dist/*.zip; do
    same "${zip##*/}" "$zip" "$work/second-dist/${zip##*/}"
done
# The complete bills of materials, without the installer packages and the serial number.
for side in first second; do
    python3 -c 'import json, sys
bom = json.load(open(sys.argv[1])); del bom["serialNumber"]
bom["components"] = [c for c in bom["components"] if not c["name"].endswith(".msi")]
print(json.dumps(bom, indent=2, sort_keys=True))' "$work/$side-dist"/*.cdx.json >"$work/$side.cdx.json" ||
        fail "no bill of materials in $work/$side-dist"
done
same "the bill of materials" "$work/first.cdx.json" "$work/second.cdx.json"
[ $status -eq 0 ] && echo "PASS: the second build made the same modules, PDBs, manifests, zips and bill of materials:" \
    "$(cd "$work/first-dist" && sha256sum ./*.zip | xargs)"
exit $status
