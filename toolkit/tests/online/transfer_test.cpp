// Upload and download of the device parameters through the frame's
// IDtmOnlineParameter and the worker thread, against the test DTM's device
// side (each device request completes after a delay; scripted failures).
#include <gtest/gtest.h>

#include <algorithm>

#include "online_fixture.h"
#include "toolkit/dtm/dtm_states.h"

using dtmtest::PumpUntil;

namespace onlinetest {
namespace {

constexpr ULONG kChangedFlag = 0x2;

class TransferTest : public OnlineFixture {
 protected:
  void SetUp() override {
    OnlineFixture::SetUp();
    if (HasFatalFailure()) return;
    TestDeviceScript script;
    script.delayMs = 15;
    Script(script);
    GoOnline();
  }

  // Starts a download or an upload and waits for its end notice; the
  // success argument of that notice.
  std::wstring Run(bool upload, const wchar_t* invokeId) {
    const char* notice = upload ? "OnUploadFinished" : "OnDownloadFinished";
    const size_t before = CallCount(notice);
    com::Bstr id(invokeId), path(L"");
    VARIANT_BOOL accepted = VARIANT_FALSE;
    HRESULT hr = upload ? online->UploadRequest(id.get(), path.get(), &accepted)
                        : online->DownloadRequest(id.get(), path.get(), &accepted);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(VARIANT_TRUE, accepted);
    if (!PumpUntil([&] { return CallCount(notice) > before; })) return L"(no end notice)";
    const auto calls = frame->callsTo(notice);
    EXPECT_EQ(invokeId, calls.back().arguments.at(0));
    return calls.back().arguments.at(1);
  }

  // Runs a download that is cancelled: waits until its loop reported the
  // abort (progress with an empty title).
  void RunCancelled(const wchar_t* invokeId) {
    com::Bstr id(invokeId), path(L"");
    VARIANT_BOOL accepted = VARIANT_FALSE;
    ASSERT_EQ(S_OK, online->DownloadRequest(id.get(), path.get(), &accepted));
    ASSERT_TRUE(PumpUntil([&] {
      for (const auto& call : frame->callsTo("OnProgress"))
        if (call.arguments.at(1).empty()) return true;
      return false;
    }));
  }

  // The lock taken for a transfer is given back once the changed data set
  // has been saved.
  void ExpectLockBalanced() {
    SaveDataSet();
    EXPECT_EQ(CallCount("LockDataSet"), CallCount("UnlockDataSet"));
  }

