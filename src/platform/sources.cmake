# The small Win32/COM shims the library and the built-in writer call:
# stand-ins off Windows, thin wrappers on it.
set(KESTRUM_PLATFORM_SOURCES
  platform/codepage.cc
  platform/com.cc
  platform/critical_section.cc
  platform/debug_output.cc
  platform/host_memory.cc
  platform/sleep.cc)
