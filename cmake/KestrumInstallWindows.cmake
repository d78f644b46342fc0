# The Windows part of KestrumInstall.cmake: the DLLs, an import library for
# each toolchain, and a CMake package that picks the right one.
install(TARGETS kestrum quarnel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# mingw-w64: the DLLs' own import libraries, rewritten from the .def files
# when they are linked, under the usual mingw names.
install(FILES $<TARGET_LINKER_FILE:kestrum> DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RENAME libkestrum.dll.a COMPONENT development)
install(FILES $<TARGET_LINKER_FILE:quarnel> DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RENAME libquarnel.dll.a COMPONENT development)
# MSVC's linker, lld-link and clang-cl: COFF import libraries
# (KestrumWindows.cmake).
if(KESTRUM_MSVC_IMPORT_LIBRARIES)
  install(FILES ${KESTRUM_MSVC_IMPORT_LIBRARY_DIR}/Kestrum.lib
                ${KESTRUM_MSVC_IMPORT_LIBRARY_DIR}/Quarnel.lib
          DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endif()

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/KestrumConfigWindows.cmake.in
  ${PROJECT_BINARY_DIR}/KestrumConfig.cmake
  INSTALL_DESTINATION ${KESTRUM_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_BINDIR CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
# As on Linux; the pointer size recorded in it also turns a 64-bit consumer
# away from these 32-bit DLLs.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrumConfig.cmake
              ${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
        DESTINATION ${KESTRUM_CMAKE_DIR} COMPONENT development)
