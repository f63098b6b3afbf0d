# SPDX-License-Identifier: MIT
# Run path, install layout, pkg-config file and CMake package of the module.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

add_library(ntsrch::ntsrch ALIAS ntsrch)

# Dependencies are looked for beside the module first, so an application can ship it in one
# folder with its own libyyjson.so.0. RUNPATH rather than RPATH: LD_LIBRARY_PATH still wins.
# The build tree gets the same run path: CMake's own build run path ended in an empty entry,
# which the loader reads as the current directory.
set_target_properties(ntsrch PROPERTIES INSTALL_RPATH "\$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
target_link_options(ntsrch PRIVATE -Wl,--enable-new-dtags)

install(TARGETS ntsrch EXPORT ntsrch-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/ntsrch.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

get_target_property(_ntsrch_output_name ntsrch OUTPUT_NAME)
set(NTSRCH_MODULE_FILE_NAME "${_ntsrch_output_name}${CMAKE_SHARED_LIBRARY_SUFFIX}")
set(NTSRCH_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ntsrch)
install(EXPORT ntsrch-targets NAMESPACE ntsrch:: DESTINATION ${NTSRCH_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ntsrch-config.cmake.in
  ${PROJECT_BINARY_DIR}/ntsrch-config.cmake
  INSTALL_DESTINATION ${NTSRCH_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ntsrch-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ntsrch-config.cmake
  ${PROJECT_BINARY_DIR}/ntsrch-config-version.cmake DESTINATION ${NTSRCH_CMAKE_DIR})

# pkg-config: every path is relative to the .pc file itself, so the installed tree can be
# moved or unpacked anywhere.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}"
   OR IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
  message(FATAL_ERROR "CMAKE_INSTALL_LIBDIR, _INCLUDEDIR and _BINDIR must be relative")
endif()
file(RELATIVE_PATH NTSRCH_PC_TO_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
string(REGEX REPLACE "/$" "" NTSRCH_PC_TO_PREFIX "${NTSRCH_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/ntsrch.pc.in ${PROJECT_BINARY_DIR}/ntsrch.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ntsrch.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The host tool finds the installed module through a path relative to its own directory, so
# it needs no run path and works wherever the tree is unpacked.
if(TARGET ntsrch_tool)
  file(RELATIVE_PATH _ntsrch_bin_to_lib "/p/${CMAKE_INSTALL_BINDIR}" "/p/${CMAKE_INSTALL_LIBDIR}")
  target_compile_definitions(ntsrch_tool PRIVATE NTSRCH_TOOL_LIBDIR="${_ntsrch_bin_to_lib}")
  install(TARGETS ntsrch_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/ntsrch.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
