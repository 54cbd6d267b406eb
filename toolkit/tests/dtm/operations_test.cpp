// IDtm operations of the base DTM on the test DTM: user roles, function
// list and calls, language, frame versions; and the state-transition
// document and text splitting on their own.
#include <string>
#include <vector>

#include "com/Variant.h"
#include "dtm_test_support.h"
#include "test_dtm_ids.h"
#include "toolkit/dtm/base_dtm.h"
#include "toolkit/dtm/dtm_states.h"

namespace dtmtest {
namespace {

namespace par = test_dtm_parameter;
namespace fn = test_dtm_function;

// Every case runs with an agile frame and with a single-threaded one.
class OperationsTest : public DtmFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    agileFrame = GetParam();
    DtmFixture::SetUp();
  }

  ULONG Flags(ULONG id) {
    com::Variant flags = Field(id, 0x4000);
    EXPECT_EQ(S_OK, flags.changeType(VT_UI4));
    return V_UI4(flags.get());
  }

  HRESULT Invoke(LONG functionId, VARIANT_BOOL* ok) {
    com::Bstr id(L"invoke-1");
    com::Bstr call(FunctionCall(functionId).c_str());
    return dtm->InvokeFunctionRequest(id.get(), call.get(), ok);
  }
};

TEST_P(OperationsTest, UserRoleDecidesWhichParametersStayWritable) {
  Configure(L"maintenance");
  EXPECT_EQ(0x1u, Flags(par::kCounter) & 0x1);      // storage 4: kept by maintenance
  EXPECT_EQ(0x1u, Flags(par::kPreambles) & 0x1);
}

TEST_P(OperationsTest, ObserverLosesWriteAccessAndMayNotCallFunctions) {
  Configure(L"observer");
  EXPECT_EQ(0u, Flags(par::kPreambles) & 0x1);      // storage 2
  EXPECT_EQ(0u, Flags(par::kCounter) & 0x1);        // storage 4
  EXPECT_EQ(0x1u, Flags(par::kTag) & 0x1);          // storage 1

  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, Invoke(fn::kResetCounter, &ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(0u, frame->callsTo("OnInvokedFunctionFinished").size());
}

TEST_P(OperationsTest, UnknownUserLevelKeepsTheRoleAndConfigSucceeds) {
  Configure(L"Operator");  // capital letter: not a level, the role stays observer
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, Invoke(fn::kResetCounter, &ok));
}

