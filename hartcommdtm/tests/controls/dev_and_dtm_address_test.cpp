// The device and DTM address control (function 10), opened for a device
// and its device DTM as the device list opens it (parameters 1006 and
// 1007): online it moves the simulated device and the child DTM's address
// and tag together, and shows the text of every outcome; offline only the
// child DTM's part can change; unapplied changes are asked about; a device
// held by an FDT connection cannot be changed.
#include "address_controls_fixture.h"
#include "controls/control_resources.h"
#include "device_dtm.h"
#include "dtm/dtm_ids.h"
#include "sim/sim_control.h"

namespace hartdtmtest {
namespace {

const wchar_t kProgId[] = L"vtFDT.FSKMavixCommDTM_SetDevAndDtmAddr";
const wchar_t kInstructions[] = L"Change address of HART slave device and child DTM address and tag.";
const wchar_t kScanAgain[] = L"The device may already have moved: scan the bus again.";
constexpr uint32_t kDevice = 0x000111;

class DevAndDtmAddressTest : public AddressControlsFixture {
 protected:
  // Online with the device at polling address 3 and its device DTM "d3"
  // (tag "PT-3") at childAddress, the control opened for them.
  void OpenOnline(int childAddress) {
    GoOnline();
    AddDevice(3, kDevice);
    child = AddChild(L"d3", L"PT-3", childAddress);
    Select(3, L"d3");
    Open();
  }
  // What the device list writes before it opens the control.
  void Select(BYTE address, const wchar_t* systemTag) {
    ASSERT_EQ(S_OK, Write(hart_param::kSelectedPollAddress, UI1(address).value()));
    ASSERT_EQ(S_OK, Write(hart_param::kNewDeviceSystemTag, *com::Variant(systemTag).get()));
  }
  void Open() {
    OpenControl(kProgId, hart_function::kDeviceAndDtmAddress, L"Set DTM and Device Address", 500, 290);
    ASSERT_EQ(VARIANT_TRUE, initialised);
  }
  bool Checked(UINT item) { return ::SendMessageW(host.item(item), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  // The outcome of a move to `slave` by "Apply".
  std::wstring ApplySlave(const wchar_t* slave) {
    host.typeText(IDC_SLAVE_ADDRESS, slave);
    host.click(IDC_APPLY);
    return host.text(IDC_STATUS_TEXT);
  }
  bool ErrorShown() { return host.visible(IDC_ERROR_ICON) && !host.visible(IDC_STATUS_ICON); }

  devicedtm_double::ChildDtm* child = nullptr;
};

TEST_F(DevAndDtmAddressTest, MovesTheDeviceAndItsDtmTogether) {
  // The device answers at 3, its DTM says 7: both fields start at 7, so
  // that Apply brings the device to its DTM's address.
  OpenOnline(7);
  EXPECT_EQ(L"7", host.text(IDC_SLAVE_ADDRESS));
  EXPECT_EQ(L"7", host.text(IDC_CHILD_ADDRESS));
  EXPECT_EQ(L"PT-3", host.text(IDC_CHILD_TAG));
  EXPECT_EQ(kInstructions, host.text(IDC_STATUS_TEXT));
  EXPECT_TRUE(host.visible(IDC_STATUS_ICON));
  EXPECT_FALSE(host.visible(IDC_ERROR_ICON));
  EXPECT_TRUE(Checked(IDC_SYNC_ADDRESSES));
  EXPECT_TRUE(host.visible(IDC_SLAVE_ADDRESS_CHANGED));
  EXPECT_FALSE(host.visible(IDC_CHILD_ADDRESS_CHANGED));
  EXPECT_TRUE(host.enabled(IDC_SLAVE_ADDRESS));
  EXPECT_FALSE(host.enabled(IDC_CHILD_ADDRESS)) << "follows the slave address while synchronised";
  EXPECT_TRUE(host.enabled(IDC_APPLY));
  host.click(IDC_APPLY);
  EXPECT_EQ(7, PollingAddressOf(kDevice));
  EXPECT_EQ(L"PT-3 7", ChildEntry(L"d3"));
  EXPECT_FALSE(host.visible(IDC_SLAVE_ADDRESS_CHANGED));
  EXPECT_FALSE(host.enabled(IDC_APPLY));

  // Both addresses and the tag at once.
  host.typeText(IDC_SLAVE_ADDRESS, L"9");
  EXPECT_EQ(L"9", host.text(IDC_CHILD_ADDRESS));
  host.typeText(IDC_CHILD_TAG, L"PT-9");
  for (UINT mark : {IDC_SLAVE_ADDRESS_CHANGED, IDC_CHILD_ADDRESS_CHANGED, IDC_CHILD_TAG_CHANGED})
    EXPECT_TRUE(host.visible(mark)) << mark;
  host.click(IDOK);
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(9, PollingAddressOf(kDevice));
  EXPECT_EQ(L"PT-9 9", ChildEntry(L"d3"));
  EXPECT_NE(std::wstring::npos, child->document().find(L"slaveAddress=\"9\"")) << child->document();
  EXPECT_NE(std::wstring::npos, child->document().find(L"fdt:tag=\"PT-9\"")) << child->document();
}

TEST_F(DevAndDtmAddressTest, EveryFailedMoveShowsItsReasonAndMovesNothing) {
  OpenOnline(3);
  AddDevice(9, 0x000222);
  EXPECT_EQ(L"target address exists", ApplySlave(L"9"));
  EXPECT_TRUE(ErrorShown());

  ASSERT_TRUE(SimRemoveFieldDevice(kSerial, kDevice));
  EXPECT_EQ(L"source not found", ApplySlave(L"10"));
  AddDevice(3, kDevice);

  // The device takes the address command but does not answer at the new
  // address, or its answer to the command is lost: it may have moved.
  const uint8_t taken = 11;
  ASSERT_TRUE(SimSetAnswer(kSerial, kDevice, 6, 0, &taken, 1));
  EXPECT_EQ(std::wstring(L"not found at new address\r\n") + kScanAgain, ApplySlave(L"11"));
  ASSERT_TRUE(SimClearAnswer(kSerial, kDevice, 6));
  ASSERT_TRUE(SimSetNoAnswer(kSerial, kDevice, 6));
  EXPECT_EQ(std::wstring(L"FAILED\r\n") + kScanAgain, ApplySlave(L"12"));
  ASSERT_TRUE(SimClearAnswer(kSerial, kDevice, 6));
  EXPECT_TRUE(ErrorShown());

  // Out of range: marked while typed, refused by OK, which keeps the page.
  host.typeText(IDC_SLAVE_ADDRESS, L"64");
  EXPECT_TRUE(host.visible(IDC_SLAVE_ADDRESS_INVALID));
  EXPECT_FALSE(host.enabled(IDC_APPLY));
  host.click(IDOK);
  EXPECT_FALSE(host.closed());
  EXPECT_EQ(L"The address for the HART slave device is out of range.", host.text(IDC_STATUS_TEXT));

  EXPECT_EQ(3, PollingAddressOf(kDevice));
  EXPECT_EQ(L"PT-3 3", ChildEntry(L"d3"));
  // The next move that works puts the instructions back.
  EXPECT_EQ(kInstructions, ApplySlave(L"5"));
  EXPECT_FALSE(ErrorShown());
  EXPECT_EQ(5, PollingAddressOf(kDevice));
  EXPECT_EQ(L"PT-3 5", ChildEntry(L"d3"));
}

TEST_F(DevAndDtmAddressTest, OfflineOnlyTheChildDtmChanges) {
  Configure();
  // No device DTM named yet: both addresses 0, the tag field shows the text.
  Open();
  EXPECT_EQ(L"0", host.text(IDC_SLAVE_ADDRESS));
  EXPECT_EQ(L"0", host.text(IDC_CHILD_ADDRESS));
  EXPECT_EQ(L"Show hidden ActiveX only when asked to do so!", host.text(IDC_CHILD_TAG));
  host.click(IDC_CANCEL);
  ASSERT_TRUE(host.closed()) << "nothing to ask about";

  devicedtm_double::ChildDtm* offline = AddChild(L"d3", L"PT-3", 3);
  Select(3, L"d3");
  Open();
  EXPECT_FALSE(host.enabled(IDC_SLAVE_ADDRESS));
  EXPECT_FALSE(host.enabled(IDC_SYNC_ADDRESSES));
  EXPECT_FALSE(Checked(IDC_SYNC_ADDRESSES));
  EXPECT_TRUE(host.enabled(IDC_CHILD_ADDRESS));
  EXPECT_TRUE(host.enabled(IDC_CHILD_TAG));
  EXPECT_TRUE(host.enabled(IDOK));
  // The page follows the DTM's state.
  BroadcastState(12);
  EXPECT_TRUE(host.enabled(IDC_SLAVE_ADDRESS));
  EXPECT_TRUE(host.enabled(IDC_SYNC_ADDRESSES));
  BroadcastState(8);
  EXPECT_FALSE(host.enabled(IDC_SLAVE_ADDRESS));

  // Out of range is no change: Apply stays off, OK says why and stays.
  host.typeText(IDC_CHILD_ADDRESS, L"70");
  EXPECT_TRUE(host.visible(IDC_CHILD_ADDRESS_INVALID));
  EXPECT_FALSE(host.enabled(IDC_APPLY));
  ASSERT_TRUE(host.click(IDOK));
  EXPECT_FALSE(host.closed());
  EXPECT_EQ(L"The address for the child DTM is out of range.", host.text(IDC_STATUS_TEXT));

  offline->setSetAnswer(S_OK, VARIANT_FALSE);
  host.typeText(IDC_CHILD_ADDRESS, L"20");
  EXPECT_TRUE(host.visible(IDC_CHILD_ADDRESS_CHANGED));
  host.click(IDC_APPLY);
  EXPECT_EQ(L"SetParameters for the new DeviceDTM failed!", host.text(IDC_STATUS_TEXT));
  EXPECT_TRUE(ErrorShown());
  EXPECT_EQ(L"PT-3 3", ChildEntry(L"d3"));

  offline->setSetAnswer(S_OK, VARIANT_TRUE);
  host.click(IDC_APPLY);
  EXPECT_EQ(kInstructions, host.text(IDC_STATUS_TEXT));
  EXPECT_EQ(L"PT-3 20", ChildEntry(L"d3"));
}

// An entry that is no address 0 to 63 (empty, pasted letters or sign,
// too many digits) neither moves the device (address 0 would also put it
// back to an analogue loop current) nor touches its DTM.
TEST_F(DevAndDtmAddressTest, EntriesThatAreNoAddressMoveAndWriteNothing) {
  OpenOnline(3);
  const wchar_t* const entries[] = {L"", L"abc", L"-1", L"64", L"99999999999"};
  for (const wchar_t* entry : entries) {
    host.paste(IDC_SLAVE_ADDRESS, entry);
    EXPECT_TRUE(host.visible(IDC_SLAVE_ADDRESS_INVALID)) << "'" << entry << "'";
    EXPECT_FALSE(host.enabled(IDC_APPLY)) << "'" << entry << "' is no change";
    ASSERT_TRUE(host.click(IDOK));
    EXPECT_FALSE(host.closed());
    EXPECT_EQ(L"The address for the HART slave device is out of range.", host.text(IDC_STATUS_TEXT))
        << "'" << entry << "'";
    EXPECT_TRUE(ErrorShown());
  }
  // The child address on its own.
  host.click(IDC_SYNC_ADDRESSES);
  ASSERT_FALSE(Checked(IDC_SYNC_ADDRESSES));
  host.typeText(IDC_SLAVE_ADDRESS, L"3");
  for (const wchar_t* entry : entries) {
    host.paste(IDC_CHILD_ADDRESS, entry);
    EXPECT_TRUE(host.visible(IDC_CHILD_ADDRESS_INVALID)) << "'" << entry << "'";
    ASSERT_TRUE(host.click(IDOK));
    EXPECT_FALSE(host.closed());
    EXPECT_EQ(L"The address for the child DTM is out of range.", host.text(IDC_STATUS_TEXT)) << "'" << entry << "'";
  }
  EXPECT_EQ(3, PollingAddressOf(kDevice));
  EXPECT_EQ(L"PT-3 3", ChildEntry(L"d3"));
  EXPECT_NE(std::wstring::npos, child->document().find(L"slaveAddress=\"3\"")) << child->document();
}

// The channel serves the window's messages while it moves the device (here
// through the line time-out of the free target address): nothing the user
// or the frame does meanwhile starts a second change or takes the control
// away, and the device DTM ends at the address and tag the device got.
TEST_F(DevAndDtmAddressTest, ClicksAndClosesDuringAMoveWaitForItsEnd) {
  OpenOnline(3);
  host.typeText(IDC_SLAVE_ADDRESS, L"7");
  host.typeText(IDC_CHILD_TAG, L"PT-7");
  // The user cancels and says No to applying the changes; the frame still
  // holds the control.
  frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(L"buttonNo")});
  com::ComPtr<IUnknown> frameHolds(host.control());
  bool cancelTaken = true, applyTaken = true;
  host.postCall([&] {
    cancelTaken = host.click(IDC_CANCEL);
    applyTaken = host.click(IDC_APPLY);
  });
  ASSERT_TRUE(host.click(IDC_APPLY));
  EXPECT_FALSE(cancelTaken);
  EXPECT_FALSE(applyTaken) << "a second change while the first runs";
  EXPECT_EQ(7, PollingAddressOf(kDevice));
  EXPECT_EQ(L"PT-7 7", ChildEntry(L"d3"));
  EXPECT_FALSE(host.closed());
  EXPECT_EQ(kInstructions, host.text(IDC_STATUS_TEXT));
  EXPECT_TRUE(host.enabled(IDC_CANCEL));
  frameHolds.reset();

