# Write faults and crashes: recordings whose output fails or whose process is
# killed, read back by ffprobe.
set(kestrum_robust_test_sources
  robust/robust_support.cc
  robust/write_fault_test.cc
  platform/asf_walker.cc)
if(NOT WIN32)
  # Child processes killed mid-recording.
  list(APPEND kestrum_robust_test_sources robust/crash_test.cc)
endif()
kestrum_add_tests(kestrum_robust_tests ${kestrum_robust_test_sources})
