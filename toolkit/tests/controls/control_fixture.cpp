#include "control_fixture.h"

#include <objbase.h>

#include <algorithm>

#include "com/Module.h"
#include "recording_control.h"
#include "regsvr32.h"
#include "win32/unique_handle.h"

namespace controltest {

namespace {

const wchar_t kTag[] = L"Control under test";

const ParameterMapRow kMap[] = {
    {kNumber, "Number", kItemNumber, "%u", kRowFlagsDefault, 0, 0},
    {kMode, "Mode", kItemMode, "", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {kOptions, "Options", kItemOptions, "", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {kReal, "Real", kItemReal, "%.1f", kRowFlagsDefault, 0, 0},
    {kSwitch, "Switch", kItemSwitch, "%d", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {kBytes, "Bytes", kItemBytes, "%s", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {kOptionText, "Option text", kItemOptionText, "", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {kFixed, "Fixed", kItemFixed, "%u", kRowFlagsDefault, 0, 0},
    {kOutOfRange, "Out of range", kItemOutOfRange, "", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {kDouble, "Double", kItemDouble, "%.2f", kRowFlagsDefault, 0, 500},
    {kDate, "Date", kItemDate, "%s", kRowFlagsDefault, kDisplayDefaultColours, 0},
    HeaderRow(990, control_item::kDeviceHeader),
    HeaderRow(991, control_item::kDeviceHeader),
    kEndOfMap};

const ItemName kItemNames[] = {{kItemNumber, "IDC_Number"}, {kItemSwitch, "IDC_Switch"},
                               {6063, "IDC_Help"}, {0, nullptr}};
const UINT kFooterItems[] = {control_item::kFooterBar, 0};

// A class id of the tests' own: the class key is written by the fixture.
const CLSID kTestControlClass = {0x2f1c6d7e, 0x8a4b, 0x4c3d, {0x9e, 0x5f, 0x6a, 0x7b, 0x8c, 0x9d, 0x0e, 0x1f}};

const ControlDescription kDescription = {
    &kTestControlClass, kTestDialog, kMap, kItemNames, kFooterItems, 0,
    L"FDT/FDTFunctionCall/@func:functionId", false, nullptr, control_item::kCancel};

control_dtm::Parameter Number(ULONG id, VARTYPE vt, LONG value) {
  control_dtm::Parameter p;
  p.id = id;
  com::Variant v(value);
  ::VariantChangeType(v.get(), v.get(), 0, vt);
  p.value = v;
  return p;
}

}  // namespace

TestControl::TestControl() : DtmControl(kDescription) {}

const com::InterfaceEntry* TestControl::interfaceMap() {
  static const com::InterfaceEntry map[] = {com::entry<TestControl, IOleObject>(),
                                            EV_DTM_CONTROL_ENTRIES(TestControl), com::endOfMap()};
  return map;
}

STDMETHODIMP TestControl::OutputTrace(BSTR text) {
  traces.push_back(text ? std::wstring(text, ::SysStringLen(text)) : std::wstring());
  return S_OK;
}

bool TestControl::OnControlMessage(UINT message, WPARAM wParam, LPARAM, LRESULT*) {
  if (message == WM_COMMAND) commands.push_back(wParam);
  return false;
}

std::wstring FunctionCall(int functionId) {
  return L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMFunctionCallSchema.xml\" "
         L"xmlns:func=\"x-schema:DTMFunctionsSchema.xml\" xmlns:ops=\"x-schema:FDTOperationPhaseSchema.xml\">"
         L"<FDTFunctionCall func:functionId=\"" +
         std::to_wstring(functionId) + L"\" ops:operationPhase=\"engineering\"/></FDT>";
}

std::wstring FunctionList(const wchar_t* applicationId, const wchar_t* name) {
  std::wstring application;
  if (applicationId)
    application = std::wstring(L"<appId:ApplicationId applicationId=\"") + applicationId + L"\"/>";
  return std::wstring(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMFunctionsSchema.xml\" "
                      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" "
                      L"xmlns:appId=\"x-schema:FDTApplicationIdSchema.xml\"><Functions>"
                      L"<Function functionId=\"7\" fdt:name=\"") +
         name + L"\">" + application + L"</Function></Functions></FDT>";
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void ControlBaseTest::SetUpTestSuite() {
  const std::wstring folder = testsupport::ProgramFolder();
  ASSERT_EQ(0u, testsupport::RunRegsvr32(L"/s", folder + L"hostedctl_double.dll"));
  // The test control's class key: its text is the class name under which
  // the translation lists the control.
  win32::UniqueRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{2F1C6D7E-8A4B-4C3D-9E5F-6A7B8C9D0E1F}",
                                             0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
  const wchar_t name[] = L"Test Control";
  ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof(name));
  // HTML Help is the double beside the program.
  win32::UniqueRegKey help;
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32",
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr, help.put(), nullptr));
  const std::wstring path = folder + L"htmlhelp_double.dll";
  ::RegSetValueExW(help.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

void ControlBaseTest::SetUp() {
  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  com::module().init(::GetModuleHandleW(nullptr), nullptr, 0, false);
  dtmObject = control_dtm::createControlDtm(&dtm);
  ASSERT_TRUE(dtm);
  dtm->setFunctions(FunctionList(L"fdtConfiguration"));
  dtm->addOpeningProperty(property_id::kUserLevel, com::ui4(4));

  auto add = [&](control_dtm::Parameter p) { dtm->addParameter(std::move(p)); };
  control_dtm::Parameter number = Number(kNumber, VT_UI1, 7);
  number.limited = true;
  number.minimum = 5;
  number.maximum = 20;
  number.tip = L"Number of things";
  add(number);
  control_dtm::Parameter mode = Number(kMode, VT_I4, 2);
  mode.valueKind = 1;
  mode.entries = {{1, L"Low"}, {2, L"Medium"}, {3, L"High"}};
  add(mode);
  control_dtm::Parameter options = Number(kOptions, VT_UI4, 5);
  options.valueKind = 2;
  options.entries = {{0, L"None"}, {1, L"Alpha"}, {2, L"Beta"}, {4, L"Gamma"}};
  add(options);
  control_dtm::Parameter optionText = options;
  optionText.id = kOptionText;
  add(optionText);
  control_dtm::Parameter real;
  real.id = kReal;
  V_VT(real.value.get()) = VT_R4;
  V_R4(real.value.get()) = 1.5f;
  add(real);
  add(Number(kSwitch, VT_BOOL, -1));
  control_dtm::Parameter bytes;
  bytes.id = kBytes;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, 3);
  BYTE* data = nullptr;
  ::SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
  data[0] = 0x0A;
  data[1] = 0xFF;
  data[2] = 0x01;
  ::SafeArrayUnaccessData(array);
  V_VT(bytes.value.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(bytes.value.get()) = array;
  add(bytes);
  control_dtm::Parameter fixed = Number(kFixed, VT_UI1, 3);
  fixed.flags = 0x70;  // not writable
  add(fixed);
  control_dtm::Parameter outOfRange = Number(kOutOfRange, VT_I4, 9);
  outOfRange.valueKind = 1;
  outOfRange.entries = {{1, L"One"}};
  add(outOfRange);
  control_dtm::Parameter real8;
  real8.id = kDouble;
  V_VT(real8.value.get()) = VT_R8;
  V_R8(real8.value.get()) = 2.25;
  add(real8);
  control_dtm::Parameter date;
  date.id = kDate;
  V_VT(date.value.get()) = VT_DATE;
  V_DATE(date.value.get()) = 40000.5;
  add(date);
  control_dtm::Parameter device;
  device.id = 990;
  device.value = com::Variant(L"Test device");
  device.flags = 0x70;
  add(device);
  control_dtm::Parameter deviceType = device;
  deviceType.id = 991;
  deviceType.value = com::Variant(L"Test type");
  add(deviceType);
}

void ControlBaseTest::TearDown() {
  host.close();
  control = nullptr;
  controlObject.reset();
  dtm = nullptr;
  dtmObject.reset();
  ::CoUninitialize();
}

void ControlBaseTest::Open(bool init) {
  ASSERT_EQ(S_OK, com::createObject<TestControl>(nullptr, IID_IUnknown, controlObject.putVoid()));
  com::ComPtr<IDtmActiveXControl> fdt;
  ASSERT_EQ(S_OK, controlObject.as(fdt));
  control = static_cast<TestControl*>(static_cast<DtmControl*>(static_cast<IDtmActiveXControl*>(fdt.get())));
  ASSERT_EQ(S_OK, host.attach(controlObject.get(), L"Control base", 600, 420));
  ASSERT_TRUE(host.dialog());
  if (init) {
    ASSERT_EQ(VARIANT_TRUE, Init(FunctionCall()));
  }
}

VARIANT_BOOL ControlBaseTest::Init(const std::wstring& call) {
  com::ComPtr<IDtmActiveXControl> fdt;
  EXPECT_EQ(S_OK, controlObject.as(fdt));
  VARIANT_BOOL ok = VARIANT_FALSE;
  fdt->Init(com::Bstr(kTag).get(), com::Bstr(call.c_str()).get(), dtmObject.get(), &ok);
  control_host::HostedControl::pump();
  return ok;
}

HRESULT ControlBaseTest::SetProperty(ULONG key, const VARIANT& value) {
  com::ComPtr<IevFdtActiveX4> x4;
  EXPECT_EQ(S_OK, controlObject.as(x4));
  return x4->SetProperty(*com::ui4(key).get(), value);
}

std::wstring ControlBaseTest::Calls(UINT item) { return RecordedCalls(host.item(item)); }

}  // namespace controltest
