// The test DTM driven through its whole life as a frame application drives
// it, with the notices arriving at the frame double from the DTM's worker
// thread.
#include <ocidl.h>

#include <set>
#include <utility>

#include "com/Variant.h"
#include "dtm_test_support.h"
#include "hostile_documents.h"
#include "process_counts.h"
#include "test_dtm_ids.h"
#include "toolkit/dtm/dtm_states.h"
#include "win32/unique_handle.h"

namespace dtmtest {
namespace {

using frame_double::FrameCall;

// Every case runs with an agile frame and with a single-threaded one.
class LifecycleTest : public DtmFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    agileFrame = GetParam();
    DtmFixture::SetUp();
  }

  void Report(const wchar_t* text) {
    com::ComPtr<IevFdtDtmEvents> events;
    ASSERT_EQ(S_OK, object.as(events));
    com::Variant code(LONG{16});
    com::Variant value(text);
    ASSERT_EQ(S_OK, events->OnDtmEvent(*code.get(), *value.get()));
  }

  // A progress notice through event 10005 (percent, text, step flag).
  void Progress(SHORT percent, const wchar_t* text, bool step) {
    com::ComPtr<IevFdtDtmEvents> events;
    ASSERT_EQ(S_OK, object.as(events));
    SAFEARRAYBOUND bound{3, 0};
    com::Variant array;
    V_VT(array.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(array.get()) = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
    ASSERT_NE(nullptr, V_ARRAY(array.get()));
    com::Variant elements[3] = {com::Variant(), com::Variant(text), com::Variant(step)};
    V_VT(elements[0].get()) = VT_I2;
    V_I2(elements[0].get()) = percent;
    for (LONG i = 0; i < 3; ++i) ASSERT_EQ(S_OK, ::SafeArrayPutElement(V_ARRAY(array.get()), &i, elements[i].get()));
    com::Variant code(LONG{10005});
    ASSERT_EQ(S_OK, events->OnDtmEvent(*code.get(), *array.get()));
  }

  size_t CallCount(const char* method) { return frame->callsTo(method).size(); }

  // The data set of a second test DTM with a frame of its own, configured,
  // saved into the stream and shut down.
  void SaveOtherDataSet(IStream* stream) {
    com::ComPtr<IUnknown> other;
    ASSERT_EQ(S_OK, other.createInstance(CLSID_TestDtm, nullptr, CLSCTX_INPROC_SERVER));
    frame_double::NoticeFrame* notices = nullptr;
    com::ComPtr<IUnknown> otherFrame = frame_double::createNoticeFrame(&notices);
    notices->setAgile(true);
    com::ComPtr<IDtm> otherDtm;
    com::ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(S_OK, other.as(otherDtm));
    ASSERT_EQ(S_OK, other.as(persist));
    ASSERT_EQ(S_OK, persist->InitNew());
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, otherDtm->SetEnvironment(tag.get(), otherFrame.get(), &ok));
    com::Bstr deviceType(kTestDeviceTypeDocument), user(UserInformation(L"maintenance").c_str());
    ASSERT_EQ(S_OK, otherDtm->InitNewDeviceType(deviceType.get(), &ok));
    ASSERT_EQ(S_OK, otherDtm->Config(user.get(), &ok));
    ASSERT_EQ(S_OK, persist->Save(stream, TRUE));
    ASSERT_EQ(S_OK, otherDtm->ShutdownDtm(&ok));
  }

  // Every notice so far came from one thread: not the test's to an agile
  // frame, the test's (the frame's own) to a single-threaded one.
  DWORD NoticeThread() {
    std::set<DWORD> threads;
    for (const FrameCall& call : frame->calls()) {
      if (call.method.rfind("On", 0) == 0) threads.insert(call.threadId);
    }
    EXPECT_EQ(1u, threads.size());
    EXPECT_EQ(agileFrame ? 0u : 1u, threads.count(::GetCurrentThreadId()));
    return threads.empty() ? 0 : *threads.begin();
  }

