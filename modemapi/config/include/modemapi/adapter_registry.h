// Configured and attached adapters, configuration change through the
// service, adapter ownership and the plug-and-play relay.
//
// Static library `modemapi_config`, linked into modemapi.dll by the library's
// core (modemapi/). The core uses the functions in namespace modemapi below
// (opening a device number reads its slot, finds the adapter's path under
// EnumKey and claims the adapter's ownership event); it also writes the
// export table (.def) and the stdcall vtHARTvb_ twins, which forward to the
// four cdecl exports declared at the end, defined here.
//
// Registry access: HKLM, query access, 32-bit view (shared::kRegistryView) in
// both builds, so the x86_64 test build reads what the 64-bit service writes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "shared/device_row.h"
#include "shared/status_codes.h"
#include "win32/unique_handle.h"

namespace modemapi {

// Size of the buffer for a device-interface path read from EnumKey.
constexpr DWORD kDevicePathBufferSize = 5000;

// Reads ConfigKey\<deviceNumber>\"USB-Id" into a 7-byte row: {1, serial, 0, 0}
// when configured, 7 zero bytes when the key or value is missing or the value
// is not a REG_DWORD (status 0). Any other registry error answers 3 and leaves
// the row untouched.
uint8_t ReadSlotConfiguration(uint8_t deviceNumber, uint8_t row[shared::kDeviceRowSize]);

// Looks for a REG_DWORD value under EnumKey whose data equals the serial and
// copies its name (the adapter's device-interface path) into `name`. False
// when EnumKey is missing, the serial is not listed, or the first enumeration
// error (no more values, name longer than nameSize, data longer than 4 bytes)
// is met before it.
bool FindDevicePathBySerial(char* name, DWORD nameSize, uint16_t serial);

// Takes the adapter's DeviceOwnershipEvent (creating it signalled when it does
// not exist yet), waiting up to 100 ms. 0: taken, `owned` holds the event;
// 15: another holder has it; 3: the event cannot be made or the wait failed.
uint8_t ClaimDeviceEvent(uint16_t serial, win32::UniqueHandle& owned);

// Gives the adapter back: sets the event and closes the handle.
void ReleaseDeviceEvent(win32::UniqueHandle& owned);

// True when another holder has the adapter's DeviceOwnershipEvent; takes
// nothing (a free event is set again at once).
bool ProbeDeviceInUse(uint16_t serial);

// Operating-system class from GetVersionExA: 1 NT 3.51, 2 NT 4.0, 3 NT above
// 4, 4 Windows 95, 5 Windows 98/ME, 6 Win32s, 0 anything else or failure.
int GetOsClass();

}  // namespace modemapi

// Exports, cdecl. Rows are 7 bytes (shared/device_row.h); the configuration
// is 5 bytes (uint8 action, uint32 serial). A null out-pointer answers 4.
extern "C" {
uint8_t __cdecl vtHART_GetDriverConfiguration(uint8_t deviceNumber, uint8_t* row);
uint8_t __cdecl vtHART_SetDriverConfiguration(uint8_t deviceNumber, const uint8_t* configuration);
uint8_t __cdecl vtHART_AttachedDevices(uint8_t flags, uint8_t* row);
uint8_t __cdecl vtHART_NotifyPnP(HANDLE callerEvent, uint8_t mode);
}
