# What `cmake --install` puts where.
#
# Linux:   lib/libkestrum.so.MAJOR (SONAME) with its versioned file and the
#          development link, the same for libquarnel; include/kestrum.h and
#          include/quarnel.h; bin/kestrum; lib/cmake/Kestrum (find_package:
#          Kestrum::kestrum, Kestrum::quarnel); lib/pkgconfig/kestrum.pc;
#          share/doc/kestrum (README, docs/, examples/ with the example
#          hosts' sources).
# Windows: bin/Kestrum.dll and bin/Quarnel.dll; lib/libkestrum.dll.a and
#          lib/libquarnel.dll.a, the import libraries made from the .def
#          files, whose decorated __stdcall symbols (_SendOneFrame@12) import
#          the DLLs' undecorated names; the headers and the documentation.
#
# Every installed path is relative to the prefix, so an installation can be
# moved as a whole: the libraries find each other through $ORIGIN and the
# package files compute the prefix from their own location.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KESTRUM_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kestrum)

install(FILES ${PROJECT_SOURCE_DIR}/include/kestrum.h
              ${PROJECT_SOURCE_DIR}/quarnel/include/quarnel.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${KESTRUM_DOC_DIR})
# The same layout as the source tree, so the documents' links hold.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${KESTRUM_DOC_DIR}/docs
        FILES_MATCHING PATTERN "*.md")

if(WIN32)
  # The DLLs' own import libraries are rewritten from the .def files when
  # they are linked (decorated names importing undecorated exports); hosts
  # link them under the usual mingw names.
  install(TARGETS kestrum quarnel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES $<TARGET_LINKER_FILE:kestrum> DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RENAME libkestrum.dll.a)
  install(FILES $<TARGET_LINKER_FILE:quarnel> DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RENAME libquarnel.dll.a)
  return()
endif()

# libkestrum needs libquarnel from the same folder; the program finds both
# from bin/.
set_target_properties(kestrum quarnel PROPERTIES INSTALL_RPATH "$ORIGIN")
file(RELATIVE_PATH kestrum_bin_to_lib
     ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
if(TARGET kestrum_cli)
  set_target_properties(kestrum_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${kestrum_bin_to_lib}")
  install(TARGETS kestrum_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS kestrum quarnel EXPORT KestrumTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(KESTRUM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrum)
install(EXPORT KestrumTargets NAMESPACE Kestrum:: DESTINATION ${KESTRUM_CMAKE_DIR})
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/KestrumConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestrumConfig.cmake
  INSTALL_DESTINATION ${KESTRUM_CMAKE_DIR})
# 0.x releases promise nothing across minor versions.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrumConfig.cmake
              ${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
        DESTINATION ${KESTRUM_CMAKE_DIR})

# kestrum.pc finds the prefix from its own folder.
set(KESTRUM_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KESTRUM_PC_TO_PREFIX
     ${CMAKE_INSTALL_PREFIX}/${KESTRUM_PC_DIR} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KESTRUM_PC_TO_PREFIX "${KESTRUM_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/kestrum.pc.in ${PROJECT_BINARY_DIR}/kestrum.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestrum.pc DESTINATION ${KESTRUM_PC_DIR})

if(KESTRUM_EXAMPLE_SOURCES)
  install(FILES ${KESTRUM_EXAMPLE_SOURCES} DESTINATION ${KESTRUM_DOC_DIR}/examples)
endif()
