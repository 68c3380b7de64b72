#!/usr/bin/env bash
# install_tables.sh TOP: reads the tables of the four installer packages that make dist wrote and checks
# what Windows Installer relies on when several of them are installed on one machine, which Wine's
# msiexec cannot show (it writes a 32-bit component's values into the 32-bit view even where Windows
# keeps one copy for both):
# - every registry value, in each view that sees it, comes from one component across all packages.
#   Windows 7 and later share everything below Software\Classes except the keys that each view keeps
#   for itself (CLSID, Interface and the media keys): a value there is seen by both views, whatever the
#   component's bitness. So the ProgIDs and the type library's version key come from one component in
#   every package that writes them, and so does the 32-bit module's registration;
# - a component GUID has one and the same row (bitness, folder, key path) in every package;
# - each package holds the 32-bit module, and the x64 packages the 64-bit one too;
# - every per-user component's key path is a registry value below HKEY_CURRENT_USER.
# A FAIL line for each failed check.
set -uo pipefail
top=$1
rows=""
for kind in x86 x64 x86-peruser x64-peruser; do
    msi=$top/$("$top/tools/make-dist.sh" --msi "$kind")
    [ -f "$msi" ] || { echo "FAIL: no package $msi: run make dist first"; exit 1; }
    for table in Component File Registry; do
        rows+=$(msiinfo export "$msi" $table | tr -d '\r' | tail -n +4 | sed "s/^/$kind\t$table\t/")$'\n'
    done
done

# Each package's Component rows come before its File and Registry rows.
printf '%s' "$rows" | awk -F '\t' '
    function fail(text) { print "FAIL: " text; failures++ }
    $2 == "Component" {
        guid[$1, $3] = $4; bits[$1, $3] = int($6 / 256) % 2 ? 64 : 32
        if ($1 ~ /peruser/) keyPath[$1, $3] = int($6 / 4) % 2 ? $8 : "a file or folder"
        row = $5 ", attributes " $6 ", key path " $8
        if ($4 in seen && seen[$4] != row) fail("component " $4 " differs between packages: " seen[$4] "; " row)
        seen[$4] = row
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
    }' && echo "PASS: the packages share their components as Windows Installer counts them"
