set(KESTRUM_PLATFORM_SOURCES
  platform/codepage.cc
  platform/com.cc
  platform/critical_section.cc
  platform/debug_output.cc
  platform/host_memory.cc
  platform/sleep.cc)
include(platform/wmsdk/sources.cmake)
list(APPEND KESTRUM_PLATFORM_SOURCES ${KESTRUM_WMSDK_SOURCES})
