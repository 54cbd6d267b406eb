// Virtual COM ports against the install kit double (device nodes in the
// registry) and the msports double (a COM port database with a bitmap).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "adapter_tracking.h"
#include "installkit_double.h"
#include "msports_double.h"
#include "test_support.h"
#include "trace.h"
#include "virtual_ports.h"

namespace {

using namespace pnpsvc_test;

const char kPorts[] = "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\PORTS";

std::string NodeString(const std::string& node, const char* subkey, const char* name) {
  std::string path = std::string(kPorts) + "\\" + node + (subkey ? std::string("\\") + subkey : "");
  char text[256] = {};
  DWORD size = sizeof(text) - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
    return "<none>";
  return text;
}

DWORD NodeDeviceId(const std::string& node) {
  std::string path = std::string(kPorts) + "\\" + node + "\\Device Parameters";
  DWORD value = 0;
  return ReadDword(path.c_str(), "DeviceId", &value, 0) ? value : 0xFFFFFFFF;
}

size_t CountStartingWith(const std::vector<std::string>& commands, const std::string& prefix) {
  return std::count_if(commands.begin(), commands.end(),
                       [&](const std::string& c) { return c.compare(0, prefix.size(), prefix) == 0; });
}

class VirtualPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Load our msports in place of Wine's stub.
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\pnpsvc_unit_tests.exe\\DllOverrides", 0,
                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, "msports", 0, REG_SZ, reinterpret_cast<const BYTE*>("native"), 7);
    RegCloseKey(key);

    ClearAdapterRegistry();
    installkit_double::Reset();
    msports_double::Reset();
    pnpsvc::SetInstallKitRunner(installkit_double::Run);
    pnpsvc::SetBindRetryPauseMs(1);
    Recorder::Install();
    Recorder::Clear();
  }
  void TearDown() override { pnpsvc::SetInstallKitRunner(nullptr); }
};

TEST_F(VirtualPortsTest, ConfiguredAdapterGetsItsPortBoundRenamedAndClaimed) {
  SetSlot(0, 0x1111, 0);
  SetSlot(1, 0x1234, 9);
  msports_double::SetClaimed(7, true);  // the system gave the new node COM7
  installkit_double::SetSystemPortName("COM7");

  pnpsvc::AddSerialPort(0x1234);

  std::vector<std::string> nodes = installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(NodeDeviceId(nodes[0]), 0x1234u);
  EXPECT_EQ(NodeString(nodes[0], "Device Parameters", "PortName"), "COM9");
  EXPECT_EQ(NodeString(nodes[0], nullptr, "FriendlyName"), "VELTRA Virtual COM Port (COM9)");
  std::vector<std::string> commands = installkit_double::Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], "install vtVCP.inf vtVCP\\VirtualSerial");
  EXPECT_EQ(commands[1], "restart @ROOT\\PORTS\\" + nodes[0]);
  EXPECT_FALSE(msports_double::IsClaimed(7));
  EXPECT_TRUE(msports_double::IsClaimed(9));
  EXPECT_TRUE(Recorder::EventLog().empty());
}

TEST_F(VirtualPortsTest, NodeWithoutSystemPortNameStillClaimsTheConfiguredPort) {
  SetSlot(0, 0x1234, 5);
  installkit_double::SetSystemPortName("");
  pnpsvc::AddSerialPort(0x1234);
  EXPECT_TRUE(msports_double::IsClaimed(5));
  EXPECT_EQ(msports_double::Log().find("release"), std::string::npos);
}

TEST_F(VirtualPortsTest, NoPortWithoutConfiguredNumberOrBinding) {
  SetSlot(0, 0x1234, 0);  // bound, no port
  SetSlot(1, 0x2222, 4);
  SetSlot(3, 0x3333, 6);  // number 2 missing: 3 is never reached
  pnpsvc::AddSerialPort(0x1234);
  pnpsvc::AddSerialPort(0x9999);  // bound to no number
  pnpsvc::AddSerialPort(0x3333);
  EXPECT_TRUE(installkit_double::Commands().empty());

  ClearAdapterRegistry();  // no ConfigKey at all
  pnpsvc::AddSerialPort(0x2222);
  EXPECT_TRUE(installkit_double::Commands().empty());
}

TEST_F(VirtualPortsTest, PortAlreadyInUseIsReportedOnceAndNotCreated) {
  SetSlot(0, 0x1234, 3);
  msports_double::SetClaimed(3, true);
  pnpsvc::AddSerialPort(0x1234);
  EXPECT_TRUE(installkit_double::Commands().empty());
  auto events = Recorder::EventLog();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second, "COM port already existent");
  EXPECT_EQ(events[0].first.rfind("VELTRA evHRT USB error: ", 0), 0u);
}

