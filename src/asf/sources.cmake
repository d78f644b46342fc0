set(KESTRUM_ASF_SOURCES
  asf/profile.cc
  asf/writer.cc
  asf/packer.cc)
