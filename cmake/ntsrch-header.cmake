# SPDX-License-Identifier: MIT
# The public header is the one declaration of the interface: its version, ABI version, sort
# modes and exported functions are read from it here, for the build and for every check,
# so a host's compile-time macros, the installed package and the checks all agree.
#   include(cmake/ntsrch-header.cmake)   NTSRCH_HEADER_VERSION_STRING (_MAJOR, _MINOR, _PATCH),
#                                        NTSRCH_HEADER_ABI_VERSION, NTSRCH_HEADER_EXPORTS (in
#                                        the header's order), NTSRCH_HEADER_SORT_MODES (names
#                                        such as TITLE_ASC) and NTSRCH_HEADER_SORT_<NAME>
#   cmake -P cmake/ntsrch-header.cmake   the same as one JSON object on standard output, for
#                                        scripts in other languages; -DNTSRCH_PRINT=exports
#                                        prints the exports one a line, =version or
#                                        =abi_version that value alone
# A configured tree also gets it as ntsrch-header.json in its top folder.
set(_ntsrch_h ${CMAKE_CURRENT_LIST_DIR}/../include/ntsrch.h)
file(STRINGS ${_ntsrch_h} _ntsrch_defines REGEX "^#define NTSRCH_(VERSION_[A-Z]+|ABI_VERSION|SORT_[A-Z_]+) ")
set(NTSRCH_HEADER_SORT_MODES "")
foreach(_line IN LISTS _ntsrch_defines)
  if(_line MATCHES "^#define NTSRCH_SORT_([A-Z_]+) ([0-9]+)$")
    list(APPEND NTSRCH_HEADER_SORT_MODES ${CMAKE_MATCH_1})
    set(NTSRCH_HEADER_SORT_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  elseif(_line MATCHES "^#define NTSRCH_([A-Z_]+) \"?([0-9.]+)\"?$")
    set(NTSRCH_HEADER_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endif()
endforeach()
# A declaration's first line names its function: NTSRCH_API <type> NTSRCH_CALL ntsrch_x(...
file(STRINGS ${_ntsrch_h} _ntsrch_decls REGEX "^NTSRCH_API ")
set(NTSRCH_HEADER_EXPORTS "")
foreach(_line IN LISTS _ntsrch_decls)
  if(_line MATCHES "NTSRCH_CALL (ntsrch_[a-z0-9_]+)\\(")
    list(APPEND NTSRCH_HEADER_EXPORTS ${CMAKE_MATCH_1})
  else()
    message(FATAL_ERROR "include/ntsrch.h: cannot read the function name in: ${_line}")
  endif()
endforeach()
if(NOT NTSRCH_HEADER_VERSION_STRING STREQUAL
   "${NTSRCH_HEADER_VERSION_MAJOR}.${NTSRCH_HEADER_VERSION_MINOR}.${NTSRCH_HEADER_VERSION_PATCH}"
   OR NOT NTSRCH_HEADER_ABI_VERSION MATCHES "^[0-9]+$" OR NOT NTSRCH_HEADER_EXPORTS
   OR NOT NTSRCH_HEADER_SORT_MODES)
  message(FATAL_ERROR "include/ntsrch.h: NTSRCH_VERSION_STRING must equal "
                      "MAJOR.MINOR.PATCH, NTSRCH_ABI_VERSION must be a number, and it must "
                      "declare functions (NTSRCH_API) and sort modes (NTSRCH_SORT_*)")
endif()

# Fails unless the list NAMES, in any order, holds exactly the header's functions; WHAT says
# where NAMES come from.
function(ntsrch_expect_exports names what)
  set(got ${names})
  set(want ${NTSRCH_HEADER_EXPORTS})
  list(SORT got)
  list(SORT want)
  if(NOT got STREQUAL want)
    message(FATAL_ERROR "${what}: ${got}\ninclude/ntsrch.h declares: ${want}")
  endif()
endfunction()

set(_ntsrch_json "{\n  \"version\": \"${NTSRCH_HEADER_VERSION_STRING}\",\n")
string(APPEND _ntsrch_json "  \"abi_version\": ${NTSRCH_HEADER_ABI_VERSION},\n  \"exports\": [")
list(JOIN NTSRCH_HEADER_EXPORTS "\", \"" _ntsrch_names)
string(APPEND _ntsrch_json "\"${_ntsrch_names}\"],\n  \"sort_modes\": {")
set(_ntsrch_sep "")
foreach(_mode IN LISTS NTSRCH_HEADER_SORT_MODES)
  string(APPEND _ntsrch_json "${_ntsrch_sep}\"${_mode}\": ${NTSRCH_HEADER_SORT_${_mode}}")
  set(_ntsrch_sep ", ")
endforeach()
string(APPEND _ntsrch_json "}\n}\n")

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NTSRCH_PRINT STREQUAL "exports")
    list(JOIN NTSRCH_HEADER_EXPORTS "\n" _ntsrch_out)
    string(APPEND _ntsrch_out "\n")
  elseif(NTSRCH_PRINT STREQUAL "version")
    set(_ntsrch_out "${NTSRCH_HEADER_VERSION_STRING}\n")
  elseif(NTSRCH_PRINT STREQUAL "abi_version")
    set(_ntsrch_out "${NTSRCH_HEADER_ABI_VERSION}\n")
  elseif(NTSRCH_PRINT)
    message(FATAL_ERROR "NTSRCH_PRINT: exports, version or abi_version (none: JSON)")
  else()
    set(_ntsrch_out "${_ntsrch_json}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo_append "${_ntsrch_out}")
elseif(NOT CMAKE_SCRIPT_MODE_FILE)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/ntsrch-header.json CONTENT "${_ntsrch_json}")
endif()
