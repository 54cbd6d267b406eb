// The device list hosted by ProgID with the HART DTM online on the
// simulated adapter: the scan started and stopped from the list, the
// scanned devices merged with the child DTMs of the frame double, the rows
// refreshed while a scan runs and when children change, the address
// functions opened for each kind of row, the scan stopped on Close.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "bus_fixture.h"
#include "controls/control_resources.h"
#include "dtm/dtm_ids.h"

namespace hartdtmtest {
namespace {

const wchar_t kProgId[] = L"vtFDT.FSKMavixCommDTM_DeviceListCtrl";

enum Column { kAddress, kState, kChannel, kInUse, kHartTag, kDtmTag, kManufacturer, kDeviceType, kDeviceId, kHw, kSw };

class DeviceListTest : public BusControlsFixture {
 protected:
  void Open() {
    OpenControl(kProgId, hart_function::kDeviceList, L"Device List", 640, 330);
    ASSERT_EQ(VARIANT_TRUE, initialised);
  }

  int Rows() { return ListRows(IDC_DEVICE_LIST); }
  std::wstring Cell(int row, int column) { return ListCellText(IDC_DEVICE_LIST, row, column); }
  // Address, state image, channel and tags of a row: "03 2 HART PT-3A TT-3".
  std::wstring Row(int row) {
    return Cell(row, kAddress) + L" " + std::to_wstring(ListImage(IDC_DEVICE_LIST, row, kState)) + L" " +
           Cell(row, kChannel) + L" " + Cell(row, kDtmTag) + L" " + Cell(row, kHartTag);
  }
  int RowOfAddress(const wchar_t* address) {
    for (int row = 0; row < Rows(); ++row)
      if (Cell(row, kAddress) == address) return row;
    return -1;
  }

