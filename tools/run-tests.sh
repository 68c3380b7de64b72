#!/usr/bin/env bash
# run-tests.sh PRESET: runs a preset's tests (ctest --preset) in its build folder's Wine prefix and
# prints only what is worth reading: each failing test with its output, and CTest's verdict.
#
# Why a filter: when its output is not a terminal (CI, a log), CTest prints two lines for every test,
# even with --progress, and CTest has no option to print failures alone. Five configurations of some
# sixty tests each would bury a failure among six hundred lines.
set -uo pipefail
preset=$1
top=$(cd "$(dirname "$0")/.." && pwd)
echo "== tests, $preset"
"$top/tools/with-wine.sh" "$top/build/$preset" ctest --preset "$preset" 2>&1 |
    awk '
        /^ *Start +[0-9]+: / || /^Test project / || /^Total Test time/ { next }
        /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { failing = ($0 !~ / Passed +[0-9.]+ sec$/) }
        /^[0-9]+% tests passed/ { failing = 0; verdict = 1 }
        failing || (verdict && $0 != "") { print; fflush() }'
