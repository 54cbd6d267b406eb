// The control base on the control side's DTM double: binding and release,
// states and properties, the footer bar, parameter display, editing and
// writing, colours, translation, help, trace and the close request.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <new>

#include "com/ComError.h"
#include "com/Module.h"
#include "com/SafeArray.h"
#include "control_fixture.h"
#include "crt_locale.h"

namespace controltest {
namespace {

const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kBlue = RGB(0, 0, 255);
const wchar_t kHelpFilePath[] = L"localization/ActiveXList/ActiveX[@classname=\"Test Control\"]/HelpFile";

TEST_F(ControlBaseTest, InitRegistersBindsAndAppliesWhatArrivedBeforeTheDtm) {
  // The container sends the state and properties while Init registers the
  // control, before the parameter handler is attached.
  dtm->setOpeningState(8);
  dtm->setText(kHelpFilePath, L"testcontrol_en.chm");
  dtm->addOpeningProperty(property_id::kTranslationPath, com::Variant(L"C:\\Translations\\"));
  dtm->addOpeningProperty(property_id::kTransferState, [] {
    com::Variant v;
    V_VT(v.get()) = VT_UI2;
    V_UI2(v.get()) = 2;
    return v;
  }());
  Open();
  const auto calls = dtm->calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(L"OpenActiveX Control under test 0", calls[0]);
  EXPECT_TRUE(Contains(calls, L"GetFunctions"));
  EXPECT_TRUE(Contains(calls, L"SetControlsProperty 9993 True")) << "edit permission broadcast";
  EXPECT_TRUE(control->EditEnabled()) << "the user level arrived before the DTM";
  EXPECT_FALSE(control->EditLock());
  EXPECT_TRUE(host.enabled(6063)) << "the translation names a help file";
  EXPECT_FALSE(host.readOnly(kItemNumber));

  const std::wstring footer = Calls(control_item::kFooterBar);
  EXPECT_EQ(0u, footer.find(L"Load 01 02 03 04\n")) << footer;
  EXPECT_NE(std::wstring::npos, footer.find(L"ShowElement1 0\nShowElement2 0\nShowElement3 0\n")) << footer;
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 1 4\n")) << footer;
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 3 1\n")) << "offline, editing: " << footer;
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 4 2\n")) << footer;
  const std::wstring header = Calls(control_item::kDeviceHeader);
  EXPECT_EQ(0u, header.find(L"InitNew\n")) << header;
  EXPECT_NE(std::wstring::npos, header.find(L"Describe 990 Device %s")) << header;
  EXPECT_NE(std::wstring::npos, header.find(L"ShowValue 990 Test device")) << header;
  EXPECT_NE(std::wstring::npos, header.find(L"ShowValue 991 Test type")) << header;

  // A second Init changes nothing.
  dtm->clearCalls();
  EXPECT_EQ(VARIANT_FALSE, Init(FunctionCall(9)));
  EXPECT_TRUE(dtm->calls().empty());
}

TEST_F(ControlBaseTest, InitBeforeTheWindowExistsShowsEverythingOnceTheWindowIsMade) {
  // A frame that initialises the control before it activates it.
  dtm->setText(kHelpFilePath, L"testcontrol_en.chm");
  dtm->addOpeningProperty(property_id::kTranslationPath, com::Variant(L"C:\\Translations\\"));
  ASSERT_EQ(S_OK, com::createObject<TestControl>(nullptr, IID_IUnknown, controlObject.putVoid()));
  ASSERT_EQ(VARIANT_TRUE, Init(FunctionCall()));
  ASSERT_EQ(S_OK, host.attach(controlObject.get(), L"Control base", 600, 420));
  EXPECT_EQ(L"7", host.text(kItemNumber));
  EXPECT_EQ(L"Medium", host.text(kItemMode));
  EXPECT_FALSE(host.readOnly(kItemNumber));
  EXPECT_TRUE(host.enabled(6063));
  const std::wstring footer = Calls(control_item::kFooterBar);
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 1 4\n")) << footer;
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 3 1\n")) << footer;
  const std::wstring header = Calls(control_item::kDeviceHeader);
  EXPECT_NE(std::wstring::npos, header.find(L"Attach handler")) << header;
  EXPECT_NE(std::wstring::npos, header.find(L"ShowValue 990 Test device")) << header;
}

TEST_F(ControlBaseTest, InitFailsWithoutFunctionIdAndLeavesTheControlUnregistered) {
  Open(false);
  EXPECT_EQ(VARIANT_FALSE,
            Init(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMFunctionCallSchema.xml\"><FDTFunctionCall/></FDT>"));
  EXPECT_TRUE(Contains(dtm->calls(), L"ActiveXClosed Control under test"));
  EXPECT_EQ(0u, dtm->openControls());
}

TEST_F(ControlBaseTest, ApplicationIdSetsTheModeAndOnlineStatesSwitchEditing) {
  dtm->setFunctions(FunctionList(L"fdtOnlineParameterize"));
  Open();
  EXPECT_EQ(ULONG{kModeOnline}, control->Mode());
  EXPECT_EQ(1u, control->OperationPhase()) << "\"engineering\" in the function call";
  EXPECT_FALSE(control->EditEnabled()) << "online function while the DTM is offline";
  EXPECT_TRUE(host.readOnly(kItemNumber));
  dtm->notifyState(12);
  EXPECT_TRUE(control->EditEnabled());
  EXPECT_FALSE(host.readOnly(kItemNumber));
  dtm->notifyState(11);
  EXPECT_FALSE(control->EditEnabled());
  const std::wstring footer = Calls(control_item::kFooterBar);
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 1 2\n")) << footer;
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 1 3\n")) << footer;
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 2 1\n")) << "online with update records: " << footer;
}

TEST_F(ControlBaseTest, FunctionWithoutApplicationIdIsOfflineAndMainOperationGetsItsOwnId) {
  dtm->setFunctions(FunctionList(nullptr, L"MainOperation"));
  Open();
  EXPECT_EQ(ULONG{kModeOffline}, control->Mode());
  EXPECT_TRUE(control->EditEnabled());
}

TEST_F(ControlBaseTest, PropertiesAreCheckedByTypeAndClosingIgnoresTheBaseOnes) {
  Open();
  EXPECT_EQ(E_INVALIDARG, SetProperty(property_id::kEditPermission, com::Variant(LONG{1}).value()));
  com::ComPtr<IevFdtActiveX4> x4;
  ASSERT_EQ(S_OK, controlObject.as(x4));
  EXPECT_EQ(S_OK, x4->SetProperty(*com::Variant(L"9993").get(), *com::Variant(false).get()));
  EXPECT_TRUE(control->ReadOnly());
  EXPECT_TRUE(host.readOnly(kItemNumber));
  EXPECT_EQ(S_FALSE, SetProperty(12345, com::Variant(true).value()));
  EXPECT_EQ(E_FAIL, x4->SetProperty(*com::Variant(L"not a number").get(), *com::Variant(true).get()));

  com::ComPtr<IDtmActiveXControl> fdt;
  ASSERT_EQ(S_OK, controlObject.as(fdt));
  VARIANT_BOOL released = VARIANT_FALSE;
  ASSERT_EQ(S_OK, fdt->PrepareToRelease(&released));
  EXPECT_EQ(VARIANT_TRUE, released);
  EXPECT_EQ(S_FALSE, SetProperty(property_id::kLanguage, com::Variant(LONG{1031}).value()));
  EXPECT_EQ(S_OK, SetProperty(property_id::kUserLevel, com::ui4(1).value()));
  EXPECT_TRUE(control->EditLock()) << "the user level still counts while closing";
  com::Variant state;
  V_VT(state.get()) = VT_UI2;
  V_UI2(state.get()) = 3;
  EXPECT_EQ(S_OK, SetProperty(property_id::kTransferState, state.value()));
  EXPECT_NE(std::wstring::npos, Calls(control_item::kFooterBar).find(L"SetCommand 4 3\n"));
}

com::Variant R8(double value) {
  com::Variant v;
  V_VT(v.get()) = VT_R8;
  V_R8(v.get()) = value;
  return v;
}

// A property naming parameter id with data beside it, as an (id, data) pair.
com::Variant ParameterPair(ULONG id, LONG data) {
  SAFEARRAY* pair = ::SafeArrayCreateVector(VT_VARIANT, 0, 2);
  LONG at = 0;
  ::SafeArrayPutElement(pair, &at, com::ui4(id).get());
  at = 1;
  ::SafeArrayPutElement(pair, &at, com::Variant(data).get());
  com::Variant value;
  V_VT(value.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(value.get()) = pair;
  return value;
}

TEST_F(ControlBaseTest, PropertiesAboutOneParameterReadItAgainAndIgnoreOthers) {
  Open();
  V_UI1(dtm->parameter(kNumber)->value.get()) = 9;
  EXPECT_EQ(S_OK, SetProperty(property_id::kValueWritten, com::ui4(kNumber).value()));
  EXPECT_EQ(L"9", host.text(kItemNumber)) << "offline: read again from the data set";
  V_UI1(dtm->parameter(kNumber)->value.get()) = 10;
  EXPECT_EQ(S_OK, SetProperty(property_id::kValueWritten, ParameterPair(kNumber, 1).value()));
  EXPECT_EQ(L"10", host.text(kItemNumber)) << "the id as the first of a pair";

  dtm->parameter(kNumber)->flags = 0x70;
  EXPECT_EQ(S_OK, SetProperty(property_id::kFlagsChanged, com::ui4(kNumber).value()));
  EXPECT_TRUE(host.readOnly(kItemNumber)) << "access flags read again";

  dtm->parameter(kMode)->entries.push_back({4, L"Extreme"});
  EXPECT_EQ(S_OK, SetProperty(property_id::kValueList, com::ui4(kMode).value()));
  EXPECT_EQ(4, ::SendMessageW(host.item(kItemMode), CB_GETCOUNT, 0, 0)) << "value list filled again";

  dtm->parameter(kDouble)->deviceValue = R8(7.5);
  EXPECT_EQ(S_OK, SetProperty(property_id::kDeviceValue, com::ui4(kDouble).value()));
  EXPECT_EQ(L"2.25", host.text(kItemDouble)) << "offline: the device value is not shown";

  // A parameter the control does not show, a reference that is no id.
  dtm->clearCalls();
  EXPECT_EQ(S_OK, SetProperty(property_id::kValueWritten, com::ui4(77).value()));
  EXPECT_EQ(S_OK, SetProperty(property_id::kValueList, com::ui4(77).value()));
  EXPECT_TRUE(dtm->calls().empty());
  EXPECT_EQ(E_INVALIDARG, SetProperty(property_id::kFlagsChanged, com::Variant(L"none").value()));
}

TEST_F(ControlBaseTest, DeviceValuePropertyShowsTheDeviceSideOnline) {
  dtm->setFunctions(FunctionList(L"fdtOnlineParameterize"));
  Open();
  dtm->notifyState(12);
  dtm->parameter(kDouble)->deviceValue = R8(7.5);
  EXPECT_EQ(S_OK, SetProperty(property_id::kDeviceValue, ParameterPair(kDouble, 0).value()));
  EXPECT_EQ(L"7.50", host.text(kItemDouble));
}

TEST_F(ControlBaseTest, ReleaseQuestionAnsweredCancelKeepsTheControlBoundAndYesRaisesTheEvent) {
  Open();
  dtm->notifyState(12);
  control->SetChangesPendingInDtm(true);
  dtm->setUserAnswer(IDCANCEL);
  com::ComPtr<IDtmActiveXControl> fdt;
  ASSERT_EQ(S_OK, controlObject.as(fdt));
  VARIANT_BOOL released = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, fdt->PrepareToRelease(&released));
  EXPECT_EQ(VARIANT_FALSE, released);
  EXPECT_TRUE(Contains(dtm->calls(),
                       L"ShowUserMessage Parameter changed in the DTM, do you want to store the changes to "
                       L"the device?|Download Parameters|35"));
  EXPECT_EQ(1u, dtm->openControls());
  EXPECT_EQ(S_OK, SetProperty(property_id::kEditPermission, com::Variant(false).value()));
  EXPECT_TRUE(control->ReadOnly()) << "still bound and usable";

  dtm->setUserAnswer(IDYES);
  EXPECT_EQ(S_OK, fdt->PrepareToRelease(&released));
  EXPECT_EQ(VARIANT_TRUE, released);
  EXPECT_TRUE(Contains(dtm->calls(), L"OnDtmEvent 50 <empty>"));
  EXPECT_EQ(0u, dtm->openControls());
  EXPECT_NE(std::wstring::npos, Calls(control_item::kDeviceHeader).find(L"Detach"));
}

TEST_F(ControlBaseTest, ValuesShowByTypeAndValueList) {
  Open();
  EXPECT_EQ(L"7", host.text(kItemNumber));
  EXPECT_EQ(L"Medium", host.text(kItemMode));
  EXPECT_EQ(L"1.5", host.text(kItemReal));
  EXPECT_EQ(BST_CHECKED, ::SendMessageW(host.item(kItemSwitch), BM_GETCHECK, 0, 0));
  EXPECT_EQ(L"0A FF 01 ", host.text(kItemBytes));
  EXPECT_EQ(L"Alpha | Gamma", host.text(kItemOptionText));
  EXPECT_EQ(L"<Out of Range>", host.text(kItemOutOfRange));
  EXPECT_EQ(L"2.25", host.text(kItemDouble));
  EXPECT_EQ(L"", host.text(kItemDate)) << "a date is not shown";

  // The bit list has no entry for 0; value 5 selects Alpha and Gamma.
  HWND options = host.item(kItemOptions);
  ASSERT_EQ(3, ::SendMessageW(options, LB_GETCOUNT, 0, 0));
  EXPECT_GT(::SendMessageW(options, LB_GETSEL, 0, 0), 0);
  EXPECT_EQ(0, ::SendMessageW(options, LB_GETSEL, 1, 0));
  EXPECT_GT(::SendMessageW(options, LB_GETSEL, 2, 0), 0);
}

TEST_F(ControlBaseTest, UnitIsATextOrAnotherParametersValueThroughItsValueList) {
  dtm->parameter(kNumber)->unit = com::Variant(L"mA");
  dtm->parameter(kReal)->unit = com::ui4(kMode);          // value 2: "Medium"
  dtm->parameter(kDouble)->unit = com::ui4(kOutOfRange);  // value 9: not in its list
  Open();
  auto unit = [&](ULONG id) {
    com::Bstr text;
    EXPECT_EQ(S_OK, control->GetUnitText(control->FindRowById(static_cast<LONG>(id)), text.put())) << id;
    return std::wstring(text.c_str());
  };
  EXPECT_EQ(L"mA", unit(kNumber));
  EXPECT_EQ(L"Medium", unit(kReal));
  EXPECT_EQ(L"", unit(kDouble));
  com::Bstr none;
  EXPECT_TRUE(FAILED(control->GetUnitText(control->FindRowById(kSwitch), none.put()))) << "no unit";
}

TEST_F(ControlBaseTest, EditsAreValidatedMarkedAndWrittenIntoTheDataSet) {
  Open();
  host.typeText(kItemNumber, L"30");
  EXPECT_EQ(ULONG{kRowInvalid}, control->RowFlags(kNumber) & kRowInvalid);
  EXPECT_EQ(E_FAIL, control->ValidateAll());
  EXPECT_EQ(host.item(kItemNumber), ::GetFocus()) << "the invalid entry gets the focus";
  EXPECT_EQ(S_FALSE, control->WriteParameter(kNumber));
  EXPECT_TRUE(dtm->callsTo(L"WriteParameter").empty());

  host.typeText(kItemNumber, L"12");
  EXPECT_EQ(0u, control->RowFlags(kNumber) & kRowInvalid);
  EXPECT_EQ(ULONG{kRowChanged}, control->RowFlags(kNumber) & kRowChanged);
  EXPECT_EQ(S_OK, control->ValidateAll());
  EXPECT_EQ(S_OK, control->WriteParameter(kNumber));
  EXPECT_TRUE(Contains(dtm->calls(), L"WriteParameter 1 12"));
  EXPECT_EQ(0u, control->RowFlags(kNumber) & kRowChanged);

  // A read-only row never becomes changed.
  host.typeText(kItemFixed, L"4");
  EXPECT_EQ(0u, control->RowFlags(kFixed) & kRowChanged);
  EXPECT_EQ(S_FALSE, control->WriteParameter(kFixed));

  // An enumeration is read from its list; online writes go to the device.
  host.selectListItem(kItemMode, 2);
  EXPECT_EQ(ULONG{kRowChanged}, control->RowFlags(kMode) & kRowChanged);
  EXPECT_EQ(S_OK, control->WriteParameter(kMode));
  EXPECT_TRUE(Contains(dtm->calls(), L"WriteParameter 2 3"));
}

TEST_F(ControlBaseTest, RowThatCannotBeReadIsHiddenAndNeverWritten) {
  dtm->removeParameter(kDate);
  Open();
  EXPECT_FALSE(host.visible(kItemDate));
  EXPECT_EQ(ULONG{kRowNotRead | kRowInvalid}, control->RowFlags(kDate) & (kRowNotRead | kRowInvalid));
  EXPECT_EQ(S_FALSE, control->WriteParameter(kDate));
  EXPECT_TRUE(host.visible(kItemNumber));
}

TEST_F(ControlBaseTest, QuestionMarkShowsInOrangeBesideAnUnreadDeviceValueOnline) {
  dtm->setFunctions(FunctionList(L"fdtOnlineParameterize"));
  dtm->parameter(kNumber)->flags = 0x471;  // not read from the device yet
  ASSERT_EQ(S_OK, com::createObject<TestControl>(nullptr, IID_IUnknown, controlObject.putVoid()));
  com::ComPtr<IDtmActiveXControl> fdt;
  ASSERT_EQ(S_OK, controlObject.as(fdt));
  control = static_cast<TestControl*>(static_cast<DtmControl*>(fdt.get()));
  control->Rows()[static_cast<size_t>(control->FindRowById(kNumber))].marker = 1;
  ASSERT_EQ(S_OK, host.attach(controlObject.get(), L"Control base", 600, 420));
  ASSERT_EQ(VARIANT_TRUE, Init(FunctionCall()));
  HWND marker = control->Rows()[static_cast<size_t>(control->FindRowById(kNumber))].markerWindow;
  ASSERT_TRUE(marker) << "markers are made at the first show";
  HDC dc = ::GetDC(host.dialog());
  ::SendMessageW(host.dialog(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(marker));
  EXPECT_EQ(COLORREF{0x007FFF}, ::GetTextColor(dc));
  wchar_t symbol[8] = {};
  ::GetWindowTextW(marker, symbol, 8);
  EXPECT_EQ(std::wstring(L"?"), symbol);
  ::ReleaseDC(host.dialog(), dc);
}

TEST_F(ControlBaseTest, FloatingPointTextsReadAsTheFormatShowsThem) {
  com::Variant value;
  EXPECT_EQ(S_OK, TextToFloat(L"e3", "%g", value.get()));
  EXPECT_FLOAT_EQ(1000.0f, V_R4(value.get()));
  EXPECT_EQ(S_OK, TextToFloat(L"1,5", "%g", value.get()));
  EXPECT_FLOAT_EQ(1.5f, V_R4(value.get()));
  EXPECT_EQ(S_OK, TextToFloat(L"1.#inf", "%g", value.get()));
  EXPECT_EQ(std::numeric_limits<float>::infinity(), V_R4(value.get()));
  EXPECT_EQ(S_OK, TextToFloat(L"-1.#INF", "%g", value.get()));
  EXPECT_EQ(-std::numeric_limits<float>::infinity(), V_R4(value.get()));
  EXPECT_EQ(S_OK, TextToFloat(L"2.26", "%.1f", value.get()));
  EXPECT_FLOAT_EQ(2.3f, V_R4(value.get()));
  EXPECT_EQ(E_FAIL, TextToFloat(L"abc", "%g", value.get()));
  EXPECT_EQ(E_INVALIDARG, TextToFloat(nullptr, "%g", value.get()));

  Open();
  host.typeText(kItemReal, L"2,26");
  EXPECT_EQ(S_OK, control->WriteParameter(kReal));
  EXPECT_TRUE(Contains(dtm->calls(), L"WriteParameter 4 2.3"));
}

// A frame that gave the C runtime its user's locale (a decimal comma):
// reals show and read back as without it, with the system's separator.
TEST_F(ControlBaseTest, RealsShowAndReadBackTheSameWhateverTheCRuntimesLocale) {
  testsupport::CrtLocale german;
  ASSERT_TRUE(testsupport::CrtLocale::WritesDecimalComma());
  com::Variant value;
  EXPECT_EQ(S_OK, TextToFloat(L"2.26", "%.1f", value.get()));
  EXPECT_FLOAT_EQ(2.3f, V_R4(value.get()));

  Open();
  EXPECT_EQ(L"1.5", host.text(kItemReal));
  EXPECT_EQ(L"2.25", host.text(kItemDouble));
  host.typeText(kItemReal, L"2.26");
  EXPECT_EQ(S_OK, control->WriteParameter(kReal));
  EXPECT_TRUE(Contains(dtm->calls(), L"WriteParameter 4 2.3"));
}

TEST_F(ControlBaseTest, FieldColoursFollowTheRowState) {
  Open();
  HWND dialog = host.dialog();
  HDC dc = ::GetDC(dialog);
  auto colourOf = [&](UINT message, UINT item, COLORREF* text, LRESULT* brush) {
    ::SetTextColor(dc, RGB(1, 2, 3));
    *brush = ::SendMessageW(dialog, message, reinterpret_cast<WPARAM>(dc),
                            reinterpret_cast<LPARAM>(host.item(item)));
    *text = ::GetTextColor(dc);
  };
  COLORREF text = 0;
  LRESULT brush = 0;
  colourOf(WM_CTLCOLOREDIT, kItemNumber, &text, &brush);
  EXPECT_NE(0, brush);
  EXPECT_EQ(::GetSysColor(COLOR_WINDOWTEXT), text);
  host.typeText(kItemNumber, L"11");
  colourOf(WM_CTLCOLOREDIT, kItemNumber, &text, &brush);
  EXPECT_EQ(kBlue, text) << "changed";
  host.typeText(kItemNumber, L"99");
  colourOf(WM_CTLCOLOREDIT, kItemNumber, &text, &brush);
  EXPECT_EQ(kRed, text) << "invalid";
  EXPECT_EQ(::GetSysColor(COLOR_WINDOW), ::GetBkColor(dc));

  // A read-only edit stays enabled on the button face.
  EXPECT_TRUE(host.enabled(kItemFixed));
  EXPECT_TRUE(host.readOnly(kItemFixed));
  colourOf(WM_CTLCOLORSTATIC, kItemFixed, &text, &brush);
  EXPECT_NE(0, brush);
  EXPECT_EQ(::GetSysColor(COLOR_BTNFACE), ::GetBkColor(dc));
  // Rows with the default colours and windows of no row get the dialog's
  // default handling, which answers the system's brushes.
  colourOf(WM_CTLCOLORSTATIC, kItemOptionText, &text, &brush);
  EXPECT_EQ(reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE)), brush);
  colourOf(WM_CTLCOLOREDIT, 6028, &text, &brush);
  EXPECT_EQ(reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW)), brush);
  ::ReleaseDC(dialog, dc);
}

