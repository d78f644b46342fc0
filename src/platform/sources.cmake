# The Win32/COM pieces the library and the built-in writer call: stand-ins off
# Windows, thin wrappers on it.
set(KESTRUM_PLATFORM_SOURCES
  platform/codepage.cc
  platform/com.cc
  platform/critical_section.cc
  platform/debug_output.cc
  platform/host_memory.cc
  platform/sleep.cc)
if(WIN32)
  list(APPEND KESTRUM_PLATFORM_SOURCES platform/wmvcore/guids.cc)
endif()
include(platform/wmsdk/sources.cmake)
if(WIN32)
  include(platform/wmvcore/sources.cmake)
endif()
