# kestrum_include_root(TARGET FOLDER...): TARGET's headers are included
# through each FOLDER's own name ("asf_format/muxer.h", "api/exports.h"), and
# through nothing else. Each target gets an include folder of its own under
# the build folder holding one link per FOLDER, named as the folder, to its
# sources; that include folder is published to whatever links TARGET (PUBLIC,
# INTERFACE for a header-only target). No target is given the repository
# root: an include through a folder whose target is not linked does not
# compile.
function(kestrum_include_root target)
  set(root ${PROJECT_BINARY_DIR}/include_roots/${target})
  file(MAKE_DIRECTORY ${root})
  foreach(folder IN LISTS ARGN)
    cmake_path(ABSOLUTE_PATH folder BASE_DIRECTORY ${PROJECT_SOURCE_DIR} NORMALIZE
               OUTPUT_VARIABLE source)
    cmake_path(GET source FILENAME name)
    if(NOT IS_DIRECTORY ${source})
      message(FATAL_ERROR "kestrum_include_root(${target}): no folder ${source}")
    endif()
    file(CREATE_LINK ${source} ${root}/${name} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  else()
    set(scope PUBLIC)
  endif()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
endfunction()
