# SPDX-License-Identifier: MIT
# Fails unless the module defines exactly the ntsrch_ functions listed below in its dynamic
# symbol table.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only ${MODULE} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(names "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) (.+)$")
    set(kind "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    # The version node the linker script creates is an absolute symbol, not code or data.
    if(kind STREQUAL "A")
      continue()
    endif()
    list(APPEND names "${name}")
  endif()
endforeach()
list(SORT names)
set(expected ntsrch_abi_version ntsrch_build_search_url ntsrch_filter_and_sort_tracks_json
    ntsrch_free ntsrch_last_error ntsrch_normalize_unified_results_json ntsrch_selftest
    ntsrch_version)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
message(STATUS "exports ok: ${names}")
