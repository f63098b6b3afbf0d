# SPDX-License-Identifier: MIT
# Shared by the Linux cross toolchain files, which set NTSRCH_CROSS_PROCESSOR (GNU name, e.g.
# aarch64) and NTSRCH_CROSS_DEB_ARCH (Debian's name, e.g. arm64). Debian's
# <processor>-linux-gnu GCC builds; programs run under qemu-<processor> with the cross C
# library. yyjson comes from Debian's packages for that architecture, unpacked by
# scripts/install-deps cross under NTSRCH_CROSS_CACHE (pass -DNTSRCH_CROSS_CACHE=... or set
# it in the environment).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${NTSRCH_CROSS_PROCESSOR})
set(_ntsrch_triple ${NTSRCH_CROSS_PROCESSOR}-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE ${_ntsrch_triple})
set(CMAKE_C_COMPILER ${_ntsrch_triple}-gcc)
set(CMAKE_CXX_COMPILER ${_ntsrch_triple}-g++)

include(${CMAKE_CURRENT_LIST_DIR}/cross-cache.cmake)
set(CMAKE_FIND_ROOT_PATH /usr/${_ntsrch_triple} ${NTSRCH_CROSS_CACHE}/${NTSRCH_CROSS_DEB_ARCH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# tests/cross/emulate reports a non-zero exit of qemu itself (scripts/test-cross reruns a
# test whose program never started).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/cross/emulate
    qemu-${NTSRCH_CROSS_PROCESSOR} -L /usr/${_ntsrch_triple})
