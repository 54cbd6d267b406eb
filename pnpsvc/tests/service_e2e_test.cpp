// The service installed by its own command line and run by Wine's service
// control manager, with two simulated adapters present.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "adapter_presence.h"
#include "msports_double.h"
#include "pipe_fuzz.h"
#include "service_fixture.h"
#include "shared/registry_layout.h"
#include "shared/service_pipe.h"
#include "sim/sim_control.h"
#include "test_support.h"
#include "trace.h"

namespace {

using namespace pnpsvc_test;

const std::string kService = "\"" + BesideTest("pnpsvc.exe") + "\"";

std::string ReadServiceLog() {
  std::ifstream in(pnpsvc::LogFilePath(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sends one message to the running service; true when the reply was 8 zero bytes.
bool Call(const std::vector<uint8_t>& message) {
  uint8_t reply[100];
  std::memset(reply, 0xAA, sizeof(reply));
  DWORD got = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (CallNamedPipeA(shared::kServicePipeName, const_cast<uint8_t*>(message.data()),
                       static_cast<DWORD>(message.size()), reply, sizeof(reply), &got, 3000))
      return got == 8 && std::memcmp(reply, shared::kServicePipeReply, 8) == 0;
  }
  return false;
}

class ServiceTest : public TwoAdaptersPresentTest {
 protected:
  void SetUp() override {
    if (ServiceState() == 0) {
      std::string out;
      ASSERT_EQ(RunProgram(kService + " /INSTALL", &out), 0);
      ASSERT_EQ(out, "VELTRA FSK Mavix installed.\n");
    }
    PrepareServiceEnvironment(4);
    msports_double::Reset();
    ClearAdapterRegistry();
  }
  void TearDown() override {
    DWORD state = ServiceState();
    if (state != 0 && state != SERVICE_STOPPED) StopAndWaitStopped();
  }
};

TEST_F(ServiceTest, InstalledWithQuotedProgramPathAndAutomaticStart) {
  char image[600] = {};
  DWORD size = sizeof(image) - 1, start = 0;
  std::string key = std::string("SYSTEM\\CurrentControlSet\\Services\\") + pnpsvc::kServiceName;
  HKEY service = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &service), ERROR_SUCCESS);
  RegQueryValueExA(service, "ImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(image), &size);
  RegCloseKey(service);
  EXPECT_EQ(std::string(image), kService);
  EXPECT_TRUE(ReadDword(key.c_str(), "Start", &start, 0));
  EXPECT_EQ(start, static_cast<DWORD>(SERVICE_AUTO_START));
  std::string out;
  EXPECT_EQ(RunProgram(kService + " -install", &out), 0);  // a second install fails, politely
  EXPECT_EQ(out.rfind("CreateService failed - ", 0), 0u) << out;
  // The word without a switch character starts the dispatcher, which fails
  // outside the service control manager and prints nothing.
  EXPECT_EQ(RunProgram(kService + " install", &out), 0);
  EXPECT_EQ(out, "");
}

TEST_F(ServiceTest, WithoutWinUsbTheServiceReportsStoppedInsteadOfHangingInStart) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\pnpsvc.exe\\DllOverrides", 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, "winusb", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);  // disabled
  RegCloseKey(key);
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(scm, pnpsvc::kServiceName, SERVICE_START | SERVICE_QUERY_STATUS);
  ASSERT_NE(service, nullptr);
  StartServiceA(service, 0, nullptr);
  SERVICE_STATUS status = {};
  for (int i = 0; i < 100 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
    Sleep(50);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  CloseServiceHandle(service);
  CloseServiceHandle(scm);
  PrepareServiceEnvironment(4);
}

TEST_F(ServiceTest, StartWithThePipeNameTakenFailsAndSaysWhy) {
  HANDLE squatter = CreateNamedPipeA(shared::kServicePipeName, PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                     0, 0, 1000, nullptr);
  ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(scm, pnpsvc::kServiceName, SERVICE_START | SERVICE_QUERY_STATUS);
  ASSERT_NE(service, nullptr);
  StartServiceA(service, 0, nullptr);
  SERVICE_STATUS status = {};
  for (int i = 0; i < 400 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
    Sleep(50);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED)) << "never running on a pipe it does not own";
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(KeyExists(shared::kEnumKeyPath));
  CloseServiceHandle(service);
  CloseServiceHandle(scm);
  CloseHandle(squatter);
  EXPECT_TRUE(StartAndWaitRunning()) << "starts once the name is free";
}

TEST_F(ServiceTest, StartRecordsPresentAdaptersAndStopClearsTheList) {
  SetEnumValue("\\\\?\\stale#left#over", 0x4444);  // from a run that ended badly
  ASSERT_TRUE(StartAndWaitRunning());
  auto values = EnumValues();
  EXPECT_EQ(values[first_.interfacePath], 0x1234u);
  EXPECT_EQ(values[second_.interfacePath], 0x5678u);
  EXPECT_EQ(values.count("\\\\?\\stale#left#over"), 0u);
  if (HasFailure())
    for (const auto& v : EnumValues()) printf("EnumKey: %s = 0x%lx\n", v.first.c_str(), v.second);

  ASSERT_TRUE(StopAndWaitStopped());
  EXPECT_FALSE(KeyExists(shared::kEnumKeyPath));
  EXPECT_TRUE(KeyExists(shared::kAdapterRootKeyPath));
  // Every virtual COM port node is asked to go when the service stops.
  std::string log = ReadServiceLog();
  EXPECT_NE(log.find(">> DeviceInstallKit(\"remove vtVCP\\VirtualSerial\")"), std::string::npos)
      << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
}

TEST_F(ServiceTest, PipeSurvivesTenThousandBadRequestsAndWritesNothingForThem) {
  ASSERT_TRUE(StartAndWaitRunning());
  ASSERT_TRUE(Call(shared::BuildCreateKeyRequest("0")));
  const auto configBefore = Snapshot(shared::kAdapterRootKeyPath);
  const auto software64Before = Snapshot("Software\\VELTRA", KEY_WOW64_64KEY);

  PipeFuzzer fuzzer(20261209);
  int unanswered = 0;
  const int count = getenv("FUZZ_COUNT") ? atoi(getenv("FUZZ_COUNT")) : 10000;
  for (int i = 0; i < count; ++i)
    if (!Call(fuzzer.Next())) ++unanswered;
  EXPECT_EQ(unanswered, 0);
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Snapshot(shared::kAdapterRootKeyPath), configBefore);
  EXPECT_EQ(Snapshot("Software\\VELTRA", KEY_WOW64_64KEY), software64Before);

