// Test-side access to the state of the msports double (see README.md).
#pragma once

#include <windows.h>

#include <string>

#include "win32/unique_handle.h"

namespace msports_double {

constexpr const char kStateKey[] = "Software\\TestDoubles\\msports";
constexpr int kPortCount = 256;

// The state key, created if missing; the caller owns (and closes) it.
inline HKEY OpenState() {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kStateKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                  nullptr);
  return key;
}

// Empty database of `maxPorts` ports, empty log, no faults.
inline void Reset(DWORD maxPorts = kPortCount) {
  win32::UniqueRegKey key(OpenState());
  if (!key) return;
  BYTE bits[kPortCount / 8] = {};
  RegSetValueExA(key.get(), "Bits", 0, REG_BINARY, bits, sizeof(bits));
  RegSetValueExA(key.get(), "MaxPorts", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&maxPorts), sizeof(maxPorts));
  RegSetValueExA(key.get(), "Log", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  DWORD zero = 0;
  RegSetValueExA(key.get(), "FailOpen", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
}

inline bool IsClaimed(int port) {
  win32::UniqueRegKey key(OpenState());
  BYTE bits[kPortCount / 8] = {};
  DWORD size = sizeof(bits);
  RegQueryValueExA(key.get(), "Bits", nullptr, nullptr, bits, &size);
  return port >= 1 && port <= kPortCount && ((bits[(port - 1) / 8] >> ((port - 1) % 8)) & 1);
}

inline void SetClaimed(int port, bool claimed) {
  win32::UniqueRegKey key(OpenState());
  BYTE bits[kPortCount / 8] = {};
  DWORD size = sizeof(bits);
  RegQueryValueExA(key.get(), "Bits", nullptr, nullptr, bits, &size);
  BYTE mask = static_cast<BYTE>(1u << ((port - 1) % 8));
  if (claimed)
    bits[(port - 1) / 8] |= mask;
  else
    bits[(port - 1) / 8] &= static_cast<BYTE>(~mask);
  RegSetValueExA(key.get(), "Bits", 0, REG_BINARY, bits, sizeof(bits));
}

inline void SetFailOpen(bool fail) {
  win32::UniqueRegKey key(OpenState());
  DWORD value = fail ? 1 : 0;
  RegSetValueExA(key.get(), "FailOpen", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

inline std::string Log() {
  win32::UniqueRegKey key(OpenState());
  char text[8192] = {};
  DWORD size = sizeof(text) - 1;
  RegQueryValueExA(key.get(), "Log", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
  return text;
}

}  // namespace msports_double