TEST_F(VirtualPortsTest, UnreadableDatabaseCountsAsFreeAndFailedInstallLeavesNothing) {
  SetSlot(0, 0x1234, 3);
  msports_double::SetFailOpen(true);
  EXPECT_FALSE(pnpsvc::IsComPortInUse(3));
  installkit_double::SetInstallFails(true);
  pnpsvc::AddSerialPort(0x1234);
  EXPECT_EQ(installkit_double::Commands().size(), 1u);  // the install only
  EXPECT_TRUE(installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId).empty());
  msports_double::SetFailOpen(false);
  msports_double::Reset(8);
  EXPECT_FALSE(pnpsvc::IsComPortInUse(9));  // beyond the database's size
}

TEST_F(VirtualPortsTest, EachAdapterBindsItsOwnNodeAndRemovalTakesOnlyItsOwn) {
  SetSlot(0, 0x1111, 11);
  SetSlot(1, 0x2222, 12);
  pnpsvc::AddSerialPort(0x1111);
  pnpsvc::AddSerialPort(0x2222);
  std::vector<std::string> nodes = installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId);
  ASSERT_EQ(nodes.size(), 2u);
  std::vector<DWORD> ids = {NodeDeviceId(nodes[0]), NodeDeviceId(nodes[1])};
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<DWORD>{0x1111, 0x2222}));

  // The adapter's removal takes its node, and with it the port's claim.
  SetEnumValue("\\\\?\\usb#one", 0x1111);
  EXPECT_TRUE(msports_double::IsClaimed(11));
  pnpsvc::OnDeviceRemoval("\\\\?\\usb#one", nullptr);
  EXPECT_FALSE(msports_double::IsClaimed(11));
  nodes = installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(NodeDeviceId(nodes[0]), 0x2222u);
  EXPECT_EQ(CountStartingWith(installkit_double::Commands(), "remove @ROOT\\PORTS\\"), 1u);

  pnpsvc::RemoveVirtualPort(0x5555);  // no node: nothing removed
  EXPECT_EQ(installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId).size(), 1u);
}

TEST_F(VirtualPortsTest, NodeWithAnyDeviceIdIsTakenAndSerialsCompareTheirLow16Bits) {
  // A node whose "DeviceId" is no DWORD still belongs to somebody.
  ASSERT_TRUE(installkit_double::Run("install vtVCP.inf vtVCP\\VirtualSerial"));
  const std::string takenNode = installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId).at(0);
  const std::string takenParams = std::string(kPorts) + "\\" + takenNode + "\\Device Parameters";
  const BYTE foreign[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, takenParams.c_str(), "DeviceId", REG_BINARY, foreign,
                            sizeof(foreign)),
            ERROR_SUCCESS);

  // "USB-Id" holds bits above the 16-bit serial: the number still binds it.
  SetSlot(0, 0x00011234, 9);
  pnpsvc::AddSerialPort(0x1234);

  std::vector<std::string> nodes = installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId);
  ASSERT_EQ(nodes.size(), 2u);
  for (const std::string& node : nodes) {
    if (node == takenNode) {
      BYTE data[16] = {};
      DWORD size = sizeof(data), type = 0;
      ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, takenParams.c_str(), "DeviceId", RRF_RT_ANY, &type, data, &size),
                ERROR_SUCCESS);
      EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY)) << "the other node is left alone";
      EXPECT_EQ(size, sizeof(foreign));
    } else {
      EXPECT_EQ(NodeDeviceId(node), 0x1234u);
      EXPECT_EQ(NodeString(node, "Device Parameters", "PortName"), "COM9");
    }
  }
  // Removal by serial finds the bound node, never the foreign one.
  pnpsvc::RemoveVirtualPort(0x1234);
  nodes = installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0], takenNode);
}

TEST_F(VirtualPortsTest, RenumerationRemovesAllAndRecreatesOnePerAttachedAdapter) {
  SetSlot(0, 0x1111, 11);
  SetSlot(1, 0x2222, 0);
  SetSlot(2, 0x3333, 13);
  SetEnumValue("\\\\?\\usb#a", 0x1111);
  SetEnumValue("\\\\?\\usb#b", 0x2222);
  SetEnumValue("\\\\?\\usb#c", 0x3333);
  pnpsvc::AddSerialPort(0x1111);  // an old node that renumeration must replace
  installkit_double::Reset();

  pnpsvc::RenumerateDevices();

  std::vector<std::string> commands = installkit_double::Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands[0], "remove vtVCP\\VirtualSerial");
  EXPECT_EQ(CountStartingWith(commands, "install "), 2u);
  std::vector<std::string> nodes = installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(NodeString(nodes[0], "Device Parameters", "PortName"), "COM11");
  EXPECT_EQ(NodeString(nodes[1], "Device Parameters", "PortName"), "COM13");
}

