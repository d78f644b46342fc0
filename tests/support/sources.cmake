set(KESTRUM_TEST_SUPPORT_SOURCES
  support/debug_capture.cc
  support/fake_wm.cc
  support/stream_builder.cc)
