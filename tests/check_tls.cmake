# SPDX-License-Identifier: MIT
# The last-error buffer must be static TLS (reserved when the module or thread is set up,
# never allocated lazily inside a call) and must register no thread-exit destructor, so
# the module stays unloadable.
find_program(READELF readelf REQUIRED)
find_program(NM nm REQUIRED)
execute_process(COMMAND ${READELF} -d ${MODULE} OUTPUT_VARIABLE dyn RESULT_VARIABLE rc1)
execute_process(COMMAND ${NM} -D --undefined-only ${MODULE} OUTPUT_VARIABLE undef RESULT_VARIABLE rc2)
if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0)
  message(FATAL_ERROR "readelf or nm failed on ${MODULE}")
endif()
if(NOT dyn MATCHES "\\(FLAGS\\)[^\n]*STATIC_TLS")
  message(FATAL_ERROR "no STATIC_TLS flag: the TLS block would be allocated lazily\n${dyn}")
endif()
foreach(bad __tls_get_addr __cxa_thread_atexit __cxa_thread_atexit_impl)
  if(undef MATCHES "[ \t]${bad}(@|\n|$)")
    message(FATAL_ERROR "module imports ${bad}\n${undef}")
  endif()
endforeach()
message(STATUS "static TLS, no lazy TLS allocation, no TLS destructor")
