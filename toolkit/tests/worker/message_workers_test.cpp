// Notice workers: each runs once on a thread of its own, reaches the frame
// and the DTM through marshalled interfaces, is deleted and its thread ends;
// progress notices are serialised by the DTM's progress event.
#include <gtest/gtest.h>

#include <windows.h>

#include "toolkit/worker/dtm_thread.h"
#include "toolkit/worker/message_workers.h"
#include "worker_doubles.h"

using namespace worker_test;

namespace {

class MessageWorkersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    RegisterWorkerServer();
    dtmUnknown = createTestDtm(&dtm);
    frameUnknown = createTestFrame(&frame);
    dtm->frame = frameUnknown;
  }
  void TearDown() override {
    frameUnknown = nullptr;
    dtmUnknown = nullptr;
    ::CoUninitialize();
  }

  bool ProgressIdle() { return ::WaitForSingleObject(dtm->ProgressEvent(), 0) == WAIT_OBJECT_0; }

  TestDtm* dtm = nullptr;
  TestFrame* frame = nullptr;
  com::ComPtr<IUnknown> dtmUnknown, frameUnknown;
};

// A worker that notes where and with what it ran, and that it was deleted.
struct ProbeWorker : CWorker {
  explicit ProbeWorker(ProbeWorker** alive) : alive_(alive) { *alive_ = this; }
  ~ProbeWorker() override { *alive_ = nullptr; }
  HRESULT Execute(IFrameContainer* frameObject, IevFdtBaseDTM* dtm) override {
    threadId = ::GetCurrentThreadId();
    gotBoth = frameObject && dtm;
    LONG state = 0;
    if (dtm) dtm->GetDtmState(&state);  // a call back into the DTM's apartment
    stateSeen = state;
    return S_OK;
  }
  static DWORD threadId;
  static bool gotBoth;
  static LONG stateSeen;
  ProbeWorker** alive_;
};
DWORD ProbeWorker::threadId = 0;
bool ProbeWorker::gotBoth = false;
LONG ProbeWorker::stateSeen = 0;

TEST_F(MessageWorkersTest, AWorkerRunsOnceOnItsOwnThreadAndEnds) {
  ProbeWorker* alive = nullptr;
  dtm->state = 11;
  ASSERT_EQ(S_OK, dtm->StartWorkerThread(new ProbeWorker(&alive)));
  ASSERT_TRUE(PumpUntil([&] { return alive == nullptr; }));
  EXPECT_TRUE(ProbeWorker::gotBoth);
  EXPECT_EQ(11, ProbeWorker::stateSeen);
  EXPECT_NE(::GetCurrentThreadId(), ProbeWorker::threadId);
  EXPECT_TRUE(ThreadEnded(ProbeWorker::threadId));

  // Without the frame's object the worker is not started and stays the
  // caller's.
  dtm->frame = nullptr;
  ProbeWorker* kept = nullptr;
  auto* worker = new ProbeWorker(&kept);
  EXPECT_EQ(E_FAIL, dtm->StartWorkerThread(worker));
  EXPECT_EQ(worker, kept);
  delete worker;
  EXPECT_EQ(E_INVALIDARG, StartWorkerThread(frameUnknown.get(), dtmUnknown.get(), nullptr));
}

TEST_F(MessageWorkersTest, ControlMessagesReachTheOpenControls) {
  EXPECT_EQ(E_INVALIDARG, dtm->PostActiveXMessage(63));
  EXPECT_EQ(E_INVALIDARG, dtm->PostActiveXMessage(69));
  EXPECT_EQ(S_OK, dtm->PostActiveXMessage(64));
  EXPECT_EQ(S_OK, dtm->PostActiveXMessage(68));
  ASSERT_TRUE(PumpUntil([&] { return dtm->log.size() == 2; }));
  EXPECT_EQ(1u, dtm->count("SetControlsProperty 10003 64"));
  EXPECT_EQ(1u, dtm->count("SetControlsProperty 10003 68"));

  // Not started without a frame: still S_OK, and nothing arrives.
  dtm->frame = nullptr;
  dtm->log.clear();
  EXPECT_EQ(S_OK, dtm->PostActiveXMessage(65));
  PumpFor(100);
  EXPECT_TRUE(dtm->log.empty());
}

TEST_F(MessageWorkersTest, ProgressStepsFollowTheThreshold) {
  dtm->progressStep = 10;
  dtm->progressThreshold = 0;
  dtm->ReportProgress(0, 100, L"load");
  for (ULONG done : {5u, 8u, 12u}) {
    ASSERT_TRUE(PumpUntil([&] { return ProgressIdle(); }));
    dtm->ReportProgress(done, 100, L"load");
  }
  dtm->ReportProgress(7, 0, L"no total");  // must not divide
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnProgress").size() == 3 && ProgressIdle(); }));
  const auto notices = frame->callsTo("OnProgress");
  EXPECT_EQ(L"TAG-1|load|0|0", notices[0].arguments);
  EXPECT_EQ(L"TAG-1|load|5|-1", notices[1].arguments);
  EXPECT_EQ(L"TAG-1|load|12|-1", notices[2].arguments);
  for (const auto& notice : notices) {
    EXPECT_NE(::GetCurrentThreadId(), notice.threadId);
    EXPECT_TRUE(ThreadEnded(notice.threadId));
  }

  dtm->progressQuiet = true;
  dtm->ReportProgress(90, 100, L"quiet");
  PumpFor(100);
  EXPECT_EQ(3u, frame->callsTo("OnProgress").size());
  EXPECT_EQ(30u, dtm->progressThreshold);  // the threshold still moved on
}

