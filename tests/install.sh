#!/usr/bin/env bash
# install.sh TOP BUILD_DIR ARCH: the installer packages of one architecture (x86 or x64) under Wine's
# msiexec, in a prefix of this test's own made afresh each run (BUILD_DIR/wineprefix-install), with
# scratch files in BUILD_DIR/install-test: installed quietly and used by a script, their classes
# compared with regsvr32's (machine-wide and per user), upgraded by a later version, removed without a
# trace, and signed by make-dist.sh with a throwaway certificate. A FAIL line for each failed check.
set -uo pipefail
top=$1 build=$2 arch=$3
machine_msi=$top/$("$top/tools/make-dist.sh" --msi "$arch")
user_msi=$top/$("$top/tools/make-dist.sh" --msi "$arch-peruser")
for msi in "$machine_msi" "$user_msi"; do
    [ -f "$msi" ] || { echo "FAIL: no package $msi: run make dist first"; exit 1; }
done

export WINEPREFIX=$build/wineprefix-install WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$build/install-test
rm -rf "$WINEPREFIX" "$work" && mkdir -p "$work"
wineboot -i >/dev/null 2>&1
wineserver -w
"$top/tools/without-debugger.sh"
wineserver -p
trap 'wineserver -k 2>/dev/null' EXIT
# msiexec runs through the 64-bit loader; the script client, regsvr32 and reg are the architecture's,
# and only its own view of the registry counts: Wine's RegisterTypeLib also writes the interfaces'
# keys into the other view (Wow6432Node below the 64-bit one), which the packages leave alone. And
# Wine shows the ProgIDs that a 64-bit msiexec wrote for a 32-bit package below a Wow6432Node, where
# 32-bit programs see them without it.
wine64=/usr/lib/wine/wine64
if [ "$arch" = x64 ]; then
    client=$wine64 program_files="Program Files" unwow='/\\Wow6432Node\\/d'
else
    client=/usr/lib/wine/wine program_files="Program Files (x86)" unwow='s/\\Wow6432Node\\/\\/'
fi
"$wine64" cmd /c exit >/dev/null 2>&1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
win() { printf 'Z:%s' "${1//\//\\}"; }
msiexec() { "$wine64" msiexec "$1" "$(win "$2")" /qn >/dev/null 2>&1; }
regsvr32() { "$client" regsvr32 /s "$@" >/dev/null 2>&1; }
same() { [ -n "$2" ] && [ "$2" = "$3" ] || fail "$1:"$'\n'"$(diff <(echo "$3") <(echo "$2"))"; }
none() { [ -z "$2" ] || fail "$1:"$'\n'"$2"; }
# examples/quickstart.vbs prints PASS as its last line.
quickstart() {
    local out
    out=$("$client" cscript //nologo "$(win "$top/examples/quickstart.vbs")" 2>&1 | tr -d '\r')
    [ "${out##*$'\n'}" = PASS ] || fail "quickstart.vbs $1: $out"
}

local_app_data=$("$wine64" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
installed=$WINEPREFIX/drive_c/$program_files/KivDraw
user_installed=$(winepath -u "$local_app_data\\KivDraw" 2>/dev/null)  # with x86\ or x64\ below
# regsvr32 registers a copy of the module in a folder of its own.
mkdir -p "$WINEPREFIX/drive_c/regsvr32" && cp "$build/bin/KIVDRAW.OCX" "$WINEPREFIX/drive_c/regsvr32/"
copy='C:\regsvr32\KIVDRAW.OCX'
folders=$(printf '%s\n' 'C:\regsvr32' "C:\\$program_files\\KivDraw" "$local_app_data\\KivDraw\\$arch")

# A registry tree as sorted lines: "[key] value" for each value, "[key]" for each key with neither
# values nor subkeys; the installer's own records (Classes\Installer) left out, and the folders of
# $folders written <folder>, with or without a trailing backslash.
snapshot() {
    rm -f "$work/export.reg"
    "$client" reg export "$1" "$(win "$work/export.reg")" /y >/dev/null 2>&1 || return 0
    iconv -f UTF-16 -t UTF-8 "$work/export.reg" | tr -d '\r' |
        awk '/^\[/ { if (key != "" && !values && index($0, substr(key, 1, length(key) - 1) "\\") != 1) print key
                     key = $0; values = 0; next }
             NF && key != "" { print key " " $0; values = 1 }
             END { if (key != "" && !values) print key }' | sed "$unwow" | grep -v '\\Classes\\Installer[]\\]' |
        FOLDERS=$folders perl -pe 'for my $f (split /\n/, $ENV{FOLDERS}) { $f =~ s/\\/\\\\/g; s/\Q$f\E(\\\\)?/<folder>/gi }' |
        sort
}
changes() { diff <(printf '%s\n' "$1") <(printf '%s\n' "$2") | grep '^[<>]'; }
machine() { snapshot 'HKLM\Software\Classes'; }
user() { snapshot 'HKCU\Software\Classes'; }
# The products listed under Programs and Features, "name version" a line.
products() {
    "$client" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
        awk '/^HKEY/ { if (name ~ /KivDraw/) print name " " version; name = version = "" }
             $1 == "DisplayName" { $1 = $2 = ""; name = substr($0, 3) }
             $1 == "DisplayVersion" { version = $3 }
             END { if (name ~ /KivDraw/) print name " " version }'
}

