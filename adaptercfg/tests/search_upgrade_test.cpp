// The search for attached adapters (EnumKey, then the old driver's devices)
// and the EEPROM upgrade on the old-adapter simulator, driven through the
// dialog with the modal windows answered by script. This program carries
// firmware tables that are not stand-ins (upgrade_test_tables.cpp), so the
// upgrade runs.
#include "dialog_fixture.h"

#include <commctrl.h>
#include "firmware.h"
#include "resource.h"

namespace adaptercfg_test {
namespace {

using adaptercfg::BuildBootImage;
using adaptercfg::BootProgramTable;
using adaptercfg::UnpackedProgram;

const char kUpgradeQuestion[] = "the configuration program has detected a device with an older firmware";
const char kUpgradeDone[] = "The device's EEPROM holds the new firmware.";
const char kNoDevices[] = "No attached FSK Mavix devices found.";

std::vector<uint8_t> ExpectedImage(uint16_t serial) {
  UnpackedProgram program;
  EXPECT_TRUE(adaptercfg::UnpackProgram(BootProgramTable(), &program));
  std::vector<uint8_t> image = BuildBootImage(program, serial);
  image[0] = 0xB2;  // written last
  return image;
}

std::vector<uint8_t> EepromStart(const LegacyAdapterSim::Adapter& adapter, size_t length) {
  return std::vector<uint8_t>(adapter.eeprom.begin(), adapter.eeprom.begin() + length);
}

// A device path that opens (the dialog's in-use check opens every one).
std::string DeviceFile(const std::string& name) {
  const std::string path = TempPath(name);
  WriteFileText(path, "simulated adapter\n");
  return path;
}

class SearchTest : public DialogTest {
 protected:
  // Opens the dialog with one entry selected.
  void OpenWithEntry() {
    SetConfigSlot(0, 0x1111, 0);
    ASSERT_TRUE(Open());
    SelectEntry(0);
  }
};

TEST_F(SearchTest, ListsTheSerialsOfEnumKeySortedAndPutsTheChoiceIntoTheSerialBox) {
  SetEnumValue(DeviceFile("first"), 0x1234);
  const char text[] = "not an adapter";
  SetEnumValueOfType(DeviceFile("text"), REG_SZ, text, sizeof text);  // longer than 4 bytes: passed over
  SetEnumValue(DeviceFile("second"), 0x00AB);
  OpenWithEntry();

  std::vector<std::string> rows;
  ModalScript script;
  script.On("attached USB devices", [&](HWND found) {
    rows = ListTexts(GetDlgItem(found, IDC_FOUND_LIST));
    SaveScreenshot(found, "attached-devices");
    SendDlgItemMessageW(found, IDC_FOUND_LIST, LB_SETCURSEL, 0, 0);
    PressButton(found, IDOK);
  });
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(rows, (std::vector<std::string>{"00AB", "1234"}));
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "00AB");
  EXPECT_TRUE(sim_.OpenAttempts().empty());  // adapters found: no legacy search

  // A double-click on a row selects it.
  ModalScript doubleClick;
  doubleClick.On("attached USB devices", [&](HWND found) {
    HWND list = GetDlgItem(found, IDC_FOUND_LIST);
    RECT row = {};
    SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
    const LPARAM at = MAKELPARAM(row.left + 4, (row.top + row.bottom) / 2);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(list, WM_LBUTTONUP, 0, at);
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageW(list, WM_LBUTTONUP, 0, at);
  });
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(doubleClick.Done());
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "1234");

  // Cancel leaves the box as it is.
  ModalScript cancel;
  cancel.Answer("attached USB devices", IDCANCEL);
  SetDlgItemTextA(dialog(), IDC_SERIAL, "4321");
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(cancel.Done());
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "4321");
}

