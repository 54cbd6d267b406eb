// The frame double's notice interfaces as a DTM's worker thread reaches them:
// from another apartment, through the dispatch proxy or, agile, directly,
// always by dispatch id (frame_events).
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "com/Bstr.h"
#include "com/GlobalInterface.h"
#include "frame_notices.h"
#include "toolkit/values/frame_events.h"
#include "win32/unique_handle.h"

namespace {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

const IID* const kSinks[] = {&DIID_IFrameAuditTrailEvents, &DIID_IFrameDtmEvents2, &DIID_IFrameDtmEvents};

// A thread in its own apartment that sends three notices to the frame's
// sinks, handed to it under their own dispatch interfaces, as the DTM hands
// them to its worker threads.
struct Sender {
  com::GlobalInterface sinks[3];  // audit trail, state sink, event sink
  DWORD thread = 0;
  HRESULT stateResult = E_UNEXPECTED;
  HRESULT onlineResult = E_UNEXPECTED;
  HRESULT auditResult = E_UNEXPECTED;
  VARIANT_BOOL auditAnswer = VARIANT_TRUE;

  static DWORD WINAPI Run(void* context) {
    auto* self = static_cast<Sender*>(context);
    self->thread = ::GetCurrentThreadId();
    ::CoInitialize(nullptr);
    {
      com::ComPtr<IDispatch> audit, states, events;
      self->sinks[0].take(audit.putVoid());
      self->sinks[1].take(states.putVoid());
      self->sinks[2].take(events.putVoid());
      com::Bstr tag(L"dtm-1"), document(L"<FDT/>");
      self->auditResult = frame_events::Ask(audit.get(), frame_events::kStartTransaction, tag.get(),
                                            &self->auditAnswer);
      self->stateResult =
          frame_events::Notify(states.get(), frame_events::kStateChanged, tag.get(), document.get());
      self->onlineResult = frame_events::NotifyFlag(events.get(), frame_events::kOnlineStateChanged,
                                                    tag.get(), VARIANT_TRUE);
    }
    ::CoUninitialize();
    return 0;
  }
};

class FrameDoubleNoticeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    com::ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, ::LoadTypeLibEx((ProgramFolder() + L"fdtlib.tlb").c_str(), REGKIND_REGISTER, library.put()));
    holder_ = frame_double::createNoticeFrame(&frame);
    ASSERT_NE(nullptr, frame);
  }
  void TearDown() override {
    holder_ = nullptr;
    ::CoUninitialize();
  }

  // Runs a sender and serves this apartment until it ended.
  void Send(Sender& sender) {
    for (int i = 0; i < 3; ++i)
      ASSERT_EQ(S_OK, frame_events::OfferSink(holder_.get(), *kSinks[i], sender.sinks[i]));
    win32::UniqueHandle thread(::CreateThread(nullptr, 0, &Sender::Run, &sender, 0, nullptr));
    ASSERT_TRUE(thread.get());
    EXPECT_TRUE(frame->waitForCalls("OnOnlineStateChanged", 1, 10000));
    HANDLE handle = thread.get();
    while (::MsgWaitForMultipleObjects(1, &handle, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      MSG message;
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
  }

  frame_double::NoticeFrame* frame = nullptr;

  com::ComPtr<IUnknown> holder() const { return holder_; }

 private:
  com::ComPtr<IUnknown> holder_;
};

}  // namespace

TEST_F(FrameDoubleNoticeTest, NoticesFromAnotherApartmentArriveOnTheFramesThread) {
  frame->setBoolAnswer("OnStartTransaction", VARIANT_FALSE);
  Sender sender;
  Send(sender);
  EXPECT_EQ(S_OK, sender.auditResult);
  EXPECT_EQ(VARIANT_FALSE, sender.auditAnswer);  // the frame's answer crossed back
  EXPECT_EQ(S_OK, sender.stateResult);
  EXPECT_EQ(S_OK, sender.onlineResult);
  auto calls = frame->calls();
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ("OnStartTransaction", calls[0].method);
  EXPECT_EQ("IFrameDtmEvents2", calls[1].interfaceName);
  EXPECT_EQ((std::vector<std::wstring>{L"dtm-1", L"<FDT/>"}), calls[1].arguments);
  EXPECT_EQ(::GetCurrentThreadId(), calls[1].threadId);
  EXPECT_EQ("OnOnlineStateChanged", calls[2].method);
  EXPECT_EQ((std::vector<std::wstring>{L"dtm-1", L"true"}), calls[2].arguments);
  // Handed over under their own identifiers, which COM asked the sinks for.
  EXPECT_GT(frame->eventSink().ownInterfaceQueries(), 0);
  EXPECT_GT(frame->stateSink().ownInterfaceQueries(), 0);
}

