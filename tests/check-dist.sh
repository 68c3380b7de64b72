#!/usr/bin/env bash
# check-dist.sh TOP BUILD_DIR FOLDER: unpacks the package that make dist wrote and checks that it holds
# exactly the two modules with their manifests, the README with its picture, the licence, the
# third-party notices, the security policy, the bill of materials, the examples and include/ (the
# header and identifiers, which must be this build's, with no path of the build machine, and the
# interface description); that both zips hold their entries in the order of their names, each with
# the release's time (which the bill of materials records); that each folder's module is built for its
# processor; that the symbols package holds exactly the two PDB files; and that the x86 installer
# packages hold exactly the 32-bit module and manifest, the x64 ones both modules and manifests, each
# with the licence, the notices, the security policy and the zip's bill of materials beside it. When
# BUILD_DIR is the build that FOLDER (x86 or x64) is packed from, its module, manifest and PDB in the
# packages must be byte for byte those that the tests ran (a module that make dist signed, once its
# signature is removed); the other builds are tested but not shipped.
set -uo pipefail
top=$1 build=$2 folder=$3
zip=$top/$("$top/tools/make-dist.sh" --zip)
[ -f "$zip" ] || { echo "FAIL: no package $zip (make test and make dist write it)"; exit 1; }
out=$build/dist-unpacked
rm -rf "$out" && mkdir -p "$out"
unzip -q "$zip" -d "$out" || { echo "FAIL: the package does not unpack"; exit 1; }
shipped=no
[ "$(basename "$build")" = "$("$top/tools/make-dist.sh" --preset "$folder")" ] && shipped=yes

expected=$( (printf '%s\n' x86/KIVDRAW.OCX x86/KIVDRAW.manifest x64/KIVDRAW.OCX x64/KIVDRAW.manifest README.md \
                            LICENSE THIRD-PARTY-NOTICES SECURITY.md kivdraw.cdx.json docs/scene.png include/kiv.h \
                            include/kiv_i.c include/kiv.idl include/stdole_min.idl include/stdole_min.h;
             cd "$top" && find examples -type f) | sort)
found=$(cd "$out" && find . -type f | sed 's|^\./||' | sort)
status=0
if [ "$found" != "$expected" ]; then
    echo "FAIL: the package holds other files than expected:"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$found")
    status=1
fi
# Whether the packed file $1 is the tested $2: byte for byte or, signed, once osslsigncode has removed
# the signature and the PE checksum that signing set is the tested module's again.
tested() {
    cmp -s "$1" "$2" && return 0
    osslsigncode remove-signature -in "$1" -out "$1.unsigned" >/dev/null 2>&1 || return 1
    local checksum=$(( $(od -An -t u4 -j 60 -N 4 "$2" | tr -d ' ') + 88 ))
    dd if="$2" of="$1.unsigned" bs=1 skip=$checksum seek=$checksum count=4 conv=notrunc status=none
    cmp -s "$1.unsigned" "$2"
}
if [ $shipped = yes ]; then
    for file in KIVDRAW.OCX KIVDRAW.manifest; do
        tested "$out/$folder/$file" "$build/bin/$file" || { echo "FAIL: $folder/$file is not the tested $file"; status=1; }
    done
fi
for file in README.md LICENSE THIRD-PARTY-NOTICES SECURITY.md; do
    cmp -s "$out/$file" "$top/$file" || { echo "FAIL: $file differs"; status=1; }
done
# The same files make the same zip only in the same order and with the same times: the entries sorted
# by name, each stored at the release's time (zip keeps two-second steps and rounds an odd second up).
release=$(date -u -d "$(sed -n 's/^ *"timestamp": "\(.*\)",\{0,1\}$/\1/p' "$out/kivdraw.cdx.json" 2>/dev/null)" +%s) ||
    { echo "FAIL: the bill of materials gives no release time"; status=1; }
stamp=$(TZ=UTC date -d "@$(( (release + 1) / 2 * 2 ))" +%Y%m%d.%H%M%S)
for packed in "$zip" "$top/$("$top/tools/make-dist.sh" --symbols-zip)"; do
    names=$(zipinfo -1 "$packed")
    [ "$names" = "$(LC_ALL=C sort <<<"$names")" ] || { echo "FAIL: ${packed##*/} is not in the order of names"; status=1; }
    other=$(TZ=UTC zipinfo -T "$packed" | awk -v stamp="$stamp" 'NF == 8 && $7 != stamp { print $8 }')
    [ -z "$other" ] || { echo "FAIL: in ${packed##*/}, other times than the release's ($stamp UTC):" $other; status=1; }
done
cmp -s "$out/docs/scene.png" "$top/docs/scene.png" || { echo "FAIL: docs/scene.png differs"; status=1; }
diff -r -q "$out/examples" "$top/examples" || { echo "FAIL: the examples differ"; status=1; }
for file in kiv.idl stdole_min.idl stdole_min.h; do
    cmp -s "$out/include/$file" "$top/src/component/$file" || { echo "FAIL: include/$file differs"; status=1; }