TEST_F(SearchTest, ListsTheFirst32ValuesOfEnumKey) {
  for (int i = 0; i < 40; ++i) SetEnumValue(DeviceFile("adapter" + std::to_string(i)), 0x1000 + i);
  OpenWithEntry();
  size_t rows = 0;
  ModalScript script;
  script.On("attached USB devices", [&](HWND found) {
    rows = ListTexts(GetDlgItem(found, IDC_FOUND_LIST)).size();
    PressButton(found, IDCANCEL);
  });
  Click(dialog(), IDC_SEARCH);
  EXPECT_EQ(rows, 32u);
}

TEST_F(SearchTest, NothingAttachedSaysSoAndKeepsTheSerial) {
  OpenWithEntry();
  ModalScript script;
  script.Answer(kNoDevices, IDOK);
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(script.Unexpected().empty());
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "1111");
  // Every old driver's device name was tried.
  const std::vector<std::string> tried = sim_.OpenAttempts();
  ASSERT_EQ(tried.size(), 32u);
  EXPECT_EQ(tried[0], "\\\\.\\_evHART_USB0");
  EXPECT_EQ(tried[15], "\\\\.\\_evHART_USB15");
  EXPECT_EQ(tried[16], "\\\\.\\_evHART2USB0");
  EXPECT_EQ(tried[31], "\\\\.\\_evHART2USB15");
}

TEST_F(SearchTest, OldDriverDevicesAreListedAndTheirHandlesCloseWithTheDialog) {
  sim_.Add("\\\\.\\_evHART_USB2", 0x0030, /*oldFirmware=*/false, 0x21);  // current firmware: no question
  sim_.Add("\\\\.\\_evHART2USB1", 0x0031, false, 0x43);
  // Answers one byte short: not a serial, so not listed.
  sim_.Add("\\\\.\\_evHART_USB3", 0x0030, false, 0x65).shortAnswers = true;
  sim_.Add("\\\\.\\_evHART2USB4", 0x0031, false, 0x87).shortAnswers = true;
  OpenWithEntry();
  std::vector<std::string> rows;
  ModalScript script;
  script.On("attached USB devices", [&](HWND found) {
    rows = ListTexts(GetDlgItem(found, IDC_FOUND_LIST));
    PressButton(found, IDCANCEL);
  });
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Unexpected().empty());
  EXPECT_EQ(rows, (std::vector<std::string>{"0821", "0843"}));  // EEPROM byte 0 and status 8
  EXPECT_EQ(sim_.OpenHandles(), 4);
  Click(dialog(), IDCANCEL);
  EXPECT_TRUE(Closed());
  EXPECT_EQ(sim_.OpenHandles(), 0);
}

TEST_F(SearchTest, UpgradeWritesAndVerifiesTheImageWithRetriesAndEndsTheProgram) {
  auto& adapter = sim_.Add("\\\\.\\_evHART_USB0");
  adapter.writeFailures[10] = 1;  // "writing byte failed" once
  adapter.corruptWrites[20] = 1;  // "verify failed" once
  adapter.readFailures[30] = 1;   // "reading byte failed" during the verify pass
  OpenWithEntry();

  int writePosition = -1;
  ModalScript script;
  script.Answer(kUpgradeQuestion, IDYES)
      .On("writing byte failed, retry ?", [&](HWND box) {
        HWND upgrade = GetWindow(box, GW_OWNER);
        writePosition = static_cast<int>(SendDlgItemMessageW(upgrade, IDC_WRITE_PROGRESS, PBM_GETPOS, 0, 0));
        SaveScreenshot(upgrade, "upgrade");
        SaveScreenshot(box, "upgrade-write-retry");
        PressButton(box, IDRETRY);
      })
      .Answer("verify failed, rewrite ?", IDRETRY)
      .Answer("reading byte failed, retry ?", IDRETRY)
      .Answer(kUpgradeDone, IDOK);
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Done()) << script.Seen().size();
  EXPECT_TRUE(script.Unexpected().empty()) << script.Unexpected().front();
  EXPECT_EQ(writePosition, 10);  // bytes 0 to 9 are written

  // The loader went to the driver whole; the EEPROM holds the image with
  // the word read at start (byte 0x34, status 8) as the adapter's serial.
  EXPECT_EQ(adapter.loader.size(), 1380u);
  const std::vector<uint8_t> image = ExpectedImage(0x0834);
  EXPECT_EQ(image.size(), 782u + 60u);
  EXPECT_EQ(EepromStart(adapter, image.size()), image);
  // The program ends without applying anything, and no device stays open.
  EXPECT_TRUE(Closed());
  EXPECT_EQ(dialog_->Result(), 0);
  EXPECT_EQ(sim_.OpenHandles(), 0);
}

