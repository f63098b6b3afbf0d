#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the WebAssembly module (cmake/toolchain-wasm32.cmake) and runs its checks,
# appending "pass/fail/note" lines to RESULT_FILE:
#   bindings/wasm/test/check.sh WASM_TREE RESULT_FILE [NATIVE_TREE]
# With NATIVE_TREE (a built native tree), the checks that compare both modules run too.
set -uo pipefail
cd "$(dirname "$0")/../../.."
tree=$1 result=$2 native=${3:-}
wasm=$tree/nortavel-nortaveltune-search-client.wasm
if ! { nice cmake -S . -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-wasm32.cmake &&
  nice cmake --build "$tree"; }; then
  echo "fail wasm: build" >>"$result"
  exit 1
fi
# The checks that compare with the native module need its tree; build what they use.
if [ -n "$native" ] && [ ! -f "$native/nortavel-nortaveltune-search-client.so" ]; then
  { [ -f "$native/CMakeCache.txt" ] || cmake -S . -B "$native" -G Ninja >/dev/null; } &&
    nice cmake --build "$native" --target ntsrch ntsrch_tool >/dev/null ||
    echo "fail wasm: native tree $native for the comparisons" >>"$result"
fi
rc=0
tsc=bindings/node/node_modules/.bin/tsc
if [ -x "$tsc" ] && [ -f "$tree/js/index.d.ts" ]; then
  cp bindings/wasm/test/types.ts "$tree/types.ts"
  if "$tsc" --strict --noEmit --target es2022 --module es2022 --moduleResolution bundler \
    --lib es2022,dom "$tree/types.ts"; then
    echo "pass wasm types: index.d.ts under tsc --strict" >>"$result"
  else
    echo "fail wasm types: index.d.ts under tsc --strict" >>"$result"
    rc=1
  fi
else
  echo "skip wasm types: no TypeScript (npm ci in bindings/node)" >>"$result"
fi
for t in bindings/wasm/test/*.test.mjs; do
  # Only the module's own checks and the raw mix probe do without the JavaScript binding.
  if [ ! -f "$tree/js/ntsrch-wasm.mjs" ] && ! grep -q "^// needs: module only" "$t"; then
    echo "skip wasm $(basename "$t" .test.mjs): no JavaScript binding in $tree/js (bindings/node/rules.js missing)" >>"$result"
    continue
  fi
  out=$(nice node "$t" "$wasm" "$native" 2>&1) || rc=1
  echo "$out"
  grep -E '^(pass|fail|skip|note) ' <<<"$out" >>"$result"
  # A test file that died before its rows counts as one failure.
  grep -qE '^(pass|fail|skip) ' <<<"$out" || { echo "fail wasm: $t produced no result" >>"$result"; rc=1; }
done
exit "$rc"
