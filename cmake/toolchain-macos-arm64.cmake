# SPDX-License-Identifier: MIT
# macOS arm64, with Zig's clang (see toolchain-macos.cmake).
set(NTSRCH_MACOS_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-macos.cmake)