TEST_F(SearchTest, UpgradePassesRunWhileTheDialogKeepsAnsweringAndTheBarsReachTheirEnds) {
  auto& adapter = sim_.Add("\\\\.\\_evHART_USB0");
  const int length = static_cast<int>(ExpectedImage(0x0834).size());
  // The adapter waits in the write pass (its 101st write) and at the final
  // mark (the write after the image), until the test lets it go on.
  adapter.pauseAtWrites = {101, length + 1};
  OpenWithEntry();

  int midWrite = -1, endWrite = -1, endVerify = -1, range = -1;
  bool stayed = false;
  std::string notice;
  ModalScript script;
  script.Answer(kUpgradeQuestion, IDYES)
      .On("Upgrade", [&](HWND upgrade) {
        // The dialog's thread dispatches messages while the passes wait on
        // the adapter: the bar shows the bytes written so far.
        ASSERT_TRUE(testsupport::PumpUntil([&] { return sim_.PausesReached() == 1; }, 30000));
        Pump();
        midWrite = static_cast<int>(SendDlgItemMessageW(upgrade, IDC_WRITE_PROGRESS, PBM_GETPOS, 0, 0));
        notice = ItemText(upgrade, IDC_UPGRADE_NOTICE);
        // No way out half-way: neither Escape nor the close command end it.
        SendMessageW(upgrade, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        SendMessageW(upgrade, WM_CLOSE, 0, 0);
        Pump();
        stayed = IsWindow(upgrade) && IsWindowVisible(upgrade);
        SaveScreenshot(upgrade, "upgrade-writing");
        sim_.Release();

        ASSERT_TRUE(testsupport::PumpUntil([&] { return sim_.PausesReached() == 2; }, 30000));
        Pump();
        range = static_cast<int>(SendDlgItemMessageW(upgrade, IDC_WRITE_PROGRESS, PBM_GETRANGE, FALSE, 0));
        endWrite = static_cast<int>(SendDlgItemMessageW(upgrade, IDC_WRITE_PROGRESS, PBM_GETPOS, 0, 0));
        endVerify = static_cast<int>(SendDlgItemMessageW(upgrade, IDC_VERIFY_PROGRESS, PBM_GETPOS, 0, 0));
        SaveScreenshot(upgrade, "upgrade-complete");
        sim_.Release();
      })
      .Answer(kUpgradeDone, IDOK);
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Done()) << script.Seen().size();
  EXPECT_TRUE(script.Unexpected().empty()) << script.Unexpected().front();
  EXPECT_EQ(sim_.PausesTimedOut(), 0);
  EXPECT_EQ(midWrite, 100);
  EXPECT_TRUE(stayed);
  EXPECT_EQ(notice, "Do not unplug the device until the upgrade has finished.");
  EXPECT_EQ(range, length);
  EXPECT_EQ(endWrite, length);
  EXPECT_EQ(endVerify, length);
  // The passes ran on a thread of their own, not on the dialog's.
  EXPECT_EQ(adapter.writerThreads.count(GetCurrentThreadId()), 0u);
  EXPECT_EQ(EepromStart(adapter, static_cast<size_t>(length)), ExpectedImage(0x0834));
  EXPECT_TRUE(Closed());
}

