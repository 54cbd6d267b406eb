// The function container on the test DTM: controls opened through the
// frame double receive their state and properties in order, function starts
// and ends reach the frame's audit trail, the data-set lock stays in
// balance (the lock for all included), broadcasts, close and open requests,
// the function list and the control information.
#include <map>
#include <string>
#include <vector>

#include "com/Object.h"
#include "com/Variant.h"
#include "dtm_test_support.h"
#include "frame_controls.h"
#include "test_dtm_ids.h"
#include "toolkit/dtm/dtm_states.h"

namespace dtmtest {
namespace {

// A control stub: records its states, messages and properties, and names
// its function.
class StubControl : public com::ObjectRoot,
                    public com::DispatchImpl<IevFdtActiveX4>,
                    public com::DispatchImpl<IevFdtActiveXInfo> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<StubControl, IevFdtActiveX4>(),
        com::entry<StubControl, IDispatch, IevFdtActiveX4>(),
        com::entry<StubControl, IevFdtActiveXInfo>(), com::endOfMap()};
    return map;
  }
  STDMETHODIMP OnStateChanged(unsigned long state) override {
    log.push_back(L"state " + std::to_wstring(state));
    return S_OK;
  }
  STDMETHODIMP OutputTrace(BSTR) override { return S_OK; }
  STDMETHODIMP OnDtmMessage(VARIANT, VARIANT, BSTR text) override {
    log.push_back(std::wstring(L"message ") + (text ? text : L""));
    return S_OK;
  }
  STDMETHODIMP SetProperty(VARIANT key, VARIANT value) override {
    com::Variant k(key);
    k.changeType(VT_UI4);
    log.push_back(L"property " + std::to_wstring(V_UI4(k.get())));
    properties[V_UI4(k.get())] = com::Variant(value);
    return S_OK;
  }
  STDMETHODIMP AttachDtm(IUnknown*, VARIANT_BOOL* r) override {
    *r = VARIANT_TRUE;
    return S_OK;
  }
  STDMETHODIMP DetachDtm(VARIANT_BOOL* r) override {
    *r = VARIANT_TRUE;
    return S_OK;
  }
  STDMETHODIMP GetInfo(VARIANT what, VARIANT* result) override {
    ::VariantInit(result);
    if (V_VT(&what) == VT_I4 && V_I4(&what) == 1 && !functionCall.empty()) {
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = ::SysAllocString(functionCall.c_str());
    }
    return S_OK;
  }
  STDMETHODIMP SetInfo(VARIANT, VARIANT) override { return S_OK; }
  STDMETHODIMP SetFrameContainer(IUnknown* frame) override {
    frameGiven = frame != nullptr;
    return S_OK;
  }

  std::wstring functionCall;
  std::vector<std::wstring> log;
  std::map<ULONG, com::Variant> properties;
  bool frameGiven = false;
};

// A control that offers only IevFdtActiveX4, as one the frame hosts without
// knowing it.
class PlainControl : public StubControl {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<PlainControl, IevFdtActiveX4>(),
        com::entry<PlainControl, IDispatch, IevFdtActiveX4>(), com::endOfMap()};
    return map;
  }
};

com::ComPtr<IUnknown> MakeControl(LONG functionId, StubControl** stub) {
  com::ComObject<StubControl>* created = nullptr;
  com::ComObject<StubControl>::create(&created);
  created->functionCall = functionId > 0 ? FunctionCall(functionId) : L"";
  *stub = created;
  com::ComPtr<IUnknown> identity;
  identity.attach(created->identity());
  return identity;
}

