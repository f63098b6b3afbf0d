# SPDX-License-Identifier: MIT
# Linux arm64 with Debian's aarch64-linux-gnu GCC; programs run under qemu-aarch64 with the cross
# C library. yyjson comes from Debian's arm64 packages, unpacked by scripts/install-deps cross
# under NTSRCH_CROSS_CACHE (pass -DNTSRCH_CROSS_CACHE=... or set it in the environment).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

include(${CMAKE_CURRENT_LIST_DIR}/cross-cache.cmake)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu ${NTSRCH_CROSS_CACHE}/arm64)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
