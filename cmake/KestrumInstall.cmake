# What `cmake --install` puts where, in the components the Debian packages
# are made of (KestrumPackaging.cmake):
#
#   runtime      Linux: LIBDIR/libkestrum.so.MAJOR (SONAME) with its
#                versioned file, the same for libquarnel.
#                Windows: bin/Kestrum.dll and bin/Quarnel.dll.
#   development  include/kestrum.h and include/quarnel.h; Linux: the
#                libraries' development links, LIBDIR/cmake/Kestrum
#                (find_package: Kestrum::kestrum, Kestrum::quarnel) and
#                LIBDIR/pkgconfig/kestrum.pc. Windows: lib/Kestrum.lib and
#                lib/Quarnel.lib, the COFF import libraries for MSVC's
#                linker and lld-link, lib/libkestrum.dll.a and
#                lib/libquarnel.dll.a for mingw-w64, and lib/cmake/Kestrum
#                for either; all of them made from the .def files, so their
#                decorated __stdcall symbols (_SendOneFrame@12) import the
#                DLLs' undecorated names.
#   program      bin/kestrum (kestrum.exe); on Linux also its manual page
#                and its bash completion (below).
#   documentation  share/doc/kestrum: README, CHANGELOG, docs/, examples/
#                with the example hosts' sources.
#
# LIBDIR is lib, or lib/<multiarch triplet> on Debian and its derivatives,
# where the system's loader, pkg-config and CMake look for it.
#
# Every installed path is relative to the prefix, so an installation can be
# moved as a whole: the libraries find each other through $ORIGIN and the
# package files compute the prefix from their own location. The Debian
# packages, installed under /usr, carry no RUNPATH (KestrumPackaging.cmake).
if(NOT WIN32 AND NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE
   AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
      "Object code libraries (LIBDIR): lib/<multiarch triplet> on Debian")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# kestrum_gzip(SOURCE OUTPUT): OUTPUT (NAME.gz) is SOURCE compressed as Debian
# wants manual pages and changelogs: gzip -9n, the most compression, no name
# or time inside, so that a rebuild gives the same bytes.
function(kestrum_gzip source output)
  find_program(KESTRUM_GZIP gzip REQUIRED)
  string(REGEX REPLACE "\\.gz$" "" plain ${output})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${KESTRUM_GZIP} -9nf ${plain}
    DEPENDS ${source} VERBATIM)
  file(RELATIVE_PATH name ${PROJECT_BINARY_DIR} ${output})
  string(MAKE_C_IDENTIFIER "${name}" name)
  add_custom_target(kestrum_gzip_${name} ALL DEPENDS ${output})
endfunction()

set(KESTRUM_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kestrum)
set(KESTRUM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrum)

# The program's manual page and bash completion script: installed as
# share/man/man1/kestrum.1.gz and share/bash-completion/completions/kestrum.
set(KESTRUM_MAN_PAGE ${PROJECT_SOURCE_DIR}/docs/kestrum.1)
set(KESTRUM_BASH_COMPLETION ${PROJECT_SOURCE_DIR}/tools/kestrum.bash-completion)

install(FILES ${PROJECT_SOURCE_DIR}/include/kestrum.h
              ${PROJECT_SOURCE_DIR}/quarnel/include/quarnel.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# The documentation, in the same layout as the source tree so that the
# documents' links hold. kestrum_install_docs(DESTINATION COMPONENT [extra
# install() arguments]) is called again for the Debian packages' own folders.
function(kestrum_install_docs destination component)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${destination}
          COMPONENT ${component} ${ARGN})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${destination}/docs
          COMPONENT ${component} ${ARGN} FILES_MATCHING PATTERN "*.md")
  if(KESTRUM_EXAMPLE_SOURCES)
    install(FILES ${KESTRUM_EXAMPLE_SOURCES} DESTINATION ${destination}/examples
            COMPONENT ${component} ${ARGN})
  endif()
endfunction()
kestrum_install_docs(${KESTRUM_DOC_DIR} documentation)
install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION ${KESTRUM_DOC_DIR}
        COMPONENT documentation)

if(TARGET kestrum_cli)
  install(TARGETS kestrum_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
endif()

# The Windows zip carries neither the manual page nor the bash completion:
# neither man nor bash-completion reads them there.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/KestrumInstallWindows.cmake)
  return()
endif()

if(EXISTS ${KESTRUM_BASH_COMPLETION})
  install(FILES ${KESTRUM_BASH_COMPLETION}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME kestrum COMPONENT program)
endif()

if(EXISTS ${KESTRUM_MAN_PAGE})
  kestrum_gzip(${KESTRUM_MAN_PAGE} ${PROJECT_BINARY_DIR}/man/kestrum.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/kestrum.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
  # Whatever builds the program (scripts/demo.sh builds only some targets)
  # makes the page it is installed with.
  if(TARGET kestrum_cli)
    add_dependencies(kestrum_cli kestrum_gzip_man_kestrum_1_gz)
  endif()
endif()

# libkestrum needs libquarnel from the same folder; the program finds both
# from bin/.
set_target_properties(kestrum quarnel PROPERTIES INSTALL_RPATH "$ORIGIN")
file(RELATIVE_PATH kestrum_bin_to_lib
     ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
if(TARGET kestrum_cli)
  set_target_properties(kestrum_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${kestrum_bin_to_lib}")
endif()

install(TARGETS kestrum quarnel EXPORT KestrumTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                COMPONENT runtime NAMELINK_COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT KestrumTargets NAMESPACE Kestrum:: DESTINATION ${KESTRUM_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/KestrumConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestrumConfig.cmake
  INSTALL_DESTINATION ${KESTRUM_CMAKE_DIR})
# 0.x releases promise nothing across minor versions.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrumConfig.cmake
              ${PROJECT_BINARY_DIR}/KestrumConfigVersion.cmake
        DESTINATION ${KESTRUM_CMAKE_DIR} COMPONENT development)

# kestrum.pc finds the prefix from its own folder.
set(KESTRUM_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KESTRUM_PC_TO_PREFIX
     ${CMAKE_INSTALL_PREFIX}/${KESTRUM_PC_DIR} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KESTRUM_PC_TO_PREFIX "${KESTRUM_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/kestrum.pc.in ${PROJECT_BINARY_DIR}/kestrum.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestrum.pc DESTINATION ${KESTRUM_PC_DIR}
        COMPONENT development)
