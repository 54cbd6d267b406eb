#include "adapter_presence.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "shared/adapter_interface.h"
#include "win32/unique_handle.h"

namespace adapter_presence {
namespace {

// The interface's key under DeviceClasses: "##?#" + the path after "\\?\" + "\#".
std::string InterfaceKeyPath(const std::string& interfacePath) {
  return std::string("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\") + shared::kAdapterInterfaceGuidText +
         "\\##?#" + interfacePath.substr(4) + "\\#";
}

std::wstring DosDevicesFolder() {
  wchar_t prefix[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
  std::wstring unixPath;
  if (n > 0 && n < MAX_PATH) {
    unixPath = prefix;
  } else {
    wchar_t home[MAX_PATH] = {};
    GetEnvironmentVariableW(L"HOME", home, MAX_PATH);
    unixPath = std::wstring(home) + L"/.wine";
  }
  std::replace(unixPath.begin(), unixPath.end(), L'/', L'\\');
  return L"Z:" + unixPath + L"\\dosdevices";
}

}  // namespace

bool RegisterPresentAdapter(const std::string& name, PresentAdapter* adapter) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&shared::AdapterInterfaceGuid, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  std::string instance = "USB\\VID_FFFF&PID_0001\\" + name;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  bool ok = SetupDiCreateDeviceInfoA(set, instance.c_str(), &shared::AdapterInterfaceGuid, nullptr, nullptr, 0,
                                     &device) &&
            SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
  if (!ok)  // registered by an earlier run in this prefix
    ok = SetupDiOpenDeviceInfoA(set, instance.c_str(), nullptr, 0, &device);
  SP_DEVICE_INTERFACE_DATA iface = {};
  iface.cbSize = sizeof(iface);
  ok = ok && SetupDiCreateDeviceInterfaceA(set, &device, &shared::AdapterInterfaceGuid, nullptr, 0, &iface);
  std::string path;
  if (ok) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &size, nullptr);
    std::vector<BYTE> buffer(size + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(*detail);
    ok = SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, static_cast<DWORD>(buffer.size()), nullptr, nullptr);
    if (ok) path = detail->DevicePath;
  }
  SetupDiDestroyDeviceInfoList(set);
  if (!ok || path.size() < 5) return false;
  if (!SetAdapterLinked(path, true)) return false;

  std::string name8 = path.substr(4);
  std::transform(name8.begin(), name8.end(), name8.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  adapter->interfacePath = path;
  adapter->deviceFile = DosDevicesFolder() + L"\\" + std::wstring(name8.begin(), name8.end());
  return true;
}

bool SetAdapterLinked(const std::string& interfacePath, bool linked) {
  if (interfacePath.size() < 5) return false;
  std::string key = InterfaceKeyPath(interfacePath) + "\\Control";
  win32::UniqueRegKey control;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, control.put(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  DWORD value = linked ? 1 : 0;
  LONG rc =
      RegSetValueExA(control.get(), "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  return rc == ERROR_SUCCESS;
}

}  // namespace adapter_presence
