// A stand-in of modemapi.dll for the binding's and the channel's failure
// paths: the twelve entry points the DTM binds (built once without
// vtHART_NotifyPnP), each answering a scripted status and recording its
// call. Tests load it themselves first and script it through the two
// control exports; the module then stays the same while the DTM binds it.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#define DOUBLE_API extern "C" __declspec(dllexport)

namespace {

struct Script {
  const char* name;
  uint8_t status;
};

Script g_script[] = {
    {"DeviceInit", 0}, {"SetParam", 0}, {"StartMessageHandler", 0}, {"StopMessageHandler", 0},
    {"CloseDevice", 0}, {"Receive", 8}, {"Send", 0}, {"GetParam", 0}, {"GetDriverConfiguration", 0},
    {"SetDriverConfiguration", 0}, {"AttachedDevices", 2}, {"NotifyPnP", 0},
};
std::string g_log;
CRITICAL_SECTION g_lock;

uint8_t Call(const char* name) {
  EnterCriticalSection(&g_lock);
  if (!g_log.empty()) g_log += ' ';
  g_log += name;
  uint8_t status = 0;
  for (const Script& s : g_script) {
    if (std::strcmp(s.name, name) == 0) status = s.status;
  }
  LeaveCriticalSection(&g_lock);
  return status;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&g_lock);
  return TRUE;
}

// The status an entry point answers from now on (by its name without the
// vtHART_ prefix).
DOUBLE_API void ModemDoubleScript(const char* name, uint8_t status) {
  EnterCriticalSection(&g_lock);
  for (Script& s : g_script) {
    if (std::strcmp(s.name, name) == 0) s.status = status;
  }
  LeaveCriticalSection(&g_lock);
}

// The calls so far, blank-separated, then cleared.
DOUBLE_API void ModemDoubleTakeLog(char* buffer, uint32_t capacity) {
  EnterCriticalSection(&g_lock);
  if (capacity) {
    std::strncpy(buffer, g_log.c_str(), capacity - 1);
    buffer[capacity - 1] = 0;
  }
  g_log.clear();
  LeaveCriticalSection(&g_lock);
}

typedef void(__cdecl* Callback)(uint8_t, void*);

DOUBLE_API uint8_t __cdecl vtHART_DeviceInit(uint8_t, uint8_t) { return Call("DeviceInit"); }
DOUBLE_API uint8_t __cdecl vtHART_SetParam(uint8_t, uint8_t) { return Call("SetParam"); }
DOUBLE_API uint8_t __cdecl vtHART_StartMessageHandler(uint8_t, Callback, void*) {
  return Call("StartMessageHandler");
}
DOUBLE_API uint8_t __cdecl vtHART_StopMessageHandler(uint8_t) { return Call("StopMessageHandler"); }
DOUBLE_API uint8_t __cdecl vtHART_CloseDevice(uint8_t) { return Call("CloseDevice"); }
DOUBLE_API uint8_t __cdecl vtHART_Receive(uint8_t, uint8_t*, uint8_t*, uint8_t*) { return Call("Receive"); }
DOUBLE_API uint8_t __cdecl vtHART_Send(uint8_t, uint8_t, uint8_t, const uint8_t*) { return Call("Send"); }
DOUBLE_API uint8_t __cdecl vtHART_GetParam(uint8_t, uint8_t*) { return Call("GetParam"); }
DOUBLE_API uint8_t __cdecl vtHART_GetDriverConfiguration(uint8_t, uint8_t*) {
  return Call("GetDriverConfiguration");
}
DOUBLE_API uint8_t __cdecl vtHART_SetDriverConfiguration(uint8_t, const uint8_t*) {
  return Call("SetDriverConfiguration");
}
DOUBLE_API uint8_t __cdecl vtHART_AttachedDevices(uint8_t, uint8_t*) { return Call("AttachedDevices"); }
#ifndef MODEM_DOUBLE_ELEVEN
DOUBLE_API uint8_t __cdecl vtHART_NotifyPnP(HANDLE, uint8_t) { return Call("NotifyPnP"); }
#endif
