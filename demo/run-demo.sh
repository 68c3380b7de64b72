#!/usr/bin/env bash
# run-demo.sh BUILD_DIR [OUT_DIR]: the demo, run by `make demo` inside the build folder's Wine prefix
# (tools/with-wine.sh). Registers that build's KIVDRAW.OCX in the prefix, runs the scene as a script
# (cscript scene.vbs) and as a C++ program (kiv_demo), and leaves the pictures in OUT_DIR (demo/out).
# One line per step; a step that fails shows all that it printed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
out=${2:-$here/out}
mkdir -p "$out"
out=$(cd "$out" && pwd)
run=$build/wine-run
windows() { printf 'Z:%s' "${1//\//\\}"; }  # a path of this machine as Wine's programs see it

echo "== KIVDRAW.OCX demo"
"$run" regsvr32 /s "$(windows "$build/bin/KIVDRAW.OCX")" || { echo "regsvr32 failed"; exit 1; }
echo "-- registered $build/bin/KIVDRAW.OCX in the Wine prefix $build/wineprefix"

# cscript exits 0 even when the script dies: the script's own last line says whether it passed.
script_out=$("$run" cscript //nologo "$(windows "$here/scene.vbs")" 2>&1 | tr -d '\r')
if [ "$(printf '%s\n' "$script_out" | grep -v '^$' | tail -n 1)" != "PASS" ]; then
    printf '%s\n' "$script_out"
    echo "the script failed"
    exit 1
fi
echo "-- the scene in VBScript (cscript demo/scene.vbs): its checks passed"

if ! demo_out=$("$run" "$build/bin/kiv_demo.exe" "$(windows "$out")" "$(windows "$here/scene.vbs")" | tr -d '\r'); then
    printf '%s\n' "$demo_out"
    exit 1
fi
echo "-- the scene in C++ (kiv_demo), and scene.vbs again inside it: its checks passed, the pictures are the same"
echo "The picture: $out/scene.png (and the script's own: $out/scene-vbs.png)"
