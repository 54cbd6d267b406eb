// The configuration dialog opened in the test's own thread, modeless, with
// the old-adapter simulator in place of the legacy driver.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>

#include "config_dlg.h"
#include "legacy_adapter_sim.h"
#include "test_support.h"

namespace adaptercfg_test {

class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Opens ConfigDlg; the in-use message (if any) is answered by `script`.
  HWND Open();
  HWND dialog() const { return dialog_->window(); }
  HWND tree() const { return GetDlgItem(dialog_->window(), 1000); }
  bool Closed() const { return dialog_->window() == nullptr; }
  // Presses OK and dispatches messages until its requests have gone out
  // (answering what the dialog then asks through the running ModalScript).
  void PressOk();
  void SelectEntry(int index) { SelectTreeItem(tree(), TreeChild(tree(), index)); }

  LegacyAdapterSim sim_;
  std::unique_ptr<adaptercfg::ConfigDlg> dialog_;
};

}  // namespace adaptercfg_test
