// The device install kit: its command line, its patterns, and real runs of
// what Wine's SetupAPI supports (root device nodes of the ports class).
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>

#include <newdev.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "install_kit.h"
#include "test_support.h"
#include "trace.h"

namespace {

using pnpsvc::installkit::CreateCommandLine;
using pnpsvc::installkit::WildcardMatch;
using pnpsvc_test::Recorder;

std::vector<std::string> Split(const char* text) {
  std::vector<std::string> args;
  EXPECT_TRUE(CreateCommandLine(text, args));
  return args;
}

TEST(InstallKitCommandLine, SplitsOnBlanksAndKeepsQuotedText) {
  EXPECT_EQ(Split("install vtVCP.inf vtVCP\\VirtualSerial"),
            (std::vector<std::string>{"install", "vtVCP.inf", "vtVCP\\VirtualSerial"}));
  EXPECT_EQ(Split("  remove\t\t@ROOT\\PORTS\\0001  "), (std::vector<std::string>{"remove", "@ROOT\\PORTS\\0001"}));
  EXPECT_EQ(Split("install \"C:\\my drivers\\x.inf\" id"),
            (std::vector<std::string>{"install", "C:\\my drivers\\x.inf", "id"}));
  EXPECT_EQ(Split("a\"b c\"d"), (std::vector<std::string>{"ab cd"}));
  EXPECT_EQ(Split("\"say \"\"hi\"\"\" \"\""), (std::vector<std::string>{"say \"hi\"", ""}));
  EXPECT_TRUE(Split("").empty());
  EXPECT_EQ(Split("\"unterminated x"), (std::vector<std::string>{"unterminated x"}));
}

TEST(InstallKitPatterns, WildcardsMatchStartMiddleAndEndIgnoringCase) {
  EXPECT_TRUE(WildcardMatch("ROOT\\PORTS\\0001", "root\\ports\\*"));
  EXPECT_TRUE(WildcardMatch("ROOT\\PORTS\\0001", "*"));
  EXPECT_TRUE(WildcardMatch("ROOT\\PORTS\\0001", "*PORTS*1"));
  EXPECT_TRUE(WildcardMatch("abcabc", "a*c*c"));
  EXPECT_TRUE(WildcardMatch("vtVCP\\VirtualSerial", "VTVCP\\VIRTUALSERIAL"));
  EXPECT_FALSE(WildcardMatch("ROOT\\PORTS\\0001", "ROOT\\PORTS"));  // no star: whole id
  EXPECT_FALSE(WildcardMatch("ROOT\\PORTS\\0001", "*0002"));
  EXPECT_FALSE(WildcardMatch("abc", "a*b*b"));                       // parts in order, no overlap
  EXPECT_FALSE(WildcardMatch("ab", "ab*b"));
  EXPECT_FALSE(WildcardMatch("USB\\X", "ROOT*"));
}

// Wine's SetupAPI enumerates and matches device nodes but cannot run the
// class installer that removes or restarts them: a hook records the devices
// the kit acts on instead, and the node stays (so each test uses new ones).
std::vector<std::string> g_actions;
bool RecordAction(const char* action, const std::string& id) {
  g_actions.push_back(std::string(action) + " " + id);
  return true;
}

// Drivers the kit hands to newdev, recorded in place of installing them.
struct DriverUpdate {
  std::string hardwareId, infPath;
  DWORD flags;
};
std::vector<DriverUpdate> g_updates;
DWORD g_updateError = ERROR_SUCCESS;
BOOL WINAPI RecordUpdate(HWND window, LPCSTR hardwareId, LPCSTR infPath, DWORD flags, PBOOL reboot) {
  EXPECT_EQ(window, nullptr);
  g_updates.push_back({hardwareId, infPath, flags});
  if (reboot) *reboot = FALSE;
  SetLastError(g_updateError);
  return g_updateError == ERROR_SUCCESS;
}

class InstallKitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Recorder::Install();
    Recorder::Clear();
    pnpsvc::SetTraceThreshold(4);
    pnpsvc::installkit::SetDeviceActionHook(RecordAction);
    pnpsvc::installkit::SetDriverUpdateHook(RecordUpdate);
    g_actions.clear();
    g_updates.clear();
    g_updateError = ERROR_SUCCESS;
  }
  void TearDown() override {
    if (HasFailure())
      for (const std::string& line : Recorder::TraceLines()) printf("trace: %s", line.c_str());
    pnpsvc::SetTraceThreshold(0);
    pnpsvc::installkit::SetDeviceActionHook(nullptr);
    pnpsvc::installkit::SetDriverUpdateHook(nullptr);
  }

  static bool Traced(const std::string& text) {
    for (const std::string& line : Recorder::TraceLines())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  // A registered ROOT\PORTS node with these hardware ids; answers its instance id.
  static std::string CreatePortsNode(const std::vector<std::string>& hardwareIds) {
    GUID ports;
    DWORD n = 0;
    SetupDiClassGuidsFromNameA("Ports", &ports, 1, &n);
    HDEVINFO set = SetupDiCreateDeviceInfoList(&ports, nullptr);
    SP_DEVINFO_DATA dev = {};
    dev.cbSize = sizeof(dev);
    std::string multi;
    for (const std::string& id : hardwareIds) multi += id + '\0';
    multi += '\0';
    char instance[200] = {};
    if (SetupDiCreateDeviceInfoA(set, "Ports", &ports, nullptr, nullptr, DICD_GENERATE_ID, &dev) &&
        SetupDiSetDeviceRegistryPropertyA(set, &dev, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(multi.data()),
                                          static_cast<DWORD>(multi.size())) &&
        SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &dev))
      SetupDiGetDeviceInstanceIdA(set, &dev, instance, sizeof(instance), nullptr);
    SetupDiDestroyDeviceInfoList(set);
    return instance;
  }

};

