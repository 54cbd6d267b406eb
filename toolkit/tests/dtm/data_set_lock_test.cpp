// The base DTM's data-set lock on the test DTM: counted locks, a data set
// locked elsewhere, and an unlock the frame refuses.
#include <string>

#include "com/Bstr.h"
#include "dtm_test_support.h"

namespace dtmtest {
namespace {

class DataSetLockTest : public DtmFixture {
 protected:
  size_t Calls(const char* method) { return frame->callsTo(method).size(); }
};

TEST_F(DataSetLockTest, CountedLocksKeepTheLockUntilTheLastRelease) {
  Configure();
  ASSERT_EQ(S_OK, base->LockDataSet(VARIANT_TRUE));
  ASSERT_EQ(S_OK, base->LockDataSet(VARIANT_TRUE));
  EXPECT_EQ(1u, Calls("LockDataSet"));
  ASSERT_EQ(S_OK, base->ReleaseDataSetLock());
  EXPECT_EQ(0u, Calls("UnlockDataSet"));
  ASSERT_EQ(S_OK, base->ReleaseDataSetLock());
  EXPECT_EQ(1u, Calls("UnlockDataSet"));
  EXPECT_EQ(E_UNEXPECTED, base->ReleaseDataSetLock());
  EXPECT_EQ(1u, Calls("UnlockDataSet"));
}

TEST_F(DataSetLockTest, LockedElsewhereCountsWithoutAskingTheFrame) {
  Configure();
  com::ComPtr<IFdtEvents> events;
  ASSERT_EQ(S_OK, object.as(events));
  com::Bstr user(L"someone");
  ASSERT_EQ(S_OK, events->OnDataSetLockedElsewhere(tag.get(), user.get()));
  ASSERT_EQ(S_OK, base->LockDataSet(VARIANT_TRUE));
  EXPECT_EQ(0u, Calls("LockDataSet"));
  ASSERT_EQ(S_OK, base->ReleaseDataSetLock());
  EXPECT_EQ(0u, Calls("UnlockDataSet"));
}

TEST_F(DataSetLockTest, RefusedUnlockTellsTheUserAndFails) {
  Configure();
  frame->setBoolAnswer("UnlockDataSet", VARIANT_FALSE);
  ASSERT_EQ(S_OK, base->LockDataSet(VARIANT_TRUE));
  EXPECT_EQ(E_FAIL, base->ReleaseDataSetLock());
  auto messages = frame->callsTo("OnErrorMessage");
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(L"UnlockDataSet failed. Please clean up database.", messages[0].arguments.at(1));
}

}  // namespace
}  // namespace dtmtest
