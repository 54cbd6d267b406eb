// DtmControl: translation of the dialog, tool tips, help, user and toolkit
// messages, questions to the user and trace output.
#include <windows.h>
#include <commctrl.h>
#include <htmlhelp.h>

#include <cstdarg>
#include <cstdio>
#include <cwctype>
#include <string>

#include "com/Guard.h"
#include "com/Module.h"
#include "com/Registration.h"
#include "toolkit/controls/control_base.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/xml/translation.h"
#include "toolkit/xml/user_messages.h"
#include "toolkit/xml/xpath_literal.h"
#include "toolkit/values/text_helpers.h"


namespace {

constexpr LONG kSelectorTip = 0x8000;
constexpr LONG kSelectorTipAnnounced = static_cast<LONG>(0x80000000);
constexpr int kMaxTipWidth = 300;

// The class whose in-process server path names the HTML Help library.
const wchar_t kHtmlHelpClass[] = L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";

using HtmlHelpFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

bool IsAbsolutePath(const wchar_t* path) {
  if (!path || !*path) return false;
  if (path[0] == L'\\' || path[0] == L'/') return true;
  return std::iswalpha(path[0]) && path[1] == L':';
}

// HtmlHelpA of the library the registry names for the HTML Help class, by
// its full path only. Loaded at first use and kept for the process: a help
// window it opened may outlive every control.
HtmlHelpFunction HtmlHelpEntry() {
  static HtmlHelpFunction entry = nullptr;
  if (entry) return entry;
  // A REG_EXPAND_SZ value comes back expanded.
  wchar_t path[MAX_PATH] = {};
  DWORD bytes = sizeof(path) - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_CLASSES_ROOT, kHtmlHelpClass, nullptr, RRF_RT_REG_SZ,
                     nullptr, path, &bytes) != ERROR_SUCCESS ||
      !IsAbsolutePath(path))
    return nullptr;
  HMODULE library = ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library) return nullptr;
  entry = reinterpret_cast<HtmlHelpFunction>(reinterpret_cast<void*>(::GetProcAddress(library, "HtmlHelpA")));
  return entry;
}

// A help file comes only from the translation folder. The name is the
// translation document's, and any caller can have the DTM load a document
// of its own (LoadTranslation): a name with a drive, a root, a network
// share, a web address or ".." could make HTML Help open a file from
// anywhere, and a help file from a share is a way to run code. So the name
// must be a plain file name or a relative path below the folder: no ':', no
// leading '\' or '/', no "..". A topic behind it ("file.chm::/page.htm")
// names a page inside the file and stays with it; it may not name a further
// file (no ':' and no ".." in it either). Anything else is no help file.
bool IsHelpFileName(const std::wstring& name) {
  const size_t topic = name.find(L"::");
  const std::wstring file = name.substr(0, topic);
  const std::wstring page = topic == std::wstring::npos ? std::wstring() : name.substr(topic + 2);
  if (file.empty() || file[0] == L'\\' || file[0] == L'/') return false;
  for (const std::wstring* part : {&file, &page})
    if (part->find(L':') != std::wstring::npos || part->find(L"..") != std::wstring::npos) return false;
  return true;
}

}  // namespace

std::wstring HelpFileLocation(const wchar_t* translationFolder, const wchar_t* file) {
  const std::wstring name = file ? file : L"";
  if (!translationFolder || !*translationFolder || !IsHelpFileName(name)) return std::wstring();
  std::wstring folder = translationFolder;
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder + name;
}

// ---- Translation ------------------------------------------------------------------------

const wchar_t* DtmControl::ClassName() {
  if (!className_.empty()) return className_.c_str();
  const std::wstring key = L"CLSID\\" + com::guidText(ControlClassId());
  wchar_t text[256] = {};
  DWORD bytes = sizeof(text) - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &bytes) ==
      ERROR_SUCCESS)
    className_.assign(text);
  return className_.c_str();
}

STDMETHODIMP DtmControl::OnTranslate(unsigned long languageId) {
  return com::guard([&]() -> HRESULT {
    if (languageId == 0) {
      RemoveAllToolTips();
      return S_OK;
    }
    auto translation = DtmInterface<IevFdtTranslation>();
    if (!translation) return S_OK;
    lastTranslatedItem_ = nullptr;
    TranslateParameterTips();
    const HRESULT hr = TranslateItems(translation.get());
    // Help is offered in the languages that name a help file.
    com::Bstr file;
    EnableHelp(LookUpHelpFile(translation.get(), &file));
    if (dialog_) OnTranslated();
    return hr;
  });
}

