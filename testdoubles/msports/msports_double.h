// Test-side access to the state of the msports double (see README.md).
#pragma once

#include <windows.h>

#include <string>

namespace msports_double {

constexpr const char kStateKey[] = "Software\\TestDoubles\\msports";
constexpr int kPortCount = 256;

inline HKEY OpenState() {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kStateKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                  nullptr);
  return key;
}

// Empty database of `maxPorts` ports, empty log, no faults.
inline void Reset(DWORD maxPorts = kPortCount) {
  HKEY key = OpenState();
  if (!key) return;
  BYTE bits[kPortCount / 8] = {};
  RegSetValueExA(key, "Bits", 0, REG_BINARY, bits, sizeof(bits));
  RegSetValueExA(key, "MaxPorts", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&maxPorts), sizeof(maxPorts));
  RegSetValueExA(key, "Log", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  DWORD zero = 0;
  RegSetValueExA(key, "FailOpen", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
  RegCloseKey(key);
}

inline bool IsClaimed(int port) {
  HKEY key = OpenState();
  BYTE bits[kPortCount / 8] = {};
  DWORD size = sizeof(bits);
  RegQueryValueExA(key, "Bits", nullptr, nullptr, bits, &size);
  RegCloseKey(key);
  return port >= 1 && port <= kPortCount && ((bits[(port - 1) / 8] >> ((port - 1) % 8)) & 1);
}

inline void SetClaimed(int port, bool claimed) {
  HKEY key = OpenState();
  BYTE bits[kPortCount / 8] = {};
  DWORD size = sizeof(bits);
  RegQueryValueExA(key, "Bits", nullptr, nullptr, bits, &size);
  BYTE mask = static_cast<BYTE>(1u << ((port - 1) % 8));
  if (claimed)
    bits[(port - 1) / 8] |= mask;
  else
    bits[(port - 1) / 8] &= static_cast<BYTE>(~mask);
  RegSetValueExA(key, "Bits", 0, REG_BINARY, bits, sizeof(bits));
  RegCloseKey(key);
}

inline void SetFailOpen(bool fail) {
  HKEY key = OpenState();
  DWORD value = fail ? 1 : 0;
  RegSetValueExA(key, "FailOpen", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
}

inline std::string Log() {
  HKEY key = OpenState();
  char text[8192] = {};
  DWORD size = sizeof(text) - 1;
  RegQueryValueExA(key, "Log", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return text;
}

}  // namespace msports_double
