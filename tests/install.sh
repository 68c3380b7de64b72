#!/usr/bin/env bash
# install.sh TOP BUILD_DIR REGISTRY_LINK: the installer packages on one 64-bit machine under Wine's
# msiexec, in a prefix of this test's own made afresh each run (BUILD_DIR/wineprefix-install), with
# scratch files in BUILD_DIR/install-test; BUILD_DIR is the 64-bit release build, the 32-bit one is
# beside it. The prefix first shares keys between the registry views as Windows does (REGISTRY_LINK).
# 1. Machine-wide: the x64 package alone serves both script hosts and writes, in each view, what the
#    regsvr32 of each architecture writes; the x86 package added and removed again leaves both working;
#    the x86 package first, the x64 one added and removed again leaves the 32-bit host working; removing
#    the last leaves nothing. 2. The same per user. 3. Each package of the last release kept in
#    TOP/tests/releases is replaced by this release's, its x86 and x64 packages together by the x64
#    one; an x86 package refuses to install beside an x64 package of another release, an x64 package
#    beside a later x86 one. 4. The x64 per-user package writes what regsvr32 /i:user writes.
#    5. make-dist.sh's signing path, time-stamped by a service of the test's own.
# A FAIL line for each failed check.
set -uo pipefail
top=$1 build=$2 registry_link=$3
build_32=$(dirname "$build")/$("$top/tools/make-dist.sh" --preset x86)
# A package's path: of the kind $1 (x86, x64, x86-peruser, x64-peruser) in this release or, with
# $2 and $3, in the release $2 packed in the folder $3.
msi() {
    if [ -n "${2:-}" ]; then printf '%s' "$3/kivdraw-$2-$1.msi"; else printf '%s' "$top/$("$top/tools/make-dist.sh" --msi "$1")"; fi
}
for kind in x86 x64 x86-peruser x64-peruser; do
    [ -f "$(msi $kind)" ] || { echo "FAIL: no package $(msi $kind): run make dist first"; exit 1; }
done

