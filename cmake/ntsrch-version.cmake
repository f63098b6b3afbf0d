# SPDX-License-Identifier: MIT
# The public header is the one place the version is written; the project and package
# versions follow it, so a host's compile-time macros and the installed package agree.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../include/ntsrch.h _ntsrch_version_lines
     REGEX "^#define NTSRCH_(VERSION_[A-Z]+|ABI_VERSION) ")
foreach(_line IN LISTS _ntsrch_version_lines)
  if(_line MATCHES "^#define NTSRCH_([A-Z_]+) \"?([0-9.]+)\"?$")
    set(NTSRCH_HEADER_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endif()
endforeach()
if(NOT NTSRCH_HEADER_VERSION_STRING STREQUAL
   "${NTSRCH_HEADER_VERSION_MAJOR}.${NTSRCH_HEADER_VERSION_MINOR}.${NTSRCH_HEADER_VERSION_PATCH}"
   OR NOT NTSRCH_HEADER_ABI_VERSION MATCHES "^[0-9]+$")
  message(FATAL_ERROR "include/ntsrch.h: NTSRCH_VERSION_STRING must equal "
                      "MAJOR.MINOR.PATCH, and NTSRCH_ABI_VERSION must be a number")
endif()