// A frame without the sink: nothing is entered, and the other apartment
// gets nothing.
TEST_F(FrameDoubleNoticeTest, AMissingSinkIsOfferedAsNothing) {
  frame->noticeOffers().stateSink = false;
  com::GlobalInterface entry;
  EXPECT_EQ(S_FALSE, frame_events::OfferSink(holder().get(), DIID_IFrameDtmEvents2, entry));
  EXPECT_EQ(0u, entry.cookie());
  com::ComPtr<IDispatch> sink;
  EXPECT_EQ(E_FAIL, entry.take(sink.putVoid()));
  EXPECT_EQ(S_FALSE, frame_events::OfferSink(nullptr, DIID_IFrameDtmEvents, entry));
  EXPECT_EQ(1u, frame->sinkQueries("IFrameDtmEvents2"));
}

TEST_F(FrameDoubleNoticeTest, AgileDoubleRecordsTheSendersThreadAndScriptedAnswers) {
  frame->setAgile(true);
  frame->setResult("OnOnlineStateChanged", E_FAIL);
  Sender sender;
  Send(sender);
  EXPECT_EQ(S_OK, sender.stateResult);
  EXPECT_EQ(E_FAIL, sender.onlineResult);
  auto calls = frame->callsTo("OnStateChanged");
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(sender.thread, calls[0].threadId);
  EXPECT_NE(::GetCurrentThreadId(), calls[0].threadId);
}

// What a caller that took a sink for a dual interface would do: call its
// first method through the vtable. The double must refuse and record it, so
// that such a caller fails its tests.
struct DualLikeSink : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE FirstMethod(BSTR first, BSTR second) = 0;
};

TEST_F(FrameDoubleNoticeTest, SinksAreObjectsOfTheirOwnAndMisroutedCallsAreFaults) {
  frame_double::ExpectedFaults faults;
  com::ComPtr<IUnknown> unknown = holder();
  com::Bstr tag(L"dtm-1"), text(L"text");
  for (const IID* iid : {&DIID_IFrameDtmEvents, &DIID_IFrameDtmEvents2, &DIID_IFrameAuditTrailEvents}) {
    com::ComPtr<IDispatch> sink;
    ASSERT_EQ(S_OK, unknown->QueryInterface(*iid, sink.putVoid()));
    com::ComPtr<IDispatch> same;
    EXPECT_EQ(S_OK, sink->QueryInterface(*iid, same.putVoid()));
    EXPECT_FALSE(com::sameObject(sink.get(), unknown.get()));
    EXPECT_TRUE(FAILED(reinterpret_cast<DualLikeSink*>(sink.get())->FirstMethod(tag.get(), text.get())));
    // Unknown dispatch ids and interface-qualified calls are refused too.
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, frame_events::Notify(sink.get(), 7, tag.get()));
  }
  auto misuses = frame->callsTo("vtable call");
  ASSERT_EQ(3u, misuses.size());
  EXPECT_EQ("IFrameDtmEvents", misuses[0].interfaceName);
  EXPECT_EQ(std::vector<std::wstring>{L"7"}, misuses[0].arguments);
  EXPECT_EQ("IFrameAuditTrailEvents", misuses[2].interfaceName);

  // A notice on the frame's own IDispatch (the container's) missed its sink.
  com::ComPtr<IDispatch> container;
  ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IDispatch, container.putVoid()));
  frame_events::Notify(container.get(), frame_events::kErrorMessage, tag.get(), text.get());
  auto missed = frame->callsTo("Invoke");
  ASSERT_EQ(1u, missed.size());
  EXPECT_EQ("IDispatch", missed[0].interfaceName);
  EXPECT_EQ(std::vector<std::wstring>{L"2"}, missed[0].arguments);
  EXPECT_TRUE(frame->callsTo("OnErrorMessage").empty());
  EXPECT_EQ(4, faults.count());
}
