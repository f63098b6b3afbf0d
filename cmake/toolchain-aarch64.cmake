# SPDX-License-Identifier: MIT
# Linux arm64, tested under qemu-aarch64.
set(NTSRCH_CROSS_PROCESSOR aarch64)
set(NTSRCH_CROSS_DEB_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-cross.cmake)
