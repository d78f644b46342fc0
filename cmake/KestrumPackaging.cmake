# Packages of what KestrumInstall.cmake installs, made with CPack
# (`cpack --config BUILD/CPackConfig.cmake -B OUTPUT_FOLDER`, or
# scripts/package.sh):
#   Linux:   three Debian packages under /usr, one per install component:
#              libkestrumMAJOR_VERSION-REVISION_ARCH.deb  runtime
#              libkestrum-dev_VERSION-REVISION_ARCH.deb   development
#              kestrum_VERSION-REVISION_ARCH.deb          program
#            each with its copyright file and changelogs in
#            /usr/share/doc/PACKAGE; REVISION and the maintainer come from
#            the latest entry of cmake/debian/changelog;
#   Windows: a zip, kestrum-VERSION-win32.zip, holding one folder with bin/,
#            lib/, include/ and share/doc/kestrum/.
set(CPACK_PACKAGE_NAME kestrum)
set(CPACK_PACKAGE_VENDOR "Kestrum")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "packs an already-compressed XQV4 video stream into ASF files")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

set(KESTRUM_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)

# The latest changelog entry, "kestrum (VERSION-REVISION) ...", is this
# version's, and its trailer names the maintainer.
file(STRINGS ${KESTRUM_DEBIAN_DIR}/changelog kestrum_changelog)
list(GET kestrum_changelog 0 kestrum_changelog_top)
if(NOT kestrum_changelog_top MATCHES "^kestrum \\(([^)-]+)-([^)]+)\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: no 'kestrum (VERSION-REVISION)' entry on top")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "cmake/debian/changelog: the latest entry is for ${CMAKE_MATCH_1}; "
                      "add one for ${PROJECT_VERSION}")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})
list(FILTER kestrum_changelog INCLUDE REGEX "^ -- ")
list(GET kestrum_changelog 0 kestrum_changelog_trailer)
string(REGEX REPLACE "^ -- ([^>]+>).*" "\\1" CPACK_DEBIAN_PACKAGE_MAINTAINER
       "${kestrum_changelog_trailer}")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development program)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE kestrum)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(kestrum_runtime_package libkestrum${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${kestrum_runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The libraries are in the loader's folders: its cache is updated through
# libc's ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${KESTRUM_DEBIAN_DIR}/triggers)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkestrum-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME kestrum)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION video)
# The headers and the program go with the libraries of their own version.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_PROGRAM_DEPENDS runtime)

set(kestrum_about "Kestrum packs an already-compressed XQV4 video stream into ASF files byte
for byte, from a live stream pushed in pieces or from a stored stream
converted in one call. It never decodes or re-encodes the video.")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "library packing XQV4 video streams into ASF files
${kestrum_about}

This package holds the shared libraries: libkestrum, with its C API, and
libquarnel, the packet source it reads stored streams with.")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "library packing XQV4 video streams into ASF files - development files
${kestrum_about}

This package holds what a host needs to build against the libraries: the
headers, the CMake package (find_package(Kestrum)) and the pkg-config file,
with the API documentation and the example hosts' sources.")
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "program packing XQV4 video streams into ASF files
${kestrum_about}

This package holds the kestrum program: it converts stored streams, one or
whole folders at a time; records a stream from a file or standard input piece
by piece; generates synthetic streams; and inspects streams and ASF files.")

# The dependencies from the binaries themselves when dpkg-dev is there to
# work them out; otherwise the C and C++ run-times every build needs.
find_program(KESTRUM_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KESTRUM_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The program's libkestrum is in the runtime package, staged beside it
  # (dpkg-shlibdeps runs in the program's staging folder).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../runtime/usr/${CMAKE_INSTALL_LIBDIR})
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# Hosts built against this version run with any later one of the same SONAME.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Each package's own folder in /usr/share/doc: the copyright file, the
# package's changelog and the project's (CHANGELOG.md); the developers'
# documentation goes with libkestrum-dev, the README also with the program.
# These rules belong to the packages only: a plain `cmake --install` leaves
# them out.
kestrum_gzip(${KESTRUM_DEBIAN_DIR}/changelog ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
kestrum_gzip(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_BINARY_DIR}/debian/changelog.gz)
set(kestrum_packages ${kestrum_runtime_package} libkestrum-dev kestrum)
foreach(component package IN ZIP_LISTS CPACK_COMPONENTS_ALL kestrum_packages)
  install(FILES ${KESTRUM_DEBIAN_DIR}/copyright
                ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
                ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
kestrum_install_docs(${CMAKE_INSTALL_DATADIR}/doc/libkestrum-dev development EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrum
        COMPONENT program EXCLUDE_FROM_ALL)

# Under /usr the loader finds the libraries in the system's own folders: the
# packages' binaries carry no RUNPATH (a plain installation keeps $ORIGIN).
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/KestrumDebianNoRunpath.cmake)

include(CPack)
