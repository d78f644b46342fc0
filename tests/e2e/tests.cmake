# Tests of e2e/.
include(e2e/cli_tests.cmake)
