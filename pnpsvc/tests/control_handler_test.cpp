// The service's control handler, called as the service control manager calls
// it, with device broadcasts built here: it answers at once and leaves the
// arrival and removal work, in order, to the device notice worker.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <cstddef>
#include <string>
#include <vector>

#include "adapter_tracking.h"
#include "device_notices.h"
#include "installkit_double.h"
#include "msports_double.h"
#include "service_control.h"
#include "shared/adapter_interface.h"
#include "test_support.h"
#include "virtual_ports.h"
#include "win32/unique_handle.h"

namespace {

using namespace pnpsvc_test;

// The broadcast the system passes with SERVICE_CONTROL_DEVICEEVENT.
std::vector<BYTE> InterfaceBroadcast(const std::string& path, DWORD deviceType = DBT_DEVTYP_DEVICEINTERFACE) {
  std::vector<BYTE> bytes(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t));
  auto* b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
  b->dbcc_size = static_cast<DWORD>(bytes.size());
  b->dbcc_devicetype = deviceType;
  b->dbcc_classguid = shared::AdapterInterfaceGuid;
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, b->dbcc_name, static_cast<int>(path.size() + 1));
  return bytes;
}

DWORD Deliver(DWORD eventType, std::vector<BYTE>& broadcast) {
  return pnpsvc::service_ctrl_ex(SERVICE_CONTROL_DEVICEEVENT, eventType, broadcast.data(), nullptr);
}

// WinUSB stand-in: every adapter answers the serial request with 0x2222.
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

// An install kit whose "install" waits at a gate the test opens.
HANDLE g_gate = nullptr;
HANDLE g_installEntered = nullptr;
bool GatedKit(const char* command) {
  if (std::string(command).rfind("install ", 0) == 0) {
    SetEvent(g_installEntered);
    WaitForSingleObject(g_gate, INFINITE);
  }
  return installkit_double::Run(command);
}

class ControlHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAdapterRegistry();
    installkit_double::Reset();
    msports_double::Reset();
    g_gate = gate_.get();
    g_installEntered = installEntered_.get();
    pnpsvc::SetInstallKitRunner(GatedKit);
    pnpsvc::SetBindRetryPauseMs(1);
    usb_.Initialize = FakeInitialize;
    usb_.Free = FakeFree;
    usb_.GetDescriptor = FakeDescriptor;
    usb_.ControlTransfer = FakeTransfer;
    char file[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(".", "adp", 0, file), 0u);  // a path ReadDeviceSerial can open
    path_ = file;
    ASSERT_TRUE(pnpsvc::StartDeviceNotices(&usb_, pnpEvent_.get()));
  }
  void TearDown() override {
    SetEvent(gate_.get());
    pnpsvc::StopDeviceNotices();
    pnpsvc::SetInstallKitRunner(nullptr);
    DeleteFileA(path_.c_str());
  }

  win32::UniqueHandle gate_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  win32::UniqueHandle installEntered_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  win32::UniqueHandle pnpEvent_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  pnpsvc::WinUsbApi usb_;
  std::string path_;
};

TEST_F(ControlHandlerTest, ArrivalAndRemovalAreCarriedOutInOrderAfterTheHandlerReturned) {
  SetSlot(0, 0x2222, 9);  // the arrival installs a virtual COM port: it waits at the gate
  auto arrival = InterfaceBroadcast(path_);
  auto removal = InterfaceBroadcast(path_);
  EXPECT_EQ(Deliver(DBT_DEVICEARRIVAL, arrival), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(Deliver(DBT_DEVICEREMOVECOMPLETE, removal), static_cast<DWORD>(NO_ERROR));
  // Both answered while the arrival's install has not even been let through.
  ASSERT_EQ(WaitForSingleObject(installEntered_.get(), 10000), WAIT_OBJECT_0);
  EXPECT_EQ(EnumValues()[path_], 0x2222u) << "recorded before its port is installed";
  EXPECT_TRUE(installkit_double::Commands().empty()) << "the install is held; the removal waits behind it";

  SetEvent(gate_.get());
  ASSERT_TRUE(pnpsvc::WaitDeviceNoticesIdle(20000));
  EXPECT_EQ(EnumValues().count(path_), 0u);
  const std::vector<std::string> commands = installkit_double::Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands.front().rfind("install ", 0), 0u);
  EXPECT_EQ(commands.back().rfind("remove @ROOT\\PORTS\\", 0), 0u) << "the port bound at arrival goes";
  EXPECT_TRUE(installkit_double::Nodes(pnpsvc::kVirtualPortHardwareId).empty());
}

TEST_F(ControlHandlerTest, StopIsAnsweredWhileAnInstallIsInHand) {
  SetSlot(0, 0x2222, 9);
  auto arrival = InterfaceBroadcast(path_);
  Deliver(DBT_DEVICEARRIVAL, arrival);
  ASSERT_EQ(WaitForSingleObject(installEntered_.get(), 10000), WAIT_OBJECT_0);
  EXPECT_EQ(pnpsvc::service_ctrl_ex(SERVICE_CONTROL_STOP, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(pnpsvc::service_ctrl_ex(SERVICE_CONTROL_SHUTDOWN, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
  // Notices waiting behind the install are dropped when the worker stops.
  auto second = InterfaceBroadcast(path_ + "-second");
  Deliver(DBT_DEVICEARRIVAL, second);
  SetEvent(gate_.get());
  pnpsvc::StopDeviceNotices();
  EXPECT_EQ(EnumValues().count(path_ + "-second"), 0u);
  EXPECT_FALSE(pnpsvc::PostDeviceNotice(pnpsvc::DeviceNotice::kArrival, path_)) << "nothing runs after the stop";
}

TEST_F(ControlHandlerTest, OtherBroadcastsAndEventsChangeNothing) {
  auto volume = InterfaceBroadcast(path_, DBT_DEVTYP_VOLUME);
  auto iface = InterfaceBroadcast(path_);
  Deliver(DBT_DEVICEARRIVAL, volume);
  Deliver(DBT_DEVICEQUERYREMOVE, iface);
  EXPECT_EQ(pnpsvc::service_ctrl_ex(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, nullptr, nullptr),
            static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(pnpsvc::service_ctrl_ex(SERVICE_CONTROL_INTERROGATE, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
  ASSERT_TRUE(pnpsvc::WaitDeviceNoticesIdle(20000));
  EXPECT_TRUE(EnumValues().empty());
  EXPECT_TRUE(installkit_double::Commands().empty());
}

}  // namespace
