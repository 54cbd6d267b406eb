// Helpers shared by the service's tests: the configuration registry as the
// service and its readers see it, recorders for trace and event log, and a
// watcher of the plug-and-play event's pulses.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "win32/unique_handle.h"

namespace pnpsvc_test {

// Removes the whole adapter configuration (Config and Enum, 32-bit view).
void ClearAdapterRegistry();
// Binds device number `number` to `serial` with COM port `port` (0: none).
void SetSlot(int number, uint32_t serial, uint32_t port);
bool ReadDword(const char* keyPath, const char* name, DWORD* value, REGSAM view = KEY_WOW64_32KEY);
bool KeyExists(const char* keyPath, REGSAM view = KEY_WOW64_32KEY);
// Values of EnumKey: path -> serial.
std::map<std::string, DWORD> EnumValues();
void SetEnumValue(const std::string& path, DWORD serial);

// Every key and value below `keyPath` (HKLM, the given view) as text lines,
// for before/after comparisons.
std::vector<std::string> Snapshot(const char* keyPath, REGSAM view = KEY_WOW64_32KEY);

// What the service reported to the event log and wrote to the trace since
// the last Clear (installed as the service's observers).
struct Recorder {
  static void Install();
  static void Clear();
  static std::vector<std::pair<std::string, std::string>> EventLog();
  static std::vector<std::string> TraceLines();
};

// Watches a manual-reset event for one pulse. A pulse releases only threads
// that wait at that moment, so the watcher's thread must be known to wait
// before anything pulses: it signals its start and enters its wait in one
// call (SignalObjectAndWait; Wine's server queues the wait before it
// signals, in one request), and the constructor returns after that signal.
class PulseWatch {
 public:
  explicit PulseWatch(HANDLE event);
  PulseWatch(const PulseWatch&) = delete;
  PulseWatch& operator=(const PulseWatch&) = delete;
  ~PulseWatch();
  // Whether the event was pulsed (or set) since the watch began; ends the
  // watch (waiting up to ten seconds for a pulse still to come).
  bool Seen();

 private:
  static DWORD WINAPI Watch(void* self);
  HANDLE event_;
  win32::UniqueHandle waiting_;
  win32::UniqueHandle thread_;
  DWORD result_ = WAIT_FAILED;
};

}  // namespace pnpsvc_test