HRESULT DtmControl::TranslateParameterTips() {
  auto info = DtmInterface<IevFdtParameterInfo>();
  if (!info) return S_FALSE;
  for (int row = 0; row < RowCount(); ++row) {
    const com::Variant id = com::ui4(static_cast<ULONG>(rows_[row].id));
    if (description_.tipsOnlyWhenAnnounced) {
      // Only rows whose first answer is not zero get a tip and a refill.
      com::Variant announced;
      info->GetParameterInfo(id.value(), *com::Variant(kSelectorTipAnnounced).get(), announced.get());
      if (FAILED(::VariantChangeType(announced.get(), announced.get(), 0, VT_I4)) ||
          (V_I4(announced.get()) & 0xFFFF) == 0)
        continue;
    }
    com::Variant tip;
    if (SUCCEEDED(info->GetParameterInfo(id.value(), *com::Variant(kSelectorTip).get(), tip.get())) &&
        tip.type() == VT_BSTR && rows_[row].item)
      if (HWND item = Item(rows_[row].item)) SetToolTip(item, V_BSTR(tip.get()));
    RefillEnumeration(row);
  }
  return S_OK;
}

HRESULT DtmControl::TranslateItems(IevFdtTranslation* translation) {
  if (!description_.itemNames || !dialog_) return S_OK;
  com::Bstr className;
  if (!QuotedXPathLiteral(ClassName(), className.put())) return S_FALSE;
  const std::wstring element = std::wstring(L"localization/ActiveXList/ActiveX[@classname=") +
                               className.c_str() + L"]";
  for (const ItemName* entry = description_.itemNames; entry->id; ++entry) {
    HWND item = Item(entry->id);
    if (!item) continue;
    if (auto translated = HostedControl<IevFdtTranslationEvent>(entry->id)) {
      translated->OnTranslate(languageId_);
      continue;
    }
    std::wstring path = element + L"/Control[@resId = \"" + std::to_wstring(entry->id) + L"\"]";
    VARIANT_BOOL exists = VARIANT_FALSE;
    translation->ContainsNode(com::Bstr(path.c_str()).get(), &exists);
    if (!exists) {
      com::Bstr name;
      name.assignMultiByte(entry->name ? entry->name : "");
      com::Bstr literal;
      if (!QuotedXPathLiteral(name.c_str(), literal.put())) continue;
      path = element + L"/Control[@name = " + literal.c_str() + L"]";
      translation->ContainsNode(com::Bstr(path.c_str()).get(), &exists);
      if (!exists) continue;
    }
    ApplyTranslationElement(translation, entry->id, path.c_str());
  }
  return S_OK;
}

