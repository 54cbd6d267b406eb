// The device exports: opening by device number or adapter name, closing,
// and the per-device operations that go straight to the slot's device.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "device_slots.h"
#include "modemapi/adapter_registry.h"
#include "modemapi/modemapi.h"
#include "shared/device_row.h"
#include "shared/status_codes.h"
#include "win32/callback_guard.h"
#include "winusb_modem_device.h"

using namespace shared;
using modemapi::ModemDevice;
using modemapi::Slots;
using modemapi::WinUsbModemDevice;

namespace {

// Name prefix of an adapter in vtHART_DynamicInit, followed by its serial in
// upper-case hexadecimal without leading zeros.
constexpr char kAdapterNamePrefix[] = "evHRT USB: ";
constexpr size_t kAdapterNamePrefixLength = sizeof kAdapterNamePrefix - 1;  // 11

// Null when the object cannot be made whole (memory, events, mutex): the
// open then fails with 1 instead of running without its kernel objects.
std::unique_ptr<ModemDevice> MakeDevice(uint8_t deviceNumber, uint16_t serial) {
  return win32::guard(std::unique_ptr<ModemDevice>(), [&] {
    std::unique_ptr<ModemDevice> device(new (std::nothrow) WinUsbModemDevice(deviceNumber, serial));
    if (device && !device->kernelObjectsCreated()) device.reset();
    return device;
  });
}

// The serial bound to the device number under ConfigKey; false when the
// number is not configured or the configuration cannot be read.
bool ConfiguredSerial(uint8_t deviceNumber, uint16_t* serial) {
  uint8_t row[kDeviceRowSize] = {};
  if (modemapi::ReadSlotConfiguration(deviceNumber, row) != kStatusOk) return false;
  const DeviceRow parsed = UnpackDeviceRow(row);
  if (parsed.kind != kDeviceRowConfigured) return false;
  *serial = static_cast<uint16_t>(parsed.serial);
  return true;
}

// Opens and initialises the device just stored in the slot; on failure the
// device is closed, destroyed and the slot emptied.
uint8_t OpenAndInitDevice(uint8_t deviceNumber, uint8_t primaryMaster) {
  ModemDevice* device = Slots().device(deviceNumber);
  if (device == nullptr) return kStatusNotConfigured;  // its allocation failed

  // A step that raises is a failed open: the slot is emptied as for any other.
  const uint8_t status = win32::guard(uint8_t{kStatusNotConfigured}, [&] {
    uint8_t result = device->Open();
    if (result == kStatusOk) result = device->Init(primaryMaster);
    return result;
  });
  if (status != kStatusOk) {
    win32::guard([&] { device->Close(); });
    std::unique_ptr<ModemDevice> failed;
    {
      win32::CsLock lock(Slots().lock(deviceNumber));
      failed = Slots().Take(deviceNumber);
    }
  }
  return status;
}

// The serial named by "evHRT USB: <hex>", exactly as it prints again.
bool ParseAdapterName(const char* name, uint16_t* serial) {
  if (std::strncmp(name, kAdapterNamePrefix, kAdapterNamePrefixLength) != 0) return false;
  const char* digits = name + kAdapterNamePrefixLength;
  const unsigned long value = std::strtoul(digits, nullptr, 16);
  char printed[16];
  std::snprintf(printed, sizeof printed, "%lX", value);
  if (std::strcmp(printed, digits) != 0 || value > 0xFFFF) return false;
  *serial = static_cast<uint16_t>(value);
  return true;
}

// Takes the highest empty device number and returns with its lock held.
bool FindFreeSlot(uint8_t* deviceNumber) {
  for (int number = modemapi::kSlotCount - 1; number >= 0; --number) {
    win32::CriticalSection& lock = Slots().lock(static_cast<uint8_t>(number));
    lock.enter();
    if (Slots().device(static_cast<uint8_t>(number)) == nullptr) {
      *deviceNumber = static_cast<uint8_t>(number);
      return true;
    }
    lock.leave();
  }
  return false;
}

// An export's call on the open device `deviceNumber`: kStatusNotOpen
// without one, and kStatusIoError for a call that raised.
template <typename Call>
uint8_t CallOpenDevice(uint8_t deviceNumber, Call&& call) {
  return win32::guard(uint8_t{kStatusIoError}, [&]() -> uint8_t {
    ModemDevice* device = Slots().device(deviceNumber);
    if (device == nullptr) return kStatusNotOpen;
    return call(*device);
  });
}

}  // namespace

