# SPDX-License-Identifier: MIT
# Cross builds: GoogleTest for the target, from the source Debian's googletest package
# installs. Its own code, so none of this project's warnings.
set(NTSRCH_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH "GoogleTest source tree")
if(EXISTS ${NTSRCH_GTEST_SOURCE}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${NTSRCH_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_target_properties(gtest gtest_main PROPERTIES COMPILE_OPTIONS "-w")
  set(GTest_FOUND TRUE)
else()
  set(GTest_FOUND FALSE)
endif()
