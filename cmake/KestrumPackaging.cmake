# Packages of what KestrumInstall.cmake installs, made with CPack:
#   Linux:   a Debian package, kestrum_VERSION_ARCH.deb, under /usr;
#   Windows: a zip, kestrum-VERSION-win32.zip, holding one folder with bin/,
#            lib/, include/ and share/doc/kestrum/.
# `cpack --config BUILD/CPackConfig.cmake -B OUTPUT_FOLDER` (or
# scripts/package.sh) makes them.
set(CPACK_PACKAGE_NAME kestrum)
set(CPACK_PACKAGE_VENDOR "Kestrum")
set(CPACK_PACKAGE_CONTACT "Kestrum maintainers <kestrum@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "packs an already-compressed XQV4 video stream into ASF files")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrum is a shared library with a C API that packs an already-compressed\n\
XQV4 video stream into ASF files byte for byte, from a live stream pushed in\n\
pieces or from a stored stream converted in one call. The package holds the\n\
library, the packet-source library it reads stored streams with, their\n\
headers, the CMake and pkg-config files to build hosts against them, the\n\
kestrum command-line program and the documentation.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # The run-time dependencies from the binaries themselves when dpkg-dev is
  # there to work them out; otherwise the C and C++ run-times every build needs.
  find_program(KESTRUM_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(KESTRUM_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

include(CPack)
