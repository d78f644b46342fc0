kestrum_add_tests(kestrum_stream_tests
  stream/file_header_test.cc
  stream/group_parse_test.cc
  stream/splitter_test.cc
  stream/start_rule_test.cc)
