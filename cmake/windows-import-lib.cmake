# SPDX-License-Identifier: MIT
# Windows: a .def and an import library beside the DLL, for hosts linked by MSVC's
# link.exe. The .def is the DLL's own export table; llvm-dlltool writes from it the short
# import format that link.exe (and lld-link, which tests/msvc links with) reads.
find_program(NTSRCH_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
set(NTSRCH_DEF ${PROJECT_BINARY_DIR}/nortavel-nortaveltune-search-client.def)
set(NTSRCH_IMPORT_LIB ${PROJECT_BINARY_DIR}/nortavel-nortaveltune-search-client.lib)
add_custom_command(OUTPUT ${NTSRCH_DEF} ${NTSRCH_IMPORT_LIB}
  COMMAND ${CMAKE_COMMAND} -DMODULE=$<TARGET_FILE:ntsrch> -DOBJDUMP=${CMAKE_OBJDUMP}
          -DDEF=${NTSRCH_DEF} -P ${CMAKE_CURRENT_LIST_DIR}/windows-def.cmake
  COMMAND ${NTSRCH_DLLTOOL} -m i386:x86-64 -d ${NTSRCH_DEF} -l ${NTSRCH_IMPORT_LIB}
  DEPENDS ntsrch ${CMAKE_CURRENT_LIST_DIR}/windows-def.cmake ${CMAKE_CURRENT_LIST_DIR}/pe-exports.cmake
  COMMENT "Import library for MSVC linkers: ${NTSRCH_IMPORT_LIB}")
add_custom_target(ntsrch_import_lib ALL DEPENDS ${NTSRCH_DEF} ${NTSRCH_IMPORT_LIB})
