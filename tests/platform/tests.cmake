# Tests of platform/: one include per test binary.
include(platform/asf_muxer_tests.cmake)
include(platform/wmsdk_tests.cmake)