export WINEPREFIX=$build/wineprefix-install WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$build/install-test
rm -rf "$WINEPREFIX" "$work" && mkdir -p "$work"
wineboot -i >/dev/null 2>&1
wineserver -w
"$top/tools/without-debugger.sh"
wineserver -p
timestamps=""
trap 'wineserver -k 2>/dev/null; [ -z "$timestamps" ] || kill "$timestamps" 2>/dev/null' EXIT
wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64
"$wine64" cmd /c exit >/dev/null 2>&1
# Windows 7 and later keep the classes keys once for both views, all but CLSID, Interface and the media
# keys; Wine 8 only AppID, Protocols and TypeLib, which it links from Classes\Wow6432Node to their
# 64-bit originals, and it has no views of a user's classes. The prefix links the keys that the
# packages share the same way; a Wow6432Node key gives the user's classes their two views.
share() {
    local root=$1 hive=$2 name
    shift 2
    for name; do
        "$wine64" "$registry_link" $root "Software\\Classes\\Wow6432Node\\$name" "\\REGISTRY\\$hive\\Software\\Classes\\$name" ||
            return 1
    done
}
sid=$("$wine64" reg query HKU 2>/dev/null | grep -o 'S-1-5-21-[-0-9]*' | head -n 1)
share HKLM MACHINE Kiv.KivCtl Kiv.KivCtl.1 && share HKCU "USER\\$sid" TypeLib Kiv.KivCtl Kiv.KivCtl.1 ||
    { echo "FAIL: the registry views cannot share the control's keys"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
win() { printf 'Z:%s' "${1//\//\\}"; }
msiexec() { "$wine64" msiexec "$1" "$(win "$(msi "${@:2}")")" /qn >/dev/null 2>&1; }
same() { [ -n "$2" ] && [ "$2" = "$3" ] || fail "$1:"$'\n'"$(diff <(echo "$3") <(echo "$2"))"; }
none() { [ -z "$2" ] || fail "$1:"$'\n'"$2"; }
# examples/quickstart.vbs prints PASS as its last line; $1 is 32 or 64, the script host's bits.
quickstart() {
    local host=$wine64 out
    [ "$1" = 32 ] && host=$wine32
    out=$("$host" cscript //nologo "$(win "$top/examples/quickstart.vbs")" 2>&1 | tr -d '\r')
    [ "${out##*$'\n'}" = PASS ] || fail "quickstart.vbs in the $1-bit script host $2: $out"
}
both() { quickstart 32 "$1"; quickstart 64 "$1"; }

local_app_data=$("$wine64" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
installed=("$WINEPREFIX/drive_c/Program Files (x86)/KivDraw" "$WINEPREFIX/drive_c/Program Files/KivDraw"
           "$(winepath -u "$local_app_data\\KivDraw" 2>/dev/null)")
# regsvr32 registers copies of the modules in folders of their own.
mkdir -p "$WINEPREFIX/drive_c/regsvr32/x86" "$WINEPREFIX/drive_c/regsvr32/x64"
cp "$build_32/bin/KIVDRAW.OCX" "$WINEPREFIX/drive_c/regsvr32/x86/" && cp "$build/bin/KIVDRAW.OCX" "$WINEPREFIX/drive_c/regsvr32/x64/"
folders=$(printf '%s\n' 'C:\regsvr32\x86' 'C:\regsvr32\x64' 'C:\Program Files (x86)\KivDraw' 'C:\Program Files\KivDraw' \
                        "$local_app_data\\KivDraw\\x86" "$local_app_data\\KivDraw\\x64")
regsvr32() {
    "$wine32" regsvr32 /s "$@" 'C:\regsvr32\x86\KIVDRAW.OCX' >/dev/null 2>&1 &&
        "$wine64" regsvr32 /s "$@" 'C:\regsvr32\x64\KIVDRAW.OCX' >/dev/null 2>&1
}

# A registry tree as sorted lines: "[key] value" for each value, "[key]" for each key with neither
# values nor subkeys. The 64-bit view shows both: the 32-bit view's own keys are its Wow6432Node, the
# shared ones are there too through their links. The installer's own records (Classes\Installer) are
# left out, and the folders of $folders written <folder>, with or without a trailing backslash.
snapshot() {
    rm -f "$work/export.reg"
    "$wine64" reg export "$1" "$(win "$work/export.reg")" /y >/dev/null 2>&1 || return 0
    iconv -f UTF-16 -t UTF-8 "$work/export.reg" | tr -d '\r' |
        awk '/^\[/ { if (key != "" && !values && index($0, substr(key, 1, length(key) - 1) "\\") != 1) print key
                     key = $0; values = 0; next }
             NF && key != "" { print key " " $0; values = 1 }
             END { if (key != "" && !values) print key }' | grep -v '\\Classes\\Installer[]\\]' |
        FOLDERS=$folders perl -pe 'for my $f (split /\n/, $ENV{FOLDERS}) { $f =~ s/\\/\\\\/g; s/\Q$f\E(\\\\)?/<folder>/gi }' |
        sort
}
changes() { diff <(printf '%s\n' "$1") <(printf '%s\n' "$2") | grep '^[<>]'; }
machine() { snapshot 'HKLM\Software\Classes'; }
user() { snapshot 'HKCU\Software\Classes'; }
# Nothing of KivDraw: no class key in either view, no ProgID, no type library, no file.
nothing_left() {
    none "$1: the classes are not as before" "$(changes "$before" "$(machine)")$(changes "$before_user" "$(user)")"
    local folder
    for folder in "${installed[@]}"; do [ ! -e "$folder" ] || fail "$1: $folder is left: $(ls -A "$folder")"; done
}
# The products listed under Programs and Features, "name version" a line: the 64-bit packages' and,
# in the 32-bit view, the 32-bit ones'.
products() {
    local view
    for view in 'HKLM\Software' 'HKLM\Software\Wow6432Node'; do
        "$wine64" reg query "$view\Microsoft\Windows\CurrentVersion\Uninstall" /s 2>/dev/null
    done | tr -d '\r' |
        awk '/^HKEY/ { if (name ~ /KivDraw/) print name " " version; name = version = "" }
             $1 == "DisplayName" { $1 = $2 = ""; name = substr($0, 3) }
             $1 == "DisplayVersion" { version = $3 }
             END { if (name ~ /KivDraw/) print name " " version }'
}

# The packages of a scope ($1: "" for every user, "-peruser") in both orders, their classes as $2
# shows them; the modules in the folders $3 and $4. Machine-wide the script hosts use them too (Wine
# shows a user's classes to no CreateObject). The x64 package's classes are left in $by_x64.
orders() {
    local scope=$1 classes=$2 start by_x86
    start=$($classes)
    msiexec /i x64$scope || fail "msiexec /i of the x64$scope package"
    ls "$3/KIVDRAW.OCX" "$3/KIVDRAW.manifest" "$4/KIVDRAW.OCX" "$4/KIVDRAW.manifest" >/dev/null || fail "no modules in $3, $4"
    by_x64=$(changes "$start" "$($classes)")
    [ -n "$scope" ] || both "with the x64 package"
    [ -z "$scope" ] || none "the per-user package changed the machine's classes" "$(changes "$before" "$(machine)")"
    msiexec /i x86$scope && msiexec /x x86$scope || fail "msiexec /i and /x of the x86$scope package beside the x64 one"
    same "after the x86$scope package came and went, the classes are not the x64 package's" \
        "$(changes "$start" "$($classes)")" "$by_x64"
    [ -n "$scope" ] || both "after the x86 package came and went"
    msiexec /x x64$scope || fail "msiexec /x of the x64$scope package"
    nothing_left "after the x64$scope package's removal"
    msiexec /i x86$scope || fail "msiexec /i of the x86$scope package"
    by_x86=$(changes "$start" "$($classes)")
    msiexec /i x64$scope && msiexec /x x64$scope || fail "msiexec /i and /x of the x64$scope package beside the x86 one"
    same "after the x64$scope package came and went, the classes are not the x86 package's" \
        "$(changes "$start" "$($classes)")" "$by_x86"
    [ -n "$scope" ] || quickstart 32 "after the x64 package came and went"
    msiexec /x x86$scope || fail "msiexec /x of the x86$scope package"
    nothing_left "after the x86$scope package's removal"
}

# 1. Machine-wide, and what regsvr32 writes (the scripts' first runs also let Wine register its own
# script and OLE libraries).
before=$(machine)
regsvr32 || fail "regsvr32 of the modules"
by_regsvr32=$(changes "$before" "$(machine)")
both "with the modules registered by regsvr32"
regsvr32 /u
before=$(machine) before_user=$(user)
orders "" machine "${installed[0]}" "${installed[1]}"
same "the x64 package's classes are not regsvr32's" "$by_x64" "$by_regsvr32"

# 2. Per user (what regsvr32 /i:user writes comes after the upgrades: it leaves empty keys when it
# unregisters, which the removal of a package would take).
orders -peruser user "${installed[2]}/x86" "${installed[2]}/x64"
by_x64_peruser=$by_x64

# 3. Upgrades from the packages of the last release, as its users have them (the newest kept under
# tests/releases below this version), each from a machine with nothing of KivDraw: each package
# replaced by this release's of its kind, and the last release's x86 and x64 packages together by this
# x64 package alone. Then the refusals that keep two releases' packages apart, each leaving the
# products as they were: this x86 package beside the last release's x64 one, and this x64 package (and
# the x86 one, a downgrade) beside a later x86 package packed from the same builds.
number=$(sed -n 1p "$build/version.txt") text=$(sed -n 2p "$build/version.txt")
last=$(ls "$top/tests/releases" | { cat; echo "$text"; } | sort -uV | grep -B 1 -xF "$text" | head -n 1)
[ "$last" != "$text" ] || fail "no release below $text kept in tests/releases"
kept=$top/tests/releases/$last
# One product listed, at $1.
listed() {
    local listed
    listed=$(products)
    [ "$listed" = "${listed%%$'\n'*}" ] && [ "${listed##* }" = "$1" ] || fail "$2, installed: ${listed:-nothing} (wanted one product, at $1)"
}
# msiexec /x of the package $1 ($2 $3 as msi's) leaves nothing.
removed() {
    msiexec /x "$@" || fail "msiexec /x of $1 ${2:-$text}"
    none "products left after the removal of $1 ${2:-$text}" "$(products)"
    nothing_left "after the removal of $1 ${2:-$text}"
}
# msiexec /i of this release's package $1 fails beside $2 and leaves the products as they were; its
# message names $3 (Wine's msiexec logs no message: the package's table shows it).
refused() {
    local was
    was=$(products)
    msiexec /i "$1" && fail "the $1 package installed beside $2"
    [ "$(products)" = "$was" ] || fail "after the $1 package's refusal beside $2, installed: $(products)"
    grep -qF "$3" <<<"$(msiinfo export "$(msi "$1")" LaunchCondition)" || fail "no refusal of the $1 package names $3"
}
for kind in x86 x64 x86-peruser x64-peruser; do
    msiexec /i $kind "$last" "$kept" && msiexec /i $kind || fail "msiexec /i of $kind $last, then of $kind $text"
    case $kind in x86) quickstart 32 "after $kind $last was upgraded" ;; x64) both "after $kind $last was upgraded" ;; esac
    listed "$number" "after $kind $last was upgraded"
    removed $kind