done
# The generated files below their first line, which names the interface description.
for file in kiv.h kiv_i.c; do
    cmp -s <(tail -n +2 "$out/include/$file") <(tail -n +2 "$build/src/generated/$file") ||
        { echo "FAIL: include/$file is not this build's"; status=1; }
done
if grep -rlF "$top" "$out/include"; then echo "FAIL: include/ names a path of the build machine"; status=1; fi

# The PE header's machine field: 0x014C for x86, 0x8664 for x64.
machine() {
    local offset
    offset=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
    od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' '
}
[ "$(machine "$out/x86/KIVDRAW.OCX")" = 014c ] || { echo "FAIL: x86/KIVDRAW.OCX is not an x86 module"; status=1; }
[ "$(machine "$out/x64/KIVDRAW.OCX")" = 8664 ] || { echo "FAIL: x64/KIVDRAW.OCX is not an x64 module"; status=1; }
grep -q 'processorArchitecture="x86"' "$out/x86/KIVDRAW.manifest" || { echo "FAIL: x86/KIVDRAW.manifest"; status=1; }
grep -q 'processorArchitecture="amd64"' "$out/x64/KIVDRAW.manifest" || { echo "FAIL: x64/KIVDRAW.manifest"; status=1; }
# The installer packages, for every user and per user: the x86 ones exactly the 32-bit module and its
# manifest, the x64 ones both modules with theirs, each known by its processor, and beside each module
# the licence and the notices as the source tree has them; and, where FOLDER is shipped, FOLDER's
# module and manifest the tested ones.
arch_of() { machine "$1" | sed 's/^014c$/x86/; s/^8664$/x64/'; }
for kind in x86 x86-peruser x64 x64-peruser; do
    files=$build/dist-msi-unpacked/$kind
    rm -rf "$files" && mkdir -p "$files"
    msiextract -C "$files" "$top/$("$top/tools/make-dist.sh" --msi "$kind")" >/dev/null ||
        { echo "FAIL: no $kind installer package"; status=1; continue; }
    mapfile -t unpacked < <(find "$files" -type f)
    found=$(for file in "${unpacked[@]}"; do
        name=$(basename "$file") arch=other
        case $name in
            KIVDRAW.OCX) arch=$(arch_of "$file") ;;
            KIVDRAW.manifest) arch=$(sed -n 's/.*processorArchitecture="\([a-z0-9]*\)".*/\1/p' "$file" | sed 's/amd64/x64/') ;;
            LICENSE | THIRD-PARTY-NOTICES | SECURITY.md | kivdraw.cdx.json)
                arch=$(arch_of "$(dirname "$file")/KIVDRAW.OCX")
                [ "$name" = kivdraw.cdx.json ] && original=$out/$name || original=$top/$name
                cmp -s "$file" "$original" || arch=changed ;;
        esac
        echo "$arch/$name"
        [ $shipped = yes ] && [ "$arch" = "$folder" ] && [ "${name%.*}" = KIVDRAW ] && ! tested "$file" "$build/bin/$name" &&
            echo "untested/$name"
    done | LC_ALL=C sort | xargs)
    each="KIVDRAW.OCX KIVDRAW.manifest LICENSE SECURITY.md THIRD-PARTY-NOTICES kivdraw.cdx.json"
    expected=$(printf 'x86/%s ' $each)
    [ "${kind%-peruser}" = x64 ] && expected=$(printf 'x64/%s ' $each)$expected
    expected=${expected% }
    [ "$found" = "$expected" ] ||
        { echo "FAIL: the $kind installer package holds $found, not the tested $expected"; status=1; }
done
# The symbols: the two PDB files, this folder's byte for byte the one that the build wrote with the
# tested module.
symbols_zip=$top/$("$top/tools/make-dist.sh" --symbols-zip)
symbols=$build/dist-symbols-unpacked
rm -rf "$symbols" && mkdir -p "$symbols"
if unzip -q "$symbols_zip" -d "$symbols"; then
    found=$(cd "$symbols" && find . -type f | sed 's|^\./||' | sort)
    [ "$found" = "$(printf '%s\n' x64/KIVDRAW.pdb x86/KIVDRAW.pdb)" ] ||
        { echo "FAIL: the symbols package holds other files than expected:"; echo "$found"; status=1; }
    if [ $shipped = yes ]; then
        cmp -s "$symbols/$folder/KIVDRAW.pdb" "$build/bin/KIVDRAW.pdb" ||
            { echo "FAIL: $folder/KIVDRAW.pdb is not the tested module's"; status=1; }
    fi
else
    echo "FAIL: no symbols package $symbols_zip"
    status=1
fi
if [ $status -eq 0 ]; then
    if [ $shipped = yes ]; then
        echo "the package and the installer packages hold the tested $folder module, the symbols package its symbols"
    else
        echo "the package is complete; this build is tested but not shipped, so its module is not compared"
    fi
fi
exit $status
