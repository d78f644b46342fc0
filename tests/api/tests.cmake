kestrum_add_tests(kestrum_api_tests
  api/exports_test.cc)

# The shared library exports the C API and nothing else.
add_test(NAME kestrum_exported_symbols
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/check_exports.sh $<TARGET_FILE:kestrum>)
