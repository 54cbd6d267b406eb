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
add_test(NAME wine-setup COMMAND ${WINE_PREFIXES_SCRIPT} reset ${WINE_TEST_ROOT})
set_tests_properties(wine-setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
add_test(NAME wine-cleanup COMMAND ${WINE_PREFIXES_SCRIPT} stop ${WINE_TEST_ROOT})
set_tests_properties(wine-cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

set(TEST_TIMEOUT 120 CACHE STRING "Seconds before one test case is failed as hung")

# add_wine_gtest(name SOURCES ... LIBS ... [PREFIX shared-prefix-name])
# One CTest test per GoogleTest case. The cases of one program share its
# prefix and run one at a time; programs run in parallel.
function(add_wine_gtest name)
  cmake_parse_arguments(T "" "PREFIX" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main)
  set(prefix_name ${name})
  if(T_PREFIX)
    set(prefix_name ${T_PREFIX})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    TEST_PREFIX "${name}."
    PROPERTIES
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
