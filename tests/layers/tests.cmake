# The includes of the whole tree against the dependency table in README.md's
# Layout section, and the check itself over small trees of its own.
find_package(Perl)
if(PERL_FOUND)
  add_test(NAME kestrum_layers
    COMMAND ${PERL_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/layers/check_layers.pl ${PROJECT_SOURCE_DIR})
  add_test(NAME kestrum_layers_self_test
    COMMAND ${PERL_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/layers/check_layers.pl
            --self-test ${CMAKE_CURRENT_BINARY_DIR}/layers)
endif()
