// The dialog against the real plug-and-play service, installed by its own
// command line and run by Wine's service control manager in this prefix.
#include "dialog_fixture.h"

#include <cstring>

#include "adapter_presence.h"
#include "resource.h"
#include "shared/service_pipe.h"
#include "sim/sim_control.h"
#include "win32/unique_handle.h"

namespace adaptercfg_test {
namespace {

constexpr char kServiceName[] = "VELTRA evHRT USB";
const char kRoot[] = "FSK Mavix Driver Configuration";

int RunProgram(const std::string& commandLine) {
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return -1;
  win32::UniqueHandle processHandle(process.hProcess), thread(process.hThread);
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}

bool WithService(DWORD access, bool (*action)(SC_HANDLE)) {
  win32::UniqueResource<win32::ServiceHandleTraits> manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  win32::UniqueResource<win32::ServiceHandleTraits> service(OpenServiceA(manager.get(), kServiceName, access));
  return service && action(service.get());
}

DWORD ServiceState() {
  static DWORD state;
  state = 0;
  WithService(SERVICE_QUERY_STATUS, [](SC_HANDLE s) {
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(s, &status)) state = status.dwCurrentState;
    return true;
  });
  return state;
}

bool WaitForState(DWORD wanted) {
  for (int i = 0; i < 400; ++i) {
    if (ServiceState() == wanted) return true;
    Sleep(50);
  }
  return false;
}

bool StartService() {
  WithService(SERVICE_START, [](SC_HANDLE s) { return StartServiceA(s, 0, nullptr) != FALSE; });
  return WaitForState(SERVICE_RUNNING) && WaitNamedPipeA(shared::kServicePipeName, 10000);
}

bool StopService() {
  WithService(SERVICE_STOP, [](SC_HANDLE s) {
    SERVICE_STATUS status = {};
    return ControlService(s, SERVICE_CONTROL_STOP, &status) != FALSE;
  });
  return WaitForState(SERVICE_STOPPED);
}

class ServiceTest : public DialogTest {
 protected:
  static void SetUpTestSuite() {
    DialogTest::SetUpTestSuite();
    // The simulator and the msports double are in the prefix's system32
    // (wine_system_dlls); the service loads them natively.
    if (ServiceState() == 0) {
      ASSERT_EQ(RunProgram("\"" + BesideTest("pnpsvc.exe") + "\" -install"), 0);
    }
    win32::UniqueRegKey key;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\pnpsvc.exe\\DllOverrides", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    for (const char* dll : {"winusb", "msports"})
      RegSetValueExA(key.get(), dll, 0, REG_SZ, reinterpret_cast<const BYTE*>("native"), 7);
  }
  void TearDown() override {
    DialogTest::TearDown();
    const DWORD state = ServiceState();
    if (state != 0 && state != SERVICE_STOPPED) StopService();
  }
};

TEST_F(ServiceTest, OkWritesTheNewConfigurationThroughTheService) {
  SetConfigSlot(0, 0x1111, 0);
  SetConfigSlot(1, 0x2222, 5);
  SetConfigSlot(2, 0x3333, 0);
  SetConfigSlot(240, 0x4444, 0);  // above the program's device numbers: left alone
  ASSERT_TRUE(StartService());
  ASSERT_TRUE(Open());
  EXPECT_EQ(TreeTexts(tree()).size(), 4u);

  Click(dialog(), IDC_ADD);
  SelectEntry(0);
  Click(dialog(), IDC_REMOVE);
  SelectEntry(1);  // 0x3333, now device 1
  SetDlgItemTextA(dialog(), IDC_SERIAL, "1A2B");
  Click(dialog(), IDC_PORT_CHECK);
  HWND ports = GetDlgItem(dialog(), IDC_PORT_LIST);
  const std::vector<std::string> free = ComboTexts(ports);
  const auto com3 = std::find(free.begin(), free.end(), "COM3");
  ASSERT_NE(com3, free.end());
  SendMessageW(ports, CB_SETCURSEL, com3 - free.begin(), 0);
  PressOk();
  EXPECT_TRUE(Closed());

  DWORD value = 0;
  struct Slot {
    int key;
    DWORD serial, port;
  };
  for (const Slot& slot : {Slot{0, 0x2222, 5}, Slot{1, 0x1A2B, 3}, Slot{2, 0x2000, 0}, Slot{240, 0x4444, 0}}) {
    EXPECT_TRUE(ReadConfigDword(slot.key, "USB-Id", &value) && value == slot.serial) << slot.key;
    EXPECT_TRUE(ReadConfigDword(slot.key, "SerialPort", &value) && value == slot.port) << slot.key;
  }
  EXPECT_FALSE(ConfigKeyExists(3));

  // The program shows what the service wrote.
  ASSERT_TRUE(Open());
  EXPECT_EQ(TreeTexts(tree()), (std::vector<std::string>{kRoot, "   Device 0  ( USB-Device )",
                                                         "   Device 1  ( USB-Device )",
                                                         "   Device 2  ( USB-Device )"}));
  SelectEntry(1);
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "1A2B");
  EXPECT_EQ(ItemText(dialog(), IDC_PORT_LIST), "COM3");
}