  // The frame closes the control meanwhile: the close waits for the move,
  // then goes on without a question (nothing is left to apply).
  host.typeText(IDC_SLAVE_ADDRESS, L"9");
  host.typeText(IDC_CHILD_TAG, L"PT-9");
  bool releasedAtOnce = true;
  host.postCall([&] {
    com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
    VARIANT_BOOL released = VARIANT_TRUE;
    control->PrepareToRelease(&released);
    releasedAtOnce = released != VARIANT_FALSE;
    if (releasedAtOnce) host.close();
  });
  ASSERT_TRUE(host.click(IDC_APPLY));
  control_host::HostedControl::pump();
  EXPECT_FALSE(releasedAtOnce);
  EXPECT_TRUE(host.closed()) << "the close asked for during the move";
  EXPECT_EQ(9, PollingAddressOf(kDevice));
  EXPECT_EQ(L"PT-9 9", ChildEntry(L"d3"));
  EXPECT_TRUE(frame->callsTo("UserDialog").empty()) << "nothing was left to ask about";
}

// A close the frame asks for while a move runs that then fails is not
// carried out: the user reads why the move failed, no question hides it, and
// nothing starts the failed move again. The user's own close asks as usual.
TEST_F(DevAndDtmAddressTest, CloseAskedForDuringAMoveThatFailsLeavesTheFailureToRead) {
  OpenOnline(3);
  AddDevice(9, 0x000222);
  host.typeText(IDC_SLAVE_ADDRESS, L"9");
  bool releasedAtOnce = true;
  host.postCall([&] {
    VARIANT_BOOL released = VARIANT_TRUE;
    host.as<IDtmActiveXControl>()->PrepareToRelease(&released);
    releasedAtOnce = released != VARIANT_FALSE;
  });
  ASSERT_TRUE(host.click(IDC_APPLY));
  control_host::HostedControl::pump();
  EXPECT_FALSE(releasedAtOnce);
  EXPECT_FALSE(host.closed());
  EXPECT_EQ(L"target address exists", host.text(IDC_STATUS_TEXT));
  EXPECT_TRUE(ErrorShown());
  EXPECT_TRUE(frame->callsTo("UserDialog").empty()) << "asked before the failure could be read";
  EXPECT_TRUE(frame->callsTo("CloseActiveXControlRequest").empty());
  EXPECT_TRUE(host.enabled(IDC_APPLY)) << "the change is still there to apply";

  frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(L"buttonNo")});
  host.click(IDC_CANCEL);
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(1u, frame->callsTo("UserDialog").size());
  EXPECT_EQ(3, PollingAddressOf(kDevice));
  EXPECT_EQ(L"PT-3 3", ChildEntry(L"d3"));
}

