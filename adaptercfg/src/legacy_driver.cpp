#include "legacy_driver.h"

namespace adaptercfg {

void PackVendorRequest(uint8_t code, uint16_t value, uint16_t index, uint8_t block[kVendorRequestSize]) {
  block[0] = code;
  block[1] = static_cast<uint8_t>(value);
  block[2] = static_cast<uint8_t>(value >> 8);
  block[3] = static_cast<uint8_t>(index);
  block[4] = static_cast<uint8_t>(index >> 8);
  for (size_t i = 5; i < kVendorRequestSize; ++i) block[i] = 0;
}

namespace {

class SystemDriver : public LegacyDriver {
 public:
  HANDLE Open(const std::string& deviceName) override {
    return CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  bool Control(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
               DWORD* returned) override {
    return DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize, returned, nullptr) != FALSE;
  }
  void Close(HANDLE device) override { CloseHandle(device); }
};

}  // namespace

LegacyDriver& SystemLegacyDriver() {
  static SystemDriver driver;
  return driver;
}

bool LegacyHandle::Open(LegacyDriver& driver, const std::string& deviceName) {
  Reset();
  HANDLE handle = driver.Open(deviceName);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
  driver_ = &driver;
  handle_ = handle;
  return true;
}

void LegacyHandle::Reset() {
  if (IsOpen()) driver_->Close(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  driver_ = nullptr;
}

bool LegacyHandle::Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize) {
  if (!IsOpen()) return false;
  DWORD returned = 0;
  return driver_->Control(handle_, code, in, inSize, out, outSize, &returned) && returned >= outSize;
}

bool LegacyHandle::VendorRequest(uint8_t code, uint16_t value, uint16_t index, void* answer, DWORD answerSize) {
  uint8_t block[kVendorRequestSize];
  PackVendorRequest(code, value, index, block);
  return Control(kIoctlVendorRequest, block, sizeof block, answer, answerSize);
}

}  // namespace adaptercfg
