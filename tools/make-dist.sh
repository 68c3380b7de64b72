#!/usr/bin/env bash
# make-dist.sh BUILD_ROOT [--out DIR] [--version NUMBER]: packs what a user downloads into
# dist/kivdraw-<version>.zip: the release builds of KIVDRAW.OCX with their side-by-side manifests (x86/
# from BUILD_ROOT/i686-clang, x64/ from BUILD_ROOT/x86_64-clang), the README with its picture, the
# examples, and what the C++ examples compile with (include/: the header and identifiers made from the
# interface description, and that description); the modules' symbols (KIVDRAW.pdb, which each module
# names) into dist/kivdraw-<version>-symbols.zip, in the same folders, so that they unpack beside the
# modules; and the Windows Installer packages, built with wixl from tools/installer/kivdraw.wxs and
# the registry entries that the builds harvested from the modules: dist/kivdraw-<version>-x86.msi (the
# 32-bit module, for 32-bit Windows) and -x64.msi (both modules, for 64-bit Windows), for every user,
# and -x86-peruser.msi and -x64-peruser.msi, the same for the current user. Each package's components
# get GUIDs derived from what they hold (see follow_contents below).
#
# The version is the project's (the builds write it to version.txt). With SIGN_PFX (a PKCS#12 file)
# and SIGN_PASSWORD in the environment, osslsigncode signs the modules before they are packed, then
# the installer packages; with SIGN_TIMESTAMP_URL too, each signature is time-stamped by that RFC 3161
# service, so that it stays valid after the certificate expires. The download and the packages carry
# LICENSE, THIRD-PARTY-NOTICES, SECURITY.md and a CycloneDX bill of materials, kivdraw.cdx.json
# (tools/make-sbom.py: the download's files and what each module linked); the complete one, which
# lists the zips and the packages too, goes beside them, dist/kivdraw-<version>.cdx.json. The same files
# make the same zips: each file carries the release's time, SOURCE_DATE_EPOCH from the environment or
# else the last commit's. Last it prints the SHA-256 of each module, PDB and zip and of the zip's bill
# of materials, for anyone to compare with a build of their own (the complete one differs with the
# installer packages, which are not reproducible). --out DIR writes into DIR instead of dist/;
# --version NUMBER packs the installer packages as that version, and names every file with NUMBER as
# given (the tests' upgrade).
#
# make-dist.sh --zip, --symbols-zip, --msi KIND (x86, x64, x86-peruser, x64-peruser): prints that
# package's path (relative to the top folder), of the version that the builds in build/ were
# configured with; make-dist.sh --preset x86|x64: prints the build folder's name that the folder is
# packed from. Neither makes anything.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
presets="i686-clang:x86 x86_64-clang:x64"
# Each package's upgrade code, fixed for good: a later version of a package replaces an earlier one
# of the same code, and the four can be installed side by side.
upgrade_codes="x86:9A1118C2-ABDC-4B1B-8B90-C13612D6B1C4 x64:BBA18093-6046-4C16-BF20-DFCF0D3BB56F
               x86-peruser:A0CCD554-F635-443F-A0EB-D6F25B98ACA0 x64-peruser:DCC29A15-0EB2-4D17-87B7-27C896EB5CDE"

# The version (number, text) of the release builds below $1, which must agree.
read_version() {
    local pair file first=""
    for pair in $presets; do
        file=$1/${pair%%:*}/version.txt
        [ -f "$file" ] || { echo "make-dist: $file is missing: build first" >&2; exit 1; }
        [ -z "$first" ] && first=$(cat "$file")
        [ "$(cat "$file")" = "$first" ] || { echo "make-dist: the release builds are of different versions" >&2; exit 1; }
    done
    number=$(sed -n 1p <<<"$first") text=$(sed -n 2p <<<"$first")
}

case "${1:-}" in
    --zip|--symbols-zip|--msi)
        read_version "$top/build"
        case $1 in
            --zip) echo "dist/kivdraw-$text.zip" ;;
            --symbols-zip) echo "dist/kivdraw-$text-symbols.zip" ;;
            --msi) echo "dist/kivdraw-$text-${2:?}.msi" ;;
        esac
        exit 0 ;;
    --preset)
        for pair in $presets; do [ "${pair##*:}" = "${2:-}" ] && { echo "${pair%%:*}"; exit 0; }; done
        echo "make-dist: no folder ${2:-}" >&2; exit 1 ;;
