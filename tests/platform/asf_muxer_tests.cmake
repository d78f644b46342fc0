# Tests of the ASF muxer behind the stand-in writer (src/platform/wmsdk/asf/).
kestrum_add_tests(kestrum_asf_muxer_tests
  platform/asf_byte_sink_test.cc
  platform/asf_header_test.cc
  platform/asf_muxer_test.cc
  platform/asf_packet_builder_test.cc
  platform/asf_real_file_test.cc
  platform/asf_simple_index_test.cc
  platform/asf_test_support.cc
  platform/asf_walker.cc)
