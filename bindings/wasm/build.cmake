# SPDX-License-Identifier: MIT
# The module as WebAssembly (cmake/toolchain-wasm32.cmake), included by the top
# CMakeLists.txt once the module target exists: a reactor exporting the header's functions,
# its memory, malloc/free for the host to pass text in, and _initialize. Beside it, js/
# holds the JavaScript binding with the module, laid out as the npm package's wasm/.

# The exports are the functions the public header declares (cmake/ntsrch-header.cmake).
list(TRANSFORM NTSRCH_HEADER_EXPORTS PREPEND "-Wl,--export=" OUTPUT_VARIABLE _ntsrch_export_flags)
set_target_properties(ntsrch PROPERTIES SUFFIX .wasm)
target_link_options(ntsrch PRIVATE -mexec-model=reactor -Wl,--strip-all ${_ntsrch_export_flags}
  -Wl,--export=malloc -Wl,--export=free)

set(_wasm_dir ${CMAKE_CURRENT_LIST_DIR})
find_program(NTSRCH_NODE node)
set(_rules ${PROJECT_SOURCE_DIR}/bindings/node/rules.js)
set(_rules_types ${PROJECT_SOURCE_DIR}/bindings/node/rules.d.ts)
if(NTSRCH_NODE AND EXISTS ${_rules})
  set(_js ${PROJECT_BINARY_DIR}/js)
  set(_copied ntsrch-wasm.mjs worker.mjs index.d.ts)
  list(TRANSFORM _copied PREPEND ${_wasm_dir}/ OUTPUT_VARIABLE _copied_from)
  add_custom_command(OUTPUT ${_js}/rules.mjs
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_js}
    COMMAND ${CMAKE_COMMAND} -E copy ${_copied_from} $<TARGET_FILE:ntsrch> ${_js}/
    COMMAND ${CMAKE_COMMAND} -E copy ${_rules_types} ${_js}/rules.d.ts
    COMMAND ${NTSRCH_NODE} ${_wasm_dir}/esm-rules.cjs ${_rules} ${_js}/rules.mjs
    DEPENDS ntsrch ${_copied_from} ${_rules} ${_rules_types} ${_wasm_dir}/esm-rules.cjs
    COMMENT "The JavaScript binding beside the module in js/")
  add_custom_target(ntsrch_wasm_js ALL DEPENDS ${_js}/rules.mjs)
else()
  message(STATUS "no node or no bindings/node/rules.js: js/ (the JavaScript binding) is not assembled")
endif()
