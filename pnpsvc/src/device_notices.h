// Adapter arrival and removal notices, carried out one at a time in the
// order they came on a worker thread of the service's own.
//
// The control handler only queues a notice and returns: reading the serial,
// writing EnumKey and installing a virtual COM port (with its waits for the
// new node) must never hold up the service control manager, and a stop must
// never wait behind an install. The work itself still runs under
// ServiceWorkLock(), as the pipe's requests do.
#pragma once

#include <windows.h>

#include <string>

namespace pnpsvc {

struct WinUsbApi;

enum class DeviceNotice { kArrival, kRemoval };

// Starts the worker. Arrivals read serials through `usb`; every notice
// pulses `pnpEvent` (may be null). Both must stay valid until
// StopDeviceNotices returns. False, with nothing running, when the worker's
// thread or event cannot be created.
bool StartDeviceNotices(const WinUsbApi* usb, HANDLE pnpEvent);

// Queues one notice for the interface `path`; false (and dropped) when the
// worker is not running.
bool PostDeviceNotice(DeviceNotice notice, const std::string& path);

// Drops the notices still waiting, lets the one in hand finish and ends the
// worker. Nothing is posted after this until the next start.
void StopDeviceNotices();

// Waits until no notice waits or is in hand; false when `timeoutMs` passed
// first. For tests, which must see the work done before they look at it.
bool WaitDeviceNoticesIdle(DWORD timeoutMs);

}  // namespace pnpsvc
