#!/usr/bin/env bash
# relative-paths.sh TOP COMMAND...: runs COMMAND (a compiler or linker, from the build folder) with
# every path below TOP, the checkout that holds the build folders, written relative to the working
# folder.
#
# clang 14 records its whole command line in every object's CodeView build record, and lld copies
# those into the PDB beside its own command line; CMake names the sources, the include folders and
# the outputs by absolute paths. Written relative to the build folder, they are the same in every
# checkout, and so is the PDB. (clang 16 can leave its command line out; 14 cannot.)
set -euo pipefail
top=$1
shift
relative=$(realpath --relative-to=. "$top")
exec "${@//"$top/"/"$relative/"}"