class FunctionContainerTest : public DtmFixture {
 protected:
  void SetUp() override {
    DtmFixture::SetUp();
    frameObject = frame_double::createControlFrame(&controlFrame);
    frame = controlFrame;
    frame->setAgile(true);
    ASSERT_EQ(S_OK, object.as(management));
    ASSERT_EQ(S_OK, object.as(container));
  }
  void TearDown() override {
    management.reset();
    container.reset();
    DtmFixture::TearDown();
  }
  size_t Calls(const char* method) { return frame->callsTo(method).size(); }
  std::vector<std::wstring> AuditEvents() {
    std::vector<std::wstring> out;
    for (const auto& c : frame->callsTo("OnAuditTrailEvent")) out.push_back(c.arguments.at(1));
    return out;
  }
  void AuditOn() {
    com::ComPtr<IevFdtAuditTrail> trail;
    ASSERT_EQ(S_OK, object.as(trail));
    VARIANT_BOOL on = VARIANT_FALSE;
    ASSERT_EQ(S_OK, trail->SetAuditTrailActive(VARIANT_TRUE, &on));
  }

  frame_double::ControlFrame* controlFrame = nullptr;
  com::ComPtr<IevFdtActiveXManagement> management;
  com::ComPtr<IevFdtActiveXContainer> container;
};

TEST_F(FunctionContainerTest, OpenedFunctionGetsStateAndPropertiesInOrderAndIsAudited) {
  Configure();
  AuditOn();
  StubControl* stub = nullptr;
  com::ComPtr<IUnknown> control = MakeControl(test_dtm_function::kSettings, &stub);
  com::Bstr key(L"control-1");
  ASSERT_EQ(S_OK, management->OpenActiveX(key.get(), control.get(), 0));
  EXPECT_TRUE(stub->frameGiven);
  ASSERT_GE(stub->log.size(), 6u);
  const std::vector<std::wstring> expected = {L"state 8",       L"property 9996", L"property 9988",
                                              L"property 9995", L"property 9984", L"property 9998"};
  EXPECT_EQ(expected, std::vector<std::wstring>(stub->log.begin(), stub->log.begin() + 6));

  auto events = AuditEvents();
  ASSERT_EQ(1u, events.size());
  EXPECT_NE(std::wstring::npos, events[0].find(L"fdt:descriptor=\"Function started\"")) << events[0];
  EXPECT_NE(std::wstring::npos, events[0].find(L"fdt:display=\"Settings\"")) << events[0];
  EXPECT_EQ(1u, Calls("LockDataSet"));

  // A second control under the same key is refused and starts nothing: no
  // entry tells of a function that never ran and never finishes.
  StubControl* second = nullptr;
  com::ComPtr<IUnknown> again = MakeControl(test_dtm_function::kSettings, &second);
  EXPECT_EQ(S_FALSE, management->OpenActiveX(key.get(), again.get(), 0));
  EXPECT_EQ(1u, AuditEvents().size());

  ASSERT_EQ(S_OK, management->ActiveXClosed(key.get()));
  events = AuditEvents();
  ASSERT_EQ(2u, events.size());
  EXPECT_NE(std::wstring::npos, events[1].find(L"fdt:descriptor=\"Function finished\"")) << events[1];
  EXPECT_EQ(1u, Calls("UnlockDataSet"));
  ASSERT_TRUE(PumpUntil([&] { return Calls("OnApplicationClosed") == 1; }));
}

TEST_F(FunctionContainerTest, LockIsBalancedAcrossTwoFunctionsAndWhenTheFrameRefusesIt) {
  Configure();
  StubControl* a = nullptr;
  StubControl* b = nullptr;
  com::ComPtr<IUnknown> first = MakeControl(test_dtm_function::kSettings, &a);
  com::ComPtr<IUnknown> second = MakeControl(test_dtm_function::kSettings, &b);
  com::Bstr k1(L"one"), k2(L"two");
  ASSERT_EQ(S_OK, management->OpenActiveX(k1.get(), first.get(), 0));
  ASSERT_EQ(S_OK, management->OpenActiveX(k2.get(), second.get(), 0));
  EXPECT_EQ(1u, Calls("LockDataSet"));
  ASSERT_EQ(S_OK, management->ActiveXClosed(k1.get()));
  EXPECT_EQ(0u, Calls("UnlockDataSet"));
  // Closing an unknown or already closed key changes nothing.
  ASSERT_EQ(S_OK, management->ActiveXClosed(k1.get()));
  ASSERT_EQ(S_OK, management->ActiveXClosed(k2.get()));
  EXPECT_EQ(1u, Calls("UnlockDataSet"));

  // A refused lock: the controls hear the data set is not editable, and
  // nothing is unlocked at the frame that it never granted.
  frame->setBoolAnswer("LockDataSet", VARIANT_FALSE);
  ASSERT_EQ(S_OK, management->OpenActiveX(k1.get(), first.get(), 0));
  EXPECT_EQ(2u, Calls("LockDataSet"));
  EXPECT_EQ(L"property 9993", a->log.back());
  ASSERT_EQ(S_OK, management->ActiveXClosed(k1.get()));
  EXPECT_EQ(1u, Calls("UnlockDataSet"));
  EXPECT_EQ(E_UNEXPECTED, base->ReleaseDataSetLock());
}