// The frame may let go of the control while the channel moves the device
// (the channel serves the window's messages meanwhile): the control stays
// until the move and its DTM part have ended, and goes then. It keeps the
// channel to its end, so the channel's references tell when it goes.
TEST_F(DevAndDtmAddressTest, ControlTheFrameLetsGoDuringAMoveGoesAfterTheMove) {
  OpenOnline(3);
  com::ComPtr<IHART_Channel> channel = Channel();
  ASSERT_TRUE(channel);
  auto references = [&] {
    channel->AddRef();
    return channel->Release();
  };
  host.typeText(IDC_SLAVE_ADDRESS, L"7");
  host.typeText(IDC_CHILD_TAG, L"PT-7");
  ULONG beforeClose = 0, afterClose = 0;
  host.postCall([&] {
    beforeClose = references();
    host.close();  // the frame window, the hosting window and every reference of the frame
    afterClose = references();
  });
  const ULONG whileOpen = references();
  ASSERT_TRUE(host.click(IDC_APPLY));
  control_host::HostedControl::pump();
  ASSERT_TRUE(host.closed());
  EXPECT_EQ(beforeClose, afterClose) << "the control went while the device moved";
  EXPECT_EQ(whileOpen - 1, references()) << "the control is still there after the move";
  EXPECT_EQ(7, PollingAddressOf(kDevice));
  EXPECT_EQ(L"PT-7 7", ChildEntry(L"d3")) << "the device DTM follows its device";
}

