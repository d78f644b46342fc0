set(KESTRUM_OUTPUT_SOURCES
  output/output_profile.cc
  output/writer_setup.cc
  output/packer.cc
  output/output_switch.cc)