TEST_P(OperationsTest, FunctionCallsRunTheActionAndTellTheFrame) {
  Configure(L"operator");
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, Invoke(fn::kResetCounter, &ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  com::Variant counter = Field(par::kCounter, 0x80);
  ASSERT_EQ(S_OK, counter.changeType(VT_I4));
  EXPECT_EQ(0, V_I4(counter.get()));

  ASSERT_EQ(S_OK, Invoke(fn::kSelfTest, &ok));
  EXPECT_EQ(VARIANT_TRUE, ok);  // the call was made; the frame learns the outcome
  auto finished = frame->callsTo("OnInvokedFunctionFinished");
  ASSERT_EQ(2u, finished.size());
  EXPECT_EQ((std::vector<std::wstring>{L"invoke-1", L"true"}), finished[0].arguments);
  EXPECT_EQ((std::vector<std::wstring>{L"invoke-1", L"false"}), finished[1].arguments);
  // Called at once, on the frame's own thread.
  EXPECT_EQ(::GetCurrentThreadId(), finished[0].threadId);

  // A control function has no action; an unknown id no entry.
  EXPECT_EQ(S_FALSE, Invoke(fn::kSettings, &ok));
  EXPECT_EQ(S_FALSE, Invoke(999, &ok));
}

TEST_P(OperationsTest, FunctionListHoldsTheTableAndStoresThePhase) {
  Configure();
  com::Bstr phase(OperationPhase(L"engineering").c_str());
  com::Bstr functions;
  ASSERT_EQ(S_OK, dtm->GetFunctions(phase.get(), functions.put()));
  const std::wstring text = functions.c_str();
  EXPECT_EQ(0u, text.find(L"<?xml version=\"1.0\"?> <FDT xmlns          =\"x-schema:DTMFunctionsSchema.xml\""));
  EXPECT_NE(std::wstring::npos,
            text.find(L"<Function \tlabel =\"Reset counter\" \tfdt:name =\"Reset counter\" \thelp "
                      L"=\"Sets the counter to 0\" \thasGUI =\"0\" \tfunctionId =\"1\" "
                      L"\tprintable=\"0\" \tresizable=\"0\"> \t<Status \ttoggle =\"0\" \tchecked "
                      L"=\"0\" \tenabled =\"1\" \thidden =\"0\" \tseparator =\"0\" /> </Function>"))
      << text;
  EXPECT_NE(std::wstring::npos, text.find(L"\thasGUI =\"1\" \tfunctionId =\"2\""));
  // The group's texts are string-table ids of the DTM's module.
  EXPECT_NE(std::wstring::npos,
            text.find(L"<Functions \tlabel=\"Diagnosis\" \tfdt:name=\"Diagnosis\" \thelp=\"Checks "
                      L"of the test device\"> "));
  EXPECT_NE(std::wstring::npos, text.find(L"</Function></Functions>"));

  com::Bstr unknownPhase(OperationPhase(L"later").c_str());
  functions.reset();
  EXPECT_EQ(S_FALSE, dtm->GetFunctions(unknownPhase.get(), functions.put()));
}

TEST_P(OperationsTest, LanguageWithoutTranslationIsEnglishOnly) {
  Configure();
  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(S_OK, dtm->SetLanguage(0x409, &ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  long language = 0;
  ASSERT_EQ(S_OK, base->GetLanguageId(&language));
  EXPECT_EQ(0x409, language);
  EXPECT_EQ(S_FALSE, dtm->SetLanguage(0x407, &ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  ASSERT_EQ(S_OK, base->GetLanguageId(&language));
  EXPECT_EQ(0x409, language);
}

TEST_P(OperationsTest, FrameVersionsOtherThan120And121AreRefused) {
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  ASSERT_EQ(S_OK, persist->InitNew());
  com::ComPtr<IDtm2> dtm2;
  ASSERT_EQ(S_OK, object.as(dtm2));
  VARIANT_BOOL ok = VARIANT_TRUE;
  for (auto version : {FrameVersion(1, 2, 2), FrameVersion(1, 3, 0), FrameVersion(2, 2, 1)}) {
    com::Bstr document(version.c_str());
    EXPECT_EQ(S_FALSE, dtm2->SetEnvironment2(tag.get(), frameObject.get(), document.get(), &ok));
    EXPECT_EQ(VARIANT_FALSE, ok);
    EXPECT_EQ(kDtmNewDataSet, State());
  }
  com::Bstr fdt120(FrameVersion(1, 2, 0).c_str());
  EXPECT_EQ(S_OK, dtm2->SetEnvironment2(tag.get(), frameObject.get(), fdt120.get(), &ok));
  EXPECT_EQ(kDtmEnvironmentSet, State());
  // Language in state 6 needs a frame of 1.2.1.
  EXPECT_EQ(S_FALSE, dtm->SetLanguage(0x409, &ok));
}

TEST_P(OperationsTest, SystemGuiLabelIsWrittenToTheSystemLabel) {
  Configure();
  com::ComPtr<IDtm2> dtm2;
  ASSERT_EQ(S_OK, object.as(dtm2));
  com::Bstr label(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMInitSchema.xml\" "
                  L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><SystemGuiLabel "
                  L"fdt:systemGuiLabel=\"Line 4 / Modem\" /></FDT>");
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm2->SetSystemGuiLabel(label.get(), &ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  com::Variant text = Field(par::kSystemLabel, 0x80);
  ASSERT_EQ(VT_BSTR, text.type());
  EXPECT_STREQ(L"Line 4 / Modem", V_BSTR(text.get()));
}

TEST_P(OperationsTest, DeviceParameterIsWrittenAndReadOnlyWhileOnline) {
  Configure();
  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, object.as(handler));
  com::Variant id(LONG{par::kDeviceValue});
  VARIANT_BOOL done = VARIANT_FALSE;
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_EQ(kDtmOnline, State());

  ASSERT_EQ(S_OK, handler->StoreParameter(*id.get(), *com::Variant(LONG{77}).get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  // Reset the local copy, then read the device's value back.
  com::ComPtr<IevFdtParameterInfo> info;
  ASSERT_EQ(S_OK, object.as(info));
  ASSERT_EQ(S_OK, info->SetParameterInfo(*id.get(), *com::Variant(LONG{0x200000}).get(),
                                         *com::Variant(LONG{0}).get()));
  done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, handler->RefreshParameter(*id.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  com::Variant deviceValue = Field(par::kDeviceValue, 0x200000);
  ASSERT_EQ(S_OK, deviceValue.changeType(VT_I4));
  EXPECT_EQ(77, V_I4(deviceValue.get()));
}

// A device completion that failed tells the user why, through the DTM's
// message path to the frame.
TEST_P(OperationsTest, FailedDeviceCompletionReachesTheUser) {
  Configure();
  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, object.as(handler));
  com::Variant id(LONG{par::kDeviceValue});
  com::Bstr error(L"the device did not answer");
  ASSERT_EQ(S_OK, handler->SetParameterValue(VARIANT_FALSE, *id.get(), *com::Variant(LONG{5}).get(),
                                             error.get()));
  ASSERT_TRUE(PumpUntil([&] { return !frame->callsTo("OnErrorMessage").empty(); }));
  const auto messages = frame->callsTo("OnErrorMessage");
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ((std::vector<std::wstring>{tag.c_str(), L"the device did not answer"}), messages[0].arguments);
}

// The C++ side of the in-process test DTM, for what COM does not show: the
// communication event and the period the worker's timer was given.
BaseDtm& Core(IevFdtBaseDTM* base) {
  return *static_cast<BaseDtm*>(static_cast<com::DispatchImpl<IevFdtBaseDTM>*>(base));
}

bool Signalled(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

TEST_P(OperationsTest, EveryStateChangeHasItsSideEffects) {
  Configure();
  BaseDtm& core = Core(base.get());
  const HANDLE communication = core.CommunicationEvent();
  EXPECT_FALSE(Signalled(communication));
  EXPECT_EQ(0u, core.ThreadTimerPeriod());

  // configured -> communicationSet -> goingOnline -> online
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_EQ(kDtmOnline, State());
  EXPECT_TRUE(Signalled(communication));
  EXPECT_EQ(kOnlineTimerPeriodMs, core.ThreadTimerPeriod());

  // online -> goingOffline -> communicationSet: the timer stops, the event
  // is signalled again once the DTM is back in communicationSet.
  ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
  EXPECT_EQ(0u, core.ThreadTimerPeriod());
  EXPECT_TRUE(Signalled(communication));

  // Each state on its own: the two transitional states reset the event,
  // communicationSet and online set it; only online runs the timer.
  ASSERT_EQ(S_OK, base->SetState(kDtmGoingOnline));
  EXPECT_FALSE(Signalled(communication));
  ASSERT_EQ(S_OK, base->SetState(kDtmCommunicationSet));
  EXPECT_TRUE(Signalled(communication));
  EXPECT_EQ(0u, core.ThreadTimerPeriod());
  ASSERT_EQ(S_OK, base->SetState(kDtmGoingOnline));
  ASSERT_EQ(S_OK, base->SetState(kDtmOnline));
  EXPECT_TRUE(Signalled(communication));
  EXPECT_EQ(kOnlineTimerPeriodMs, core.ThreadTimerPeriod());
  ASSERT_EQ(S_OK, base->SetState(kDtmGoingOffline));
  EXPECT_FALSE(Signalled(communication));
  EXPECT_EQ(0u, core.ThreadTimerPeriod());
  ASSERT_EQ(S_OK, base->SetState(kDtmCommunicationSet));
  EXPECT_TRUE(Signalled(communication));

  // An FDT 1.2 frame hears of entering and leaving online.
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnOnlineStateChanged").size() == 4; }));
  std::vector<std::wstring> flags;
  for (const auto& call : frame->callsTo("OnOnlineStateChanged")) flags.push_back(call.arguments.at(1));
  EXPECT_EQ((std::vector<std::wstring>{L"true", L"false", L"true", L"false"}), flags);
  ASSERT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
  EXPECT_EQ(kDtmConfigured, State());
}

TEST_P(OperationsTest, UploadAndAuditTrailEventsAnswerWhatTheirOperationsAnswer) {
  Configure();
  com::ComPtr<IevFdtDtmEvents> events;
  ASSERT_EQ(S_OK, object.as(events));
  com::Variant request(L"<upload/>");
  EXPECT_EQ(base->UploadRequest(*request.get()),
            events->OnDtmEvent(*com::Variant(LONG{51}).get(), *request.get()));
  com::Variant on(true);
  EXPECT_EQ(base->SwitchAuditTrail(*on.get()), events->OnDtmEvent(*com::Variant(LONG{52}).get(), *on.get()));
  com::Variant off(false);
  EXPECT_EQ(base->SwitchAuditTrail(*off.get()), events->OnDtmEvent(*com::Variant(LONG{52}).get(), *off.get()));
}

TEST_P(OperationsTest, ResourceTextsComeFromTheDtmModule) {
  com::Bstr text;
  ASSERT_EQ(S_OK, base->LoadResourceText(*com::Variant(LONG{101}).get(), text.put()));
  EXPECT_STREQ(L"Diagnosis", text.get());
  text.reset();
  EXPECT_EQ(E_FAIL, base->LoadResourceText(*com::Variant(LONG{999}).get(), text.put()));
  EXPECT_EQ(nullptr, text.get());
  ASSERT_EQ(S_OK, base->LoadResourceText(*com::Variant(L"plain text").get(), text.put()));
  EXPECT_STREQ(L"plain text", text.get());
}

// ---- Without a DTM ---------------------------------------------------------

TEST(StateDocumentTest, NamesBothStatesAndEscapesTheErrorDetails) {
  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));  // escaping uses MSXML
  com::Bstr document;
  ASSERT_EQ(S_OK, BuildStateTransitionDocument(kDtmOnline, kDtmGoingOnline, nullptr, nullptr,
                                               nullptr, document.put()));
  EXPECT_STREQ(
      L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMStateSchema.xml\" "
      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n<DtmStateTransition><PreviousState "
      L"fdt:dtmStateMachine=\"goingOnline\" />\n<CurrentState fdt:dtmStateMachine=\"online\" />\n"
      L" </DtmStateTransition>\n</FDT>",
      document.get());

  document.reset();
  ASSERT_EQ(S_OK, BuildStateTransitionDocument(kDtmCommunicationSet, kDtmGoingOffline,
                                               L"Tag \"A\" & <B>", nullptr, L"E7",
                                               document.put()));
  EXPECT_NE(std::wstring::npos,
            std::wstring(document.get())
                .find(L"<fdt:CommunicationError tag=\"Tag &quot;A&quot; &amp; &lt;B&gt;\" "
                      L"communicationError=\"noConnection\"  errorCode=\"E7\" />"))
      << document.get();

  document.reset();
  EXPECT_EQ(S_FALSE, BuildStateTransitionDocument(kDtmCommunicationSet, kDtmConfigured, nullptr,
                                                  nullptr, nullptr, document.put()));
  EXPECT_EQ(nullptr, document.get());
  ::CoUninitialize();
}

TEST(SplitStringTest, CutsOneTokenAtATime) {
  struct Holder {
    BSTR text = nullptr, token = nullptr;
    ~Holder() {
      ::SysFreeString(text);
      ::SysFreeString(token);
    }
  } s;
  s.text = ::SysAllocString(L"alpha;beta,gamma");
  BOOL last = TRUE;
  ASSERT_EQ(S_OK, BaseDtm::SplitString(&s.text, L";,", &s.token, &last));
  EXPECT_STREQ(L"alpha", s.token);
  EXPECT_STREQ(L"beta,gamma", s.text);
  EXPECT_FALSE(last);
  ASSERT_EQ(S_OK, BaseDtm::SplitString(&s.text, L";,", &s.token, &last));
  EXPECT_STREQ(L"beta", s.token);
  ASSERT_EQ(S_OK, BaseDtm::SplitString(&s.text, L";,", &s.token, &last));
  EXPECT_STREQ(L"gamma", s.token);
  EXPECT_EQ(0u, ::SysStringLen(s.text));
  EXPECT_TRUE(last);

  // Nothing after the delimiter, and an empty token, end the text.
  ::SysFreeString(s.text);
  s.text = ::SysAllocString(L"end;");
  ASSERT_EQ(S_OK, BaseDtm::SplitString(&s.text, L";", &s.token, &last));
  EXPECT_STREQ(L"end", s.token);
  EXPECT_EQ(0u, ::SysStringLen(s.text));
  EXPECT_TRUE(last);
  ::SysFreeString(s.text);
  s.text = ::SysAllocString(L";rest");
  ASSERT_EQ(S_OK, BaseDtm::SplitString(&s.text, L";", &s.token, &last));
  EXPECT_EQ(0u, ::SysStringLen(s.token));
  EXPECT_EQ(0u, ::SysStringLen(s.text));

  EXPECT_EQ(E_POINTER, BaseDtm::SplitString(nullptr, L";", &s.token, &last));
  last = FALSE;
  EXPECT_EQ(S_OK, BaseDtm::SplitString(&s.text, nullptr, &s.token, &last));
  EXPECT_TRUE(last);
}

INSTANTIATE_TEST_SUITE_P(Frames, OperationsTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Agile" : "SingleThreaded");
                         });

}  // namespace
}  // namespace dtmtest
