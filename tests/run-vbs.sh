#!/usr/bin/env bash
# run-vbs.sh WINE_RUN SCRIPT: runs a .vbs through Wine's cscript. cscript exits 0 even when the script
# dies, so the script prints "PASS" as its last word and "FAIL: ..." for each failed check.
set -uo pipefail
wine_run=$1
script=$2
out=$("$wine_run" cscript //nologo "Z:${script//\//\\}" 2>&1)
status=$?
printf '%s\n' "$out"
[ $status -eq 0 ] || exit 1
grep -q '^FAIL' <<<"$out" && exit 1
[ "$(printf '%s\n' "$out" | tr -d '\r' | grep -v '^$' | tail -n 1)" = "PASS" ] || { echo "no PASS line"; exit 1; }
exit 0
