#!/usr/bin/env bash
# with-wine.sh BUILD_DIR COMMAND...: runs COMMAND with the build folder's Wine prefix ready, a
# persistent wineserver and an X display, then stops the server and then the display, however the
# command ends: also when it is interrupted (Ctrl-C) or terminated. The prefix is made on first use.
set -uo pipefail
# Windows need an X display. One display serves the whole session and closes only after the Wine
# server and its processes: Wine's desktop process hangs in its exit when its display goes away under
# it. Only the programs that make windows use it (tests/on-display.sh): the others run without a
# display, as they were measured. This script starts the display itself rather than through xvfb-run,
# which starts it in the background of a shell, where an interrupt does not reach it and nothing stops
# it. It also starts the default desktop's process itself, with no output of a test's, and keeps it
# for the session (below), so that no test program starts it and hands it its output.
build=$(cd "$1" && pwd)
shift
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

display_pid=""
server=no
stop() {
    [ $server = yes ] && wineserver -k 2>/dev/null
    if [ -n "$display_pid" ]; then
        kill "$display_pid" 2>/dev/null
        wait "$display_pid" 2>/dev/null
    fi
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if [ -z "${KIV_SESSION_DISPLAY:-}" ]; then
    # Xvfb picks a free display number and writes it to the file that -displayfd names.
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    display_pid=$!
    for _ in $(seq 100); do
        [ -s "$number_file" ] && break
        kill -0 "$display_pid" 2>/dev/null || break
        sleep 0.1
    done
    number=$(head -n 1 "$number_file")
    rm -f "$number_file"
    [ -n "$number" ] || { echo "with-wine.sh: no X display could be started" >&2; exit 1; }
    export KIV_SESSION_DISPLAY=":$number"
fi
unset DISPLAY

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "-- making the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
server=yes
wineserver -p
# The default desktop's process is started here, with no output of a test's, and kept for the session
# by a program that uses the desktop and waits on an input that never ends. Otherwise the first test
# program that draws on the screen starts it and hands it its output, which stays open, and CTest
# waits, for as long as other programs keep the desktop in use: the desktop closes a second after its
# last program.
keep=$(mktemp -u) && mkfifo "$keep" && exec 9<>"$keep" && rm -f "$keep"
wine explorer.exe /desktop >/dev/null 2>&1 &
wine cmd <&9 9<&- >/dev/null 2>&1 &
exec 9<&-
wine cmd /c exit >/dev/null 2>&1
"$(dirname "$0")/without-debugger.sh" || exit 1
"$@"
