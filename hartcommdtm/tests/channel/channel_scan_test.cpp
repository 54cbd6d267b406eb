// The device-list scan, the topology scan, the found-device readers and the
// address change of the channel, end to end against the simulated adapter.
// Addresses nobody answers get the adapter's no-answer status after 1 ms,
// so that a scan does not wait out the channel's own receive time-out.
#include "channel_scan_support.h"

#include "com/Bstr.h"
#include "message_pump.h"
#include "win32/unique_handle.h"

namespace channeltest {
namespace {

using devicedtm_double::DeviceDtm;

constexpr HRESULT kTargetTaken = static_cast<HRESULT>(0xD0120001);
constexpr HRESULT kNoSource = static_cast<HRESULT>(0xD0120002);
constexpr HRESULT kFrameFailed = static_cast<HRESULT>(0xD0120003);
constexpr HRESULT kNoAnswerAtTarget = static_cast<HRESULT>(0xD0120004);
constexpr HRESULT kInUse = static_cast<HRESULT>(0xD0120005);

class ChannelScanTest : public ScanTest {};

TEST_F(ChannelScanTest, DeviceListScanFindsExactlyTheSimulatedDevicesWithProgress) {
  const SimFieldDevice d0 = AddDevice(0, 0x000101, 5);
  const SimFieldDevice d3 = AddDevice(3, 0x000303, 7);
  AddDevice(15, 0x001515, 6);
  AddDevice(16, 0x001616, 7);  // above the maximum scan address 15
  StartQuickChannel();
  const double stampBefore = OwnerR8(hartdtm::kParLastScanTime);
  const double started = hartdtm::CurrentVariantTime();
  ASSERT_TRUE(RunDeviceListScan());
  const double ended = hartdtm::CurrentVariantTime();

  long count = 0;
  ASSERT_EQ(S_OK, hart_->GetNumberOfDevices(&count));
  EXPECT_EQ(3, count);
  // The scan that found them stamped its time.
  const double stamp = OwnerR8(hartdtm::kParLastScanTime);
  EXPECT_NE(stampBefore, stamp);
  EXPECT_TRUE(stamp >= started && stamp <= ended) << stamp << " outside " << started << ".." << ended;
  EXPECT_EQ((std::vector<uint8_t>{0, 3, 15}), FoundAddresses());
  EXPECT_EQ(PollRange(0, 15), PolledAddresses());

  // Progress counts against 64 addresses while running, then 100.
  const auto progress = owner_->progress();
  ASSERT_EQ(17u, progress.size());
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(static_cast<long>(100 * (i + 1) / 64), progress[i].percent);
    EXPECT_TRUE(progress[i].running);
    EXPECT_TRUE(progress[i].scanActive);
    EXPECT_EQ(L"Scanning...", progress[i].text);
  }
  EXPECT_EQ(25, progress[15].percent);
  EXPECT_EQ(100, progress[16].percent);
  EXPECT_FALSE(progress[16].running);
  EXPECT_EQ(0u, OwnerUi4(hartdtm::kParScanActive));

  // The done event reports one finish only.
  long finished = 1, devices = 1;
  EXPECT_EQ(S_OK, hart_->IsScanFinished(&finished, &devices));
  EXPECT_EQ(0, finished);
  EXPECT_EQ(0, devices);
  EXPECT_EQ(E_INVALIDARG, hart_->IsScanFinished(nullptr, &devices));

  // Readers: one found device, positions past the end and above 63.
  DeviceInfo info;
  ASSERT_EQ(S_OK, GetInfo(1, &info));
  EXPECT_EQ(3, info.address);
  EXPECT_EQ(0, info.inUse);
  EXPECT_EQ(static_cast<long>(d3.deviceId), info.deviceId);
  EXPECT_EQ(d3.deviceType, info.deviceType);
  EXPECT_EQ(std::wstring(d3.longTag, d3.longTag + strlen(d3.longTag)), info.tag);
  ASSERT_EQ(S_OK, GetInfo(0, &info));
  EXPECT_EQ(8u, info.tag.size());  // command 13 of a revision-5 device
  EXPECT_EQ(static_cast<long>(d0.deviceId), info.deviceId);
  EXPECT_EQ(E_FAIL, GetInfo(3, &info));
  EXPECT_EQ(E_INVALIDARG, GetInfo(64, &info));
  EXPECT_EQ(E_INVALIDARG, GetInfo(-1, &info));
  EXPECT_EQ(E_INVALIDARG, hart_->GetNumberOfDevices(nullptr));

