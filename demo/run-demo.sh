#!/usr/bin/env bash
# run-demo.sh BUILD_DIR [OUT_DIR]: the demo, run by `make demo` inside the build folder's Wine prefix
# (tools/with-wine.sh). Registers that build's KIVDRAW.OCX in the prefix, runs the scene as a script
# (cscript scene.vbs) and as a C++ program (kiv_demo), and leaves the pictures in OUT_DIR (demo/out).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
out=${2:-$here/out}
mkdir -p "$out"
out=$(cd "$out" && pwd)
run=$build/wine-run
windows() { printf 'Z:%s' "${1//\//\\}"; }  # a path of this machine as Wine's programs see it

echo "== KIVDRAW.OCX demo"
echo "-- registering $build/bin/KIVDRAW.OCX (regsvr32, in the Wine prefix $build/wineprefix)"
"$run" regsvr32 /s "$(windows "$build/bin/KIVDRAW.OCX")" || { echo "regsvr32 failed"; exit 1; }

echo "-- the scene in VBScript: cscript demo/scene.vbs"
# cscript exits 0 even when the script dies: the script's own last line says whether it passed.
script_out=$("$run" cscript //nologo "$(windows "$here/scene.vbs")" 2>&1 | tr -d '\r')
printf '%s\n' "$script_out"
[ "$(printf '%s\n' "$script_out" | grep -v '^$' | tail -n 1)" = "PASS" ] || { echo "the script failed"; exit 1; }

"$run" "$build/bin/kiv_demo.exe" "$(windows "$out")" "$(windows "$here/scene.vbs")" | tr -d '\r'

echo
echo "The picture: $out/scene.png"
echo "(and the script's own: $out/scene-vbs.png)"
