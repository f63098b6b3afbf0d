# SPDX-License-Identifier: MIT
# macOS (11.0 and later) with Zig's clang, which carries macOS's headers and libSystem's
# stubs: no Apple SDK needed. Included by toolchain-macos-x86_64.cmake and
# toolchain-macos-arm64.cmake, which set NTSRCH_MACOS_ARCH (the Zig CPU name). Nothing
# built here runs on this machine; scripts/test-cross checks the Mach-O files instead.
set(CMAKE_SYSTEM_NAME Darwin)
# Darwin 20 is macOS 11.0, the lowest release with arm64 and the universal wheel's floor.
set(CMAKE_SYSTEM_VERSION 20.1.0)
set(CMAKE_SYSTEM_PROCESSOR ${NTSRCH_MACOS_ARCH})
set(NTSRCH_MACOS_MIN 11.0)

include(${CMAKE_CURRENT_LIST_DIR}/cross-cache.cmake)
if(NOT EXISTS ${NTSRCH_CROSS_CACHE}/zig/bin/zig AND NOT DEFINED ENV{NTSRCH_ZIG})
  message(FATAL_ERROR "Zig not found in ${NTSRCH_CROSS_CACHE}/zig: run scripts/install-deps cross")
endif()

# zig cc / zig c++ / zig ar / zig ranlib, through one wrapper named after each (cmake/macos/).
set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/macos/cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/macos/c++)
set(CMAKE_AR ${CMAKE_CURRENT_LIST_DIR}/macos/ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${CMAKE_CURRENT_LIST_DIR}/macos/ranlib CACHE FILEPATH "")
set(CMAKE_C_COMPILER_TARGET ${NTSRCH_MACOS_ARCH}-macos.${NTSRCH_MACOS_MIN})
set(CMAKE_CXX_COMPILER_TARGET ${NTSRCH_MACOS_ARCH}-macos.${NTSRCH_MACOS_MIN})
# Zig's own SDK stands in for Xcode's: CMake must neither look one up nor pass -isysroot,
# -arch or -mmacosx-version-min (the target above says all of that).
set(CMAKE_OSX_SYSROOT "/" CACHE PATH "")
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")

# CMake takes the macOS version from sw_vers, which this machine lacks, and without one
# (10.5 or later) it would give the module an absolute install name instead of @rpath/:
# cmake/macos/sw_vers answers with the floor.
set(ENV{NTSRCH_MACOS_MIN} ${NTSRCH_MACOS_MIN})
if(NOT "$ENV{PATH}" MATCHES "^${CMAKE_CURRENT_LIST_DIR}/macos:")
  set(ENV{PATH} "${CMAKE_CURRENT_LIST_DIR}/macos:$ENV{PATH}")
endif()
# Zig's Mach-O linker takes no export list (-exported_symbol): the module hides all but the
# ntsrch_ functions at compile time instead, yyjson included, and links no C++ runtime.
set(NTSRCH_NO_EXPORT_LIST ON)

# yyjson from the same source tarball as the Windows DLL, linked into the module.
set(NTSRCH_YYJSON_SOURCE ${NTSRCH_CROSS_CACHE}/yyjson-src CACHE PATH "yyjson source tree")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
