#include "test_support.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "screenshot.h"
#include "shared/registry_layout.h"
#include "win32/unique_handle.h"

namespace adaptercfg_test {

namespace {

constexpr REGSAM kView = shared::kRegistryView;

win32::UniqueRegKey CreateKey(const std::string& path, REGSAM view = kView) {
  win32::UniqueRegKey key;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(),
                  nullptr);
  return key;
}

std::string ConfigPath(int number) { return std::string(shared::kConfigKeyPath) + "\\" + std::to_string(number); }

void SnapshotKey(HKEY key, const std::string& prefix, std::vector<std::string>* lines) {
  char name[512];
  BYTE data[512];
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    std::string line = prefix + " " + name + " type " + std::to_string(type) + " =";
    for (DWORD b = 0; b < dataSize; ++b) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", data[b]);
      line += hex;
    }
    lines->push_back(line);
  }
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subkeys.push_back(name);
  }
  std::sort(subkeys.begin(), subkeys.end());
  for (const std::string& subkey : subkeys) {
    lines->push_back(prefix + "\\" + subkey);
    win32::UniqueRegKey child;
    if (RegOpenKeyExA(key, subkey.c_str(), 0, KEY_READ, child.put()) == ERROR_SUCCESS)
      SnapshotKey(child.get(), prefix + "\\" + subkey, lines);
  }
}

}  // namespace

void ClearAdapterRegistry() {
  win32::UniqueRegKey root;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kAdapterRootKeyPath, 0, KEY_ALL_ACCESS | kView, root.put()) ==
      ERROR_SUCCESS) {
    RegDeleteTreeA(root.get(), "Config");
    RegDeleteTreeA(root.get(), shared::kEnumSubkeyName);
  }
}

void SetConfigKey(int number, const DWORD* serial, const DWORD* port) {
  win32::UniqueRegKey key = CreateKey(ConfigPath(number));
  if (serial)
    RegSetValueExA(key.get(), shared::kUsbIdValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(serial), 4);
  if (port)
    RegSetValueExA(key.get(), shared::kSerialPortValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(port), 4);
}

void SetConfigSlot(int number, DWORD serial, DWORD port) { SetConfigKey(number, &serial, &port); }

void SetEnumValue(const std::string& devicePath, DWORD serial) {
  SetEnumValueOfType(devicePath, REG_DWORD, &serial, sizeof serial);
}

void SetEnumValueOfType(const std::string& devicePath, DWORD type, const void* data, DWORD size) {
  win32::UniqueRegKey key = CreateKey(shared::kEnumKeyPath);
  RegSetValueExA(key.get(), devicePath.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

bool ReadConfigDword(int number, const char* name, DWORD* value) {
  win32::UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ConfigPath(number).c_str(), 0, KEY_READ | kView, key.put()) !=
      ERROR_SUCCESS)
    return false;
  DWORD type = 0, size = sizeof *value;
  return RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD;
}

bool ConfigKeyExists(int number) {
  win32::UniqueRegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, ConfigPath(number).c_str(), 0, KEY_READ | kView, key.put()) ==
         ERROR_SUCCESS;
}

std::vector<std::string> ConfigSnapshot() {
  std::vector<std::string> lines;
  win32::UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kConfigKeyPath, 0, KEY_READ | kView, key.put()) == ERROR_SUCCESS)
    SnapshotKey(key.get(), "Config", &lines);
  return lines;
}

void ClearSerialComm() {
  win32::UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP", 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS)
    RegDeleteTreeA(key.get(), "SERIALCOMM");
}

void AddSerialComm(const std::string& name, const std::string& data) {
  win32::UniqueRegKey key;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>(data.size() + 1));
}

std::string BesideTest(const std::string& name) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.rfind('\\') + 1) + name;
}

std::string TempPath(const std::string& name) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + name;
}

void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Click(HWND dialog, int id) {
  SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
  Pump();
}

