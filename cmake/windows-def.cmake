# SPDX-License-Identifier: MIT
# Writes DEF, the module-definition file of MODULE (a DLL): its file name and the names of
# its export table, as objdump (OBJDUMP) prints them.
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE pe RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${MODULE}")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/pe-exports.cmake)
pe_export_names("${pe}" names)
get_filename_component(file ${MODULE} NAME)
set(text "LIBRARY \"${file}\"\nEXPORTS\n")
foreach(n IN LISTS names)
  string(APPEND text "    ${n}\n")
endforeach()
file(WRITE ${DEF} "${text}")