  void GoOnlineAndBack() {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
    EXPECT_EQ(VARIANT_TRUE, ok);
    EXPECT_EQ(kDtmOnline, State());

    ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
    EXPECT_EQ(VARIANT_TRUE, ok);
    ASSERT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
    ASSERT_TRUE(PumpUntil([&] { return CallCount("OnPreparedToReleaseCommunication") == 1; }));

    ASSERT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
    EXPECT_EQ(VARIANT_TRUE, ok);
    EXPECT_EQ(kDtmConfigured, State());
  }

  void ShutDown() {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, dtm->ShutdownDtm(&ok));
    EXPECT_EQ(VARIANT_TRUE, ok);
    EXPECT_EQ(kDtmReleased, State());
  }
};

TEST_P(LifecycleTest, LoadedDataSetRunsItsWholeLifeWithNoticesFromTheWorker) {
  EXPECT_EQ(kDtmConstructed, State());

  // A data set saved by another test DTM; loading leaves state 5.
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  SaveOtherDataSet(stream.get());
  ASSERT_EQ(S_OK, stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr));
  ASSERT_EQ(S_OK, persist->Load(stream.get()));
  EXPECT_EQ(kDtmLoadedDataSet, State());

  // Messages before the DTM is initialised wait for it.
  Report(L"first message");
  Report(L"second message");
  EXPECT_EQ(0u, frame->calls().size());

  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  EXPECT_EQ(kDtmInitialised, State());
  EXPECT_EQ(1u, CallCount("GetXmlSchemaPath"));
  ASSERT_TRUE(PumpUntil([&] { return CallCount("OnErrorMessage") == 2; }));
  auto messages = frame->callsTo("OnErrorMessage");
  EXPECT_EQ((std::vector<std::wstring>{tag.c_str(), L"first message"}), messages[0].arguments);
  EXPECT_EQ((std::vector<std::wstring>{tag.c_str(), L"second message"}), messages[1].arguments);

  // A message after that goes out at once.
  Report(L"third message");
  ASSERT_TRUE(PumpUntil([&] { return CallCount("OnErrorMessage") == 3; }));

  com::Bstr user(UserInformation(L"maintenance").c_str());
  ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
  EXPECT_EQ(kDtmConfigured, State());

  // The information document comes from the module's templates.
  com::ComPtr<IDtmInformation> information;
  ASSERT_EQ(S_OK, object.as(information));
  com::Bstr document;
  ASSERT_EQ(S_OK, information->GetInformation(document.put()));
  EXPECT_NE(std::wstring::npos, std::wstring(document.c_str()).find(L"<DtmInfo>")) << document.c_str();

  // Set communication clears the device values (initialValue) of the data set.
  EXPECT_EQ(VT_I4, Field(test_dtm_parameter::kCounter, 0x200000).type());
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  EXPECT_EQ(kDtmOnline, State());
  EXPECT_EQ(VT_EMPTY, Field(test_dtm_parameter::kCounter, 0x200000).type());
  ASSERT_TRUE(PumpUntil([&] { return CallCount("OnOnlineStateChanged") == 1; }));
  EXPECT_EQ(L"true", frame->callsTo("OnOnlineStateChanged")[0].arguments.at(1));
  // A device value read while online survives going offline (12 -> 9).
  com::ComPtr<IevFdtParameterInfo> info;
  ASSERT_EQ(S_OK, object.as(info));
  com::Variant counterId(LONG{test_dtm_parameter::kCounter}), initialField(LONG{0x200000});
  ASSERT_EQ(S_OK, info->SetParameterInfo(*counterId.get(), *initialField.get(),
                                         *com::Variant(LONG{5}).get()));

  ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
  ASSERT_TRUE(PumpUntil([&] { return CallCount("OnOnlineStateChanged") == 2; }));
  EXPECT_EQ(L"false", frame->callsTo("OnOnlineStateChanged")[1].arguments.at(1));
  ASSERT_TRUE(PumpUntil([&] { return CallCount("OnPreparedToReleaseCommunication") == 1; }));

  com::Variant kept = Field(test_dtm_parameter::kCounter, 0x200000);
  ASSERT_EQ(VT_I4, kept.type());
  EXPECT_EQ(5, V_I4(kept.get()));

  ASSERT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
  EXPECT_EQ(kDtmConfigured, State());

  const DWORD worker = NoticeThread();
  ShutDown();
  ASSERT_TRUE(PumpUntil([&] { return CallCount("OnPreparedToRelease") == 1; }));
  EXPECT_EQ(worker, NoticeThread());
  if (agileFrame) {
    EXPECT_TRUE(ThreadEnded(worker));  // else the test's own thread
  }
  // A frame of FDT 1.2 gets no state documents and is never asked for the
  // FDT 1.2.1 state sink.
  EXPECT_EQ(0u, CallCount("OnStateChanged"));
  EXPECT_EQ(0u, frame->sinkQueries("IFrameDtmEvents2"));
}