TEST_F(ControlBaseTest, TranslationSetsTextsAndToolTips) {
  const std::wstring element = L"localization/ActiveXList/ActiveX[@classname=\"Test Control\"]";
  dtm->setText(element + L"/Control[@resId = \"105\"]/Text", L"Switched on");
  dtm->setText(element + L"/Control[@name = \"IDC_Help\"]/Text", L"Hilfe");
  dtm->setText(element + L"/Control[@name = \"IDC_Help\"]/Tooltip", L"Opens the help");
  // A text that equals its own path counts as missing.
  dtm->setText(element + L"/Control[@resId = \"101\"]/Text", element + L"/Control[@resId = \"101\"]/Text");
  Open();
  EXPECT_EQ(L"Switched on", host.text(kItemSwitch));
  EXPECT_EQ(L"Hilfe", host.text(6063));
  EXPECT_EQ(L"7", host.text(kItemNumber));
  EXPECT_EQ(L"Test Control", std::wstring(control->ClassName()));
  // The parameter's text (selector 0x8000) became the item's tool tip.
  EXPECT_TRUE(::FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr));
}

// What HTML Help was asked to open since the last call ("<command> <file>"
// lines), from the double the registry names.
std::string TakeHelpCalls() {
  HMODULE help = ::GetModuleHandleW(L"htmlhelp_double.dll");
  if (!help) return "<not loaded>";
  using Recorded = int(WINAPI*)(char*, int);
  using Clear = void(WINAPI*)();
  auto recorded = reinterpret_cast<Recorded>(reinterpret_cast<void*>(::GetProcAddress(help, "RecordedHelpCalls")));
  auto clear = reinterpret_cast<Clear>(reinterpret_cast<void*>(::GetProcAddress(help, "ClearRecordedHelpCalls")));
  if (!recorded || !clear) return "<no record>";
  char calls[512] = {};
  recorded(calls, sizeof calls);
  clear();
  return calls;
}

