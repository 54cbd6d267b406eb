#include "test_support.h"

#include <mutex>

#include "shared/registry_layout.h"
#include "trace.h"

namespace pnpsvc_test {
namespace {

std::mutex g_lock;
std::vector<std::pair<std::string, std::string>> g_events;
std::vector<std::string> g_trace;

void OnEvent(const std::string& first, const std::string& second) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_events.emplace_back(first, second);
}

void OnTrace(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_trace.push_back(line);
}

void SnapshotKey(HKEY key, const std::string& path, std::vector<std::string>& out) {
  for (DWORD i = 0;; ++i) {
    char name[16384];
    BYTE data[4096];
    DWORD nameSize = sizeof(name), dataSize = sizeof(data), type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    std::string line = path + " : " + name + " = " + std::to_string(type) + ":";
    for (DWORD b = 0; b < dataSize; ++b) line += std::to_string(data[b]) + ",";
    out.push_back(line);
  }
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD nameSize = sizeof(name);
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    out.push_back(path + "\\" + name);
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      SnapshotKey(sub, path + "\\" + name, out);
      RegCloseKey(sub);
    }
  }
}

}  // namespace

void ClearAdapterRegistry() {
  HKEY root = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kAdapterRootKeyPath, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &root) ==
      ERROR_SUCCESS) {
    RegDeleteTreeA(root, nullptr);
    RegCloseKey(root);
  }
}

void SetSlot(int number, uint32_t serial, uint32_t port) {
  std::string path = std::string(shared::kConfigKeyPath) + "\\" + std::to_string(number);
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key,
                  nullptr);
  DWORD s = serial, p = port;
  RegSetValueExA(key, shared::kUsbIdValueName, 0, REG_DWORD, reinterpret_cast<BYTE*>(&s), sizeof(s));
  RegSetValueExA(key, shared::kSerialPortValueName, 0, REG_DWORD, reinterpret_cast<BYTE*>(&p), sizeof(p));
  RegCloseKey(key);
}

bool ReadDword(const char* keyPath, const char* name, DWORD* value, REGSAM view) {
  DWORD size = sizeof(*value), type = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_DWORD;
}

bool KeyExists(const char* keyPath, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::map<std::string, DWORD> EnumValues() {
  std::map<std::string, DWORD> values;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kEnumKeyPath, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
    return values;
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD nameSize = sizeof(name), data = 0, dataSize = sizeof(data), type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(&data), &dataSize) !=
        ERROR_SUCCESS)
      break;
    values[name] = data;
  }
  RegCloseKey(key);
  return values;
}

void SetEnumValue(const std::string& path, DWORD serial) {
  HKEY root = nullptr, key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, shared::kAdapterRootKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                  nullptr, &root, nullptr);
  RegCreateKeyExA(root, shared::kEnumSubkeyName, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                  nullptr, &key, nullptr);
  RegCloseKey(root);
  RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&serial), sizeof(serial));
  RegCloseKey(key);
}

std::vector<std::string> Snapshot(const char* keyPath, REGSAM view) {
  std::vector<std::string> out;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return out;
  SnapshotKey(key, keyPath, out);
  RegCloseKey(key);
  return out;
}

void Recorder::Install() {
  pnpsvc::SetEventLogObserver(OnEvent);
  pnpsvc::SetTraceObserver(OnTrace);
}

void Recorder::Clear() {
  std::lock_guard<std::mutex> lock(g_lock);
  g_events.clear();
  g_trace.clear();
}

std::vector<std::pair<std::string, std::string>> Recorder::EventLog() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_events;
}

std::vector<std::string> Recorder::TraceLines() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_trace;
}

PulseWatch::PulseWatch(HANDLE event)
    : event_(event), waiting_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  if (!waiting_) return;
  thread_.reset(CreateThread(nullptr, 0, &PulseWatch::Watch, this, 0, nullptr));
  // Either the thread waits, or its wait failed and it has ended.
  const HANDLE started[2] = {waiting_.get(), thread_.get()};
  if (thread_) WaitForMultipleObjects(2, started, FALSE, INFINITE);
}

PulseWatch::~PulseWatch() { Seen(); }

DWORD WINAPI PulseWatch::Watch(void* self) {
  auto* watch = static_cast<PulseWatch*>(self);
  watch->result_ = SignalObjectAndWait(watch->waiting_.get(), watch->event_, 10000, FALSE);
  return 0;
}

bool PulseWatch::Seen() {
  if (thread_) {
    WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
  }
  return result_ == WAIT_OBJECT_0;
}

}  // namespace pnpsvc_test
