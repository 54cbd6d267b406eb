// The message-pumping waits: messages are served while waiting, WM_QUIT is
// kept for the thread's own loop, and the time-out counts from the start.
#include <gtest/gtest.h>

#include <process.h>

#include "toolkit/values/message_wait.h"

namespace {

struct Delayed {
  DWORD delayMs;
  HANDLE event = nullptr;      // set after the delay, when given
  HWND window = nullptr;       // or a message posted to it
  UINT message = WM_APP;
};

unsigned __stdcall DelayedAction(void* arg) {
  auto* d = static_cast<Delayed*>(arg);
  ::Sleep(d->delayMs);
  if (d->window) ::PostMessageW(d->window, d->message, 0, 0);
  if (d->event) ::SetEvent(d->event);
  return 0;
}

class DelayedThread {
 public:
  explicit DelayedThread(Delayed& d)
      : thread_(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, DelayedAction, &d, 0, nullptr))) {}
  ~DelayedThread() {
    ::WaitForSingleObject(thread_, 10000);
    ::CloseHandle(thread_);
  }

 private:
  HANDLE thread_;
};

HANDLE g_setByWindow = nullptr;

LRESULT CALLBACK SetsEventOnAppMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) {
    ::SetEvent(g_setByWindow);
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// A message-only window whose procedure sets g_setByWindow on WM_APP.
HWND CreateSignallingWindow() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = SetsEventOnAppMessage;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"WaitTestWindow";
  ::RegisterClassW(&wc);
  return ::CreateWindowW(L"WaitTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         wc.hInstance, nullptr);
}

bool TakeQuit(WPARAM* code) {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      *code = msg.wParam;
      return true;
    }
  }
  return false;
}

TEST(WaitWithMessageLoop, DispatchesMessagesWhileWaiting) {
  g_setByWindow = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND window = CreateSignallingWindow();
  ASSERT_NE(nullptr, window);
  Delayed post{50, nullptr, window, WM_APP};
  {
    DelayedThread poster(post);
    // Only the window procedure sets the event: returning means dispatched.
    EXPECT_EQ(1, WaitWithMessageLoop(g_setByWindow));
  }
  ::ResetEvent(g_setByWindow);
  ::PostMessageW(window, WM_APP, 0, 0);
  EXPECT_EQ(1, WaitOneWithMessageLoop(g_setByWindow, 5000));
  ::DestroyWindow(window);
  ::CloseHandle(g_setByWindow);
}

TEST(WaitWithMessageLoop, KeepsQuitAndReturnsOnItsHandle) {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Delayed later{100, event};
  ::PostQuitMessage(7);
  {
    DelayedThread setter(later);
    EXPECT_EQ(1, WaitWithMessageLoop(event));
  }
  WPARAM code = 0;
  ASSERT_TRUE(TakeQuit(&code));
  EXPECT_EQ(7u, code);

  ::ResetEvent(event);
  later.delayMs = 50;
  ::PostQuitMessage(9);
  {
    DelayedThread setter(later);
    EXPECT_EQ(1, WaitOneWithMessageLoop(event, 5000));
  }
  ASSERT_TRUE(TakeQuit(&code));
  EXPECT_EQ(9u, code);

  EXPECT_EQ(0, WaitWithMessageLoop(nullptr));  // a failed wait is no signal
  ::CloseHandle(event);
}

// Posts a message to a window every few milliseconds until told to stop
// (or, as a safety net, for a minute).
struct SteadyPoster {
  HWND window = nullptr;
  volatile LONG stop = 0;
  volatile LONG stoppedByItself = 0;
};

unsigned __stdcall PostSteadily(void* arg) {
  auto* p = static_cast<SteadyPoster*>(arg);
  for (int i = 0; i < 6000 && !::InterlockedCompareExchange(&p->stop, 0, 0); ++i) {
    ::PostMessageW(p->window, WM_NULL, 0, 0);
    ::Sleep(10);
  }
  ::InterlockedExchange(&p->stoppedByItself, ::InterlockedCompareExchange(&p->stop, 0, 0) ? 0 : 1);
  return 0;
}

TEST(WaitOneWithMessageLoop, TimeOutCountsFromTheStart) {
  HANDLE never = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(0, WaitOneWithMessageLoop(never, 0));

  // Messages keep arriving all through the wait. A wait that started its
  // time-out again at each message would only end once they stop; this one
  // ends on its own time-out while they still come. No assertion depends
  // on how fast this machine is.
  g_setByWindow = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);  // set by the window, unused
  HWND window = CreateSignallingWindow();
  SteadyPoster poster;
  poster.window = window;
  HANDLE thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, PostSteadily, &poster, 0, nullptr));
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(0, WaitOneWithMessageLoop(never, 300));
  ::InterlockedExchange(&poster.stop, 1);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  EXPECT_EQ(0, poster.stoppedByItself);
  ::DestroyWindow(window);
  ::CloseHandle(g_setByWindow);
  ::CloseHandle(never);
}

// Waiting for one of several handles: the answer names the handle, messages
// are served and WM_QUIT is kept as in the single wait.
TEST(WaitAnyWithMessageLoop, NamesTheSignalledHandleAndKeepsQuit) {
  g_setByWindow = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE never = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND window = CreateSignallingWindow();
  ASSERT_NE(nullptr, window);
  const HANDLE handles[2] = {never, g_setByWindow};
  ::PostQuitMessage(3);
  Delayed post{50, nullptr, window, WM_APP};
  {
    DelayedThread poster(post);
    EXPECT_EQ(2, WaitAnyWithMessageLoop(2, handles));
  }
  WPARAM code = 0;
  ASSERT_TRUE(TakeQuit(&code));
  EXPECT_EQ(3u, code);
  ::SetEvent(never);
  EXPECT_EQ(1, WaitAnyWithMessageLoop(2, handles));
  EXPECT_EQ(0, WaitAnyWithMessageLoop(0, handles));
  ::DestroyWindow(window);
  ::CloseHandle(never);
  ::CloseHandle(g_setByWindow);
}

}  // namespace
