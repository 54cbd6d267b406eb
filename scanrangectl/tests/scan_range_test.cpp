// The scan-range control: registered by regsvr32, hosted by ProgID in a
// frame window (atl.dll) and initialised with the HART DTM for its function
// 8, driven through its two lists and buttons; the DTM's own dialog request
// end to end; the control's three settings on the control side's DTM double.
#include <algorithm>
#include <string>
#include <vector>

#include "control_dtm.h"
#include "controls_fixture.h"
#include "dtm/dtm_ids.h"
#include "regsvr32.h"
#include "scan_range_resources.h"

namespace hartdtmtest {
namespace {

const wchar_t kProgId[] = L"evFDT.evHrtFdtScanRangeActiveX";
const wchar_t kClassKey[] = L"CLSID\\{874C920F-6700-4AB5-8285-06F8F09804E9}";
const wchar_t kLibrary[] = L"{FE5D00FB-0683-45F0-83ED-BCB7B7AB1C4F}";

DWORD RegisterScanRange(const wchar_t* options) {
  return testsupport::RunRegsvr32(options, ProgramFolder() + L"scanrangectl.dll");
}

class ScanRangeTest : public ControlsFixture {
 protected:
  static void SetUpTestSuite() {
    ControlsFixture::SetUpTestSuite();
    ASSERT_EQ(0u, RegisterScanRange(L"/s"));
  }
  void Open() {
    if (!object) Configure();
    OpenControl(kProgId, hart_function::kScanRange, L"Set Scan Range", 450, 150);
    ASSERT_EQ(VARIANT_TRUE, initialised);
    host.fitToDialog(300, 100);
  }
  std::vector<std::wstring> Items(UINT list) {
    std::vector<std::wstring> items;
    HWND combo = host.item(list);
    const LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t text[32] = {};
      ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      items.push_back(text);
    }
    return items;
  }
  static std::vector<std::wstring> Range(int first, int last) {
    std::vector<std::wstring> items;
    for (int i = first; i <= last; ++i) items.push_back(std::to_wstring(i));
    return items;
  }
  std::wstring Selected(UINT list) {
    HWND combo = host.item(list);
    const LRESULT index = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
    wchar_t text[32] = {};
    if (index >= 0) ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
  }
  // Picks the item with this text, as the user would.
  void Choose(UINT list, int value) {
    const std::vector<std::wstring> items = Items(list);
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i] == std::to_wstring(value)) {
        EXPECT_TRUE(host.selectListItem(list, static_cast<int>(i))) << "the list takes no input";
        return;
      }
    ADD_FAILURE() << "no item " << value;
  }
  LONG Number(ULONG id) {
    com::Variant value = Read(id);
    EXPECT_EQ(VT_I4, value.type());
    return V_I4(value.get());
  }
};

