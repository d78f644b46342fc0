# GoogleTest, and the functions the unit tests are declared with, wherever
# they live (a component's tests/ folder, or tests/ for the tests that cross
# components).

if(CMAKE_CROSSCOMPILING)
  # No prebuilt GoogleTest for the target: build Debian's sources
  # (googletest package) with the cross compiler. It defines the GTest::
  # targets itself.
  set(KESTRUM_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${KESTRUM_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Where tests write their files.
set(KESTRUM_TEST_TMPDIR ${PROJECT_BINARY_DIR}/tests/tmp)

# kestrum_add_unit_tests(NAME SOURCES... [LINK TARGETS...]): one GoogleTest
# binary over SOURCES, linked with TARGETS (the component under test and its
# own test support) and nothing else; its tests in CTest.
function(kestrum_add_unit_tests name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LINK")
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${arg_LINK}
    GTest::gtest GTest::gmock GTest::gtest_main kestrum_options)
  target_compile_definitions(${name} PRIVATE KESTRUM_TEST_TMPDIR="${KESTRUM_TEST_TMPDIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

# kestrum_add_test_helper(NAME PREFIX HEADERS... SOURCES... [LINK TARGETS...]):
# a small test-support library whose HEADERS (paths from the calling folder)
# are included as "PREFIX/name.h", and which publishes nothing else of its
# folder.
function(kestrum_add_test_helper name prefix)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "HEADERS;SOURCES;LINK")
  add_library(${name} STATIC ${arg_SOURCES})
  set(root ${PROJECT_BINARY_DIR}/include_roots/${name})
  file(MAKE_DIRECTORY ${root}/${prefix})
  foreach(header IN LISTS arg_HEADERS)
    cmake_path(GET header FILENAME header_name)
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/${prefix}/${header_name} SYMBOLIC)
  endforeach()
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${arg_LINK} PRIVATE kestrum_options)
  target_compile_definitions(${name} PRIVATE KESTRUM_TEST_TMPDIR="${KESTRUM_TEST_TMPDIR}")
endfunction()
