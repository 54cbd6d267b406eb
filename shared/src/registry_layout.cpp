#include "shared/registry_layout.h"

namespace shared {

std::string DeviceNumberKeyName(uint8_t deviceNumber) {
  return std::to_string(static_cast<unsigned>(deviceNumber));
}

bool ParseDeviceNumberKeyName(const std::string& name, uint8_t* deviceNumber) {
  if (name.empty() || name.size() > 3) return false;
  unsigned value = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value >= static_cast<unsigned>(kDeviceNumberCount) || DeviceNumberKeyName(static_cast<uint8_t>(value)) != name)
    return false;
  if (deviceNumber) *deviceNumber = static_cast<uint8_t>(value);
  return true;
}

}  // namespace shared
