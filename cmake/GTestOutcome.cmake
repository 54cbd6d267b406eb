# What the CTest test of one GoogleTest case must show to pass: used by
# add_wine_gtest (Testing.cmake) and by the runner's own check (tests/runner).
#
# The program runs through wine-run.sh, which passes a run only when the
# program ended with exit code 0 after GoogleTest's closing summary with no
# failed case, and else ends with its line "wine-run.sh: PROGRAM failed:
# REASON" (wine-display-run.sh's own failures read the same). CTest asks for
# the summary too; since a pass expression makes CTest ignore the exit code,
# the runner's failure line, a failed case and a filter that selected
# nothing are fail expressions.
set(WINE_GTEST_CASE_PROPERTIES
  PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\."
  FAIL_REGULAR_EXPRESSION "run\\.sh: [^ ]+ failed: |\\[  FAILED  \\]|\\[==========\\] 0 tests from 0 test suites ran"
  # wine-run.sh answers 77 for a skip in a run that passed. CTest takes
  # this code for a skip whatever the output holds.
  SKIP_RETURN_CODE 77)