  ASSERT_TRUE(Call(shared::BuildSetDwordRequest("0", "USB-Id", 0x1234)));
  DWORD serial = 0;
  EXPECT_TRUE(ReadDword("Software\\VELTRA\\evHRT USB\\Config\\0", "USB-Id", &serial));
  EXPECT_EQ(serial, 0x1234u);
  if (HasFailure())
    for (const std::string& line : Snapshot(shared::kAdapterRootKeyPath)) printf("%s\n", line.c_str());
}

TEST_F(ServiceTest, RemoveStopsTheRunningServiceAndDeletesIt) {
  ASSERT_TRUE(StartAndWaitRunning());
  std::string out;
  EXPECT_EQ(RunProgram(kService + " -REMOVE", &out), 0);
  EXPECT_EQ(out.rfind("Stopping VELTRA FSK Mavix.", 0), 0u) << out;
  EXPECT_NE(out.find("\nVELTRA FSK Mavix stopped.\nVELTRA FSK Mavix removed.\n"), std::string::npos) << out;
  EXPECT_EQ(ServiceState(), 0u);
  EXPECT_EQ(RunProgram(kService + " /remove", &out), 0);
  EXPECT_EQ(out.rfind("OpenService failed - ", 0), 0u) << out;
}

}  // namespace
