// The base DTM's data-set lock on the test DTM: counted locks, a data set
// locked elsewhere, a modified data set unlocked only once saved, and an
// unlock the frame refuses.
#include <string>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "dtm_test_support.h"
#include "test_dtm_ids.h"

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

TEST_F(DataSetLockTest, ModifiedDataSetStaysLockedUntilItIsSaved) {
  Configure();
  ASSERT_EQ(S_OK, base->LockDataSet(VARIANT_TRUE));
  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, object.as(handler));
  ASSERT_EQ(S_OK, handler->WriteParameter(*com::ui4(test_dtm_parameter::kPreambles).get(),
                                          *com::Variant(LONG{8}).get()));
  // The last count goes while unsaved changes remain: the lock stays.
  ASSERT_EQ(S_OK, base->ReleaseDataSetLock());
  EXPECT_EQ(0u, Calls("UnlockDataSet"));
  // Saved, the data set is unlocked, once.
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  ASSERT_EQ(S_OK, persist->Save(stream.get(), TRUE));
  EXPECT_EQ(1u, Calls("UnlockDataSet"));
  ASSERT_EQ(S_OK, persist->Save(stream.get(), TRUE));
  EXPECT_EQ(1u, Calls("UnlockDataSet"));
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
