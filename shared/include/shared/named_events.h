// The two named events that cross deliverables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace shared {

// DeviceOwnershipEvent: auto-reset, created signalled by whoever comes first.
// A process owns the adapter while it holds the event waited down, and gives
// it back by setting it and closing its handle. The serial is printed as four
// upper-case hexadecimal digits.
constexpr const char kDeviceOwnershipEventFormat[] = "VELTRA/evHRTusb/DeviceID%04X";

// How long a claim or a probe waits for the ownership event.
constexpr unsigned kOwnershipWaitMs = 100;

// ServicePnpEvent: manual-reset, created non-signalled by pnpsvc at start and
// pulsed after every adapter arrival and removal it records. Clients open it
// with SYNCHRONIZE access only.
//
// The service runs in session 0 and desktop programs in sessions of their
// own, where a plain name means a different object. So the service creates
// the event in the global namespace, and clients open the global name first
// and the plain name (a service that made it in their own session) second.
constexpr const char kServicePnpEventName[] = "VELTRA/evHRTusb/evHRTusbSrvPnP";
constexpr const char kServicePnpEventGlobalName[] = "Global\\VELTRA/evHRTusb/evHRTusbSrvPnP";

// "VELTRA/evHRTusb/DeviceID1A2B" for serial 0x1A2B.
std::string DeviceOwnershipEventName(uint16_t serial);

// The same into a caller's buffer, without allocating (for code that must
// not throw).
constexpr size_t kDeviceOwnershipEventNameSize = 32;
void FormatDeviceOwnershipEventName(char (&name)[kDeviceOwnershipEventNameSize], uint16_t serial);

}  // namespace shared
