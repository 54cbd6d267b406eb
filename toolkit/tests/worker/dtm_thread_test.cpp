// The worker thread as a DTM uses it: created through COM on its own
// apartment, reached only through the marshalled IevFdtDtmThread, calling
// the DTM back through proxies and the frame from the worker thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "com/Variant.h"
#include "toolkit/worker/dtm_thread.h"
#include "win32/unique_handle.h"
#include "worker_doubles.h"

using namespace worker_test;

namespace {

using Log = std::vector<std::string>;

class DtmThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    RegisterWorkerServer();
    frameUnknown = createTestFrame(&frame);
    ASSERT_TRUE(frameUnknown);
    // The frame lives in this apartment: the worker's notices reach it
    // through a proxy and run here while this thread dispatches.
    frame->freeThreaded = false;
    NewDtm();
  }

  // A new DTM with its own worker. The worker's proxies keep the interfaces
  // they have seen, so a case that withholds one needs a new DTM.
  void NewDtm(bool fdt121Frame = true) {
    if (dtm) dtm->StopThread();
    dtmUnknown = createTestDtm(&dtm);
    ASSERT_TRUE(dtmUnknown);
    dtm->frame = frameUnknown;
    dtm->fdt121Frame = fdt121Frame;
    ASSERT_TRUE(dtm->StartThread());
    ASSERT_EQ(S_OK, dtm->PostRequest(dtm_command::kSetFrame, frameUnknown.get()));
    worker = dtm->WorkerThreadId();
  }
  void TearDown() override {
    if (dtm) dtm->StopThread();
    frameUnknown = nullptr;
    dtmUnknown = nullptr;
    ::CoUninitialize();
  }

  // Posts a text notice and waits until the frame has it: every command
  // queued before it has then been handled.
  void Fence() {
    const std::wstring text = L"fence " + std::to_wstring(++fences);
    ASSERT_EQ(S_OK, dtm->PostText(dtm_command::kErrorMessage, text.c_str()));
    ASSERT_TRUE(PumpUntil([&] {
      for (const auto& call : frame->callsTo("OnErrorMessage"))
        if (call.arguments == L"TAG-1|" + text) return true;
      return false;
    }));
  }
  int fences = 0;

  std::vector<std::string> FrameMethods() {
    std::vector<std::string> methods;
    for (const auto& call : frame->calls()) methods.push_back(call.method);
    return methods;
  }

  TestDtm* dtm = nullptr;
  TestFrame* frame = nullptr;
  com::ComPtr<IUnknown> dtmUnknown, frameUnknown;
  DWORD worker = 0;
};

TEST_F(DtmThreadTest, RunsOnItsOwnThreadAndShutdownLeavesNoThreadBehind) {
  ASSERT_NE(0u, worker);
  EXPECT_NE(::GetCurrentThreadId(), worker);
  EXPECT_TRUE(dtm->StartThread());  // already running: the same thread
  EXPECT_EQ(worker, dtm->WorkerThreadId());

  // Queued: the notice comes back from the worker only when this
  // apartment dispatches again.
  ASSERT_EQ(S_OK, dtm->PostText(dtm_command::kErrorMessage, L"hello"));
  EXPECT_TRUE(frame->calls().empty());
  ASSERT_TRUE(PumpUntil([&] { return !frame->callsTo("OnErrorMessage").empty(); }));
  const FrameCall call = frame->callsTo("OnErrorMessage")[0];
  EXPECT_EQ(L"TAG-1|hello", call.arguments);
  EXPECT_EQ(::GetCurrentThreadId(), call.threadId);

  EXPECT_TRUE(dtm->StopThread());
  EXPECT_FALSE(dtm->IsThreadRunning());
  EXPECT_TRUE(ThreadEnded(worker, 0));
  EXPECT_EQ(E_FAIL, dtm->PostText(dtm_command::kErrorMessage, L"late"));
  EXPECT_EQ(E_FAIL, dtm->SetThreadTimeout(100));
  EXPECT_TRUE(dtm->StopThread());  // stopping twice is harmless

  // The DTM can start a new worker after a stop.
  ASSERT_TRUE(dtm->StartThread());
  EXPECT_NE(0u, dtm->WorkerThreadId());
}

