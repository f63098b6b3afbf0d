#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build into a temporary prefix, moves the tree elsewhere (the package files
# must not depend on where they were installed), then builds and runs a small C host
# against it twice: once found through pkg-config, once through find_package. The installed
# host tool must find the installed module with an empty environment.
# Usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR C_COMPILER GENERATOR ORIGIN_CHECK LIBYYJSON
set -euo pipefail
cmake=$1 build=$2 src=$3 cc=$4 generator=$5 origin_check=$6 libyyjson=$7
module_file=nortavel-nortaveltune-search-client.so

tmp=$(mktemp -d "${TMPDIR:-/tmp}"/ntsrch-install-XXXXXX)
trap 'rm -rf "$tmp"' EXIT

"$cmake" --install "$build" --prefix "$tmp/staged" >/dev/null
mv "$tmp/staged" "$tmp/prefix"
prefix=$tmp/prefix

echo "installed:"
(cd "$prefix" && find . -type f | sort | sed 's/^\./  /')
libdir=$(dirname "$(cd "$prefix" && find . -name "$module_file" | head -n1)")
libdir=$prefix/${libdir#./}
for f in "$prefix/include/ntsrch.h" "$libdir/$module_file" "$libdir/pkgconfig/ntsrch.pc" \
    "$libdir/cmake/ntsrch/ntsrch-config.cmake" \
    "$libdir/cmake/ntsrch/ntsrch-config-version.cmake" "$prefix/bin/ntsrch" \
    "$prefix/share/man/man1/ntsrch.1"; do
    [ -f "$f" ] || { echo "missing: $f" >&2; exit 1; }
done
if grep -rq "$tmp/staged" "$prefix"; then
    echo "installed files still name the install-time prefix:" >&2
    grep -rl "$tmp/staged" "$prefix" >&2
    exit 1
fi

# The installed module keeps its exports and its run path.
"$cmake" -DMODULE="$libdir/$module_file" -P "$src/tests/check_exports.cmake"
"$origin_check" "$libdir/$module_file" "$libyyjson"
bash "$src/tests/cli/check_runpath.sh" "$libdir/$module_file" "$prefix/bin/ntsrch"

# The installed tool finds the installed module by itself, with an empty environment.
tool_version=$(env -i "$prefix/bin/ntsrch" --version)
echo "$tool_version"
loaded=$(sed -n 's/^module .* (ABI [0-9]*) //p' <<<"$tool_version")
if [ -z "$loaded" ] || [ "$(realpath "$loaded")" != "$(realpath "$libdir/$module_file")" ]; then
    echo "the installed tool did not load the installed module" >&2
    exit 1
fi

echo "pkg-config:"
export PKG_CONFIG_LIBDIR=$libdir/pkgconfig
unset PKG_CONFIG_PATH
pc_module=$(pkg-config --variable=module ntsrch)
[ "$(realpath "$pc_module")" = "$(realpath "$libdir/$module_file")" ] ||
    { echo "pkg-config module variable: $pc_module" >&2; exit 1; }
header_version=$(sed -n 's/^#define NTSRCH_VERSION_STRING "\(.*\)"$/\1/p' "$prefix/include/ntsrch.h")
[ "$(pkg-config --modversion ntsrch)" = "$header_version" ] ||
    { echo "pkg-config version $(pkg-config --modversion ntsrch) != header $header_version" >&2; exit 1; }
# shellcheck disable=SC2046
"$cc" -std=c99 -pedantic -Wall -Wextra -Werror -o "$tmp/consumer-pc" \
    "$src/tests/consumer/consumer.c" $(pkg-config --cflags --libs ntsrch) \
    -Wl,-rpath,"$(pkg-config --variable=libdir ntsrch)"
"$tmp/consumer-pc"

echo "find_package:"
"$cmake" -S "$src/tests/consumer" -B "$tmp/consumer-cmake" -G "$generator" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
"$cmake" --build "$tmp/consumer-cmake" >/dev/null
"$tmp/consumer-cmake/consumer"
echo "install test passed"
