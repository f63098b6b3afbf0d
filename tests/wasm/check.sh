#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the WebAssembly module and runs its checks, appending "pass/fail/note" lines to
# RESULT_FILE:   tests/wasm/check.sh WASM_TREE RESULT_FILE [NATIVE_TREE]
# With NATIVE_TREE (a built native tree), the checks that compare both modules run too.
set -uo pipefail
cd "$(dirname "$0")/../.."
tree=$1 result=$2 native=${3:-}
wasm=$tree/nortavel-nortaveltune-search-client.wasm
if ! nice wasm/build.sh "$tree"; then
  echo "fail wasm: build" >>"$result"
  exit 1
fi
rc=0
for t in tests/wasm/*.test.mjs; do
  out=$(nice node "$t" "$wasm" "$native" 2>&1) || rc=1
  echo "$out"
  grep -E '^(pass|fail|skip|note) ' <<<"$out" >>"$result"
  # A test file that died before its rows counts as one failure.
  grep -qE '^(pass|fail|skip) ' <<<"$out" || { echo "fail wasm: $t produced no result" >>"$result"; rc=1; }
done
exit "$rc"