// A worker whose object cannot be created is no worker: StartThread says
// so (InitForDeviceType then fails), commands are refused and no thread is
// left behind.
TEST_F(DtmThreadTest, WorkerWhoseObjectCannotBeCreatedIsReportedAsNotStarted) {
  dtm->StopThread();
  static const CLSID kUnregistered = {0x6e0f1c2a, 0x51d4, 0x4c8e, {0x9b, 0x1f, 0x3a, 0x77, 0x20, 0x5c, 0x81, 0x0d}};
  TestDtm* other = nullptr;
  com::ComPtr<IUnknown> holder = createTestDtm(&other);
  ASSERT_TRUE(holder);
  other->threadClass = &kUnregistered;
  EXPECT_FALSE(other->StartThread());
  EXPECT_FALSE(other->IsThreadRunning());
  EXPECT_EQ(0u, other->WorkerThreadId());
  EXPECT_EQ(E_FAIL, other->PostText(dtm_command::kErrorMessage, L"nobody"));
  EXPECT_TRUE(other->StopThread());
}

// A worker thread ended by force leaves its mailbox's window class behind.
// A later worker whose class has the same name (one whose thread got the
// same id; here by the same suffix) still starts and serves its DTM.
TEST_F(DtmThreadTest, AWorkerStartsWhereOneEndedByForceLeftItsMailboxClass) {
  dtm->StopThread();
  TestDtm* first = nullptr;
  com::ComPtr<IUnknown> firstHolder = createTestDtm(&first);
  ASSERT_TRUE(firstHolder);
  first->mailboxSuffix = L"reused";
  ASSERT_TRUE(first->StartThread());
  {
    win32::UniqueHandle thread(::OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, first->WorkerThreadId()));
    ASSERT_TRUE(thread);
    ASSERT_TRUE(::TerminateThread(thread.get(), 9));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 10000));
  }
  EXPECT_EQ(E_FAIL, first->PostText(dtm_command::kErrorMessage, L"nobody"));

  TestDtm* second = nullptr;
  com::ComPtr<IUnknown> secondHolder = createTestDtm(&second);
  ASSERT_TRUE(secondHolder);
  second->mailboxSuffix = L"reused";
  second->frame = frameUnknown;
  ASSERT_TRUE(second->StartThread());
  ASSERT_EQ(S_OK, second->PostRequest(dtm_command::kSetFrame, frameUnknown.get()));
  ASSERT_EQ(S_OK, second->PostText(dtm_command::kErrorMessage, L"served"));
  EXPECT_TRUE(PumpUntil([&] { return !frame->callsTo("OnErrorMessage").empty(); }));
  EXPECT_TRUE(second->StopThread());
}

TEST_F(DtmThreadTest, CodesOutsideTheTableAnswerOkAndDoNothing) {
  for (ULONG code : {0u, 20u, 23u, 34u}) EXPECT_EQ(S_OK, dtm->PostCode(code)) << code;
  Fence();
  EXPECT_EQ((std::vector<std::string>{"OnErrorMessage"}), FrameMethods());
  EXPECT_TRUE(dtm->log.empty());
}

TEST_F(DtmThreadTest, FrameNoticesComeBackFromTheWorkerInOrderWithTheSystemTag) {
  dtm->state = 9;
  struct Notice {
    ULONG code;
    com::Variant argument;
    const char* method;
    const wchar_t* arguments;
  };
  const Notice notices[] = {
      {12, com::Variant(), "OnFunctionChanged", L"TAG-1"},
      {13, com::Variant(), "OnNavigation", L"TAG-1"},
      {14, com::Variant(), "OnPreparedToRelease", L"TAG-1"},
      {15, com::Variant(), "OnPreparedToReleaseCommunication", L"TAG-1"},
      {16, com::Variant(L"<changed/>"), "OnParameterChanged", L"TAG-1|<changed/>"},
      {18, com::Variant(L"/channel"), "OnChannelFunctionChanged", L"TAG-1|/channel"},
      {19, com::Variant(L"<call/>"), "OnPrint", L"TAG-1|<call/>"},
      {21, com::Variant(1), "OnOnlineStateChanged", L"TAG-1|-1"},
      {21, com::Variant(0), "OnOnlineStateChanged", L"TAG-1|0"},
      {22, com::Variant(L"invoke-7"), "OnApplicationClosed", L"invoke-7"},
      {33, com::Variant(L"<FDT/>"), "OnStateChanged", L"TAG-1|<FDT/>"},
  };
  for (const auto& notice : notices)
    EXPECT_EQ(S_OK, dtm->PostCode(notice.code, notice.argument.value())) << notice.code;
  Fence();
  // Outside the states 7 to 12 the function and parameter notices are dropped.
  dtm->state = 6;
  EXPECT_EQ(S_OK, dtm->PostCode(12));
  EXPECT_EQ(S_OK, dtm->PostText(16, L"<dropped/>"));
  Fence();

  const auto calls = frame->calls();
  ASSERT_EQ(std::size(notices) + 2, calls.size());
  for (size_t i = 0; i < std::size(notices); ++i) {
    EXPECT_EQ(notices[i].method, calls[i].method) << i;
    EXPECT_EQ(notices[i].arguments, calls[i].arguments) << i;
    EXPECT_EQ(::GetCurrentThreadId(), calls[i].threadId) << i;
  }
}

