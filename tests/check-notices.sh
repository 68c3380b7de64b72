#!/usr/bin/env bash
# check-notices.sh MAP NOTICES: every library that the module's link took a member from (the linker's
# map, KIVDRAW.map) and every start file that it linked is named in a "Linked from:" paragraph of the
# third-party notices, which give its terms.
set -uo pipefail
map=$1 notices=$2
# The map's last column says where a symbol came from: "library:member.o" for a member of an archive,
# "name.o" for a start file; the project's own objects are .obj files.
taken=$(awk '$NF ~ /\.o$/ { n = split($NF, part, ":"); print (n == 2 ? part[1] ".a" : part[1]) }' "$map" |
        LC_ALL=C sort -u)
[ -n "$taken" ] || { echo "FAIL: $map names no library that the link took members from"; exit 1; }
named=$(awk '/^Linked from:/ { on = 1; sub(/^Linked from:/, "") } /^$/ { on = 0 } on' "$notices" |
        tr -s ' ,' '\n' | LC_ALL=C sort -u)
missing=$(LC_ALL=C comm -23 <(echo "$taken") <(echo "$named"))
[ -z "$missing" ] || { echo "FAIL: the link took members of" $missing "which the notices do not name"; exit 1; }
echo "PASS: the link took members of" $taken "- each named in the notices"
