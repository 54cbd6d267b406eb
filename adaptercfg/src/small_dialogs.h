// The program's smaller dialogs: the About box, the list of attached
// adapters, and the message boxes every dialog asks the user with.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace adaptercfg {

// Module whose resources (dialogs, strings, icons) the program uses.
HINSTANCE ResourceModule();
void SetResourceModule(HINSTANCE module);
std::string LoadText(UINT id);

// A message box with the program's caption.
int Ask(HWND owner, const std::string& text, UINT flags);
// `format` with its one "%s" replaced by `argument`.
std::string FormatText(const char* format, const std::string& argument);

// "modemapi.dll: " followed by the file version of `fileName` as
// "%d.%d.%d.%d", or the no-version text.
std::string LibraryVersionText(const char* fileName);

// AboutDlg (IDD_ABOUT): the library's file version in edit 1042.
void RunAboutDlg(HWND owner);

// AttachedDevicesDlg (IDD_ATTACHED_DEVICES).
class AttachedDevicesDlg {
 public:
  static constexpr int kSlotCount = 32;

  int16_t nodeType = 0;
  uint32_t ids[kSlotCount] = {};  // 0 = empty slot
  std::vector<std::string> texts;
  std::string resultText;

  // Runs the dialog modally; IDOK when a row was chosen with "Select".
  INT_PTR Run(HWND owner);

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit(HWND dialog);
  void OnSelect(HWND dialog);
};

}  // namespace adaptercfg