// The state sink belongs to FDT 1.2.1: a frame that declared FDT 1.2 is
// never asked for it, and state documents then go nowhere.
// The worker keeps the DTM's IevFdtBaseDTM from its start: notices, which
// need only that interface, never marshal the DTM to the worker again.
TEST_F(DtmThreadTest, NoticesUseTheDtmInterfaceTheWorkerKeptFromItsStart) {
  Fence();
  const DWORD connections = dtm->connectionsMade;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(S_OK, dtm->PostText(dtm_command::kErrorMessage, L"again"));
  ASSERT_EQ(S_OK, dtm->PostCode(dtm_command::kFunctionChanged));
  Fence();
  EXPECT_EQ(20u, frame->callsTo("OnErrorMessage").size() - fences);
  EXPECT_EQ(1u, frame->callsTo("OnFunctionChanged").size());
  EXPECT_EQ(connections, dtm->connectionsMade);
}

// A frame that releases the DTM without ShutdownDtm while one of its notices
// is still queued: the worker finds the DTM gone (its stand-in answers that
// it is disconnected) and the notice reaches no frame, rather than one
// without the DTM's system tag.
TEST_F(DtmThreadTest, ANoticeQueuedWhenTheDtmGoesWithoutShutdownReachesNoFrame) {
  bool released = false;
  frame->onNotice = [&](const FrameCall& call) {
    if (released || call.arguments != L"TAG-1|first") return;
    // The worker waits for this call: the next notice is queued behind it.
    EXPECT_EQ(S_OK, dtm->PostText(dtm_command::kErrorMessage, L"second"));
    dtm = nullptr;
    dtmUnknown = nullptr;  // the last reference: the DTM goes and lets its worker end
    released = true;
  };
  ASSERT_EQ(S_OK, dtm->PostText(dtm_command::kErrorMessage, L"first"));
  ASSERT_TRUE(PumpUntil([&] { return released; }));
  EXPECT_TRUE(ThreadEnded(worker, 10000));
  frame->onNotice = nullptr;
  std::vector<std::wstring> messages;
  for (const auto& call : frame->callsTo("OnErrorMessage")) messages.push_back(call.arguments);
  EXPECT_EQ(std::vector<std::wstring>{L"TAG-1|first"}, messages);
}

TEST_F(DtmThreadTest, AFrameOfFdt12IsNeverAskedForTheStateSink) {
  const LONG asked = frame->stateSinkQueries;
  EXPECT_GT(asked, 0);  // the first DTM's frame declared FDT 1.2.1
  NewDtm(false);
  EXPECT_EQ(asked, frame->stateSinkQueries);
  EXPECT_EQ(S_OK, dtm->PostText(dtm_command::kStateDocument, L"<FDT/>"));
  Fence();
  EXPECT_TRUE(frame->callsTo("OnStateChanged").empty());
}

TEST_F(DtmThreadTest, StateNoticesAndDeviceDataRequestsReachTheDtm) {
  for (ULONG code = 28; code <= 32; ++code) EXPECT_EQ(S_OK, dtm->PostCode(code, com::Variant(7).value()));
  EXPECT_EQ(S_OK, dtm->PostText(dtm_command::kSdaGetItemList, L"inv-1"));
  EXPECT_EQ(S_OK, dtm->PostText(dtm_command::kSdaReadItems, L"packed"));
  EXPECT_EQ(S_OK, dtm->PostText(dtm_command::kSdaWriteItems, L"packed"));
  // Cancel runs at once: it has reached the DTM when the post returns (the
  // queued ones may have, too: this apartment dispatches while it posts).
  EXPECT_EQ(S_OK, dtm->PostText(dtm_command::kSdaCancel, L"inv-2"));
  EXPECT_EQ(1u, dtm->count("CancelRequest inv-2"));
  Fence();
  Log queued;
  for (const auto& line : dtm->log)
    if (line != "CancelRequest inv-2") queued.push_back(line);
  EXPECT_EQ((Log{"OnDtmEvent 64 7", "OnDtmEvent 65 7", "OnDtmEvent 66 7", "OnDtmEvent 67 7",
                 "OnDtmEvent 68 7", "GetItemList inv-1", "ReadItems", "WriteItems"}),
            queued);

  // Without a handler the requests succeed and go nowhere.
  NewDtm();
  dtm->offerSda = false;
  EXPECT_EQ(S_OK, dtm->PostText(dtm_command::kSdaCancel, L"inv-3"));
  EXPECT_EQ(S_OK, dtm->PostText(dtm_command::kSdaGetItemList, L"inv-4"));
  Fence();
  EXPECT_TRUE(dtm->log.empty());
}