HRESULT DtmControl::ApplyTranslationElement(IevFdtTranslation* translation, UINT id,
                                            const wchar_t* element) {
  HWND item = Item(id);
  if (!item) return S_FALSE;
  // A text that equals the path asked for counts as missing.
  auto lookUp = [&](const wchar_t* child, com::Bstr* text) {
    const std::wstring path = std::wstring(element) + child;
    VARIANT_BOOL found = VARIANT_FALSE;
    return SUCCEEDED(translation->GetLocalizedText(com::Bstr(path.c_str()).get(), text->put(), &found)) &&
           found && path != text->c_str();
  };
  com::Bstr text;
  if (lookUp(L"/Text", &text)) {
    const bool bitmap = GetDialogItemKind(item) == kItemStatic &&
                        (::GetWindowLongPtrW(item, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
    if (bitmap) {
      // The text names a bitmap file to show.
      if (HANDLE image = ::LoadImageW(nullptr, text.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)) {
        HANDLE old = reinterpret_cast<HANDLE>(
            ::SendMessageW(item, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image)));
        if (old && old != image) ::DeleteObject(old);
      }
    } else {
      SetItemTextAnsi(id, text.c_str());
    }
  }
  com::Bstr tip;
  if (lookUp(L"/Tooltip", &tip)) SetToolTip(item, tip.c_str());
  return S_OK;
}

// ---- Tool tips ----------------------------------------------------------------------------

void DtmControl::SetToolTip(HWND item, const wchar_t* text) {
  if (!item) return;
  auto found = toolTips_.find(item);
  TTTOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = item;
  tool.uId = 0;
  if (!text) {
    if (found == toolTips_.end()) return;
    ::SendMessageW(found->second, TTM_DELTOOL, 0, reinterpret_cast<LPARAM>(&tool));
    ::DestroyWindow(found->second);
    toolTips_.erase(found);
    return;
  }
  tool.lpszText = const_cast<wchar_t*>(text);
  if (found != toolTips_.end()) {
    ::SendMessageW(found->second, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    return;
  }
  HWND tip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, item, nullptr, nullptr, nullptr);
  if (!tip) return;
  ::SetWindowPos(tip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ::SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, kMaxTipWidth);
  tool.uFlags = TTF_SUBCLASS;
  ::GetClientRect(item, &tool.rect);
  ::SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  toolTips_[item] = tip;
}

void DtmControl::RemoveAllToolTips() {
  for (auto& entry : toolTips_) ::DestroyWindow(entry.second);
  toolTips_.clear();
}

// ---- Messages to the user -------------------------------------------------------------------

com::Bstr DtmControl::UserMessage(int id, const wchar_t* key) {
  com::Bstr text;
  CTranslationHelper::GetUserMessage(dtm_.get(), id, key, text.put(), com::module().instance());
  return text;
}

HRESULT DtmControl::GetToolkitMessage(ULONG id, BSTR* text) {
  return ::GetToolkitMessage(dtm_.get(), id, ToolkitMessageUser::Controls, text);
}

long DtmControl::ShowUserMessage(const wchar_t* text, const wchar_t* caption, ULONG style) {
  auto container = DtmInterface<IevFdtActiveXContainer>();
  if (!container) return 0;
  long answer = 0;
  if (FAILED(container->ShowUserMessage(com::Bstr(text ? text : L"").get(),
                                        com::Bstr(caption ? caption : L"").get(), com::ui4(style).value(), &answer)))
    return 0;
  return answer;
}

bool DtmControl::AskToApplyChanges(const std::function<HRESULT()>& apply) {
  com::Bstr text, caption;
  GetToolkitMessage(4002, text.put());
  GetToolkitMessage(4001, caption.put());
  const long answer = ShowUserMessage(text.c_str(), caption.c_str(), MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDCANCEL) return false;
  return answer != IDYES || SUCCEEDED(apply());
}

// ---- Help --------------------------------------------------------------------------------

// The help file's name is read here, and only a file in the translation
// folder counts (IsHelpFileName above): a name that points anywhere else is
// as no name, so that Help stays greyed out.
bool DtmControl::LookUpHelpFile(IevFdtTranslation* translation, com::Bstr* file) {
  com::Bstr className;
  if (!translation || !QuotedXPathLiteral(ClassName(), className.put())) return false;
  const std::wstring path = std::wstring(L"localization/ActiveXList/ActiveX[@classname=") +
                            className.c_str() + L"]/HelpFile";
  VARIANT_BOOL found = VARIANT_FALSE;
  return SUCCEEDED(translation->GetLocalizedText(com::Bstr(path.c_str()).get(), file->put(), &found)) && found &&
         !HelpFileLocation(translationFolder_.c_str(), file->c_str()).empty();
}

HRESULT DtmControl::ShowHelp() {
  return com::guard([&]() -> HRESULT {
    com::Bstr file;
    if (!LookUpHelpFile(DtmInterface<IevFdtTranslation>().get(), &file)) return S_FALSE;
    const std::wstring location = HelpFileLocation(translationFolder_.c_str(), file.c_str());
    HtmlHelpFunction htmlHelp = HtmlHelpEntry();
    if (!htmlHelp) return E_FAIL;
    htmlHelp(dialog_, AnsiFromWide(location.c_str()).c_str(), HH_DISPLAY_TOPIC, 0);
    return S_OK;
  });
}

// ---- Trace -----------------------------------------------------------------------------------

namespace {

// The text formatted into a buffer of chars characters; a longer text is cut.
std::string FormatBounded(size_t chars, const char* format, va_list args) {
  std::string text(chars, '\0');
  const int written = std::vsnprintf(&text[0], chars, format ? format : "", args);
  if (written < 0) return std::string();
  text.resize(static_cast<size_t>(written) < chars ? static_cast<size_t>(written) : chars - 1);
  return text;
}

}  // namespace

void DtmControl::Trace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatBounded(4096, format, args);
  va_end(args);
  com::Bstr wide;
  if (SUCCEEDED(wide.assignMultiByte(text.c_str())))
    static_cast<IevFdtActiveX4*>(this)->OutputTrace(wide.get());
}

void DtmControl::TraceShort(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatBounded(512, format, args);
  va_end(args);
  com::Bstr wide;
  if (SUCCEEDED(wide.assignMultiByte(text.c_str())))
    static_cast<IevFdtActiveX4*>(this)->OutputTrace(wide.get());
}