TEST_F(FunctionContainerTest, DuplicateKeysBookkeepingRecordsAndBroadcasts) {
  Configure();
  StubControl* a = nullptr;
  StubControl* b = nullptr;
  com::ComPtr<IUnknown> first = MakeControl(test_dtm_function::kSettings, &a);
  com::ComPtr<IUnknown> second = MakeControl(0, &b);
  com::Bstr k1(L"Key"), k2(L"key");
  ASSERT_EQ(S_OK, management->OpenActiveX(k1.get(), first.get(), 1));
  EXPECT_EQ(S_FALSE, management->OpenActiveX(k1.get(), second.get(), 0));
  ASSERT_EQ(S_OK, management->OpenActiveX(k2.get(), second.get(), 0));
  EXPECT_EQ(0u, Calls("LockDataSet"));  // bookkeeping record and no function

  a->log.clear();
  b->log.clear();
  com::Bstr text(L"hello");
  com::Variant id(LONG{1}), value;
  ASSERT_EQ(S_OK, container->SendMessageToControls(*id.get(), *value.get(), text.get()));
  ASSERT_EQ(S_OK, container->NotifyControlsState(9));
  EXPECT_EQ((std::vector<std::wstring>{L"message hello", L"state 9"}), a->log);
  EXPECT_EQ(a->log, b->log);

  // Case counts in keys; a bookkeeping record is not closed through the frame.
  VARIANT_BOOL closed = 0;
  com::Bstr other(L"KEY");
  EXPECT_EQ(E_FAIL, container->CloseActiveX(other.get(), &closed));
  EXPECT_EQ(S_FALSE, container->CloseActiveX(k1.get(), &closed));
  ASSERT_EQ(S_OK, container->CloseActiveX(k2.get(), &closed));
  EXPECT_EQ(1, closed);
  EXPECT_EQ(1u, Calls("CloseActiveXControlRequest"));
  controlFrame->setCloseAnswer(VARIANT_FALSE);
  closed = 0;
  EXPECT_EQ(S_FALSE, container->CloseActiveX(k2.get(), &closed));
  EXPECT_EQ(0, closed);
}