DWORD WINAPI OpenGateLater(void* gate) {
  ::Sleep(200);
  ::SetEvent(static_cast<HANDLE>(gate));
  return 0;
}

TEST_F(MessageWorkersTest, OneProgressNoticeAtATime) {
  win32::UniqueHandle gate(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  frame->progressGate = gate.get();
  ASSERT_EQ(S_OK, dtm->QueueWorkerRequest(L"first", 0, 0));
  EXPECT_FALSE(ProgressIdle());
  // A step notice while the first is under way is dropped...
  EXPECT_EQ(S_OK, dtm->QueueWorkerRequest(L"dropped", 50, -1));
  // ...a start notice waits for it (dispatching, so the first can finish).
  win32::UniqueHandle opener(::CreateThread(nullptr, 0, &OpenGateLater, gate.get(), 0, nullptr));
  ASSERT_EQ(S_OK, dtm->QueueWorkerRequest(L"second", 0, 0));
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnProgress").size() == 2 && ProgressIdle(); }));
  const auto notices = frame->callsTo("OnProgress");
  EXPECT_EQ(L"TAG-1|first|0|0", notices[0].arguments);
  EXPECT_EQ(L"TAG-1|second|0|0", notices[1].arguments);

  // A notice the frame rejects still releases the next one.
  frame->progressGate = nullptr;
  frame->progressResult = E_FAIL;
  ASSERT_EQ(S_OK, dtm->QueueWorkerRequest(L"rejected", 0, 0));
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnProgress").size() == 3 && ProgressIdle(); }));
  ASSERT_EQ(S_OK, dtm->QueueWorkerRequest(L"step", 60, -1));
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnProgress").size() == 4; }));

  dtm->frame = nullptr;
  EXPECT_EQ(E_FAIL, dtm->QueueWorkerRequest(L"no frame", 0, 0));
  ::WaitForSingleObject(opener.get(), 5000);
}

// The references an object holds right now.
ULONG References(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

// A worker whose thread waits at its start for the gate to open, before it
// takes what it was handed; done is set as the worker is deleted.
struct HeldWorker : CWorker {
  HeldWorker(HANDLE gate, HANDLE done, bool* executed) : gate_(gate), done_(done), executed_(executed) {}
  ~HeldWorker() override { ::SetEvent(done_); }
  void Starting() override { ::WaitForSingleObject(gate_, 30000); }
  HRESULT Execute(IFrameContainer*, IevFdtBaseDTM*) override {
    *executed_ = true;
    return S_OK;
  }
  HANDLE gate_, done_;
  bool* executed_;
};

// A DTM that goes while its notices wait for their threads (here: with its
// apartment, whose end gives up the references marshalled for them) takes
// them back, on its own thread; the notice is dropped, and its thread
// later ends without reaching the frame. The frame's application may be
// ending by then. A worker whose reference is the DTM's last has let go of
// the frame before.
TEST_F(MessageWorkersTest, NoWorkerReachesTheFrameOnceItsDtmIsGone) {
  win32::UniqueHandle gate(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  win32::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  bool executed = false;
  ASSERT_EQ(S_OK, dtm->StartWorkerThread(new HeldWorker(gate.get(), done.get(), &executed)));
  dtm = nullptr;
  dtmUnknown = nullptr;  // held by what was marshalled for the worker
  ::CoUninitialize();
  EXPECT_EQ(1u, References(frameUnknown.get()));  // the test's own
  ::SetEvent(gate.get());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(done.get(), 10000));
  EXPECT_FALSE(executed);
  EXPECT_EQ(1u, References(frameUnknown.get()));
  EXPECT_TRUE(frame->calls().empty());
  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

  // The worker's release of the DTM is the DTM's last.
  dtmUnknown = createTestDtm(&dtm);
  dtm->frame = frameUnknown;
  ULONG frameReferencesAtDtmEnd = 0;
  bool dtmGone = false;
  dtm->onFinalRelease = [&] {
    frameReferencesAtDtmEnd = References(frameUnknown.get());
    dtmGone = true;
  };
  ProbeWorker* alive = nullptr;
  ProbeWorker::gotBoth = false;
  ASSERT_EQ(S_OK, dtm->StartWorkerThread(new ProbeWorker(&alive)));
  dtm->frame = nullptr;
  dtm = nullptr;
  dtmUnknown = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return dtmGone; }));
  EXPECT_TRUE(ProbeWorker::gotBoth);
  EXPECT_EQ(1u, frameReferencesAtDtmEnd);
}

}  // namespace
