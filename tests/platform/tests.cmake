# Tests of platform/: one include per test binary.
if(WIN32)
  # The guarded copy from the host's memory (unguarded elsewhere).
  kestrum_add_tests(kestrum_windows_platform_tests
    platform/host_memory_test.cc)
endif()
