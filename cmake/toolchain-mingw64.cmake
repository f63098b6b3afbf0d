# SPDX-License-Identifier: MIT
# Windows x64: clang 14 targeting x86_64-w64-mingw32, with the headers, import libraries
# and libstdc++ of Debian's mingw-w64 GCC (posix threads). clang rather than that GCC:
# GCC on mingw has only emulated TLS, which allocates a thread's block on its first touch;
# clang emits a native .tls section, which the loader reserves when the DLL or the thread
# starts. Programs run under wine64 with a prefix inside the build tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(NTSRCH_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${NTSRCH_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${NTSRCH_TRIPLE})
set(CMAKE_RC_COMPILER ${NTSRCH_TRIPLE}-windres)
set(CMAKE_AR /usr/bin/${NTSRCH_TRIPLE}-ar)
set(CMAKE_RANLIB /usr/bin/${NTSRCH_TRIPLE}-ranlib)
set(CMAKE_OBJDUMP /usr/bin/${NTSRCH_TRIPLE}-objdump)
set(CMAKE_NM /usr/bin/${NTSRCH_TRIPLE}-nm)
set(CMAKE_SYSROOT /usr/${NTSRCH_TRIPLE})

# clang 14 does not recognise Debian's "12-posix" directory as a GCC version: name it.
file(GLOB ntsrch_gcc_dirs /usr/lib/gcc/${NTSRCH_TRIPLE}/*-posix)
if(NOT ntsrch_gcc_dirs)
  message(FATAL_ERROR "mingw-w64 GCC (posix) not found: run scripts/install-deps cross")
endif()
list(SORT ntsrch_gcc_dirs COMPARE NATURAL)
list(GET ntsrch_gcc_dirs -1 ntsrch_gcc)
set(CMAKE_CXX_FLAGS_INIT "-Wno-unused-command-line-argument -nostdinc++ -isystem ${ntsrch_gcc}/include/c++ \
-isystem ${ntsrch_gcc}/include/c++/${NTSRCH_TRIPLE} -isystem ${ntsrch_gcc}/include/c++/backward")
# Everything static: the DLL and the test programs need no runtime DLL beside them.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-L${ntsrch_gcc} -static -pthread")
endforeach()

# No yyjson package for this target: built from the source scripts/install-deps cross fetched.
include(${CMAKE_CURRENT_LIST_DIR}/cross-cache.cmake)
set(NTSRCH_YYJSON_SOURCE ${NTSRCH_CROSS_CACHE}/yyjson-src CACHE PATH "yyjson source tree")

set(CMAKE_FIND_ROOT_PATH /usr/${NTSRCH_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(NTSRCH_WINE64 wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(NTSRCH_WINE64)
  # WINEPATH: test programs in subfolders find the DLL, as they would beside it. Wine's
  # "err:" messages stay on: they are all a program that never started leaves behind
  # (tests/cross/emulate adds wine's exit status; scripts/test-cross reruns such a test).
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
      WINEPATH=${CMAKE_BINARY_DIR} WINEDEBUG=fixme-all WINEDLLOVERRIDES=mscoree,mshtml=
      ${CMAKE_CURRENT_LIST_DIR}/../tests/cross/emulate ${NTSRCH_WINE64})
endif()
