// The slave address control hosted by ProgID with the HART DTM online on
// the simulated adapter: a device moved to another polling address, and
// the text of every outcome the channel can give; the items locked while
// the DTM does not communicate; without the DTM's channel.
#include <windows.h>

#include <string>

#include "bus_fixture.h"
#include "controls/control_resources.h"
#include "dtm/dtm_ids.h"

namespace hartdtmtest {
namespace {

const wchar_t kProgId[] = L"vtFDT.FSKMavixCommDTM_SetSlaveAddrCtrl";
const wchar_t kScanAgain[] = L"The device may already have moved: scan the bus again.";
const wchar_t kOutOfRange[] = L"The address for the HART slave device is out of range.";

class SlaveAddressTest : public BusControlsFixture {
 protected:
  // The control for the device the DTM has selected (parameter 1006).
  void OpenFor(BYTE selected) {
    if (!host.closed()) {
      // Closed as the user closes it: released by the DTM's frame.
      host.click(IDC_CANCEL);
      control_host::HostedControl::pump();
      ASSERT_TRUE(host.closed());
    }
    ASSERT_EQ(S_OK, Write(hart_param::kSelectedPollAddress, UI1(selected).value()));
    OpenControl(kProgId, hart_function::kSlaveAddress, L"Change Slave Address", 460, 200);
    ASSERT_EQ(VARIANT_TRUE, initialised);
  }
  // The outcome of moving the device to the address typed in.
  std::wstring Change(const wchar_t* address) {
    host.typeText(IDC_NEW_ADDRESS, address);
    host.click(IDC_APPLY);
    return host.text(IDC_STATUS_TEXT);
  }
};

TEST_F(SlaveAddressTest, MovesTheDeviceAndTellsEveryOutcome) {
  GoOnlineOnBus();
  const SimFieldDevice a = AddDevice(1, 0x000011, "A");
  AddDevice(2, 0x000022, "B");

  OpenFor(9);
  EXPECT_EQ(L"9", host.text(IDC_CURRENT_ADDRESS));
  EXPECT_EQ(L"source not found", Change(L"10"));

  OpenFor(1);
  EXPECT_EQ(L"1", host.text(IDC_CURRENT_ADDRESS));
  EXPECT_TRUE(host.readOnly(IDC_CURRENT_ADDRESS));
  EXPECT_EQ(2, ::SendMessageW(host.item(IDC_NEW_ADDRESS), EM_GETLIMITTEXT, 0, 0)) << "two digits";
  EXPECT_EQ(L"target address exists", Change(L"2"));
  EXPECT_EQ(L"target address exists", Change(L"1")) << "the device answers at its own address";
  EXPECT_EQ(kOutOfRange, Change(L"64")) << "refused before the channel is asked";
  EXPECT_EQ(L"1", host.text(IDC_CURRENT_ADDRESS));

  EXPECT_EQ(L"address change successful", Change(L"5"));
  EXPECT_EQ(L"5", host.text(IDC_CURRENT_ADDRESS));
  EXPECT_EQ(5, Device(a.deviceId).pollingAddress);
  EXPECT_TRUE(host.enabled(IDC_APPLY)) << "ready for the next change";

  // The device takes command 6 but stays where it is: nothing answers at
  // the new address. It could as well have moved: scan again.
  const uint8_t six = 6;
  ASSERT_TRUE(SimSetAnswer(kSerial, a.deviceId, 6, 0, &six, 1));
  EXPECT_EQ(std::wstring(L"not found at new address\r\n") + kScanAgain, Change(L"6"));
  EXPECT_EQ(L"5", host.text(IDC_CURRENT_ADDRESS));
  // No answer to command 6 at all.
  ASSERT_TRUE(SimSetNoAnswer(kSerial, a.deviceId, 6));
  EXPECT_EQ(std::wstring(L"FAILED\r\n") + kScanAgain, Change(L"6"));
  ASSERT_TRUE(SimClearAnswer(kSerial, a.deviceId, SIM_ALL_COMMANDS));

  // A device DTM's connection holds the device.
  ASSERT_TRUE(ConnectDeviceDtm(5));
  EXPECT_EQ(L"device is in use", Change(L"6"));
  EXPECT_EQ(5, Device(a.deviceId).pollingAddress);
}

// An entry that is no address 0 to 63 moves nothing: read as a number it
// would be address 0, which also puts the device back to an analogue loop
// current.
TEST_F(SlaveAddressTest, EntriesThatAreNoAddressMoveNothing) {
  GoOnlineOnBus();
  const SimFieldDevice a = AddDevice(1, 0x000011, "A");
  AddDevice(0, 0x000022, "B");  // were anything sent, "target address exists"
  OpenFor(1);
  EXPECT_EQ(kOutOfRange, Change(L""));
  for (const wchar_t* entry : {L"abc", L"-1", L"99999999999"}) {
    host.paste(IDC_NEW_ADDRESS, entry);
    host.click(IDC_APPLY);
    EXPECT_EQ(kOutOfRange, host.text(IDC_STATUS_TEXT)) << "'" << entry << "'";
  }
  EXPECT_EQ(kOutOfRange, Change(L"64"));
  EXPECT_EQ(kOutOfRange, Change(L"99999999999")) << "typed: two digits taken";
  EXPECT_EQ(1, Device(a.deviceId).pollingAddress);
  EXPECT_EQ(L"1", host.text(IDC_CURRENT_ADDRESS));
  EXPECT_EQ(L"address change successful", Change(L"2"));
}

TEST_F(SlaveAddressTest, ChangeIsOfferedOnlyWhileTheDtmCommunicates) {
  BindDeviceNumber(0);
  Configure();
  OpenFor(1);
  EXPECT_FALSE(host.enabled(IDC_APPLY));
  EXPECT_FALSE(host.enabled(IDC_NEW_ADDRESS));
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == 12; }));
  control_host::HostedControl::pump();
  EXPECT_TRUE(host.enabled(IDC_APPLY));
  EXPECT_TRUE(host.enabled(IDC_NEW_ADDRESS));
  // Communication set (state 9), not online: still offered.
  ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == 9; }));
  control_host::HostedControl::pump();
  EXPECT_TRUE(host.enabled(IDC_APPLY));
  EXPECT_TRUE(host.enabled(IDC_NEW_ADDRESS));
  // An observer may not change it.
  ASSERT_EQ(S_OK, host.as<IevFdtActiveX4>()->SetProperty(*com::ui4(9988).get(), *com::ui4(1).get()));
  EXPECT_FALSE(host.enabled(IDC_APPLY));
  EXPECT_FALSE(host.enabled(IDC_NEW_ADDRESS));
}

TEST_F(SlaveAddressTest, WithoutTheDtmsChannelInitFailsAndAChangeSaysSo) {
  Attach();
  ASSERT_EQ(S_OK, host.create(kProgId, L"Change Slave Address", 460, 200));
  com::Bstr call(FunctionCallDocument(hart_function::kSlaveAddress).c_str());
  EXPECT_EQ(E_POINTER, host.as<IDtmActiveXControl>()->Init(tag.get(), call.get(), object.get(), &initialised));
  host.click(IDC_APPLY);
  EXPECT_EQ(L"no channel found", host.text(IDC_STATUS_TEXT));
}

TEST_F(SlaveAddressTest, Screenshot) {
  GoOnlineOnBus();
  const SimFieldDevice a = AddDevice(1, 0x000011, "A");
  OpenFor(1);
  host.fitToDialog(299, 125);
  // The longest outcome: the device may have moved.
  const uint8_t seven = 7;
  ASSERT_TRUE(SimSetAnswer(kSerial, a.deviceId, 6, 0, &seven, 1));
  Change(L"7");
  SaveScreenshot("slave_address");
}

}  // namespace
}  // namespace hartdtmtest
