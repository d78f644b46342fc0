kestrum_add_tests(kestrum_asf_tests
  asf/packer_test.cc
  asf/output_profile_test.cc
  asf/writer_setup_test.cc)