TEST_F(FunctionContainerTest, RequestsAndControlInformation) {
  Configure();
  VARIANT_BOOL opened = VARIANT_FALSE;
  ASSERT_EQ(S_OK, container->RequestFunctionControl(test_dtm_function::kSettings, 0, &opened));
  auto requests = frame->callsTo("OpenActiveXControlRequest");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(tag.c_str(), requests[0].arguments.at(0));
  EXPECT_NE(std::wstring::npos, requests[0].arguments.at(1).find(L"func:functionId=\"2\""));
  opened = VARIANT_TRUE;
  EXPECT_EQ(E_FAIL, container->RequestFunctionControl(99, 0, &opened));
  // A request that fails never reads as opened (callers wait for an opened
  // control).
  EXPECT_EQ(VARIANT_FALSE, opened);

  // A disabled function is not opened; the function list shows it disabled.
  ASSERT_EQ(S_OK, container->SetFunctionEnabled(test_dtm_function::kSettings, 0));
  opened = VARIANT_FALSE;
  EXPECT_EQ(S_FALSE, container->RequestFunctionControl(test_dtm_function::kSettings, 0, &opened));
  EXPECT_EQ(VARIANT_TRUE, opened);
  EXPECT_EQ(1u, Calls("OpenActiveXControlRequest"));
  EXPECT_EQ(E_FAIL, container->SetFunctionEnabled(99, 1));
  ASSERT_TRUE(PumpUntil([&] { return Calls("OnFunctionChanged") == 1; }));
  ASSERT_EQ(S_OK, container->SetFunctionEnabled(test_dtm_function::kSettings, 1));
  controlFrame->setOpenAnswer(VARIANT_TRUE, E_FAIL);
  opened = VARIANT_TRUE;
  EXPECT_EQ(E_FAIL, container->RequestFunctionControl(test_dtm_function::kSettings, 0, &opened));
  EXPECT_EQ(VARIANT_FALSE, opened);
  controlFrame->setOpenAnswer(VARIANT_TRUE, S_OK);
  controlFrame->controlOffers().openControl = false;
  opened = VARIANT_TRUE;
  EXPECT_TRUE(FAILED(container->RequestFunctionControl(test_dtm_function::kSettings, 0, &opened)));
  EXPECT_EQ(VARIANT_FALSE, opened);
  controlFrame->controlOffers().openControl = true;

  com::ComPtr<IDtmActiveXInformation> info;
  ASSERT_EQ(S_OK, object.as(info));
  com::Bstr call(FunctionCall(test_dtm_function::kSettings).c_str()), progId;
  ASSERT_EQ(S_OK, info->GetActiveXProgId(call.get(), progId.put()));
  EXPECT_STREQ(L"ToolkitTest.Settings.1", progId.c_str());
  com::Bstr noControl(FunctionCall(test_dtm_function::kResetCounter).c_str()), none;
  EXPECT_EQ(S_FALSE, info->GetActiveXProgId(noControl.get(), none.put()));
  // Before the DTM reached state 6 the controls' state gates the answer.
  ASSERT_EQ(S_OK, container->NotifyControlsState(5));
  EXPECT_EQ(S_FALSE, info->GetActiveXProgId(call.get(), none.put()));
}

TEST_F(FunctionContainerTest, FunctionListLeavesHiddenRowsOutAndNamesControlsByClass) {
  Configure();
  com::Bstr list;
  ASSERT_EQ(S_OK, container->GetActiveXDescription(list.put()));
  const std::wstring text = list.c_str();
  EXPECT_NE(std::wstring::npos, text.find(L"\tfunctionId =\"1\""));
  EXPECT_NE(std::wstring::npos, text.find(L"\tfunctionId =\"2\""));
  EXPECT_EQ(std::wstring::npos, text.find(L"\tfunctionId =\"4\"")) << text;
  EXPECT_EQ(std::wstring::npos, text.find(L"Never listed")) << text;
  // The frame's function list is this list.
  com::Bstr phase(OperationPhase(L"engineering").c_str()), functions;
  ASSERT_EQ(S_OK, dtm->GetFunctions(phase.get(), functions.put()));
  EXPECT_NE(std::wstring::npos, std::wstring(functions.c_str()).find(text));

  // A function's control by class id: upper case, no braces.
  com::ComPtr<IDtmActiveXInformation> info;
  ASSERT_EQ(S_OK, object.as(info));
  com::Bstr call(FunctionCall(test_dtm_function::kSettings).c_str()), classId;
  ASSERT_EQ(S_OK, info->GetActiveXGuid(call.get(), classId.put()));
  EXPECT_STREQ(L"6A1F0C55-3D8B-4B0E-9F4A-2C7D1E5B8A93", classId.c_str());
  EXPECT_EQ(E_POINTER, info->GetActiveXGuid(call.get(), nullptr));
  // No control, a ProgID that names no class, an unknown function: no text.
  com::Bstr hidden(FunctionCall(test_dtm_function::kHidden).c_str()), progId;
  ASSERT_EQ(S_OK, info->GetActiveXProgId(hidden.get(), progId.put()));
  EXPECT_STREQ(L"ToolkitTest.Unregistered.1", progId.c_str());
  for (LONG id : {test_dtm_function::kResetCounter, test_dtm_function::kHidden, LONG{99}}) {
    com::Bstr other(FunctionCall(id).c_str()), none;
    EXPECT_EQ(S_FALSE, info->GetActiveXGuid(other.get(), none.put())) << id;
    EXPECT_EQ(nullptr, none.get()) << id;
  }
}

