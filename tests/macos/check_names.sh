#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What CMake would build on macOS, from the build files it generates there (configure
# only: no Mac toolchain here): the module file nortavel-nortaveltune-search-client.dylib,
# linked with the install name @rpath/<that file>.
# Usage: tests/macos/check_names.sh BUILD_DIR YYJSON_SOURCE
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tree=$1 yyjson=$2
rm -rf "$tree"
mkdir -p "$tree/bin"
# CMake asks sw_vers for the macOS version; rpath support (and so @rpath) needs >= 10.5.
printf '#!/bin/sh\necho 12.6\n' >"$tree/bin/sw_vers"
chmod +x "$tree/bin/sw_vers"
PATH="$tree/bin:$PATH" cmake -S "$here/../.." -B "$tree/b" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$here/toolchain-fake-darwin.cmake" -DNTSRCH_BUILD_TESTS=OFF \
  -DNTSRCH_YYJSON_SOURCE="$yyjson" >"$tree/configure.log" 2>&1 || {
  cat "$tree/configure.log"
  exit 1
}
file=nortavel-nortaveltune-search-client.dylib
stmt=$(awk -v f="build $file:" 'index($0, f) == 1 {on = 1} on && /^$/ {exit} on' "$tree/b/build.ninja")
[ -n "$stmt" ] || {
  echo "no link step for $file in build.ninja"
  exit 1
}
grep -qx '  INSTALLNAME_DIR = @rpath/' <<<"$stmt" || {
  echo "install name is not @rpath/$file:"
  echo "$stmt"
  exit 1
}
grep -qx "  SONAME = $file" <<<"$stmt" && grep -qx '  SONAME_FLAG = -install_name' <<<"$stmt" || {
  echo "no -install_name $file:"
  echo "$stmt"
  exit 1
}
echo "macOS: $file, install name @rpath/$file"
