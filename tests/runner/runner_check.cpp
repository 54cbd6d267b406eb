// Cases that check how the test runner reports a program's result to CTest
// (see tests/runner/CMakeLists.txt for what each must give).
#include <gtest/gtest.h>

TEST(RunnerCheck, SkippedCaseIsReportedAsSkipped) { GTEST_SKIP() << "skipped on purpose"; }

// GoogleTest reports every case of a suite whose set-up failed as skipped,
// and the program fails.
class FailedSuiteSetUp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FAIL() << "the suite's set-up failed on purpose"; }
};

TEST_F(FailedSuiteSetUp, CaseOfAFailedSuiteIsNoSkip) { SUCCEED(); }
