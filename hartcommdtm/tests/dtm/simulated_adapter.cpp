#include "simulated_adapter.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "hart_dtm_fixture.h"
#include "shared/registry_layout.h"
#include "sim/sim_control.h"
#include "win32/unique_handle.h"

namespace hartdtmtest {

namespace {

// The configuration key (in the registry view every deliverable uses) removed.
void RemoveDeviceConfiguration() {
  win32::UniqueRegKey parent;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\VELTRA\\evHRT USB", 0,
                      KEY_ALL_ACCESS | shared::kRegistryView, parent.put()) == ERROR_SUCCESS)
    ::RegDeleteTreeA(parent.get(), "Config");
}

}  // namespace

SimulatedAdapter::SimulatedAdapter() {
  RemoveDeviceConfiguration();
  UseLibrary(L"modemapi_real.dll");
}

SimulatedAdapter::~SimulatedAdapter() {
  RemoveDeviceConfiguration();
  for (uint16_t serial : plugged_) SimRemoveAdapter(serial);
  ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, shared::kEnumKeyPath, shared::kRegistryView, 0);
}

void SimulatedAdapter::UseLibrary(const wchar_t* file) {
  const std::wstring target = ProgramFolder() + L"modemapi.dll";
  ::DeleteFileW(target.c_str());
  if (file) {
    ASSERT_TRUE(::CopyFileW((ProgramFolder() + file).c_str(), target.c_str(), FALSE));
  }
}

void SimulatedAdapter::Bind(int number, uint16_t serial) {
  char temp[MAX_PATH];
  ::GetTempPathA(sizeof temp, temp);
  char name[32];
  std::snprintf(name, sizeof name, "dtm-adapter-%04X", static_cast<unsigned>(serial));
  devicePath_ = std::string(temp) + name;
  ASSERT_TRUE(SimCreateAdapter(std::wstring(devicePath_.begin(), devicePath_.end()).c_str(), serial));
  if (std::find(plugged_.begin(), plugged_.end(), serial) == plugged_.end()) plugged_.push_back(serial);
  {
    win32::UniqueRegKey enumKey;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, shared::kEnumKeyPath, 0, nullptr, 0,
                                               KEY_ALL_ACCESS | shared::kRegistryView, nullptr, enumKey.put(),
                                               nullptr));
    DWORD value = serial;
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(enumKey.get(), devicePath_.c_str(), 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&value), sizeof(value)));
  }
  win32::UniqueRegKey key;
  std::string path = std::string(shared::kConfigKeyPath) + "\\" + std::to_string(number);
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS | shared::kRegistryView, nullptr, key.put(), nullptr));
  DWORD value = serial;
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key.get(), shared::kUsbIdValueName, 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

}  // namespace hartdtmtest
