// Sample cases for the check of the test runner: each ends in one way a
// test program can end. samples/CMakeLists.txt registers them as the test
// run registers every case and says which outcome CTest must give each.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

namespace {

// A null the compiler cannot see, so that the write stays a write (a
// visible one is dropped or becomes a trap instruction).
volatile int* volatile g_nowhere = nullptr;

void WriteThroughNull() { *g_nowhere = 1; }

}  // namespace

TEST(Passing, Passes) { SUCCEED(); }

TEST(Skipped, IsReportedAsSkipped) { GTEST_SKIP() << "skipped on purpose"; }

// GoogleTest reports every case of a suite whose set-up failed as skipped,
// and the program fails.
class FailedSuiteSetUp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FAIL() << "the suite's set-up failed on purpose"; }
};

TEST_F(FailedSuiteSetUp, CaseOfAFailedSuiteIsNoSkip) { SUCCEED(); }

// GoogleTest's summary then says "[  PASSED  ] 0 tests." and "[  FAILED  ]".
TEST(Failure, ExpectationFails) { EXPECT_EQ(1, 2) << "fails on purpose"; }

TEST(Crash, NullDereference) { WriteThroughNull(); }

TEST(Crash, Abort) { std::abort(); }

// The case passes and GoogleTest prints its pass summary; the program then
// crashes while it exits.
TEST(Crash, AtExitAfterThePassSummary) { std::atexit(WriteThroughNull); }

// A fault that a handler catches: the program goes on and passes, as one
// does when COM turns a crash inside a call from another apartment into an
// error code for the caller.
TEST(Crash, AccessViolationAHandlerCaught) { EXPECT_TRUE(::IsBadReadPtr(reinterpret_cast<void*>(16), 4)); }

// The loader ignores a fault in a DLL's detach at exit: the exit code stays 0.
TEST(Crash, InADllUnloadedAtExit) { EXPECT_NE(nullptr, ::LoadLibraryW(L"runner_detach_fault.dll")); }

TEST(EarlyExit, WithExitCodeZero) { std::exit(0); }

TEST(Hang, OutlastsItsTimeOut) { ::Sleep(INFINITE); }
