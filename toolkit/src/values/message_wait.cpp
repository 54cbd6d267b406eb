#include "toolkit/values/message_wait.h"

namespace {

// 1 + the index of the first signalled handle, 0 when none is.
int FirstSignalled(DWORD count, const HANDLE* handles) {
  const DWORD which = ::WaitForMultipleObjects(count, handles, FALSE, 0);
  return which < WAIT_OBJECT_0 + count ? static_cast<int>(which - WAIT_OBJECT_0) + 1 : 0;
}

// Remembers a WM_QUIT taken from the queue and posts it again when the wait
// ends, wherever it ends.
class QuitKeeper {
 public:
  ~QuitKeeper() {
    if (seen_) ::PostQuitMessage(exitCode_);
  }
  // True when msg is WM_QUIT, which must not be dispatched.
  bool Keep(const MSG& msg) {
    if (msg.message != WM_QUIT) return false;
    seen_ = true;
    exitCode_ = static_cast<int>(msg.wParam);
    return true;
  }

 private:
  bool seen_ = false;
  int exitCode_ = 0;
};

// Dispatches what is in the queue, each message with the character set of its
// window. Peek, not Get: a message seen by the first peek may be gone by the
// time it is taken (sent messages are handled inside the peek), and a wait
// must never block outside MsgWaitForMultipleObjectsEx. Answers as soon as a
// handle is signalled: 1 + its index (0: none was).
int DispatchQueued(DWORD count, const HANDLE* handles, QuitKeeper& quit) {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    const bool unicode = msg.hwnd && ::IsWindowUnicode(msg.hwnd);
    const BOOL taken = unicode ? ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)
                               : ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    if (taken && !quit.Keep(msg)) {
      ::TranslateMessage(&msg);
      if (unicode)
        ::DispatchMessageW(&msg);
      else
        ::DispatchMessageA(&msg);
    }
    if (const int signalled = FirstSignalled(count, handles)) return signalled;
  }
  return 0;
}

// Waits at most milliseconds (INFINITE: no limit) in total for any of the
// handles or for input, dispatching what arrives. MWMO_INPUTAVAILABLE: a
// message that a nested loop inside a dispatched call has already looked
// at, but left in the queue, still ends the wait, instead of sleeping until
// the time-out. 1 + the index of a signalled handle, 0 on time-out or
// failure.
int WaitForAnyOrInput(DWORD count, const HANDLE* handles, DWORD milliseconds) {
  QuitKeeper quit;
  const DWORD start = ::GetTickCount();
  DWORD remaining = milliseconds;
  for (;;) {
    const DWORD result =
        ::MsgWaitForMultipleObjectsEx(count, handles, remaining, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0) + 1;
    if (result != WAIT_OBJECT_0 + count) return 0;
    if (const int signalled = DispatchQueued(count, handles, quit)) return signalled;
    if (milliseconds != INFINITE) {
      // The time-out counts from the start, not from the last message.
      const DWORD elapsed = ::GetTickCount() - start;
      if (elapsed >= milliseconds) return 0;
      remaining = milliseconds - elapsed;
    }
  }
}

}  // namespace

int WaitWithMessageLoop(HANDLE handle) { return WaitForAnyOrInput(1, &handle, INFINITE); }

int WaitOneWithMessageLoop(HANDLE handle, DWORD milliseconds) {
  return WaitForAnyOrInput(1, &handle, milliseconds);
}

int WaitAnyWithMessageLoop(DWORD count, const HANDLE* handles) {
  if (!handles || count == 0 || count >= MAXIMUM_WAIT_OBJECTS) return 0;
  return WaitForAnyOrInput(count, handles, INFINITE);
}
