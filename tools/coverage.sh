#!/usr/bin/env bash
# coverage.sh PRESET: runs the suite of a configuration built with --coverage (make coverage builds
# i686-coverage first) and prints the line coverage of src/, folder by folder; BUILD_DIR/coverage.csv
# keeps it file by file, which gcovr --html-details can show line by line.
#
# The counts start afresh. Each program of the suite, the module too, adds its counts to the .gcda
# files beside the objects that it was linked from: GCC names them by absolute path, which a Windows
# program under Wine reaches on the drive of the build folder (Z:), and libgcov takes a lock on each
# file while it adds, so that two tests at once lose nothing. The target's gcov reads them. A failed
# test does not hide the table, but fails the run.
set -uo pipefail
preset=$1
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build/$preset
find "$build" -name '*.gcda' -delete
"$top/tools/run-tests.sh" "$preset"
status=$?
gcovr --root "$top" --filter "$top/src/" --gcov-executable i686-w64-mingw32-gcov -j 2 \
      --csv --output "$build/coverage.csv" "$build" || exit 1
echo "== line coverage, $preset"
awk -F, 'NR > 1 { folder = $1; sub(/\/[^\/]*$/, "", folder); lines[folder] += $2; run[folder] += $3
                  all += $2; ran += $3 }
         END { format = "%-22s %6s %6s %6s\n"
               printf format, "folder", "lines", "run", "run %"
               for (folder in lines)
                   printf format, folder "/", lines[folder], run[folder],
                          sprintf("%.1f", 100 * run[folder] / lines[folder]) | "sort"
               close("sort")
               printf format, "src/ in all", all, ran, sprintf("%.1f", 100 * ran / all) }' "$build/coverage.csv"
exit $status
