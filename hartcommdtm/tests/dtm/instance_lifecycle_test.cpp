// A frame opens and closes DTMs all day in one process: many HART DTM
// instances run through their life cycle one after the other, or are held
// together, and what each took from the process comes back.
#include <string>
#include <vector>

#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "process_counts.h"
#include "sim/sim_control.h"
#include "simulated_adapter.h"
#include "sim/sim_control.h"
#include "toolkit/dtm/dtm_states.h"
#include "win32/unique_handle.h"

namespace hartdtmtest {
namespace {

// A few threads and handles that Wine sets up the first time a program needs
// them and then keeps (its RPC listener and connection threads, the pipe
// instances they serve, registry keys it caches): allowed beyond the counts
// after the first instance. A leak of one thread or handle per instance is
// far beyond this after a few hundred instances.
constexpr DWORD kThreadSlack = 2;
constexpr DWORD kHandleSlack = 8;

class InstanceLifecycleTest : public HartDtmFixture {
 protected:
  void SetUp() override {
    HartDtmFixture::SetUp();
    adapter_.Bind(0);  // parameter 1000 names device number 0
  }

  // Created, given its data set and environment, configured, (online on
  // the simulated adapter and offline again,) shut down and released; the
  // module unloads.
  void RunOneInstance(int instance, bool online) {
    SCOPED_TRACE(instance);
    Configure();
    if (online) {
      ASSERT_NO_FATAL_FAILURE(OnlineAndBack());
    }
    ASSERT_NO_FATAL_FAILURE(ShutDown());
    ReleaseDtm();
    ASSERT_TRUE(ModuleUnloads());
  }

  SimulatedAdapter adapter_;
};

// DTMs a frame holds at once: shut down and let go when the case ends,
// whatever became of it.
class HeldDtms {
 public:
  struct Dtm {
    com::ComPtr<IDtm> dtm;
    com::ComPtr<IevFdtBaseDTM> base;
    bool online = false;
  };
  ~HeldDtms() { ShutDownAll(); }

  void Add(Dtm dtm) { dtms_.push_back(std::move(dtm)); }
  const std::vector<Dtm>& All() const { return dtms_; }

  // Online ones offline first, then every one shut down and released.
  void ShutDownAll() {
    for (Dtm& held : dtms_) {
      VARIANT_BOOL ok = VARIANT_FALSE;
      if (held.online && SUCCEEDED(held.dtm->PrepareToReleaseCommunication(&ok)) && ok) {
        PumpUntil([&] { return StateOf(held) == kDtmCommunicationSet; });
        held.dtm->ReleaseCommunication(&ok);
      }
      EXPECT_EQ(S_OK, held.dtm->ShutdownDtm(&ok));
      EXPECT_EQ(VARIANT_TRUE, ok);
    }
    dtms_.clear();
  }

  static LONG StateOf(const Dtm& held) {
    long state = -1;
    held.base->GetDtmState(&state);
    return state;
  }