  bool ScanRunning() { return host.enabled(IDC_STOP_SCAN); }
  // Update List, then until the channel reported the scan's end.
  void Scan() {
    host.click(IDC_UPDATE_LIST);
    ASSERT_TRUE(PumpUntil([&] { return host.enabled(IDC_UPDATE_LIST); }, 30000));
  }
  bool ScanActiveParameter() {
    com::Variant active = Read(hart_param::kScanActive);
    return active.type() == VT_BOOL && V_BOOL(active.get()) != VARIANT_FALSE;
  }
  // A device of the channel's found-device table, as the channel tells it.
  struct Found {
    HRESULT result = E_FAIL;
    unsigned char address = 0, hardwareRevision = 0, softwareRevision = 0;
    std::wstring manufacturer, deviceType;
  };
  Found FoundDevice(long index) {
    Found found;
    unsigned char type = 0;
    long inUse = 0, id = 0;
    com::Bstr tagText, manufacturer, typeText;
    found.result = Channel()->GetDeviceInfo(index, &found.address, &inUse, tagText.put(), manufacturer.put(),
                                            typeText.put(), &type, &id, &found.hardwareRevision,
                                            &found.softwareRevision);
    found.manufacturer = manufacturer.c_str();
    found.deviceType = typeText.c_str();
    return found;
  }
  std::wstring ChannelName() {
    com::Bstr name;
    EXPECT_EQ(S_OK, Channel()->GetChannelName(name.put()));
    return name.c_str();
  }
  // The function ids the frame was asked to open controls for, in order.
  std::wstring OpenedFunctions() {
    std::wstring ids;
    for (const auto& call : frame->callsTo("OpenActiveXControlRequest")) {
      const std::wstring& document = call.arguments.at(1);
      const size_t at = document.find(L"functionId=\"");
      ids += (ids.empty() ? L"" : L" ") + document.substr(at + 12, document.find(L'"', at + 12) - at - 12);
    }
    return ids;
  }
};

TEST_F(DeviceListTest, ScanShowsTheDevicesMergedWithTheChildDtmsByAddress) {
  GoOnlineOnBus();
  AddDevice(0, 0x0A0B0C, "TT-0");
  AddDevice(3, 0x000303, "TT-3");
  AddDevice(7, 0x000707, "TT-7");
  AddChildDtm(L"C1", L"PT-3A", 3);
  AddChildDtm(L"C2", L"PT-3B", 3);
  AddChildDtm(L"C3", L"PT-5", 5);
  Open();
  const std::wstring channel = ChannelName();
  ASSERT_FALSE(channel.empty());

  // Before a scan: the children the frame lists, read when the list opened.
  ASSERT_EQ(3, Rows());
  EXPECT_EQ(L"03 3 " + channel + L" PT-3A ", Row(0));
  EXPECT_EQ(L"03 3 " + channel + L" PT-3B ", Row(1));
  EXPECT_EQ(L"05 3 " + channel + L" PT-5 ", Row(2));
  EXPECT_TRUE(host.enabled(IDC_UPDATE_LIST));
  EXPECT_FALSE(host.enabled(IDC_STOP_SCAN));
  EXPECT_FALSE(host.enabled(IDC_SET_ADDRESS));

  Scan();
  EXPECT_FALSE(ScanActiveParameter());
  ASSERT_EQ(5, Rows());
  // The scanned devices in the channel's order; the first DTM at address 3
  // joins its device, the second gets a row of its own with the device's
  // data; the DTM at 5 has no device.
  EXPECT_EQ(L"00 1   TT-0", Row(0));
  EXPECT_EQ(L"03 2 " + channel + L" PT-3A TT-3", Row(1));
  EXPECT_EQ(L"07 1   TT-7", Row(2));
  EXPECT_EQ(L"03 3 " + channel + L" PT-3B TT-3", Row(3));
  EXPECT_EQ(L"05 3 " + channel + L" PT-5 ", Row(4));
  EXPECT_EQ(L"no", Cell(4, kInUse)) << "a DTM alone is not in use";

  // The cells of a device as the channel describes it.
  const Found first = FoundDevice(0);
  ASSERT_EQ(S_OK, first.result);
  EXPECT_EQ(L"no", Cell(0, kInUse));
  EXPECT_EQ(first.manufacturer, Cell(0, kManufacturer));
  EXPECT_EQ(first.deviceType, Cell(0, kDeviceType));
  EXPECT_EQ(L"0A0B0C", Cell(0, kDeviceId)) << "three bytes, leading zeros kept";
  EXPECT_EQ(std::to_wstring(first.hardwareRevision), Cell(0, kHw));
  EXPECT_EQ(std::to_wstring(first.softwareRevision), Cell(0, kSw));
  EXPECT_EQ(L"000303", Cell(3, kDeviceId)) << "the second DTM's row repeats its device's data";
  EXPECT_EQ(Cell(1, kSw), Cell(3, kSw));

  // The footer showed the scan status while the scan ran.
  const std::wstring footer = HostedCalls(IDC_FOOTER_BAR);
  EXPECT_NE(std::wstring::npos, footer.find(L"AddPane 1024\n"));
  EXPECT_NE(std::wstring::npos, footer.find(L"RegisterStatus 12345 scanning|scan active - please wait\n"));
  const size_t shown = footer.find(L"ShowStatus 1024 12345\n");
  EXPECT_NE(std::wstring::npos, shown);
  EXPECT_NE(std::wstring::npos, footer.find(L"ShowStatus 1024 0\n", shown));

  // A child added below the channel while the list is open is shown.
  AddChildDtm(L"C4", L"PT-7", 7);
  com::ComPtr<IFdtChannelSubTopology> topology;
  ASSERT_EQ(S_OK, Channel().as(topology));
  com::Bstr c4(L"C4");
  ASSERT_EQ(S_OK, topology->OnAddChild(c4.get()));
  control_host::HostedControl::pump();
  ASSERT_EQ(5, Rows());
  EXPECT_EQ(L"07 2 " + channel + L" PT-7 TT-7", Row(2));
}

TEST_F(DeviceListTest, RowsFollowARunningScanWhichStopScanEnds) {
  GoOnlineOnBus();
  AddDevice(0, 0x000100, "FIRST");
  AddDevice(1, 0x000101, "SLOW", 1500);
  AddDevice(5, 0x000105, "LATE");
  Open();
  ASSERT_EQ(0, Rows());
  host.click(IDC_UPDATE_LIST);
  EXPECT_FALSE(host.enabled(IDC_UPDATE_LIST));
  EXPECT_TRUE(host.enabled(IDC_STOP_SCAN));
  // The device at 0 shows while the scan goes on.
  ASSERT_TRUE(PumpUntil([&] { return RowOfAddress(L"00") >= 0; }, 30000));
  EXPECT_TRUE(ScanActiveParameter());
  EXPECT_TRUE(ScanRunning());
  // No address functions while the rows are being rebuilt.
  host.clickListRow(IDC_DEVICE_LIST, RowOfAddress(L"00"));
  EXPECT_FALSE(host.enabled(IDC_SET_ADDRESS));
  EXPECT_FALSE(host.enabled(IDC_UPDATE_LIST));

  host.click(IDC_STOP_SCAN);
  ASSERT_TRUE(PumpUntil([&] { return host.enabled(IDC_UPDATE_LIST); }, 30000));
  EXPECT_FALSE(ScanActiveParameter());
  EXPECT_FALSE(host.enabled(IDC_STOP_SCAN));
  EXPECT_GE(RowOfAddress(L"00"), 0);
  EXPECT_EQ(-1, RowOfAddress(L"05")) << "the scan ended before address 5";
  EXPECT_NE(std::wstring::npos, HostedCalls(IDC_FOOTER_BAR).find(L"ShowStatus 1024 0\n"));
}

TEST_F(DeviceListTest, SetAddressOpensTheAddressFunctionOfEachKindOfRow) {
  GoOnlineOnBus();
  AddDevice(3, 0x000303, "TT-3");
  AddDevice(7, 0x000707, "TT-7");
  AddDevice(9, 0x000909, "TT-9");
  AddChildDtm(L"C1", L"PT-3", 3);
  AddChildDtm(L"C5", L"PT-5", 5);
  Open();
  Scan();
  ASSERT_EQ(4, Rows());  // 03 (device and DTM), 07, 09, 05 (DTM)

  // A scanned device: its address into 1006, "Change Slave Address".
  host.clickListRow(IDC_DEVICE_LIST, RowOfAddress(L"07"));
  ASSERT_TRUE(host.enabled(IDC_SET_ADDRESS));
  host.click(IDC_SET_ADDRESS);
  EXPECT_EQ(7, V_UI1(Read(hart_param::kSelectedPollAddress).get()));
  // A DTM alone: its system tag into 1007, "Set DeviceDTM Address".
  host.clickListRow(IDC_DEVICE_LIST, RowOfAddress(L"05"));
  host.click(IDC_SET_ADDRESS);
  EXPECT_EQ(std::wstring(L"C5"), V_BSTR(Read(hart_param::kNewDeviceSystemTag).get()));
  // A device with its DTM while online: both, "Set DTM and Device Address".
  host.clickListRow(IDC_DEVICE_LIST, RowOfAddress(L"03"));
  host.click(IDC_SET_ADDRESS);
  EXPECT_EQ(3, V_UI1(Read(hart_param::kSelectedPollAddress).get()));
  EXPECT_EQ(std::wstring(L"C1"), V_BSTR(Read(hart_param::kNewDeviceSystemTag).get()));
  EXPECT_EQ(L"12 11 10", OpenedFunctions());

  // No row selected: nothing to open.
  host.clickListRow(IDC_DEVICE_LIST, -1);
  EXPECT_FALSE(host.enabled(IDC_SET_ADDRESS));

  // The device with its DTM while the DTM is not online: the DTM's address.
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == 9; }));
  EXPECT_FALSE(host.enabled(IDC_UPDATE_LIST)) << "scans only while online";
  host.clickListRow(IDC_DEVICE_LIST, RowOfAddress(L"03"));
  host.click(IDC_SET_ADDRESS);
  EXPECT_EQ(L"12 11 10 11", OpenedFunctions());
}

