#include "shared/registry_layout.h"

namespace shared {

std::string DeviceNumberKeyName(uint8_t deviceNumber) {
  return std::to_string(static_cast<unsigned>(deviceNumber));
}

}  // namespace shared
