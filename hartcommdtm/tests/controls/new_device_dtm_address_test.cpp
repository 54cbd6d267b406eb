// The address control of a new device DTM (function 11): a device DTM added
// below the channel makes the DTM open it (parameter 1014: 1 waits for it,
// 2 does not); the user corrects address and tag, which reach the child
// DTM through the channel. However the control goes (OK, Cancel, the frame
// destroying it), and when the DTM never got one or goes away itself, a
// waiting DTM stops waiting.
#include <functional>

#include "address_controls_fixture.h"
#include "com/Object.h"
#include "controls/control_resources.h"
#include "dtm/dtm_ids.h"
#include "dtm/hart_comm_dtm.h"
#include "toolkit/dtm/dtm_states.h"

namespace hartdtmtest {
namespace {

const wchar_t kProgId[] = L"vtFDT.FSKMavixCommDTM_SetDevDtmAddrCtrl";

// What the user does once the DTM waits: run from the waiting call's
// message loop. A guard ends a wait that would otherwise never end, so that
// the case fails instead of hanging.
std::function<void()> later;
UINT_PTR laterTimer = 0;
IHART_CommDTM* guarded = nullptr;
bool guardFired = false;
UINT_PTR guardTimer = 0;

void CALLBACK RunLater(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  laterTimer = 0;
  std::function<void()> action = std::move(later);
  later = nullptr;
  if (action) action();
}

void CALLBACK EndStuckWait(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  guardTimer = 0;
  guardFired = true;
  if (guarded) guarded->ClosingSetDtmAddrActXNotification();
}

class NewDeviceDtmAddressTest : public AddressControlsFixture {
 protected:
  void TearDown() override {
    for (UINT_PTR* timer : {&guardTimer, &laterTimer}) {
      if (*timer) ::KillTimer(nullptr, *timer);
      *timer = 0;
    }
    guarded = nullptr;
    later = nullptr;
    AddressControlsFixture::TearDown();
  }

  // Configured with parameter 1014 from the registry setting.
  void ConfigureWithMode(DWORD mode) {
    SetSetting(hart_dtm::kNewDeviceAddressValue, mode);
    Configure();
    guarded = hart.get();
    guardFired = false;
  }

  // The same with the DTM's class built into this program, so that its
  // bound for the control can be shortened (the controls still come from
  // the registered module).
  void ConfigureWaitingWithBound(DWORD milliseconds) {
    SetSetting(hart_dtm::kNewDeviceAddressValue, DWORD{new_device_dialog::kOpenAndWait});
    ASSERT_EQ(S_OK, com::createObject<CHART_CommDTM>(nullptr, __uuidof(IHART_CommDTM), hart.putVoid()));
    ownDtm = static_cast<CHART_CommDTM*>(hart.get());
    ownDtm->SetAddressControlWait(milliseconds);
    ASSERT_EQ(S_OK, hart.as(object));
    ASSERT_EQ(S_OK, object.as(dtm));
    ASSERT_EQ(S_OK, object.as(base));
    ASSERT_EQ(S_OK, object.as(parameters));
    // Without the module's information templates the device type is not
    // chosen here: the DTM attaches its channel and is put into state 7.
    Attach();
    ASSERT_EQ(S_OK, base->InitChannels());
    ASSERT_EQ(S_OK, base->SetState(kDtmInitialised));
    VARIANT_BOOL ok = VARIANT_FALSE;
    com::Bstr user(UserInformation(L"maintenance").c_str());
    ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
    ASSERT_EQ(kDtmConfigured, State());
    guarded = hart.get();
    guardFired = false;
  }

  // A second control of function 11 in a frame window of its own, opened
  // under its own key.
  void OpenSecond(control_host::HostedControl* second, const wchar_t* key) {
    ASSERT_EQ(S_OK, second->create(kProgId, L"Set DeviceDTM Address", 500, 290));
    com::ComPtr<IDtmActiveXControl> control = second->as<IDtmActiveXControl>();
    ASSERT_TRUE(control);
    com::Bstr call(FunctionCallDocument(hart_function::kNewDeviceDtmAddress).c_str()), name(key);
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(S_OK, control->Init(name.get(), call.get(), object.get(), &done));
    ASSERT_EQ(VARIANT_TRUE, done);
  }