  com::Bstr name;
  ASSERT_EQ(S_OK, hart_->GetChannelName(name.put()));
  EXPECT_EQ(L"HART", std::wstring(name.c_str()));
}

TEST_F(ChannelScanTest, ScanStopsBeforeTheNextAddressAndIsBoundedBy63) {
  AddDevice(1, 0x000101, 7);
  AddDevice(40, 0x004040, 7);
  StartQuickChannel(200);
  ASSERT_TRUE(RunDeviceListScan());
  EXPECT_EQ(PollRange(0, 63), PolledAddresses());
  EXPECT_EQ((std::vector<uint8_t>{1, 40}), FoundAddresses());
  EXPECT_EQ(100, owner_->progress()[63].percent);

  // Stopped while address 2 is reported: 2 is still polled, 3 is not.
  ClearLog();
  owner_->clearProgress();
  owner_->onProgress([this](const ChannelOwner::Progress& p) {
    if (p.running && p.percent == 100 * 3 / 64) hart_->StopScan();
  });
  ASSERT_TRUE(RunDeviceListScan());
  EXPECT_EQ(PollRange(0, 2), PolledAddresses());
  EXPECT_EQ((std::vector<uint8_t>{1}), FoundAddresses());
  EXPECT_FALSE(owner_->progress().back().running);
  EXPECT_EQ(0u, OwnerUi4(hartdtm::kParScanActive));
}

TEST_F(ChannelScanTest, TopologyScanAnswersWithTheFoundDevices) {
  StartQuickChannel();
  com::ComPtr<IFdtChannelSubTopology> topology;
  ASSERT_EQ(S_OK, base_.as(topology));
  com::Bstr id(InvokeId(7).c_str()), bad(L"not-a-guid");
  VARIANT_BOOL queued = VARIANT_TRUE;
  EXPECT_EQ(E_INVALIDARG, topology->ScanRequest(id.get(), nullptr));
  EXPECT_EQ(S_FALSE, topology->ScanRequest(bad.get(), &queued));
  EXPECT_EQ(VARIANT_FALSE, queued);
  owner_->setState(8);
  EXPECT_EQ(S_FALSE, topology->ScanRequest(id.get(), &queued));
  owner_->setState(12);

  // Nobody on the line: the document's content is one space.
  ASSERT_EQ(S_OK, topology->ScanRequest(id.get(), &queued));
  EXPECT_EQ(VARIANT_TRUE, queued);
  ASSERT_TRUE(frame_->waitForCalls("OnScanResponse", 1, 30000));
  auto calls = frame_->callsTo("OnScanResponse");
  ASSERT_EQ(2u, calls[0].arguments.size());
  EXPECT_EQ(InvokeId(7), calls[0].arguments[0]);
  EXPECT_NE(std::wstring::npos, calls[0].arguments[1].find(L"FDTDataTypesSchema.xml\"> </TopologyScan>"));

  SimFieldDevice d = AddDevice(2, 0x0A0B0C, 7);
  std::snprintf(d.longTag, sizeof d.longTag, "%s", "Tank <1> & \"2\"");
  ASSERT_TRUE(SimAddFieldDevice(serial_, &d));
  ASSERT_EQ(S_OK, topology->ScanRequest(id.get(), &queued));
  ASSERT_TRUE(frame_->waitForCalls("OnScanResponse", 2, 30000));
  calls = frame_->callsTo("OnScanResponse");
  const std::wstring& doc = calls[1].arguments[1];
  EXPECT_NE(std::wstring::npos, doc.find(L"fdt:tag=\"Tank &lt;1&gt; &amp; &quot;2&quot;\" fdthart:shortAddress=\"2\">"
                                         L"<fdthart:LongAddress manufacturerId=\"38\" deviceTypeId=\"6\" "
                                         L"address1=\"10\" address2=\"11\" address3=\"12\" />"));
  EXPECT_EQ(0u, OwnerUi4(hartdtm::kParScanActive));
}

TEST_F(ChannelScanTest, AddressChangeReachesEveryResultCode) {
  const SimFieldDevice a = AddDevice(1, 0x000011, 7);
  const SimFieldDevice b = AddDevice(2, 0x000022, 7);
  const SimFieldDevice c = AddDevice(4, 0x000044, 7);
  StartQuickChannel();
  ASSERT_TRUE(RunDeviceListScan());

  EXPECT_EQ(E_INVALIDARG, hart_->ChangeAddress(64, 1));
  EXPECT_EQ(E_INVALIDARG, hart_->ChangeAddress(1, 64));
  EXPECT_EQ(kTargetTaken, hart_->ChangeAddress(1, 1));
  EXPECT_EQ(kTargetTaken, hart_->ChangeAddress(1, 2));
  EXPECT_EQ(kNoSource, hart_->ChangeAddress(9, 10));

  // The change stamps the scan time (cleared here, so that the scan's own
  // stamp does not count).
  com::Variant never;
  never.get()->vt = VT_R8;
  never.get()->dblVal = 0;
  ASSERT_EQ(S_OK, owner_->set(hartdtm::kParLastScanTime, never.value()));
  ASSERT_EQ(S_OK, hart_->ChangeAddress(1, 7));
  EXPECT_EQ(7, FieldDevice(a.deviceId).pollingAddress);
  EXPECT_EQ((std::vector<uint8_t>{7, 2, 4}), FoundAddresses());
  EXPECT_GT(OwnerR8(hartdtm::kParLastScanTime), 0.0);

  ASSERT_TRUE(SimSetNoAnswer(serial_, b.deviceId, 6));
  EXPECT_EQ(kFrameFailed, hart_->ChangeAddress(2, 8));
  EXPECT_EQ(2, FieldDevice(b.deviceId).pollingAddress);

  // Answers command 6 but stays where it is.
  const uint8_t nine = 9;
  ASSERT_TRUE(SimSetAnswer(serial_, c.deviceId, 6, 0, &nine, 1));
  EXPECT_EQ(kNoAnswerAtTarget, hart_->ChangeAddress(4, 9));
  EXPECT_EQ((std::vector<uint8_t>{7, 2, 4}), FoundAddresses());

  // A device held by a connection is not moved; no command 6 goes out.
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  ASSERT_FALSE(ConnectAndWait(dtm, callback.get(), 7, 1).empty());
  const size_t command6Before = CountSentCommand(6);
  EXPECT_EQ(kInUse, hart_->ChangeAddress(7, 12));
  EXPECT_EQ(command6Before, CountSentCommand(6));
  DeviceInfo info;
  ASSERT_EQ(S_OK, GetInfo(0, &info));
  EXPECT_EQ(1, info.inUse);
}

TEST_F(ChannelScanTest, AddressChangeWaitsForARunningScanOnTheWorker) {
  const SimFieldDevice a = AddDevice(1, 0x000011, 7);
  StartQuickChannel();
  ASSERT_EQ(S_OK, hart_->StartScan());
  // Posted behind the scan: it runs when the scan has ended, never beside it.
  ASSERT_EQ(S_OK, hart_->ChangeAddress(1, 20));
  std::vector<uint8_t> expected = PollRange(0, 15);
  expected.insert(expected.end(), {20, 1, 20});
  EXPECT_EQ(expected, PolledAddresses());
  EXPECT_EQ(20, FieldDevice(a.deviceId).pollingAddress);
  EXPECT_TRUE(WaitScanFinished());
  EXPECT_EQ((std::vector<uint8_t>{20}), FoundAddresses());
}

TEST_F(ChannelScanTest, WithoutAWorkerNothingIsPretended) {
  MakeChannel();
  com::ComPtr<IHART_Channel> hart;
  ASSERT_EQ(S_OK, base_.as(hart));
  EXPECT_EQ(E_UNEXPECTED, hart->StartScan());
  EXPECT_EQ(kFrameFailed, hart->ChangeAddress(1, 2));
}

// The application quits while an address change waits for the worker: the
// wait goes on serving the calls the worker makes into this apartment, and
// the WM_QUIT is kept for the thread's own loop.
TEST_F(ChannelScanTest, AnAddressChangeEndsAlsoWhenTheApplicationQuitsMeanwhile) {
  const SimFieldDevice a = AddDevice(1, 0x000011, 7);
  StartQuickChannel();
  ASSERT_TRUE(::PostThreadMessageW(::GetCurrentThreadId(), WM_QUIT, 5, 0));
  EXPECT_EQ(S_OK, hart_->ChangeAddress(1, 7));
  EXPECT_EQ(7, FieldDevice(a.deviceId).pollingAddress);
  MSG msg;
  bool quit = false;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) quit = quit || (msg.message == WM_QUIT && msg.wParam == 5);
  EXPECT_TRUE(quit);
}

