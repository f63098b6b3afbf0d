# SPDX-License-Identifier: MIT
# macOS x86_64, with Zig's clang (see toolchain-macos.cmake).
set(NTSRCH_MACOS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-macos.cmake)