esac
build=$(cd "$1" && pwd)
shift
out=$top/dist
read_version "$build"
while [ $# -gt 0 ]; do
    case $1 in
        --out) mkdir -p "$2"; out=$(cd "$2" && pwd); shift 2 ;;
        --version) number=$2 text=$2; shift 2 ;;
        *) echo "make-dist: unknown option $1" >&2; exit 2 ;;
    esac
done
signing=no
if [ -n "${SIGN_PFX:-}" ]; then
    [ -f "$SIGN_PFX" ] || { echo "make-dist: no certificate $SIGN_PFX" >&2; exit 1; }
    SIGN_PFX=$(realpath "$SIGN_PFX") signing=yes
fi
cd "$top"
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
[ -n "$epoch" ] || { echo "make-dist: no commit to take the release's time from: set SOURCE_DATE_EPOCH" >&2; exit 1; }
zip_path=$out/kivdraw-$text.zip
symbols_path=$out/kivdraw-$text-symbols.zip
bom_path=$out/kivdraw-$text.cdx.json
# Signs $1 in place, time-stamped when a service is named. The password goes through a file
# descriptor, not the command line.
sign() {
    osslsigncode sign -pkcs12 "$SIGN_PFX" -readpass <(printf '%s' "${SIGN_PASSWORD:-}") -n "KivDraw" -h sha256 \
        ${SIGN_TIMESTAMP_URL:+-ts "$SIGN_TIMESTAMP_URL"} -in "$1" -out "$1.signed" >/dev/null
    mv "$1.signed" "$1"
}

