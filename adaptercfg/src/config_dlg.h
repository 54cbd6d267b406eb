// ConfigDlg: the program's main window. The device-number tree of adapter
// entries, the panel of the selected entry, the search for attached
// adapters and the configuration applied through the service's pipe.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

#include "adapter_config.h"
#include "legacy_driver.h"
#include "win32/unique_handle.h"

namespace adaptercfg {

struct IconTraits {
  using type = HICON;
  static type invalid() { return nullptr; }
  static bool valid(type icon) { return icon != nullptr; }
  static void close(type icon) { DestroyIcon(icon); }
};
struct ImageListTraits {
  using type = HIMAGELIST;
  static type invalid() { return nullptr; }
  static bool valid(type list) { return list != nullptr; }
  static void close(type list) { ImageList_Destroy(list); }
};
using UniqueIcon = win32::UniqueResource<IconTraits>;
using UniqueImageList = win32::UniqueResource<ImageListTraits>;

class ConfigDlg {
 public:
  explicit ConfigDlg(LegacyDriver& legacyDriver = SystemLegacyDriver());
  ~ConfigDlg();
  ConfigDlg(const ConfigDlg&) = delete;
  ConfigDlg& operator=(const ConfigDlg&) = delete;

  // Shows the dialog modally; IDOK after OK, IDCANCEL after Cancel, 0 when
  // an EEPROM upgrade ended it.
  INT_PTR RunModal(HWND owner);
  // The same dialog without its own message loop (the caller pumps
  // messages); Result() tells how it ended once window() is null.
  HWND CreateModeless(HWND owner);
  HWND window() const { return dialog_; }
  INT_PTR Result() const { return result_; }

  static constexpr int kLegacyDeviceCount = 32;  // _evHART_USB0..15, _evHART2USB0..15
  static std::string LegacyDeviceName(int slot);

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Finish(INT_PTR result);

  void OnInitDialog();
  void OnCommand(int id, int code);
  LRESULT OnTreeNotify(NMHDR* header);
  void OnSelChanged(HTREEITEM item);
  void OnTreeKeyDown(WORD key);
  void OnAdd();
  void OnRemove();
  void OnPortCheck();
  void OnAbout();
  void OnPaint();

  void BuildImageList();
  HTREEITEM InsertItem(TreeNode* node, HTREEITEM parent);
  void SetItemText(HTREEITEM item, const std::string& text);
  TreeNode* NodeOf(HTREEITEM item) const;
  void ShowEntry(HTREEITEM item);
  void SaveEntry(HTREEITEM item);
  void ShowPanelFor(int16_t nodeType);
  void ApplyConfiguration();
  void SearchUsbAdapters();
  bool SearchLegacyDevices(int index);

  LegacyDriver& legacyDriver_;
  HWND dialog_ = nullptr;
  HWND tree_ = nullptr;
  bool modal_ = false;
  INT_PTR result_ = 0;
  UniqueImageList images_;
  UniqueIcon bigIcon_;
  UniqueIcon smallIcon_;
  TreeNode root_;
  HTREEITEM rootItem_ = nullptr;
  HTREEITEM current_ = nullptr;
  uint32_t usedPorts_ = 0;
  uint32_t foreignPorts_ = 0;
  bool inUse_ = false;
  std::string serialText_;
  LegacyHandle legacy_[kLegacyDeviceCount];
};

}  // namespace adaptercfg
