// Burst subscriptions (FDT 1.2.1): the burst-mode check, burst frames to a
// subscriber until it unsubscribes, and the refusals.
#include "channel_fixture.h"

#include "com/Bstr.h"
#include "com/Variant.h"
#include "hart/frame.h"
#include "message_pump.h"
#include "toolkit/values/message_wait.h"
#include "win32/unique_handle.h"

namespace channeltest {
namespace {

using devicedtm_double::Answer;
using devicedtm_double::DeviceDtm;

class ChannelBurstTest : public ChannelTest {
 protected:
  void StartFdt121(SimFieldDevice device) {
    ASSERT_TRUE(SimAddFieldDevice(serial_, &device));
    device_ = device;
    MakeChannel();
    ASSERT_EQ(S_OK, Start());
    com::Variant key(10006), version(1);
    ASSERT_EQ(S_OK, base_->PostChannelEvent(key.value(), version.value()));
  }
  SimFieldDevice Device(uint8_t burstMode) {
    SimFieldDevice d;
    SimInitFieldDevice(&d);
    d.pollingAddress = 2;
    d.deviceId = 0x00BEEF;
    d.hartRevision = 7;
    d.burstMode = burstMode;
    d.burstCommand = 1;
    return d;
  }
  std::wstring Subscribe(DeviceDtm* dtm, IChildCommunicationEvents* callback, unsigned invoke) {
    const std::wstring reference = ConnectAndWait(dtm, callback, 2, invoke);
    EXPECT_TRUE(Transact(invoke + 1, SubscribeDocument(reference, true)));
    return reference;
  }
  SimFieldDevice device_{};
};

TEST_F(ChannelBurstTest, BurstFramesReachTheSubscriberUntilItUnsubscribes) {
  StartFdt121(Device(1));
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, true);
  const std::wstring reference = Subscribe(dtm, callback.get(), 1);
  const Answer subscribed = WaitAnswer(dtm, 2);
  EXPECT_NE(std::wstring::npos, subscribed.document.find(L"<SubscribeResponse communicationReference=\"" +
                                                         reference + L"\" burstModeDetected=\"1\" />"));
  const uint8_t data[] = {0x07, 0x41, 0x20, 0x00, 0x00};
  ASSERT_TRUE(SimQueueBurst(serial_, device_.deviceId, 1, data, sizeof data));
  const Answer burst = WaitAnswer(dtm, 3);
  EXPECT_EQ("OnTransactionResponse", burst.method);
  EXPECT_EQ(InvokeId(2), burst.invokeId);  // the subscribe request's
  EXPECT_NE(std::wstring::npos, burst.document.find(L"burstFrame=\"1\""));
  EXPECT_EQ(L"0741200000", Attribute(burst.document, L"byteArray"));
  EXPECT_EQ(reference, Attribute(burst.document, L"communicationReference"));

  // A second subscribe is refused; a disconnect while subscribed is busy.
  ASSERT_TRUE(Transact(3, SubscribeDocument(reference, true)));
  EXPECT_EQ(L"you are already subscribed! (error 0xFFFFFFFF)", Attribute(WaitAnswer(dtm, 4).document, L"descriptor"));
  com::Bstr id(InvokeId(4).c_str()), doc(DisconnectDocument(reference).c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, communication_->DisconnectRequest(id.get(), doc.get(), &queued));
  const Answer busy = WaitAnswer(dtm, 5);
  EXPECT_EQ(L"busy", Attribute(busy.document, L"communicationError"));
  EXPECT_EQ(L"you are still subscribed! (error 0xFFFFFFFF)", Attribute(busy.document, L"descriptor"));

