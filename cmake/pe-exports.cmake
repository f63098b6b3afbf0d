# SPDX-License-Identifier: MIT
# pe_export_names(PE OUT): the names of the export table in PE, the text `objdump -p` prints
# for a DLL, in table order. Fails when PE has no export name table.
function(pe_export_names pe out)
  # The name table: lines "\t[   0] ntsrch_abi_version" up to the next blank line.
  string(FIND "${pe}" "[Ordinal/Name Pointer] Table\n" at)
  if(at LESS 0)
    message(FATAL_ERROR "no export name table in ${MODULE}\n${pe}")
  endif()
  string(SUBSTRING "${pe}" ${at} -1 table)
  string(FIND "${table}" "\n\n" end)
  string(SUBSTRING "${table}" 0 ${end} table)
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" found "${table}")
  set(names "")
  foreach(f IN LISTS found)
    string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" n "${f}")
    list(APPEND names "${n}")
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
