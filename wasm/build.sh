#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the module as WebAssembly: wasm/build.sh [OUT_DIR]   (default build-wasm)
# src/*.cpp and yyjson's source, for wasm32-wasi with bookworm's LLVM 19 (its libc++ has
# <compare>; LLVM 14's has not), linked as a reactor with no entry point. The exports are
# the eight functions, the memory, malloc/free for the host to pass text in, and
# _initialize; nothing is imported, so any WebAssembly runtime runs it without WASI.
# $OUT_DIR/js/ gets the JavaScript binding with the module, laid out as in the npm package.
# Needs `scripts/install-deps cross`.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-wasm}
yyjson=${NTSRCH_CROSS_CACHE:-/var/cache/ntsrch-cross}/yyjson-src
llvm=/usr/lib/llvm-19
CXX=${WASM_CXX:-clang++-19}
CC=${WASM_CC:-clang-19}
LD=${WASM_LD:-wasm-ld-19}
for tool in "$CXX" "$CC" "$LD"; do
  command -v "$tool" >/dev/null || {
    echo "$tool not found: run scripts/install-deps cross" >&2
    exit 2
  }
done
[ -f "$yyjson/src/yyjson.c" ] || {
  echo "no yyjson source in $yyjson: run scripts/install-deps cross" >&2
  exit 2
}
mkdir -p "$out/obj"
url=$(sed -n 's/^set(NTSRCH_DEFAULT_BASE_URL "\([^"]*\)".*/\1/p' CMakeLists.txt)
[ -n "$url" ] || url=https://api.nortaveltune.com
target=(--target=wasm32-wasi -O2 -fvisibility=hidden -ffunction-sections -fdata-sections)
# libc++'s headers must come before wasi-libc's, whose C headers libc++ wraps.
sysinc=(-nostdinc++ -isystem "$llvm/include/wasm32-wasi/c++/v1" -isystem /usr/include/wasm32-wasi)
objs=()
"$CC" "${target[@]}" -isystem /usr/include/wasm32-wasi -w -c "$yyjson/src/yyjson.c" -o "$out/obj/yyjson.o"
objs+=("$out/obj/yyjson.o")
for src in src/*.cpp; do
  o=$out/obj/$(basename "$src" .cpp).o
  "$CXX" "${target[@]}" "${sysinc[@]}" -std=c++20 -fno-exceptions -fno-rtti \
    -Wall -Wextra -Wpedantic -Werror -Iinclude -Isrc -isystem "$yyjson/src" \
    -DNTSRCH_BUILDING "-DNTSRCH_DEFAULT_BASE_URL=\"$url\"" -c "$src" -o "$o"
  objs+=("$o")
done
exports=(ntsrch_version ntsrch_abi_version ntsrch_last_error ntsrch_free ntsrch_build_search_url
  ntsrch_filter_and_sort_tracks_json ntsrch_normalize_unified_results_json ntsrch_selftest
  malloc free)
"$LD" --no-entry --gc-sections --strip-all -L/usr/lib/wasm32-wasi -L"$llvm/lib/wasm32-wasi" \
  /usr/lib/wasm32-wasi/crt1-reactor.o "${objs[@]}" -lc++ -lc++abi -lc \
  "$llvm/lib/clang/19/lib/wasi/libclang_rt.builtins-wasm32.a" \
  "${exports[@]/#/--export=}" -o "$out/nortavel-nortaveltune-search-client.wasm"
# The JavaScript binding beside the module, as the npm package's wasm/ folder holds it.
rules=${NTSRCH_RULES_JS:-bindings/node/rules.js}
rm -rf "$out/js"
if [ -f "$rules" ]; then
  mkdir -p "$out/js"
  cp bindings/wasm/ntsrch-wasm.mjs bindings/wasm/worker.mjs bindings/wasm/index.d.ts \
    "$out/nortavel-nortaveltune-search-client.wasm" "$out/js/"
  node wasm/esm-rules.cjs "$rules" "$out/js/rules.mjs"
else
  echo "wasm/build.sh: no $rules (the Node binding's input rules), so no JavaScript binding in $out/js" >&2
fi
echo "$out/nortavel-nortaveltune-search-client.wasm: $(stat -c %s "$out/nortavel-nortaveltune-search-client.wasm") bytes"