// A new tag alone, with both addresses as they are, is written too.
TEST_F(DevAndDtmAddressTest, NewTagAloneIsWrittenToTheChildDtm) {
  OpenOnline(3);
  host.typeText(IDC_CHILD_TAG, L"PT-NEW");
  EXPECT_TRUE(host.visible(IDC_CHILD_TAG_CHANGED));
  EXPECT_FALSE(host.visible(IDC_SLAVE_ADDRESS_CHANGED));
  EXPECT_FALSE(host.visible(IDC_CHILD_ADDRESS_CHANGED));
  ASSERT_TRUE(host.enabled(IDC_APPLY));
  host.click(IDC_APPLY);
  EXPECT_EQ(kInstructions, host.text(IDC_STATUS_TEXT));
  EXPECT_EQ(L"PT-NEW 3", ChildEntry(L"d3"));
  EXPECT_NE(std::wstring::npos, child->document().find(L"fdt:tag=\"PT-NEW\"")) << child->document();
  EXPECT_EQ(3, PollingAddressOf(kDevice));
  EXPECT_FALSE(host.visible(IDC_CHILD_TAG_CHANGED));
  EXPECT_FALSE(host.enabled(IDC_APPLY)) << "nothing left to apply";
}

TEST_F(DevAndDtmAddressTest, UnappliedChangesAreAskedAboutOnClose) {
  Configure();
  AddChild(L"d3", L"PT-3", 3);
  Select(3, L"d3");
  Open();
  host.typeText(IDC_CHILD_TAG, L"PT-X");
  frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(L"buttonCancel")});
  host.click(IDC_CANCEL);
  ASSERT_EQ(1u, frame->callsTo("UserDialog").size());
  EXPECT_NE(std::wstring::npos, frame->callsTo("UserDialog")[0].arguments.at(1).find(L"Apply changes?"));
  EXPECT_FALSE(host.closed());

  frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(L"buttonNo")});
  host.click(IDC_CANCEL);
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(L"PT-3 3", ChildEntry(L"d3")) << "No drops the change";
  EXPECT_EQ((std::vector<VARIANT_BOOL>{VARIANT_FALSE, VARIANT_TRUE}), releaseAnswers);
}

