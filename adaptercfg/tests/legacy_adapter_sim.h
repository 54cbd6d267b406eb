// A simulator of the old adapter behind the earlier kernel-mode driver: its
// device names, descriptor, status block and serial EEPROM, answering the
// driver's control codes the way the upgrade and the search use them, with
// faults a test can inject.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "legacy_driver.h"

namespace adaptercfg_test {

class LegacyAdapterSim : public adaptercfg::LegacyDriver {
 public:
  static constexpr size_t kEepromSize = 16384;

  struct Adapter {
    uint8_t descriptor[18] = {};
    uint8_t status[9] = {};
    std::vector<uint8_t> eeprom = std::vector<uint8_t>(kEepromSize, 0xFF);
    std::vector<uint8_t> loader;  // what the download delivered
    bool failDownload = false;
    int failControlCalls = 0;                // the next N control calls fail
    std::map<uint16_t, int> writeFailures;   // address -> writes answered with a bad status
    std::map<uint16_t, int> corruptWrites;   // address -> writes stored inverted
    std::map<uint16_t, int> readFailures;    // address -> reads answered with a bad status
    std::map<uint16_t, int> controlFailures; // address -> vendor requests whose control call fails
    int writeCount = 0;
    int readCount = 0;
  };

  // An adapter under a device name, e.g. "\\\\.\\_evHART_USB0". Its EEPROM
  // starts with `firstByte` (0xB2 and status 8 read as the word 0x08B2).
  Adapter& Add(const std::string& deviceName, uint16_t productId = 0x0030, bool oldFirmware = true,
               uint8_t firstByte = 0x34);

  HANDLE Open(const std::string& deviceName) override;
  bool Control(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
               DWORD* returned) override;
  void Close(HANDLE device) override;

  int OpenHandles() const { return static_cast<int>(open_.size()); }
  std::vector<std::string> OpenAttempts() const { return attempts_; }

 private:
  std::map<std::string, std::unique_ptr<Adapter>> adapters_;
  std::map<HANDLE, std::string> open_;
  std::vector<std::string> attempts_;
  uintptr_t nextHandle_ = 0x1000;
};

}  // namespace adaptercfg_test
