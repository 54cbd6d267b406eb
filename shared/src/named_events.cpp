#include "shared/named_events.h"

#include <cstdio>

namespace shared {

void FormatDeviceOwnershipEventName(char (&name)[kDeviceOwnershipEventNameSize], uint16_t serial) {
  std::snprintf(name, sizeof name, kDeviceOwnershipEventFormat, static_cast<unsigned>(serial));
}

std::string DeviceOwnershipEventName(uint16_t serial) {
  char name[kDeviceOwnershipEventNameSize];
  FormatDeviceOwnershipEventName(name, serial);
  return name;
}

}  // namespace shared
