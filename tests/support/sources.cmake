set(KESTRUM_TEST_SUPPORT_SOURCES
  support/debug_capture.cc
  support/fake_wm.cc
  support/expected_samples.cc
  support/md5.cc
  support/probe.cc
  support/memory_writer.cc
  support/stream_pieces.cc)
