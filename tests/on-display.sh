#!/bin/sh
# on-display.sh COMMAND...: runs COMMAND on the X display of the Wine session that tools/with-wine.sh
# opened, or, outside such a session, on a display of its own for as long as COMMAND runs.
if [ -n "${KIV_SESSION_DISPLAY:-}" ]; then
    DISPLAY=$KIV_SESSION_DISPLAY exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
