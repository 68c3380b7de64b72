#!/usr/bin/env bash
# build.sh BUILD_DIR ARCH JOBS [TARGET...]: configures BUILD_DIR for ARCH (i686 or x86_64) with CMake's
# Ninja generator and builds everything, or the targets named, inside the folder's Wine prefix (the
# build runs Windows programs). It prints one line for the configuration and one for the build, with
# a running count of the steps on a terminal. Whatever else the tools say (a compiler's warning, a
# failing step with its command and output) is shown in full.
set -uo pipefail
build=$1 arch=$2 jobs=$3
shift 3
top=$(cd "$(dirname "$0")/.." && pwd)
generator=Ninja

# A folder configured with another generator (make's, as this build was before) is configured
# afresh: CMake refuses to switch. Its Wine prefixes stay, as making one takes a while.
if [ -f "$build/CMakeCache.txt" ] && ! grep -qx "CMAKE_GENERATOR:INTERNAL=$generator" "$build/CMakeCache.txt"; then
    echo "-- $build was configured for another generator: configuring it afresh for $generator"
    find "$build" -mindepth 1 -maxdepth 1 ! -name 'wineprefix*' -exec rm -rf {} +
fi
mkdir -p "$build"

echo "-- configure $build ($arch)"
log=$build/configure.log
if ! cmake -S "$top" -B "$build" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release >"$log" 2>&1; then
    cat "$log"
    exit 1
fi
# CMake's warnings are worth reading: shown with the rest of what it said.
grep -q '^CMake \(Warning\|Deprecation Warning\)' "$log" && cat "$log"

# Ninja starts each line of progress with NINJA_STATUS; those lines become one line of progress, and
# every other line passes through as it is.
export NINJA_STATUS='@kiv %f/%t @ '
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
live=0
[ -t 1 ] && live=1  # a terminal: the count of steps runs on one line
"$top/tools/with-wine.sh" "$build" cmake --build "$build" -j "$jobs" "${targets[@]}" 2>&1 |
    awk -v label="-- build $build" -v live="$live" '
        /^@kiv [0-9]+\/[0-9]+ @ / {
            split($2, n, "/"); done = n[1]; total = n[2]
            if (live) { printf "\r%s: %d/%d", label, done, total; open = 1; fflush() }
            next
        }
        /^ninja: no work to do\.$/ { idle = 1; next }
        {
            if (open) { printf "\n"; open = 0 }
            print; fflush()
        }
        END {
            if (open) printf "\r"
            if (total) printf "%s: %d/%d steps\n", label, done, total
            else if (idle) printf "%s: up to date\n", label
        }'
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || echo "-- build $build FAILED"
exit "$status"
