#!/usr/bin/env bash
# run-unregistered.sh WINE PREFIX FOLDER FILE... -- PROGRAM [ARG...]
#
# Runs PROGRAM (one of the FILEs) under Wine in PREFIX, a Wine prefix in which KIVDRAW.OCX is never
# registered, from FOLDER, which gets fresh copies of the FILEs first. The prefix is made on first
# use. Afterwards the registry must be as it was: the classes of the machine and of the user alike,
# and no word of the module anywhere. The program's exit code is the test's, unless the registry
# changed.
#
# The prefix has a Wine server of its own, which this script waits out before it reads the registry
# files (the server writes them when it ends). The tests that use the prefix take turns on it.
set -uo pipefail
wine=$1 prefix=$2 folder=$3
shift 3
files=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do files+=("$1"); shift; done
[ $# -ge 2 ] || { echo "usage: run-unregistered.sh WINE PREFIX FOLDER FILE... -- PROGRAM [ARG...]"; exit 2; }
shift
program=$1
shift

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "-- making the unregistered Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
fi
"$(dirname "$0")/../tools/without-debugger.sh" || exit 2
wineserver -w

rm -rf "$folder" && mkdir -p "$folder" && cp "${files[@]}" "$folder/" || exit 2

# Every key of both registry files whose path holds "Classes", without the files' time stamps.
classes() {
    awk '/^\[/ { keep = index($0, "Classes") > 0; sub(/\] [0-9]+$/, "]") }
         /^#time=/ { next }
         keep' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"
}
before=$(classes)
if grep -qiE 'kivdraw\.ocx|kiv\.kivctl' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"; then
    echo "FAIL: the prefix already knows the module; remove $WINEPREFIX to make it again"
    exit 1
fi

"$wine" "$folder/$program" "$@"
status=$?
wineserver -w

if [ "$(classes)" != "$before" ]; then
    echo "FAIL: the registry's classes changed:"
    diff <(printf '%s\n' "$before") <(classes) | head -n 40
    exit 1
fi
if grep -iE 'kivdraw\.ocx|kiv\.kivctl' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" | head -n 5 | grep .; then
    echo "FAIL: the registry names the module"
    exit 1
fi
echo "registry unchanged"
exit $status
