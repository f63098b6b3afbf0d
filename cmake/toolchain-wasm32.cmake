# SPDX-License-Identifier: MIT
# WebAssembly (wasm32): clang 19 targeting wasm32-wasi, with wasi-libc and LLVM 19's wasm32
# libc++ (LLVM 14's lacks <compare>), from `scripts/install-deps wasm`. The module is a
# reactor that imports nothing, so any WebAssembly runtime runs it without WASI; the rest
# of the build is bindings/wasm/build.cmake. Programs do not run here: no tests, no tool.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(NTSRCH_WASM ON)

find_program(NTSRCH_WASM_CC NAMES clang-19 PATHS /usr/lib/llvm-19/bin)
find_program(NTSRCH_WASM_CXX NAMES clang++-19 PATHS /usr/lib/llvm-19/bin)
if(NOT NTSRCH_WASM_CC OR NOT NTSRCH_WASM_CXX OR NOT EXISTS /usr/lib/wasm32-wasi/crt1-reactor.o)
  message(FATAL_ERROR "clang 19 with wasi-libc not found: run scripts/install-deps wasm")
endif()
set(CMAKE_C_COMPILER ${NTSRCH_WASM_CC})
set(CMAKE_CXX_COMPILER ${NTSRCH_WASM_CXX})
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(NTSRCH_BUILD_TESTS OFF CACHE BOOL "Build the tests" FORCE)

# yyjson from the source scripts/install-deps wasm fetched, compiled into the module.
include(${CMAKE_CURRENT_LIST_DIR}/cross-cache.cmake)
set(NTSRCH_YYJSON_SOURCE ${NTSRCH_CROSS_CACHE}/yyjson-src CACHE PATH "yyjson source tree")
if(NOT EXISTS ${NTSRCH_YYJSON_SOURCE}/src/yyjson.c)
  message(FATAL_ERROR "no yyjson source in ${NTSRCH_YYJSON_SOURCE}: run scripts/install-deps wasm")
endif()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
