kestrum_add_tests(kestrum_api_tests
  api/exports_test.cc)