  ASSERT_TRUE(Transact(5, SubscribeDocument(reference, false)));
  EXPECT_NE(std::wstring::npos, WaitAnswer(dtm, 6).document.find(L"<UnsubscribeResponse"));
  ASSERT_TRUE(SimQueueBurst(serial_, device_.deviceId, 1, data, sizeof data));
  // Behind the burst frame, a transaction's answer: nothing came in between.
  ASSERT_TRUE(Transact(6, DataExchangeDocument(reference, 0)));
  const Answer last = WaitAnswer(dtm, 7);
  EXPECT_EQ(InvokeId(6), last.invokeId);
  EXPECT_EQ(7u, dtm->answerCount());
  ASSERT_TRUE(Transact(7, SubscribeDocument(reference, false)));
  EXPECT_EQ(L"noPendingRequest", Attribute(WaitAnswer(dtm, 8).document, L"communicationError"));
}

// The burst-mode control code is the first data byte of the command 105
// answer, not the response code in front of it.
TEST_F(ChannelBurstTest, BurstModeIsReadFromTheControlCodeOfCommand105) {
  StartFdt121(Device(0));
  const uint8_t off[] = {0x00, 31, 250, 250, 250, 250, 250, 250, 250, 250, 0, 1, 0, 1};
  const uint8_t on[] = {0x01, 31, 250, 250, 250, 250, 250, 250, 250, 250, 0, 1, 0, 1};
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, true);
  // Response code 1 in front of control code 0: not in burst mode.
  ASSERT_TRUE(SimSetAnswer(serial_, device_.deviceId, 105, 1, off, sizeof off));
  const std::wstring reference = Subscribe(dtm, callback.get(), 1);
  EXPECT_EQ(L"0", Attribute(WaitAnswer(dtm, 2).document, L"burstModeDetected"));
  ASSERT_TRUE(Transact(3, SubscribeDocument(reference, false)));
  WaitAnswer(dtm, 3);
  // Response code 0 in front of control code 1: in burst mode.
  ASSERT_TRUE(SimSetAnswer(serial_, device_.deviceId, 105, 0, on, sizeof on));
  ASSERT_TRUE(Transact(4, SubscribeDocument(reference, true)));
  EXPECT_EQ(L"1", Attribute(WaitAnswer(dtm, 4).document, L"burstModeDetected"));
  ASSERT_TRUE(Transact(5, SubscribeDocument(reference, false)));
  WaitAnswer(dtm, 5);
}

TEST_F(ChannelBurstTest, AnFdt12DeviceDtmCannotSubscribe) {
  StartFdt121(Device(1));
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 2, 1);
  ASSERT_TRUE(Transact(2, SubscribeDocument(reference, true)));
  const Answer answer = WaitAnswer(dtm, 2);
  EXPECT_EQ(L"notSupportedFeature", Attribute(answer.document, L"communicationError"));
  EXPECT_EQ(L"not detected as FDT 1.2.1! (error 0xFFFFFFFF)", Attribute(answer.document, L"descriptor"));
}

// A device older than revision 6 has no command 105: its burst mode shows
// in burst frames of its own, seen lately or within five seconds. Only a
// burst frame counts: an answer frame of the same address handed over as
// a burst does not.
TEST_F(ChannelBurstTest, ARevision5DeviceIsInBurstModeWhenItsBurstFramesAreSeen) {
  SimFieldDevice device = Device(0);
  device.hartRevision = 5;
  StartFdt121(device);
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, true);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 2, 1);
  ASSERT_EQ(36u, reference.size());

  hart::Frame notBurst;
  notBurst.type = hart::FrameType::Answer;
  notBurst.longAddress = true;
  notBurst.address = hart::MakeLongAddress(device.manufacturerId, device.deviceType, device.deviceId);
  notBurst.command = 1;
  notBurst.data = {0x07, 0x41, 0x20, 0x00, 0x00};
  std::vector<uint8_t> bytes;
  ASSERT_EQ(hart::FrameError::None, hart::BuildFrame(notBurst, bytes));
  ASSERT_TRUE(SimQueueReply(serial_, SIM_KIND_BURST, bytes.data(), static_cast<uint32_t>(bytes.size())));
  // A transaction behind it: the channel has handed the reply over by its answer.
  ASSERT_TRUE(Transact(2, DataExchangeDocument(reference, 0)));
  WaitAnswer(dtm, 2);
  ASSERT_TRUE(Transact(3, SubscribeDocument(reference, true)));
  EXPECT_EQ(L"0", Attribute(WaitAnswer(dtm, 3).document, L"burstModeDetected"));
  ASSERT_TRUE(Transact(4, SubscribeDocument(reference, false)));
  WaitAnswer(dtm, 4);

  const uint8_t data[] = {0x07, 0x41, 0x20, 0x00, 0x00};
  ASSERT_TRUE(SimQueueBurst(serial_, device.deviceId, 1, data, sizeof data));
  ASSERT_TRUE(Transact(5, DataExchangeDocument(reference, 0)));
  WaitAnswer(dtm, 5);
  ASSERT_TRUE(Transact(6, SubscribeDocument(reference, true)));
  EXPECT_EQ(L"1", Attribute(WaitAnswer(dtm, 6).document, L"burstModeDetected"));
  ASSERT_TRUE(Transact(7, SubscribeDocument(reference, false)));
  WaitAnswer(dtm, 7);
}

