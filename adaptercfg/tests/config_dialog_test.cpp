// The configuration dialog driven by window messages: the tree from
// ConfigKey, the panel, add, remove, edit, the in-use check and the exact
// requests of OK on the service's pipe (served by the recording double).

#include <atomic>
#include <cstring>
#include <memory>

#include "dialog_fixture.h"
#include "pipe_server/recording_pipe_server.h"
#include "resource.h"

namespace adaptercfg_test {
namespace {

using Message = std::vector<uint8_t>;

// Requests written out by hand from the pipe's message layout.
Message Bytes(const char* text) { return Message(text, text + std::strlen(text) + 1); }
Message Cat(std::initializer_list<Message> parts) {
  Message all;
  for (const Message& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
Message Delete(int n) { return Cat({Bytes("evHRT_DeleteKey"), Bytes(std::to_string(n).c_str())}); }
Message SetDword(int key, const char* name, uint32_t value) {
  return Cat({Bytes("evHRT_SetValue"), Bytes(std::to_string(key).c_str()), Bytes(name),
              {4, 0, 0, 0, 4, 0, 0, 0},
              {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)}});
}
Message Renumerate() { return Bytes("evHRT_Renumerate"); }

// The values of the entries by tree position, then the deletion of every
// later device number up to 239, then the renumeration.
std::vector<Message> ExpectedApply(std::initializer_list<std::pair<uint32_t, uint32_t>> entries) {
  std::vector<Message> expected;
  int key = 0;
  for (const auto& entry : entries) {
    expected.push_back(SetDword(key, "USB-Id", entry.first));
    expected.push_back(SetDword(key, "SerialPort", entry.second));
    ++key;
  }
  for (int n = key; n < 240; ++n) expected.push_back(Delete(n));
  expected.push_back(Renumerate());
  return expected;
}

const char kRoot[] = "FSK Mavix Driver Configuration";

class ConfigDialogTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override {
    DialogTest::TearDown();
    server_.Stop();
  }
  testdoubles::RecordingPipeServer server_;
};

TEST_F(ConfigDialogTest, TreeShowsTheConfiguredDeviceNumbersWithAdaptersAndPorts) {
  SetConfigSlot(0, 0x1234, 0);
  SetConfigSlot(1, 0x00AB, 33);  // 33 reads as COM1
  SetConfigSlot(3, 0x5678, 2);   // after the gap at 2: never read
  ASSERT_TRUE(Open());
  EXPECT_EQ(Text(dialog()), "HART Driver Configuration");
  EXPECT_EQ(TreeTexts(tree()), (std::vector<std::string>{kRoot, "   Device 0  ( USB-Device )",
                                                         "   Device 1  ( USB-Device )"}));
  // The root is selected at start: only its help text shows.
  EXPECT_TRUE(Visible(dialog(), IDC_ROOT_HELP));
  EXPECT_FALSE(Visible(dialog(), IDC_SERIAL));
  EXPECT_EQ(ItemText(dialog(), IDC_ROOT_HELP).rfind("Use the [Add]-Button to add a device", 0), 0u);
  EXPECT_TRUE(Visible(dialog(), IDCANCEL));
  EXPECT_EQ(ItemText(dialog(), IDCANCEL), "Cancel");
  SaveScreenshot(dialog(), "config-root");

  SelectEntry(1);
  EXPECT_EQ(ItemText(dialog(), IDC_TYPE_LABEL), "FSK Mavix");
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "AB");
  EXPECT_EQ(ItemText(dialog(), IDC_SEARCH), "Search attached devices");
  EXPECT_FALSE(Visible(dialog(), IDC_ROOT_HELP));
  EXPECT_TRUE(Visible(dialog(), IDC_PORT_LIST));
  EXPECT_EQ(SendDlgItemMessageW(dialog(), IDC_PORT_CHECK, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(ItemText(dialog(), IDC_PORT_LIST), "COM1");
  EXPECT_EQ(ComboTexts(GetDlgItem(dialog(), IDC_PORT_LIST)).size(), 32u);
  SaveScreenshot(dialog(), "config-entry");

  // Entry 0 has no port: the list offers all ports but COM1 (entry 1's).
  SelectEntry(0);
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "1234");
  EXPECT_EQ(SendDlgItemMessageW(dialog(), IDC_PORT_CHECK, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_FALSE(Enabled(dialog(), IDC_PORT_LIST));
  std::vector<std::string> ports = ComboTexts(GetDlgItem(dialog(), IDC_PORT_LIST));
  ASSERT_EQ(ports.size(), 31u);
  EXPECT_EQ(ports.front(), "COM2");
  Click(dialog(), IDC_PORT_CHECK);
  EXPECT_TRUE(Enabled(dialog(), IDC_PORT_LIST));
  EXPECT_TRUE(Enabled(dialog(), IDC_PORT_LABEL));
}

TEST_F(ConfigDialogTest, KeyWithoutUsbIdIsSkippedAndLaterEntriesKeepTheirNumbers) {
  SetConfigSlot(0, 0x1111, 0);
  const DWORD port = 3;
  SetConfigKey(1, nullptr, &port);
  SetConfigSlot(2, 0x2222, 0);
  ASSERT_TRUE(Open());
  EXPECT_EQ(TreeTexts(tree()), (std::vector<std::string>{kRoot, "   Device 0  ( USB-Device )",
                                                         "   Device 2  ( USB-Device )"}));
}

TEST_F(ConfigDialogTest, AddRemoveEditAndOkSendTheRequestSequenceByTreePosition) {
  SetConfigSlot(0, 0x1111, 0);
  SetConfigSlot(1, 0x2222, 5);
  SetConfigSlot(2, 0x3333, 0);
  ASSERT_TRUE(Open());

  Click(dialog(), IDC_ADD);  // device number 3, serial 2000
  EXPECT_EQ(TreeTexts(tree()).back(), "   Device 3  ( USB-Device )");

  // Remove device 0: the others move down one number.
  SelectEntry(0);
  Click(dialog(), IDC_REMOVE);
  EXPECT_EQ(TreeTexts(tree()), (std::vector<std::string>{kRoot, "   Device 0  ( USB-Device )",
                                                         "   Device 1  ( USB-Device )",
                                                         "   Device 2  ( USB-Device )"}));
  // Edit the (former) device 2: serial 1A2B and COM3; the edit is not
  // followed by another selection, OK saves it.
  SelectEntry(1);
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "3333");
  SetDlgItemTextA(dialog(), IDC_SERIAL, "1A2B");
  Click(dialog(), IDC_PORT_CHECK);
  HWND ports = GetDlgItem(dialog(), IDC_PORT_LIST);
  const std::vector<std::string> free = ComboTexts(ports);
  const auto com3 = std::find(free.begin(), free.end(), "COM3");
  ASSERT_NE(com3, free.end());
  SendMessageW(ports, CB_SETCURSEL, com3 - free.begin(), 0);
  EXPECT_EQ(std::find(free.begin(), free.end(), "COM5"), free.end());  // the other entry's port

  PressOk();
  EXPECT_TRUE(Closed());
  EXPECT_EQ(dialog_->Result(), IDOK);
  const std::vector<Message> expected = ExpectedApply({{0x2222, 5}, {0x1A2B, 3}, {0x2000, 0}});
  ASSERT_TRUE(server_.WaitForRequests(expected.size(), 5000));
  EXPECT_EQ(server_.Requests(), expected);
  // The example of the pipe's layout: "USB-Id" of key 1 is 36 bytes.
  EXPECT_EQ(expected[2].size(), 36u);
}

TEST_F(ConfigDialogTest, EmptyTreeSendsTheDeletionsAndTheRenumerationOnly) {
  ASSERT_TRUE(Open());
  PressOk();
  EXPECT_TRUE(Closed());
  ASSERT_TRUE(server_.WaitForRequests(241, 5000));
  EXPECT_EQ(server_.Requests(), ExpectedApply({}));
}

TEST_F(ConfigDialogTest, ARejectedSerialIsSaidAndTheDialogStaysWithTheFocusInTheSerialBox) {
  SetConfigSlot(0, 0x1111, 0);
  SetConfigSlot(1, 0x2222, 0);
  ASSERT_TRUE(Open());
  SelectEntry(0);
  HWND serial = GetDlgItem(dialog(), IDC_SERIAL);
  bool shot = false;
  for (const char* text : {"12345", "0x1A2B", "1A2Bz", "xyz", ""}) {
    SetWindowTextA(serial, text);
    ModalScript script;
    script.On(std::string("\"") + text + "\" is not a serial number.", [&](HWND box) {
      if (!shot) shot = !SaveScreenshot(box, "config-serial-rejected").empty();
      PressButton(box, IDOK);
    });
    PressOk();
    EXPECT_TRUE(script.Done()) << text;
    EXPECT_TRUE(script.Unexpected().empty()) << text;
    EXPECT_FALSE(Closed()) << text;
    EXPECT_EQ(GetFocus(), serial) << text;
    EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), text);  // the text is kept for correcting
  }
  // Another entry cannot be selected while the text is rejected.
  SetWindowTextA(serial, "xyz");
  ModalScript refused;
  refused.Answer("\"xyz\" is not a serial number.", IDOK);
  SelectEntry(1);
  EXPECT_TRUE(refused.Done());
  EXPECT_EQ(TreeView_GetSelection(tree()), TreeChild(tree(), 0));
  EXPECT_EQ(GetFocus(), serial);
  // The Down key on the tree is refused the same way, said once.
  ModalScript key;
  key.Answer("\"xyz\" is not a serial number.", IDOK);
  SendMessageW(tree(), WM_KEYDOWN, VK_DOWN, 0);
  Pump();
  EXPECT_TRUE(key.Done());
  EXPECT_TRUE(key.Unexpected().empty());
  EXPECT_EQ(TreeView_GetSelection(tree()), TreeChild(tree(), 0));
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "xyz");
  EXPECT_EQ(server_.RequestCount(), 0u);

