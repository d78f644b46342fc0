# The installation and the packages, checked as a host project and a package
# manager see them. Shell scripts; they need no test framework.
if(WIN32)
  # The zip, checked on the cross build (scripts/build-windows.sh): a host
  # linked against its import library and run beside its DLLs. The zip does
  # not carry the project's own wmvcore.dll: with the platform's writer the
  # host meets Wine's (only stubs), and both roads must fail cleanly.
  if(CMAKE_CROSSCOMPILING)
    if(KESTRUM_WRITER STREQUAL "builtin")
      set(kestrum_zip_mode write)
      set(kestrum_zip_runner ${CMAKE_CROSSCOMPILING_EMULATOR})
    else()
      set(kestrum_zip_mode refuse)
      set(kestrum_zip_runner ${KESTRUM_WINE_RUN} wmvcore=b)
    endif()
    add_test(NAME kestrum_windows_zip
      COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_windows_zip.sh
              ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/packaging/zip
              ${CMAKE_CPACK_COMMAND} ${PROJECT_VERSION} ${CMAKE_C_COMPILER} ${kestrum_zip_mode}
              ${CMAKE_CURRENT_SOURCE_DIR}/packaging/zip_host.c ${kestrum_zip_runner})
  endif()
  return()
endif()

# Installed into a prefix, moved, and built against with find_package and
# pkg-config.
add_test(NAME kestrum_install_builds_hosts
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_install.sh
          ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/packaging/install
          ${CMAKE_CURRENT_SOURCE_DIR}/packaging/host ${CMAKE_C_COMPILER}
          ${CMAKE_COMMAND} ${CMAKE_GENERATOR})

# The Debian package, built with CPack and read with dpkg-deb.
find_program(KESTRUM_DPKG_DEB dpkg-deb)
if(KESTRUM_DPKG_DEB)
  add_test(NAME kestrum_debian_package
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_deb.sh
            ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/packaging/deb
            ${CMAKE_CPACK_COMMAND} ${PROJECT_VERSION} ${CMAKE_INSTALL_LIBDIR})
endif()
