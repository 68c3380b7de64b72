#!/usr/bin/env bash
# side_by_side.sh PREFIX OCX32 OCX64 SCRIPT: registers the 32-bit and the 64-bit module in one Wine
# prefix of this test's own, removes them one after the other in both orders, and after each step
# asks each architecture's cscript whether it can still make the control by its ProgID (SCRIPT
# prints "made" or "error <number>"). At the end nothing of either registration may be left.
# The prefix is made on first use and its server is stopped on every way out.
set -uo pipefail
export WINEPREFIX=$1
ocx32=Z:${2//\//\\}
ocx64=Z:${3//\//\\}
script=Z:${4//\//\\}
[ -f "$3" ] || { echo "FAIL: no 64-bit module at $3 (make test builds both architectures)"; exit 1; }
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
"$(dirname "$0")/../tools/without-debugger.sh" || exit 1
wineserver -p
trap 'wineserver -k 2>/dev/null' EXIT
"$wine32" cmd /c exit >/dev/null 2>&1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

regsvr() { "$wine32" regsvr32 /s "$@" >/dev/null 2>&1 || fail "regsvr32 $*"; }

# What each architecture's script client gets from CreateObject("Kiv.KivCtl").
expect() {
    local what=$1 want32=$2 want64=$3 got32 got64
    got32=$("$wine32" cscript //nologo "$script" 2>&1 | tr -d '\r' | tail -n 1)
    got64=$("$wine64" cscript //nologo "$script" 2>&1 | tr -d '\r' | tail -n 1)
    [ "$got32" = "$want32" ] || fail "$what: 32-bit client got '$got32', wanted '$want32'"
    [ "$got64" = "$want64" ] || fail "$what: 64-bit client got '$got64', wanted '$want64'"
}

# A key in one view of the registry.
key_exists() { "$wine32" reg query "$1" "/reg:$2" >/dev/null 2>&1; }

# A run that failed half-way may have left registrations behind.
"$wine32" regsvr32 /s /u "$ocx32" >/dev/null 2>&1
"$wine32" regsvr32 /s /u "$ocx64" >/dev/null 2>&1
expect "before registering" "error 429" "error 429"

regsvr "$ocx32"
regsvr "$ocx64"
expect "both registered" made made
# The identifiers, as registration wrote them.
value() { "$wine32" reg query "$1" /ve 2>/dev/null | tr -d '\r' | grep -o '{[-0-9A-Fa-f]*}' | head -n 1; }
clsid=$(value 'HKCR\Kiv.KivCtl\CLSID')
libid=$(value 'HKCR\CLSID\'"$clsid"'\TypeLib')
[ -n "$clsid" ] && [ -n "$libid" ] || fail "no class or library identifier registered"
regsvr /u "$ocx32"
expect "the 32-bit one removed" "error 429" made
regsvr "$ocx32"
regsvr /u "$ocx64"
expect "the 64-bit one removed" made "error 429"
regsvr /u "$ocx32"
expect "both removed" "error 429" "error 429"

for view in 32 64; do
    for key in 'HKCR\Kiv.KivCtl' 'HKCR\Kiv.KivCtl.1' 'HKCR\CLSID\'"$clsid" 'HKCR\TypeLib\'"$libid"; do
        key_exists "$key" $view && fail "left behind in the $view-bit view: $key"
    done
done

[ $failures -eq 0 ] && echo PASS
exit $((failures != 0))
