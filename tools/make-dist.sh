#!/usr/bin/env bash
# make-dist.sh BUILD_ROOT: packs what a user downloads into dist/kivdraw-<version>.zip: the release
# builds of KIVDRAW.OCX with their side-by-side manifests (x86/ from BUILD_ROOT/i686-clang, x64/ from
# BUILD_ROOT/x86_64-clang), the README with its picture, the examples, and what the C++ examples
# compile with (include/: the header and identifiers made from the interface description, and that
# description); and the modules' symbols (KIVDRAW.pdb, which each module names) into
# dist/kivdraw-<version>-symbols.zip, in the same folders, so that they unpack beside the modules.
# make-dist.sh --zip, --symbols-zip: prints that package's path (relative to the top folder);
# make-dist.sh --preset x86|x64: prints the build folder's name that the folder is packed from.
# Neither makes anything.
set -euo pipefail
version=1.00
zip_path=dist/kivdraw-$version.zip
symbols_path=dist/kivdraw-$version-symbols.zip
presets="i686-clang:x86 x86_64-clang:x64"
case "${1:-}" in
    --zip) echo "$zip_path"; exit 0 ;;
    --symbols-zip) echo "$symbols_path"; exit 0 ;;
    --preset)
        for pair in $presets; do [ "${pair##*:}" = "${2:-}" ] && { echo "${pair%%:*}"; exit 0; }; done
        echo "make-dist: no folder ${2:-}" >&2; exit 1 ;;
esac
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

stage=$(mktemp -d)
symbols=$(mktemp -d)
trap 'rm -rf "$stage" "$symbols"' EXIT
for pair in $presets; do
    preset=${pair%%:*} folder=${pair##*:}
    mkdir -p "$stage/$folder" "$symbols/$folder"
    for file in bin/KIVDRAW.OCX bin/KIVDRAW.manifest bin/KIVDRAW.pdb src/generated/kiv.h src/generated/kiv_i.c; do
        [ -f "$build/$preset/$file" ] || { echo "make-dist: $build/$preset/$file is missing: build first" >&2; exit 1; }
    done
    cp "$build/$preset/bin/KIVDRAW.OCX" "$build/$preset/bin/KIVDRAW.manifest" "$stage/$folder/"
    cp "$build/$preset/bin/KIVDRAW.pdb" "$symbols/$folder/"
done
# The header and identifiers are the same for both architectures. widl names the description's path
# on this machine in their first line; the package names the file only.
mkdir -p "$stage/include"
for file in kiv.h kiv_i.c; do
    sed '1s|from .*/kiv\.idl|from kiv.idl|' "$build/i686-clang/src/generated/$file" >"$stage/include/$file"
    cmp -s <(tail -n +2 "$build/i686-clang/src/generated/$file") <(tail -n +2 "$build/x86_64-clang/src/generated/$file") ||
        { echo "make-dist: the two builds' $file differ" >&2; exit 1; }
done
cp src/component/kiv.idl src/component/stdole_min.idl src/component/stdole_min.h "$stage/include/"
cp README.md "$stage/"
mkdir -p "$stage/docs"
cp docs/scene.png "$stage/docs/"
cp -r examples "$stage/"

mkdir -p dist
rm -f "$zip_path" "$symbols_path"
(cd "$stage" && zip -q -X -r "$top/$zip_path" x86 x64 README.md docs include examples)
(cd "$symbols" && zip -q -X -r "$top/$symbols_path" x86 x64)
echo "-- $zip_path, $symbols_path"