// The burst-mode check of a device older than revision 6 waits five seconds
// for a burst frame (this device sends none). Requests queued behind it
// wait their turn and are answered in their order after the subscribe's
// answer: a topology scan does not run inside the check, a transaction is
// answered after the subscribe, and a second subscribe finds the first
// one done.
TEST_F(ChannelBurstTest, RequestsBehindARevision5BurstCheckWaitTheirTurn) {
  SimFieldDevice device = Device(0);
  device.hartRevision = 5;
  StartFdt121(device);
  owner_->setState(12);
  ASSERT_TRUE(SimSetLineTiming(serial_, 0, 1));  // the scan's silent addresses end after 1 ms
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, true);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 2, 1);
  ASSERT_EQ(36u, reference.size());
  ASSERT_TRUE(Transact(2, SubscribeDocument(reference, true)));
  com::ComPtr<IFdtChannelSubTopology> topology;
  ASSERT_EQ(S_OK, base_.as(topology));
  com::Bstr scan(InvokeId(3).c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, topology->ScanRequest(scan.get(), &queued));
  ASSERT_EQ(VARIANT_TRUE, queued);
  ASSERT_TRUE(Transact(4, DataExchangeDocument(reference, 0)));
  ASSERT_TRUE(Transact(5, SubscribeDocument(reference, true)));

  ASSERT_TRUE(frame_->waitForCalls("OnScanResponse", 1, 30000));
  ASSERT_LE(2u, dtm->answerCount()) << "the scan ran inside the burst check";
  const Answer subscribed = dtm->answers()[1];
  EXPECT_EQ(InvokeId(2), subscribed.invokeId);
  EXPECT_EQ(L"0", Attribute(subscribed.document, L"burstModeDetected")) << subscribed.document;
  const Answer transaction = WaitAnswer(dtm, 3);
  EXPECT_EQ(InvokeId(4), transaction.invokeId);
  EXPECT_NE(std::wstring::npos, transaction.document.find(L"<DataExchangeResponse"));
  const Answer second = WaitAnswer(dtm, 4);
  EXPECT_EQ(InvokeId(5), second.invokeId);
  EXPECT_EQ(L"you are already subscribed! (error 0xFFFFFFFF)", Attribute(second.document, L"descriptor"));
  ASSERT_TRUE(Transact(6, SubscribeDocument(reference, false)));
  EXPECT_NE(std::wstring::npos, WaitAnswer(dtm, 5).document.find(L"<UnsubscribeResponse"));
}

// A disconnect of the connection whose check runs does not wait for it: the
// check ends, the subscribe is answered as aborted and subscribes nothing,
// the transaction queued before the disconnect is answered, and the
// disconnect closes the connection. A transaction queued behind the
// disconnect never reaches the adapter; another device DTM's request
// behind it is served.
TEST_F(ChannelBurstTest, ADisconnectEndsTheBurstCheckOfItsConnection) {
  AddDevice(3, 0x000333, 7);
  SimFieldDevice device = Device(0);
  device.hartRevision = 5;
  StartFdt121(device);
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, true);
  DeviceDtm* other = nullptr;
  auto otherCallback = NewDeviceDtm(&other, true);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 2, 1);
  const std::wstring otherReference = ConnectAndWait(other, otherCallback.get(), 3, 2);
  ASSERT_EQ(36u, otherReference.size());
  const uint32_t sent = AdapterState().framesSent;

  ASSERT_TRUE(Transact(3, SubscribeDocument(reference, true)));
  ASSERT_TRUE(Transact(4, DataExchangeDocument(reference, 0)));
  com::Bstr id(InvokeId(5).c_str()), doc(DisconnectDocument(reference).c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, communication_->DisconnectRequest(id.get(), doc.get(), &queued));
  ASSERT_EQ(VARIANT_TRUE, queued);
  ASSERT_TRUE(Transact(6, DataExchangeDocument(reference, 0)));
  ASSERT_TRUE(Transact(7, DataExchangeDocument(otherReference, 0)));

  const Answer subscribe = WaitAnswer(dtm, 2);
  EXPECT_EQ(InvokeId(3), subscribe.invokeId);
  EXPECT_EQ(L"abort", Attribute(subscribe.document, L"communicationError")) << subscribe.document;
  const Answer transaction = WaitAnswer(dtm, 3);
  EXPECT_EQ(InvokeId(4), transaction.invokeId);
  EXPECT_NE(std::wstring::npos, transaction.document.find(L"<DataExchangeResponse"));
  const Answer disconnect = WaitAnswer(dtm, 4);
  EXPECT_EQ("OnDisconnectResponse", disconnect.method);
  EXPECT_EQ(InvokeId(5), disconnect.invokeId);
  EXPECT_NE(std::wstring::npos, disconnect.document.find(L"<DisconnectResponse")) << disconnect.document;
  EXPECT_EQ(InvokeId(7), WaitAnswer(other, 2).invokeId);
  EXPECT_EQ(4u, dtm->answerCount());
  EXPECT_EQ(sent + 2, AdapterState().framesSent) << "only the two transactions of open connections were sent";
}

