// The modem library against the running service: binding over the real pipe,
// the configuration and attached lists it reads back, the plug-and-play
// relay, and an open of an adapter found through EnumKey.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <set>

#include "adapter_presence.h"
#include "adapter_tracking.h"
#include "modemapi/modemapi.h"
#include "msports_double.h"
#include "service_fixture.h"
#include "shared/named_events.h"
#include "shared/registry_layout.h"
#include "sim/sim_control.h"
#include "test_support.h"

namespace {

using namespace pnpsvc_test;
using Row = std::array<uint8_t, 7>;

std::array<uint8_t, 5> Bind(uint32_t serial) {
  return {1, static_cast<uint8_t>(serial), static_cast<uint8_t>(serial >> 8), static_cast<uint8_t>(serial >> 16),
          static_cast<uint8_t>(serial >> 24)};
}

Row ConfiguredRow(uint8_t number, uint8_t* status) {
  Row row;
  row.fill(0xEE);
  *status = vtHART_GetDriverConfiguration(number, row.data());
  return row;
}

class LibraryWithServiceTest : public TwoAdaptersPresentTest {
 protected:
  void SetUp() override {
    if (ServiceState() == 0) {
      ASSERT_EQ(RunProgram("\"" + BesideTest("pnpsvc.exe") + "\" -install", nullptr), 0);
    }
    PrepareServiceEnvironment(0);
    msports_double::Reset();
    ClearAdapterRegistry();
    ASSERT_TRUE(StartAndWaitRunning());
  }
  void TearDown() override { StopAndWaitStopped(); }
};

TEST_F(LibraryWithServiceTest, BindingGoesThroughTheServiceAndReadsBack) {
  auto bind = Bind(0x1234);
  ASSERT_EQ(vtHART_SetDriverConfiguration(3, bind.data()), 0);
  for (int n = 0; n <= 3; ++n)
    EXPECT_TRUE(KeyExists((std::string(shared::kConfigKeyPath) + "\\" + std::to_string(n)).c_str())) << n;
  DWORD serial = 0;
  EXPECT_TRUE(ReadDword("Software\\VELTRA\\evHRT USB\\Config\\3", "USB-Id", &serial));
  EXPECT_EQ(serial, 0x1234u);

  uint8_t status = 0xFF;
  EXPECT_EQ(ConfiguredRow(3, &status), (Row{1, 0x34, 0x12, 0, 0, 1, 0}));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ConfiguredRow(2, &status), (Row{0, 0, 0, 0, 0, 0, 0}));  // created, not bound

  // Both adapters are attached; only 0x1234 is bound.
  std::set<uint32_t> listed;
  Row row;
  for (uint8_t flags = 0x60; vtHART_AttachedDevices(flags, row.data()) == 0; flags = 0x80)
    listed.insert(row[1] | row[2] << 8 | row[3] << 16 | row[4] << 24);
  EXPECT_EQ(listed, (std::set<uint32_t>{0x1234, 0x5678}));
  EXPECT_EQ(vtHART_AttachedDevices(0x40, row.data()), 0);
  EXPECT_EQ(row[1] | row[2] << 8, 0x1234);
  EXPECT_EQ(vtHART_AttachedDevices(0x80, row.data()), 2);

  uint8_t unbind[5] = {0, 0, 0, 0, 0};
  ASSERT_EQ(vtHART_SetDriverConfiguration(3, unbind), 0);
  EXPECT_FALSE(ReadDword("Software\\VELTRA\\evHRT USB\\Config\\3", "USB-Id", &serial));
  EXPECT_TRUE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\3"));
}

TEST_F(LibraryWithServiceTest, OpenFindsTheAdapterThroughEnumKeyAndShowsItInUse) {
  auto bind = Bind(0x5678);
  ASSERT_EQ(vtHART_SetDriverConfiguration(0, bind.data()), 0);
  ASSERT_EQ(vtHART_DeviceInit(0, 1), 0);
  uint8_t status = 0xFF;
  EXPECT_EQ(ConfiguredRow(0, &status), (Row{1, 0x78, 0x56, 0, 0, 1, 1}));
  EXPECT_EQ(vtHART_SetDriverConfiguration(0, bind.data()), 15);  // in use: no rebinding
  EXPECT_EQ(vtHART_CloseDevice(0), 0);
}

// Wine never sends device notices to a service, so the service's own arrival
// and removal handling runs here in the test process, on the service's named
// event.
TEST_F(LibraryWithServiceTest, ArrivalAndRemovalPulseTheServiceEventThatTheLibraryRelays) {
  adapter_presence::PresentAdapter third;
  ASSERT_TRUE(adapter_presence::RegisterPresentAdapter("SIM9ABC", &third));
  ASSERT_TRUE(SimCreateAdapter(third.deviceFile.c_str(), 0x9ABC));

  HANDLE callerEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(vtHART_NotifyPnP(callerEvent, 1), 0);
  HANDLE serviceEvent = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, shared::kServicePnpEventGlobalName);
  ASSERT_NE(serviceEvent, nullptr) << "the service makes its event in the global namespace";
  pnpsvc::WinUsbApi usb;
  ASSERT_EQ(usb.Load(), pnpsvc::WinUsbApi::LoadResult::kLoaded);
  // The library's relay passes the service event's pulses on to the caller.
  // A pulse reaches only a relay that waits at that moment, and nothing
  // shows when it waits: pulse until one got through.
  bool relayWaits = false;
  for (int i = 0; i < 100 && !relayWaits; ++i) {
    PulseEvent(serviceEvent);
    relayWaits = WaitForSingleObject(callerEvent, 20) == WAIT_OBJECT_0;
  }
  ASSERT_TRUE(relayWaits);

  // The relay may be between two waits when arrival and removal pulse the
  // event (a pulse then is not relayed): their pulses are watched by a
  // waiter that surely waits.
  {
    PulseWatch pulse(serviceEvent);
    pnpsvc::OnDeviceArrival(usb, third.interfacePath, serviceEvent);
    EXPECT_TRUE(pulse.Seen());
  }
  EXPECT_EQ(EnumValues()[third.interfacePath], 0x9ABCu);

  auto bind = Bind(0x9ABC);
  ASSERT_EQ(vtHART_SetDriverConfiguration(0, bind.data()), 0);
  EXPECT_EQ(vtHART_DeviceInit(0, 1), 0);
  EXPECT_EQ(vtHART_CloseDevice(0), 0);

  {
    PulseWatch pulse(serviceEvent);
    pnpsvc::OnDeviceRemoval(third.interfacePath, serviceEvent);
    EXPECT_TRUE(pulse.Seen());
  }
  EXPECT_EQ(EnumValues().count(third.interfacePath), 0u);

  EXPECT_EQ(vtHART_NotifyPnP(nullptr, 3), 0);
  adapter_presence::SetAdapterLinked(third.interfacePath, false);  // unplugged for the cases after this one
  CloseHandle(serviceEvent);
  CloseHandle(callerEvent);
}

}  // namespace
