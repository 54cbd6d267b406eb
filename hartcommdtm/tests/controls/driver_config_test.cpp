// The driver configuration control hosted by ProgID and initialised with the
// HART DTM, over the real modem interface library and simulated adapters:
// the adapters of every device number with their state, trying one, binding
// the chosen one to parameter 1000; locked while online; without the
// library. Also the screenshots of the DTM's two controls.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "controls/control_resources.h"
#include "controls_fixture.h"
#include "dtm/dtm_ids.h"
#include "fdtidl/ToolkitHooks.h"
#include "shared/registry_layout.h"
#include "sim/sim_control.h"
#include "win32/unique_handle.h"

namespace hartdtmtest {
namespace {

const wchar_t kProgId[] = L"vtFDT.FSKMavixCommDTM_DriverConfigCtrl";

void RemoveAdapterRegistry() {
  win32::UniqueRegKey parent;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\VELTRA\\evHRT USB", 0, KEY_ALL_ACCESS | shared::kRegistryView,
                      parent.put()) == ERROR_SUCCESS) {
    ::RegDeleteTreeA(parent.get(), "Config");
    ::RegDeleteTreeA(parent.get(), "Enum");
  }
}

class DriverConfigTest : public ControlsFixture {
 protected:
  void SetUp() override {
    ControlsFixture::SetUp();
    RemoveAdapterRegistry();
    UseLibrary(L"modemapi_real.dll");
  }
  void TearDown() override {
    held_.reset();
    ControlsFixture::TearDown();
    for (uint16_t serial : plugged_) SimRemoveAdapter(serial);
    RemoveAdapterRegistry();
  }

  void UseLibrary(const wchar_t* file) {
    const std::wstring target = ProgramFolder() + L"modemapi.dll";
    ::DeleteFileW(target.c_str());
    if (file) {
      ASSERT_TRUE(::CopyFileW((ProgramFolder() + file).c_str(), target.c_str(), FALSE));
    }
  }

