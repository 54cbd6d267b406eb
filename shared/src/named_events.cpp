#include "shared/named_events.h"

#include <cstdio>

namespace shared {

std::string DeviceOwnershipEventName(uint16_t serial) {
  char name[64];
  std::snprintf(name, sizeof name, kDeviceOwnershipEventFormat, static_cast<unsigned>(serial));
  return name;
}

}  // namespace shared