  // Parameter 1014 says "open without waiting"; the frame hosts the control
  // the DTM opens for child n1 ("TT-1", address 5).
  devicedtm_double::ChildDtm* AddChildWithoutWaiting() {
    ConfigureWithMode(new_device_dialog::kOpenWithoutWaiting);
    frame->onOpenControl([this](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
      OpenControl(kProgId, hart_function::kNewDeviceDtmAddress, L"Set DeviceDTM Address", 500, 290);
      *result = VARIANT_TRUE;
      return S_OK;
    });
    return AddChild(L"n1", L"TT-1", 5);
  }

  CHART_CommDTM* ownDtm = nullptr;

  // The frame hosts the control it is asked to open; `user` acts once the
  // DTM's call is back in its message loop.
  void HostOnOpen(std::function<void()> user) {
    frame->onOpenControl([this, user](const std::wstring&, const std::wstring& call, VARIANT_BOOL* result) {
      EXPECT_NE(std::wstring::npos, call.find(L"functionId=\"11\"")) << call;
      OpenControl(kProgId, hart_function::kNewDeviceDtmAddress, L"Set DeviceDTM Address", 500, 290);
      EXPECT_EQ(VARIANT_TRUE, initialised);
      ArmUser(user);
      *result = VARIANT_TRUE;
      return S_OK;
    });
  }

  void ArmUser(std::function<void()> user) {
    if (laterTimer) ::KillTimer(nullptr, laterTimer);
    later = std::move(user);
    laterTimer = ::SetTimer(nullptr, 0, 10, &RunLater);
    if (!guardTimer) guardTimer = ::SetTimer(nullptr, 0, 20000, &EndStuckWait);
  }