done
msiexec /i x86 "$last" "$kept" && msiexec /i x64 "$last" "$kept" && msiexec /i x64 || fail "msiexec /i of x86 and x64 $last, then of x64 $text"
listed "$number" "after x86 and x64 $last were upgraded"
both "after x86 and x64 $last were upgraded"
removed x64
msiexec /i x64 "$last" "$kept" || fail "msiexec /i of x64 $last"
refused x86 "x64 $last" "kivdraw-$text-x64.msi"
both "after the x86 package's refusal beside x64 $last"
removed x64 "$last" "$kept"
later=$work/later
next=$(awk -F. '{ print $1 "." $2 "." $3 + 1 }' <<<"$number")
"$top/tools/make-dist.sh" "$(dirname "$build")" --out "$later" --version "$next" >/dev/null || fail "make-dist.sh --version"
msiexec /i x86 "$next" "$later" || fail "msiexec /i of x86 $next"
refused x64 "x86 $next" "x64 package"
refused x86 "x86 $next" "later version"
quickstart 32 "after the refusals beside x86 $next"
removed x86 "$next" "$later"

# 4. What regsvr32 /i:user writes is what the x64 per-user package writes.
regsvr32 /n /i:user || fail "regsvr32 /i:user of the modules"
same "the x64 per-user package's classes are not regsvr32 /i:user's" "$by_x64_peruser" "$(changes "$before_user" "$(user)")"
regsvr32 /u /n /i:user