TEST_F(ServiceTest, WithTheServiceStoppedOkReportsTheFailureAndConfigKeyIsUnchanged) {
  SetConfigSlot(0, 0x1111, 0);
  SetConfigSlot(1, 0x2222, 5);
  ASSERT_TRUE(StartService());
  ASSERT_TRUE(StopService());
  const std::vector<std::string> before = ConfigSnapshot();
  ASSERT_TRUE(Open());
  SelectEntry(0);
  Click(dialog(), IDC_REMOVE);
  // The message names the service as the service manager shows it.
  win32::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  char displayName[256] = {};
  DWORD size = sizeof displayName;
  ASSERT_TRUE(GetServiceDisplayNameA(manager.get(), kServiceName, displayName, &size));
  EXPECT_STREQ(displayName, "VELTRA FSK Mavix");
  ModalScript script;
  script.Answer(std::string("the service \"") + displayName + "\" does not answer", IDOK);
  PressOk();
  EXPECT_TRUE(script.Done());
  EXPECT_FALSE(Closed());
  EXPECT_EQ(ConfigSnapshot(), before);
}

TEST_F(ServiceTest, SearchListsThePresentAdaptersAndOneHeldByAnotherProgramDisablesChanges) {
  adapter_presence::PresentAdapter first, second;
  ASSERT_TRUE(adapter_presence::RegisterPresentAdapter("SIM2345", &first));
  ASSERT_TRUE(adapter_presence::RegisterPresentAdapter("SIM6789", &second));
  ASSERT_TRUE(SimCreateAdapter(first.deviceFile.c_str(), 0x2345));
  ASSERT_TRUE(SimCreateAdapter(second.deviceFile.c_str(), 0x6789));
  SetConfigSlot(0, 0x2345, 0);
  ASSERT_TRUE(StartService());

  // Without a holder nothing is in use.
  ASSERT_TRUE(Open());
  EXPECT_TRUE(Enabled(dialog(), IDC_ADD));
  dialog_.reset();

  // Another program opens the second adapter.
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr, outRead = nullptr, outWrite = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  ASSERT_TRUE(CreatePipe(&outRead, &outWrite, &inherit, 0));
  win32::UniqueHandle stdinRead(readEnd), stdinWrite(writeEnd), stdoutRead(outRead), stdoutWrite(outWrite);
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {sizeof startup};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = readEnd;
  startup.hStdOutput = outWrite;
  startup.hStdError = outWrite;
  PROCESS_INFORMATION process = {};
  std::string line = "\"" + BesideTest("hold_device.exe") + "\" \"" + second.interfacePath + "\"";
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
  win32::UniqueHandle holder(process.hProcess), holderThread(process.hThread);
  stdinRead.reset();
  stdoutWrite.reset();
  char held[8] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(outRead, held, 4, &got, nullptr));
  ASSERT_EQ(std::string(held, got), "held");

  ModalScript script;
  script.Answer("At least one of the devices is in use by an application.", IDOK);
  ASSERT_TRUE(Open());
  EXPECT_TRUE(script.Done());
  EXPECT_FALSE(Enabled(dialog(), IDC_ADD));
  EXPECT_FALSE(Enabled(dialog(), IDC_REMOVE));

  // The search still lists both adapters (its button is disabled with the
  // panel; the command is sent as the button would).
  SelectEntry(0);
  EXPECT_FALSE(Enabled(dialog(), IDC_SEARCH));
  std::vector<std::string> rows;
  ModalScript search;
  search.On("attached USB devices", [&](HWND found) {
    rows = ListTexts(GetDlgItem(found, IDC_FOUND_LIST));
    PressButton(found, IDCANCEL);
  });
  SendMessageW(dialog(), WM_COMMAND, MAKEWPARAM(IDC_SEARCH, BN_CLICKED), 0);
  EXPECT_TRUE(search.Done());
  EXPECT_EQ(rows, (std::vector<std::string>{"2345", "6789"}));

  stdinWrite.reset();
  EXPECT_EQ(WaitForSingleObject(holder.get(), 10000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace adaptercfg_test