// A window on the test thread that counts the messages it is given.
struct CountingWindow {
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_APP) ++dispatched;
    return ::DefWindowProcW(window, message, w, l);
  }
  CountingWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &Proc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"WorkerTestCountingWindow";
    ::RegisterClassW(&windowClass);
    window = ::CreateWindowW(L"WorkerTestCountingWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                             nullptr, windowClass.hInstance, nullptr);
    dispatched = 0;
  }
  ~CountingWindow() { ::DestroyWindow(window); }
  HWND window;
  static int dispatched;
};
int CountingWindow::dispatched = 0;

TEST_F(DtmThreadTest, GoingOnlineWaitsForTheWorkerWhileTheCallerKeepsDispatching) {
  CountingWindow counter;
  ASSERT_NE(nullptr, counter.window);
  dtm->offerChannels = true;
  int seenByChannels = -1;
  dtm->onReset = [&] {
    seenByChannels = CountingWindow::dispatched;
    dtm->SetState(12);  // the channels connected
  };
  ASSERT_TRUE(::PostMessageW(counter.window, WM_APP, 0, 0));

  ASSERT_EQ(S_OK, dtm->PostGoOnline());
  // Returned only after the worker went online; the window message posted
  // before was dispatched during the wait, before the worker called back.
  EXPECT_EQ((Log{"SetState 10", "ResetChannelParameter", "SetState 12"}), dtm->log);
  EXPECT_EQ(1, seenByChannels);
}

TEST_F(DtmThreadTest, GoingOnlineAndOfflineDriveTheStatesInOrder) {
  struct Case {
    const char* name;
    LONG state;
    bool channels, hook;
    HRESULT reset;
    VARIANT_BOOL hookAnswer;
    HRESULT expected;
    Log log;
  };
  const Case online[] = {
      {"no channels", 9, false, false, S_OK, VARIANT_TRUE, S_OK, {"SetState 10", "SetState 12"}},
      {"channels connect", 9, true, false, S_OK, VARIANT_TRUE, S_OK,
       {"SetState 10", "ResetChannelParameter"}},
      {"channels fail", 9, true, false, E_FAIL, VARIANT_TRUE, S_OK,
       {"SetState 10", "ResetChannelParameter", "SetState 9"}},
      {"hook refuses", 9, true, true, S_OK, VARIANT_FALSE, S_OK,
       {"SetState 10", "OnGoingOnline", "SetState 9"}},
      {"configured only", 8, true, false, S_OK, VARIANT_TRUE, E_FAIL, {}},
      {"already online", 12, true, false, S_OK, VARIANT_TRUE, E_FAIL, {}},
  };
  for (const auto& c : online) {
    NewDtm();
    dtm->state = c.state;
    dtm->offerChannels = c.channels;
    dtm->offerHook = c.hook;
    dtm->hookOnline = c.hookAnswer;
    dtm->resetResult = c.reset;
    EXPECT_EQ(c.expected, dtm->PostGoOnline()) << c.name;
    EXPECT_EQ(c.log, dtm->log) << c.name;
  }

  struct OfflineCase {
    const char* name;
    LONG state;
    bool channels, hook;
    VARIANT_BOOL released, hookAnswer;
    HRESULT expected;
    Log log;
    LONG finalState;
  };
  const OfflineCase offline[] = {
      {"released", 12, true, false, VARIANT_TRUE, VARIANT_TRUE, S_OK,
       {"SetState 11", "CanReleaseChannels", "SetState 9"}, 9},
      {"refused", 12, true, false, VARIANT_FALSE, VARIANT_TRUE, S_OK,
       {"SetState 11", "CanReleaseChannels", "SetState 12"}, 12},
      {"hook refuses", 12, true, true, VARIANT_TRUE, VARIANT_FALSE, S_OK,
       {"SetState 11", "OnGoingOffline", "SetState 12"}, 12},
      {"no channels", 12, false, false, VARIANT_TRUE, VARIANT_TRUE, S_OK,
       {"SetState 11", "SetState 9"}, 9},
      {"not online", 9, true, false, VARIANT_TRUE, VARIANT_TRUE, E_FAIL, {}, 9},
  };
  for (const auto& c : offline) {
    NewDtm();
    dtm->state = c.state;
    dtm->offerChannels = c.channels;
    dtm->offerHook = c.hook;
    dtm->hookOffline = c.hookAnswer;
    dtm->channelsReleased = c.released;
    EXPECT_EQ(c.expected, dtm->PostCode(dtm_command::kGoOffline)) << c.name;
    Fence();
    EXPECT_EQ(c.log, dtm->log) << c.name;
    EXPECT_EQ(c.finalState, dtm->state) << c.name;
  }
}

