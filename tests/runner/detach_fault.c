/* A DLL that faults while it is unloaded at the process's exit. */
#include <windows.h>

static int* volatile g_nowhere = 0;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  if (reason == DLL_PROCESS_DETACH && reserved) *g_nowhere = 1; /* at exit only */
  return TRUE;
}