TEST_P(LifecycleTest, FrameOfVersion121GetsStateDocumentsInsteadOfOnlineNotices) {
  Configure(L"maintenance", /*fdt121=*/true);
  GoOnlineAndBack();
  ShutDown();

  auto documents = frame->callsTo("OnStateChanged");
  ASSERT_EQ(4u, documents.size());
  const wchar_t* const expected[][2] = {{L"communicationSet", L"goingOnline"},
                                        {L"goingOnline", L"online"},
                                        {L"online", L"goingOffline"},
                                        {L"goingOffline", L"communicationSet"}};
  for (size_t i = 0; i < 4; ++i) {
    const std::wstring& text = documents[i].arguments.at(1);
    EXPECT_NE(std::wstring::npos,
              text.find(std::wstring(L"<PreviousState fdt:dtmStateMachine=\"") + expected[i][0]))
        << text;
    EXPECT_NE(std::wstring::npos,
              text.find(std::wstring(L"<CurrentState fdt:dtmStateMachine=\"") + expected[i][1]))
        << text;
    EXPECT_EQ(tag.c_str(), documents[i].arguments.at(0));
  }
  EXPECT_EQ(0u, CallCount("OnOnlineStateChanged"));
  if (agileFrame) {
    EXPECT_TRUE(ThreadEnded(NoticeThread()));
  }
}

// Each kind of notice on its own sink object, none on the frame's own
// IDispatch (a fault there fails the case). (The parameter-changed notice
// needs a DTM with channels: persistence_test.) A single-threaded frame gets
// them on its thread, from sinks handed to the DTM's threads under their
// own dispatch interfaces.
TEST_P(LifecycleTest, EveryKindOfNoticeArrivesOnItsSink) {
  Configure(L"maintenance", /*fdt121=*/true);
  Report(L"a message");
  Progress(0, L"a title", false);
  com::ComPtr<IevFdtAuditTrail> trail;
  ASSERT_EQ(S_OK, object.as(trail));
  VARIANT_BOOL active = VARIANT_FALSE;
  ASSERT_EQ(S_OK, trail->SetAuditTrailActive(VARIANT_TRUE, &active));
  com::Bstr descriptor(L""), display(L"a function");
  ASSERT_EQ(S_OK, trail->WriteFunctionEvent(descriptor.get(), display.get()));
  GoOnlineAndBack();
  ASSERT_TRUE(PumpUntil([&] {
    return CallCount("OnErrorMessage") == 1 && CallCount("OnProgress") == 1 && CallCount("OnStateChanged") == 4;
  }));

  const std::pair<const char*, const char*> sinks[] = {
      {"OnErrorMessage", "IFrameDtmEvents"},
      {"OnProgress", "IFrameDtmEvents"},
      {"OnPreparedToReleaseCommunication", "IFrameDtmEvents"},
      {"OnStateChanged", "IFrameDtmEvents2"},
      {"OnStartTransaction", "IFrameAuditTrailEvents"},
      {"OnAuditTrailEvent", "IFrameAuditTrailEvents"}};
  for (const auto& sink : sinks) {
    const auto calls = frame->callsTo(sink.first);
    ASSERT_FALSE(calls.empty()) << sink.first;
    for (const auto& call : calls) {
      EXPECT_EQ(sink.second, call.interfaceName) << sink.first;
      if (!agileFrame) {
        EXPECT_EQ(::GetCurrentThreadId(), call.threadId) << sink.first;
      }
    }
  }
  EXPECT_TRUE(frame->callsTo("Invoke").empty());
  if (!agileFrame) {
    EXPECT_GT(frame->eventSink().ownInterfaceQueries(), 0);
    EXPECT_GT(frame->stateSink().ownInterfaceQueries(), 0);
  }
  ShutDown();
}

