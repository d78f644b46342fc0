kestrum_add_tests(kestrum_e2e_tests
  e2e/live_road_test.cc)
include(e2e/cli_tests.cmake)
