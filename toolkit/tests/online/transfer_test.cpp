// Upload and download of the device parameters through the frame's
// IDtmOnlineParameter and the worker thread, against the test DTM's device
// side (each device request completes after a delay; scripted failures).
#include <gtest/gtest.h>

#include <algorithm>

#include "aggregating_object.h"
#include "online_fixture.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/params/param_rows.h"

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

  // The texts of the error messages the frame received, sorted (messages
  // reach the frame through the worker's queue, in no fixed order against
  // the transfer's own).
  std::vector<std::wstring> Messages() {
    std::vector<std::wstring> texts;
    for (const auto& call : frame->callsTo("OnErrorMessage")) texts.push_back(call.arguments.at(1));
    std::sort(texts.begin(), texts.end());
    return texts;
  }
  size_t Notices(const char* notice, const wchar_t* invokeId) {
    size_t count = 0;
    for (const auto& call : frame->callsTo(notice))
      if (call.arguments.at(0) == invokeId) ++count;
    return count;
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
  EXPECT_TRUE(WaitForMessage(std::wstring(L"Device C: ") + kDeviceErrorText));
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
  // The cancelled request is answered: finished, not done, and not
  // reported as a failure.
  EXPECT_EQ(L"false", Run(false, L"download-4"));
  // The parameter being written when the cancel came still completes; no
  // later one is written.
  EXPECT_EQ((std::vector<ULONG>{200, 500, 501, 502}), DeviceWrites());
  EXPECT_NE(0u, Flags(503) & kChangedFlag);

  script = TestDeviceScript();
  Script(script);
  EXPECT_EQ(L"true", Run(false, L"download-5"));
  EXPECT_EQ(6u, DeviceWrites().size());
  EXPECT_EQ(1u, Notices("OnDownloadFinished", L"download-4"));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(TransferTest, CancelledUploadStopsReadingAndTakesNothingOver) {
  TestDeviceScript script;
  script.delayMs = 5;
  script.cancelAtId = 502;
  wcscpy(script.cancelInvokeId, L"upload-5");
  Script(script);
  frame->clearCalls();

  EXPECT_EQ(L"false", Run(true, L"upload-5"));
  // Nothing after the cancelled read was read, and nothing read was taken.
  EXPECT_NE(test_device_parameter::InitialDeviceValue(504), DeviceValue(504));
  for (ULONG id : DeviceIds()) EXPECT_EQ(0, Value(id)) << id;
  EXPECT_TRUE(Messages().empty());
  ExpectLockBalanced();
}

TEST_F(TransferTest, AStateChangeInTheMiddleEndsTheDownloadWithOneAnswer) {
  SetDataSetValues();
  TestDeviceScript script;
  script.delayMs = 5;
  script.stateChangeAtId = 502;  // the device is lost while 502 is written
  script.stateChange = kDtmCommunicationSet;
  Script(script);
  frame->clearCalls();

  EXPECT_EQ(L"false", Run(false, L"download-6"));
  EXPECT_EQ((std::vector<ULONG>{200, 500, 501, 502}), DeviceWrites());
  EXPECT_EQ(0u, Flags(502) & kChangedFlag);
  EXPECT_NE(0u, Flags(503) & kChangedFlag);
  EXPECT_EQ(std::vector<std::wstring>{L"Download parameters failed"}, Messages());
  EXPECT_EQ(0u, CallCount("UserDialog"));
  EXPECT_EQ(1u, Notices("OnDownloadFinished", L"download-6"));
  EXPECT_EQ(kDtmCommunicationSet, State());
}

// With a frame in this apartment, whose notices arrive here while the
// worker waits.
class SingleThreadedFrameTransferTest : public TransferTest {
 protected:
  void SetUp() override {
    agileFrame = false;
    TransferTest::SetUp();
  }
};

// The cancel comes while the failed download is being reported: its
// transfer has ended, there is nothing left to stop, and the next transfer,
// asked of the handler directly, runs through.
TEST_F(SingleThreadedFrameTransferTest, ALateCancelStopsNoLaterTransfer) {
  SetDataSetValues();
  TestDeviceScript script;
  script.delayMs = 5;
  script.stateChangeAtId = 502;
  script.stateChange = kDtmCommunicationSet;
  Script(script);
  frame->clearCalls();
  VARIANT_BOOL cancelTaken = VARIANT_FALSE;
  frame->duringNextCall("OnErrorMessage", [&] {
    com::Bstr id(L"download-8");
    EXPECT_EQ(S_OK, online->StartOnlineAction(id.get(), &cancelTaken));
  });
  EXPECT_EQ(L"false", Run(false, L"download-8"));
  EXPECT_EQ(VARIANT_TRUE, cancelTaken);
  EXPECT_EQ(1u, Notices("OnDownloadFinished", L"download-8"));

  Script(TestDeviceScript());
  ASSERT_EQ(S_OK, base->SetState(kDtmOnline));
  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, object.as(handler));
  com::Variant request;
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(S_OK, handler->DownloadRequest(request.value(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
}

TEST_F(TransferTest, EachFailedParameterReportsItsErrorTwiceAndAsksOnce) {
  SetDataSetValues();
  TestDeviceScript script;
  script.delayMs = 5;
  script.failingIds[0] = 501;
  script.failingIds[1] = 503;
  script.failingCount = 2;
  Script(script);
  AnswerStopQuestion(L"buttonNo");
  AnswerStopQuestion(L"buttonNo");
  frame->clearCalls();

  EXPECT_EQ(L"false", Run(false, L"download-7"));
  // Per failed parameter: the device side's error text and the same with
  // the parameter's name, and one stop question; once for the transfer: its
  // failure.
  const std::wstring error = kDeviceErrorText;
  std::vector<std::wstring> expected{error, error, L"Device B: " + error, L"Device D: " + error,
                                     L"Download parameters failed"};
  std::sort(expected.begin(), expected.end());
  ASSERT_TRUE(PumpUntil([&] { return Messages().size() >= expected.size(); }));
  EXPECT_EQ(expected, Messages());
  EXPECT_EQ(2u, CallCount("UserDialog"));
}

TEST_F(TransferTest, ProgressComesInStepsNotForEveryParameter) {
  // A set of 100 parameters: reports when the percentage passes the mark,
  // which then moves on by 5, so at 1, 6, 11, ..., 96.
  com::ComPtr<IevFdtParameterStore> store;
  ASSERT_EQ(S_OK, object->QueryInterface(IID_IevFdtParameterStore, store.putVoid()));
  ULONG count = 0;
  ASSERT_EQ(S_OK, store->GetParameterCount(&count));
  ASSERT_LE(count, 100u);
  for (ULONG id = 2000; count < 100; ++id, ++count)
    ASSERT_EQ(S_OK, ParamRow::Numeric(id, L"Filler", VT_I4, 0, 10, 0, 0).AddTo(store.get()));
  Script(TestDeviceScript());

  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, object.as(handler));
  com::Variant request;
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, handler->DownloadRequest(request.value(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  std::vector<USHORT> expected;
  for (USHORT percent = 1; percent < 100; percent += 5) expected.push_back(percent);
  EXPECT_EQ(expected, ProgressSteps());
}

TEST_F(TransferTest, AReadTheDeviceNeverCompletedIsNotTakenFromTheOneBefore) {
  TestDeviceScript script;
  script.delayMs = 5;
  script.unansweredReadIds[0] = 502;
  script.unansweredReadCount = 1;
  Script(script);
  AnswerStopQuestion(L"buttonNo");
  frame->clearCalls();

  EXPECT_EQ(L"false", Run(true, L"upload-6"));
  EXPECT_EQ(1u, CallCount("UserDialog"));
  EXPECT_EQ(0, Value(502));
  EXPECT_EQ(test_device_parameter::InitialDeviceValue(503), Value(503));
}

TEST_F(TransferTest, ExportAndImportAreRefusedWhileOnline) {
  com::ComPtr<IDtmImportExport> port;
  ASSERT_EQ(S_OK, object.as(port));
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, port->Export(stream.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  STATSTG stat = {};
  ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
  EXPECT_EQ(0u, stat.cbSize.QuadPart);

  const char document[] =
      "<PARAMETERS><Parameter id=\"500\" type=\"VT_I4\" value=\"9\"/></PARAMETERS>";
  ULONG written = 0;
  ASSERT_EQ(S_OK, stream->Write(document, sizeof document - 1, &written));
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  done = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, port->Import(stream.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_EQ(0, Value(500));
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

// The test DTM inside an object that answers the optional transfer
// interfaces (aggregating_object.h).
class AggregatedTransferTest : public TransferTest {
 protected:
  void SetUp() override {
    OnlineFixture::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(S_OK, AggregatingObject::Create(&outer));
    // The aggregate is the DTM from here on.
    dtm.reset();
    base.reset();
    online.reset();
    object.attach(static_cast<ITransferExtension*>(outer));
    ASSERT_EQ(S_OK, object.as(dtm));
    ASSERT_EQ(S_OK, object.as(base));
    ASSERT_EQ(S_OK, object.as(online));
  }

  static com::Variant Ids(VARTYPE type, std::initializer_list<LONG> ids) {
    com::Variant out;
    SAFEARRAY* array = ::SafeArrayCreateVector(type, 0, static_cast<ULONG>(ids.size()));
    LONG i = 0;
    for (LONG id : ids) {
      com::Variant element(id);
      EXPECT_EQ(S_OK, element.changeType(type == VT_VARIANT ? static_cast<VARTYPE>(VT_UI4) : type));
      void* data = type == VT_VARIANT ? static_cast<void*>(element.get())
                   : type == VT_BSTR  ? static_cast<void*>(V_BSTR(element.get()))
                                      : static_cast<void*>(&V_UI1(element.get()));
      EXPECT_EQ(S_OK, ::SafeArrayPutElement(array, &i, data));
      ++i;
    }
    V_VT(out.get()) = VT_ARRAY | type;
    V_ARRAY(out.get()) = array;
    return out;
  }

  AggregatingObject* outer = nullptr;  // owned through object
};

TEST_F(AggregatedTransferTest, AGroupIsWrittenOnceAndLosesItsChangedMarkTogether) {
  outer->offersGroups = true;
  outer->groups[500] = Ids(VT_UI4, {500, 501, 502});
  outer->groups[501] = Ids(VT_UI4, {});       // written with 500
  outer->groups[502] = Ids(VT_UI4, {});
  outer->groups[503] = Ids(VT_BSTR, {503});   // not an id array: skipped
  outer->groups[504] = Ids(VT_I2, {504});
  GoOnline();
  SetDataSetValues();

  EXPECT_EQ(L"true", Run(false, L"group-1"));
  EXPECT_EQ((std::vector<ULONG>{200, 500, 504}), DeviceWrites());
  for (ULONG id : {500, 501, 502, 504}) {
    EXPECT_EQ(0u, Flags(id) & kChangedFlag) << id;
    EXPECT_EQ(Value(id), DeviceValue(id)) << id;  // what went to the device with 500
  }
  EXPECT_NE(0u, Flags(503) & kChangedFlag);

  // A failed write of the group leaves the mark on all of it.
  for (ULONG id : {500, 501, 502}) MarkChanged(id);
  TestDeviceScript script;
  script.failingIds[0] = 500;
  script.failingCount = 1;
  Script(script);
  AnswerStopQuestion(L"buttonNo");
  EXPECT_EQ(L"false", Run(false, L"group-2"));
  for (ULONG id : {500, 501, 502}) EXPECT_NE(0u, Flags(id) & kChangedFlag) << id;
}

TEST_F(AggregatedTransferTest, TheBulkPathIsHandedTheListsMadeForIt) {
  outer->offersBulk = true;
  GoOnline();
  const std::vector<ULONG> devices{200, 500, 501, 502, 503, 504};

  EXPECT_EQ(L"true", Run(false, L"bulk-1"));
  ASSERT_EQ(1u, outer->bulkCalls.size());
  const auto& download = outer->bulkCalls[0];
  EXPECT_EQ(L"DownloadList", download.method);
  EXPECT_EQ(L"DownloadList", download.list);
  EXPECT_EQ(-1, download.mode);
  EXPECT_TRUE(download.known);
  EXPECT_EQ(devices, download.members);
  EXPECT_TRUE(DeviceWrites().empty());  // the aggregate transferred, not the DTM's loop
  EXPECT_EQ(L"allDataLoaded", DataState());

  EXPECT_EQ(L"true", Run(true, L"bulk-2"));
  ASSERT_EQ(2u, outer->bulkCalls.size());
  EXPECT_EQ(L"UploadList", outer->bulkCalls[1].list);
  EXPECT_TRUE(outer->bulkCalls[1].known);
  EXPECT_EQ(devices, outer->bulkCalls[1].members);

  // A list the aggregate reports current is taken as it is.
  const ULONG created = outer->listsCreated;
  outer->listsCurrent = true;
  EXPECT_EQ(L"true", Run(false, L"bulk-3"));
  EXPECT_EQ(created, outer->listsCreated);
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
