# Build helpers shared by the subsystem folders.

# Warnings on and treated as errors in the project's own code (not in GoogleTest).
function(vemlo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wno-cast-function-type -Werror)
endfunction()

# Product code throws nothing and asks no type information: without unwind tables and the
# personality routine, the C++ runtime's exception machinery stays out of the stub.
function(vemlo_product target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
endfunction()

# vemlo_test(NAME source... [BOTH_LANGUAGES]): a GoogleTest executable run under Wine by CTest,
# one CTest test per test case. Discovery runs when CTest starts, so the build itself needs no
# Wine. BOTH_LANGUAGES runs every case a second time (prefix "zh.") with the Chinese system
# language (2052, code page 936): scripts/winrun sets it up from VEMLO_LANG=zh.
function(vemlo_test name)
  if(NOT VEMLO_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "BOTH_LANGUAGES" "" "" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE vemlo vemlo_testing)
  vemlo_warnings(${name})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300)
  if(ARG_BOTH_LANGUAGES)
    gtest_discover_tests(${name}
      TEST_PREFIX "zh."
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT 300 ENVIRONMENT VEMLO_LANG=zh)
  endif()
endfunction()
