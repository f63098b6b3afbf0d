# SPDX-License-Identifier: MIT
# Linux s390x (big-endian), tested under qemu-s390x.
set(NTSRCH_CROSS_PROCESSOR s390x)
set(NTSRCH_CROSS_DEB_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-cross.cmake)
