# SPDX-License-Identifier: MIT
# The last-error buffer must be static TLS (reserved when the module or thread is set up,
# never allocated lazily inside a call) and must register no thread-exit destructor, so
# the module stays unloadable.
find_program(READELF readelf REQUIRED)
find_program(NM nm REQUIRED)
execute_process(COMMAND ${READELF} -d ${MODULE} OUTPUT_VARIABLE dyn RESULT_VARIABLE rc1)
execute_process(COMMAND ${NM} -D --undefined-only ${MODULE} OUTPUT_VARIABLE undef RESULT_VARIABLE rc2)
execute_process(COMMAND ${READELF} -rW ${MODULE} OUTPUT_VARIABLE rel RESULT_VARIABLE rc3)
if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0 OR NOT rc3 EQUAL 0)
  message(FATAL_ERROR "readelf or nm failed on ${MODULE}")
endif()
# Dynamic-model TLS relocations (module id, offset in the module's block, descriptors) mean
# a block set up lazily.
string(REGEX MATCHALL "R_[A-Z0-9_]*_(TLS|DTP|TP)[A-Z0-9_]*" tls_rel "${rel}")
foreach(r IN LISTS tls_rel)
  if(r MATCHES "DTP|DESC")
    message(FATAL_ERROR "dynamic TLS relocation ${r}: the TLS block would be allocated lazily")
  endif()
endforeach()
# x86 linkers flag initial-exec TLS as STATIC_TLS; others (aarch64, s390x) only leave its
# thread-pointer-relative relocations.
if(NOT dyn MATCHES "\\(FLAGS\\)[^\n]*STATIC_TLS" AND NOT tls_rel MATCHES "TPREL|TPOFF")
  message(FATAL_ERROR "no STATIC_TLS flag nor initial-exec relocation: the TLS block would "
                      "be allocated lazily\n${dyn}\n${tls_rel}")
endif()
foreach(bad __tls_get_addr __cxa_thread_atexit __cxa_thread_atexit_impl)
  if(undef MATCHES "[ \t]${bad}(@|\n|$)")
    message(FATAL_ERROR "module imports ${bad}\n${undef}")
  endif()
endforeach()
message(STATUS "static TLS, no lazy TLS allocation, no TLS destructor")
