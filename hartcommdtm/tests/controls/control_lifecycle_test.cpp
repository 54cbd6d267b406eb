// Every control of the DTM, hosted by ProgID with the real DTM, in the
// orders a frame may choose: hosted and then initialised, initialised before
// it is hosted, and deactivated and activated again after the user's input.
// Each order shows the same and the control's OK writes the same. Also what
// the reader sees after a re-activation, in English and in German, Escape
// routed as a frame routes keys, a language change while the control is
// open, the German button texts' room, and an Init that fails after the
// control registered.
#include <windows.h>

#include <string>
#include <vector>

#include "address_controls_fixture.h"
#include "sim/sim_control.h"
#include "controls/control_resources.h"
#include "dtm/dtm_ids.h"
#include "fdtidl/ToolkitHooks.h"

namespace hartdtmtest {
namespace {

enum class Control {
  kChannelConfiguration,
  kDriverConfiguration,
  kDeviceList,
  kSlaveAddress,
  kAddressForDtm,
  kNewDeviceDtmAddress,
  kDeviceAndDtmAddress,
};

struct ControlCase {
  Control control;
  const char* name;  // of the screenshots
  const wchar_t* progId;
  ULONG function;
  const wchar_t* caption;
  int dialogWidth, dialogHeight;  // dialog units
};

const ControlCase kChannelConfiguration = {Control::kChannelConfiguration, "channel_configuration",
                                           L"vtFDT.FSKMavixCommDTM_ChannelConfig", hart_function::kChannelConfiguration,
                                           L"Channel Configuration", 299, 160};
const ControlCase kDriverConfiguration = {Control::kDriverConfiguration, "driver_configuration",
                                          L"vtFDT.FSKMavixCommDTM_DriverConfigCtrl",
                                          hart_function::kDriverConfiguration, L"Driver Configuration", 299, 205};
const ControlCase kDeviceList = {Control::kDeviceList, "device_list", L"vtFDT.FSKMavixCommDTM_DeviceListCtrl",
                                 hart_function::kDeviceList, L"Device List", 299, 200};
const ControlCase kSlaveAddress = {Control::kSlaveAddress, "slave_address", L"vtFDT.FSKMavixCommDTM_SetSlaveAddrCtrl",
                                   hart_function::kSlaveAddress, L"Change Slave Address", 299, 125};
const ControlCase kAddressForDtm = {Control::kAddressForDtm, "address_for_dtm", L"vtFDT.FSKMavixCommDTM_GetAddrForDtm",
                                    hart_function::kAddressForDtm, L"Get Address for DTM", 299, 110};
const ControlCase kNewDeviceDtmAddress = {Control::kNewDeviceDtmAddress, "new_device_dtm_address",
                                          L"vtFDT.FSKMavixCommDTM_SetDevDtmAddrCtrl",
                                          hart_function::kNewDeviceDtmAddress, L"Set DeviceDTM Address", 299, 160};
const ControlCase kDeviceAndDtmAddress = {Control::kDeviceAndDtmAddress, "device_and_dtm_address",
                                          L"vtFDT.FSKMavixCommDTM_SetDevAndDtmAddr",
                                          hart_function::kDeviceAndDtmAddress, L"Set DTM and Device Address", 299,
                                          160};

constexpr uint32_t kDevice = 0x000333;

std::wstring Text(const com::Variant& value) {
  com::Variant text;
  if (FAILED(::VariantChangeType(text.get(), const_cast<VARIANT*>(value.get()), 0, VT_BSTR))) return L"?";
  return V_BSTR(text.get());
}

class ControlOrderTest : public AddressControlsFixture, public ::testing::WithParamInterface<const ControlCase*> {
 protected:
  const ControlCase& Case() const { return *GetParam(); }

