// DeviceOwnershipEvent: an auto-reset event per adapter serial. Whoever holds
// it waited down owns the adapter; it is given back by setting it.
#include "modemapi/adapter_registry.h"
#include "shared/named_events.h"

namespace modemapi {

namespace {

// Creates or opens the serial's event, signalled when it is new.
HANDLE OpenOwnershipEvent(uint16_t serial) {
  char name[shared::kDeviceOwnershipEventNameSize];
  shared::FormatDeviceOwnershipEventName(name, serial);
  return ::CreateEventA(nullptr, FALSE, TRUE, name);
}

}  // namespace

uint8_t ClaimDeviceEvent(uint16_t serial, win32::UniqueHandle& owned) {
  win32::UniqueHandle event(OpenOwnershipEvent(serial));
  if (!event) return shared::kStatusIoError;
  switch (::WaitForSingleObject(event.get(), shared::kOwnershipWaitMs)) {
    case WAIT_OBJECT_0:
      owned = std::move(event);
      return shared::kStatusOk;
    case WAIT_TIMEOUT:
      return shared::kStatusInUse;
    default:
      return shared::kStatusIoError;
  }
}

void ReleaseDeviceEvent(win32::UniqueHandle& owned) {
  if (!owned) return;
  ::SetEvent(owned.get());
  owned.reset();
}

bool ProbeDeviceInUse(uint16_t serial) {
  win32::UniqueHandle event(OpenOwnershipEvent(serial));
  if (!event) return false;
  switch (::WaitForSingleObject(event.get(), shared::kOwnershipWaitMs)) {
    case WAIT_OBJECT_0:
      ::SetEvent(event.get());  // the probe takes nothing
      return false;
    case WAIT_TIMEOUT:
      return true;
    default:
      return false;
  }
}

}  // namespace modemapi
