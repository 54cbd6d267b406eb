#include "installkit_double.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "win32/unique_handle.h"

namespace installkit_double {
namespace {

constexpr const char kPortsKey[] = "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\PORTS";

std::mutex g_lock;
std::vector<std::string> g_commands;
bool g_installFails = false;
std::string g_portName = "COM7";

std::vector<std::string> Split(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::string FirstHardwareId(HKEY ports, const std::string& instance) {
  char buffer[512] = {};
  DWORD size = sizeof(buffer) - 2, type = 0;
  if (RegGetValueA(ports, instance.c_str(), "HardwareID", RRF_RT_REG_MULTI_SZ, &type, buffer, &size) != ERROR_SUCCESS)
    return {};
  return buffer;
}

std::vector<std::string> AllNodes() {
  std::vector<std::string> names;
  win32::UniqueRegKey ports;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ, ports.put()) != ERROR_SUCCESS) return names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof(name);
    if (RegEnumKeyExA(ports.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(name);
  }
  return names;
}

// As the ports class installer does when a node goes: its COM number is
// released in the COM port database.
void ReleasePortOf(const std::string& instance) {
  std::string params = std::string(kPortsKey) + "\\" + instance + "\\Device Parameters";
  char name[64] = {};
  DWORD size = sizeof(name) - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, params.c_str(), "PortName", RRF_RT_REG_SZ, nullptr, name, &size) !=
          ERROR_SUCCESS ||
      _strnicmp(name, "COM", 3) != 0)
    return;
  win32::UniqueModule msports(LoadLibraryA("msports"));
  if (!msports) return;
  using OpenFn = LONG(WINAPI*)(HANDLE*);
  using CloseFn = LONG(WINAPI*)(HANDLE);
  using ReleaseFn = LONG(WINAPI*)(HANDLE, DWORD);
  auto open = reinterpret_cast<OpenFn>(reinterpret_cast<void*>(GetProcAddress(msports.get(), "ComDBOpen")));
  auto close = reinterpret_cast<CloseFn>(reinterpret_cast<void*>(GetProcAddress(msports.get(), "ComDBClose")));
  auto release =
      reinterpret_cast<ReleaseFn>(reinterpret_cast<void*>(GetProcAddress(msports.get(), "ComDBReleasePort")));
  HANDLE db = nullptr;
  if (open && close && release && open(&db) == ERROR_SUCCESS) {
    release(db, static_cast<DWORD>(atoi(name + 3)));
    close(db);
  }
}

void DeleteNode(const std::string& instance) {
  ReleasePortOf(instance);
  win32::UniqueRegKey ports;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_ALL_ACCESS, ports.put()) != ERROR_SUCCESS) return;
  RegDeleteTreeA(ports.get(), instance.c_str());
  RegDeleteKeyA(ports.get(), instance.c_str());
}

bool Install(const std::string& hardwareId) {
  if (g_installFails) return false;
  win32::UniqueRegKey ports;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, ports.put(), nullptr) !=
      ERROR_SUCCESS)
    return false;
  char name[16];
  for (int n = 0;; ++n) {
    snprintf(name, sizeof(name), "%04d", n);
    win32::UniqueRegKey probe;
    if (RegOpenKeyExA(ports.get(), name, 0, KEY_READ, probe.put()) != ERROR_SUCCESS) break;
  }
  win32::UniqueRegKey node, params;
  RegCreateKeyExA(ports.get(), name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, node.put(), nullptr);
  std::string multi = hardwareId + std::string(2, '\0');
  RegSetValueExA(node.get(), "HardwareID", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi.data()),
                 static_cast<DWORD>(multi.size()));
  RegCreateKeyExA(node.get(), "Device Parameters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, params.put(), nullptr);
  if (!g_portName.empty())
    RegSetValueExA(params.get(), "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(g_portName.c_str()),
                   static_cast<DWORD>(g_portName.size() + 1));
  return true;
}

}  // namespace

bool Run(const char* command) {
  std::lock_guard<std::mutex> lock(g_lock);
  std::string text = command ? command : "";
  g_commands.push_back(text);
  std::vector<std::string> words = Split(text);
  if (words.empty()) return false;
  if (words[0] == "install") return words.size() == 3 && Install(words[2]);
  if (words[0] == "restart") return words.size() >= 2;
  if (words[0] == "remove" && words.size() >= 2) {
    for (size_t i = 1; i < words.size(); ++i) {
      const std::string& pattern = words[i];
      const std::string prefix = "@ROOT\\PORTS\\";
      if (pattern.compare(0, prefix.size(), prefix) == 0) {
        DeleteNode(pattern.substr(prefix.size()));
        continue;
      }
      win32::UniqueRegKey ports;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ, ports.put()) != ERROR_SUCCESS) continue;
      std::vector<std::string> doomed;
      for (const std::string& node : AllNodes())
        if (_stricmp(FirstHardwareId(ports.get(), node).c_str(), pattern.c_str()) == 0) doomed.push_back(node);
      ports.reset();  // not held while the nodes under it are deleted
      for (const std::string& node : doomed) DeleteNode(node);
    }
    return true;
  }
  return false;
}

void Reset() {
  std::lock_guard<std::mutex> lock(g_lock);
  g_commands.clear();
  g_installFails = false;
  g_portName = "COM7";
  for (const std::string& node : AllNodes()) DeleteNode(node);
}

std::vector<std::string> Commands() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_commands;
}

void SetInstallFails(bool fails) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_installFails = fails;
}

void SetSystemPortName(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_portName = name;
}

std::vector<std::string> Nodes(const std::string& hardwareId) {
  std::vector<std::string> result;
  win32::UniqueRegKey ports;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ, ports.put()) != ERROR_SUCCESS) return result;
  for (const std::string& node : AllNodes())
    if (FirstHardwareId(ports.get(), node) == hardwareId) result.push_back(node);
  return result;
}

}  // namespace installkit_double
