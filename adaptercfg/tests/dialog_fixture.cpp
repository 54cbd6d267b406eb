#include "dialog_fixture.h"

#include <commctrl.h>

#include "win32/unique_handle.h"

namespace adaptercfg_test {

void DialogTest::SetUpTestSuite() {
  // No window manager runs on the virtual display: Wine's X11 driver would
  // wait for one at every closed message box. Unmanaged windows close at
  // once. The driver reads it when a process starts, so it counts for the
  // test programs that follow in this prefix.
  win32::UniqueRegKey key;
  RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                  nullptr);
  const wchar_t no[] = L"N";
  RegSetValueExW(key.get(), L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof no);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
}

void DialogTest::SetUp() {
  ClearAdapterRegistry();
  ClearSerialComm();
}

void DialogTest::TearDown() {
  dialog_.reset();
  Pump();
}

HWND DialogTest::Open() {
  dialog_ = std::make_unique<adaptercfg::ConfigDlg>(sim_);
  HWND window = dialog_->CreateModeless(nullptr);
  EXPECT_NE(window, nullptr);
  if (window) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
  }
  Pump();
  return window;
}

void DialogTest::PressOk() {
  Click(dialog(), IDOK);
  // Only a guard: the requests of a test go out in well under a second.
  EXPECT_TRUE(testsupport::PumpUntil([this] { return Closed() || !dialog_->Applying(); }, 60000));
}

}  // namespace adaptercfg_test