std::string Text(HWND window) {
  char text[2048] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
bool Visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

namespace {

void CollectTree(HWND tree, HTREEITEM item, const std::string& indent, std::vector<std::string>* texts) {
  for (; item; item = TreeView_GetNextSibling(tree, item)) {
    char text[256] = {};
    TVITEMA tvItem = {};
    tvItem.mask = TVIF_TEXT;
    tvItem.hItem = item;
    tvItem.pszText = text;
    tvItem.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tvItem));
    texts->push_back(indent + text);
    CollectTree(tree, TreeView_GetChild(tree, item), indent + "  ", texts);
  }
}

}  // namespace

std::vector<std::string> TreeTexts(HWND tree) {
  std::vector<std::string> texts;
  CollectTree(tree, TreeView_GetRoot(tree), "", &texts);
  return texts;
}

HTREEITEM TreeChild(HWND tree, int index) {
  HTREEITEM item = TreeView_GetChild(tree, TreeView_GetRoot(tree));
  for (int i = 0; item && i < index; ++i) item = TreeView_GetNextSibling(tree, item);
  return item;
}

void SelectTreeItem(HWND tree, HTREEITEM item) {
  TreeView_SelectItem(tree, item);
  Pump();
}

std::vector<std::string> ComboTexts(HWND combo) {
  std::vector<std::string> texts;
  const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[64] = {};
    SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    texts.push_back(text);
  }
  return texts;
}

std::vector<std::string> ListTexts(HWND list) {
  std::vector<std::string> texts;
  const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[256] = {};
    SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
    texts.push_back(text);
  }
  return texts;
}

// --- modal windows ---

namespace {

ModalScript* g_script = nullptr;
constexpr int kMessageBoxTextId = 0xFFFF;

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

bool IsDialogWindow(HWND window) {
  char className[32] = {};
  GetClassNameA(window, className, sizeof className);
  return std::string(className) == "#32770";
}

}  // namespace

bool IsMessageBox(HWND window) { return IsDialogWindow(window) && GetDlgItem(window, kMessageBoxTextId) != nullptr; }

std::string WindowDescription(HWND window) {
  std::string description = Text(window);
  if (IsMessageBox(window)) description += "|" + Text(GetDlgItem(window, kMessageBoxTextId));
  return description;
}

void PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (button && IsWindowEnabled(button))
    SendMessageW(button, BM_CLICK, 0, 0);
  else
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

ModalScript::ModalScript() {
  g_script = this;
  timer_ = SetTimer(nullptr, 0, 10, OnTimer);
}

ModalScript::~ModalScript() {
  if (timer_) KillTimer(nullptr, timer_);
  g_script = nullptr;
}

ModalScript& ModalScript::On(const std::string& pattern, Action action) {
  steps_.push_back({pattern, std::move(action)});
  return *this;
}

ModalScript& ModalScript::Answer(const std::string& pattern, int button) {
  return On(pattern, [button](HWND window) { PressButton(window, button); });
}

void CALLBACK ModalScript::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (g_script) g_script->Tick();
}

void ModalScript::Tick() {
  if (busy_) return;  // an action's own modal loop runs the timer again
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    if (!IsWindowVisible(window) || !IsWindowEnabled(window) || !IsDialogWindow(window)) continue;
    if (handled_.count(window)) continue;
    const std::string description = WindowDescription(window);
    const bool expected = next_ < steps_.size() && description.find(steps_[next_].pattern) != std::string::npos;
    if (!expected) {
      if (!IsMessageBox(window)) continue;  // the code under test's own dialog
      handled_.insert(window);
      unexpected_.push_back(description);
      seen_.push_back(description);
      PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return;
    }
    handled_.insert(window);
    seen_.push_back(description);
    Action action = steps_[next_++].action;
    busy_ = true;
    action(window);
    busy_ = false;
    return;
  }
}

}  // namespace adaptercfg_test
