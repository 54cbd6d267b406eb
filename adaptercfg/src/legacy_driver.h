// The earlier kernel-mode adapter driver, reached by device name and control
// code. It is not part of this system: the program talks to it only through
// this seam, which tests replace with a simulator of the old adapter.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace adaptercfg {

// Control codes of the legacy driver.
constexpr DWORD kIoctlGetDeviceDescriptor = 0x222000;  // out: 18-byte USB device descriptor
constexpr DWORD kIoctlVendorRequest = 0x222040;        // in: LegacyVendorRequest, out: the answer
constexpr DWORD kIoctlDownload = 0x222080;             // in: loader table, no output
constexpr DWORD kIoctlGetStatus = 0x2220D0;            // out: 9-byte status block

constexpr size_t kDeviceDescriptorSize = 18;
constexpr size_t kStatusBlockSize = 9;
constexpr uint16_t kLegacyProductId = 0x0030;

// Vendor request codes carried by kIoctlVendorRequest.
constexpr uint8_t kRequestReadEeprom = 0xD2;   // answer: data byte, status byte
constexpr uint8_t kRequestWriteEeprom = 0xD1;  // answer: status byte
constexpr uint8_t kEepromStatusOk = 8;

// The 11-byte vendor-request block: code, value, index (little-endian), a
// 32-bit zero and 2 reserved bytes (sent as 0).
constexpr size_t kVendorRequestSize = 11;
void PackVendorRequest(uint8_t code, uint16_t value, uint16_t index, uint8_t block[kVendorRequestSize]);

class LegacyDriver {
 public:
  virtual ~LegacyDriver() = default;
  // Opens a device by name (read and write, no sharing, existing device);
  // INVALID_HANDLE_VALUE when it cannot be opened.
  virtual HANDLE Open(const std::string& deviceName) = 0;
  // One control call; false when it fails.
  virtual bool Control(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                       DWORD* returned) = 0;
  virtual void Close(HANDLE device) = 0;
};

// The platform's device I/O: CreateFileA, DeviceIoControl, CloseHandle.
LegacyDriver& SystemLegacyDriver();

// One open legacy device; closes it when it goes.
class LegacyHandle {
 public:
  LegacyHandle() = default;
  ~LegacyHandle() { Reset(); }
  LegacyHandle(const LegacyHandle&) = delete;
  LegacyHandle& operator=(const LegacyHandle&) = delete;

  bool Open(LegacyDriver& driver, const std::string& deviceName);
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Reset();
  // One control call; false when it fails or answers fewer than `outSize`
  // bytes (a short answer is no answer: its bytes are not the device's).
  bool Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize);
  // Sends one vendor request and reads its `answerSize`-byte answer.
  bool VendorRequest(uint8_t code, uint16_t value, uint16_t index, void* answer, DWORD answerSize);

 private:
  LegacyDriver* driver_ = nullptr;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace adaptercfg
