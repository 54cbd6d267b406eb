#include "dialog_fixture.h"

#include <commctrl.h>

namespace adaptercfg_test {

void DialogTest::SetUpTestSuite() {
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