TEST_F(ControlBaseTest, HelpOpensTheTranslatedFileFromTheTranslationFolder) {
  // What the DTM's container sends every control: its translation folder
  // and its shared-UI flag, which has nothing to do with help.
  dtm->setText(kHelpFilePath, L"testcontrol_en.chm");
  dtm->addOpeningProperty(property_id::kTranslationPath, com::Variant(L"C:\\Translations\\"));
  dtm->addOpeningProperty(property_id::kSharedUi, com::Variant(false));
  Open();
  ASSERT_TRUE(host.enabled(6063)) << "the translation names a help file";
  ASSERT_TRUE(host.click(6063));
  EXPECT_EQ("0 C:\\Translations\\testcontrol_en.chm\n", TakeHelpCalls())
      << "HTML Help was not loaded from the registered path, or the file not from the translation folder";

  EXPECT_EQ(S_OK, SetProperty(property_id::kSharedUi, com::Variant(true).value()));
  EXPECT_EQ(E_INVALIDARG, SetProperty(property_id::kSharedUi, com::Variant(L"yes").value()));
  EXPECT_TRUE(host.enabled(6063)) << "the shared-UI flag is no help switch";

  // A topic the translation gives with the file stays with it; a folder
  // without its backslash gets one; F1 opens the same.
  dtm->setText(kHelpFilePath, L"testcontrol_en.chm::/settings.htm");
  EXPECT_EQ(S_OK, SetProperty(property_id::kTranslationPath, com::Variant(L"C:\\Other").value()));
  ASSERT_TRUE(host.click(6063));
  EXPECT_EQ("0 C:\\Other\\testcontrol_en.chm::/settings.htm\n", TakeHelpCalls());
  HELPINFO info = {sizeof info};
  ::SendMessageW(host.dialog(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ("0 C:\\Other\\testcontrol_en.chm::/settings.htm\n", TakeHelpCalls());

  // A language whose translation names no help file greys Help out.
  dtm->setText(kHelpFilePath, L"");
  EXPECT_EQ(S_OK, SetProperty(property_id::kLanguage, com::Variant(LONG{1031}).value()));
  EXPECT_FALSE(host.enabled(6063));
  EXPECT_FALSE(host.click(6063));
  ::SendMessageW(host.dialog(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ("", TakeHelpCalls());

  EXPECT_EQ(L"C:/T/control.chm", HelpFileLocation(L"C:/T/", L"control.chm"));
  EXPECT_EQ(L"C:\\T\\help\\en/control.chm", HelpFileLocation(L"C:\\T", L"help\\en/control.chm"));
  EXPECT_EQ(L"", HelpFileLocation(L"C:\\T\\", L""));
  EXPECT_EQ(L"", HelpFileLocation(L"", L"control.chm")) << "no folder sent";
}

// Only a file in the translation folder is opened: any other name the
// translation document gives counts as none, and Help is greyed out.
TEST_F(ControlBaseTest, HelpFileNamedOutsideTheTranslationFolderGivesNoHelp) {
  dtm->setText(kHelpFilePath, L"testcontrol_en.chm");
  dtm->addOpeningProperty(property_id::kTranslationPath, com::Variant(L"C:\\Translations\\"));
  Open();
  auto translate = [&](const wchar_t* name) {
    dtm->setText(kHelpFilePath, name);
    EXPECT_EQ(S_OK, SetProperty(property_id::kLanguage, com::Variant(LONG{1033}).value()));
  };
  const wchar_t* const refused[] = {
      L"D:\\Help\\control.chm",              // a drive
      L"D:control.chm",                     // a drive's current folder
      L"\\Help\\control.chm",                 // the root
      L"/help/control.chm",
      L"\\\\server\\help\\control.chm",        // a network share
      L"//server/help/control.chm",
      L"\\\\?\\C:\\help\\control.chm",
      L"http://help.example/control.htm",   // a web address
      L"mk:@MSITStore:\\\\server\\x.chm::/a.htm",
      L"..\\control.chm",                    // out of the folder
      L"help\\..\\..\\control.chm",
      L"help/../../control.chm",
      L"control.chm::/../../other.chm",     // a topic naming another file
      L"control.chm::/a.htm::b.chm",
  };
  for (const wchar_t* name : refused) {
    translate(name);
    EXPECT_FALSE(host.enabled(6063)) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(L"", HelpFileLocation(L"C:\\Translations\\", name)) << testing::PrintToString(std::wstring(name));
    HELPINFO info = {sizeof info};
    ::SendMessageW(host.dialog(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
  }
  const std::string asked = TakeHelpCalls();
  EXPECT_TRUE(asked.empty() || asked == "<not loaded>") << "HTML Help was asked: " << asked;

  // A relative path below the folder, with a topic.
  translate(L"help\\en\\testcontrol.chm::/start.htm");
  ASSERT_TRUE(host.click(6063));
  EXPECT_EQ("0 C:\\Translations\\help\\en\\testcontrol.chm::/start.htm\n", TakeHelpCalls());
}

TEST_F(ControlBaseTest, MessagesComeFromTheTranslationElseTheirDefaults) {
  dtm->setText(L"localization/UserMessages/Message[@resId=\"IDS_Test\"]", L"Translated message");
  Open();
  EXPECT_EQ(L"Translated message", std::wstring(control->UserMessage(kTestMessage, L"IDS_Test").c_str()))
      << "found by its key";
  EXPECT_EQ(L"Message of the string table", std::wstring(control->UserMessage(kTestMessage, L"IDS_Other").c_str()));
  com::Bstr text;
  EXPECT_EQ(S_OK, control->GetToolkitMessage(4002, text.put()));
  EXPECT_EQ(L"Apply changes?", std::wstring(text.c_str()));
  EXPECT_EQ(S_OK, control->GetToolkitMessage(4001, text.put()));
  EXPECT_EQ(L"Warning", std::wstring(text.c_str()));
  EXPECT_EQ(S_OK, control->GetToolkitMessage(7777, text.put()));
  EXPECT_EQ(nullptr, text.get());
}

TEST_F(ControlBaseTest, TraceAndDtmMessagesAreCutAtTheirBufferSize) {
  Open();
  const std::string longText(5000, 'x');
  control->Trace("%s", longText.c_str());
  ASSERT_FALSE(control->traces.empty());
  EXPECT_EQ(4095u, control->traces.back().size());
  com::ComPtr<IevFdtActiveX4> x4;
  ASSERT_EQ(S_OK, controlObject.as(x4));
  const std::wstring message(6000, L'y');
  ASSERT_EQ(S_OK, x4->OnDtmMessage(com::Variant().value(), com::Variant().value(),
                                   com::Bstr(message.c_str()).get()));
  EXPECT_EQ(4095u, control->traces.back().size());
}

TEST_F(ControlBaseTest, ControlDestroyedByTheFrameFromInsideItsCloseRequestGoesQuietly) {
  Open();
  const LONG locksWhileOpen = com::module().lockCount();
  // The frame answers the close request by releasing the control at once.
  dtm->onClose([&](const std::wstring&) {
    com::ComPtr<IDtmActiveXControl> fdt;
    controlObject.as(fdt);
    VARIANT_BOOL released = VARIANT_FALSE;
    fdt->PrepareToRelease(&released);
    fdt.reset();
    control = nullptr;
    controlObject.reset();
    host.close();
    return released != VARIANT_FALSE;
  });
  control->PostCloseRequest();
  control_host::HostedControl::pump();
  EXPECT_TRUE(Contains(dtm->calls(), L"CloseActiveX Control under test"));
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(0u, dtm->openControls());
  EXPECT_LT(com::module().lockCount(), locksWhileOpen) << "the control object is gone";
}

TEST_F(ControlBaseTest, ControlDroppedWithoutBeingAskedUnbindsWhicheverWayTheFrameTakes) {
  // The control, what it registers and what it holds of the DTM go with the
  // frame's last reference; the DTM's record goes at the frame's first sign.
  const LONG locksWithoutControl = com::module().lockCount();
  auto dtmReferences = [&] {
    dtmObject->AddRef();
    return dtmObject->Release();
  };
  const ULONG referencesWithoutControl = dtmReferences();
  struct Way {
    const char* name;
    bool activated;
    std::function<void()> drop;
  };
  const Way ways[] = {
      {"IOleObject::Close", true, [&] { EXPECT_EQ(S_OK, host.closeObject()); }},
      {"SetClientSite(nullptr)", true, [&] { EXPECT_EQ(S_OK, host.dropSite()); }},
      {"its window destroyed", true, [&] { host.destroyControlWindow(); }},
      {"the last release of a control never activated", false, [&] {
         control = nullptr;
         controlObject.reset();
       }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    dtm->clearCalls();
    if (way.activated) {
      Open();
    } else {
      ASSERT_EQ(S_OK, com::createObject<TestControl>(nullptr, IID_IUnknown, controlObject.putVoid()));
      ASSERT_EQ(VARIANT_TRUE, Init(FunctionCall()));
    }
    ASSERT_EQ(1u, dtm->openControls());
    way.drop();
    EXPECT_EQ(0u, dtm->openControls());
    EXPECT_TRUE(Contains(dtm->calls(), L"ActiveXClosed Control under test"));
    control = nullptr;
    controlObject.reset();
    host.close();
    EXPECT_EQ(locksWithoutControl, com::module().lockCount()) << "the control object is gone";
    EXPECT_EQ(referencesWithoutControl, dtmReferences()) << "the DTM is let go";
  }

  // An Init that fails after registering leaves nothing registered either.
  dtm->clearCalls();
  dtm->offers().parameters = false;
  Open(false);
  EXPECT_EQ(VARIANT_FALSE, Init(FunctionCall()));
  EXPECT_TRUE(Contains(dtm->calls(), L"OpenActiveX Control under test 0"));
  EXPECT_TRUE(Contains(dtm->calls(), L"ActiveXClosed Control under test"));
  EXPECT_EQ(0u, dtm->openControls());
  control = nullptr;
  controlObject.reset();
  host.close();
  EXPECT_EQ(referencesWithoutControl, dtmReferences());
}

TEST_F(ControlBaseTest, ReactivatedControlShowsTheSameAndKeepsTheUsersEntriesWithTheirColours) {
  Open();
  host.typeText(kItemNumber, L"99");    // invalid
  host.selectListItem(kItemMode, 2);    // "High": changed
  host.typeText(kItemReal, L"2.5");     // changed
  ASSERT_TRUE(control->RowFlags(kNumber) & kRowInvalid);
  ASSERT_TRUE(control->RowFlags(kMode) & kRowChanged);

  ASSERT_EQ(S_OK, host.deactivate());
  EXPECT_FALSE(host.dialog());
  ASSERT_EQ(S_OK, host.reactivate());
  ASSERT_TRUE(host.dialog());
  EXPECT_EQ(L"99", host.text(kItemNumber));
  EXPECT_EQ(L"High", host.text(kItemMode));
  EXPECT_EQ(L"2.5", host.text(kItemReal));
  EXPECT_EQ(L"3", host.text(kItemFixed)) << "read from the DTM again";
  EXPECT_TRUE(host.readOnly(kItemFixed));
  EXPECT_TRUE(control->RowFlags(kNumber) & kRowInvalid);
  EXPECT_TRUE(control->RowFlags(kMode) & kRowChanged);
  EXPECT_TRUE(control->RowFlags(kReal) & kRowChanged);
  const std::wstring header = Calls(control_item::kDeviceHeader);
  EXPECT_NE(std::wstring::npos, header.find(L"ShowValue 990 Test device")) << "the new header: " << header;

  // The new window's items are coloured by their rows, also after a further edit.
  HWND dialog = host.dialog();
  HDC dc = ::GetDC(dialog);
  auto textColour = [&](UINT item) {
    ::SetTextColor(dc, RGB(1, 2, 3));
    ::SendMessageW(dialog, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(host.item(item)));
    return ::GetTextColor(dc);
  };
  EXPECT_EQ(kRed, textColour(kItemNumber)) << "invalid";
  EXPECT_EQ(kBlue, textColour(kItemReal)) << "changed";
  host.typeText(kItemNumber, L"11");
  EXPECT_EQ(kBlue, textColour(kItemNumber)) << "changed after the re-activation";
  ::ReleaseDC(dialog, dc);

  // What the user entered is written as entered.
  EXPECT_EQ(S_OK, control->WriteParameter(kNumber));
  EXPECT_TRUE(Contains(dtm->calls(), L"WriteParameter 1 11"));
  EXPECT_EQ(S_OK, control->WriteParameter(kMode));
  EXPECT_TRUE(Contains(dtm->calls(), L"WriteParameter 2 3"));
}

// A control whose dialog initialisation raises what it is told to.
class RaisingInitControl : public TestControl {
 public:
  enum class Raise { kNothing, kComError, kBadAlloc };
  Raise raise = Raise::kNothing;
  using DtmControl::CreateControlWindow;

 protected:
  void OnDialogCreated() override {
    if (raise == Raise::kComError) throw com::ComError(E_ACCESSDENIED);
    if (raise == Raise::kBadAlloc) throw std::bad_alloc();
  }
};

int DescendantWindows(HWND window) {
  int count = 0;
  ::EnumChildWindows(
      window, [](HWND, LPARAM counter) -> BOOL {
        ++*reinterpret_cast<int*>(counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// What the dialog's initialisation raises stops in the dialog procedure:
// the window is not made, the activation answers the failure, and the
// control stays whole (it activates again and goes with its last release).
TEST_F(ControlBaseTest, DialogInitialisationThatRaisesFailsTheActivationAndLeavesNoWindow) {
  const LONG locksWithoutControl = com::module().lockCount();
  ASSERT_EQ(S_OK, com::createObject<RaisingInitControl>(nullptr, IID_IUnknown, controlObject.putVoid()));
  com::ComPtr<IDtmActiveXControl> fdt;
  ASSERT_EQ(S_OK, controlObject.as(fdt));
  auto* raising = static_cast<RaisingInitControl*>(static_cast<DtmControl*>(fdt.get()));
  control = raising;
  ASSERT_EQ(S_OK, host.attach(controlObject.get(), L"Control base", 600, 420));
  ASSERT_EQ(VARIANT_TRUE, Init(FunctionCall()));
  ASSERT_EQ(S_OK, host.deactivate());
  const int windowsWithoutDialog = DescendantWindows(host.frame());

  struct Case {
    const char* name;
    RaisingInitControl::Raise raise;
    HRESULT expected;
  };
  const Case cases[] = {{"ComError", RaisingInitControl::Raise::kComError, E_ACCESSDENIED},
                        {"bad_alloc", RaisingInitControl::Raise::kBadAlloc, E_OUTOFMEMORY}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    raising->raise = c.raise;
    // The window's creation itself: an exception that left the dialog
    // procedure would come out here.
    HWND window = nullptr;
    HRESULT hr = S_OK;
    const RECT place = {0, 0, 600, 420};
    try {
      hr = raising->CreateControlWindow(host.frame(), place, &window);
    } catch (...) {
      ADD_FAILURE() << "an exception left the dialog procedure";
    }
    EXPECT_EQ(c.expected, hr);
    EXPECT_FALSE(window);
    EXPECT_EQ(windowsWithoutDialog, DescendantWindows(host.frame())) << "the dialog was left behind";

    EXPECT_EQ(c.expected, host.reactivate());
    EXPECT_FALSE(host.dialog());
    EXPECT_EQ(windowsWithoutDialog, DescendantWindows(host.frame()));
  }

  raising->raise = RaisingInitControl::Raise::kNothing;
  ASSERT_EQ(S_OK, host.reactivate());
  ASSERT_TRUE(host.dialog());
  EXPECT_EQ(L"7", host.text(kItemNumber));
  fdt.reset();
  control = nullptr;
  controlObject.reset();
  host.close();
  EXPECT_EQ(locksWithoutControl, com::module().lockCount()) << "the control object is gone";
  EXPECT_EQ(0u, dtm->openControls());
}

// The window of a re-activation has item windows and state markers of its
// own: the row's marker stands in the new window and shows the row's state.
TEST_F(ControlBaseTest, ReactivatedControlMarksTheRowsInItsNewWindow) {
  ASSERT_EQ(S_OK, com::createObject<TestControl>(nullptr, IID_IUnknown, controlObject.putVoid()));
  com::ComPtr<IDtmActiveXControl> fdt;
  ASSERT_EQ(S_OK, controlObject.as(fdt));
  control = static_cast<TestControl*>(static_cast<DtmControl*>(fdt.get()));
  const size_t number = static_cast<size_t>(control->FindRowById(kNumber));
  control->Rows()[number].marker = 1;
  ASSERT_EQ(S_OK, host.attach(controlObject.get(), L"Control base", 600, 420));
  ASSERT_EQ(VARIANT_TRUE, Init(FunctionCall()));
  ASSERT_TRUE(control->Rows()[number].markerWindow) << "markers are made at the first show";
  host.typeText(kItemNumber, L"99");  // invalid

  ASSERT_EQ(S_OK, host.deactivate());
  ASSERT_EQ(S_OK, host.reactivate());
  HWND dialog = host.dialog();
  ASSERT_TRUE(dialog);
  const CActXParInfo& row = control->Rows()[number];
  EXPECT_EQ(host.item(kItemNumber), row.itemWindow);
  ASSERT_TRUE(row.markerWindow && ::IsWindow(row.markerWindow) && ::GetParent(row.markerWindow) == dialog)
      << "no marker in the new window";
  HDC dc = ::GetDC(dialog);
  ::SetTextColor(dc, RGB(1, 2, 3));
  ::SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(row.markerWindow));
  EXPECT_EQ(kRed, ::GetTextColor(dc)) << "invalid";
  ::ReleaseDC(dialog, dc);
  wchar_t symbol[8] = {};
  ::GetWindowTextW(row.markerWindow, symbol, 8);
  EXPECT_EQ(std::wstring(L"!"), symbol);
}

// A DTM may mark a refused entry invalid without marking it changed: the
// entry is still the user's, and the next window shows it again.
TEST_F(ControlBaseTest, ReactivatedControlKeepsAnEntryMarkedInvalidAlone) {
  dtm->parameter(kNumber)->invalidAlone = true;
  Open();
  host.typeText(kItemNumber, L"99");
  ASSERT_EQ(ULONG{kRowInvalid}, control->RowFlags(kNumber) & (kRowChanged | kRowInvalid));
  ASSERT_EQ(S_OK, host.deactivate());
  ASSERT_EQ(S_OK, host.reactivate());
  EXPECT_EQ(L"99", host.text(kItemNumber));
  EXPECT_EQ(ULONG{kRowInvalid}, control->RowFlags(kNumber) & (kRowChanged | kRowInvalid));
}

// Escape as a frame routes it, through the object the UI-active control
// named: the dialog manager's IDCANCEL reaches the dialog as a click on its
// Cancel button (6028, an id of its own), but not while that button is
// disabled or hidden, as a click would not.
TEST_F(ControlBaseTest, EscapeClicksTheCancelButtonWhileItCanBeClicked) {
  host.useOwnSite();
  Open();
  ASSERT_TRUE(host.clickInto(kItemNumber));
  ASSERT_TRUE(host.activeObject()) << "the control did not become UI active";
  const WPARAM cancel = MAKEWPARAM(control_item::kCancel, BN_CLICKED);
  auto clicks = [&] { return std::count(control->commands.begin(), control->commands.end(), cancel); };
  ASSERT_TRUE(host.pressKeyInFrame(kItemNumber, VK_ESCAPE));
  EXPECT_EQ(1, clicks());
  ::EnableWindow(host.item(control_item::kCancel), FALSE);
  ASSERT_TRUE(host.pressKeyInFrame(kItemNumber, VK_ESCAPE));
  EXPECT_EQ(1, clicks()) << "disabled";
  ::EnableWindow(host.item(control_item::kCancel), TRUE);
  ::ShowWindow(host.item(control_item::kCancel), SW_HIDE);
  ASSERT_TRUE(host.pressKeyInFrame(kItemNumber, VK_ESCAPE));
  EXPECT_EQ(1, clicks()) << "hidden";
  ::ShowWindow(host.item(control_item::kCancel), SW_SHOW);
  ASSERT_TRUE(host.pressKeyInFrame(kItemMode, VK_ESCAPE));
  EXPECT_EQ(2, clicks()) << "from another item";
}

TEST_F(ControlBaseTest, ControlInformationListsTheMapAndItsUpdateRecords) {
  Open();
  com::ComPtr<IevFdtActiveXInfo> info;
  ASSERT_EQ(S_OK, controlObject.as(info));
  com::Variant answer;
  ASSERT_EQ(S_OK, info->GetInfo(*com::ui4(1).get(), answer.put()));
  EXPECT_EQ(FunctionCall(), std::wstring(V_BSTR(answer.get())));
  ASSERT_EQ(S_OK, info->GetInfo(*com::ui4(16).get(), answer.put()));
  ASSERT_EQ(VT_ARRAY | VT_UI4, answer.type());
  EXPECT_EQ(13u, com::SafeArray::countOf(V_ARRAY(answer.get())));
  ASSERT_EQ(S_OK, info->GetInfo(*com::ui4(32).get(), answer.put()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, answer.type());
  EXPECT_EQ(1u, com::SafeArray::countOf(V_ARRAY(answer.get()))) << "one row has update information";
  EXPECT_EQ(S_FALSE, info->GetInfo(*com::ui4(2).get(), answer.put()));
  EXPECT_EQ(E_FAIL, info->GetInfo(*com::Variant(L"x").get(), answer.put()));
}

}  // namespace
}  // namespace controltest
