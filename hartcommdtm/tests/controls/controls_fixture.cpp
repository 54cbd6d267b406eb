#include "controls_fixture.h"

#include <commctrl.h>

#include "controls/list_view_columns.h"
#include "recording_control.h"
#include "regsvr32.h"
#include "screenshot.h"
#include "win32/unique_handle.h"

namespace hartdtmtest {

std::wstring FunctionCallDocument(ULONG functionId) {
  return L"<?xml version=\"1.0\"?> <FDT \txmlns\t\t=\"x-schema:DTMFunctionCallSchema.xml\" "
         L"\txmlns:func\t=\"x-schema:DTMFunctionsSchema.xml\" "
         L"\txmlns:appId\t=\"x-schema:FDTApplicationIdSchema.xml\" "
         L"\txmlns:ops\t=\"x-schema:FDTOperationPhaseSchema.xml\"> "
         L"\t<FDTFunctionCall func:functionId=\"" +
         std::to_wstring(functionId) + L"\"/> </FDT>";
}

void ControlsFixture::SetUpTestSuite() {
  HartDtmFixture::SetUpTestSuite();
  ASSERT_EQ(0u, testsupport::RunRegsvr32(L"/s", ProgramFolder() + L"hostedctl_double.dll"));
  // HTML Help is the double beside the program.
  win32::UniqueRegKey help;
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32",
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr, help.put(), nullptr));
  const std::wstring path = ProgramFolder() + L"htmlhelp_double.dll";
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(help.get(), nullptr, 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(path.c_str()),
                                            static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))));
}

void ControlsFixture::SetUp() {
  BoundAdapterFixture::SetUp();
  frame->onCloseControl([this](const std::wstring&, VARIANT_BOOL* answer) -> HRESULT {
    com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
    *answer = VARIANT_FALSE;
    if (!control) return S_OK;
    VARIANT_BOOL released = VARIANT_FALSE;
    control->PrepareToRelease(&released);
    releaseAnswers.push_back(released);
    control.reset();
    if (!released) return S_OK;
    host.close();
    *answer = VARIANT_TRUE;
    return S_OK;
  });
}

void ControlsFixture::TearDown() {
  host.close();
  BoundAdapterFixture::TearDown();
  childDtms_.clear();
}

void ControlsFixture::OpenControl(const wchar_t* progId, ULONG functionId, const wchar_t* caption,
                                  int width, int height) {
  ASSERT_EQ(S_OK, host.create(progId, caption, width, height));
  ASSERT_TRUE(host.dialog()) << "the control made no window";
  com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
  ASSERT_TRUE(control);
  com::Bstr call(FunctionCallDocument(functionId).c_str());
  ASSERT_EQ(S_OK, control->Init(tag.get(), call.get(), object.get(), &initialised));
  control_host::HostedControl::pump();
}

void ControlsFixture::BroadcastState(ULONG state) {
  com::ComPtr<IevFdtActiveXContainer> container;
  ASSERT_EQ(S_OK, object.as(container));
  ASSERT_EQ(S_OK, container->NotifyControlsState(state));
  control_host::HostedControl::pump();
}

std::wstring ControlsFixture::HostedCalls(UINT item) { return RecordedCalls(host.item(item)); }

std::string ControlsFixture::TakeHelpCalls() {
  HMODULE help = ::GetModuleHandleW(L"htmlhelp_double.dll");
  if (!help) return "<not loaded>";
  using Recorded = int(WINAPI*)(char*, int);
  using Clear = void(WINAPI*)();
  auto recorded = reinterpret_cast<Recorded>(reinterpret_cast<void*>(::GetProcAddress(help, "RecordedHelpCalls")));
  auto clear = reinterpret_cast<Clear>(reinterpret_cast<void*>(::GetProcAddress(help, "ClearRecordedHelpCalls")));
  if (!recorded || !clear) return "<no record>";
  char calls[1024] = {};
  recorded(calls, sizeof calls);
  clear();
  return calls;
}

std::wstring ControlsFixture::FunctionEnabled(ULONG functionId) {
  com::Bstr phase(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\" "
                  L"operationPhase=\"engineering\" />");
  com::Bstr text;
  if (FAILED(dtm->GetFunctions(phase.get(), text.put()))) return L"<failed>";
  auto doc = Parse(text.c_str(), L"x-schema:DTMFunctionsSchema.xml");
  const std::wstring path = L"//d:Function[@functionId=\"" + std::to_wstring(functionId) + L"\"]/d:Status/@enabled";
  return Select(doc.get(), path.c_str());
}

void ControlsFixture::SaveScreenshot(const char* name) {
  host.pump();
  EXPECT_FALSE(testsupport::SaveScreenshot(host.frame(), name).empty()) << "no screenshot of " << name;
}

com::ComPtr<IHART_Channel> ControlsFixture::Channel() {
  com::ComPtr<IHART_Channel> channel;
  com::ComPtr<IUnknown> object = HartChannel();
  if (object) object.as(channel);
  return channel;
}

devicedtm_double::ChildDtm* ControlsFixture::RegisterChildDtm(const std::wstring& systemTag,
                                                              const std::wstring& dtmTag, int address) {
  devicedtm_double::ChildDtm* child = nullptr;
  com::ComPtr<IUnknown> object = devicedtm_double::createChildDtm(&child);
  EXPECT_TRUE(object);
  if (!object) return nullptr;
  child->setDocument(devicedtm_double::ChildDocument(dtmTag, address));
  frame->addDtm(systemTag, object.get());
  childDtms_[systemTag] = object;
  return child;
}

int ControlsFixture::ListRows(UINT list) {
  return static_cast<int>(::SendMessageW(host.item(list), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring ControlsFixture::ListCellText(UINT list, int row, int column) {
  return ListCell(host.item(list), row, column);
}

int ControlsFixture::ListImage(UINT list, int row, int column) {
  LVITEMW item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iSubItem = column;
  if (!::SendMessageW(host.item(list), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  return item.iImage;
}

std::wstring ControlsFixture::ColumnTitle(UINT list, int column) {
  wchar_t title[64] = {};
  LVCOLUMNW header = {};
  header.mask = LVCF_TEXT;
  header.pszText = title;
  header.cchTextMax = 64;
  ::SendMessageW(host.item(list), LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&header));
  return title;
}

}  // namespace hartdtmtest
