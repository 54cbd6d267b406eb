#include "message_pump.h"

#include <algorithm>

namespace testsupport {

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (done()) return true;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (done()) return true;
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= timeoutMs) return done();
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, (std::min)(DWORD{20}, timeoutMs - elapsed),
                                QS_ALLINPUT);
  }
}

}  // namespace testsupport