  // Corrected, the entry takes it; the other entry keeps its own serial.
  SetWindowTextA(serial, "ffff");
  SelectEntry(1);
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "2222");
  SelectEntry(0);
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "FFFF");
  PressOk();
  EXPECT_TRUE(Closed());
  ASSERT_TRUE(server_.WaitForRequests(243, 5000));
  EXPECT_EQ(server_.Requests(), ExpectedApply({{0xFFFF, 0}, {0x2222, 0}}));
}

TEST_F(ConfigDialogTest, OkSendsWhileTheDialogKeepsAnsweringWithAWaitCursor) {
  SetConfigSlot(0, 0x1111, 0);
  // The service holds its answer to the first request until released, as
  // it does while it renumerates adapters with a COM port.
  // Shared with the server's thread, which may still be in the listener
  // when the test ends.
  struct Hold {
    win32::UniqueHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> held{false};
  };
  auto hold = std::make_shared<Hold>();
  server_.SetListener([hold](const Message&) {
    if (!hold->held.exchange(true)) WaitForSingleObject(hold->release.get(), 30000);
  });
  ASSERT_TRUE(Open());
  SelectEntry(0);
  Click(dialog(), IDOK);
  // (The server marks a request as recorded only once its listener returns.)
  ASSERT_TRUE(testsupport::PumpUntil([this] { return server_.RequestCount() >= 1; }, 5000));

  // The click has returned while the request waits: the dialog is there,
  // paints, and takes no input but shows the wait cursor.
  EXPECT_FALSE(Closed());
  EXPECT_TRUE(dialog_->Applying());
  for (int id : {IDOK, IDCANCEL, IDC_ADD, IDC_REMOVE, IDC_SERIAL, IDC_TREE}) EXPECT_FALSE(Enabled(dialog(), id)) << id;
  InvalidateRect(dialog(), nullptr, TRUE);
  EXPECT_TRUE(GetUpdateRect(dialog(), nullptr, FALSE));
  UpdateWindow(dialog());
  EXPECT_FALSE(GetUpdateRect(dialog(), nullptr, FALSE));  // painted now, not after the requests
  SendMessageW(dialog(), WM_SETCURSOR, reinterpret_cast<WPARAM>(GetDlgItem(dialog(), IDC_SERIAL)),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
  // Cancel and the close box wait too.
  SendMessageW(dialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(Closed());
  SaveScreenshot(dialog(), "config-applying");

  SetEvent(hold->release.get());
  EXPECT_TRUE(testsupport::PumpUntil([this] { return Closed(); }, 30000));
  EXPECT_EQ(dialog_->Result(), IDOK);
  ASSERT_TRUE(server_.WaitForRequests(242, 5000));
  EXPECT_EQ(server_.Requests(), ExpectedApply({{0x1111, 0}}));
}

TEST_F(ConfigDialogTest, TreeKeysMoveSaveAddAndRemove) {
  SetConfigSlot(0, 0x1111, 0);
  SetConfigSlot(1, 0x2222, 0);
  ASSERT_TRUE(Open());
  SelectEntry(0);
  SetDlgItemTextA(dialog(), IDC_SERIAL, "AAAA");
  SendMessageW(tree(), WM_KEYDOWN, VK_DOWN, 0);
  Pump();
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "2222");
  SendMessageW(tree(), WM_KEYDOWN, VK_UP, 0);
  Pump();
  EXPECT_EQ(ItemText(dialog(), IDC_SERIAL), "AAAA");
  SendMessageW(tree(), WM_KEYDOWN, VK_INSERT, 0);
  Pump();
  EXPECT_EQ(TreeTexts(tree()).size(), 4u);
  SendMessageW(tree(), WM_KEYDOWN, VK_DELETE, 0);  // entry 0 is selected
  Pump();
  EXPECT_EQ(TreeTexts(tree()), (std::vector<std::string>{kRoot, "   Device 0  ( USB-Device )",
                                                         "   Device 1  ( USB-Device )"}));
  // Up at the root and Remove of the root do nothing.
  SelectTreeItem(tree(), TreeView_GetRoot(tree()));
  SendMessageW(tree(), WM_KEYDOWN, VK_UP, 0);
  Click(dialog(), IDC_REMOVE);
  EXPECT_EQ(TreeTexts(tree()).size(), 3u);
}

TEST_F(ConfigDialogTest, The241stAddDoesNothing) {
  ASSERT_TRUE(Open());
  for (int i = 0; i < 241; ++i) SendMessageW(dialog(), WM_COMMAND, MAKEWPARAM(IDC_ADD, BN_CLICKED), 0);
  const std::vector<std::string> texts = TreeTexts(tree());
  ASSERT_EQ(texts.size(), 241u);
  EXPECT_EQ(texts.back(), "   Device 239  ( USB-Device )");
}

TEST_F(ConfigDialogTest, ForeignComPortsAreNotOfferedAndAllTakenDisablesThePort) {
  AddSerialComm("\\Device\\Serial0", "COM12");
  AddSerialComm("\\Device\\Serial1", "COM0");
  AddSerialComm("\\Device\\Serial2", "COM33");
  AddSerialComm("\\Device\\Serial3", "COM4a");
  AddSerialComm("\\Device\\_evHART_USB0", "COM7");  // one of ours
  SetConfigSlot(0, 0x1111, 0);
  ASSERT_TRUE(Open());
  SelectEntry(0);
  std::vector<std::string> ports = ComboTexts(GetDlgItem(dialog(), IDC_PORT_LIST));
  EXPECT_EQ(ports.size(), 31u);
  EXPECT_EQ(std::find(ports.begin(), ports.end(), "COM12"), ports.end());
  EXPECT_NE(std::find(ports.begin(), ports.end(), "COM7"), ports.end());
  dialog_.reset();

  // Every port exists: entry 1 (no port) cannot have one, entry 0 keeps COM5.
  ClearSerialComm();
  for (int n = 1; n <= 32; ++n) AddSerialComm("\\Device\\Serial" + std::to_string(n), "COM" + std::to_string(n));
  SetConfigSlot(0, 0x1111, 5);
  SetConfigSlot(1, 0x2222, 0);
  ASSERT_TRUE(Open());
  SelectEntry(1);
  EXPECT_EQ(SendDlgItemMessageW(dialog(), IDC_PORT_CHECK, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_FALSE(Enabled(dialog(), IDC_PORT_CHECK));
  EXPECT_FALSE(Enabled(dialog(), IDC_PORT_LIST));
  EXPECT_TRUE(ComboTexts(GetDlgItem(dialog(), IDC_PORT_LIST)).empty());
  SelectEntry(0);
  EXPECT_EQ(ComboTexts(GetDlgItem(dialog(), IDC_PORT_LIST)), std::vector<std::string>{"COM5"});
  SelectEntry(1);
  PressOk();
  ASSERT_TRUE(server_.WaitForRequests(243, 5000));
  EXPECT_EQ(server_.Requests(), ExpectedApply({{0x1111, 5}, {0x2222, 0}}));
}

TEST_F(ConfigDialogTest, AdapterInUseDisablesChangesAndOkSendsNothing) {
  const std::string device = TempPath("adapter-in-use");
  WriteFileText(device, "serial=0x1234\n");
  const std::string free = TempPath("adapter-free");
  WriteFileText(free, "serial=0x5678\n");
  SetEnumValue(free, 0x5678);
  SetEnumValue(device, 0x1234);
  SetConfigSlot(0, 0x1234, 0);
  const std::vector<std::string> before = ConfigSnapshot();
  win32::UniqueFile held(CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
  ASSERT_TRUE(held.valid());

  ModalScript script;
  script.Answer("At least one of the devices is in use by an application.", IDOK);
  ASSERT_TRUE(Open());
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(script.Unexpected().empty());
  EXPECT_FALSE(Enabled(dialog(), IDC_ADD));
  EXPECT_FALSE(Enabled(dialog(), IDC_REMOVE));
  SelectEntry(0);
  for (int id : {IDC_SERIAL_LABEL, IDC_SERIAL, IDC_SEARCH, IDC_PORT_CHECK, IDC_PORT_LABEL, IDC_PORT_LIST})
    EXPECT_FALSE(Enabled(dialog(), id)) << id;
  // The tree's keys do not get round the disabled buttons.
  SendMessageW(tree(), WM_KEYDOWN, VK_INSERT, 0);
  SendMessageW(tree(), WM_KEYDOWN, VK_DELETE, 0);
  Pump();
  EXPECT_EQ(TreeTexts(tree()).size(), 2u);
  SaveScreenshot(dialog(), "config-in-use");

  PressOk();
  EXPECT_TRUE(Closed());
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_EQ(ConfigSnapshot(), before);
}

TEST_F(ConfigDialogTest, CancelClosesWithNothingSent) {
  SetConfigSlot(0, 0x1111, 0);
  ASSERT_TRUE(Open());
  Click(dialog(), IDC_ADD);
  Click(dialog(), IDCANCEL);
  EXPECT_TRUE(Closed());
  EXPECT_EQ(dialog_->Result(), IDCANCEL);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(ConfigDialogTest, AboutBoxShowsTheLibraryFileVersion) {
  ASSERT_TRUE(Open());
  std::string version;
  HWND focus = nullptr, ok = nullptr;
  LONG_PTR textStyle = 0;
  ModalScript script;
  script.On("About HART Driver Configurator", [&](HWND about) {
    version = ItemText(about, IDC_VERSION_TEXT);
    focus = GetFocus();
    ok = GetDlgItem(about, IDOK);
    textStyle = GetWindowLongPtrW(GetDlgItem(about, IDC_VERSION_TEXT), GWL_STYLE);
    SaveScreenshot(about, "about");
    PressButton(about, IDOK);
  });
  Click(dialog(), IDC_INFO);
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(focus, ok);  // Enter closes it; the text is not shown selected
  EXPECT_FALSE(textStyle & (WS_VSCROLL | WS_HSCROLL));
  // modemapi.dll lies beside the test program; its version resource is the library's.
  EXPECT_EQ(version.rfind("modemapi.dll: ", 0), 0u) << version;
  EXPECT_EQ(version.find("ERROR"), std::string::npos) << version;

  // The system menu's item opens it too.
  ModalScript again;
  again.Answer("About HART Driver Configurator", IDOK);
  SendMessageW(dialog(), WM_SYSCOMMAND, 16, 0);
  EXPECT_TRUE(again.Done());
}

TEST(CommandLine, RemoveEndsTheProgramWithoutShowingTheDialog) {
  // On this display the dialog would show and wait for the user.
  std::string line = "\"" + BesideTest("adaptercfg.exe") + "\" remove";
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  win32::UniqueHandle processHandle(process.hProcess), thread(process.hThread);
  const DWORD waited = WaitForSingleObject(process.hProcess, 30000);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  ASSERT_EQ(waited, WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace adaptercfg_test