// Polling addresses 16 to 63 belong to devices of revision 6 and higher: a
// revision-5 device there is not taken, at a low address it is.
TEST_F(ChannelScanTest, ARevision5DeviceAboveAddress15IsNotTaken) {
  AddDevice(3, 0x000303, 5);
  AddDevice(20, 0x002020, 5);
  AddDevice(21, 0x002121, 6);
  StartQuickChannel(25);
  ASSERT_TRUE(RunDeviceListScan());
  EXPECT_EQ((std::vector<uint8_t>{3, 21}), FoundAddresses());
}

// Before the DTM is online (communication set) the worker is not running
// yet; a topology scan starts it.
TEST_F(ChannelScanTest, ATopologyScanBeforeOnlineStartsTheWorker) {
  AddDevice(2, 0x0A0B0C, 7);
  MakeChannel();
  ASSERT_TRUE(SimSetLineTiming(serial_, 0, 1));
  owner_->setState(9);
  ASSERT_FALSE(channel_->WorkerStarted());
  com::ComPtr<IFdtChannelSubTopology> topology;
  ASSERT_EQ(S_OK, base_.as(topology));
  com::Bstr id(InvokeId(3).c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, topology->ScanRequest(id.get(), &queued));
  EXPECT_EQ(VARIANT_TRUE, queued);
  ASSERT_TRUE(frame_->waitForCalls("OnScanResponse", 1, 30000));
  EXPECT_NE(std::wstring::npos,
            frame_->callsTo("OnScanResponse")[0].arguments.at(1).find(L"fdthart:shortAddress=\"2\""));
  EXPECT_TRUE(channel_->WorkerStarted());
  VARIANT_BOOL stopped = VARIANT_FALSE;
  EXPECT_EQ(S_OK, base_->StopWorker(&stopped));
  EXPECT_EQ(0u, AdapterState().openHandles);
}

