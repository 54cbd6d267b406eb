// IHART_CommDTM: the scan-range and address dialogs run through the frame's
// modal function call and read their result from parameters; a new device
// DTM opens the address control by parameter 1014, waiting for it to close
// in mode 1.
#include "dtm/dtm_ids.h"
#include "dtm/hart_comm_dtm.h"
#include "hart_dtm_fixture.h"
#include "toolkit/dtm/dtm_states.h"

namespace hartdtmtest {
namespace {

class DtmInterfaceTest : public HartDtmFixture {
 protected:
  // The control of the frame's modal call writes these parameters.
  void PlayDialog(std::function<void()> control, VARIANT_BOOL answer = VARIANT_TRUE) {
    frame->onDialog([this, control, answer](const std::wstring&, const std::wstring& call,
                                             VARIANT_BOOL* result) {
      lastCall = call;
      control();
      *result = answer;
      return S_OK;
    });
  }

  std::wstring lastCall;
};

bool NamesFunction(const std::wstring& call, int id) {
  return call.find(L"functionId=\"" + std::to_wstring(id) + L"\"") != std::wstring::npos;
}

TEST_F(DtmInterfaceTest, ScanRangeStartsWholeAndComesBackFromTheControl) {
  Attach();
  com::Variant seenStart, seenEnd;
  PlayDialog([&] {
    seenStart = Read(hart_param::kScanRangeStart);
    seenEnd = Read(hart_param::kScanRangeEnd);
    Write(hart_param::kScanRangeStart, *I4(3).get());
    Write(hart_param::kScanRangeEnd, *I4(12).get());
  });
  long start = -1, end = -1;
  ASSERT_EQ(S_OK, hart->GetScanRangeViaGUI(&start, &end));
  EXPECT_EQ(3, start);
  EXPECT_EQ(12, end);
  EXPECT_EQ(0, V_I4(seenStart.get()));
  EXPECT_EQ(63, V_I4(seenEnd.get()));
  EXPECT_TRUE(NamesFunction(lastCall, hart_function::kScanRange)) << lastCall;
  auto calls = frame->callsTo("OpenDialogActiveXControlRequest");
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(std::wstring(tag.c_str()), calls[0].arguments[0]);
}

TEST_F(DtmInterfaceTest, ScanRangeFailsWithoutTheFrameOrWhenTheFrameRefuses) {
  Create();
  long start = 0, end = 0;
  // No frame yet.
  EXPECT_EQ(E_NOINTERFACE, hart->GetScanRangeViaGUI(&start, &end));
  object.reset();
  hart.reset();

  frame->controlOffers().dialog = false;
  Attach();
  EXPECT_EQ(E_NOINTERFACE, hart->GetScanRangeViaGUI(&start, &end));
  frame->controlOffers().dialog = true;
  PlayDialog([] {}, VARIANT_FALSE);
  EXPECT_EQ(E_FAIL, hart->GetScanRangeViaGUI(&start, &end));
  EXPECT_EQ(E_INVALIDARG, hart->GetScanRangeViaGUI(nullptr, &end));
}

TEST_F(DtmInterfaceTest, AddressDialogAnswersTheChosenAddressOrAbortsWhenCancelled) {
  Attach();
  com::Variant offered;
  PlayDialog([&] {
    offered = Read(hart_param::kNewAddress);
    Write(hart_param::kNewAddress, *I4(17).get());
  });
  long address = 5;
  ASSERT_EQ(S_OK, hart->GetDeviceDtmAddressViaGUI(&address));
  EXPECT_EQ(17, address);
  EXPECT_EQ(5, V_I4(offered.get()));
  EXPECT_TRUE(NamesFunction(lastCall, hart_function::kAddressForDtm)) << lastCall;

  PlayDialog([&] {
    Write(hart_param::kNewAddress, *I4(30).get());
    Write(hart_param::kAddressCancelled, *I4(1).get());
  });
  address = 9;
  EXPECT_EQ(E_ABORT, hart->GetDeviceDtmAddressViaGUI(&address));
  EXPECT_EQ(9, address);
  EXPECT_EQ(E_INVALIDARG, hart->GetDeviceDtmAddressViaGUI(nullptr));
}

TEST_F(DtmInterfaceTest, NewDeviceDtmOnlyInConfiguredStatesAndNotForObservers) {
  com::Bstr child(L"child-1");
  Attach();  // state 6
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  EXPECT_EQ(L"Show hidden ActiveX only when asked to do so!",
            std::wstring(V_BSTR(Read(hart_param::kNewDeviceSystemTag).get())));
  EXPECT_TRUE(frame->callsTo("OpenActiveXControlRequest").empty());
  TearDown();
  SetUp();

  Configure(L"FSK Mavix", L"observer");
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  EXPECT_TRUE(frame->callsTo("OpenActiveXControlRequest").empty());
  EXPECT_EQ(L"Show hidden ActiveX only when asked to do so!",
            std::wstring(V_BSTR(Read(hart_param::kNewDeviceSystemTag).get())));
}

// States 7 (initialised) and 8 (configured) take a new device DTM; in
// state 9 the communication is set and no dialog opens over the frame. (A
// user known from the configuration, taken back to state 7.)
TEST_F(DtmInterfaceTest, NewDeviceDtmOpensTheAddressControlInStatesSevenAndEightOnly) {
  Configure();
  ASSERT_EQ(S_OK, base->SetState(kDtmInitialised));
  com::Bstr child(L"child-7");
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  EXPECT_EQ(L"child-7", std::wstring(V_BSTR(Read(hart_param::kNewDeviceSystemTag).get())));
  EXPECT_EQ(1u, frame->callsTo("OpenActiveXControlRequest").size());

  ASSERT_EQ(S_OK, base->SetState(kDtmCommunicationSet));
  com::Bstr later(L"child-9");
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(later.get()));
  EXPECT_EQ(L"child-7", std::wstring(V_BSTR(Read(hart_param::kNewDeviceSystemTag).get())));
  EXPECT_EQ(1u, frame->callsTo("OpenActiveXControlRequest").size());
  ASSERT_EQ(S_OK, base->SetState(kDtmConfigured));
}

// A second Config is refused by the toolkit, and then changes nothing: the
// DTM tag the user gave stays.
TEST_F(DtmInterfaceTest, ASecondConfigKeepsTheUsersDtmTag) {
  Configure();
  EXPECT_EQ(L"FSK Mavix", std::wstring(V_BSTR(Read(hart_param::kDtmTag).get())));
  ASSERT_EQ(S_OK, Write(hart_param::kDtmTag, *com::Variant(L"Boiler 7").get()));
  com::Bstr user(UserInformation(L"maintenance").c_str());
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, dtm->Config(user.get(), &ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(L"Boiler 7", std::wstring(V_BSTR(Read(hart_param::kDtmTag).get())));
}

TEST_F(DtmInterfaceTest, NewDeviceDtmModeNeverStoresTheTagAndOpensNothing) {
  SetSetting(hart_dtm::kNewDeviceAddressValue, DWORD{0});
  Configure();
  com::Bstr child(L"child-2");
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  EXPECT_EQ(L"child-2", std::wstring(V_BSTR(Read(hart_param::kNewDeviceSystemTag).get())));
  EXPECT_TRUE(frame->callsTo("OpenActiveXControlRequest").empty());
}

TEST_F(DtmInterfaceTest, NewDeviceDtmOpensTheAddressControlWithoutWaiting) {
  SetSetting(hart_dtm::kNewDeviceAddressValue, DWORD{5});  // behaves as 2
  Configure();
  com::Bstr child(L"child-3");
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  auto calls = frame->callsTo("OpenActiveXControlRequest");
  ASSERT_EQ(1u, calls.size());
  EXPECT_TRUE(NamesFunction(calls[0].arguments[1], hart_function::kNewDeviceDtmAddress))
      << calls[0].arguments[1];
  EXPECT_EQ(L"child-3", std::wstring(V_BSTR(Read(hart_param::kNewDeviceSystemTag).get())));
}

// The control closes later, from a message the waiting call dispatches.
IHART_CommDTM* closingDtm = nullptr;
void CALLBACK CloseControl(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (closingDtm) closingDtm->ClosingSetDtmAddrActXNotification();
}

TEST_F(DtmInterfaceTest, NewDeviceDtmWaitsForTheAddressControlToClose) {
  SetSetting(hart_dtm::kNewDeviceAddressValue, DWORD{1});
  Configure();
  closingDtm = hart.get();
  bool timerSet = false;
  frame->onOpenControl([&](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    timerSet = ::SetTimer(nullptr, 0, 50, &CloseControl) != 0;
    *result = VARIANT_TRUE;
    return S_OK;
  });
  com::Bstr child(L"child-4");
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  closingDtm = nullptr;
  EXPECT_TRUE(timerSet);
  EXPECT_EQ(1u, frame->callsTo("OpenActiveXControlRequest").size());

  // A frame that did not open the control is not waited for.
  frame->onOpenControl([](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    *result = VARIANT_FALSE;
    return S_OK;
  });
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  EXPECT_EQ(2u, frame->callsTo("OpenActiveXControlRequest").size());
}

// A frame that says it opened the address control but never shows it (or
// loses it without a word) does not hold the DTM for good: after its
// bound the DTM stops waiting, tells the user so and answers S_FALSE. The
// DTM's class is built into this program for the case, so that its bound
// can be shortened.
TEST_F(DtmInterfaceTest, NewDeviceDtmStopsWaitingForAnAddressControlThatNeverCloses) {
  SetSetting(hart_dtm::kNewDeviceAddressValue, DWORD{1});
  ASSERT_EQ(S_OK, com::createObject<CHART_CommDTM>(nullptr, __uuidof(IHART_CommDTM), hart.putVoid()));
  static_cast<CHART_CommDTM*>(hart.get())->SetAddressControlWait(200);
  ASSERT_EQ(S_OK, hart.as(object));
  ASSERT_EQ(S_OK, object.as(dtm));
  ASSERT_EQ(S_OK, object.as(base));
  ASSERT_EQ(S_OK, object.as(parameters));
  Attach();
  ASSERT_EQ(S_OK, base->SetState(kDtmInitialised));
  VARIANT_BOOL ok = VARIANT_FALSE;
  com::Bstr user(UserInformation(L"maintenance").c_str());
  ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
  ASSERT_EQ(kDtmConfigured, State());
  frame->onOpenControl([](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    *result = VARIANT_TRUE;
    return S_OK;
  });
  com::Bstr child(L"child-6");
  EXPECT_EQ(S_FALSE, hart->DeviceDtmAdded(child.get()));
  EXPECT_EQ(1u, frame->callsTo("OpenActiveXControlRequest").size());
  ASSERT_TRUE(frame->waitForCalls("OnErrorMessage", 1, 10000));
  EXPECT_EQ(L"The address dialog of the new device DTM did not close in time: the DTM no longer waits for it.",
            frame->callsTo("OnErrorMessage").at(0).arguments.at(1));
}

// During one DTM's wait, another DTM's control closes first: the waiting
// DTM goes on waiting for its own control.
IHART_CommDTM* otherDtm = nullptr;
bool ownControlClosed = false;
void CALLBACK CloseOwnControl(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  ownControlClosed = true;
  if (closingDtm) closingDtm->ClosingSetDtmAddrActXNotification();
}
void CALLBACK CloseOtherControl(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (otherDtm) otherDtm->ClosingSetDtmAddrActXNotification();
  ::SetTimer(nullptr, 0, 10, &CloseOwnControl);
}

TEST_F(DtmInterfaceTest, TwoDtmsWaitOnEventsOfTheirOwn) {
  SetSetting(hart_dtm::kNewDeviceAddressValue, DWORD{1});
  Configure();
  com::ComPtr<IHART_CommDTM> other;
  ASSERT_EQ(S_OK, other.createInstance(CLSID_HART_CommDTM, nullptr, CLSCTX_INPROC_SERVER));
  closingDtm = hart.get();
  otherDtm = other.get();
  ownControlClosed = false;
  frame->onOpenControl([&](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    ::SetTimer(nullptr, 0, 10, &CloseOtherControl);
    *result = VARIANT_TRUE;
    return S_OK;
  });
  com::Bstr child(L"child-5");
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  closingDtm = nullptr;
  otherDtm = nullptr;
  EXPECT_TRUE(ownControlClosed);
}

// A device DTM added while the DTM waits for the control of the one before
// (the frame's call arrives from the waiting call's message loop): the
// inner call's control closing ends the inner wait only, the outer call
// waits on for its own control. A guard ends a wait that would not end.
IHART_CommDTM* nestingDtm = nullptr;
bool innerReturned = false;
bool outerControlClosed = false;
bool guardFired = false;
void CALLBACK CloseOuterControl(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  outerControlClosed = true;
  if (nestingDtm) nestingDtm->ClosingSetDtmAddrActXNotification();
}
void CALLBACK AddInnerChild(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (!nestingDtm) return;
  com::Bstr child(L"child-inner");
  nestingDtm->DeviceDtmAdded(child.get());
  innerReturned = true;
  ::SetTimer(nullptr, 0, 50, &CloseOuterControl);
}
void CALLBACK EndStuckWaits(HWND, UINT, UINT_PTR timer, DWORD) {
  guardFired = true;
  if (nestingDtm) nestingDtm->ClosingSetDtmAddrActXNotification();
}

TEST_F(DtmInterfaceTest, NestedNewDeviceDtmCallsWaitForTheirOwnControls) {
  SetSetting(hart_dtm::kNewDeviceAddressValue, DWORD{1});
  Configure();
  nestingDtm = hart.get();
  closingDtm = hart.get();
  innerReturned = outerControlClosed = guardFired = false;
  int opened = 0;
  frame->onOpenControl([&](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    // The first control: another device DTM is added meanwhile; the
    // second: it closes soon.
    ::SetTimer(nullptr, 0, 10, ++opened == 1 ? &AddInnerChild : &CloseControl);
    *result = VARIANT_TRUE;
    return S_OK;
  });
  const UINT_PTR guard = ::SetTimer(nullptr, 0, 20000, &EndStuckWaits);
  com::Bstr child(L"child-outer");
  EXPECT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  ::KillTimer(nullptr, guard);
  nestingDtm = nullptr;
  closingDtm = nullptr;
  EXPECT_FALSE(guardFired);
  EXPECT_EQ(2, opened);
  EXPECT_TRUE(innerReturned);
  EXPECT_TRUE(outerControlClosed) << "the inner control's close ended the outer wait";
}

TEST_F(DtmInterfaceTest, ScanActiveRefusesToReleaseTheCommunication) {
  Configure();
  ASSERT_EQ(S_OK, Write(hart_param::kScanActive, *com::Variant(true).get()));
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, dtm->PrepareToReleaseCommunication(&ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
}

}  // namespace
}  // namespace hartdtmtest
