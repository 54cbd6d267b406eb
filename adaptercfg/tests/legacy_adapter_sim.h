// A simulator of the old adapter behind the earlier kernel-mode driver: its
// device names, descriptor, status block and serial EEPROM, answering the
// driver's control codes the way the upgrade and the search use them, with
// faults a test can inject.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "legacy_driver.h"
#include "win32/unique_handle.h"

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
    bool shortAnswers = false;               // vendor requests answer one byte less than asked
    std::set<int> pauseAtWrites;             // writes (counted from 1) that wait for Release()
    int writeCount = 0;
    int readCount = 0;
    int downloadRequests = 0;
    std::set<DWORD> writerThreads;           // threads that wrote the EEPROM
  };

  LegacyAdapterSim();

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

  // Pauses at the writes of pauseAtWrites, on the thread that writes: how
  // many were reached, and Release() lets the one waiting go on. A pause
  // that is not released within 30 s goes on by itself and is counted.
  int PausesReached() const { return pausesReached_; }
  void Release() { SetEvent(release_.get()); }
  int PausesTimedOut() const { return pausesTimedOut_; }

 private:
  std::map<std::string, std::unique_ptr<Adapter>> adapters_;
  std::map<HANDLE, std::string> open_;
  std::vector<std::string> attempts_;
  uintptr_t nextHandle_ = 0x1000;
  win32::UniqueHandle release_;
  std::atomic<int> pausesReached_{0};
  std::atomic<int> pausesTimedOut_{0};
};

}  // namespace adaptercfg_test
