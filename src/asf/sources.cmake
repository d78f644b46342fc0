set(KESTRUM_ASF_SOURCES
  asf/output_profile.cc
  asf/writer_setup.cc
  asf/packer.cc)