// The DTM releasing communication aborts every connection (event 9989)
// and then stops the channel. The abort ends a running check at once and
// keeps its place: the subscribe is answered as aborted, the transaction
// queued before the abort is answered, then every connection gets its
// abort notice; a transaction queued behind the abort never reaches the
// adapter, and the channel stops.
TEST_F(ChannelBurstTest, AReleaseOfCommunicationEndsTheBurstCheckInItsOrder) {
  SimFieldDevice device = Device(0);
  device.hartRevision = 5;
  StartFdt121(device);
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, true);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 2, 1);
  const uint32_t sent = AdapterState().framesSent;

  ASSERT_TRUE(Transact(2, SubscribeDocument(reference, true)));
  ASSERT_TRUE(Transact(3, DataExchangeDocument(reference, 0)));
  win32::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  com::Variant key(9989);
  com::Variant handle;
  handle.get()->vt = VT_UI4;
  handle.get()->ulVal = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(done.get()));
  ASSERT_EQ(S_OK, base_->ChannelRequest(key.value(), handle.value()));
  Transact(4, DataExchangeDocument(reference, 0));  // taken, or refused once the abort has run

  ASSERT_EQ(1, WaitOneWithMessageLoop(done.get(), 20000));
  const Answer subscribe = WaitAnswer(dtm, 2);
  EXPECT_EQ(InvokeId(2), subscribe.invokeId);
  EXPECT_EQ(L"abort", Attribute(subscribe.document, L"communicationError")) << subscribe.document;
  const Answer transaction = WaitAnswer(dtm, 3);
  EXPECT_EQ(InvokeId(3), transaction.invokeId);
  EXPECT_NE(std::wstring::npos, transaction.document.find(L"<DataExchangeResponse"));
  const Answer aborted = WaitAnswer(dtm, 4);
  EXPECT_EQ("OnAbort", aborted.method);
  EXPECT_EQ(reference, aborted.invokeId);
  EXPECT_EQ(4u, dtm->answerCount());
  EXPECT_EQ(sent + 1, AdapterState().framesSent);
  VARIANT_BOOL stopped = VARIANT_FALSE;
  EXPECT_EQ(S_OK, base_->StopWorker(&stopped));
  EXPECT_EQ(VARIANT_TRUE, stopped);
}

// The DTM going away during the check ends it at once. The subscribe is
// still answered, as aborted, and so is the transaction behind it (its
// answer wait ends at once too); then the worker ends.
TEST_F(ChannelBurstTest, TheBurstCheckEndsWhenTheWorkerIsToldToEnd) {
  SimFieldDevice device = Device(0);
  device.hartRevision = 5;
  StartFdt121(device);
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, true);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 2, 1);
  ASSERT_TRUE(Transact(2, SubscribeDocument(reference, true)));
  ASSERT_TRUE(Transact(3, DataExchangeDocument(reference, 0)));

  win32::UniqueHandle worker(::OpenThread(SYNCHRONIZE, FALSE, channel_->WorkerThreadId()));
  ASSERT_TRUE(worker.valid());
  channel_->OwnerGone();
  const Answer subscribe = WaitAnswer(dtm, 2);
  EXPECT_EQ(InvokeId(2), subscribe.invokeId);
  EXPECT_EQ(L"abort", Attribute(subscribe.document, L"communicationError")) << subscribe.document;
  EXPECT_EQ(L"FSK Mavix - HART Channel", Attribute(subscribe.document, L"tag"));
  const Answer transaction = WaitAnswer(dtm, 3);
  EXPECT_EQ(InvokeId(3), transaction.invokeId);
  EXPECT_FALSE(Attribute(transaction.document, L"communicationError").empty()) << transaction.document;
  const HANDLE thread = worker.get();
  ASSERT_TRUE(testsupport::PumpUntil([&] { return ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 30000));
  EXPECT_EQ(3u, dtm->answerCount());
}

}  // namespace
}  // namespace channeltest