  // The DTM, the bus and the parameters the control is opened for; each
  // time on a new DTM (StartAgain) with the same simulated adapter. The
  // DTM goes online for the controls that need it, and for every control
  // when goOnline.
  void Prepare(LONG language = 1033, bool goOnline = false) {
    const bool online =
        goOnline || Case().control == Control::kSlaveAddress || Case().control == Control::kDeviceAndDtmAddress;
    if ((online || Case().control == Control::kDriverConfiguration) && !bound_) {
      BindDeviceNumber(0);
      bound_ = true;
    }
    Configure();
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (online) {
      ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
      ASSERT_EQ(VARIANT_TRUE, ok);
      ASSERT_TRUE(PumpUntil([&] { return State() == 12; }));
      SimRemoveFieldDevice(kSerial, kDevice);  // moved by an earlier round
    }
    ASSERT_EQ(S_OK, dtm->SetLanguage(language, &ok));
    switch (Case().control) {
      case Control::kDeviceList:
        AddChild(L"c5", L"TT-5", 5);
        break;
      case Control::kSlaveAddress:
        AddDevice(3, kDevice);
        ASSERT_EQ(S_OK, Write(hart_param::kSelectedPollAddress, UI1(3).value()));
        break;
      case Control::kAddressForDtm:
        AddChild(L"c9", L"TT-901", 5);
        ASSERT_EQ(S_OK, Write(hart_param::kNewAddress, I4(5).value()));
        ASSERT_EQ(S_OK, Write(hart_param::kNewAddressTag, *com::Variant(L"TT-901").get()));
        break;
      case Control::kNewDeviceDtmAddress:
        AddChild(L"c7", L"TT-7", 7);
        ASSERT_EQ(S_OK, Write(hart_param::kNewDeviceSystemTag, *com::Variant(L"c7").get()));
        break;
      case Control::kDeviceAndDtmAddress:
        AddDevice(3, kDevice);
        AddChild(L"d3", L"PT-3", 3);
        ASSERT_EQ(S_OK, Write(hart_param::kSelectedPollAddress, UI1(3).value()));
        ASSERT_EQ(S_OK, Write(hart_param::kNewDeviceSystemTag, *com::Variant(L"d3").get()));
        break;
      default:
        break;
    }
    frame->clearCalls();
  }

  void Open(FrameOrder order) {
    OpenControlInOrder(order, Case().progId, Case().function, Case().caption, 520, 360);
    ASSERT_EQ(VARIANT_TRUE, initialised);
    host.fitToDialog(Case().dialogWidth, Case().dialogHeight);
  }

  // What the user enters before applying it.
  void Input() {
    switch (Case().control) {
      case Control::kChannelConfiguration:
        host.typeText(IDC_PREAMBLES, L"8");
        host.typeText(IDC_MAX_SCAN_ADDRESS, L"70");  // invalid until the user mends it
        host.click(IDC_PRIMARY_MASTER);
        break;
      case Control::kDriverConfiguration:
        host.clickListRow(IDC_ADAPTER_LIST, 0);
        host.click(IDC_INIT_DEVICE);
        break;
      case Control::kDeviceList:
        host.clickListRow(IDC_DEVICE_LIST, 0);
        break;
      case Control::kSlaveAddress:
        host.typeText(IDC_NEW_ADDRESS, L"9");
        break;
      case Control::kAddressForDtm:
        host.typeText(IDC_ADDRESS, L"42");
        break;
      case Control::kNewDeviceDtmAddress:
        host.typeText(IDC_ADDRESS, L"12");
        host.typeText(IDC_DTM_TAG, L"TT-12");
        break;
      case Control::kDeviceAndDtmAddress:
        host.typeText(IDC_SLAVE_ADDRESS, L"8");
        host.typeText(IDC_CHILD_TAG, L"PT-8");
        break;
    }
  }

  // The control's OK (or the action it offers in its place).
  void Apply() {
    switch (Case().control) {
      case Control::kChannelConfiguration:
        host.typeText(IDC_MAX_SCAN_ADDRESS, L"40");
        host.click(IDOK);
        break;
      case Control::kDeviceList:
        host.click(IDC_SET_ADDRESS);
        break;
      case Control::kDeviceAndDtmAddress:
        host.click(IDOK);
        break;
      default:
        host.click(IDC_APPLY);
        break;
    }
    control_host::HostedControl::pump();
  }

