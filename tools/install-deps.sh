#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages, and nothing when all is there.
#
# A mirror in the middle of a sync can serve one index at the wrong size ("Mirror sync in
# progress?"), and apt-get update then fails for that index alone. The update is tried a few times;
# when an index still cannot be read the install goes on with the lists at hand. The 32-bit Wine
# needs its i386 libraries at the amd64 ones' versions, and when the newer versions come from a
# suite whose i386 index is missing the install cannot resolve them: it is then tried again with
# the release's own suite as apt's target release. Each step that departs from the plain route says
# so.
set -euo pipefail

packages=(cmake make ninja-build mingw-w64 mingw-w64-tools clang lld llvm wine wine64 wine32:i386 xvfb xauth googletest zip unzip
          wixl msitools osslsigncode openssl uuid-runtime python3 python3-jsonschema gcovr)
update_tries=${KIV_APT_UPDATE_TRIES:-3}
retry_pause=${KIV_APT_RETRY_PAUSE:-10}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm fetches the bill of materials' schemas for the tests; any npm will do, Debian's or another's.
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive

log=$(mktemp)
trap 'rm -f "$log"' EXIT

updated=no
for ((try = 1; try <= update_tries; try++)); do
    if "${sudo[@]}" apt-get update -qq >"$log" 2>&1; then
        updated=yes
        break
    fi
    [ "$try" -lt "$update_tries" ] && sleep "$retry_pause"
done
if [ "$updated" = no ]; then
    echo "install-deps: apt-get update failed $update_tries times; the indexes it could not read:"
    grep -E '^(E|W): Failed to fetch' "$log" | sed -E 's/^(E|W): Failed to fetch ([^ ]+) *(.*)$/  \2: \3/' || true
    echo "install-deps: going on with the package lists at hand"
fi

install=("${sudo[@]}" apt-get install -y -qq --no-install-recommends)
if "${install[@]}" "${missing[@]}" >"$log" 2>&1; then
    exit 0
fi
if [ "$updated" = yes ]; then
    cat "$log" >&2
    exit 1
fi
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ -z "$release" ]; then
    cat "$log" >&2
    echo "install-deps: the install failed and the release's suite is unknown" >&2
    exit 1
fi
echo "install-deps: the install could not resolve the packages' versions with an index missing;"
echo "install-deps: installing from the release's own suite instead (apt-get install -t $release)"
if ! "${install[@]}" -t "$release" "${missing[@]}" >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
