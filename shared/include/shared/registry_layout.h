// Where the adapter configuration lives in the registry.
//
// pnpsvc writes these keys; modemapi and adaptercfg read them. All of them lie
// under HKLM in the 32-bit registry view. Every open or create of these keys,
// by any deliverable and in either build (i686 or x86_64), ORs kRegistryView
// into its access mask: a 32-bit process on 32-bit or 64-bit Windows sees its
// own view unchanged, and the 64-bit service and the x86_64 test builds of the
// readers are redirected to the same Wow6432Node keys. So writer and readers
// always meet, under Windows and under Wine alike.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace shared {

// OR this into the access mask of every RegOpenKeyExA/RegCreateKeyExA below.
constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;

// Parent of both keys; pnpsvc creates it non-volatile when missing.
constexpr const char kAdapterRootKeyPath[] = "Software\\VELTRA\\evHRT USB";

// ConfigKey: one subkey per device number, named by the number in decimal
// ("0" .. "255"). Numbers stay contiguous from "0": readers that walk the
// subkeys stop at the first missing number.
constexpr const char kConfigKeyPath[] = "Software\\VELTRA\\evHRT USB\\Config";

// EnumKey: volatile; one REG_DWORD value per attached adapter, named by the
// adapter's device-interface path, data = the adapter's serial.
constexpr const char kEnumKeyPath[] = "Software\\VELTRA\\evHRT USB\\Enum";
constexpr const char kEnumSubkeyName[] = "Enum";  // relative to kAdapterRootKeyPath

// Values of a device-number key.
constexpr const char kUsbIdValueName[] = "USB-Id";          // REG_DWORD, serial (low 16 bits)
constexpr const char kSerialPortValueName[] = "SerialPort"; // REG_DWORD, COM port number, 0 = none

constexpr int kDeviceNumberCount = 256;  // device numbers 0 .. 255

// Subkey name of a device number under ConfigKey: the number in decimal.
std::string DeviceNumberKeyName(uint8_t deviceNumber);

// The device number a subkey name stands for: exactly what
// DeviceNumberKeyName prints for 0 .. 255 ("7", never "07", "+7" or "7 ").
bool ParseDeviceNumberKeyName(const std::string& name, uint8_t* deviceNumber);

}  // namespace shared