extern "C" {

uint8_t __cdecl vtHART_DeviceInit(uint8_t deviceNumber, uint8_t primaryMaster) {
  return win32::guard(uint8_t{kStatusNotConfigured}, [&]() -> uint8_t {
    const uint8_t closed = vtHART_CloseDevice(deviceNumber);
    if (closed != kStatusOk && closed != kStatusNotOpen) return closed;
    {
      win32::CsLock lock(Slots().lock(deviceNumber));
      if (Slots().device(deviceNumber) != nullptr) return kStatusNotConfigured;
      uint16_t serial = 0;
      if (!ConfiguredSerial(deviceNumber, &serial)) return kStatusNotConfigured;
      std::unique_ptr<ModemDevice> device = MakeDevice(deviceNumber, serial);
      if (!device) return kStatusNotConfigured;
      Slots().Store(deviceNumber, std::move(device));
    }
    return OpenAndInitDevice(deviceNumber, primaryMaster);
  });
}

uint8_t __cdecl vtHART_DynamicInit(const char* adapterName, uint8_t* deviceNumber, uint8_t primaryMaster) {
  return win32::guard(uint8_t{kStatusNotConfigured}, [&]() -> uint8_t {
    uint16_t serial = 0;
    if (adapterName == nullptr || deviceNumber == nullptr || !ParseAdapterName(adapterName, &serial)) {
      return kStatusInvalidArgument;
    }
    uint8_t number = 0;
    if (!FindFreeSlot(&number)) return kStatusNoFreeDevice;
    // FindFreeSlot left the slot's lock held until the new device is stored.
    std::unique_ptr<ModemDevice> device = MakeDevice(number, serial);
    if (device) Slots().Store(number, std::move(device));
    Slots().lock(number).leave();

    const uint8_t status = OpenAndInitDevice(number, primaryMaster);
    if (status == kStatusOk) *deviceNumber = number;
    return status;
  });
}

uint8_t __cdecl vtHART_CloseDevice(uint8_t deviceNumber) {
  return win32::guard(uint8_t{kStatusIoError}, [&]() -> uint8_t {
    ModemDevice* device = Slots().device(deviceNumber);
    if (device == nullptr) return kStatusNotOpen;
    const uint8_t status = device->Close();
    if (status != kStatusOk) return status;  // the handler did not stop: the device stays open
    std::unique_ptr<ModemDevice> closed;
    {
      win32::CsLock lock(Slots().lock(deviceNumber));
      closed = Slots().Take(deviceNumber);
    }
    return kStatusOk;  // `closed` is destroyed here, after its I/O thread ended
  });
}

uint8_t __cdecl vtHART_Send(uint8_t deviceNumber, uint8_t preambles, uint8_t length, const uint8_t* frame) {
  return CallOpenDevice(deviceNumber, [&](ModemDevice& device) { return device.Send(preambles, length, frame); });
}

uint8_t __cdecl vtHART_Receive(uint8_t deviceNumber, uint8_t* kind, uint8_t* length, uint8_t* data) {
  return CallOpenDevice(deviceNumber, [&](ModemDevice& device) { return device.Receive(kind, length, data); });
}

uint8_t __cdecl vtHART_SetParam(uint8_t deviceNumber, uint8_t value) {
  return CallOpenDevice(deviceNumber, [&](ModemDevice& device) { return device.SetParam(value); });
}

uint8_t __cdecl vtHART_GetParam(uint8_t deviceNumber, uint8_t* value) {
  return CallOpenDevice(deviceNumber, [&](ModemDevice& device) { return device.GetParam(value); });
}

uint8_t __cdecl vtHART_StartMessageHandler(uint8_t deviceNumber, vtHART_MessageCallback callback, void* user) {
  return CallOpenDevice(deviceNumber,
                        [&](ModemDevice& device) { return device.StartMessageHandler(callback, user); });
}

uint8_t __cdecl vtHART_StopMessageHandler(uint8_t deviceNumber) {
  return CallOpenDevice(deviceNumber, [&](ModemDevice& device) { return device.StopMessageHandler(); });
}

}  // extern "C"
