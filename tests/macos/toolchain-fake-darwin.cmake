# SPDX-License-Identifier: MIT
# Configure-only stand-in for a macOS toolchain: nothing is compiled or linked with it; it
# lets CMake generate the build files it would write on a Mac, to check names in them.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 21.6.0)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-apple-darwin21)
set(CMAKE_CXX_COMPILER_TARGET x86_64-apple-darwin21)
set(CMAKE_C_COMPILER_WORKS TRUE)
set(CMAKE_CXX_COMPILER_WORKS TRUE)
set(CMAKE_OSX_SYSROOT /)
