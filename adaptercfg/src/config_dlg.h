// ConfigDlg: the program's main window. The device-number tree of adapter
// entries, the panel of the selected entry, the search for attached
// adapters and the configuration applied through the service's pipe.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "adapter_config.h"
#include "apply.h"
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
  // While OK's requests are on their way to the service.
  bool Applying() const { return applyThread_.valid(); }
  // How long the dialog's end waits for OK's requests to stop (the one on
  // its way when the dialog is destroyed); tests shorten it.
  static constexpr DWORD kApplyEndWaitMs = 10000;
  void SetApplyEndWait(DWORD milliseconds) { applyEndWait_ = milliseconds; }

  static constexpr int kLegacyDeviceCount = 32;  // _evHART_USB0..15, _evHART2USB0..15
  static std::string LegacyDeviceName(int slot);

 private:
  // Posted by the apply thread when it is done; wParam the ApplyResult.
  static constexpr UINT kMsgApplyDone = WM_APP + 1;

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Finish(INT_PTR result);
  void OnCancel();

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
  // Whether the serial box can be saved into the entry of `item` (always for
  // the root, and while changes are disabled).
  bool SerialTextValid(HTREEITEM item) const;
  // The same, and when it cannot: tells the user and puts the focus into
  // the serial box; the entry keeps its serial.
  bool CheckSerialText(HTREEITEM item);
  void ApplyConfiguration();
  static DWORD WINAPI ApplyThread(void* self);
  void OnApplyDone(ApplyResult result);
  void DisableWhileApplying();
  void EnableAfterApplying();
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

  // OK sends on a thread of its own: the service takes seconds per adapter
  // with a COM port, and the dialog must keep painting meanwhile. The
  // thread shares the job with the dialog and keeps it alive: a dialog that
  // ends while a request hangs in the service does not wait for it for
  // good, and the thread then tells nobody.
  struct ApplyJob {
    std::vector<PipeMessage> requests;
    std::atomic<bool> stop{false};
    win32::CriticalSection lock;
    HWND target = nullptr;  // told when the requests are done; null once the dialog goes
  };
  std::shared_ptr<ApplyJob> applyJob_;
  win32::UniqueHandle applyThread_;
  DWORD applyEndWait_ = kApplyEndWaitMs;
  std::vector<HWND> disabledWhileApplying_;
  HWND focusBeforeApplying_ = nullptr;
  // An apply that was cut short left the service with part of it.
  bool partlyWritten_ = false;
};

}  // namespace adaptercfg
