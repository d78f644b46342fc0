# Tests of convert/.
include(convert/quarnel_tests.cmake)
