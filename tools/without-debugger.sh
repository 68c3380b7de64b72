#!/usr/bin/env bash
# without-debugger.sh: the Wine prefix $WINEPREFIX starts no debugger when a program crashes, so that
# the program ends at once with the exception's code and a test that crashed fails at once.
#
# Wine's automatic debugger (the AeDebug key: winedbg --auto) otherwise takes over the crashed program
# and its output; when it cannot attach, as after a crash at exit in a module already unloaded, it
# holds that output until CTest's time-out. Removing the Debugger value is not enough: without one,
# Wine starts winedbg all the same; an empty command starts nothing. Both registry views: 32-bit
# programs read the key below Wow6432Node. A prefix already set is left as it is.
set -u
grep -q '^"Debugger"="[^"]' "$WINEPREFIX/system.reg" 2>/dev/null || exit 0
for view in 32 64; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f \
        "/reg:$view" >/dev/null 2>&1 || { echo "without-debugger.sh: the debugger of $WINEPREFIX stays" >&2; exit 1; }
done