TEST_F(DeviceListTest, DeviceHeldByAConnectionIsInUseAndKeepsItsAddress) {
  GoOnlineOnBus();
  AddDevice(9, 0x000909, "TT-9");
  Open();
  Scan();
  ASSERT_EQ(L"no", Cell(RowOfAddress(L"09"), kInUse));
  // The connect changes the channel's counter (1010): the list follows.
  ASSERT_TRUE(ConnectDeviceDtm(9));
  ASSERT_TRUE(PumpUntil([&] { return Cell(RowOfAddress(L"09"), kInUse) == L"yes"; }));
  host.clickListRow(IDC_DEVICE_LIST, RowOfAddress(L"09"));
  EXPECT_FALSE(host.enabled(IDC_SET_ADDRESS));
}

// A command to set the address of a device in use that reaches the list
// all the same (sent to the dialog, while the button is greyed out) changes
// nothing and opens nothing.
TEST_F(DeviceListTest, SetAddressCommandForADeviceInUseChangesNothing) {
  GoOnlineOnBus();
  AddDevice(9, 0x000909, "TT-9");
  Open();
  Scan();
  ASSERT_TRUE(ConnectDeviceDtm(9));
  ASSERT_TRUE(PumpUntil([&] { return Cell(RowOfAddress(L"09"), kInUse) == L"yes"; }));
  host.clickListRow(IDC_DEVICE_LIST, RowOfAddress(L"09"));
  ASSERT_FALSE(host.enabled(IDC_SET_ADDRESS));
  const com::Variant before = Read(hart_param::kSelectedPollAddress);
  ::SendMessageW(host.dialog(), WM_COMMAND, MAKEWPARAM(IDC_SET_ADDRESS, BN_CLICKED),
                 reinterpret_cast<LPARAM>(host.item(IDC_SET_ADDRESS)));
  control_host::HostedControl::pump();
  EXPECT_EQ(L"", OpenedFunctions());
  const com::Variant after = Read(hart_param::kSelectedPollAddress);
  ASSERT_EQ(VT_UI1, after.type());
  EXPECT_EQ(V_UI1(before.get()), V_UI1(after.get()));
}