TEST_F(DevAndDtmAddressTest, DeviceHeldByAConnectionCannotBeChanged) {
  GoOnline();
  AddDevice(3, kDevice);
  AddChild(L"d3", L"PT-3", 3);
  // A device DTM connects to the device at 3.
  devicedtm_double::DeviceDtm* device = nullptr;
  com::ComPtr<IChildCommunicationEvents> callback = devicedtm_double::createDeviceDtm(&device);
  com::ComPtr<IFdtCommunication> communication;
  ASSERT_EQ(S_OK, HartChannel().as(communication));
  com::Bstr invoke(L"6f1c2a10-0000-4000-8000-000000000001"), protocol(L"{036D1498-387B-11D4-86E1-00E0987270B9}");
  com::Bstr connect(
      L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><ConnectRequest fdt:tag=\"PT-3\" fdt:systemTag=\"d3\">"
      L"<ShortAddress shortAddress=\"3\"/></ConnectRequest></FDT>");
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, communication->ConnectRequest(callback.get(), invoke.get(), protocol.get(), connect.get(), &queued));
  ASSERT_TRUE(queued);
  ASSERT_TRUE(device->waitForAnswers(1, 20000));
  ASSERT_NE(std::wstring::npos, device->answers()[0].document.find(L"communicationReference"))
      << device->answers()[0].document;

  Select(3, L"d3");
  Open();
  for (UINT item : {IDC_SLAVE_ADDRESS, IDC_CHILD_ADDRESS, IDC_CHILD_TAG, IDC_SYNC_ADDRESSES, IDOK, IDC_APPLY})
    EXPECT_FALSE(host.enabled(item)) << item;
  EXPECT_TRUE(host.enabled(IDC_CANCEL));
}

TEST_F(AddressControlScreenshots, DeviceAndDtmAddress) {
  GoOnline();
  AddDevice(3, kDevice);
  AddChild(L"d3", L"PT-3", 3);
  ASSERT_EQ(S_OK, Write(hart_param::kSelectedPollAddress, UI1(3).value()));
  ASSERT_EQ(S_OK, Write(hart_param::kNewDeviceSystemTag, *com::Variant(L"d3").get()));
  OpenControl(kProgId, hart_function::kDeviceAndDtmAddress, L"Set DTM and Device Address", 500, 290);
  host.fitToDialog(299, 160);
  const uint8_t taken = 11;
  ASSERT_TRUE(SimSetAnswer(kSerial, kDevice, 6, 0, &taken, 1));
  host.typeText(IDC_SLAVE_ADDRESS, L"11");
  host.typeText(IDC_CHILD_TAG, L"PT-11");
  host.click(IDC_APPLY);
  SaveScreenshot("device_and_dtm_address");
}

}  // namespace
}  // namespace hartdtmtest