 private:
  std::vector<Dtm> dtms_;
};

// A frame holds many DTMs at once: a hundred configured together, every
// tenth online on an adapter of its own (device numbers 0 to 9), then all
// shut down and released. The threads and handles they took and the module
// come back.
TEST_F(InstanceLifecycleTest, AHundredHeldTogetherGiveBackTheirThreadsHandlesAndModule) {
  constexpr int kHeld = 100;
  RunOneInstance(0, true);
  if (HasFatalFailure()) return;
  for (int number = 1; number < kHeld / 10; ++number)
    adapter_.Bind(number, static_cast<uint16_t>(SimulatedAdapter::kSerial + number));
  const testsupport::ProcessCounts before = testsupport::CountProcess();
  {
    HeldDtms held;
    for (int i = 0; i < kHeld; ++i) {
      SCOPED_TRACE(i);
      tag = com::Bstr((L"HART DTM " + std::to_wstring(i)).c_str());
      Configure();
      if (HasFatalFailure()) return;
      const bool online = i % 10 == 0;
      if (online) {
        ASSERT_EQ(S_OK, Write(hart_param::kDeviceNumber, UI1(static_cast<BYTE>(i / 10)).value()));
        VARIANT_BOOL ok = VARIANT_FALSE;
        ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
        ASSERT_EQ(VARIANT_TRUE, ok);
        ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
      }
      held.Add({dtm, base, online});
      ReleaseDtm();
    }
    // All of them still where they were taken.
    for (const HeldDtms::Dtm& dtm : held.All())
      EXPECT_EQ(dtm.online ? kDtmOnline : kDtmConfigured, HeldDtms::StateOf(dtm));
    held.ShutDownAll();
  }
  ASSERT_TRUE(ModuleUnloads());
  const testsupport::ProcessCounts after = testsupport::CountProcess();
  EXPECT_LE(after.threads, before.threads + kThreadSlack);
  EXPECT_LE(after.handles, before.handles + kHandleSlack);
}

// A frame on a thread of its own drops its DTM while the DTM is online and
// its channel's worker is held in a call to the frame (the answer of a
// topology scan). The channel's worker ends only once the call returns,
// and then lets the channel go itself. The frame waits, serving nothing,
// until the other frame has dropped its DTM too, lets the held call
// return, and serves its messages until nothing keeps the module loaded.
struct DroppingFrame {
  int number = 0;           // device number of the DTM's adapter
  HANDLE dropped[2] = {};   // this frame's first
  HANDLE answer = nullptr;  // set: held calls return
};

void DropOnlineDtm(DroppingFrame* frame) {
  struct Signal {  // also when the frame failed before it dropped its DTM
    HANDLE event;
    ~Signal() { ::SetEvent(event); }
  } signal{frame->dropped[0]};
  frame_double::ControlFrame* frameDouble = nullptr;
  com::ComPtr<IUnknown> frameObject = frame_double::createControlFrame(&frameDouble);
  ASSERT_TRUE(frameDouble);
  frameDouble->setAgile(true);
  const HANDLE answer = frame->answer;
  frameDouble->duringNextCall("OnScanResponse", [answer] { ::WaitForSingleObject(answer, 60000); });
  {
    CLSID clsid = {};
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(hart_dtm::kVersionIndependentProgId, &clsid));
    com::ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, object.createInstance(clsid, nullptr, CLSCTX_INPROC_SERVER));
    com::ComPtr<IDtm> dtm;
    com::ComPtr<IevFdtBaseDTM> base;
    com::ComPtr<IevFdtParameterHandler4> parameters;
    com::ComPtr<IPersistStreamInit> persist;
    com::ComPtr<IDtmChannel> channels;
    ASSERT_EQ(S_OK, object.as(dtm));
    ASSERT_EQ(S_OK, object.as(base));
    ASSERT_EQ(S_OK, object.as(parameters));
    ASSERT_EQ(S_OK, object.as(persist));
    ASSERT_EQ(S_OK, object.as(channels));
    ASSERT_EQ(S_OK, persist->InitNew());
    VARIANT_BOOL ok = VARIANT_FALSE;
    com::Bstr tag((L"HART DTM on device number " + std::to_wstring(frame->number)).c_str());
    ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
    com::Bstr deviceType(DeviceTypeDocument(L"FSK Mavix").c_str());
    ASSERT_EQ(S_OK, dtm->InitNewDeviceType(deviceType.get(), &ok));
    com::Bstr user(UserInformation(L"maintenance").c_str());
    ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
    ASSERT_EQ(S_OK, parameters->WriteParameter(*com::ui4(hart_param::kDeviceNumber).get(),
                                               *UI1(static_cast<BYTE>(frame->number)).get()));
    ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
    ASSERT_EQ(VARIANT_TRUE, ok);
    ASSERT_TRUE(PumpUntil([&] {
      long state = 0;
      base->GetDtmState(&state);
      return state == kDtmOnline;
    }));

    com::ComPtr<IFdtChannelCollection> collection;
    ASSERT_EQ(S_OK, channels->GetChannelCollection(collection.put()));
    com::Variant first(LONG{1});
    com::ComPtr<IDispatch> item;
    ASSERT_EQ(S_OK, collection->get_Item(first.get(), item.put()));
    com::ComPtr<IFdtChannelSubTopology> topology;
    ASSERT_EQ(S_OK, item.as(topology));
    com::Bstr invokeId(L"{2F1B6C0E-7D3A-4B59-9E21-8A4C6D0F3B17}");
    ASSERT_EQ(S_OK, topology->ScanRequest(invokeId.get(), &ok));
    ASSERT_EQ(VARIANT_TRUE, ok);
    ASSERT_TRUE(frameDouble->waitForCalls("OnScanResponse", 1, 60000));
    ASSERT_NE(::GetCurrentThreadId(), frameDouble->callsTo("OnScanResponse")[0].threadId)
        << "the channel's worker must be the one held";
  }
  ::SetEvent(frame->dropped[0]);
  ::WaitForMultipleObjects(2, frame->dropped, TRUE, 60000);
  ::SetEvent(frame->answer);
  using CanUnload = HRESULT(WINAPI*)();
  auto canUnload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(hart_dtm::kModuleFileName), "DllCanUnloadNow")));
  ASSERT_TRUE(canUnload);
  EXPECT_TRUE(PumpUntil([&] { return canUnload() == S_OK; }, 30000))
      << "an object of the module stays, on device number " << frame->number;
}

