#include "shared/device_row.h"

namespace shared {

namespace {

void PutLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void PackDeviceRow(const DeviceRow& row, uint8_t out[kDeviceRowSize]) {
  out[0] = row.kind;
  PutLe32(out + 1, row.serial);
  out[5] = row.attached;
  out[6] = row.inUse;
}

DeviceRow UnpackDeviceRow(const uint8_t in[kDeviceRowSize]) {
  DeviceRow row;
  row.kind = in[0];
  row.serial = GetLe32(in + 1);
  row.attached = in[5];
  row.inUse = in[6];
  return row;
}

void PackDriverConfigChange(const DriverConfigChange& change, uint8_t out[kDriverConfigChangeSize]) {
  out[0] = change.action;
  PutLe32(out + 1, change.serial);
}

DriverConfigChange UnpackDriverConfigChange(const uint8_t in[kDriverConfigChangeSize]) {
  DriverConfigChange change;
  change.action = in[0];
  change.serial = GetLe32(in + 1);
  return change;
}

}  // namespace shared
