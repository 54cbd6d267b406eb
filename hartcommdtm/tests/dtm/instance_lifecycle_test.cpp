// A frame opens and closes DTMs all day in one process: many HART DTM
// instances run through their life cycle one after the other, and what each
// took from the process comes back.
#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "process_counts.h"
#include "simulated_adapter.h"
#include "sim/sim_control.h"
#include "toolkit/dtm/dtm_states.h"

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
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (online) {
      ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
      ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
      ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
      ASSERT_EQ(VARIANT_TRUE, ok);
      ASSERT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
      ASSERT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
      ASSERT_EQ(VARIANT_TRUE, ok);
    }
    ASSERT_EQ(S_OK, dtm->ShutdownDtm(&ok));
    ASSERT_EQ(VARIANT_TRUE, ok);
    ReleaseDtm();
    ASSERT_TRUE(ModuleUnloads());
  }

  SimulatedAdapter adapter_;
};

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
