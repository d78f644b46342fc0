kestrum_add_tests(kestrum_output_tests
  output/packer_test.cc
  output/output_profile_test.cc
  output/writer_setup_test.cc)