// The frame may drop the list without PrepareToRelease. Whichever way it
// takes, function 2 is offered again (here it was taken out of the menu
// while the list was open).
TEST_F(DeviceListTest, DroppedWithoutBeingAskedOffersTheFunctionAgainWhicheverWayTheFrameTakes) {
  Configure();
  com::ComPtr<IevFdtActiveXContainer> container;
  ASSERT_EQ(S_OK, object.as(container));
  com::Bstr call(FunctionCallDocument(hart_function::kDeviceList).c_str());
  struct Way {
    const char* name;
    bool activated;
    std::function<void()> drop;
  };
  const Way ways[] = {
      {"IOleObject::Close", true, [&] { EXPECT_EQ(S_OK, host.closeObject()); }},
      {"SetClientSite(nullptr)", true, [&] { EXPECT_EQ(S_OK, host.dropSite()); }},
      {"its window destroyed", true, [&] { host.destroyControlWindow(); }},
      {"the last release of a control never activated", false, [&] { host.release(); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    if (way.activated) {
      Open();
    } else {
      ASSERT_EQ(S_OK, host.createInactive(kProgId));
      com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
      ASSERT_TRUE(control);
      ASSERT_EQ(S_OK, control->Init(tag.get(), call.get(), object.get(), &initialised));
      ASSERT_EQ(VARIANT_TRUE, initialised);
    }
    ASSERT_EQ(S_OK, container->SetFunctionEnabled(hart_function::kDeviceList, 0));
    ASSERT_EQ(L"0", FunctionEnabled(hart_function::kDeviceList));
    way.drop();
    EXPECT_EQ(L"1", FunctionEnabled(hart_function::kDeviceList));
    host.close();
  }
}

// "Set Address ..." follows the selected row however the user selects it,
// with the arrow keys too, and is never offered for a device in use.
TEST_F(DeviceListTest, SetAddressFollowsASelectionMadeWithTheKeyboard) {
  GoOnlineOnBus();
  AddDevice(3, 0x000303, "TT-3");
  AddDevice(9, 0x000909, "TT-9");
  Open();
  Scan();
  ASSERT_TRUE(ConnectDeviceDtm(9));
  ASSERT_TRUE(PumpUntil([&] { return Cell(RowOfAddress(L"09"), kInUse) == L"yes"; }));
  const int free = RowOfAddress(L"03"), held = RowOfAddress(L"09");
  ASSERT_EQ(free + 1, held);

  host.clickListRow(IDC_DEVICE_LIST, free);
  ASSERT_TRUE(host.enabled(IDC_SET_ADDRESS));
  ASSERT_TRUE(host.pressKey(IDC_DEVICE_LIST, VK_DOWN));
  ASSERT_EQ(held, ListView_GetNextItem(host.item(IDC_DEVICE_LIST), -1, LVNI_SELECTED));
  EXPECT_FALSE(host.enabled(IDC_SET_ADDRESS)) << "offered for the device in use";

  host.clickListRow(IDC_DEVICE_LIST, held);
  ASSERT_FALSE(host.enabled(IDC_SET_ADDRESS));
  ASSERT_TRUE(host.pressKey(IDC_DEVICE_LIST, VK_UP));
  ASSERT_EQ(free, ListView_GetNextItem(host.item(IDC_DEVICE_LIST), -1, LVNI_SELECTED));
  EXPECT_TRUE(host.enabled(IDC_SET_ADDRESS));
  host.click(IDC_SET_ADDRESS);
  EXPECT_EQ(3, V_UI1(Read(hart_param::kSelectedPollAddress).get()));
  EXPECT_EQ(L"12", OpenedFunctions());
}

TEST_F(DeviceListTest, CloseStopsTheScanStartedHereAndOffersTheFunctionAgain) {
  GoOnlineOnBus();
  AddDevice(0, 0x000100, "FIRST");
  AddDevice(1, 0x000101, "SLOW", 1500);
  AddDevice(5, 0x000105, "LATE");
  Open();
  host.click(IDC_UPDATE_LIST);
  ASSERT_TRUE(PumpUntil([&] { return RowOfAddress(L"00") >= 0; }, 30000));
  host.click(IDC_CANCEL);
  control_host::HostedControl::pump();
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(L"1", FunctionEnabled(hart_function::kDeviceList));
  ASSERT_TRUE(PumpUntil([&] { return !ScanActiveParameter(); }, 30000));
  long found = 0;
  ASSERT_EQ(S_OK, Channel()->GetNumberOfDevices(&found));
  for (long i = 0; i < found; ++i) {
    const Found device = FoundDevice(i);
    ASSERT_EQ(S_OK, device.result);
    EXPECT_NE(5, device.address) << "the scan stopped before address 5";
  }
}

TEST_F(DeviceListTest, LanguageChangeRetitlesTheColumnsAndTheScanStatus) {
  GoOnlineOnBus();
  AddChildDtm(L"C1", L"PT-3", 3);
  Open();
  UseTranslation(
      "<UserMessages><Message resId=\"102\"><locale code=\"en\">Poll address</locale></Message>"
      "<Message resId=\"112\"><locale code=\"en\">free</locale></Message></UserMessages>"
      "<ActiveXList><StatusBar><eStatusScan><Name><locale code=\"en\">busy</locale></Name>"
      "<ToolTip><locale code=\"en\">wait</locale></ToolTip></eStatusScan></StatusBar></ActiveXList>");
  com::ComPtr<IevFdtDtmTranslation> translation;
  ASSERT_EQ(S_OK, object.as(translation));
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, translation->InitTranslation(&done));
  ASSERT_EQ(S_OK, host.as<IevFdtActiveX4>()->SetProperty(*com::ui4(9984).get(), *I4(1033).get()));
  control_host::HostedControl::pump();
  EXPECT_EQ(L"Poll address", ColumnTitle(IDC_DEVICE_LIST, 0));
  ASSERT_EQ(1, Rows());
  EXPECT_EQ(L"free", Cell(0, kInUse));
  EXPECT_NE(std::wstring::npos, HostedCalls(IDC_FOOTER_BAR).find(L"RegisterStatus 12345 busy|wait\n"));
}

TEST_F(DeviceListTest, WithoutTheDtmsChannelTheListDoesNotOpen) {
  // Before it is configured the DTM hands out no channel.
  Attach();
  ASSERT_EQ(S_OK, host.create(kProgId, L"Device List", 640, 330));
  com::Bstr call(FunctionCallDocument(hart_function::kDeviceList).c_str());
  EXPECT_EQ(E_POINTER, host.as<IDtmActiveXControl>()->Init(tag.get(), call.get(), object.get(), &initialised));
  EXPECT_EQ(VARIANT_FALSE, initialised);
}

TEST_F(DeviceListTest, ListGrowsWithTheControlAndTheButtonsFollowTheirEdges) {
  GoOnlineOnBus();
  Open();
  auto place = [&](UINT id) {
    RECT r = {};
    ::GetWindowRect(host.item(id), &r);
    ::MapWindowPoints(nullptr, host.dialog(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  host.fitToDialog(299, 200);
  const RECT list = place(IDC_DEVICE_LIST), update = place(IDC_UPDATE_LIST), close = place(IDC_CANCEL);
  RECT grown = {0, 0, 399, 260};
  ::MapDialogRect(host.dialog(), &grown);
  RECT before = {0, 0, 299, 200};
  ::MapDialogRect(host.dialog(), &before);
  const LONG dx = grown.right - before.right, dy = grown.bottom - before.bottom;
  host.fitToDialog(399, 260);
  EXPECT_EQ(list.right - list.left + dx, place(IDC_DEVICE_LIST).right - place(IDC_DEVICE_LIST).left);
  EXPECT_EQ(list.bottom - list.top + dy, place(IDC_DEVICE_LIST).bottom - place(IDC_DEVICE_LIST).top);
  EXPECT_EQ(update.left, place(IDC_UPDATE_LIST).left);
  EXPECT_EQ(update.top + dy, place(IDC_UPDATE_LIST).top);
  EXPECT_EQ(close.left + dx, place(IDC_CANCEL).left);
  EXPECT_TRUE(host.visible(IDC_SIZE_GRIP));
  // The smallest size the control asks for.
  MINMAXINFO limits = {};
  ::SendMessageW(host.dialog(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  EXPECT_EQ(392, limits.ptMinTrackSize.x);
  EXPECT_EQ(256, limits.ptMinTrackSize.y);
}

TEST_F(DeviceListTest, Screenshot) {
  GoOnlineOnBus();
  AddDevice(0, 0x0A0B0C, "TT-0");
  AddDevice(3, 0x000303, "TT-3");
  AddDevice(7, 0x000707, "TT-7");
  AddChildDtm(L"C1", L"PT-3A", 3);
  AddChildDtm(L"C3", L"PT-5", 5);
  Open();
  host.fitToDialog(299, 200);
  Scan();
  host.clickListRow(IDC_DEVICE_LIST, 1);
  SaveScreenshot("device_list");
}

}  // namespace
}  // namespace hartdtmtest
