# Write faults, crashes and power cuts: recordings whose output fails, whose
# process is killed or whose disk loses power, read back by ffprobe. POSIX only: child processes, signals, file
# size limits.
if(WIN32)
  return()
endif()
kestrum_add_tests(kestrum_robust_tests
  robust/crash_test.cc
  robust/power_cut_disk.cc
  robust/power_cut_test.cc
  robust/robust_support.cc
  robust/write_fault_test.cc)
target_link_libraries(kestrum_robust_tests PRIVATE asf_format_test_support kestrum_test_fuse)
target_compile_definitions(kestrum_robust_tests PRIVATE KESTRUM_PROGRAM="$<TARGET_FILE:kestrum_cli>")
