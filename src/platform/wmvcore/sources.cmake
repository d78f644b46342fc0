# The platform's WM Format SDK, wmvcore.dll, on Windows: mingw-w64 ships no
# import library for it, so one is made from wmvcore.def. The library links
# it when built with the platform's writer (KESTRUM_WRITER=platform).
set(KESTRUM_WMVCORE_DEF ${CMAKE_CURRENT_SOURCE_DIR}/platform/wmvcore/wmvcore.def)
set(KESTRUM_WMVCORE_IMPORT_LIBRARY ${CMAKE_CURRENT_BINARY_DIR}/libwmvcore.a)
add_custom_command(
  OUTPUT ${KESTRUM_WMVCORE_IMPORT_LIBRARY}
  COMMAND ${KESTRUM_DLLTOOL_PROGRAM} --kill-at --input-def ${KESTRUM_WMVCORE_DEF}
          --dllname wmvcore.dll --output-lib ${KESTRUM_WMVCORE_IMPORT_LIBRARY}
  DEPENDS ${KESTRUM_WMVCORE_DEF}
  COMMENT "Import library for wmvcore.dll"
  VERBATIM)
add_custom_target(kestrum_wmvcore_import DEPENDS ${KESTRUM_WMVCORE_IMPORT_LIBRARY})
add_library(kestrum_wmvcore STATIC IMPORTED GLOBAL)
set_target_properties(kestrum_wmvcore PROPERTIES IMPORTED_LOCATION ${KESTRUM_WMVCORE_IMPORT_LIBRARY})
add_dependencies(kestrum_wmvcore kestrum_wmvcore_import)
