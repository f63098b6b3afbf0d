# SPDX-License-Identifier: MIT
# Fails unless the module defines exactly the functions include/ntsrch.h declares in its
# dynamic symbol table.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/ntsrch-header.cmake)
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
ntsrch_expect_exports("${names}" "${MODULE} exports")
message(STATUS "exports ok: ${names}")
