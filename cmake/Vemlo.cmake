# Build helpers shared by the subsystem folders.

# Warnings on and treated as errors in the project's own code (not in GoogleTest).
function(vemlo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wno-cast-function-type -Werror)
endfunction()

# vemlo_test(NAME source...): a GoogleTest executable run under Wine by CTest, one CTest test
# per test case. Discovery runs when CTest starts, so the build itself needs no Wine.
function(vemlo_test name)
  if(NOT VEMLO_TESTS)
    return()
  endif()
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE vemlo vemlo_testing)
  vemlo_warnings(${name})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300)
endfunction()
