# CPack runs this after staging the Debian packages' files: the binaries
# that install under /usr lose their RUNPATH ($ORIGIN, kept by a plain
# installation so that it can be moved), since the loader finds the
# libraries in the system's own folders.
file(GLOB_RECURSE kestrum_binaries
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/usr/bin/*
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/usr/lib/*.so.*)
foreach(binary IN LISTS kestrum_binaries)
  if(NOT IS_SYMLINK ${binary})
    file(RPATH_REMOVE FILE ${binary})
  endif()
endforeach()