  static std::wstring DevicePath(uint16_t serial) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"control-adapter-" + std::to_wstring(serial);
  }

  // Device number bound to an adapter serial, the adapter plugged in or not.
  void Bind(int number, uint16_t serial, bool attached) {
    win32::UniqueRegKey key;
    const std::string path = std::string(shared::kConfigKeyPath) + "\\" + std::to_string(number);
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS | shared::kRegistryView, nullptr, key.put(), nullptr));
    DWORD value = serial;
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key.get(), shared::kUsbIdValueName, 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&value), sizeof(value)));
    if (!attached) return;
    const std::wstring device = DevicePath(serial);
    ASSERT_TRUE(SimCreateAdapter(device.c_str(), serial));
    plugged_.push_back(serial);
    win32::UniqueRegKey enumKey;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, shared::kEnumKeyPath, 0, nullptr, 0,
                                               KEY_ALL_ACCESS | shared::kRegistryView, nullptr, enumKey.put(),
                                               nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(enumKey.get(), device.c_str(), 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&value), sizeof(value)));
  }

  // Whether the adapter's device can be opened exclusively (nobody holds it).
  static bool Free(uint16_t serial) {
    win32::UniqueFile file(::CreateFileW(DevicePath(serial).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    return file.valid();
  }

  // Another process's hold on an adapter, as the library sees it.
  void Hold(uint16_t serial) {
    held_.reset(::CreateFileW(DevicePath(serial).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr));
    ASSERT_TRUE(held_.valid());
  }

  void Open() {
    if (!object) Configure();
    OpenControl(kProgId, hart_function::kDriverConfiguration, L"Driver Configuration", 500, 340);
    ASSERT_EQ(VARIANT_TRUE, initialised);
  }

  int Rows() { return ListRows(IDC_ADAPTER_LIST); }
  std::wstring Cell(int row, int column) { return ListCellText(IDC_ADAPTER_LIST, row, column); }
  std::wstring Row(int row) {
    return Cell(row, 0) + L" " + Cell(row, 1) + L" " + Cell(row, 2) + L" " + Cell(row, 3);
  }
  int SelectedRow() {
    return static_cast<int>(::SendMessageW(host.item(IDC_ADAPTER_LIST), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                           LVNI_SELECTED));
  }

  std::vector<uint16_t> plugged_;
  win32::UniqueFile held_;
};

TEST_F(DriverConfigTest, ListsTheAdaptersOfEveryDeviceNumberAndBindsTheChosenOne) {
  Bind(0, 0x1234, true);
  Bind(7, 0x2345, true);
  Bind(123, 0x3456, true);
  Bind(200, 0x4567, false);  // configured, not attached: not listed
  Hold(0x2345);
  Configure();
  ASSERT_EQ(S_OK, Write(hart_param::kDeviceNumber, UI1(123).value()));
  EXPECT_EQ(L"1", FunctionEnabled(hart_function::kDriverConfiguration));
  Open();
  EXPECT_EQ(L"0", FunctionEnabled(hart_function::kDriverConfiguration));

  ASSERT_EQ(3, Rows());
  EXPECT_EQ(L"00 1234 USB no", Row(0));
  EXPECT_EQ(L"07 2345 USB yes", Row(1));
  EXPECT_EQ(L"123 3456 USB no", Row(2));
  EXPECT_EQ(2, SelectedRow()) << "the configured device number's row";
  EXPECT_TRUE(host.enabled(IDC_INIT_DEVICE));
  EXPECT_TRUE(host.enabled(IDC_APPLY));
  EXPECT_FALSE(host.visible(IDC_STATUS_TEXT));

  // An adapter in use cannot be tried or chosen.
  host.clickListRow(IDC_ADAPTER_LIST, 1);
  EXPECT_FALSE(host.enabled(IDC_INIT_DEVICE));
  EXPECT_FALSE(host.enabled(IDC_APPLY));

  // Trying one opens it; choosing another row closes it again.
  host.clickListRow(IDC_ADAPTER_LIST, 0);
  host.click(IDC_INIT_DEVICE);
  EXPECT_EQ(BST_CHECKED, ::SendMessageW(host.item(IDC_INIT_DEVICE), BM_GETCHECK, 0, 0));
  EXPECT_FALSE(Free(0x1234)) << "the control holds the adapter open";
  host.clickListRow(IDC_ADAPTER_LIST, 0);
  EXPECT_FALSE(Free(0x1234)) << "the same row keeps it open";
  host.clickListRow(IDC_ADAPTER_LIST, 2);
  EXPECT_TRUE(Free(0x1234));
  EXPECT_EQ(BST_UNCHECKED, ::SendMessageW(host.item(IDC_INIT_DEVICE), BM_GETCHECK, 0, 0));

  // The chosen adapter: opened, then closed before its number is written.
  host.click(IDC_INIT_DEVICE);
  EXPECT_FALSE(Free(0x3456));
  ASSERT_EQ(S_OK, Write(hart_param::kDeviceNumber, UI1(0).value()));
  host.click(IDC_APPLY);
  control_host::HostedControl::pump();
  com::Variant number = Read(hart_param::kDeviceNumber);
  ASSERT_EQ(VT_UI1, number.type());
  EXPECT_EQ(123, V_UI1(number.get()));
  EXPECT_TRUE(Free(0x3456)) << "closed for the channel";
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
  EXPECT_EQ(L"1", FunctionEnabled(hart_function::kDriverConfiguration)) << "offered again";
}

TEST_F(DriverConfigTest, ARowSelectedWithTheKeyboardIsTheOneUsed) {
  Bind(0, 0x1234, true);
  Bind(7, 0x2345, true);
  Bind(123, 0x3456, true);
  Hold(0x2345);
  Configure();
  ASSERT_EQ(S_OK, Write(hart_param::kDeviceNumber, UI1(123).value()));
  Open();
  ASSERT_EQ(2, SelectedRow());

  // Up to the adapter in use: it can be neither tried nor chosen.
  ASSERT_TRUE(host.pressKey(IDC_ADAPTER_LIST, VK_UP));
  ASSERT_EQ(1, SelectedRow());
  EXPECT_FALSE(host.enabled(IDC_INIT_DEVICE));
  EXPECT_FALSE(host.enabled(IDC_APPLY));

  // Up again: the selected row is the one tried and written.
  ASSERT_TRUE(host.pressKey(IDC_ADAPTER_LIST, VK_UP));
  ASSERT_EQ(0, SelectedRow());
  ASSERT_TRUE(host.enabled(IDC_APPLY));
  host.click(IDC_INIT_DEVICE);
  EXPECT_FALSE(Free(0x1234)) << "the selected row's adapter is the one tried";
  host.click(IDC_APPLY);
  control_host::HostedControl::pump();
  com::Variant number = Read(hart_param::kDeviceNumber);
  ASSERT_EQ(VT_UI1, number.type());
  EXPECT_EQ(0, V_UI1(number.get()));
  EXPECT_TRUE(Free(0x1234));
}

TEST_F(DriverConfigTest, LanguageChangeRelabelsTheColumnsAndKeepsTheChosenRow) {
  Bind(0, 0x1234, true);
  Bind(9, 0x1999, true);
  Open();
  host.clickListRow(IDC_ADAPTER_LIST, 1);
  UseTranslation("<UserMessages><Message resId=\"121\"><locale code=\"en\">Device number</locale></Message>"
                 "<Message resId=\"125\"><locale code=\"en\">free</locale></Message></UserMessages>");
  com::ComPtr<IevFdtDtmTranslation> translation;
  ASSERT_EQ(S_OK, object.as(translation));
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, translation->InitTranslation(&done));
  com::ComPtr<IevFdtActiveX4> control = host.as<IevFdtActiveX4>();
  ASSERT_EQ(S_OK, control->SetProperty(*com::ui4(9984).get(), *I4(1033).get()));
  control_host::HostedControl::pump();
  EXPECT_EQ(L"Device number", ColumnTitle(IDC_ADAPTER_LIST, 0));
  ASSERT_EQ(2, Rows());
  EXPECT_EQ(L"09 1999 USB free", Row(1));
  EXPECT_EQ(1, SelectedRow()) << "the chosen device stays chosen";
  EXPECT_TRUE(host.enabled(IDC_APPLY));
}