TEST_F(FunctionContainerTest, ControlWithoutInformationGetsTheFramesSchemaPathFirst) {
  Configure();
  frame->setSchemaPath(L"C:\\Frame\\Schemas");
  com::ComObject<PlainControl>* plain = nullptr;
  ASSERT_EQ(S_OK, com::ComObject<PlainControl>::create(&plain));
  com::ComPtr<IUnknown> control;
  control.attach(plain->identity());
  com::Bstr key(L"plain");
  ASSERT_EQ(S_OK, management->OpenActiveX(key.get(), control.get(), 0));
  const std::vector<std::wstring> expected = {
      L"state 8",       L"property 9992", L"property 9996", L"property 9988",
      L"property 9995", L"property 9984", L"property 9998"};
  ASSERT_GE(plain->log.size(), expected.size());
  EXPECT_EQ(expected, std::vector<std::wstring>(plain->log.begin(), plain->log.begin() + 7));
  ASSERT_EQ(VT_BSTR, plain->properties[9992].type());
  EXPECT_STREQ(L"C:\\Frame\\Schemas", V_BSTR(plain->properties[9992].get()));
  ASSERT_EQ(S_OK, management->ActiveXClosed(key.get()));
}

TEST_F(FunctionContainerTest, LockForAllIsHeldForTheOpenControlsAndGivenBack) {
  Configure();
  com::Bstr none;
  // No control is open: the lock goes back at once.
  ASSERT_EQ(S_OK, container->ControlChanged(none.get(), nullptr));
  EXPECT_EQ(1u, Calls("LockDataSet"));
  EXPECT_EQ(1u, Calls("UnlockDataSet"));
  EXPECT_EQ(E_UNEXPECTED, base->ReleaseDataSetLock());

  // Held while a control is open, counted once however often it is asked
  // for, and given back with the last control.
  StubControl* stub = nullptr;
  com::ComPtr<IUnknown> control = MakeControl(test_dtm_function::kSettings, &stub);
  com::Bstr key(L"open");
  ASSERT_EQ(S_OK, management->OpenActiveX(key.get(), control.get(), 0));
  ASSERT_EQ(S_OK, container->ControlChanged(none.get(), nullptr));
  ASSERT_EQ(S_OK, container->ControlChanged(none.get(), nullptr));
  EXPECT_EQ(2u, Calls("LockDataSet"));
  EXPECT_EQ(1u, Calls("UnlockDataSet"));
  ASSERT_EQ(S_OK, management->ActiveXClosed(key.get()));
  EXPECT_EQ(2u, Calls("UnlockDataSet"));
  EXPECT_EQ(E_UNEXPECTED, base->ReleaseDataSetLock());
}

TEST_F(FunctionContainerTest, ShutdownClosesOpenControlsThroughTheFrame) {
  Configure();
  StubControl* a = nullptr;
  com::ComPtr<IUnknown> control = MakeControl(test_dtm_function::kSettings, &a);
  com::Bstr key(L"open");
  ASSERT_EQ(S_OK, management->OpenActiveX(key.get(), control.get(), 0));
  VARIANT_BOOL ok = VARIANT_FALSE;
  // PrepareDelete refuses while a control is open.
  EXPECT_EQ(S_FALSE, dtm->PrepareDelete(&ok));
  ASSERT_EQ(S_OK, management->ActiveXClosed(key.get()));
  EXPECT_EQ(S_OK, dtm->PrepareDelete(&ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
}

}  // namespace
}  // namespace dtmtest