TEST_F(InstallKitTest, CommandWordIsFoundInAnyCaseAfterASwitchCharacter) {
  EXPECT_FALSE(pnpsvc::DeviceInstallKit("-INSTALL"));
  EXPECT_TRUE(Traced("two arguments needed"));
  EXPECT_TRUE(Traced(">> DeviceInstallKit(\"-INSTALL\")"));
  EXPECT_TRUE(Traced("<< DeviceInstallKit: false"));
  Recorder::Clear();
  EXPECT_FALSE(pnpsvc::DeviceInstallKit("reinstall a b"));
  EXPECT_TRUE(Traced("unknown command <reinstall>"));
  Recorder::Clear();
  EXPECT_FALSE(pnpsvc::DeviceInstallKit("/Install missing.inf vtVCP\\VirtualSerial"));
  EXPECT_TRUE(Traced("execution of command <Install> failed"));
  EXPECT_FALSE(pnpsvc::DeviceInstallKit(nullptr));
  EXPECT_TRUE(Traced("DeviceInstallKit(\"(NULL)\")"));
  EXPECT_FALSE(pnpsvc::DeviceInstallKit("remove"));
  EXPECT_TRUE(Traced("EnumerateDevices() needs at least one argument"));
}

TEST_F(InstallKitTest, UnknownSetupClassDoesNothingAndSucceeds) {
  ASSERT_FALSE(CreatePortsNode({"vtVCP\\VirtualSerial"}).empty());
  EXPECT_TRUE(pnpsvc::DeviceInstallKit("remove =NoSuchClassHere *"));
  EXPECT_TRUE(Traced("class <NoSuchClassHere> not known"));
  EXPECT_TRUE(g_actions.empty());
}

