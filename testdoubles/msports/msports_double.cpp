// The msports double: a COM port database whose bitmap lives in the
// registry (see README.md), with a log of every call.
#include <windows.h>

#include <cstdio>
#include <string>

#include "msports_double.h"

namespace {

const HANDLE kDatabase = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x4D53));  // any non-null token

struct State {
  BYTE bits[msports_double::kPortCount / 8] = {};
  DWORD maxPorts = msports_double::kPortCount;
  DWORD failOpen = 0;
};

State Load() {
  State s;
  win32::UniqueRegKey key(msports_double::OpenState());
  DWORD size = sizeof(s.bits);
  RegQueryValueExA(key.get(), "Bits", nullptr, nullptr, s.bits, &size);
  size = sizeof(s.maxPorts);
  RegQueryValueExA(key.get(), "MaxPorts", nullptr, nullptr, reinterpret_cast<BYTE*>(&s.maxPorts), &size);
  size = sizeof(s.failOpen);
  RegQueryValueExA(key.get(), "FailOpen", nullptr, nullptr, reinterpret_cast<BYTE*>(&s.failOpen), &size);
  if (s.maxPorts > msports_double::kPortCount) s.maxPorts = msports_double::kPortCount;
  return s;
}

void SaveBits(const State& s) {
  win32::UniqueRegKey key(msports_double::OpenState());
  RegSetValueExA(key.get(), "Bits", 0, REG_BINARY, s.bits, sizeof(s.bits));
}

void Log(const std::string& line) {
  std::string text = msports_double::Log() + line + "\n";
  win32::UniqueRegKey key(msports_double::OpenState());
  RegSetValueExA(key.get(), "Log", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

}  // namespace

extern "C" {

__declspec(dllexport) LONG WINAPI ComDBOpen(HANDLE* database) {
  Log("open");
  if (!database) return ERROR_INVALID_PARAMETER;
  if (Load().failOpen) {
    *database = INVALID_HANDLE_VALUE;
    return ERROR_ACCESS_DENIED;
  }
  *database = kDatabase;
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI ComDBClose(HANDLE database) {
  Log("close");
  return database == kDatabase ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

// Report type 0: one bit per port; with no buffer, only the size in ports.
__declspec(dllexport) LONG WINAPI ComDBGetCurrentPortUsage(HANDLE database, BYTE* buffer, DWORD bufferSize,
                                                           ULONG reportType, DWORD* maxPortsReported) {
  Log("usage");
  if (database != kDatabase || reportType != 0) return ERROR_INVALID_PARAMETER;
  State s = Load();
  if (!buffer) {
    if (!maxPortsReported) return ERROR_INVALID_PARAMETER;
    *maxPortsReported = s.maxPorts;
    return ERROR_SUCCESS;
  }
  DWORD bytes = (s.maxPorts + 7) / 8;
  if (bufferSize < bytes) bytes = bufferSize;
  memcpy(buffer, s.bits, bytes);
  if (maxPortsReported) *maxPortsReported = bytes * 8;
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI ComDBClaimPort(HANDLE database, DWORD port, BOOL force, BOOL* forced) {
  char line[32];
  snprintf(line, sizeof(line), "claim %lu", static_cast<unsigned long>(port));
  Log(line);
  State s = Load();
  if (database != kDatabase || port < 1 || port > s.maxPorts) return ERROR_INVALID_PARAMETER;
  BYTE mask = static_cast<BYTE>(1u << ((port - 1) % 8));
  bool used = s.bits[(port - 1) / 8] & mask;
  if (forced) *forced = used && force;
  if (used && !force) return ERROR_SHARING_VIOLATION;
  s.bits[(port - 1) / 8] |= mask;
  SaveBits(s);
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI ComDBReleasePort(HANDLE database, DWORD port) {
  char line[32];
  snprintf(line, sizeof(line), "release %lu", static_cast<unsigned long>(port));
  Log(line);
  State s = Load();
  if (database != kDatabase || port < 1 || port > s.maxPorts) return ERROR_INVALID_PARAMETER;
  s.bits[(port - 1) / 8] &= static_cast<BYTE>(~(1u << ((port - 1) % 8)));
  SaveBits(s);
  return ERROR_SUCCESS;
}

}  // extern "C"