# 5. Signing, as make dist SIGN_PFX=... SIGN_PASSWORD=... SIGN_TIMESTAMP_URL=... does it, into a
# folder of this test's own, time-stamped by a service whose certificate only this test trusts.
signed=$work/signed
mkdir -p "$signed/check" "$signed/tsa"
certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=$1" -addext "extendedKeyUsage=$2" \
        -keyout "$3.key" -out "$3.pem" >/dev/null 2>&1
}
certificate "KivDraw test" codeSigning "$signed/signer" &&
    openssl pkcs12 -export -inkey "$signed/signer.key" -in "$signed/signer.pem" -out "$signed/signer.pfx" -passout pass:test &&
    certificate "KivDraw test time-stamps" critical,timeStamping "$signed/tsa/tsa" || fail "openssl: no throwaway certificates"
printf '%s\n' '[tsa]' 'default_tsa = service' '[service]' 'serial = serial' 'signer_cert = tsa.pem' 'signer_key = tsa.key' \
    'signer_digest = sha256' 'default_policy = 1.2.3.4.1' 'digests = sha256' 'ess_cert_id_alg = sha256' >"$signed/tsa/tsa.cnf"
echo 01 >"$signed/tsa/serial"
"$top/tests/timestamp_service.py" "$signed/tsa" &
timestamps=$!
for _ in $(seq 100); do [ -s "$signed/tsa/port" ] && break; sleep 0.1; done
SIGN_PFX=$signed/signer.pfx SIGN_PASSWORD=test SIGN_TIMESTAMP_URL=http://127.0.0.1:$(cat "$signed/tsa/port" 2>/dev/null) \
    "$top/tools/make-dist.sh" "$(dirname "$build")" --out "$signed/dist" >/dev/null || fail "make-dist.sh with a certificate"
kill "$timestamps" && timestamps=""
unzip -q -o "$signed"/dist/kivdraw-*[0-9].zip '*/KIVDRAW.OCX' -d "$signed/check"
for file in "$signed"/check/*/KIVDRAW.OCX "$signed"/dist/*.msi; do
    verified=$(osslsigncode verify -CAfile "$signed/signer.pem" -TSA-CAfile "$signed/tsa/tsa.pem" -in "$file" 2>&1)
    [ $? -eq 0 ] && grep -q '^Timestamp Server Signature verification: ok' <<<"$verified" ||
        fail "no valid time-stamped signature: ${file#"$work"/}"
done
for pair in "x86:$build_32" "x64:$build"; do
    arch=${pair%%:*}
    cp "${pair#*:}/bin/KIVDRAW.pdb" "$signed/check/$arch/"
    pdb=$(cmake -DMODULE="$signed/check/$arch/KIVDRAW.OCX" -DTOOLS=/usr/bin -P "$top/tests/module_pdb_test.cmake" 2>&1) ||
        fail "the signed $arch module and its PDB: $pdb"
done
"$wine32" regsvr32 /s "$(win "$signed/check/x86/KIVDRAW.OCX")" && "$wine64" regsvr32 /s "$(win "$signed/check/x64/KIVDRAW.OCX")" ||
    fail "regsvr32 of the signed modules"
both "with the signed modules"

[ $failures -eq 0 ] && echo "PASS: one x64 package serves both script hosts; the packages keep each other working in" \
    "every order, write what regsvr32 writes, upgrade, uninstall without a trace and are signed with time-stamps"
exit $((failures != 0))
