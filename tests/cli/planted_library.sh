#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Plants a library that is not yyjson under yyjson's file name in a scratch working
# directory and runs the built tool from there: the module must still load the real yyjson,
# since no run path may lead to the current directory.
# Usage: planted_library.sh TOOL NOT_YYJSON
set -euo pipefail
tool=$1 not_yyjson=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}"/ntsrch-planted-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cp "$not_yyjson" "$tmp/libyyjson.so.0"
unset LD_LIBRARY_PATH NTSRCH_MODULE
cd "$tmp"

# The plant breaks the module whenever the loader picks it up, so a pass below means it
# was not picked up.
if out=$(LD_LIBRARY_PATH=$tmp "$tool" url x 2>&1); then
    echo "the planted library does not break the module, so this test proves nothing:" >&2
    echo "$out" >&2
    exit 1
fi
echo "with the plant on the library path: $out"

out=$("$tool" url "planted check") || { echo "the tool failed in $tmp" >&2; exit 1; }
echo "from $tmp: $out"
case $out in
*'/search/api?q=planted%20check&format=json') ;;
*) echo "unexpected URL" >&2; exit 1 ;;
esac
