// Reading the configuration of a device number (ConfigKey) and the attached
// adapters' paths (EnumKey); vtHART_GetDriverConfiguration.
#include "modemapi/adapter_registry.h"
#include "registry_access.h"
#include "shared/registry_layout.h"
#include "win32/callback_guard.h"

namespace modemapi {

LSTATUS OpenConfigurationKey(const char* path, win32::UniqueRegKey& key) {
  return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | shared::kRegistryView,
                         key.put());
}

uint8_t ReadSlotConfiguration(uint8_t deviceNumber, uint8_t row[shared::kDeviceRowSize]) {
  const shared::DeviceRow unconfigured;
  win32::UniqueRegKey config;
  LSTATUS status = OpenConfigurationKey(shared::kConfigKeyPath, config);
  if (IsMissing(status)) {
    shared::PackDeviceRow(unconfigured, row);
    return shared::kStatusOk;
  }
  if (status != ERROR_SUCCESS) return shared::kStatusIoError;

  win32::UniqueRegKey slot;
  status = ::RegOpenKeyExA(config.get(), shared::DeviceNumberKeyName(deviceNumber).c_str(), 0,
                           KEY_QUERY_VALUE | shared::kRegistryView, slot.put());
  if (IsMissing(status)) {
    shared::PackDeviceRow(unconfigured, row);
    return shared::kStatusOk;
  }
  if (status != ERROR_SUCCESS) return shared::kStatusIoError;

  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  status = ::RegQueryValueExA(slot.get(), shared::kUsbIdValueName, nullptr, &type,
                              reinterpret_cast<BYTE*>(&value), &size);
  // A value larger than a DWORD cannot be a REG_DWORD: unconfigured like any
  // other type.
  if (IsMissing(status) || status == ERROR_MORE_DATA ||
      (status == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value))) {
    shared::PackDeviceRow(unconfigured, row);
    return shared::kStatusOk;
  }
  if (status != ERROR_SUCCESS) return shared::kStatusIoError;

  shared::DeviceRow configured;
  configured.kind = shared::kDeviceRowConfigured;
  configured.serial = value & 0xFFFF;
  shared::PackDeviceRow(configured, row);
  return shared::kStatusOk;
}

bool FindDevicePathBySerial(char* name, DWORD nameSize, uint16_t serial) {
  if (!name || nameSize == 0) return false;
  win32::UniqueRegKey enumKey;
  if (OpenConfigurationKey(shared::kEnumKeyPath, enumKey) != ERROR_SUCCESS) return false;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = nameSize;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegEnumValueA(enumKey.get(), index, name, &nameLength, nullptr, &type,
                        reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
      name[0] = '\0';
      return false;
    }
    if (type == REG_DWORD && size == sizeof value && value == serial) return true;
  }
}

}  // namespace modemapi

extern "C" uint8_t __cdecl vtHART_GetDriverConfiguration(uint8_t deviceNumber, uint8_t* row) {
  return win32::guard(uint8_t{shared::kStatusIoError}, [&]() -> uint8_t {
    if (!row) return shared::kStatusInvalidArgument;
    uint8_t status = modemapi::ReadSlotConfiguration(deviceNumber, row);
    if (status != shared::kStatusOk) return status;

    shared::DeviceRow result = shared::UnpackDeviceRow(row);
    if (result.kind != shared::kDeviceRowConfigured) return shared::kStatusOk;

    char path[modemapi::kDevicePathBufferSize];
    if (modemapi::FindDevicePathBySerial(path, sizeof path, static_cast<uint16_t>(result.serial))) {
      result.attached = 1;
      // Whoever has the adapter open holds its path without sharing.
      win32::UniqueFile probe(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
      result.inUse = probe ? 0 : 1;
    }
    shared::PackDeviceRow(result, row);
    return shared::kStatusOk;
  });
}
