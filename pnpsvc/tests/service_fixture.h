// The installed service under Wine's service control manager, with
// simulated adapters that SetupAPI reports as present, our winusb.dll (the
// simulator) and the msports double loaded in the service's process.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "adapter_presence.h"

namespace pnpsvc_test {

// Runs a program to its end; answers its exit code and what it printed.
int RunProgram(const std::string& commandLine, std::string* output);
// Full path of a file beside this test program.
std::string BesideTest(const char* name);

// Service control through the service control manager.
DWORD ServiceState();  // 0 when the service is not installed
bool StartAndWaitRunning();
bool StopAndWaitStopped();

// Loads the simulator and the msports double into pnpsvc.exe, and raises the
// service's trace threshold to `traceLevel`.
void PrepareServiceEnvironment(DWORD traceLevel);

// Base of the suites that run the service: two simulated adapters, serials
// 0x1234 (first_) and 0x5678 (second_), that SetupAPI reports as present.
class TwoAdaptersPresentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();

  static adapter_presence::PresentAdapter first_, second_;
};

}  // namespace pnpsvc_test
