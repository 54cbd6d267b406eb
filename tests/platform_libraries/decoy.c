/* A DLL named like a platform library but without its entry points: loaded
   in the platform library's place, it makes every lookup fail. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
