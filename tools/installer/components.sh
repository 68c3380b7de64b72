#!/usr/bin/env bash
# components.sh PACKAGE: prints what each component of a Windows Installer package holds, as Windows
# Installer's component rules see it, one "GUID<TAB>component<TAB>item" line per item, sorted: the
# package's scope, the component's folder (its identifier and the path it stands for), attributes,
# condition, key path, each file's name, each registry value (root, key, name and value) and each
# folder that it makes or removes. The
# package's own identifiers are left out or resolved: a key path or a reference in a value ([#file],
# [folder]) is written as the file's name or the folder's path. Two components hold the same if and
# only if their lines but the first two fields are the same, whichever package and release they come
# from. make-dist.sh derives each component's GUID from these lines; the tests compare them across
# releases.
set -euo pipefail
msi=$1
for table in Property Directory Component File Registry CreateFolder RemoveFile; do
    msiinfo export "$msi" $table | tr -d '\r' | tail -n +4 | sed "s/^/$table\t/"
done | awk -F '\t' '
    BEGIN { scope = "current user" }
    $1 == "Property" && $2 == "ALLUSERS" { scope = $3 == 1 ? "every user" : $3 == "" ? scope : "ALLUSERS " $3 }
    $1 == "Directory" { parent[$2] = $3; name = $4; sub(/:.*/, "", name); sub(/.*\|/, "", name); dir[$2] = name }
    $1 == "Component" { n++; ids[n] = $2; guid[$2] = $3; folder[$2] = $4; attributes[$2] = $5; condition[$2] = $6; keyPath[$2] = $7 }
    $1 == "File" { fileName[$2] = $4; sub(/.*\|/, "", fileName[$2]); files[$3] = files[$3] SUBSEP $2 }
    $1 == "Registry" { registry[$2] = $3 " " $4 " [" $5 "] = " resolve($6); registries[$7] = registries[$7] SUBSEP $2 }
    $1 == "CreateFolder" { folders[$3] = folders[$3] SUBSEP "makes " path($2) }
    $1 == "RemoveFile" { folders[$3] = folders[$3] SUBSEP "removes [" $4 "] in " path($5) ", mode " $6 }
    # A standard folder (ProgramFilesFolder, LocalAppDataFolder) is known by its identifier; "." is
    # its parent again.
    function path(d) {
        if (parent[d] == "" || parent[d] == "TARGETDIR") return d
        return dir[d] == "." ? path(parent[d]) : path(parent[d]) "\\" dir[d]
    }
    # Rows are read in table order, so a value is resolved once the Directory and File tables are in.
    function resolve(value,    out, ref) {
        out = ""
        while (match(value, /\[[^]]*\]/)) {
            ref = substr(value, RSTART + 1, RLENGTH - 2)
            if (substr(ref, 1, 1) == "#" && substr(ref, 2) in fileName) ref = "#" fileName[substr(ref, 2)]
            else if (ref in dir) ref = path(ref)
            out = out substr(value, 1, RSTART - 1) "[" ref "]"
            value = substr(value, RSTART + RLENGTH)
        }
        return out value
    }
    function item(c, text) { print guid[c] "\t" c "\t" text }
    END {
        for (i = 1; i <= n; i++) {
            c = ids[i]
            item(c, "scope " scope)
            item(c, "folder " folder[c] " (" path(folder[c]) ")")
            item(c, "attributes " attributes[c])
            if (condition[c] != "") item(c, "condition " condition[c])
            if (keyPath[c] == "") item(c, "key path the folder")
            else if (int(attributes[c] / 4) % 2) item(c, "key path registry " registry[keyPath[c]])
            else item(c, "key path file " fileName[keyPath[c]])
            split(substr(files[c], 2), list, SUBSEP)
            for (f in list) item(c, "file " fileName[list[f]])
            split(substr(registries[c], 2), list, SUBSEP)
            for (r in list) item(c, "registry " registry[list[r]])
            split(substr(folders[c], 2), list, SUBSEP)
            for (f in list) item(c, list[f])
        }
    }' | LC_ALL=C sort
