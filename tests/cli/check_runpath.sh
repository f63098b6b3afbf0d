#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fails when an ELF file's RUNPATH or RPATH holds an entry that the loader would resolve
# against the current directory: an empty entry or a relative one. $ORIGIN-based and
# absolute entries pass.
# Usage: check_runpath.sh FILE...
set -euo pipefail
command -v readelf >/dev/null || { echo "readelf not found (binutils)" >&2; exit 1; }
bad=0
for file in "$@"; do
    readelf -d "$file" >/dev/null || { echo "$file: not an ELF file" >&2; exit 1; }
    paths=$(readelf -d "$file" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]$/\1 \2/p')
    [ -n "$paths" ] || { echo "$file: no run path"; continue; }
    while read -r tag value; do
        echo "$file: $tag $value"
        # awk keeps empty fields, so "a:" yields two entries, the second empty.
        while IFS= read -r entry; do
            case $entry in
            /* | \$ORIGIN | \$ORIGIN/* | \$\{ORIGIN\} | \$\{ORIGIN\}/*) ;;
            *)
                echo "$file: empty or relative $tag entry '$entry'" >&2
                bad=1
                ;;
            esac
        done < <(awk -F: '{for (i = 1; i <= NF; i++) print $i} NF == 0 {print ""}' <<<"$value")
    done <<<"$paths"
done
exit $bad
