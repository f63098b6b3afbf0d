#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the C, Python and Node examples of the README's "Embedding" section exactly as
# written, against the built module loaded by file name.
# Usage: readme_snippets.sh SOURCE_DIR MODULE C_COMPILER PYTHON NODE
set -euo pipefail
src=$1 module=$2 cc=$3 python=$4 node=$5

tmp=$(mktemp -d /tmp/ntsrch-readme-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
awk -v dir="$tmp" '
    /^## / { inside = ($0 == "## Embedding") }
    inside && /^```(c|python|js)$/ { lang = substr($0, 4); file = dir "/example." lang; next }
    file != "" && /^```$/ { close(file); file = ""; next }
    file != "" { print > file }
' "$src/README.md"
for lang in c python js; do
    [ -s "$tmp/example.$lang" ] || { echo "README: no $lang example under Embedding" >&2; exit 1; }
done
ln -s "$src/bindings/python/ntsrch" "$tmp/ntsrch"
ln -s "$src/bindings/node/ntsrch.js" "$tmp/ntsrch.js"
export LD_LIBRARY_PATH
LD_LIBRARY_PATH=$(dirname "$module")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

"$cc" -std=c99 -pedantic -Wall -Wextra -Werror -I"$src/include" -o "$tmp/example" \
    "$tmp/example.c" "$module"
run() {
    local name=$1 out
    shift
    out=$("$@" 2>&1) || { echo "$name example failed:" >&2; echo "$out" >&2; exit 1; }
    echo "--- $name"
    echo "$out"
    for want in 'search/api?q=night%20skies&format=json' 'empty query'; do
        grep -qF "$want" <<<"$out" || { echo "$name example: no '$want'" >&2; exit 1; }
    done
    # Title order: Alpha before Zeta.
    grep -q "Alpha.*Zeta" <<<"$out" || { echo "$name example: not in title order" >&2; exit 1; }
}
run C "$tmp/example"
run Python "$python" "$tmp/example.python"
run Node "$node" "$tmp/example.js"
echo "README examples passed"
