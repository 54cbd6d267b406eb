#include "controls_fixture.h"

#include <commctrl.h>

#include "controls/list_view_columns.h"
#include "recording_control.h"
#include "regsvr32.h"
#include "screenshot.h"
#include "toolkit/dtm/dtm_states.h"
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

const char* FrameOrderName(FrameOrder order) {
  switch (order) {
    case FrameOrder::kActivateThenInit:
      return "activated, then Init";
    case FrameOrder::kInitThenActivate:
      return "Init, then activated";
    case FrameOrder::kReactivated:
      return "deactivated and activated again";
  }
  return "?";
}

std::wstring DialogContent(HWND dialog) {
  std::wstring content;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t className[64] = {};
    ::GetClassNameW(child, className, 64);
    const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
    content += std::to_wstring(::GetDlgCtrlID(child)) + L" " + className;
    if (!(style & WS_VISIBLE)) content += L" hidden";
    if (!::IsWindowEnabled(child)) content += L" disabled";
    // A hidden item's text is not shown.
    if ((style & WS_VISIBLE) && ::_wcsicmp(className, L"ComControlHost") != 0) {
      wchar_t text[512] = {};
      ::GetWindowTextW(child, text, 512);
      content += std::wstring(L" \"") + text + L"\"";
    }
    if (::_wcsicmp(className, L"Edit") == 0 && (style & ES_READONLY)) content += L" read-only";
    if (::_wcsicmp(className, L"Button") == 0)
      content += L" check " + std::to_wstring(::SendMessageW(child, BM_GETCHECK, 0, 0));
    if (::_wcsicmp(className, L"ComboBox") == 0) {
      const LRESULT count = ::SendMessageW(child, CB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < count; ++i) {
        wchar_t entry[128] = {};
        ::SendMessageW(child, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
        content += std::wstring(L" [") + entry + L"]";
      }
      content += L" selected " + std::to_wstring(::SendMessageW(child, CB_GETCURSEL, 0, 0));
    }
    if (::_wcsicmp(className, WC_LISTVIEWW) == 0) {
      HWND header = reinterpret_cast<HWND>(::SendMessageW(child, LVM_GETHEADER, 0, 0));
      const int columns = header ? static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
      const int rows = static_cast<int>(::SendMessageW(child, LVM_GETITEMCOUNT, 0, 0));
      for (int column = 0; column < columns; ++column) {
        wchar_t title[64] = {};
        LVCOLUMNW item = {};
        item.mask = LVCF_TEXT;
        item.pszText = title;
        item.cchTextMax = 64;
        ::SendMessageW(child, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
        content += std::wstring(L" <") + title + L">";
      }
      for (int row = 0; row < rows; ++row) {
        content += L"\n  row";
        for (int column = 0; column < columns; ++column) content += L" [" + ListCell(child, row, column) + L"]";
        if (::SendMessageW(child, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED)
          content += L" selected";
      }
    }
    content += L"\n";
  }
  return content;
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
  HandleCloseRequests();
}

void ControlsFixture::HandleCloseRequests() {
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

void ControlsFixture::OpenControlInOrder(FrameOrder order, const wchar_t* progId, ULONG functionId,
                                         const wchar_t* caption, int width, int height) {
  if (order != FrameOrder::kInitThenActivate) {
    OpenControl(progId, functionId, caption, width, height);
    return;
  }
  ASSERT_EQ(S_OK, host.createInactive(progId));
  com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
  ASSERT_TRUE(control);
  com::Bstr call(FunctionCallDocument(functionId).c_str());
  ASSERT_EQ(S_OK, control->Init(tag.get(), call.get(), object.get(), &initialised));
  ASSERT_EQ(S_OK, host.activate(caption, width, height));
  ASSERT_TRUE(host.dialog()) << "the control made no window";
}

void ControlsFixture::Reactivate() {
  ASSERT_EQ(S_OK, host.deactivate());
  ASSERT_FALSE(host.dialog()) << "the window stays after the deactivation";
  ASSERT_EQ(S_OK, host.reactivate());
  ASSERT_TRUE(host.dialog()) << "no window after the activation";
}

void ControlsFixture::StartAgain() {
  host.close();
  if (dtm && State() == kDtmOnline) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
    EXPECT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
    EXPECT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
  }
  if (dtm && State() >= kDtmEnvironmentSet) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(S_OK, dtm->ShutdownDtm(&ok));
    EXPECT_EQ(VARIANT_TRUE, ok) << "the DTM still has an open control";
  }
  ReleaseDtm();
  childDtms_.clear();
  frame = nullptr;
  frameObject = frame_double::createControlFrame(&frame);
  ASSERT_TRUE(frame);
  frame->setAgile(true);
  HandleCloseRequests();
  releaseAnswers.clear();
  initialised = VARIANT_FALSE;
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