TEST_F(DriverConfigTest, OnlineStatesLockTheListWithTheReason) {
  Bind(0, 0x1234, true);  // parameter 1000 names device number 0
  Open();
  ASSERT_EQ(1, Rows());
  // The DTM goes online on the adapter of device number 0 and tells its
  // open controls.
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == 12; }));
  control_host::HostedControl::pump();
  for (UINT item : {IDC_ADAPTER_LIST, IDC_REFRESH_LIST, IDC_INIT_DEVICE, IDC_APPLY})
    EXPECT_FALSE(host.enabled(item)) << item;
  EXPECT_TRUE(host.visible(IDC_STATUS_ICON));
  EXPECT_EQ(L"The settings can only be changed when the DTM is offline.", host.text(IDC_STATUS_TEXT));
  BroadcastState(8);
  EXPECT_TRUE(host.enabled(IDC_REFRESH_LIST));
  EXPECT_FALSE(host.visible(IDC_STATUS_TEXT));
}

TEST_F(DriverConfigTest, AdapterLeftOpenIsClosedWhenTheControlGoesAndRefreshFindsNewOnes) {
  Bind(0, 0x1234, true);
  Open();
  host.clickListRow(IDC_ADAPTER_LIST, 0);
  host.click(IDC_INIT_DEVICE);
  ASSERT_FALSE(Free(0x1234));
  Bind(5, 0x5555, true);
  host.click(IDC_REFRESH_LIST);
  EXPECT_TRUE(Free(0x1234)) << "refresh closes the tried adapter";
  ASSERT_EQ(2, Rows());
  EXPECT_EQ(L"05 5555 USB no", Row(1));
  host.clickListRow(IDC_ADAPTER_LIST, 1);
  host.click(IDC_INIT_DEVICE);
  ASSERT_FALSE(Free(0x5555));
  // Cancel writes nothing; the control closes the adapter as it goes.
  host.click(IDC_CANCEL);
  control_host::HostedControl::pump();
  EXPECT_TRUE(host.closed());
  EXPECT_TRUE(Free(0x5555));
  com::Variant number = Read(hart_param::kDeviceNumber);
  EXPECT_EQ(0, V_UI1(number.get()));
}

