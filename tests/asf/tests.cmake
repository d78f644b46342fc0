kestrum_add_tests(kestrum_asf_tests
  asf/profile_test.cc
  asf/writer_test.cc)