  // Adds the child; true when the DTM's call came back without the guard.
  bool AddChildAndReturn(const wchar_t* systemTag, const wchar_t* dtmTag, int address,
                         devicedtm_double::ChildDtm** child = nullptr) {
    devicedtm_double::ChildDtm* added = AddChild(systemTag, dtmTag, address);
    if (child) *child = added;
    if (guardTimer) ::KillTimer(nullptr, guardTimer);
    guardTimer = 0;
    const bool returned = !guardFired;
    guardFired = false;
    return returned;
  }
};

TEST_F(NewDeviceDtmAddressTest, WaitingDtmTakesTheCorrectedAddressAndTagAndGoesOn) {
  ConfigureWithMode(new_device_dialog::kOpenAndWait);
  std::wstring shownId, shownTag, shownAddress;
  bool openWhileWaiting = false;
  HostOnOpen([&] {
    openWhileWaiting = !host.closed();
    shownId = host.text(IDC_DTM_ID);
    shownTag = host.text(IDC_DTM_TAG);
    shownAddress = host.text(IDC_ADDRESS);
    host.typeText(IDC_DTM_TAG, L"TT-NEW");
    host.typeText(IDC_ADDRESS, L"12");
    host.click(IDC_APPLY);
  });
  devicedtm_double::ChildDtm* child = nullptr;
  ASSERT_TRUE(AddChildAndReturn(L"n1", L"TT-1", 5, &child)) << "the DTM still waited after OK";
  EXPECT_TRUE(openWhileWaiting);
  EXPECT_EQ(L"n1", shownId);
  EXPECT_EQ(L"TT-1", shownTag);
  EXPECT_EQ(L"5", shownAddress);
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(L"TT-NEW 12", ChildEntry(L"n1"));
  EXPECT_NE(std::wstring::npos, child->document().find(L"slaveAddress=\"12\"")) << child->document();
  EXPECT_NE(std::wstring::npos, child->document().find(L"fdt:tag=\"TT-NEW\"")) << child->document();
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
}

TEST_F(NewDeviceDtmAddressTest, EveryWayTheControlGoesEndsTheWait) {
  ConfigureWithMode(new_device_dialog::kOpenAndWait);
  // Cancel: the frame closes the control after asking it.
  HostOnOpen([&] {
    host.typeText(IDC_ADDRESS, L"30");
    host.click(IDC_CANCEL);
  });
  EXPECT_TRUE(AddChildAndReturn(L"n1", L"TT-1", 5)) << "the DTM still waited after Cancel";
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(L"TT-1 5", ChildEntry(L"n1"));

  // The frame destroys the control without asking it.
  HostOnOpen([&] {
    host.typeText(IDC_ADDRESS, L"31");
    host.close();
  });
  EXPECT_TRUE(AddChildAndReturn(L"n2", L"TT-2", 6)) << "the DTM still waited after the frame destroyed the control";
  EXPECT_EQ(L"TT-2 6", ChildEntry(L"n2"));

  // A disabled function opens nothing: the frame is not even asked.
  com::ComPtr<IevFdtActiveXContainer> container;
  ASSERT_EQ(S_OK, object.as(container));
  ASSERT_EQ(S_OK, container->SetFunctionEnabled(hart_function::kNewDeviceDtmAddress, 0));
  const size_t asked = frame->callsTo("OpenActiveXControlRequest").size();
  ArmUser([] {});
  EXPECT_TRUE(AddChildAndReturn(L"n3", L"TT-3", 7)) << "the DTM waited for a control that never opened";
  EXPECT_EQ(asked, frame->callsTo("OpenActiveXControlRequest").size());
  ASSERT_EQ(S_OK, container->SetFunctionEnabled(hart_function::kNewDeviceDtmAddress, 1));

  // A frame that refuses to open it.
  frame->onOpenControl([](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    *result = VARIANT_FALSE;
    return S_OK;
  });
  ArmUser([] {});
  EXPECT_TRUE(AddChildAndReturn(L"n4", L"TT-4", 8)) << "the DTM waited for a control the frame refused";
}

// After its bound the DTM no longer waits for the control, and the control
// is asked to close: a frame that closes it has nothing of that call left.
TEST_F(NewDeviceDtmAddressTest, AControlWaitedOutIsAskedToClose) {
  ConfigureWaitingWithBound(300);
  HostOnOpen([] {});
  ASSERT_TRUE(AddChildAndReturn(L"n1", L"TT-1", 5));
  ASSERT_TRUE(frame->waitForCalls("OnErrorMessage", 1, 10000));
  EXPECT_TRUE(PumpUntil([&] { return host.closed(); })) << "the control waited out stayed open";
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
  EXPECT_EQ(L"TT-1 5", ChildEntry(L"n1"));
}

// A frame that keeps the control waited out open: it stays the control of
// its own device DTM (it shows it and writes to it, not to the device DTM
// added next), and when it goes during the next call's wait, that wait goes
// on until the next call's own control closes.
TEST_F(NewDeviceDtmAddressTest, AControlWaitedOutReachesNoLaterCall) {
  ConfigureWaitingWithBound(300);
  HostOnOpen([] {});
  frame->onCloseControl([](const std::wstring&, VARIANT_BOOL* answer) {
    *answer = VARIANT_FALSE;
    return S_OK;
  });
  ASSERT_TRUE(AddChildAndReturn(L"n1", L"TT-1", 5));
  ASSERT_TRUE(frame->waitForCalls("OnErrorMessage", 1, 10000));
  control_host::HostedControl::pump();
  ASSERT_FALSE(host.closed());

  // The next call waits long enough for the whole case (the guard ends it
  // at worst).
  ownDtm->SetAddressControlWait(60000);
  control_host::HostedControl second;
  std::wstring oldShows, secondShows;
  bool secondClosedByUser = false;
  frame->onOpenControl([&](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    OpenSecond(&second, L"second control");
    ArmUser([&] {
      oldShows = host.text(IDC_DTM_ID);
      secondShows = second.text(IDC_DTM_ID);
      // The old control's OK, then the frame drops it unasked.
      host.typeText(IDC_ADDRESS, L"20");
      host.click(IDC_APPLY);
      control_host::HostedControl::pump();
      host.close();
      ArmUser([&] {
        secondClosedByUser = true;
        second.click(IDC_CANCEL);
      });
    });
    *result = VARIANT_TRUE;
    return S_OK;
  });
  frame->onCloseControl([&](const std::wstring& key, VARIANT_BOOL* answer) {
    *answer = VARIANT_FALSE;
    if (key != L"second control") return S_OK;
    com::ComPtr<IDtmActiveXControl> control = second.as<IDtmActiveXControl>();
    VARIANT_BOOL released = VARIANT_FALSE;
    if (control) control->PrepareToRelease(&released);
    control.reset();
    if (released) second.close();
    *answer = released;
    return S_OK;
  });
  ASSERT_TRUE(AddChildAndReturn(L"n2", L"TT-2", 6)) << "the DTM still waited after the second control closed";
  EXPECT_TRUE(secondClosedByUser) << "the old control's close ended the next call's wait";
  EXPECT_EQ(L"n1", oldShows);
  EXPECT_EQ(L"n2", secondShows);
  EXPECT_EQ(L"TT-1 20", ChildEntry(L"n1"));
  EXPECT_EQ(L"TT-2 6", ChildEntry(L"n2"));
  EXPECT_TRUE(second.closed());
}

TEST_F(NewDeviceDtmAddressTest, DtmShutDownWhileWaitingStopsWaiting) {
  ConfigureWithMode(new_device_dialog::kOpenAndWait);
  // The frame says it opened the control but never makes one; then it shuts
  // the DTM down.
  frame->onOpenControl([this](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    ArmUser([this] {
      VARIANT_BOOL done = VARIANT_FALSE;
      EXPECT_EQ(S_OK, dtm->ShutdownDtm(&done));
      EXPECT_EQ(VARIANT_TRUE, done);
    });
    *result = VARIANT_TRUE;
    return S_OK;
  });
  EXPECT_TRUE(AddChildAndReturn(L"n1", L"TT-1", 5)) << "the DTM still waited after it was shut down";
  EXPECT_EQ(kDtmReleased, State());
}

TEST_F(NewDeviceDtmAddressTest, WithoutWaitingTheControlStaysOpenUntilTheInputIsUsable) {
  devicedtm_double::ChildDtm* child = AddChildWithoutWaiting();
  ASSERT_FALSE(host.closed()) << "the DTM went on with the control open";
  const std::wstring instructions = host.text(IDC_STATUS_TEXT);

  // An entry that is no address 0 to 63 (empty, pasted letters or sign,
  // too many digits) writes nothing and says why.
  for (const wchar_t* entry : {L"", L"abc", L"-1", L"64", L"99999999999"}) {
    host.paste(IDC_ADDRESS, entry);
    host.click(IDC_APPLY);
    EXPECT_FALSE(host.closed()) << "'" << entry << "'";
    EXPECT_EQ(L"The address for the child DTM is out of range.", host.text(IDC_STATUS_TEXT)) << "'" << entry << "'";
  }
  EXPECT_EQ(L"TT-1 5", ChildEntry(L"n1"));

  // A child DTM that refuses its new document keeps the control open.
  child->setSetAnswer(S_OK, VARIANT_FALSE);
  host.typeText(IDC_ADDRESS, L"9");
  host.click(IDC_APPLY);
  EXPECT_FALSE(host.closed());
  EXPECT_EQ(instructions, host.text(IDC_STATUS_TEXT));
  EXPECT_EQ(L"TT-1 5", ChildEntry(L"n1"));

  // Without edit permission only Cancel is left.
  com::ComPtr<IevFdtActiveX4> control = host.as<IevFdtActiveX4>();
  ASSERT_EQ(S_OK, control->SetProperty(*com::ui4(9993).get(), *com::Variant(false).get()));
  for (UINT item : {IDC_DTM_TAG, IDC_ADDRESS, IDC_APPLY}) EXPECT_FALSE(host.enabled(item)) << item;
  EXPECT_TRUE(host.enabled(IDC_CANCEL));
  ASSERT_EQ(S_OK, control->SetProperty(*com::ui4(9993).get(), *com::Variant(true).get()));
  EXPECT_TRUE(host.enabled(IDC_APPLY));

  // The highest address.
  child->setSetAnswer(S_OK, VARIANT_TRUE);
  host.typeText(IDC_ADDRESS, L"63");
  host.click(IDC_APPLY);
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(L"TT-1 63", ChildEntry(L"n1"));
}

// An error still shows when the frame switches the DTM to German: the
// translation shows the German instructions, and an Apply afterwards keeps
// them instead of bringing back the English ones.
TEST_F(NewDeviceDtmAddressTest, ALanguageChangeWhileAnErrorShowsLeavesTheNewLanguagesInstructions) {
  devicedtm_double::ChildDtm* child = AddChildWithoutWaiting();
  ASSERT_FALSE(host.closed());
  const std::wstring english = host.text(IDC_STATUS_TEXT);
  host.paste(IDC_ADDRESS, L"64");
  host.click(IDC_APPLY);
  ASSERT_EQ(L"The address for the child DTM is out of range.", host.text(IDC_STATUS_TEXT));

  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetLanguage(1031, &ok));
  control_host::HostedControl::pump();
  const std::wstring german = host.text(IDC_STATUS_TEXT);
  ASSERT_NE(english, german);