// A frame may drop the control without PrepareToRelease. Whichever way it
// takes, the control takes its record and the data-set lock back from the
// DTM, closes the adapter it tried, offers function 6 again and lets go of
// the DTM: a new control under the same tag is registered and may edit, and
// the DTM, released, unloads.
TEST_F(DriverConfigTest, DroppedWithoutBeingAskedGivesEverythingBackWhicheverWayTheFrameTakes) {
  Bind(0, 0x1234, true);
  Configure();
  com::ComPtr<IevFdtOpenControls> open;
  ASSERT_EQ(S_OK, object.as(open));
  com::Bstr call(FunctionCallDocument(hart_function::kDriverConfiguration).c_str());
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
      host.clickListRow(IDC_ADAPTER_LIST, 0);
      host.click(IDC_INIT_DEVICE);
      ASSERT_FALSE(Free(0x1234));
    } else {
      ASSERT_EQ(S_OK, host.createInactive(kProgId));
      com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
      ASSERT_TRUE(control);
      ASSERT_EQ(S_OK, control->Init(tag.get(), call.get(), object.get(), &initialised));
      ASSERT_EQ(VARIANT_TRUE, initialised);
    }
    ASSERT_EQ(1u, open->OpenControlCount());
    ASSERT_EQ(1u, open->OpenLockingFunctionCount());
    ASSERT_EQ(L"0", FunctionEnabled(hart_function::kDriverConfiguration));
    way.drop();
    EXPECT_EQ(0u, open->OpenControlCount());
    EXPECT_EQ(0u, open->OpenLockingFunctionCount());
    EXPECT_EQ(L"1", FunctionEnabled(hart_function::kDriverConfiguration));
    EXPECT_TRUE(Free(0x1234)) << "the tried adapter is closed";
    host.close();
  }

  // A new control under the same tag is registered and not locked.
  Open();
  EXPECT_EQ(1u, open->OpenControlCount());
  EXPECT_TRUE(host.enabled(IDC_ADAPTER_LIST));
  EXPECT_TRUE(host.enabled(IDC_APPLY));
  EXPECT_FALSE(host.visible(IDC_STATUS_TEXT));
  host.click(IDC_CANCEL);
  control_host::HostedControl::pump();
  ASSERT_TRUE(host.closed());

  // Nothing keeps the DTM: it shuts down, goes and its module unloads.
  open.reset();
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->ShutdownDtm(&ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  ReleaseDtm();
  EXPECT_TRUE(ModuleUnloads()) << "the DTM or a control is still alive";
}

TEST_F(DriverConfigTest, WithoutTheLibraryTheListStaysEmptyAndSaysWhy) {
  Bind(0, 0x1234, true);
  UseLibrary(nullptr);
  Open();
  EXPECT_EQ(0, Rows());
  EXPECT_EQ(L"modemapi.dll could not be loaded.", host.text(IDC_STATUS_TEXT));
  EXPECT_TRUE(host.visible(IDC_STATUS_ICON));
  for (UINT item : {IDC_REFRESH_LIST, IDC_INIT_DEVICE, IDC_APPLY}) EXPECT_FALSE(host.enabled(item)) << item;
  EXPECT_TRUE(host.enabled(IDC_CANCEL));
}

// Without the library, the frame switching the DTM's language leaves the
// reason beside the warning icon, in the new language, as the control shows
// it when opened in that language.
TEST_F(DriverConfigTest, LanguageChangeKeepsTheReasonTheLibraryIsMissing) {
  Bind(0, 0x1234, true);
  UseLibrary(nullptr);
  Open();
  ASSERT_EQ(L"modemapi.dll could not be loaded.", host.text(IDC_STATUS_TEXT));
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetLanguage(1031, &ok));
  control_host::HostedControl::pump();
  const std::wstring switched = DialogContent(host.dialog());

  StartAgain();
  Configure();
  ASSERT_EQ(S_OK, dtm->SetLanguage(1031, &ok));
  Open();
  EXPECT_EQ(L"modemapi.dll konnte nicht geladen werden.", host.text(IDC_STATUS_TEXT));
  EXPECT_EQ(DialogContent(host.dialog()), switched);
}

// Every control of the DTM as a reader sees it (PNG files in screenshots\).
class ControlScreenshots : public DriverConfigTest {};

TEST_F(ControlScreenshots, ChannelConfiguration) {
  Configure();
  OpenControl(L"vtFDT.FSKMavixCommDTM_ChannelConfig", hart_function::kChannelConfiguration,
              L"Channel Configuration", 500, 270);
  ASSERT_EQ(VARIANT_TRUE, initialised);
  host.fitToDialog(299, 160);
  host.typeText(IDC_PREAMBLES, L"2");
  host.typeText(IDC_RETRIES, L"4");
  SaveScreenshot("channel_configuration");
}

TEST_F(ControlScreenshots, DriverConfiguration) {
  Bind(0, 0x1234, true);
  Bind(7, 0x2345, true);
  Bind(123, 0x3456, true);
  Hold(0x2345);
  Open();
  host.fitToDialog(299, 205);
  host.clickListRow(IDC_ADAPTER_LIST, 2);
  SaveScreenshot("driver_configuration");
}

}  // namespace
}  // namespace hartdtmtest
