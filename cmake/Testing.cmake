# Test support for the x86_64 build: GoogleTest built with the mingw toolchain,
# test programs run under wine64 in throw-away prefixes, and a timeout on every
# test so that a hung wait fails instead of stalling the run.

set(WINE_TEST_ROOT ${CMAKE_BINARY_DIR}/wine)
set(WINE_PREFIXES_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/wine-prefixes.sh)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(GoogleTest)
enable_testing()

# Fresh prefixes at the start of every run, every wineserver ended after it.
# The setup also boots the template on a new build tree, which can take minutes
# on a loaded machine.
add_test(NAME wine-setup COMMAND ${WINE_PREFIXES_SCRIPT} reset ${WINE_TEST_ROOT})
set_tests_properties(wine-setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
add_test(NAME wine-cleanup COMMAND ${WINE_PREFIXES_SCRIPT} stop ${WINE_TEST_ROOT})
set_tests_properties(wine-cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

set(TEST_TIMEOUT 120 CACHE STRING "Seconds before one test case is failed as hung")
include(${CMAKE_CURRENT_LIST_DIR}/GTestOutcome.cmake)

# add_wine_gtest(name SOURCES ... LIBS ... [PREFIX shared-prefix-name])
# One CTest test per GoogleTest case. The cases of one program share its
# prefix and run one at a time; programs run in parallel.
#
# The cases are read from the sources when CMake configures, not by running
# the program: listing ~45 programs under Wine at the start of every CTest
# run booted a prefix for each and let one hung Wine start stop the whole
# run. A case is declared on one line, TEST, TEST_F or TEST_P at its start;
# a declaration split over lines stops the configuration rather than being
# lost. A TEST_P case gives one CTest test per INSTANTIATE_TEST_SUITE_P of
# its suite ("Prefix/Suite.Name"), which runs that instantiation's values.
# A DISABLED_ case (a benchmark) is registered but never run by CTest.
function(add_wine_gtest name)
  cmake_parse_arguments(T "" "PREFIX" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main)
  set(prefix_name ${name})
  if(T_PREFIX)
    set(prefix_name ${T_PREFIX})
  endif()

  # Every source first: an instantiation may sit in another file than its cases.
  set(declarations)
  set(instantiations)
  foreach(source IN LISTS T_SOURCES)
    get_filename_component(source ${source} ABSOLUTE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(STRINGS ${source} lines REGEX "^[ \t]*(TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)[ \t]*\\(")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "^[ \t]*(TEST|TEST_F|TEST_P)[ \t]*\\([ \t]*([A-Za-z_0-9]+)[ \t]*,[ \t]*([A-Za-z_0-9]+)[ \t]*\\)")
        message(FATAL_ERROR "${source}: declare a test case on one line as TEST, TEST_F or TEST_P(Suite, Name): ${line}")
      endif()
      list(APPEND declarations "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}:${CMAKE_MATCH_3}")
    endforeach()
    file(READ ${source} text)
    string(REGEX MATCHALL "INSTANTIATE_TEST_SUITE_P[ \t\r\n]*\\([ \t\r\n]*[A-Za-z_0-9]+[ \t\r\n]*,[ \t\r\n]*[A-Za-z_0-9]+"
           found "${text}")
    foreach(hit IN LISTS found)
      string(REGEX REPLACE "^INSTANTIATE_TEST_SUITE_P[ \t\r\n]*\\([ \t\r\n]*([A-Za-z_0-9]+)[ \t\r\n]*,[ \t\r\n]*([A-Za-z_0-9]+)$"
             "\\2:\\1" hit "${hit}")
      list(APPEND instantiations ${hit})
    endforeach()
  endforeach()

  set(cases)
  foreach(declaration IN LISTS declarations)
    string(REPLACE ":" ";" parts ${declaration})
    list(GET parts 0 kind)
    list(GET parts 1 suite)
    list(GET parts 2 case)
    set(filters)
    if(kind STREQUAL "TEST_P")
      foreach(instance IN LISTS instantiations)
        if(instance MATCHES "^${suite}:(.+)$")
          list(APPEND filters "${CMAKE_MATCH_1}/${suite}.${case}/*")
        endif()
      endforeach()
      if(NOT filters)
        message(FATAL_ERROR "${name}: TEST_P(${suite}, ${case}) has no INSTANTIATE_TEST_SUITE_P in its program's sources")
      endif()
    else()
      set(filters "${suite}.${case}")
    endif()
    foreach(filter IN LISTS filters)
      string(REGEX REPLACE "/\\*$" "" test_name "${name}.${filter}")
      string(REGEX REPLACE "(^|[./])DISABLED_" "\\1" test_name "${test_name}")
      add_test(NAME ${test_name} COMMAND ${name} --gtest_filter=${filter} --gtest_also_run_disabled_tests)
      if(filter MATCHES "(^|[./])DISABLED_")
        set_tests_properties(${test_name} PROPERTIES DISABLED TRUE)
      endif()
      list(APPEND cases ${test_name})
    endforeach()
  endforeach()
  if(NOT cases)
    message(FATAL_ERROR "${name}: no test cases found in its sources")
  endif()
  set_tests_properties(${cases} PROPERTIES
    ${WINE_GTEST_CASE_PROPERTIES}
    TIMEOUT ${TEST_TIMEOUT}
    FIXTURES_REQUIRED wine
    RESOURCE_LOCK prefix-${prefix_name}
    ENVIRONMENT "WINE_TEST_PREFIX_NAME=${prefix_name}")
endfunction()

# wine_system_dlls(<test-target> <dll-target>...)
# Doubles of platform DLLs (winusb, msports, ...) for a test program. Shipped
# code loads platform DLLs from the system folder only, so the doubles are
# collected in <program>.system32 beside the program, and wine-run.sh puts
# them into the prefix's system32 (with the native override) before every
# run. Programs the test starts in the same prefix find them there too; a
# service started by the service control manager also needs its
# AppDefaults\<program>\DllOverrides set to "native" for each of them.
function(wine_system_dlls target)
  set(dir $<TARGET_FILE_DIR:${target}>/${target}.system32)
  add_dependencies(${target} ${ARGN})
  add_custom_command(TARGET ${target} POST_BUILD COMMAND ${CMAKE_COMMAND} -E make_directory ${dir} VERBATIM)
  foreach(dll ${ARGN})
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${dll}> ${dir} VERBATIM)
  endforeach()
endfunction()
