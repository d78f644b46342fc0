# The installation and the packages, checked as a host project and a package
# manager see them. Shell scripts; they need no test framework.
if(WIN32)
  # The zip, checked on the cross build (scripts/build-windows.sh): hosts
  # built with mingw-w64 and with clang-cl against its CMake package and
  # import libraries, run beside its DLLs; with the platform's writer under
  # Wine (only stubs) both roads must fail cleanly.
  if(CMAKE_CROSSCOMPILING AND KESTRUM_MSVC_IMPORT_LIBRARIES)
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
              ${CMAKE_CPACK_COMMAND} ${PROJECT_VERSION} ${kestrum_zip_mode}
              ${CMAKE_CURRENT_SOURCE_DIR}/packaging/host ${CMAKE_TOOLCHAIN_FILE}
              ${KESTRUM_LLVM_DLLTOOL} ${CMAKE_GENERATOR} ${kestrum_zip_runner})
  endif()
  return()
endif()

# The manual page formats without a warning; it and the bash completion
# cover every command of the program.
find_program(KESTRUM_GROFF groff)
if(KESTRUM_GROFF AND TARGET kestrum_cli)
  add_test(NAME kestrum_man_page
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_man_page.sh ${KESTRUM_GROFF}
            ${KESTRUM_MAN_PAGE} ${KESTRUM_BASH_COMPLETION} $<TARGET_FILE:kestrum_cli>)
endif()

# Installed into a prefix, moved, and built against with find_package and
# pkg-config.
add_test(NAME kestrum_install_builds_hosts
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_install.sh
          ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/packaging/install
          ${CMAKE_CURRENT_SOURCE_DIR}/packaging/host ${CMAKE_C_COMPILER}
          ${CMAKE_COMMAND} ${CMAKE_GENERATOR} ${CMAKE_INSTALL_LIBDIR})

# The Debian packages, built with CPack, read with dpkg-deb and lintian, and
# installed with apt-get into a throwaway root.
find_program(KESTRUM_DPKG_DEB dpkg-deb)
if(KESTRUM_DPKG_DEB)
  set(kestrum_deb_extras "")
  if(EXISTS ${KESTRUM_MAN_PAGE})
    list(APPEND kestrum_deb_extras kestrum:/usr/${CMAKE_INSTALL_MANDIR}/man1/kestrum.1.gz)
  endif()
  if(EXISTS ${KESTRUM_BASH_COMPLETION})
    list(APPEND kestrum_deb_extras
         kestrum:/usr/${CMAKE_INSTALL_DATADIR}/bash-completion/completions/kestrum)
  endif()
  add_test(NAME kestrum_debian_package
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_deb.sh
            ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/packaging/deb
            ${CMAKE_CPACK_COMMAND} ${PROJECT_VERSION} ${CMAKE_INSTALL_LIBDIR}
            ${CMAKE_CURRENT_SOURCE_DIR}/packaging/host ${CMAKE_C_COMPILER}
            ${CMAKE_COMMAND} ${CMAKE_GENERATOR} ${kestrum_deb_extras})
endif()
