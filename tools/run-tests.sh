#!/usr/bin/env bash
# run-tests.sh BUILD_DIR JOBS [CTEST_ARG...]: runs a build folder's tests with CTest inside the folder's
# Wine prefix, one line per test and CTest's verdict. A failing test's output is shown in full.
set -uo pipefail
build=$1 jobs=$2
shift 2
top=$(cd "$(dirname "$0")/.." && pwd)

echo "== tests, $build"
# CTest announces each test before its result line ("Start N: name"); only the result is kept, and
# blank lines outside a failing test's output.
"$top/tools/with-wine.sh" "$build" ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" 2>&1 |
    awk '
        /^ *Start +[0-9]+: / { next }
        /^Test project / || /^Internal ctest changing into directory/ { next }
        /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { failing = ($0 !~ / Passed +[0-9.]+ sec$/); print; fflush(); next }
        /^[0-9]+% tests passed/ { failing = 0 }
        /^$/ && !failing { next }
        { print; fflush() }'
