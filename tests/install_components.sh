#!/usr/bin/env bash
# install_components.sh TOP: checks Windows Installer's component rules across releases, which no
# install of one release shows: a component of make dist's four packages holds, under its GUID, the
# same (folder, attributes, key path, files' names, registry values, as tools/installer/components.sh
# reads them) as every other component of that GUID, in these packages and in every release's
# packages kept in TOP/tests/releases/<release>/; else a release that installs over another would
# leave or take what the other's components still count on. A FAIL line for each difference.
set -uo pipefail
top=$1
contents=""
for kind in x86 x64 x86-peruser x64-peruser; do
    msi=$top/$("$top/tools/make-dist.sh" --msi "$kind")
    [ -f "$msi" ] || { echo "FAIL: no package $msi: run make dist first"; exit 1; }
    contents+=$("$top/tools/installer/components.sh" "$msi" | sed "s|^|this $kind\t|")$'\n' || exit 1
done
for msi in "$top"/tests/releases/*/*.msi; do
    contents+=$("$top/tools/installer/components.sh" "$msi" | sed "s|^|kept ${msi#"$top"/tests/releases/}\t|")$'\n' || exit 1
done

# Each line: package, GUID, component, item. Every package of this release is compared with every
# other package that holds a component of the same GUID.
printf '%s' "$contents" | awk -F '\t' '
    !(($1, $2) in items) { holders[$2] = holders[$2] SUBSEP $1 }
    { items[$1, $2] = items[$1, $2] SUBSEP $4; has[$1, $2, $4] = 1; name[$1, $2] = $3 }
    # The items of package a'"'"'s component g that package b'"'"'s does not hold.
    function missing(a, b, g,    list, i, out) {
        split(substr(items[a, g], 2), list, SUBSEP)
        for (i in list) if (!((b, g, list[i]) in has)) out = out "\n    only in " a ": " list[i]
        return out
    }
    END {
        for (g in holders) {
            n = split(substr(holders[g], 2), list, SUBSEP)
            for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) {
                if (list[i] !~ /^this / && list[j] !~ /^this /) continue
                differ = missing(list[i], list[j], g) missing(list[j], list[i], g)
                if (differ == "") continue
                print "FAIL: component " g " holds different things in " list[i] " (" name[list[i], g] ") and " list[j] " (" name[list[j], g] "):" differ
                failures++
            }
        }
        exit failures > 0
    }' && echo "PASS: every component GUID of these packages holds what it holds in every package and kept release that uses it"
