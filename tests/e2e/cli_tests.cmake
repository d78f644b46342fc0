# The kestrum program: run as a user would (generate, inspect, errors, help),
# read back through the packet-source library, and its parts tested directly.
# The runner starts the program with posix_spawn: on Windows the program is
# checked under Wine by host/check_cli.sh instead.
if(NOT TARGET kestrum_cli OR WIN32)
  return()
endif()
add_executable(kestrum_cli_tests
  e2e/cli_runner.cc
  e2e/cli_generate_inspect_test.cc
  e2e/cli_errors_test.cc
  e2e/cli_asf_inspect_test.cc
  e2e/cli_pieces_test.cc
  e2e/cli_roads_test.cc
  e2e/cli_batch_test.cc)
target_include_directories(kestrum_cli_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kestrum_cli_tests PRIVATE
  kestrum_cli_core quarnel kestrum_options GTest::gtest_main)
target_compile_definitions(kestrum_cli_tests PRIVATE
  KESTRUM_PROGRAM="$<TARGET_FILE:kestrum_cli>"
  CLI_TEST_TMPDIR="${CMAKE_CURRENT_BINARY_DIR}/tmp/cli")
# The sanitizers' runtime needs descriptors of its own for some checks.
if(KESTRUM_SANITIZE)
  target_compile_definitions(kestrum_cli_tests PRIVATE KESTRUM_SANITIZED_PROGRAM=1)
endif()
add_dependencies(kestrum_cli_tests kestrum_cli)
gtest_discover_tests(kestrum_cli_tests DISCOVERY_TIMEOUT 60)

# docs/batch.md's GNU parallel recipe, run as written over a small archive.
add_test(NAME kestrum_batch_parallel_recipe
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/check_batch_parallel.sh $<TARGET_FILE:kestrum_cli>
          ${PROJECT_SOURCE_DIR}/docs/batch.md ${CMAKE_CURRENT_BINARY_DIR}/tmp/batch_parallel)