TEST_F(DtmThreadTest, UploadAndDownloadReportTheirEndToTheFrame) {
  SOnlineParamData upload(L"op-1", L"request-1");
  ASSERT_EQ(S_OK, dtm->PostPacked(dtm_command::kUpload, upload));
  ASSERT_TRUE(PumpUntil([&] { return !frame->callsTo("OnUploadFinished").empty(); }));
  EXPECT_EQ(L"op-1|-1", frame->callsTo("OnUploadFinished")[0].arguments);
  EXPECT_EQ((Log{"OnDtmEvent 48 false", "UploadRequest request-1"}), dtm->log);
  EXPECT_TRUE(frame->callsTo("OnErrorMessage").empty());

  // Failures: one message notice and one finished notice with false.
  dtm->uploadResult = S_FALSE;
  SOnlineParamData failing(L"op-2", L"request-2");
  ASSERT_EQ(S_OK, dtm->PostPacked(dtm_command::kUpload, failing));
  dtm->downloadDone = VARIANT_FALSE;
  SOnlineParamData download(L"op-3", L"request-3");
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnUploadFinished").size() == 2; }));
  ASSERT_EQ(S_OK, dtm->PostPacked(dtm_command::kDownload, download));
  ASSERT_TRUE(PumpUntil([&] { return !frame->callsTo("OnDownloadFinished").empty(); }));
  EXPECT_EQ(L"op-2|0", frame->callsTo("OnUploadFinished")[1].arguments);
  EXPECT_EQ(L"op-3|0", frame->callsTo("OnDownloadFinished")[0].arguments);
  const auto messages = frame->callsTo("OnErrorMessage");
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ(L"TAG-1|Upload parameters failed", messages[0].arguments);
  EXPECT_EQ(L"TAG-1|Download parameters failed", messages[1].arguments);

  // Without a parameter handler the transfer fails the same way.
  dtm->offerHandler = false;
  SOnlineParamData orphan(L"op-4", L"request-4");
  ASSERT_EQ(S_OK, dtm->PostPacked(dtm_command::kDownload, orphan));
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnDownloadFinished").size() == 2; }));
  EXPECT_EQ(L"op-4|0", frame->callsTo("OnDownloadFinished")[1].arguments);
}

