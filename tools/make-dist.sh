#!/usr/bin/env bash
# make-dist.sh BUILD_ROOT: packs what a user downloads into dist/kivdraw-<version>.zip: both builds of
# KIVDRAW.OCX with their side-by-side manifests (x86/, x64/), the README and the examples.
# make-dist.sh --zip: prints the package's path (relative to the top folder) and makes nothing.
set -euo pipefail
version=1.00
zip_path=dist/kivdraw-$version.zip
if [ "${1:-}" = "--zip" ]; then echo "$zip_path"; exit 0; fi
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for pair in i686:x86 x86_64:x64; do
    arch=${pair%%:*} folder=${pair##*:}
    mkdir -p "$stage/$folder"
    for file in KIVDRAW.OCX KIVDRAW.manifest; do
        [ -f "$build/$arch/bin/$file" ] || { echo "make-dist: $build/$arch/bin/$file is missing: build first" >&2; exit 1; }
        cp "$build/$arch/bin/$file" "$stage/$folder/"
    done
done
cp README.md "$stage/"
cp -r examples "$stage/"

mkdir -p dist
rm -f "$zip_path"
(cd "$stage" && zip -q -X -r "$top/$zip_path" x86 x64 README.md examples)
echo "-- $zip_path"
