#include "toolkit/message_wait.h"

namespace {

bool IsSignalled(HANDLE handle) { return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }

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

}  // namespace

int WaitWithMessageLoop(HANDLE handle) {
  QuitKeeper quit;
  for (;;) {
    const DWORD result = ::MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_ALLINPUT,
                                                       MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0) return 1;
    if (result != WAIT_OBJECT_0 + 1) return 0;

    // Each message is taken with the character set of its window. Peek, not
    // Get: a message seen by the first peek may be gone by the time it is
    // taken (sent messages are handled inside the peek), and the wait must
    // never block outside MsgWaitForMultipleObjectsEx.
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
      if (IsSignalled(handle)) return 1;
    }
  }
}

int WaitOneWithMessageLoop(HANDLE handle, DWORD milliseconds) {
  QuitKeeper quit;
  const DWORD start = ::GetTickCount();
  DWORD remaining = milliseconds;
  for (;;) {
    const DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE, remaining, QS_ALLINPUT);
    if (result == WAIT_OBJECT_0) return 1;
    if (result != WAIT_OBJECT_0 + 1) return 0;

    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!quit.Keep(msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
      if (IsSignalled(handle)) return 1;
    }
    if (milliseconds != INFINITE) {
      // The time-out counts from the start, not from the last message.
      const DWORD elapsed = ::GetTickCount() - start;
      if (elapsed >= milliseconds) return 0;
      remaining = milliseconds - elapsed;
    }
  }
}
