# SPDX-License-Identifier: MIT
# Windows DLL checks, on the PE headers objdump prints:
#   CHECK=exports  the export table holds exactly the functions include/ntsrch.h declares,
#                  and every import
#                  comes from a DLL that Windows itself provides (no C++ or GCC runtime,
#                  no winpthread, nothing to ship beside the module);
#   CHECK=tls      a native TLS directory and .tls section, and nothing of emulated TLS
#                  (__emutls_*), which would allocate a thread's buffer on first use.
if(NOT OBJDUMP)
  find_program(OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)
endif()
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE pe RESULT_VARIABLE rc1)
execute_process(COMMAND ${OBJDUMP} -h -t ${MODULE} OUTPUT_VARIABLE sym RESULT_VARIABLE rc2)
if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${MODULE}")
endif()

if(CHECK STREQUAL "exports")
  include(${CMAKE_CURRENT_LIST_DIR}/../cmake/pe-exports.cmake)
  include(${CMAKE_CURRENT_LIST_DIR}/../cmake/ntsrch-header.cmake)
  pe_export_names("${pe}" names)
  ntsrch_expect_exports("${names}" "${MODULE}'s export table")

  string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${pe}")
  set(imports "")
  foreach(d IN LISTS dlls)
    string(SUBSTRING "${d}" 10 -1 n)
    string(TOLOWER "${n}" n)
    list(APPEND imports ${n})
  endforeach()
  if(NOT imports)
    message(FATAL_ERROR "no import table in ${MODULE}")
  endif()
  foreach(n IN LISTS imports)
    if(NOT n MATCHES "^(kernel32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|advapi32|user32|shell32|ntdll)\\.dll$")
      message(FATAL_ERROR "imports ${n}, which Windows does not provide: ${imports}")
    endif()
  endforeach()
  message(STATUS "exports ok: ${names}; imports only ${imports}")
elseif(CHECK STREQUAL "tls")
  if(NOT pe MATCHES "Thread Storage Directory \\[\\.tls\\]")
    message(FATAL_ERROR "no TLS directory: the buffer is not native TLS\n${pe}")
  endif()
  if(NOT sym MATCHES "\n +[0-9]+ \\.tls ")
    message(FATAL_ERROR "no .tls section\n${sym}")
  endif()
  if(pe MATCHES "__emutls" OR sym MATCHES "__emutls")
    message(FATAL_ERROR "emulated TLS in the module: its buffers are allocated on first use")
  endif()
  message(STATUS "native TLS (.tls section and directory), no __emutls")
else()
  message(FATAL_ERROR "CHECK must be exports or tls")
endif()
