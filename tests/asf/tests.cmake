kestrum_add_tests(kestrum_asf_tests
  asf/packer_test.cc
  asf/profile_test.cc
  asf/writer_test.cc)
