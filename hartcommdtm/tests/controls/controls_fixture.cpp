#include "controls_fixture.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <sstream>

#include "com/ControlHost.h"
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

std::set<std::wstring> EnglishControlEntries() {
  std::set<std::wstring> english;
  com::ComPtr<IXMLDOMDocument2> doc;
  EXPECT_EQ(S_OK, XmlCreateParserDocument(doc.put()));
  if (!doc) return english;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  doc->load(*com::Variant((ProgramFolder() + L"hartcommdtmTranslation.xml").c_str()).get(), &loaded);
  EXPECT_EQ(VARIANT_TRUE, loaded) << "the delivered translation document";
  doc->setProperty(com::Bstr(L"SelectionLanguage").get(), *com::Variant(L"XPath").get());
  for (const wchar_t* area : {L"ActiveXList", L"UserMessages", L"ToolkitMessages"}) {
    const std::wstring path = std::wstring(L"localization/") + area + L"//locale[@code='en']";
    com::ComPtr<IXMLDOMNodeList> nodes;
    if (FAILED(doc->selectNodes(com::Bstr(path.c_str()).get(), nodes.put())) || !nodes) continue;
    for (com::ComPtr<IXMLDOMNode> node; nodes->nextNode(node.put()) == S_OK && node;) {
      com::Bstr text;
      node->get_text(text.put());
      english.insert(text.c_str());
    }
  }
  return english;
}

std::vector<ShownText> EnglishLeft(const std::vector<ShownText>& shown, const std::set<std::wstring>& english) {
  // The same in both languages.
  static const std::set<std::wstring> kSameInGerman = {L"OK", L"ID", L"USB", L"PCI", L"PCMCIA"};
  std::vector<ShownText> left;
  for (const ShownText& text : shown) {
    const bool hasLetter = std::any_of(text.text.begin(), text.text.end(), [](wchar_t c) { return std::iswalpha(c); });
    if (hasLetter && !kSameInGerman.count(text.text) && english.count(text.text)) left.push_back(text);
  }
  return left;
}

void PrintTo(const ShownText& text, std::ostream* out) {
  *out << testing::PrintToString(text.where + L": \"" + text.text + L"\"");
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

int ButtonTextMargin() { return 2 * ::GetSystemMetrics(SM_CXEDGE) + 3; }

std::wstring TightButtons(HWND dialog) {
  std::wstring tight;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t className[64] = {};
    ::GetClassNameW(child, className, 64);
    const LONG_PTR type = ::GetWindowLongPtrW(child, GWL_STYLE) & BS_TYPEMASK;
    if (::_wcsicmp(className, L"Button") != 0 || (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON)) continue;
    wchar_t raw[256] = {};
    ::GetWindowTextW(child, raw, 256);
    std::wstring text;
    for (const wchar_t* c = raw; *c; ++c) {
      if (*c == L'&' && *++c == L'\0') break;  // "&&" shows one '&'
      text += *c;
    }
    HDC dc = ::GetDC(child);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(child, WM_GETFONT, 0, 0)));
    SIZE extent = {};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(child, dc);
    RECT client = {};
    ::GetClientRect(child, &client);
    if (extent.cx + 2 * ButtonTextMargin() > client.right)
      tight += std::to_wstring(::GetDlgCtrlID(child)) + L" \"" + text + L"\" " + std::to_wstring(extent.cx) + L" of " +
               std::to_wstring(client.right) + L"\n";
  }
  return tight;
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

std::vector<ShownText> ControlsFixture::ShownTexts(bool withCells) {
  std::vector<ShownText> shown;
  HWND dialog = host.dialog();
  if (!dialog) return shown;
  auto add = [&](std::wstring where, std::wstring text) { shown.push_back({std::move(where), std::move(text)}); };
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const std::wstring item = L"item " + std::to_wstring(::GetDlgCtrlID(child));
    wchar_t className[64] = {};
    ::GetClassNameW(child, className, 64);
    const std::wstring kind = className;
    const LONG_PTR imageStyle = ::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK;
    const bool image = kind == L"Static" && (imageStyle == SS_ICON || imageStyle == SS_BITMAP);
    if ((kind == L"Static" && !image) || kind == L"Button") {
      wchar_t text[1024] = {};
      ::GetWindowTextW(child, text, 1024);
      add(item, text);
    } else if (kind == L"ComboBox") {
      const LRESULT count = ::SendMessageW(child, CB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        if (::SendMessageW(child, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 256)
          ::SendMessageW(child, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        add(item + L" entry " + std::to_wstring(i), text);
      }
    } else if (kind == WC_LISTVIEWW) {
      HWND header = reinterpret_cast<HWND>(::SendMessageW(child, LVM_GETHEADER, 0, 0));
      const int columns = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
      const int rows = static_cast<int>(::SendMessageW(child, LVM_GETITEMCOUNT, 0, 0));
      for (int column = 0; column < columns; ++column) {
        add(item + L" column " + std::to_wstring(column), ColumnTitle(::GetDlgCtrlID(child), column));
        for (int row = 0; withCells && row < rows; ++row)
          add(item + L" cell " + std::to_wstring(row) + L"," + std::to_wstring(column), ListCell(child, row, column));
      }
    } else if (kind == com::kControlHostClass) {
      // The statuses the control registered with the footer bar, the last
      // registration of each.
      std::map<std::wstring, std::wstring> statuses;
      std::wistringstream calls(RecordedCalls(child));
      for (std::wstring line; std::getline(calls, line);) {
        if (line.compare(0, 15, L"RegisterStatus ") != 0) continue;
        const size_t name = line.find(L' ', 15);
        if (name != std::wstring::npos) statuses[line.substr(15, name - 15)] = line.substr(name + 1);
      }
      for (const auto& status : statuses) {
        const size_t bar = status.second.find(L'|');
        add(item + L" status " + status.first, status.second.substr(0, bar));
        if (bar != std::wstring::npos) add(item + L" status tip " + status.first, status.second.substr(bar + 1));
      }
    }
  }
  // Tool tips: windows of the tool-tip class owned by the dialog's items.
  struct Search {
    HWND dialog;
    std::vector<ShownText>* shown;
  } search{dialog, &shown};
  ::EnumThreadWindows(::GetCurrentThreadId(), [](HWND window, LPARAM context) -> BOOL {
    auto* search = reinterpret_cast<Search*>(context);
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    HWND owner = ::GetWindow(window, GW_OWNER);
    if (std::wcscmp(className, TOOLTIPS_CLASSW) != 0 || !owner || ::GetParent(owner) != search->dialog) return TRUE;
    const int tools = static_cast<int>(::SendMessageW(window, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < tools; ++i) {
      wchar_t text[1024] = {};
      TTTOOLINFOW tool = {};
      tool.cbSize = TTTOOLINFOW_V2_SIZE;
      tool.lpszText = text;
      if (::SendMessageW(window, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&tool)))
        search->shown->push_back({L"tip of item " + std::to_wstring(::GetDlgCtrlID(owner)), text});
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&search));
  return shown;
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