// True when the thread of that id has ended by now (no waiting).
bool ThreadGone(DWORD threadId) {
  win32::UniqueHandle thread(::OpenThread(SYNCHRONIZE, FALSE, threadId));
  return !thread.get() || ::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

TEST_P(LifecycleTest, NoNoticeWorkerOutlivesShutdownAndTheServerUnloadsAfterIt) {
  Configure();
  // A slow frame keeps each progress worker busy beyond the worker thread's end.
  frame->setDelay("OnProgress", 300);
  com::ComPtr<IevFdtDtmEvents> events;
  ASSERT_EQ(S_OK, object.as(events));
  // Each start notice waits for the one before it; the control messages
  // run beside them. Nothing is dispatched here afterwards, so the last
  // workers are still waiting for this apartment when shutdown begins.
  for (int round = 0; round < 3; ++round) {
    Progress(0, L"notice", false);
    for (LONG code = 64; code <= 68; ++code) {
      com::Variant eventCode(code), empty;
      ASSERT_EQ(S_OK, events->OnDtmEvent(*eventCode.get(), *empty.get()));
    }
  }
  ShutDown();

  const auto notices = frame->callsTo("OnProgress");
  ASSERT_EQ(3u, notices.size());
  // To an agile frame each notice came on its worker's own thread.
  if (agileFrame) {
    for (const auto& notice : notices) EXPECT_TRUE(ThreadGone(notice.threadId));
  }

  // Every worker let go of the server's module: without objects it unloads,
  // and nothing of it runs afterwards.
  events.reset();
  dtm.reset();
  base.reset();
  object.reset();
  ASSERT_NE(nullptr, ::GetModuleHandleW(kTestDtmFileName));
  EXPECT_TRUE(ServerUnloads());
}

// A frame that drops an online DTM without shutting it down: its worker
// (with the online timer running) and its notice workers end, and the
// server unloads once nothing of it runs.
TEST_P(LifecycleTest, DtmReleasedWithoutShutdownEndsItsWorkerAndTheServerUnloads) {
  Configure();
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_EQ(kDtmOnline, State());
  Report(L"a message before the release");
  Progress(0, L"busy", false);
  ASSERT_TRUE(PumpUntil([&] { return CallCount("OnErrorMessage") == 1 && CallCount("OnProgress") == 1; }));
  // To an agile frame the message comes on the worker thread, the progress
  // notice on a notice worker of its own.
  const DWORD worker = frame->callsTo("OnErrorMessage").at(0).threadId;
  const DWORD noticeWorker = frame->callsTo("OnProgress").at(0).threadId;

  dtm.reset();
  base.reset();
  object.reset();
  ASSERT_TRUE(ServerUnloads());
  // The module unloads only after the worker left it.
  if (agileFrame) {
    EXPECT_TRUE(ThreadEnded(worker));
    EXPECT_TRUE(ThreadEnded(noticeWorker));
  }
}

TEST_P(LifecycleTest, DeletePreparationLeadsToShutdown) {
  Configure();
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->PrepareDelete(&ok));
  EXPECT_EQ(kDtmPreparedToDelete, State());
  ShutDown();
}