DWORD WINAPI DroppingFrameThread(void* context) {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  DropOnlineDtm(static_cast<DroppingFrame*>(context));
  ::CoUninitialize();
  return 0;
}

// Two frames on two threads drop their online DTMs at the same time. Timers
// of the two threads may share an id (under Wine they do); each DTM and its
// channel go all the same, and the module unloads.
TEST_F(InstanceLifecycleTest, OnlineDtmsDroppedOnTwoThreadsAtOnceBothGo) {
  adapter_.Bind(1, static_cast<uint16_t>(SimulatedAdapter::kSerial + 1));
  for (uint16_t serial : {SimulatedAdapter::kSerial, static_cast<uint16_t>(SimulatedAdapter::kSerial + 1)})
    ASSERT_TRUE(SimSetLineTiming(serial, 0, 1));  // silence at once: a quick scan
  win32::UniqueHandle dropped[2] = {win32::UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
                                    win32::UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr))};
  win32::UniqueHandle answer(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  DroppingFrame frames[2];
  win32::UniqueHandle threads[2];
  for (int i = 0; i < 2; ++i) {
    frames[i].number = i;
    frames[i].dropped[0] = dropped[i].get();
    frames[i].dropped[1] = dropped[1 - i].get();
    frames[i].answer = answer.get();
    threads[i].reset(::CreateThread(nullptr, 0, &DroppingFrameThread, &frames[i], 0, nullptr));
    ASSERT_TRUE(threads[i]);
  }
  HANDLE both[2] = {threads[0].get(), threads[1].get()};
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForMultipleObjects(2, both, TRUE, 180000));
  EXPECT_TRUE(ModuleUnloads());
}

// Each instance has a worker thread of its own; every tenth also goes
// online, which starts the channel's worker and the library's threads.
TEST_F(InstanceLifecycleTest, HundredsOfInstancesInOneProcessGiveBackTheirThreadsAndHandles) {
  constexpr int kInstances = 250;
  RunOneInstance(0, true);
  if (HasFatalFailure()) return;
  const testsupport::ProcessCounts before = testsupport::CountProcess();
  for (int i = 1; i < kInstances; ++i) {
    RunOneInstance(i, i % 10 == 0);
    if (HasFatalFailure()) return;
  }
  const testsupport::ProcessCounts after = testsupport::CountProcess();
  EXPECT_LE(after.threads, before.threads + kThreadSlack) << before.threads;
  EXPECT_LE(after.handles, before.handles + kHandleSlack) << before.handles;
}

// A frame that lets go of an online DTM while its channel scans the bus: the
// channel must not live on until the scan has polled every address.
class ReleaseDuringScanTest : public BoundAdapterFixture {
 protected:
  // Online on device number 0, scanning addresses 0 to 63 on a line where
  // each address is answered "no answer" after a second (parameter 1005
  // set).
  void ScanOnline() {
    BindDeviceNumber(0);
    ASSERT_TRUE(SimSetLineTiming(kSerial, 0, 1000));
    Configure();
    ASSERT_EQ(S_OK, Write(hart_param::kMaxScanAddress, *UI1(63).get()));
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
    ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
    com::ComPtr<IUnknown> channel = HartChannel();
    ASSERT_TRUE(channel);
    com::ComPtr<IHART_Channel> scanner;
    ASSERT_EQ(S_OK, scanner.queryFrom(channel.get()));
    ASSERT_EQ(S_OK, scanner->StartScan());
    ASSERT_TRUE(PumpUntil([&] {
      const com::Variant active = Read(hart_param::kScanActive);
      return active.type() == VT_BOOL && V_BOOL(active.get()) != VARIANT_FALSE;
    }));
  }
};

// The scan would run for more than a minute.
TEST_F(ReleaseDuringScanTest, TheModuleUnloadsLongBeforeTheScanWouldHaveEnded) {
  ScanOnline();
  ReleaseDtm();
  // ModuleUnloads gives up after 30 s, half the scan's time.
  EXPECT_TRUE(ModuleUnloads()) << "the channel scans on";
}

}  // namespace
}  // namespace hartdtmtest