stage=$(mktemp -d)
symbols=$(mktemp -d)
installer=$(mktemp -d)
trap 'rm -rf "$stage" "$symbols" "$installer"' EXIT
for pair in $presets; do
    preset=${pair%%:*} folder=${pair##*:}
    mkdir -p "$stage/$folder" "$symbols/$folder"
    for file in bin/KIVDRAW.OCX bin/KIVDRAW.manifest bin/KIVDRAW.pdb src/generated/kiv.h src/generated/kiv_i.c \
                installer/registry-{machine,user}{,-shared}.wxi; do
        [ -f "$build/$preset/$file" ] || { echo "make-dist: $build/$preset/$file is missing: build first" >&2; exit 1; }
    done
    cp "$build/$preset/bin/KIVDRAW.OCX" "$build/$preset/bin/KIVDRAW.manifest" "$stage/$folder/"
    cp "$build/$preset/bin/KIVDRAW.pdb" "$symbols/$folder/"
    # Signing leaves the module's CodeView record as it is: the PDB still matches.
    [ $signing = no ] || sign "$stage/$folder/KIVDRAW.OCX"
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
cp README.md LICENSE THIRD-PARTY-NOTICES SECURITY.md "$stage/"
mkdir -p "$stage/docs"
cp docs/scene.png "$stage/docs/"
cp -r examples "$stage/"
# The bill of materials of the files above, which the zip and the packages carry (without itself).
modules=()
for pair in $presets; do
    preset=${pair%%:*}
    modules+=(--module "${pair##*:}:$build/$preset:${preset%%-*}-w64-mingw32")
done
tools/make-sbom.py "$text" "$epoch" "$stage" "${modules[@]}" >"$installer/kivdraw.cdx.json"
cp "$installer/kivdraw.cdx.json" "$stage/"

# Packs the folder $1 into the zip $2 so that the same files give the same bytes: the files go in
# sorted by name, each with the release's time (stored as UTC), read-write modes (executable where any
# was) and no folder entries; -X leaves out the owner and the extra time fields.
pack() {
    chmod -R u=rwX,go=rX "$1"
    find "$1" -exec touch -h -d "@$epoch" {} +
    (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort | TZ=UTC zip -q -X -D "$2" -@)
}
mkdir -p "$out"
rm -f "$zip_path" "$symbols_path" "$bom_path"
pack "$stage" "$zip_path"
pack "$symbols" "$symbols_path"

# The installer packages, from the modules just packed, each folder with its build's registry entries.
# Both builds write the values that the architectures share; the packages take the 32-bit build's,
# which must be the 64-bit build's too. Each version of each package has a product code of its own,
# derived from the package's upgrade code and the version, so that the same version built again is
# the same product.
cp LICENSE THIRD-PARTY-NOTICES SECURITY.md "$installer/"
for pair in $presets; do
    preset=${pair%%:*} folder=${pair##*:}
    mkdir -p "$installer/$folder"
    cp "$stage/$folder/KIVDRAW.OCX" "$stage/$folder/KIVDRAW.manifest" "$build/$preset"/installer/registry-*.wxi \
       "$installer/$folder/"
done
for scope in machine user; do
    cmp -s "$installer/x86/registry-$scope-shared.wxi" "$installer/x64/registry-$scope-shared.wxi" ||
        { echo "make-dist: the two builds' shared registration ($scope) differs" >&2; exit 1; }
done
# Windows Installer's component rules: a component's GUID stands for what it holds, for good. So each
# component's GUID is derived from what it holds (its folder, attributes, key path, files' names and
# registry values, as tools/installer/components.sh reads them from the package), with the GUID that
# the source gives it as the namespace: a release whose registration or files change gets new
# components, one whose components hold the same gets the same GUIDs, and the 32-bit module is one
# component in the x86 and the x64 package of a scope. The files' contents do not count.
follow_contents() {
    local contents guid component text map=""
    contents=$("$top/tools/installer/components.sh" "$1")
    while IFS=$'\t' read -r guid component; do
        text=$(awk -F '\t' -v c="$component" '$2 == c { print $3 }' <<<"$contents")
        guid=$(uuidgen --sha1 --namespace "${guid//[\{\}]/}" --name "$text")
        map+="$component {${guid^^}} "
    done < <(cut -f 1,2 <<<"$contents" | uniq)
    mkdir -p "$installer/tables"
    msiinfo export "$1" Component |
        awk -F '\t' -v OFS='\t' -v map="$map" 'BEGIN { n = split(map, m, " "); for (i = 1; i < n; i += 2) guid[m[i]] = m[i + 1] }
                                          NR > 3 { if (!($1 in guid)) exit 1; $2 = guid[$1] } { print }' \
        >"$installer/tables/Component.idt"
    msibuild "$1" -i "$installer/tables/Component.idt"
}
code_of() { local code; for code in $upgrade_codes; do [ "${code%%:*}" != "$1" ] || echo "${code#*:}"; done; }
msis=() beside=("$zip_path" "$symbols_path")
for arch in x86 x64; do
    for scope in perMachine perUser; do
        kind=$arch
        [ $scope = perUser ] && kind=$arch-peruser
        upgrade_code=$(code_of "$kind")
        msi=$out/kivdraw-$text-$kind.msi
        # wixl finds a file's source by a path relative to where it runs, and none by an absolute one.
        (cd "$installer" && wixl -a "$arch" -o "$msi" -I "$top/tools/installer" -I "$installer" \
             -D Arch="$arch" -D Scope=$scope -D Version="$number" -D UpgradeCode="$upgrade_code" \
             -D X86UpgradeCode="$(code_of "${kind/x64/x86}")" -D X64UpgradeCode="$(code_of "${kind/x86/x64}")" \
             -D X64Package="kivdraw-$text-${kind/x86/x64}.msi" \
             -D ProductCode="$(uuidgen --sha1 --namespace "$upgrade_code" --name "$number")" \
             "$top/tools/installer/kivdraw.wxs")
        follow_contents "$msi"
        [ $signing = no ] || sign "$msi"
        msis+=("${msi#"$top"/}") beside+=("$msi")
    done
done
# The complete bill of materials: the download's files, its own among them, and the packages as shipped.
tools/make-sbom.py "$text" "$epoch" "$stage" "${modules[@]}" "${beside[@]/#/--beside=}" >"$bom_path"
echo "-- ${zip_path#"$top"/}, ${symbols_path#"$top"/}, ${msis[*]}${SIGN_PFX:+ (signed)}, ${bom_path#"$top"/}"
echo "-- SHA-256, to compare with a build of the same commit:"
(cd "$stage" && sha256sum x86/KIVDRAW.OCX x64/KIVDRAW.OCX kivdraw.cdx.json)
(cd "$symbols" && sha256sum x86/KIVDRAW.pdb x64/KIVDRAW.pdb)
(cd "$out" && sha256sum "${zip_path##*/}" "${symbols_path##*/}")
