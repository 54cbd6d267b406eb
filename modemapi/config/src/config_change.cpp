// vtHART_SetDriverConfiguration: the library never writes the registry; it
// asks the service over its pipe to delete, re-create and fill the device
// number's key.
#include <string>

#include "modemapi/adapter_registry.h"
#include "shared/registry_layout.h"
#include "shared/service_pipe.h"

namespace modemapi {

namespace {

bool PipeDeleteKey(const std::string& key) {
  return shared::SendServicePipeRequest(shared::BuildDeleteKeyRequest(key));
}

bool PipeCreateKey(const std::string& key) {
  return shared::SendServicePipeRequest(shared::BuildCreateKeyRequest(key));
}

bool PipeSetValue(const std::string& key, const char* name, int32_t type, const void* data,
                  uint32_t length) {
  return shared::SendServicePipeRequest(
      shared::BuildSetValueRequest(key, name, type, data, length));
}

uint8_t SetDriverConfiguration(uint8_t deviceNumber, const uint8_t* configuration) {
  if (!configuration) return shared::kStatusInvalidArgument;
  const shared::DriverConfigChange change = shared::UnpackDriverConfigChange(configuration);
  if (change.action == shared::kConfigActionBind) {
    if (change.serial > 0xFFFF) return shared::kStatusInvalidArgument;
  } else if (change.action != shared::kConfigActionUnbind) {
    return shared::kStatusInvalidArgument;
  }

  uint8_t current[shared::kDeviceRowSize];
  const uint8_t status = vtHART_GetDriverConfiguration(deviceNumber, current);
  if (status != shared::kStatusOk) return status;
  if (shared::UnpackDeviceRow(current).inUse) return shared::kStatusInUse;

  if (GetOsClass() != 3) return shared::kStatusIoError;

  const std::string key = shared::DeviceNumberKeyName(deviceNumber);
  if (!PipeDeleteKey(key)) return shared::kStatusIoError;
  // Device numbers stay contiguous: every lower number exists as a key.
  for (unsigned number = 0; number <= deviceNumber; ++number) {
    PipeCreateKey(shared::DeviceNumberKeyName(static_cast<uint8_t>(number)));
  }
  if (change.action == shared::kConfigActionBind) {
    uint8_t serial[4];
    for (int i = 0; i < 4; ++i) serial[i] = static_cast<uint8_t>(change.serial >> (8 * i));
    if (!PipeSetValue(key, shared::kUsbIdValueName, REG_DWORD, serial, sizeof serial)) {
      return shared::kStatusIoError;
    }
  }
  return shared::kStatusOk;
}

}  // namespace

}  // namespace modemapi

extern "C" uint8_t __cdecl vtHART_SetDriverConfiguration(uint8_t deviceNumber,
                                                         const uint8_t* configuration) {
  // The requests are built in vectors; no allocation failure may leave an export.
  try {
    return modemapi::SetDriverConfiguration(deviceNumber, configuration);
  } catch (...) {
    return shared::kStatusIoError;
  }
}
