// The program as the repository builds it, with the stand-in firmware
// tables: an adapter with older firmware is told that the upgrade is not
// available, and nothing is sent to it that would write its EEPROM.
#include "dialog_fixture.h"
#include "firmware.h"
#include "resource.h"
#include "upgrade_dlg.h"

namespace adaptercfg_test {
namespace {

class StandInFirmwareTest : public DialogTest {};

TEST_F(StandInFirmwareTest, AnOldAdapterIsToldTheUpgradeIsNotAvailableAndNeverGetsTheLoader) {
  ASSERT_TRUE(adaptercfg::FirmwareTablesAreStandIns());
  auto& old = sim_.Add("\\\\.\\_evHART_USB0");  // older firmware, EEPROM word 0x0834
  auto& other = sim_.Add("\\\\.\\_evHART_USB1", 0x0030, true, 0x56);
  SetConfigSlot(0, 0x1111, 0);
  ASSERT_TRUE(Open());
  SelectEntry(0);

  std::vector<std::string> rows;
  ModalScript script;
  script
      .On("The firmware upgrade is not available in this build", [](HWND box) {
        SaveScreenshot(box, "upgrade-not-available");
        PressButton(box, IDOK);
      })
      .Answer("The firmware upgrade is not available in this build", IDOK)
      .On("attached USB devices", [&](HWND found) {
        rows = ListTexts(GetDlgItem(found, IDC_FOUND_LIST));
        PressButton(found, IDCANCEL);
      });
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Done());
  // No question about an upgrade, and nothing else.
  EXPECT_TRUE(script.Unexpected().empty()) << script.Unexpected().front();
  // The adapters are listed with their serials and stay as they were.
  EXPECT_EQ(rows, (std::vector<std::string>{"0834", "0856"}));
  for (const auto* adapter : {&old, &other}) {
    EXPECT_EQ(adapter->downloadRequests, 0);
    EXPECT_EQ(adapter->writeCount, 0);
    EXPECT_TRUE(adapter->loader.empty());
  }
  EXPECT_FALSE(Closed());
  Click(dialog(), IDCANCEL);
  ASSERT_TRUE(Closed());

  // The upgrade dialog itself refuses to run with these tables.
  adaptercfg::LegacyHandle handle;
  ASSERT_TRUE(handle.Open(sim_, "\\\\.\\_evHART_USB1"));
  const int reads = other.readCount;
  adaptercfg::UpgradeDlg upgrade(handle);
  upgrade.Run(nullptr);
  EXPECT_FALSE(upgrade.Succeeded());
  EXPECT_EQ(other.downloadRequests, 0);
  EXPECT_EQ(other.readCount, reads);
  EXPECT_EQ(other.writeCount, 0);
}

}  // namespace
}  // namespace adaptercfg_test
