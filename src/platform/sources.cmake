set(KESTRUM_PLATFORM_SOURCES
  platform/codepage.cc
  platform/com.cc
  platform/critical_section.cc
  platform/debug_output.cc
  platform/host_memory.cc
  platform/sleep.cc)
# The WM writer: the built-in stand-in, or the platform's own (Windows).
if(KESTRUM_WRITER STREQUAL "builtin")
  include(platform/wmsdk/sources.cmake)
  list(APPEND KESTRUM_PLATFORM_SOURCES ${KESTRUM_WMSDK_SOURCES})
else()
  include(platform/wmvcore/sources.cmake)
  list(APPEND KESTRUM_PLATFORM_SOURCES ${KESTRUM_WMVCORE_SOURCES})
endif()