  void SetDataSetValues() {
    LONG value = 1;
    for (ULONG id : DeviceIds()) {
      Write(id, value++);
      MarkChanged(id);
    }
  }
};

TEST_F(TransferTest, DownloadWritesTheWholeSetWithProgressOnOtherThreads) {
  SetDataSetValues();
  EXPECT_EQ(L"validModified", DataState());
  frame->clearCalls();

  EXPECT_EQ(L"true", Run(false, L"download-1"));

  std::vector<ULONG> expected{test_dtm_parameter::kDeviceValue};
  for (ULONG id : DeviceIds()) expected.push_back(id);
  EXPECT_EQ(expected, DeviceWrites());
  LONG value = 1;
  for (ULONG id : DeviceIds()) {
    EXPECT_EQ(value, DeviceValue(id)) << id;  // the device value is what was written
    EXPECT_EQ(value++, Value(id)) << id;
    EXPECT_EQ(0u, Flags(id) & kChangedFlag) << id;
  }
  EXPECT_EQ(L"allDataLoaded", DataState());

  // Progress: started with "Download" at 0, ended with an empty text at 0,
  // rising in between; sent from notice threads, never from the DTM's.
  ASSERT_TRUE(WaitForProgressEnd());
  const auto progress = frame->callsTo("OnProgress");
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(L"Download", progress.front().arguments.at(1));
  EXPECT_EQ(L"0", progress.front().arguments.at(2));
  EXPECT_EQ(L"", progress.back().arguments.at(1));
  EXPECT_EQ(L"0", progress.back().arguments.at(2));
  int last = 0;
  for (size_t i = 1; i + 1 < progress.size(); ++i) {
    const int percent = std::stoi(progress[i].arguments.at(2));
    EXPECT_GT(percent, last);
    EXPECT_LE(percent, 100);
    last = percent;
  }
  for (const auto& call : progress) EXPECT_NE(::GetCurrentThreadId(), call.threadId);
  // A download takes no data-set lock.
  EXPECT_EQ(0u, CallCount("LockDataSet"));
}

TEST_F(TransferTest, DownloadDeviceErrorAnsweredNoGoesOnAndAnswersFailure) {
  SetDataSetValues();
  TestDeviceScript script;
  script.delayMs = 5;
  script.failingIds[0] = 502;
  script.failingCount = 1;
  Script(script);
  AnswerStopQuestion(L"buttonNo");
  frame->clearCalls();

  EXPECT_EQ(L"false", Run(false, L"download-2"));

  EXPECT_EQ((std::vector<ULONG>{200, 500, 501, 503, 504}), DeviceWrites());
  EXPECT_EQ(1u, CallCount("UserDialog"));
  // The failed parameter keeps its mark; the others lost it.
  EXPECT_NE(0u, Flags(502) & kChangedFlag);
  EXPECT_EQ(0u, Flags(503) & kChangedFlag);
  // The device's error text reached the frame with the parameter's name.
  EXPECT_TRUE(WaitForMessage(L"Device C: device did not answer"));
  EXPECT_EQ(L"validModified", DataState());
}

TEST_F(TransferTest, DownloadStopQuestionAnsweredYesStopsAtTheFailedParameter) {
  SetDataSetValues();
  TestDeviceScript script;
  script.failingIds[0] = 501;
  script.failingCount = 1;
  Script(script);
  AnswerStopQuestion(L"buttonYes");

  EXPECT_EQ(L"false", Run(false, L"download-3"));
  EXPECT_EQ((std::vector<ULONG>{200, 500}), DeviceWrites());
}

TEST_F(TransferTest, CancelEndsTheRunningDownloadOnlyAndTheNextOneSucceeds) {
  SetDataSetValues();
  TestDeviceScript script;
  script.delayMs = 5;
  script.cancelAtId = 502;
  wcscpy(script.cancelInvokeId, L"download-4");
  Script(script);

  frame->clearCalls();
  RunCancelled(L"download-4");
  // The parameter being written when the cancel came still completes; no
  // later one is written.
  EXPECT_EQ((std::vector<ULONG>{200, 500, 501, 502}), DeviceWrites());
  EXPECT_NE(0u, Flags(503) & kChangedFlag);

  script = TestDeviceScript();
  Script(script);
  EXPECT_EQ(L"true", Run(false, L"download-5"));
  EXPECT_EQ(6u, DeviceWrites().size());
}

TEST_F(TransferTest, AbortBeforeADownloadAnswersAbortForThatDownloadOnly) {
  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, object.as(handler));
  VARIANT_BOOL done = VARIANT_TRUE;
  ASSERT_EQ(S_OK, handler->AbortTransfer(&done));
  com::Variant request;
  done = VARIANT_TRUE;
  EXPECT_EQ(E_ABORT, handler->DownloadRequest(request.value(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_TRUE(DeviceWrites().empty());

  EXPECT_EQ(S_OK, handler->DownloadRequest(request.value(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(6u, DeviceWrites().size());
}

TEST_F(TransferTest, UploadReadsTheWholeSetUnderTheDataSetLock) {
  frame->clearCalls();
  EXPECT_EQ(L"true", Run(true, L"upload-1"));

  for (ULONG id : DeviceIds()) {
    EXPECT_EQ(test_device_parameter::InitialDeviceValue(id), Value(id)) << id;
    EXPECT_EQ(0u, Flags(id) & kChangedFlag) << id;
  }
  EXPECT_EQ(L"allDataLoaded", DataState());
  EXPECT_EQ(1u, CallCount("LockDataSet"));
  ExpectLockBalanced();
  // The modified notice was held during the transfer and sent once.
  EXPECT_EQ(1u, CallCount("SaveRequest"));
  ASSERT_TRUE(WaitForProgressEnd());
  const auto progress = frame->callsTo("OnProgress");
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(L"Upload", progress.front().arguments.at(1));
  EXPECT_EQ(L"", progress.back().arguments.at(1));
}

TEST_F(TransferTest, UploadFailingItemAnswersFailureAndKeepsTheLockBalanced) {
  TestDeviceScript script;
  script.delayMs = 5;
  script.failingIds[0] = 503;
  script.failingCount = 1;
  Script(script);
  AnswerStopQuestion(L"buttonNo");
  frame->clearCalls();

  EXPECT_EQ(L"false", Run(true, L"upload-2"));
  // The parameters read are taken over; the failed one keeps its value.
  EXPECT_EQ(0, Value(503));
  EXPECT_EQ(test_device_parameter::InitialDeviceValue(504), Value(504));
  EXPECT_EQ(1u, CallCount("UserDialog"));
  ExpectLockBalanced();

  // Answered Yes, the upload stops at the failure: nothing is taken over.
  Write(500, 7);
  AnswerStopQuestion(L"buttonYes");
  EXPECT_EQ(L"false", Run(true, L"upload-3"));
  EXPECT_EQ(7, Value(500));
  ExpectLockBalanced();
}

TEST_F(TransferTest, UploadIsRefusedWhenTheFrameRefusesTheLock) {
  frame->setBoolAnswer("LockDataSet", VARIANT_FALSE);
  frame->clearCalls();
  EXPECT_EQ(L"false", Run(true, L"upload-4"));
  EXPECT_EQ(0, Value(500));
  EXPECT_EQ(0u, CallCount("UnlockDataSet"));  // never granted, nothing to give back
}

class TransferRefusals : public OnlineFixture {};

TEST_F(TransferRefusals, ObserverAndOfflineRequestsAreRefused) {
  Configure(L"observer");
  com::Bstr id(L"x"), path(L"");
  VARIANT_BOOL accepted = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, online->DownloadRequest(id.get(), path.get(), &accepted));
  EXPECT_EQ(VARIANT_FALSE, accepted);
  accepted = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, online->UploadRequest(id.get(), path.get(), &accepted));
  EXPECT_EQ(VARIANT_FALSE, accepted);
  EXPECT_EQ(E_POINTER, online->DownloadRequest(id.get(), path.get(), nullptr));

  // Configured but not online: the handler's download does nothing.
  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, object.as(handler));
  com::Variant request;
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(E_FAIL, handler->DownloadRequest(request.value(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_TRUE(DeviceWrites().empty());
  EXPECT_EQ(0u, CallCount("OnProgress"));
}

}  // namespace
}  // namespace onlinetest