// Arrival and removal, with paths that open no adapter (serial 0 is recorded).
TEST_F(VirtualPortsTest, ArrivalAndRemovalKeepEnumKeyAndPulseTheEvent) {
  HANDLE pnpEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto pulsedDuring = [&](auto action) {
    PulseWatch pulse(pnpEvent);
    action();
    return pulse.Seen();
  };
  pnpsvc::WinUsbApi noUsb;
  const std::string path = "\\\\?\\usb#vid_ffff&pid_0001#nothere#{e28de6ad-b0a7-461b-bbcd-0fa638c7c750}";

  EXPECT_TRUE(pulsedDuring([&] { pnpsvc::OnDeviceArrival(noUsb, path, pnpEvent); }));
  auto values = EnumValues();
  ASSERT_EQ(values.count(path), 1u);
  EXPECT_EQ(values[path], 0u);
  EXPECT_EQ(WaitForSingleObject(pnpEvent, 0), WAIT_TIMEOUT);  // pulsed, not left set

  EXPECT_TRUE(pulsedDuring([&] { pnpsvc::OnDeviceRemoval(path, pnpEvent); }));
  EXPECT_EQ(EnumValues().count(path), 0u);
  EXPECT_TRUE(pulsedDuring([&] { pnpsvc::OnDeviceRemoval("\\\\?\\never#seen", pnpEvent); }));
  CloseHandle(pnpEvent);
}

}  // namespace

namespace {

// Arrival with no adapter root key must not leave it volatile: configuration
// written later under it has to survive.
TEST(EnumKeyTest, ArrivalWithoutParentKeyKeepsConfigurationWritable) {
  pnpsvc_test::ClearAdapterRegistry();
  pnpsvc::WinUsbApi noUsb;
  pnpsvc::OnDeviceArrival(noUsb, "\\\\?\\usb#z", nullptr);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\VELTRA\\evHRT USB\\Config\\0", 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace

namespace {

// A WinUSB stand-in that answers every adapter's serial request with 0x2222.
BOOL WINAPI FakeInitialize(HANDLE, void** handle) {
  *handle = reinterpret_cast<void*>(1);
  return TRUE;
}
BOOL WINAPI FakeFree(void*) { return TRUE; }
BOOL WINAPI FakeDescriptor(void*, UCHAR, UCHAR, USHORT, UCHAR*, ULONG, ULONG* got) {
  *got = 18;
  return TRUE;
}
BOOL WINAPI FakeTransfer(void*, WINUSB_SETUP_PACKET, UCHAR* data, ULONG, ULONG* got, OVERLAPPED*) {
  data[0] = 0x22;
  data[1] = 0x22;
  *got = 2;
  return TRUE;
}

// Arrival on the control handler's thread and renumeration on the pipe's
// thread, at the same time: each adapter still ends with its own node.
TEST_F(VirtualPortsTest, ConcurrentArrivalAndRenumerationBindEachNodeToItsAdapter) {
  char file[MAX_PATH];
  GetTempFileNameA(".", "adp", 0, file);
  pnpsvc::WinUsbApi usb;
  usb.Initialize = FakeInitialize;
  usb.Free = FakeFree;
  usb.GetDescriptor = FakeDescriptor;
  usb.ControlTransfer = FakeTransfer;
  pnpsvc::SetBindRetryPauseMs(50);  // a wide window between a node's install and its binding
  for (int round = 0; round < 4; ++round) {
    ClearAdapterRegistry();
    installkit_double::Reset();
    msports_double::Reset();
    SetSlot(0, 0x1111, 11);
    SetSlot(1, 0x2222, 12);
    SetEnumValue("\\\\?\\usb#a", 0x1111);

    struct Ctx { pnpsvc::WinUsbApi* usb; const char* path; } ctx{&usb, file};
    HANDLE arrival = CreateThread(nullptr, 0, [](void* p) -> DWORD {
      auto* c = static_cast<Ctx*>(p);
      pnpsvc::OnDeviceArrival(*c->usb, c->path, nullptr);
      return 0;
    }, &ctx, 0, nullptr);
    Sleep(10 * round);  // vary which thread comes first
    pnpsvc::RenumerateDevices();
    WaitForSingleObject(arrival, 20000);
    CloseHandle(arrival);

    std::vector<std::string> nodes = installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId);
    ASSERT_EQ(nodes.size(), 2u) << "round " << round;
    for (const std::string& node : nodes) {
      DWORD id = NodeDeviceId(node);
      EXPECT_EQ(NodeString(node, "Device Parameters", "PortName"), id == 0x1111 ? "COM11" : "COM12") << round;
      EXPECT_TRUE(id == 0x1111 || id == 0x2222) << round;
    }
    EXPECT_NE(NodeDeviceId(nodes[0]), NodeDeviceId(nodes[1])) << round;
  }
  DeleteFileA(file);
}

}  // namespace