// A long scan (64 addresses, each answered "no answer" only after a
// second) is no reason to hold whoever ends the worker: a stop, as the DTM's
// going offline or its release of the channels makes it, and the DTM's
// release while the scan runs both end the scan before its next address;
// the poll on the line does not wait for its answer either.
class LongScanTest : public ScanTest {
 protected:
  void StartLongScan() {
    AddDevice(0, 0x000101, 7);
    MakeChannel();
    SetOwnerByte(hartdtm::kParMaxScanAddress, 63);
    ASSERT_TRUE(SimSetLineTiming(serial_, 0, 1000));
    ASSERT_EQ(S_OK, Start());
    ASSERT_EQ(S_OK, base_.as(hart_));
    ClearLog();
    ASSERT_EQ(S_OK, hart_->StartScan());
    // On its way: the device at 0 found, address 1 on the line.
    ASSERT_TRUE(testsupport::PumpUntil([&] { return PolledAddresses().size() >= 2; }, 30000));
  }
};

TEST_F(LongScanTest, AStopEndsARunningScanBeforeItsNextAddress) {
  StartLongScan();
  VARIANT_BOOL stopped = VARIANT_FALSE;
  ASSERT_EQ(S_OK, base_->StopWorker(&stopped));
  EXPECT_EQ(VARIANT_TRUE, stopped);
  EXPECT_LT(PolledAddresses().size(), 64u) << "the scan ran to its end";
  EXPECT_EQ(0u, AdapterState().openHandles);
  // The scan ended as a stopped scan ends: reported finished, no longer
  // active.
  ASSERT_FALSE(owner_->progress().empty());
  EXPECT_FALSE(owner_->progress().back().running);
  EXPECT_EQ(0u, OwnerUi4(hartdtm::kParScanActive));
  long finished = 0, count = 0;
  EXPECT_EQ(S_OK, hart_->IsScanFinished(&finished, &count));
  EXPECT_EQ(1, finished);
  EXPECT_EQ(1, count);
}

TEST_F(LongScanTest, AnOwnerGoneDuringAScanLetsTheWorkerEndAtOnce) {
  StartLongScan();
  win32::UniqueHandle worker(::OpenThread(SYNCHRONIZE, FALSE, channel_->WorkerThreadId()));
  ASSERT_TRUE(worker.valid());
  channel_->OwnerGone();
  // A guard only, beyond the whole scan's time: the worker ends before the
  // scan's next address.
  const HANDLE thread = worker.get();
  ASSERT_TRUE(testsupport::PumpUntil([&] { return ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 90000));
  EXPECT_LT(PolledAddresses().size(), 64u) << "the scan ran to its end";
  EXPECT_EQ(0u, AdapterState().openHandles);
}

}  // namespace
}  // namespace channeltest