TEST_F(ScanRangeTest, RegistersWithItsTypeLibraryAndIsRemovedAgain) {
  EXPECT_EQ(L"ev HRT FDT Scan Range ActiveX", ReadText(HKEY_CLASSES_ROOT, kClassKey, nullptr));
  EXPECT_EQ(L"evFDT.evHrtFdtScanRangeActiveX.1", ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\ProgID", nullptr));
  EXPECT_EQ(kProgId, ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\VersionIndependentProgID", nullptr));
  EXPECT_EQ(ProgramFolder() + L"scanrangectl.dll", ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", nullptr));
  EXPECT_EQ(L"Apartment", ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", L"ThreadingModel"));
  for (const wchar_t* flag : {L"\\Programmable", L"\\Control", L"\\Insertable"})
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + flag)) << flag;
  EXPECT_EQ(L"0", ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\MiscStatus", nullptr));
  EXPECT_EQ(L"131473", ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\MiscStatus\\1", nullptr));
  EXPECT_EQ(kLibrary, ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\TypeLib", nullptr));
  EXPECT_EQ(L"4.0", ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\Version", nullptr));
  EXPECT_EQ(L"evFDT.evHrtFdtScanRangeActiveX.1", ReadText(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CurVer", nullptr));
  EXPECT_EQ(L"ev HRT FDT Scan Range ActiveX", ReadText(HKEY_CLASSES_ROOT, kProgId, nullptr));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibrary));
  CLSID clsid = {};
  ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"evFDT.evHrtFdtScanRangeActiveX.1", &clsid));
  DWORD misc = 0;
  EXPECT_EQ(S_OK, ::OleRegGetMiscStatus(clsid, DVASPECT_CONTENT, &misc));
  EXPECT_EQ(131473u, misc);

  ASSERT_EQ(0u, RegisterScanRange(L"/s /u"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L".1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibrary));
  ASSERT_EQ(0u, RegisterScanRange(L"/s"));
}

TEST_F(ScanRangeTest, ListsStartWithTheWholeRangeAndNeverPassEachOther) {
  Open();
  EXPECT_EQ(Range(0, 15), Items(IDC_COMBO_START));
  EXPECT_EQ(Range(0, 15), Items(IDC_COMBO_END));
  EXPECT_EQ(L"0", Selected(IDC_COMBO_START));
  EXPECT_EQ(L"15", Selected(IDC_COMBO_END));
  // The footer bar starts from the dialog's stored state, the header new.
  EXPECT_EQ(0u, HostedCalls(IDC_FOOTER_BAR).find(L"Load 00 00 00 00 10 07 00 00 82 2E 00 00 7B 02 00 00\n"))
      << HostedCalls(IDC_FOOTER_BAR);
  EXPECT_EQ(0u, HostedCalls(IDC_DEVICE_HEADER).find(L"InitNew\n"));

  Choose(IDC_COMBO_START, 5);
  EXPECT_EQ(Range(0, 15), Items(IDC_COMBO_START));
  EXPECT_EQ(Range(5, 15), Items(IDC_COMBO_END));
  EXPECT_EQ(L"5", Selected(IDC_COMBO_START));
  EXPECT_EQ(L"15", Selected(IDC_COMBO_END));
  Choose(IDC_COMBO_END, 7);
  EXPECT_EQ(Range(0, 7), Items(IDC_COMBO_START));
  EXPECT_EQ(L"5", Selected(IDC_COMBO_START));
  EXPECT_EQ(L"7", Selected(IDC_COMBO_END));

  // The end 1 is the item "1", not "10" or "11".
  Choose(IDC_COMBO_START, 0);
  Choose(IDC_COMBO_END, 1);
  EXPECT_EQ(L"1", Selected(IDC_COMBO_END));
  EXPECT_EQ(Range(0, 1), Items(IDC_COMBO_START));
}

TEST_F(ScanRangeTest, OkWritesTheRangeAndClosesOnce) {
  Open();
  Choose(IDC_COMBO_START, 3);
  Choose(IDC_COMBO_END, 12);
  host.click(IDOK);
  control_host::HostedControl::pump();
  EXPECT_EQ(3, Number(hart_param::kScanRangeStart));
  EXPECT_EQ(12, Number(hart_param::kScanRangeEnd));
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
  EXPECT_TRUE(host.closed());
}

TEST_F(ScanRangeTest, EqualStartAndEndAreWrittenBoth) {
  Open();
  Choose(IDC_COMBO_START, 9);
  Choose(IDC_COMBO_END, 9);
  host.click(IDOK);
  control_host::HostedControl::pump();
  EXPECT_EQ(9, Number(hart_param::kScanRangeStart));
  EXPECT_EQ(9, Number(hart_param::kScanRangeEnd));
}

TEST_F(ScanRangeTest, CancelWritesNothingAndCloses) {
  Configure();
  ASSERT_EQ(S_OK, Write(hart_param::kScanRangeStart, I4(0).value()));
  ASSERT_EQ(S_OK, Write(hart_param::kScanRangeEnd, I4(63).value()));
  Open();
  Choose(IDC_COMBO_START, 4);
  host.click(IDC_CANCEL_BUTTON);
  control_host::HostedControl::pump();
  EXPECT_EQ(0, Number(hart_param::kScanRangeStart));
  EXPECT_EQ(63, Number(hart_param::kScanRangeEnd));
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
  EXPECT_TRUE(host.closed());
}

// Escape, as a frame routes its keys through the object the UI-active
// control named, does what Cancel (1060) does: nothing written, closed.
TEST_F(ScanRangeTest, EscapeDoesWhatCancelDoes) {
  Configure();
  ASSERT_EQ(S_OK, Write(hart_param::kScanRangeStart, I4(0).value()));
  ASSERT_EQ(S_OK, Write(hart_param::kScanRangeEnd, I4(63).value()));
  host.useOwnSite();
  Open();
  Choose(IDC_COMBO_START, 4);
  ASSERT_TRUE(host.clickInto(IDC_COMBO_START));
  ASSERT_TRUE(host.activeObject()) << "the control did not become UI active";
  ASSERT_TRUE(host.pressKeyInFrame(IDC_COMBO_START, VK_ESCAPE));
  EXPECT_TRUE(PumpUntil([&] { return host.closed(); }));
  EXPECT_EQ(0, Number(hart_param::kScanRangeStart));
  EXPECT_EQ(63, Number(hart_param::kScanRangeEnd));
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
}

// The DTM asks the frame to run function 8 and reads the range back once the
// control has closed.
TEST_F(ScanRangeTest, DtmReadsTheRangeTheUserChoseInItsDialog) {
  Configure();
  frame->onDialog([this](const std::wstring& systemTag, const std::wstring& call, VARIANT_BOOL* answer) {
    EXPECT_EQ(S_OK, host.create(kProgId, L"Set Scan Range", 450, 150));
    com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
    if (!control) return E_FAIL;
    VARIANT_BOOL ok = VARIANT_FALSE;
    control->Init(com::Bstr(systemTag.c_str()).get(), com::Bstr(call.c_str()).get(), object.get(), &ok);
    control.reset();
    EXPECT_EQ(VARIANT_TRUE, ok);
    control_host::HostedControl::pump();
    Choose(IDC_COMBO_START, 2);
    Choose(IDC_COMBO_END, 9);
    host.click(IDOK);
    // The frame's modal loop: until the control has closed.
    EXPECT_TRUE(PumpUntil([&] { return host.closed(); }));
    *answer = VARIANT_TRUE;
    return S_OK;
  });
  long start = -1, end = -1;
  ASSERT_EQ(S_OK, hart->GetScanRangeViaGUI(&start, &end));
  EXPECT_EQ(2, start);
  EXPECT_EQ(9, end);
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
}

// Opened in German after the DTM switched its language, the control shows
// none of its English texts and none of the translation document's.
TEST_F(ScanRangeTest, ShowsItsTextsInGerman) {
  Open();
  const std::vector<ShownText> english = ShownTexts(false);
  host.close();
  VARIANT_BOOL switched = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetLanguage(1031, &switched));
  ASSERT_EQ(VARIANT_TRUE, switched);
  Open();
  const std::vector<ShownText> german = ShownTexts(true);
  std::set<std::wstring> englishTexts = EnglishControlEntries();
  for (const ShownText& text : english) englishTexts.insert(text.text);
  EXPECT_EQ(std::vector<ShownText>{}, EnglishLeft(german, englishTexts));
  EXPECT_EQ(L"Scanbereich", host.text(IDC_RANGE_FRAME));
  EXPECT_EQ(Range(0, 15), Items(IDC_COMBO_START)) << "the numbers stay";
  // Each button's text fits it with a margin on either side.
  EXPECT_EQ(L"", TightButtons(host.dialog()));
}

// The control's own settings of the base, on the control side's DTM double.
class ScanRangeOnDoubleTest : public ScanRangeTest {};

TEST_F(ScanRangeOnDoubleTest, FunctionIdUnderAnyRootAndTipsOnlyForAnnouncedRows) {
  control_dtm::ControlDtm* fake = nullptr;
  com::ComPtr<IUnknown> fakeObject = control_dtm::createControlDtm(&fake);
  ASSERT_TRUE(fake);
  fake->addOpeningProperty(9988, com::ui4(4));
  control_dtm::Parameter device;
  device.id = 990;
  device.value = com::Variant(L"Device of the double");
  device.tip = L"The device";
  fake->addParameter(device);
  control_dtm::Parameter deviceType = device;
  deviceType.id = 991;
  deviceType.value = com::Variant(L"Type of the double");
  deviceType.tip = L"The device type";
  deviceType.announced = com::Variant(true);
  fake->addParameter(deviceType);

  ASSERT_EQ(S_OK, host.create(kProgId, L"Set Scan Range", 450, 150));
  com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
  ASSERT_TRUE(control);
  const com::Bstr call(
      L"<?xml version=\"1.0\"?><Call xmlns=\"x-schema:DTMFunctionCallSchema.xml\" "
      L"xmlns:func=\"x-schema:DTMFunctionsSchema.xml\"><FDTFunctionCall func:functionId=\"8\"/></Call>");
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, control->Init(tag.get(), call.get(), fakeObject.get(), &ok));
  EXPECT_EQ(VARIANT_TRUE, ok) << "the function id under a root other than FDT";
  const std::vector<std::wstring> asked = fake->callsTo(L"GetParameterInfo");
  EXPECT_NE(asked.end(), std::find(asked.begin(), asked.end(), L"GetParameterInfo 990 announced"));
  EXPECT_NE(asked.end(), std::find(asked.begin(), asked.end(), L"GetParameterInfo 991 tip"));
  EXPECT_EQ(asked.end(), std::find(asked.begin(), asked.end(), L"GetParameterInfo 990 tip"))
      << "a row whose first question fails gets no tip";
  control.reset();
  host.close();
}

// A frame may initialise the control before it hosts it, or deactivate and
// activate it again after the user chose: each order, on a DTM of its own,
// shows the same lists and OK writes the same range.
TEST_F(ScanRangeTest, ShowsTheSameAndWritesTheSameInEveryFrameOrder) {
  const FrameOrder orders[] = {FrameOrder::kActivateThenInit, FrameOrder::kInitThenActivate,
                               FrameOrder::kReactivated};
  std::wstring shown[3], written[3];
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(FrameOrderName(orders[i]));
    if (i > 0) StartAgain();
    Configure();
    OpenControlInOrder(orders[i], kProgId, hart_function::kScanRange, L"Set Scan Range", 450, 150);
    ASSERT_EQ(VARIANT_TRUE, initialised);
    Choose(IDC_COMBO_START, 3);
    Choose(IDC_COMBO_END, 12);
    if (orders[i] == FrameOrder::kReactivated) Reactivate();
    shown[i] = DialogContent(host.dialog());
    host.click(IDOK);
    control_host::HostedControl::pump();
    written[i] = std::to_wstring(Number(980)) + L"-" + std::to_wstring(Number(981)) +
                 (host.closed() ? L" closed" : L" open");
  }
  EXPECT_EQ(shown[0], shown[1]);
  EXPECT_EQ(shown[0], shown[2]);
  EXPECT_EQ(L"3-12 closed", written[0]);
  EXPECT_EQ(written[0], written[1]);
  EXPECT_EQ(written[0], written[2]);
}

// For a reader: the control after a re-activation, in English and German.
TEST_F(ScanRangeTest, ScreenshotAfterReactivationInEnglishAndGerman) {
  const struct {
    LONG language;
    const char* name;
  } languages[] = {{1033, "scan_range_reactivated_en"}, {1031, "scan_range_reactivated_de"}};
  for (const auto& language : languages) {
    if (language.language != 1033) StartAgain();
    Configure();
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, dtm->SetLanguage(language.language, &ok));
    Open();
    Choose(IDC_COMBO_START, 2);
    Choose(IDC_COMBO_END, 12);
    Reactivate();
    SaveScreenshot(language.name);
  }
}

TEST_F(ScanRangeTest, Screenshot) {
  Open();
  Choose(IDC_COMBO_START, 2);
  Choose(IDC_COMBO_END, 12);
  SaveScreenshot("scan_range");
}

}  // namespace
}  // namespace hartdtmtest
