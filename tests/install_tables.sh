#!/usr/bin/env bash
# install_tables.sh TOP: checks in the tables of make dist's four installer packages what Windows
# Installer counts when several are installed on one machine, or one release installs over another,
# which Wine's msiexec cannot show:
# - every registry value, in each view that sees it, comes from one component (one GUID) in every
#   package. Windows shares all below Software\Classes but CLSID, Interface and the media keys between
#   the views, whatever the bitness of the component that writes it;
# - the x86 packages hold the 32-bit module, the x64 ones both;
# - every per-user component's key path is a registry value below HKEY_CURRENT_USER;
# - the component rules across releases: a component holds, under its GUID, the same (folder,
#   attributes, key path, files' names, registry values, as tools/installer/components.sh reads them)
#   as every other component of that GUID, in these packages and in every release's packages kept in
#   TOP/tests/releases/<release>/; else a release that installs over another would leave or take what
#   the other's components still count on.
# A FAIL line for each failed check.
set -uo pipefail
top=$1
rows="" contents=""
for kind in x86 x64 x86-peruser x64-peruser; do
    msi=$top/$("$top/tools/make-dist.sh" --msi "$kind")
    [ -f "$msi" ] || { echo "FAIL: no package $msi: run make dist first"; exit 1; }
    for table in Component File Registry; do
        rows+=$(msiinfo export "$msi" $table | tr -d '\r' | tail -n +4 | sed "s/^/$kind\t$table\t/")$'\n'
    done
    contents+=$("$top/tools/installer/components.sh" "$msi" | sed "s|^|this $kind\t|")$'\n' || exit 1
done
for msi in "$top"/tests/releases/*/*.msi; do
    contents+=$("$top/tools/installer/components.sh" "$msi" | sed "s|^|kept ${msi#"$top"/tests/releases/}\t|")$'\n' || exit 1
done
status=0

# Each package's Component rows come before its File and Registry rows.
printf '%s' "$rows" | awk -F '\t' '
    function fail(text) { print "FAIL: " text; failures++ }
    $2 == "Component" {
        guid[$1, $3] = $4; bits[$1, $3] = int($6 / 256) % 2 ? 64 : 32
        if ($1 ~ /peruser/) keyPath[$1, $3] = int($6 / 4) % 2 ? $8 : "a file or folder"
    }
    $2 == "File" && $5 ~ /(^|\|)KIVDRAW\.OCX$/ { modules[$1, bits[$1, $4]]++ }
    $2 == "Registry" {
        root[$1, $3] = $4
        key = tolower($4 == 0 ? "software\\classes\\" $5 : $5)
        first = substr(key, 1, 17) == "software\\classes\\" ? substr(key, 18) : "software"
        sub(/\\.*/, "", first)
        own = first ~ /^(software|clsid|interface|directshow|media type|mediafoundation|wow6432node)$/
        value = "root " $4 " " $5 " [" $6 "] in the " (own ? bits[$1, $8] "-bit" : "shared") " view"
        if (value in writer && writer[value] != guid[$1, $8])
            fail(value " comes from two components: " writer[value] " and " guid[$1, $8] " (" $1 ")")
        writer[value] = guid[$1, $8]
    }
    END {
        for (k in keyPath) {
            split(k, p, SUBSEP)
            if (root[p[1], keyPath[k]] != 1) fail(p[1] ": the key path of " p[2] " is not a value below HKEY_CURRENT_USER")
        }
        split("x86 x86-peruser x64 x64-peruser", kinds, " ")
        for (i = 1; i <= 4; i++) {
            got = modules[kinds[i], 32] + 0 " and " modules[kinds[i], 64] + 0
            if (got != (i <= 2 ? "1 and 0" : "1 and 1")) fail(kinds[i] ": holds " got " modules of 32 and 64 bits")
        }
        exit failures > 0
    }' || status=1

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
    }' || status=1
[ $status -eq 0 ] && echo "PASS: the packages share their components as Windows Installer counts them, and each" \
    "component GUID holds what it holds in every package and kept release that uses it"
exit $status