TEST_P(LifecycleTest, CallsOutsideTheirStatesAreRefusedAndChangeNothing) {
  VARIANT_BOOL ok = VARIANT_TRUE;
  // Attaching before a data set exists.
  EXPECT_EQ(S_FALSE, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(kDtmConstructed, State());

  AttachNew();
  // Attaching again in state 6.
  EXPECT_EQ(E_FAIL, base->EnsureSchemaCache(tag.get(), frameObject.get()));
  com::Bstr user(UserInformation(L"maintenance").c_str());
  ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, dtm->Config(user.get(), &ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(S_FALSE, dtm->SetCommunication(nullptr, &ok));
  EXPECT_EQ(S_FALSE, dtm->ReleaseCommunication(&ok));
  EXPECT_EQ(S_FALSE, dtm->PrepareToReleaseCommunication(&ok));
  EXPECT_EQ(S_FALSE, dtm->PrepareDelete(&ok));
  EXPECT_EQ(S_FALSE, dtm->SetSharedUiFlag(VARIANT_TRUE, &ok));
  EXPECT_EQ(kDtmEnvironmentSet, State());

  // The function list still answers its document, with an empty body.
  com::Bstr phase(OperationPhase(L"engineering").c_str());
  com::Bstr functions;
  EXPECT_EQ(S_FALSE, dtm->GetFunctions(phase.get(), functions.put()));
  EXPECT_NE(std::wstring::npos,
            std::wstring(functions.c_str()).find(L"help     =\"\" \t> \t\t  \t</Functions>"))
      << functions.c_str();

  // Shutdown is allowed in state 6 and stops the worker.
  ShutDown();
  EXPECT_EQ(S_FALSE, dtm->ShutdownDtm(&ok));
  EXPECT_EQ(kDtmReleased, State());
}

TEST_P(LifecycleTest, FrameWithoutEventSinkIsNotAttached) {
  frame->noticeOffers().eventSink = false;
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  ASSERT_EQ(S_OK, persist->InitNew());
  EXPECT_EQ(E_NOINTERFACE, base->EnsureSchemaCache(tag.get(), frameObject.get()));
  EXPECT_EQ(E_NOINTERFACE, base->EnsureSchemaCache(tag.get(), nullptr));
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(kDtmNewDataSet, State());
}

TEST_P(LifecycleTest, NullOutPointersAreRefused) {
  EXPECT_EQ(E_INVALIDARG, dtm->SetEnvironment(tag.get(), frameObject.get(), nullptr));
  EXPECT_EQ(E_INVALIDARG, dtm->Config(nullptr, nullptr));
  EXPECT_EQ(E_POINTER, dtm->ReleaseCommunication(nullptr));
  EXPECT_EQ(E_POINTER, dtm->InitNewDeviceType(nullptr, nullptr));
  EXPECT_EQ(E_INVALIDARG, dtm->GetFunctions(nullptr, nullptr));
  EXPECT_EQ(E_INVALIDARG, base->GetDtmState(nullptr));
  EXPECT_EQ(E_INVALIDARG, base->GetSystemTag(nullptr));
  EXPECT_EQ(E_POINTER, dtm->SetSharedUiFlag(VARIANT_TRUE, nullptr));
  EXPECT_EQ(kDtmConstructed, State());
}

INSTANTIATE_TEST_SUITE_P(Frames, LifecycleTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Agile" : "SingleThreaded");
                         });

// The frame's life-cycle documents (device type, user information, frame
// version) that declare a document type are answered as malformed ones,
// without their entity ever being expanded, and the DTM stays where it was.
class LifecycleDocumentsTest : public DtmFixture {
 protected:
  // The call's result and answer for a malformed text and for the bomb.
  template <class Call>
  void ExpectRefusedLikeMalformed(const wchar_t* name, Call call, const std::wstring& document) {
    SCOPED_TRACE(name);
    VARIANT_BOOL malformedAnswer = VARIANT_TRUE, bombAnswer = VARIANT_TRUE;
    const LONG state = State();
    const HRESULT malformed = call(L"<FDT", &malformedAnswer);
    EXPECT_EQ(state, State());
    EXPECT_EQ(malformed, call(testsupport::WithEntityBomb(document).c_str(), &bombAnswer));
    EXPECT_EQ(malformedAnswer, bombAnswer);
    EXPECT_EQ(VARIANT_FALSE, bombAnswer);
    EXPECT_EQ(state, State());
  }
};

TEST_F(LifecycleDocumentsTest, DocumentTypeDeclarationsAreRefusedAsMalformedDocuments) {
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  ASSERT_EQ(S_OK, persist->InitNew());
  com::ComPtr<IDtm2> dtm2;
  ASSERT_EQ(S_OK, object.as(dtm2));
  std::wstring version = FrameVersion(1, 2, 1);
  version.replace(version.find(L"major="), 6, L"name=\"{BOMB}\" major=");
  ExpectRefusedLikeMalformed(L"SetEnvironment2", [&](const wchar_t* text, VARIANT_BOOL* ok) {
    return dtm2->SetEnvironment2(tag.get(), frameObject.get(), com::Bstr(text).get(), ok);
  }, version);

  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  ASSERT_EQ(kDtmEnvironmentSet, State());
  std::wstring deviceType = kTestDeviceTypeDocument;
  deviceType.replace(deviceType.find(L"Test Type"), 9, L"{BOMB}");
  ExpectRefusedLikeMalformed(L"InitNewDeviceType", [&](const wchar_t* text, VARIANT_BOOL* ok) {
    return dtm->InitNewDeviceType(com::Bstr(text).get(), ok);
  }, deviceType);

  ASSERT_EQ(S_OK, dtm->InitNewDeviceType(com::Bstr(kTestDeviceTypeDocument).get(), &ok));
  ASSERT_EQ(kDtmInitialised, State());
  std::wstring user = UserInformation(L"maintenance");
  user.replace(user.find(L"maintenance"), 11, L"maintenance{BOMB}");
  ExpectRefusedLikeMalformed(L"Config", [&](const wchar_t* text, VARIANT_BOOL* result) {
    return dtm->Config(com::Bstr(text).get(), result);
  }, user);
}

// A frame opens and closes DTMs all day in one process. Each instance of
// the test DTM has a worker thread of its own and sends a notice from it;
// every other one goes online and is dropped there without shutdown. What
// they took comes back, and each time the server unloads. (A few threads and
// handles Wine sets up once, the first time a program needs them, are
// allowed beyond the counts after the first instance.)
TEST_F(DtmFixture, HundredsOfInstancesGiveBackTheirThreadsAndHandles) {
  constexpr int kInstances = 300;
  constexpr DWORD kThreadSlack = 2;
  constexpr DWORD kHandleSlack = 8;
  testsupport::ProcessCounts before;
  for (int i = 0; i < kInstances; ++i) {
    SCOPED_TRACE(i);
    if (!object) {
      ASSERT_EQ(S_OK, object.createInstance(CLSID_TestDtm, nullptr, CLSCTX_INPROC_SERVER));
      ASSERT_EQ(S_OK, object.as(dtm));
      ASSERT_EQ(S_OK, object.as(base));
    }
    frame->clearCalls();
    Configure();
    com::ComPtr<IevFdtDtmEvents> events;
    ASSERT_EQ(S_OK, object.as(events));
    ASSERT_EQ(S_OK, events->OnDtmEvent(*com::Variant(LONG{16}).get(), *com::Variant(L"notice").get()));
    ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnErrorMessage").size() == 1; }));
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (i % 2) {
      ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
      ASSERT_EQ(kDtmOnline, State());
    } else {
      ASSERT_EQ(S_OK, dtm->ShutdownDtm(&ok));
      ASSERT_EQ(VARIANT_TRUE, ok);
    }
    events.reset();
    dtm.reset();
    base.reset();
    object.reset();
    ASSERT_TRUE(ServerUnloads());
    if (i == 1) before = testsupport::CountProcess();
  }
  const testsupport::ProcessCounts after = testsupport::CountProcess();
  EXPECT_LE(after.threads, before.threads + kThreadSlack) << before.threads;
  EXPECT_LE(after.handles, before.handles + kHandleSlack) << before.handles;
}

// A window of the test's thread that drops one COM reference when it gets
// WM_APP: a frame that lets go of a DTM from a message it handles while the
// DTM's call waits.
class DroppingWindow {
 public:
  DroppingWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &Proc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LifecycleTestDroppingWindow";
    ::RegisterClassW(&windowClass);
    window_ = ::CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  }
  ~DroppingWindow() { ::DestroyWindow(window_); }
  bool DropLater(IUnknown* reference) {
    dropped = false;
    return ::PostMessageW(window_, WM_APP, 0, reinterpret_cast<LPARAM>(reference));
  }
  static bool dropped;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message != WM_APP) return ::DefWindowProcW(window, message, w, l);
    reinterpret_cast<IUnknown*>(l)->Release();
    dropped = true;
    return 0;
  }
  HWND window_ = nullptr;
};
bool DroppingWindow::dropped = false;

