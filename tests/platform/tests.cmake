# Tests of platform/.
include(platform/wmsdk_tests.cmake)
