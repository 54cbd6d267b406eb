# Tests that open windows run on a virtual X display.
#
#   add_wine_gtest_on_display(<name> <arguments of add_wine_gtest>)
#
# Like add_wine_gtest, but the program runs through
# wine-display-run.sh, which starts one Xvfb per test prefix (so per
# program) and sets DISPLAY before the program's prefix boots. The displays
# end with the "wine" test fixture.
include_guard(GLOBAL)

configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-display-run.sh.in ${CMAKE_BINARY_DIR}/wine-display-run.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
add_test(NAME wine-display-cleanup COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-display.sh stop ${WINE_TEST_ROOT})
set_tests_properties(wine-display-cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 30)

function(add_wine_gtest_on_display name)
  # The program's emulator property, which its tests run through, is taken
  # from this variable when the program is added.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-display-run.sh)
  add_wine_gtest(${name} ${ARGN})
endfunction()
