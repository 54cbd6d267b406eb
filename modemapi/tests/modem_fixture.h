// Test base for modemapi.dll against the simulated adapter: plays the
// service's part in the registry (ConfigKey, EnumKey) and makes simulated
// adapters with their device files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "modemapi/modemapi.h"
#include "shared/status_codes.h"
#include "sim/sim_control.h"

namespace modemtest {

// A frame the simulated line carries unchanged (the adapter only checks it
// when it reaches the line): short frame, command 0, polling address 0.
extern const uint8_t kCommandZero[5];

class ModemTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A simulated adapter with its device file, listed under EnumKey unless
  // `listed` is false. Returns the device path.
  std::string AddAdapter(uint16_t serial, bool listed = true);
  // ConfigKey\<number>\"USB-Id" = serial.
  void Configure(uint8_t number, uint32_t serial);
  // Adapter, configuration and vtHART_DeviceInit(number, primary master).
  uint8_t OpenNew(uint8_t number, uint16_t serial);

  SimAdapterState State(uint16_t serial);
  std::vector<SimTransfer> Log(uint16_t serial);
  // Logged transfers with this request code.
  std::vector<SimTransfer> Requests(uint16_t serial, uint8_t request);

  // Polls vtHART_Receive until it answers something other than 8.
  uint8_t ReceiveNext(uint8_t number, uint8_t* kind, uint8_t* length, uint8_t* data,
                      DWORD timeoutMs = 3000);
  // Polls `done` every 5 ms for up to timeoutMs.
  static bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 3000);

  std::string deviceFolder_;
};

// True when another holder has the adapter's ownership event.
bool OwnershipTaken(uint16_t serial);

}  // namespace modemtest
