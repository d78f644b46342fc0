set(KESTRUM_TEST_SUPPORT_SOURCES
  support/fake_wm.cc
  support/expected_samples.cc
  support/memory_writer.cc)
