#!/usr/bin/env bash
# install_tables.sh TOP: checks in the tables of make dist's four installer packages what Windows
# Installer counts when several are installed on one machine, which Wine's msiexec cannot show:
# - every registry value, in each view that sees it, comes from one component (one GUID) in every
#   package. Windows shares all below Software\Classes but CLSID, Interface and the media keys between
#   the views, whatever the bitness of the component that writes it;
# - a component GUID has one and the same row (folder, bitness, key path) in every package;
# - the x86 packages hold the 32-bit module, the x64 ones both;
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
