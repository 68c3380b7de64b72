#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages, and nothing when all is there.
set -euo pipefail

packages=(cmake make ninja-build mingw-w64 mingw-w64-tools clang lld llvm wine wine64 wine32:i386 xvfb xauth googletest zip unzip
          wixl msitools osslsigncode openssl uuid-runtime python3 gcovr)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
