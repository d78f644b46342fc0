# Tests of the WM Format SDK stand-in (platform/wmsdk/).
kestrum_add_tests(kestrum_wmsdk_tests
  platform/wmsdk/com_object_test.cc
  platform/wmsdk/profile_test.cc
  platform/wmsdk/stream_format_test.cc
  platform/wmsdk/wm_fixtures.cc
  platform/wmsdk/writer_file_test.cc
  platform/wmsdk/writer_test.cc)
