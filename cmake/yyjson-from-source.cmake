# SPDX-License-Identifier: MIT
# yyjson as a static library from its source tree (NTSRCH_YYJSON_SOURCE), linked into the
# module so that it ships as one file. Its own code, so none of this project's warnings.
if(NOT EXISTS ${NTSRCH_YYJSON_SOURCE}/src/yyjson.c)
  message(FATAL_ERROR "no yyjson source in ${NTSRCH_YYJSON_SOURCE}: run scripts/install-deps cross")
endif()
# WebAssembly: its objects go straight into the module, so no wasm archiver is needed.
if(NTSRCH_WASM)
  add_library(ntsrch_yyjson OBJECT ${NTSRCH_YYJSON_SOURCE}/src/yyjson.c)
else()
  add_library(ntsrch_yyjson STATIC ${NTSRCH_YYJSON_SOURCE}/src/yyjson.c)
endif()
set_target_properties(ntsrch_yyjson PROPERTIES COMPILE_OPTIONS "-w" POSITION_INDEPENDENT_CODE ON)
target_include_directories(ntsrch_yyjson SYSTEM PUBLIC ${NTSRCH_YYJSON_SOURCE}/src)
# Hidden inside the module: yyjson's header would mark its functions for export, which a
# linker without an export list (Zig's for macOS) would then honour.
set_target_properties(ntsrch_yyjson PROPERTIES C_VISIBILITY_PRESET hidden)
target_compile_definitions(ntsrch_yyjson PUBLIC yyjson_api=)
add_library(yyjson::yyjson ALIAS ntsrch_yyjson)
