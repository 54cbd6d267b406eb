#include "small_dialogs.h"

#include <cstdio>

#include "../res/resource.h"
#include "texts.h"
#include "win32/callback_guard.h"

namespace adaptercfg {

namespace {
HINSTANCE g_resources = nullptr;
}

HINSTANCE ResourceModule() { return g_resources ? g_resources : GetModuleHandleW(nullptr); }
void SetResourceModule(HINSTANCE module) { g_resources = module; }

std::string LoadText(UINT id) {
  char text[1024];
  const int length = LoadStringA(ResourceModule(), id, text, sizeof text);
  return length > 0 ? std::string(text, length) : std::string();
}

int Ask(HWND owner, const std::string& text, UINT flags) {
  return MessageBoxA(owner, text.c_str(), texts::kMessageCaption, flags);
}

std::string FormatText(const char* format, const std::string& argument) {
  const int length = std::snprintf(nullptr, 0, format, argument.c_str());
  if (length < 0) return format;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(&text[0], text.size(), format, argument.c_str());
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string LibraryVersionText(const char* fileName) {
  std::string text = texts::kVersionPrefix;
  DWORD ignored = 0;
  // Sized by the version API: a fixed buffer cut long version blocks short.
  const DWORD size = GetFileVersionInfoSizeA(fileName, &ignored);
  std::vector<char> block(size ? size : 1);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoLength = 0;
  if (!size || !GetFileVersionInfoA(fileName, 0, size, block.data()) ||
      !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &infoLength) || !info ||
      infoLength < sizeof(VS_FIXEDFILEINFO))
    return text + texts::kNoVersion;
  char version[64];
  std::snprintf(version, sizeof version, texts::kVersionFormat, static_cast<int>(HIWORD(info->dwFileVersionMS)),
                static_cast<int>(LOWORD(info->dwFileVersionMS)), static_cast<int>(HIWORD(info->dwFileVersionLS)),
                static_cast<int>(LOWORD(info->dwFileVersionLS)));
  return text + version;
}

namespace {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      // Without its text the box still shows and closes.
      win32::guard([&] { SetDlgItemTextA(dialog, IDC_VERSION_TEXT, LibraryVersionText("modemapi.dll").c_str()); });
      // OK has the focus, not the text (which would show selected).
      SetFocus(GetDlgItem(dialog, IDOK));
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

void RunAboutDlg(HWND owner) {
  DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc, 0);
}

INT_PTR AttachedDevicesDlg::Run(HWND owner) {
  return DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(IDD_ATTACHED_DEVICES), owner, Proc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK AttachedDevicesDlg::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    // A list that could not be filled offers no choice: nothing is selected.
    const bool filled = win32::guard(false, [&] {
      reinterpret_cast<AttachedDevicesDlg*>(lParam)->OnInit(dialog);
      return true;
    });
    if (!filled) EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  auto* self = reinterpret_cast<AttachedDevicesDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self || message != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case IDC_FOUND_LIST:  // a double-click on a row selects it
      if (HIWORD(wParam) != LBN_DBLCLK) return FALSE;
      win32::guard([&] { self->OnSelect(dialog); });
      return TRUE;
    case IDOK:
      win32::guard([&] { self->OnSelect(dialog); });
      return TRUE;
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

void AttachedDevicesDlg::OnInit(HWND dialog) {
  SetWindowTextA(dialog, texts::kAttachedTitle);
  HWND list = GetDlgItem(dialog, IDC_FOUND_LIST);
  for (uint32_t id : ids) {
    if (!id) continue;
    char row[16];
    std::snprintf(row, sizeof row, texts::kSerialRowFormat, static_cast<unsigned>(id));
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row));
  }
  for (const std::string& text : texts) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageA(list, LB_SETCURSEL, 0, 0);
}

void AttachedDevicesDlg::OnSelect(HWND dialog) {
  // Without a row there is nothing to select; an empty result must not
  // replace the serial the user typed.
  HWND list = GetDlgItem(dialog, IDC_FOUND_LIST);
  const LRESULT row = SendMessageA(list, LB_GETCURSEL, 0, 0);
  const LRESULT length = row == LB_ERR ? LB_ERR : SendMessageA(list, LB_GETTEXTLEN, row, 0);
  if (length == LB_ERR) return;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(length));
  resultText = text;
  EndDialog(dialog, IDOK);
}

}  // namespace adaptercfg