  // What the control's OK wrote, and whether it asked to be closed.
  std::wstring Written() {
    std::wstring written;
    auto parameter = [&](ULONG id) { written += std::to_wstring(id) + L"=" + Text(Read(id)) + L" "; };
    switch (Case().control) {
      case Control::kChannelConfiguration:
        for (ULONG id : {hart_param::kPrimaryMaster, hart_param::kPreambleCount, hart_param::kRetryCount,
                         hart_param::kMaxScanAddress})
          parameter(id);
        break;
      case Control::kDriverConfiguration: {
        parameter(hart_param::kDeviceNumber);
        // The adapter the control tried is closed again.
        win32::UniqueFile device(::CreateFileA(adapter_->DevicePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        written += device.valid() ? L"adapter free " : L"adapter held ";
        break;
      }
      case Control::kDeviceList:
        parameter(hart_param::kNewDeviceSystemTag);
        for (const auto& call : frame->callsTo("OpenActiveXControlRequest"))
          written += L"opens " + call.arguments.at(1).substr(call.arguments.at(1).find(L"functionId")) + L" ";
        break;
      case Control::kSlaveAddress:
        written += L"device at " + std::to_wstring(PollingAddressOf(kDevice)) + L" \"" +
                   host.text(IDC_STATUS_TEXT) + L"\" ";
        break;
      case Control::kAddressForDtm:
        parameter(hart_param::kAddressCancelled);
        parameter(hart_param::kNewAddress);
        break;
      case Control::kNewDeviceDtmAddress:
        written += L"c7: " + ChildEntry(L"c7") + L" ";
        break;
      case Control::kDeviceAndDtmAddress:
        written += L"device at " + std::to_wstring(PollingAddressOf(kDevice)) + L", d3: " + ChildEntry(L"d3") + L" ";
        break;
    }
    return written + (host.closed() ? L"closed" : L"open");
  }

  bool bound_ = false;
};

// The same control in each order, each on a DTM of its own: what the
// dialog shows once the user has entered something, and what OK writes.
TEST_P(ControlOrderTest, ShowsTheSameAndWritesTheSameInEveryFrameOrder) {
  std::wstring shown[3], written[3];
  const FrameOrder orders[] = {FrameOrder::kActivateThenInit, FrameOrder::kInitThenActivate,
                               FrameOrder::kReactivated};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(FrameOrderName(orders[i]));
    if (i > 0) StartAgain();
    Prepare();
    Open(orders[i]);
    Input();
    if (orders[i] == FrameOrder::kReactivated) Reactivate();
    shown[i] = DialogContent(host.dialog());
    Apply();
    written[i] = Written();
  }
  EXPECT_EQ(shown[0], shown[1]) << FrameOrderName(orders[1]);
  EXPECT_EQ(shown[0], shown[2]) << FrameOrderName(orders[2]);
  EXPECT_EQ(written[0], written[1]) << FrameOrderName(orders[1]);
  EXPECT_EQ(written[0], written[2]) << FrameOrderName(orders[2]);

  // And what it is to write.
  const wchar_t* expected = L"";
  switch (Case().control) {
    case Control::kChannelConfiguration:
      expected = L"1001=0 1002=8 1003=3 1015=40 closed";
      break;
    case Control::kDriverConfiguration:
      expected = L"1000=0 adapter free closed";
      break;
    case Control::kDeviceList:
      expected = L"1007=c5 opens functionId=\"11\"/> </FDT> open";
      break;
    case Control::kSlaveAddress:
      expected = L"device at 9 \"address change successful\" open";
      break;
    case Control::kAddressForDtm:
      expected = L"1011=0 1012=42 closed";
      break;
    case Control::kNewDeviceDtmAddress:
      expected = L"c7: TT-12 12 closed";
      break;
    case Control::kDeviceAndDtmAddress:
      expected = L"device at 8, d3: PT-8 8 closed";
      break;
  }
  EXPECT_EQ(expected, written[0]) << shown[0];
}

// For a reader: each control after a re-activation, in English and German.
TEST_P(ControlOrderTest, RendersAfterReactivationInEnglishAndGerman) {
  const struct {
    LONG language;
    const char* suffix;
  } languages[] = {{1033, "en"}, {1031, "de"}};
  for (const auto& language : languages) {
    SCOPED_TRACE(language.suffix);
    if (language.language != 1033) StartAgain();
    Prepare(language.language);
    Open(FrameOrder::kReactivated);
    Input();
    Reactivate();
    SaveScreenshot((std::string(Case().name) + "_reactivated_" + language.suffix).c_str());
  }
}

// Escape, as a frame routes its keys through the object the UI-active
// control named, does what the dialog's Cancel or Close button does: the
// control asks to be closed and the frame closes it. Also in the window of
// a re-activation.
TEST_P(ControlOrderTest, EscapeDoesWhatTheCancelOrCloseButtonDoes) {
  for (FrameOrder order : {FrameOrder::kActivateThenInit, FrameOrder::kReactivated}) {
    SCOPED_TRACE(FrameOrderName(order));
    if (order != FrameOrder::kActivateThenInit) StartAgain();
    host.useOwnSite();
    Prepare();
    Open(order);
    if (order == FrameOrder::kReactivated) Reactivate();
    // The user clicks into the first item that takes the focus.
    HWND first = ::GetNextDlgTabItem(host.dialog(), nullptr, FALSE);
    ASSERT_TRUE(first);
    const UINT item = static_cast<UINT>(::GetDlgCtrlID(first));
    ASSERT_TRUE(host.clickInto(item)) << item;
    ASSERT_TRUE(host.activeObject()) << "the control did not become UI active";
    ASSERT_TRUE(host.enabled(IDC_CANCEL));
    ASSERT_TRUE(host.pressKeyInFrame(item, VK_ESCAPE)) << item;
    EXPECT_TRUE(PumpUntil([&] { return host.closed(); })) << "Escape in item " << item << " left it open";
    EXPECT_EQ(std::vector<VARIANT_BOOL>{VARIANT_TRUE}, releaseAnswers);
  }
}

// The frame switches the DTM's language while the control is open, the DTM
// online (so that the configuration controls show why they are locked):
// afterwards the control shows what it shows when it is opened in that
// language in the same state, every item's text and state, list columns
// and rows, tool tips and footer statuses alike.
TEST_P(ControlOrderTest, AfterALanguageChangeShowsWhatItShowsWhenOpenedInThatLanguage) {
  Prepare(1033, true);
  Open(FrameOrder::kActivateThenInit);
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetLanguage(1031, &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  control_host::HostedControl::pump();
  const std::wstring switched = DialogContent(host.dialog());
  const std::vector<ShownText> switchedTexts = ShownTexts(true);

  StartAgain();
  Prepare(1031, true);
  Open(FrameOrder::kActivateThenInit);
  EXPECT_EQ(DialogContent(host.dialog()), switched);
  EXPECT_EQ(ShownTexts(true), switchedTexts);
}

// Opened in German, every push button's text fits inside its button with a
// margin on either side (ButtonTextMargin).
TEST_P(ControlOrderTest, GermanButtonTextsFitTheirButtons) {
  Prepare(1031);
  Open(FrameOrder::kActivateThenInit);
  EXPECT_EQ(L"", TightButtons(host.dialog()));
}

INSTANTIATE_TEST_SUITE_P(ChannelConfiguration, ControlOrderTest, ::testing::Values(&kChannelConfiguration));
INSTANTIATE_TEST_SUITE_P(DriverConfiguration, ControlOrderTest, ::testing::Values(&kDriverConfiguration));
INSTANTIATE_TEST_SUITE_P(DeviceList, ControlOrderTest, ::testing::Values(&kDeviceList));
INSTANTIATE_TEST_SUITE_P(SlaveAddress, ControlOrderTest, ::testing::Values(&kSlaveAddress));
INSTANTIATE_TEST_SUITE_P(AddressForDtm, ControlOrderTest, ::testing::Values(&kAddressForDtm));
INSTANTIATE_TEST_SUITE_P(NewDeviceDtmAddress, ControlOrderTest, ::testing::Values(&kNewDeviceDtmAddress));
INSTANTIATE_TEST_SUITE_P(DeviceAndDtmAddress, ControlOrderTest, ::testing::Values(&kDeviceAndDtmAddress));

class ControlLifecycleTest : public ControlsFixture {};

// Attached to a data set but not yet configured, the DTM has no channel: the
// device list's Init fails after it registered, and takes its record, and
// with it the data-set lock, back.
TEST_F(ControlLifecycleTest, InitThatFailsAfterRegisteringLeavesNoRecordAndNoLock) {
  Attach();
  com::ComPtr<IevFdtOpenControls> open;
  ASSERT_EQ(S_OK, object.as(open));
  ASSERT_EQ(S_OK, host.create(kDeviceList.progId, kDeviceList.caption, 520, 360));
  com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
  ASSERT_TRUE(control);
  com::Bstr call(FunctionCallDocument(hart_function::kDeviceList).c_str());
  const HRESULT hr = control->Init(tag.get(), call.get(), object.get(), &initialised);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(VARIANT_FALSE, initialised);
  EXPECT_EQ(0u, open->OpenControlCount());
  EXPECT_EQ(0u, open->OpenLockingFunctionCount());
  control.reset();
  host.close();
}

}  // namespace
}  // namespace hartdtmtest