# 1. Machine-wide: what regsvr32 writes, and the script with it (its first run also lets Wine register
# its own script and OLE libraries); then the package, installed, used, compared and removed.
before=$(machine)
regsvr32 "$copy" || fail "regsvr32 of the module"
by_regsvr32=$(changes "$before" "$(machine)")
quickstart "with the module registered by regsvr32"
regsvr32 /u "$copy"
before=$(machine)
msiexec /i "$machine_msi" || fail "msiexec /i $(basename "$machine_msi")"
[ -f "$installed/KIVDRAW.OCX" ] && [ -f "$installed/KIVDRAW.manifest" ] || fail "not installed in $program_files\\KivDraw"
quickstart "with the installed control"
same "the package's classes are not regsvr32's" "$(changes "$before" "$(machine)")" "$by_regsvr32"
msiexec /x "$machine_msi" || fail "msiexec /x $(basename "$machine_msi")"
none "the classes after msiexec /x are not as before" "$(changes "$before" "$(machine)")"
[ ! -e "$installed" ] || fail "$program_files\\KivDraw is left after msiexec /x: $(ls -A "$installed")"

# 2. Per user: the user's classes, those of regsvr32 /i:user, and nothing machine-wide.
before=$(user) before_machine=$(machine)
msiexec /i "$user_msi" || fail "msiexec /i $(basename "$user_msi")"
[ -f "$user_installed/$arch/KIVDRAW.OCX" ] || fail "KIVDRAW.OCX is not installed in $local_app_data\\KivDraw\\$arch"
by_package=$(changes "$before" "$(user)")
none "the per-user package changed the machine's classes" "$(changes "$before_machine" "$(machine)")"
msiexec /x "$user_msi" || fail "msiexec /x $(basename "$user_msi")"
none "the user's classes after msiexec /x are not as before" "$(changes "$before" "$(user)")"
[ ! -e "$user_installed" ] || fail "$local_app_data\\KivDraw is left after msiexec /x"
regsvr32 /n /i:user "$copy" || fail "regsvr32 /i:user of the module"
same "the per-user package's classes are not regsvr32 /i:user's" "$by_package" "$(changes "$before" "$(user)")"
regsvr32 /u /n /i:user "$copy"

# 3. A major upgrade, to a package of a later version packed from the same builds; not back.
later=$work/later/kivdraw-1.0.1-$arch.msi
"$top/tools/make-dist.sh" "$(dirname "$build")" --out "$work/later" --version 1.0.1 >/dev/null || fail "make-dist.sh --version"
before=$(machine)
msiexec /i "$machine_msi" || fail "msiexec /i of version 1.0.0"
msiexec /i "$later" || fail "msiexec /i of version 1.0.1 over 1.0.0"
listed=$(products)
[ "$listed" = "${listed%%$'\n'*}" ] && [ "${listed##* }" = 1.0.1 ] ||
    fail "after the upgrade, installed: ${listed:-nothing} (wanted one product, at 1.0.1)"
msiexec /i "$machine_msi" && fail "version 1.0.0 installed over 1.0.1"
[ "$(products)" = "$listed" ] || fail "after an attempt at a downgrade, installed: $(products)"
quickstart "after the upgrade"
msiexec /x "$later" || fail "msiexec /x of version 1.0.1"
none "after the upgraded product's removal" "$(changes "$before" "$(machine)")$(products)$(ls -A "$installed" 2>/dev/null)"

# 4. Signing, as make dist SIGN_PFX=... SIGN_PASSWORD=... does it, into a folder of this test's own.
signed=$work/signed
mkdir -p "$signed/check"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=KivDraw test" -addext extendedKeyUsage=codeSigning \
    -keyout "$signed/key.pem" -out "$signed/cert.pem" >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey "$signed/key.pem" -in "$signed/cert.pem" -out "$signed/cert.pfx" -passout pass:test ||
    fail "openssl: no throwaway certificate"
SIGN_PFX=$signed/cert.pfx SIGN_PASSWORD=test "$top/tools/make-dist.sh" "$(dirname "$build")" --out "$signed/dist" >/dev/null ||
    fail "make-dist.sh with a certificate"
unzip -q -o "$signed"/dist/kivdraw-*[0-9].zip "$arch/KIVDRAW.OCX" -d "$signed/check"
module=$signed/check/$arch/KIVDRAW.OCX
for file in "$module" "$signed"/dist/*-"$arch".msi "$signed"/dist/*-"$arch"-peruser.msi; do
    osslsigncode verify -CAfile "$signed/cert.pem" -in "$file" >/dev/null 2>&1 || fail "no valid signature: ${file#"$work"/}"
done
cp "$build/bin/KIVDRAW.pdb" "$signed/check/$arch/"
pdb=$(cmake -DMODULE="$module" -DTOOLS=/usr/bin -P "$top/tests/module_pdb_test.cmake" 2>&1) ||
    fail "the signed module and its PDB: $pdb"
regsvr32 "$(win "$module")" || fail "regsvr32 of the signed module"
quickstart "with the signed module"
regsvr32 /u "$(win "$module")"

[ $failures -eq 0 ] && echo "PASS: the $arch packages install, register as regsvr32 does, upgrade, uninstall and are signed"
exit $((failures != 0))