  child->setSetAnswer(S_OK, VARIANT_FALSE);  // refused: the control stays open
  host.typeText(IDC_ADDRESS, L"9");
  host.click(IDC_APPLY);
  ASSERT_FALSE(host.closed());
  EXPECT_EQ(german, host.text(IDC_STATUS_TEXT));
}

// A child DTM that serves the thread's messages while it takes its new
// document (one in another apartment, say): a second OK or a Cancel
// meanwhile is not taken, and the document is written once.
TEST_F(NewDeviceDtmAddressTest, NoClickIsTakenWhileTheChildDtmTakesItsDocument) {
  devicedtm_double::ChildDtm* child = AddChildWithoutWaiting();
  ASSERT_FALSE(host.closed());
  const size_t written = child->writtenDocuments().size();
  child->duringSetParameters([] { control_host::HostedControl::pump(); });
  host.typeText(IDC_ADDRESS, L"12");
  bool okTaken = true, cancelTaken = true;
  host.postCall([&] {
    okTaken = host.click(IDC_APPLY);
    cancelTaken = host.click(IDC_CANCEL);
  });
  ASSERT_TRUE(host.click(IDC_APPLY));
  control_host::HostedControl::pump();
  EXPECT_FALSE(okTaken);
  EXPECT_FALSE(cancelTaken);
  EXPECT_EQ(written + 1, child->writtenDocuments().size());
  EXPECT_EQ(L"TT-1 12", ChildEntry(L"n1"));
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
}

TEST_F(NewDeviceDtmAddressTest, WithoutTheChannelTheFieldsStayEmptyAndOkDoesNothing) {
  Attach();  // state 6: the DTM hands out no channel
  ASSERT_EQ(S_OK, Write(hart_param::kNewDeviceSystemTag, *com::Variant(L"n1").get()));
  OpenControl(kProgId, hart_function::kNewDeviceDtmAddress, L"Set DeviceDTM Address", 500, 290);
  EXPECT_EQ(L"n1", host.text(IDC_DTM_ID));
  EXPECT_EQ(L"", host.text(IDC_DTM_TAG));
  EXPECT_EQ(L"", host.text(IDC_ADDRESS));
  host.click(IDC_APPLY);
  EXPECT_FALSE(host.closed());
  EXPECT_TRUE(frame->callsTo("CloseActiveXControlRequest").empty());
}

TEST_F(AddressControlScreenshots, NewDeviceDtmAddress) {
  Configure();
  frame->onOpenControl([this](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    OpenControl(kProgId, hart_function::kNewDeviceDtmAddress, L"Set DeviceDTM Address", 500, 290);
    *result = VARIANT_TRUE;
    return S_OK;
  });
  AddChild(L"{6A0B3C1E-22D4-4F7A-9C1B-0D5E8A7F3B21}", L"TT-101", 5);
  host.fitToDialog(299, 160);
  SaveScreenshot("new_device_dtm_address");
}

}  // namespace
}  // namespace hartdtmtest
