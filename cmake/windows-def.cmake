# SPDX-License-Identifier: MIT
# Writes DEF, the module-definition file of MODULE (a DLL): its file name and the names of
# its export table, as objdump (OBJDUMP) prints them.
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE pe RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${MODULE}")
endif()
# The name table: lines "\t[   0] ntsrch_abi_version" up to the next blank line.
string(FIND "${pe}" "[Ordinal/Name Pointer] Table\n" at)
if(at LESS 0)
  message(FATAL_ERROR "no export name table in ${MODULE}")
endif()
string(SUBSTRING "${pe}" ${at} -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" found "${table}")
get_filename_component(file ${MODULE} NAME)
set(text "LIBRARY \"${file}\"\nEXPORTS\n")
foreach(f IN LISTS found)
  string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" n "${f}")
  string(APPEND text "    ${n}\n")
endforeach()
file(WRITE ${DEF} "${text}")
