// The 7-byte device row that vtHART_GetDriverConfiguration and
// vtHART_AttachedDevices write into a caller's buffer, and the 5-byte
// configuration argument of vtHART_SetDriverConfiguration. Both are packed
// and little-endian; pack/unpack here so no caller relies on struct layout.
//
//   byte 0     uint8   GetDriverConfiguration: 1 = configured, 0 = not (row all 0)
//                      AttachedDevices: kind, 1 = USB adapter
//   bytes 1-4  uint32  adapter serial (16-bit value, upper bytes 0)
//   byte 5     uint8   1 = attached (listed under EnumKey)
//   byte 6     uint8   1 = in use by another holder
#pragma once

#include <cstddef>
#include <cstdint>

namespace shared {

constexpr size_t kDeviceRowSize = 7;
constexpr uint8_t kDeviceRowConfigured = 1;   // byte 0 of a GetDriverConfiguration row
constexpr uint8_t kDeviceKindUsbAdapter = 1;  // byte 0 of an AttachedDevices row

struct DeviceRow {
  uint8_t kind = 0;  // configured flag or kind, see above
  uint32_t serial = 0;
  uint8_t attached = 0;
  uint8_t inUse = 0;
};

void PackDeviceRow(const DeviceRow& row, uint8_t out[kDeviceRowSize]);
DeviceRow UnpackDeviceRow(const uint8_t in[kDeviceRowSize]);

// Configuration argument of vtHART_SetDriverConfiguration:
//   byte 0 action (0 unbind, 1 bind), bytes 1-4 uint32 serial (bind only, <= 0xFFFF).
constexpr size_t kDriverConfigChangeSize = 5;
constexpr uint8_t kConfigActionUnbind = 0;
constexpr uint8_t kConfigActionBind = 1;

struct DriverConfigChange {
  uint8_t action = kConfigActionUnbind;
  uint32_t serial = 0;
};

void PackDriverConfigChange(const DriverConfigChange& change, uint8_t out[kDriverConfigChangeSize]);
DriverConfigChange UnpackDriverConfigChange(const uint8_t in[kDriverConfigChangeSize]);

}  // namespace shared
