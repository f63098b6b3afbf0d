# SPDX-License-Identifier: MIT
# Linux s390x with Debian's s390x-linux-gnu GCC; programs run under qemu-s390x with the cross
# C library. yyjson comes from Debian's s390x packages, unpacked by scripts/install-deps cross
# under NTSRCH_CROSS_CACHE (pass -DNTSRCH_CROSS_CACHE=... or set it in the environment).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

include(${CMAKE_CURRENT_LIST_DIR}/cross-cache.cmake)
set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu ${NTSRCH_CROSS_CACHE}/s390x)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu)
