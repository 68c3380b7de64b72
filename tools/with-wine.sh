#!/usr/bin/env bash
# with-wine.sh BUILD_DIR COMMAND...: runs COMMAND with the build folder's Wine prefix ready, a
# persistent wineserver and an X display, then stops the server and then the display. The prefix is
# made once, on first use.
set -uo pipefail
# Windows need an X display. The first window of a session starts Wine's desktop process, which takes
# the error output of the program that started it and lives on after it; when its display goes away
# under it, it hangs in its exit and holds that output open, and CTest waits on it for ever. So one
# display serves the whole session and closes only after the Wine server and its processes. Only the
# programs that make windows use it (tests/on-display.sh): the others run without a display, as they
# were measured.
if [ -z "${KIV_SESSION_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" \
        bash -c 'export KIV_SESSION_DISPLAY=$DISPLAY; unset DISPLAY; exec "$0" "$@"' "$0" "$@"
fi
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
