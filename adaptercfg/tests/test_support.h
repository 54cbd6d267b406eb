// Helpers of adaptercfg's tests: the configuration registry, driving
// dialogs by window messages, answering the modal windows the code under
// test opens, and screenshots.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "message_pump.h"
#include "screenshot.h"

namespace adaptercfg_test {

// --- registry (HKLM, 32-bit view as the service writes it) ---
void ClearAdapterRegistry();
void SetConfigKey(int number, const DWORD* serial, const DWORD* port);  // null: value not written
void SetConfigSlot(int number, DWORD serial, DWORD port);
void SetEnumValue(const std::string& devicePath, DWORD serial);
void SetEnumValueOfType(const std::string& devicePath, DWORD type, const void* data, DWORD size);
bool ReadConfigDword(int number, const char* name, DWORD* value);
bool ConfigKeyExists(int number);
// Every subkey and value under ConfigKey as text, for before/after checks.
std::vector<std::string> ConfigSnapshot();
// HARDWARE\DEVICEMAP\SERIALCOMM: emptied, then one value per call.
void ClearSerialComm();
void AddSerialComm(const std::string& name, const std::string& data);

// --- files and processes ---
std::string BesideTest(const std::string& name);
std::string TempPath(const std::string& name);  // a file in the prefix's temp folder
void WriteFileText(const std::string& path, const std::string& text);

// --- dialogs ---
void Pump();  // dispatches what is queued for this thread
void Click(HWND dialog, int id);  // BM_CLICK: does nothing on a disabled button
std::string Text(HWND window);
std::string ItemText(HWND dialog, int id);
bool Visible(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
// Texts of the tree's items, depth-first, children indented by two blanks.
std::vector<std::string> TreeTexts(HWND tree);
HTREEITEM TreeChild(HWND tree, int index);  // index-th child of the root item
void SelectTreeItem(HWND tree, HTREEITEM item);
std::vector<std::string> ComboTexts(HWND combo);
std::vector<std::string> ListTexts(HWND list);

// Answers the modal windows that the code under test opens on this thread,
// one step per window, from a thread timer that runs inside their message
// loops. A step matches when its pattern occurs in the window's caption or
// text. Message boxes that no step expects are recorded and dismissed with
// IDCANCEL; other dialogs are left to their own code unless a step names them.
class ModalScript {
 public:
  using Action = std::function<void(HWND window)>;

  ModalScript();
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  ModalScript& On(const std::string& pattern, Action action);
  // A message box answered with a button (IDOK, IDYES, IDRETRY, ...).
  ModalScript& Answer(const std::string& pattern, int button);

  bool Done() const { return next_ == steps_.size(); }
  // Caption and text of every window handled or dismissed, in order.
  const std::vector<std::string>& Seen() const { return seen_; }
  const std::vector<std::string>& Unexpected() const { return unexpected_; }

 private:
  struct Step {
    std::string pattern;
    Action action;
  };
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
  void Tick();

  std::vector<Step> steps_;
  size_t next_ = 0;
  std::vector<std::string> seen_;
  std::vector<std::string> unexpected_;
  std::set<HWND> handled_;
  UINT_PTR timer_ = 0;
  bool busy_ = false;
};

// The caption and, for a message box, its text: "caption|text".
std::string WindowDescription(HWND window);
bool IsMessageBox(HWND window);
// Presses a dialog's button by id (also message boxes' IDOK, IDRETRY, ...).
void PressButton(HWND dialog, int id);

// PNG screenshots into screenshots/ beside the test program.
using testsupport::SaveScreenshot;

}  // namespace adaptercfg_test
