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

bool DispatchQueued(HANDLE handle, QuitKeeper& quit) { return DispatchQueued(1, &handle, quit) != 0; }

// Waits for the handle or for input. MWMO_INPUTAVAILABLE: a message that a
// nested loop inside a dispatched call has already looked at, but left in the
// queue, still ends the wait, instead of sleeping until the time-out.
DWORD WaitForHandleOrInput(HANDLE handle, DWORD milliseconds) {
  return ::MsgWaitForMultipleObjectsEx(1, &handle, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace

int WaitWithMessageLoop(HANDLE handle) {
  QuitKeeper quit;
  for (;;) {
    const DWORD result = WaitForHandleOrInput(handle, INFINITE);
    if (result == WAIT_OBJECT_0) return 1;
    if (result != WAIT_OBJECT_0 + 1) return 0;
    if (DispatchQueued(handle, quit)) return 1;
  }
}

int WaitOneWithMessageLoop(HANDLE handle, DWORD milliseconds) {
  QuitKeeper quit;
  const DWORD start = ::GetTickCount();
  DWORD remaining = milliseconds;
  for (;;) {
    const DWORD result = WaitForHandleOrInput(handle, remaining);
    if (result == WAIT_OBJECT_0) return 1;
    if (result != WAIT_OBJECT_0 + 1) return 0;
    if (DispatchQueued(handle, quit)) return 1;
    if (milliseconds != INFINITE) {
      // The time-out counts from the start, not from the last message.
      const DWORD elapsed = ::GetTickCount() - start;
      if (elapsed >= milliseconds) return 0;
      remaining = milliseconds - elapsed;
    }
  }
}

int WaitAnyWithMessageLoop(DWORD count, const HANDLE* handles) {
  if (!handles || count == 0 || count >= MAXIMUM_WAIT_OBJECTS) return 0;
  QuitKeeper quit;
  for (;;) {
    const DWORD result = ::MsgWaitForMultipleObjectsEx(count, handles, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0) + 1;
    if (result != WAIT_OBJECT_0 + count) return 0;
    if (const int signalled = DispatchQueued(count, handles, quit)) return signalled;
  }
}
