#!/usr/bin/env bash
# make-dist.sh BUILD_ROOT: packs what a user downloads into dist/kivdraw-<version>.zip: both builds of
# KIVDRAW.OCX with their side-by-side manifests (x86/, x64/), the README with its picture and the
# examples; and the modules' debugging symbols (KIVDRAW.OCX.debug, which each module names) into
# dist/kivdraw-<version>-symbols.zip, in the same folders, for resolving a crash address.
# make-dist.sh --zip, --symbols-zip: prints that package's path (relative to the top folder) and makes
# nothing.
set -euo pipefail
version=1.00
zip_path=dist/kivdraw-$version.zip
symbols_path=dist/kivdraw-$version-symbols.zip
if [ "${1:-}" = "--zip" ]; then echo "$zip_path"; exit 0; fi
if [ "${1:-}" = "--symbols-zip" ]; then echo "$symbols_path"; exit 0; fi
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

stage=$(mktemp -d)
symbols=$(mktemp -d)
trap 'rm -rf "$stage" "$symbols"' EXIT
for pair in i686:x86 x86_64:x64; do
    arch=${pair%%:*} folder=${pair##*:}
    mkdir -p "$stage/$folder" "$symbols/$folder"
    for file in KIVDRAW.OCX KIVDRAW.manifest KIVDRAW.OCX.debug; do
        [ -f "$build/$arch/bin/$file" ] || { echo "make-dist: $build/$arch/bin/$file is missing: build first" >&2; exit 1; }
    done
    cp "$build/$arch/bin/KIVDRAW.OCX" "$build/$arch/bin/KIVDRAW.manifest" "$stage/$folder/"
    cp "$build/$arch/bin/KIVDRAW.OCX.debug" "$symbols/$folder/"
done
cp README.md "$stage/"
mkdir -p "$stage/docs"
cp docs/scene.png "$stage/docs/"
cp -r examples "$stage/"

mkdir -p dist
rm -f "$zip_path" "$symbols_path"
(cd "$stage" && zip -q -X -r "$top/$zip_path" x86 x64 README.md docs examples)
(cd "$symbols" && zip -q -X -r "$top/$symbols_path" x86 x64)
echo "-- $zip_path, $symbols_path"
