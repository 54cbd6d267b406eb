// Library entry: the slot locks exist from the attach to a process to the
// detach. Nothing else starts at load; thread attach and detach do nothing.
#include <windows.h>

#include "device_slots.h"
#include "win32/callback_guard.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  return win32::guard(FALSE, [&] {
    switch (reason) {
      case DLL_PROCESS_ATTACH:
        modemapi::CreateSlots();
        break;
      case DLL_PROCESS_DETACH:
        modemapi::DeleteSlots();
        break;
      default:
        break;
    }
    return TRUE;
  });
}