// A fresh DTM after a refused load, started from scratch and saved, whose
// frame lets go of it while it shuts down (while the notice that it
// prepared to release is on its way): the DTM finishes its shutdown first,
// its worker ends, and the server unloads, time after time.
TEST_F(DtmFixture, ShutdownOfADtmTheFrameLetsGoMeanwhileFinishesFirst) {
  DroppingWindow dropper;
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    if (!object) {
      ASSERT_EQ(S_OK, object.createInstance(CLSID_TestDtm, nullptr, CLSCTX_INPROC_SERVER));
      ASSERT_EQ(S_OK, object.as(dtm));
      ASSERT_EQ(S_OK, object.as(base));
    }
    com::ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(S_OK, object.as(persist));
    com::ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    const char damaged[] = "not a data set of this DTM";
    ASSERT_EQ(S_OK, stream->Write(damaged, sizeof damaged, nullptr));
    LARGE_INTEGER start = {};
    ASSERT_EQ(S_OK, stream->Seek(start, STREAM_SEEK_SET, nullptr));
    EXPECT_NE(S_OK, persist->Load(stream.get()));
    // An FDT 1.2.1 frame: every state change is a notice, so the frame's
    // message is served as soon as the shutdown starts.
    Configure(L"maintenance", true);
    com::ComPtr<IStream> saved;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, saved.put()));
    ASSERT_EQ(S_OK, persist->Save(saved.get(), TRUE));
    persist.reset();

    // The frame's reference is the call's own, dropped while the call waits.
    IDtm* caller = dtm.detach();
    base.reset();
    object.reset();
    ASSERT_TRUE(dropper.DropLater(caller));
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(S_OK, caller->ShutdownDtm(&ok));
    EXPECT_TRUE(DroppingWindow::dropped) << "the frame let go only after the shutdown";
    EXPECT_EQ(VARIANT_TRUE, ok);
    ASSERT_TRUE(ServerUnloads());
    EXPECT_EQ(1u, frame->callsTo("OnPreparedToRelease").size());
    frame->clearCalls();
  }
}

}  // namespace
}  // namespace dtmtest
