kestrum_add_tests(kestrum_convert_tests
  convert/transfer_test.cc)
include(convert/quarnel_tests.cmake)
