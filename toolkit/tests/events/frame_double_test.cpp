// The frame double's notice interfaces as a DTM's worker thread reaches them:
// from another apartment, through the FDT type library or, agile, directly.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "com/Bstr.h"
#include "frame_notices.h"
#include "win32/unique_handle.h"

namespace {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// A thread in its own apartment that sends two notices to the frame.
struct Sender {
  IStream* frame = nullptr;
  DWORD thread = 0;
  HRESULT stateResult = E_UNEXPECTED;
  HRESULT onlineResult = E_UNEXPECTED;

  static DWORD WINAPI Run(void* context) {
    auto* self = static_cast<Sender*>(context);
    self->thread = ::GetCurrentThreadId();
    ::CoInitialize(nullptr);
    {
      com::ComPtr<IUnknown> frame;
      if (SUCCEEDED(::CoGetInterfaceAndReleaseStream(self->frame, IID_IUnknown, frame.putVoid()))) {
        com::ComPtr<IFrameDtmEvents2> states;
        com::ComPtr<IFrameDtmEvents> events;
        com::Bstr tag(L"dtm-1"), document(L"<FDT/>");
        if (SUCCEEDED(frame->QueryInterface(__uuidof(IFrameDtmEvents2), states.putVoid()))) {
          self->stateResult = states->OnStateChanged(tag.get(), document.get());
        }
        if (SUCCEEDED(frame->QueryInterface(__uuidof(IFrameDtmEvents), events.putVoid()))) {
          self->onlineResult = events->OnOnlineStateChanged(tag.get(), VARIANT_TRUE);
        }
      }
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
    ASSERT_EQ(S_OK, ::CoMarshalInterThreadInterfaceInStream(IID_IUnknown, holder_.get(), &sender.frame));
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

 private:
  com::ComPtr<IUnknown> holder_;
};

}  // namespace

TEST_F(FrameDoubleNoticeTest, NoticesFromAnotherApartmentArriveOnTheFramesThread) {
  Sender sender;
  Send(sender);
  EXPECT_EQ(S_OK, sender.stateResult);
  EXPECT_EQ(S_OK, sender.onlineResult);
  auto calls = frame->calls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ("IFrameDtmEvents2", calls[0].interfaceName);
  EXPECT_EQ((std::vector<std::wstring>{L"dtm-1", L"<FDT/>"}), calls[0].arguments);
  EXPECT_EQ(::GetCurrentThreadId(), calls[0].threadId);
  EXPECT_EQ((std::vector<std::wstring>{L"dtm-1", L"true"}), calls[1].arguments);
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