TEST_F(SearchTest, CancelAtTheFirstWriteRetryEndsTheUpgradeAndTheSearchGoesOn) {
  auto& first = sim_.Add("\\\\.\\_evHART_USB0");
  first.writeFailures[0] = 1;
  auto& second = sim_.Add("\\\\.\\_evHART_USB1", 0x0030, true, 0x56);
  OpenWithEntry();
  ModalScript script;
  script.Answer(kUpgradeQuestion, IDYES)
      .Answer("writing byte failed, retry ?", IDCANCEL)
      .Answer(kUpgradeQuestion, IDNO)  // the next device is asked in turn
      .Answer("attached USB devices", IDCANCEL);
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(script.Unexpected().empty());
  EXPECT_EQ(first.writeCount, 1);
  EXPECT_EQ(first.eeprom[0], 0x34);  // nothing was written
  EXPECT_EQ(second.writeCount, 0);
  EXPECT_FALSE(Closed());
  // The upgraded device's handle was closed by the probe; the other stays
  // open until the dialog ends.
  EXPECT_EQ(sim_.OpenHandles(), 1);
}

TEST_F(SearchTest, AnAlreadyUpgradedAdapterIsNotWritten) {
  auto& adapter = sim_.Add("\\\\.\\_evHART_USB0", 0x0030, true, 0xB2);  // reads as 0x08B2
  OpenWithEntry();
  ModalScript script;
  // The probe closed the device's handle: the search has no serial left.
  script.Answer(kUpgradeQuestion, IDYES).Answer(kUpgradeDone, IDOK).Answer(kNoDevices, IDOK);
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(script.Unexpected().empty());
  EXPECT_EQ(adapter.writeCount, 0);
  EXPECT_TRUE(adapter.loader.empty());
  EXPECT_FALSE(Closed());
}

TEST_F(SearchTest, UpgradeFailuresAtStartTellTheUserAndWriteNothing) {
  auto& noLoader = sim_.Add("\\\\.\\_evHART_USB0");
  noLoader.failDownload = true;
  auto& odd = sim_.Add("\\\\.\\_evHART_USB1");
  odd.eeprom[5] = 0xB2;  // byte 5 reads 0xB2 twice
  auto& flaky = sim_.Add("\\\\.\\_evHART_USB2");
  OpenWithEntry();
  ModalScript script;
  script.Answer(kUpgradeQuestion, IDYES)
      .Answer("unable to upgrade device", IDOK)
      .Answer(kUpgradeQuestion, IDYES)
      .Answer("unexpected value in eeprom, upgrade canceled.", IDOK)
      .On(kUpgradeQuestion, [&](HWND box) {
        flaky.failControlCalls = 1;  // the start's read
        PressButton(box, IDYES);
      })
      .Answer("unable to upgrade device", IDOK)
      .Answer(kNoDevices, IDOK);
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Done()) << script.Seen().back();
  EXPECT_TRUE(script.Unexpected().empty()) << script.Unexpected().front();
  EXPECT_EQ(noLoader.writeCount + odd.writeCount + flaky.writeCount, 0);
}

TEST_F(SearchTest, CommunicationFailuresAskForRetryAndCancelEndsTheUpgrade) {
  auto& adapter = sim_.Add("\\\\.\\_evHART_USB0");
  adapter.controlFailures[5] = 2;  // the reads of byte 5 at start fail twice
  OpenWithEntry();
  ModalScript script;
  script.Answer(kUpgradeQuestion, IDYES)
      .Answer("Communication with USB-Device failed, retry ?", IDRETRY)
      .Answer("Communication with USB-Device failed, retry ?", IDCANCEL)
      .Answer(kNoDevices, IDOK);
  Click(dialog(), IDC_SEARCH);
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(script.Unexpected().empty()) << script.Unexpected().front();
  EXPECT_EQ(adapter.writeCount, 0);
  EXPECT_EQ(sim_.OpenHandles(), 0);
}

}  // namespace
}  // namespace adaptercfg_test