TEST_F(DtmThreadTest, OnePendingTransferBlocksASecondOneAndGoingOffline) {
  dtm->state = 12;
  dtm->offerChannels = true;
  // Requests made while the upload runs (the worker waits in UploadRequest
  // and serves them meanwhile).
  HRESULT second = S_OK, offline = S_OK, otherCancel = E_UNEXPECTED;
  dtm->onUpload = [&] {
    SOnlineParamData download(L"op-2", L"r2");
    second = dtm->PostPacked(dtm_command::kDownload, download);
    offline = dtm->PostCode(dtm_command::kGoOffline);
    otherCancel = dtm->PostText(dtm_command::kCancelTransfer, L"op-2");
  };
  SOnlineParamData first(L"op-1", L"r1");
  ASSERT_EQ(S_OK, dtm->PostPacked(dtm_command::kUpload, first));
  ASSERT_TRUE(PumpUntil([&] { return !frame->callsTo("OnUploadFinished").empty(); }));
  EXPECT_EQ(E_FAIL, second);
  EXPECT_EQ(E_FAIL, offline);
  EXPECT_EQ(S_OK, otherCancel);
  EXPECT_EQ(0u, dtm->count("AbortTransfer"));
  EXPECT_EQ(0u, dtm->count("SetState 11"));
  EXPECT_EQ(12, dtm->state);
  EXPECT_EQ(L"op-1|-1", frame->callsTo("OnUploadFinished")[0].arguments);

  // A cancel of the running one aborts it, and the cancelled request is
  // still answered once, as not done, without an error message; until then
  // it stays the pending one.
  HRESULT whileCancelled = S_OK;
  dtm->onUpload = [&] {
    dtm->PostText(dtm_command::kCancelTransfer, L"op-3");
    SOnlineParamData download(L"op-4", L"r4");
    whileCancelled = dtm->PostPacked(dtm_command::kDownload, download);
  };
  dtm->uploadResult = E_ABORT;
  const size_t messages = frame->callsTo("OnErrorMessage").size();
  SOnlineParamData third(L"op-3", L"r3");
  ASSERT_EQ(S_OK, dtm->PostPacked(dtm_command::kUpload, third));
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnUploadFinished").size() == 2; }));
  Fence();
  EXPECT_EQ(1u, dtm->count("AbortTransfer"));
  EXPECT_EQ(E_FAIL, whileCancelled);
  EXPECT_EQ(2u, frame->callsTo("OnUploadFinished").size());
  EXPECT_EQ(L"op-3|0", frame->callsTo("OnUploadFinished")[1].arguments);
  // Only the fence's own message came.
  EXPECT_EQ(messages + 1, frame->callsTo("OnErrorMessage").size());
  // The cancel was spent with its transfer: the DTM's abort flag is cleared
  // behind it, so that an abort reaching the DTM only as the transfer
  // returned stops nothing later.
  const auto abort = std::find(dtm->log.begin(), dtm->log.end(), "AbortTransfer");
  ASSERT_NE(dtm->log.end(), abort);
  EXPECT_NE(dtm->log.end(), std::find(abort, dtm->log.end(), "OnDtmEvent 48 false"));
  // Then going offline is allowed again.
  EXPECT_EQ(S_OK, dtm->PostCode(dtm_command::kGoOffline));

  // A record that does not unpack is refused.
  EXPECT_EQ(E_FAIL, dtm->PostText(dtm_command::kUpload, L"not a record"));
}

// A transfer is answered through the frame's event sink only: without one
// it is refused, and it holds up no later transfer.
TEST_F(DtmThreadTest, WithoutTheFrameSinkATransferIsRefusedAndHoldsUpNothing) {
  frame->offerEventSink = false;
  NewDtm();
  SOnlineParamData first(L"op-1", L"r1");
  EXPECT_EQ(E_FAIL, dtm->PostPacked(dtm_command::kUpload, first));
  frame->offerEventSink = true;
  ASSERT_EQ(S_OK, dtm->PostRequest(dtm_command::kSetFrame, frameUnknown.get()));
  SOnlineParamData second(L"op-2", L"r2");
  ASSERT_EQ(S_OK, dtm->PostPacked(dtm_command::kUpload, second));
  ASSERT_TRUE(PumpUntil([&] { return !frame->callsTo("OnUploadFinished").empty(); }));
  Fence();
  const auto finished = frame->callsTo("OnUploadFinished");
  ASSERT_EQ(1u, finished.size());
  EXPECT_EQ(L"op-2|-1", finished[0].arguments);
  EXPECT_EQ(0u, dtm->count("UploadRequest r1"));
  EXPECT_EQ(1u, dtm->count("UploadRequest r2"));
}

TEST_F(DtmThreadTest, ThreadTimerReadsParametersWithoutAWindow) {
  dtm->requestStarted = VARIANT_FALSE;  // every read is tried again
  SParamUpdateInfo update(7, 30);
  ASSERT_EQ(S_OK, dtm->PostPacked(dtm_command::kAddParamUpdate, update));
  ASSERT_EQ(S_OK, dtm->SetThreadTimeout(10));
  ASSERT_TRUE(PumpUntil([&] { return dtm->count("RequestParameter 7") >= 3; }));

  ASSERT_EQ(S_OK, dtm->SetThreadTimeout(0));
  Fence();
  const size_t stopped = dtm->count("RequestParameter 7");
  PumpFor(200);
  EXPECT_EQ(stopped, dtm->count("RequestParameter 7"));
}

}  // namespace
