#!/usr/bin/env bash
# with-wine.sh BUILD_DIR COMMAND...: runs COMMAND with the build folder's Wine prefix ready and a
# persistent wineserver, then stops that server. The prefix is made once, on first use.
set -uo pipefail
build=$(cd "$1" && pwd); shift
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "-- making the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
wineserver -p
wine cmd /c exit >/dev/null 2>&1
"$@"
status=$?
wineserver -k 2>/dev/null
exit $status