TEST_F(InstallKitTest, InstanceIdPatternsTakeExactlyTheirNodes) {
  std::string a = CreatePortsNode({"x\\1"});
  std::string b = CreatePortsNode({"x\\2"});
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(pnpsvc::DeviceInstallKit(("remove @" + a).c_str()));
  EXPECT_EQ(g_actions, std::vector<std::string>{"remove " + a});
  EXPECT_TRUE(Traced("device <" + a + "> removed"));
  g_actions.clear();
  EXPECT_TRUE(pnpsvc::DeviceInstallKit(("restart @'" + b).c_str()));  // literal form
  EXPECT_EQ(g_actions, std::vector<std::string>{"restart " + b});
  g_actions.clear();
  EXPECT_FALSE(pnpsvc::DeviceInstallKit("remove @ROOT\\PORTS\\9999"));  // no such instance
  EXPECT_TRUE(g_actions.empty());
}

TEST_F(InstallKitTest, HardwareIdPatternMatchesFirstAndCompatibleIdsOfAnyClass) {
  std::string ours1 = CreatePortsNode({"vtVCP\\VirtualSerial"});
  std::string other = CreatePortsNode({"OTHER\\Serial", "vtVCP\\NotOurs"});
  std::string ours2 = CreatePortsNode({"Something\\Else", "vtvcp\\virtualserial"});
  ASSERT_FALSE(other.empty());
  EXPECT_TRUE(pnpsvc::DeviceInstallKit("remove vtVCP\\VirtualSerial"));
  auto acted = [&](const std::string& id) {
    return std::find(g_actions.begin(), g_actions.end(), "remove " + id) != g_actions.end();
  };
  EXPECT_TRUE(acted(ours1));
  EXPECT_TRUE(acted(ours2));  // by its second id, in another case
  EXPECT_FALSE(acted(other));
  g_actions.clear();
  EXPECT_TRUE(pnpsvc::DeviceInstallKit("restart =Ports OTHER\\*"));
  EXPECT_EQ(g_actions, std::vector<std::string>{"restart " + other});
}

TEST_F(InstallKitTest, InstanceWildcardAndStarSelectWholeGroups) {
  std::vector<std::string> before;
  pnpsvc::DeviceInstallKit("restart =Ports *");
  before = g_actions;
  std::string a = CreatePortsNode({"A\\1"});
  g_actions.clear();
  EXPECT_TRUE(pnpsvc::DeviceInstallKit("remove @ROOT\\PORTS\\*"));
  EXPECT_EQ(g_actions.size(), before.size() + 1);
  EXPECT_NE(std::find(g_actions.begin(), g_actions.end(), "remove " + a), g_actions.end());
}

// The service installs in session 0, where nobody sees a prompt, and under
// its work lock: the driver update is forced, and one that would have to ask
// the user (an unsigned package) fails at once with its error.
TEST_F(InstallKitTest, DriverUpdateIsForcedAndNeverWaitsForTheUser) {
  char folder[MAX_PATH] = {};
  ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
  const std::string inf = std::string(folder) + "install_kit_test.inf";
  HANDLE file = CreateFileA(inf.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  char infArg[MAX_PATH], id[] = "vtVCP\\VirtualSerial";
  strcpy(infArg, inf.c_str());
  char* argv[] = {infArg, id};

  EXPECT_TRUE(pnpsvc::installkit::cmdUpdate(2, argv));
  ASSERT_EQ(g_updates.size(), 1u);
  EXPECT_EQ(g_updates[0].flags, static_cast<DWORD>(INSTALLFLAG_FORCE | INSTALLFLAG_NONINTERACTIVE));
  EXPECT_EQ(g_updates[0].hardwareId, "vtVCP\\VirtualSerial");
  EXPECT_EQ(g_updates[0].infPath, inf);

  g_updateError = static_cast<DWORD>(ERROR_NO_CATALOG_FOR_OEM_INF);
  EXPECT_FALSE(pnpsvc::installkit::cmdUpdate(2, argv));
  EXPECT_TRUE(Traced("UpdateDriverForPlugAndPlayDevicesA failed with code " + std::to_string(g_updateError)));
  DeleteFileA(inf.c_str());
}

}  // namespace
