#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Mach-O checks catch what they are for: each row damages a copy of the arm64 tree's
# module and names the checks that must then fail (and only those); an undamaged copy
# must pass them all.
# Usage: tests/macos/check_catches.sh UNIVERSAL_DIR X86_64_TREE ARM64_TREE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
universal=$1 x64=$2 arm=$3
module=nortavel-nortaveltune-search-client.dylib
llvm() { command -v "$1" 2>/dev/null || ls /usr/lib/llvm-*/bin/"$1" 2>/dev/null | sort -V | tail -n 1; }
int=$(llvm llvm-install-name-tool)
[ -n "$int" ] || {
  echo "llvm-install-name-tool not found: run scripts/install-deps cross" >&2
  exit 1
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

untouched() { :; }
rename() { "$int" -id @rpath/other.dylib "$1"; }
flip_byte() { # one byte of the second page, inside the signed range
  local b
  b=$(od -An -tu1 -j 4096 -N 1 "$1")
  printf "\\$(printf %03o $((b ^ 255)))" | dd of="$1" bs=1 seek=4096 conv=notrunc status=none
}
other_cpu() { cp "$x64/$module" "$1"; }
other_dependency() { "$int" -change /usr/lib/libSystem.B.dylib /usr/lib/libc++.1.dylib "$1"; }

# fault | checks of the arm64 module that must fail, ';'-separated. LLVM's install-name
# tool re-signs what it rewrites, so only the other faults break the signature. After any
# fault the universal module's slice differs from the tree's, so that check fails too.
sig="ad-hoc code signature intact"
rows=(
  "untouched|"
  "rename|install name @rpath/$module"
  "flip_byte|$sig"
  "other_cpu|Mach-O dylib of its CPU;$sig"
  "other_dependency|depends on libSystem only"
)
bad=0
for row in "${rows[@]}"; do
  fault=${row%%|*} want=${row#*|}
  copy=$tmp/$fault
  mkdir -p "$copy/tests/host"
  for f in "$module" ntsrch tests/ntsrch_tests tests/ntsrch_unload_test tests/host/ntsrch_header_c99; do
    cp "$arm/$f" "$copy/$f"
  done
  "$fault" "$copy/$module" 2>/dev/null
  failed=$("$here/check_macho.py" "$universal" "$x64" "$copy" | sed -n 's/^fail \(macos [^:]*: [^:]*\).*/\1/p' |
    sort) || true
  expected=""
  if [ -n "$want" ]; then
    expected=$( (
      IFS=';'
      for c in $want; do echo "macos arm64 module: $c"; done
      echo "macos universal $module: both slices as linked"
    ) | sort)
  fi
  if [ "$failed" = "$expected" ]; then
    echo "pass macos checks catch: $fault"
  else
    echo "fail macos checks catch: $fault: failed [${failed//$'\n'/, }], want [${expected//$'\n'/, }]"
    bad=1
  fi
done
exit "$bad"
