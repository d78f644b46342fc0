# The packet-source library, tested through its two exports over real files.
set(kestrum_quarnel_test_sources
  convert/quarnel_test_streams.cc
  convert/packet_source_declarations.cc
  convert/quarnel_packets_test.cc)
if(NOT WIN32)
  # Sparse files written with pwrite; the streams served from a FUSE file
  # system of the test's own (the robust tests' server).
  list(APPEND kestrum_quarnel_test_sources convert/quarnel_large_test.cc robust/robust_support.cc)
endif()
add_executable(kestrum_quarnel_tests ${kestrum_quarnel_test_sources})
# The file road's own declarations of the two operations (convert/), held
# against the library's: the library's headers, without linking it.
target_include_directories(kestrum_quarnel_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
  $<TARGET_PROPERTY:kestrum_core,INTERFACE_INCLUDE_DIRECTORIES>)
target_link_libraries(kestrum_quarnel_tests PRIVATE quarnel stream_builder kestrum_options GTest::gtest_main)
if(NOT WIN32)
  target_link_libraries(kestrum_quarnel_tests PRIVATE kestrum_test_support kestrum_test_fuse)
endif()
target_compile_definitions(kestrum_quarnel_tests PRIVATE
  QUARNEL_TEST_TMPDIR="${CMAKE_CURRENT_BINARY_DIR}/tmp/quarnel")
gtest_discover_tests(kestrum_quarnel_tests DISCOVERY_TIMEOUT 60)
