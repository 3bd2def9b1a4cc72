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
    PROPERTIES TIMEOUT 600)
  if(ARG_BOTH_LANGUAGES)
    gtest_discover_tests(${name}
      TEST_PREFIX "zh."
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT 300 ENVIRONMENT VEMLO_LANG=zh)
  endif()
endfunction()

# vemlo_reproducible(target): the PE time stamp (and so the checksum) of the target comes from
# SOURCE_DATE_EPOCH when the configure step is given one, else from the time of the last commit,
# so two builds of the same sources give the same bytes. Without either the stamp is zero. The
# configure step runs again after every commit, which relinks the target with the new stamp.
function(vemlo_reproducible target)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(stamp "$ENV{SOURCE_DATE_EPOCH}")
  else()
    find_program(VEMLO_GIT git)
    set(stamp "")
    if(VEMLO_GIT)
      execute_process(COMMAND ${VEMLO_GIT} log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                      OUTPUT_VARIABLE stamp OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      execute_process(COMMAND ${VEMLO_GIT} rev-parse --path-format=absolute --git-path logs/HEAD
                      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                      OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(head_log AND EXISTS "${head_log}")
        set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_log}")
      endif()
    endif()
  endif()
  if(stamp MATCHES "^[0-9]+$")
    # binutils' ld takes the PE time stamp from SOURCE_DATE_EPOCH in its environment.
    set_property(TARGET ${target} PROPERTY RULE_LAUNCH_LINK "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${stamp}")
  else()
    target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
  endif()
endfunction()
