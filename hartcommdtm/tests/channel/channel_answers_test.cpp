// Every request gets its one answer: the reply the channel takes is the one
// to the frame it sent, whatever else comes off the line meanwhile; a
// device DTM that the worker cannot reach, and a connect whose DTM went
// away, are answered all the same.
#include "channel_scan_support.h"

#include "com/Bstr.h"
#include "hart/frame.h"
#include "message_pump.h"
#include "win32/unique_handle.h"

namespace channeltest {
namespace {

using devicedtm_double::Answer;
using devicedtm_double::DeviceDtm;

class ChannelAnswersTest : public ScanTest {
 protected:
  bool WaitFramesSent(uint32_t count) {
    for (int i = 0; i < 2000 && AdapterState().framesSent < count; ++i) ::Sleep(5);
    return AdapterState().framesSent >= count;
  }
  // Waits until the library has taken every reply the adapter holds and
  // handed it to the channel.
  void WaitRepliesDelivered() {
    for (int i = 0; i < 2000 && AdapterState().framesWaiting != 0; ++i) ::Sleep(5);
    ::Sleep(100);
  }
  bool QueueReply(uint8_t kind, const std::vector<uint8_t>& bytes) {
    return SimQueueReply(serial_, kind, bytes.data(), static_cast<uint32_t>(bytes.size())) != 0;
  }
};

// A request waited out with no reply; its status byte comes while the next
// request waits for its answer. The answer is what the next request gets.
TEST_F(ChannelAnswersTest, ALateStatusByteOfAnEarlierRequestDoesNotEndTheNextWait) {
  const SimFieldDevice d3 = AddDevice(3, 0x00ABCD, 7);
  MakeChannel();
  SetOwnerByte(hartdtm::kParRetryCount, 0);  // (0 + 1) * 2000 + 3500 ms
  ASSERT_EQ(S_OK, Start());
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 1);
  ASSERT_EQ(36u, reference.size());

  ASSERT_TRUE(SimSetNoAnswer(serial_, d3.deviceId, 131));
  ASSERT_TRUE(Transact(10, DataExchangeDocument(reference, 131)));
  EXPECT_EQ(L"timeout", Attribute(WaitAnswer(dtm, 2, 30000).document, L"communicationError"));

  const uint8_t data[] = {0x11, 0x22};
  ASSERT_TRUE(SimSetAnswer(serial_, d3.deviceId, 132, 0, data, sizeof data));
  ASSERT_TRUE(SimSetAnswerDelay(serial_, d3.deviceId, 1000));
  const uint32_t sent = AdapterState().framesSent;
  ASSERT_TRUE(Transact(11, DataExchangeDocument(reference, 132)));
  ASSERT_TRUE(WaitFramesSent(sent + 1));
  ASSERT_TRUE(QueueReply(SIM_KIND_STATUS, {SIM_STATUS_NO_ANSWER}));
  const Answer answer = WaitAnswer(dtm, 3);
  EXPECT_EQ(L"", Attribute(answer.document, L"communicationError")) << answer.document;
  EXPECT_EQ(L"1122", Attribute(answer.document, L"byteArray")) << answer.document;
}

// A short-frame answer whose bytes repeat the long request's header
// (06 A6 06 03 AB CD 03 against 82 A6 06 03 AB CD 03) comes first; the
// device's own answer is taken.
TEST_F(ChannelAnswersTest, AnAnswerInTheOtherAddressFormIsPassedOver) {
  const SimFieldDevice d = AddDevice(5, 0x03ABCD, 7);
  MakeChannel();
  ASSERT_EQ(S_OK, Start());
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 5, 1);
  ASSERT_EQ(36u, reference.size());

  const uint8_t data[] = {0x11, 0x22};
  ASSERT_TRUE(SimSetAnswer(serial_, d.deviceId, 3, 0, data, sizeof data));
  ASSERT_TRUE(SimSetAnswerDelay(serial_, d.deviceId, 1000));
  const uint32_t sent = AdapterState().framesSent;
  ASSERT_TRUE(Transact(10, DataExchangeDocument(reference, 3)));
  ASSERT_TRUE(WaitFramesSent(sent + 1));
  ASSERT_TRUE(QueueReply(SIM_KIND_ANSWER, {0x06, 0xA6, 0x06, 0x03, 0xAB, 0xCD, 0x03, 0xC0}));
  const Answer answer = WaitAnswer(dtm, 2);
  EXPECT_EQ(L"1122", Attribute(answer.document, L"byteArray")) << answer.document;
}

// While a poll is on the line the worker reports the scan's progress to
// its DTM; meanwhile the device's answer arrives, and behind it a frame of
// another device. The poll still finds the device.
TEST_F(ChannelAnswersTest, AFrameBehindTheAnswerDoesNotReplaceIt) {
  AddDevice(2, 0x000202, 7);
  MakeChannel();
  SetOwnerByte(hartdtm::kParMaxScanAddress, 3);
  SetOwnerByte(hartdtm::kParRetryCount, 0);
  ASSERT_TRUE(SimSetLineTiming(serial_, 0, 1));
  ASSERT_EQ(S_OK, Start());
  ASSERT_EQ(S_OK, base_.as(hart_));
  const std::vector<uint8_t> stray =
      hart::BuildLongAnswer(hart::MakeLongAddress(0x26, 0x06, 0x00F00D), true, 3, {0x01});
  owner_->onProgress([&](const ChannelOwner::Progress&) {
    EXPECT_TRUE(QueueReply(SIM_KIND_ANSWER, stray));
    WaitRepliesDelivered();
  });
  ASSERT_TRUE(RunDeviceListScan());
  owner_->onProgress(nullptr);
  EXPECT_EQ(std::vector<uint8_t>{2}, FoundAddresses());
}

// The device DTM's callback marshals for the worker but does not unmarshal
// there: the connect is answered where the callback was given, as a
// connect that reached no device, and the channel goes on.
TEST_F(ChannelAnswersTest, ACallbackTheWorkerCannotTakeIsAnsweredFromItsApartment) {
  AddDevice(3, 0x00ABCD, 7);
  MakeChannel();
  ASSERT_EQ(S_OK, Start());
  DeviceDtm* unreachable = nullptr;
  auto callback = NewDeviceDtm(&unreachable, false);
  unreachable->setUnmarshalFails(true);
  ASSERT_TRUE(Connect(callback.get(), 1, ConnectShortDocument(3)));
  const Answer answer = WaitAnswer(unreachable, 1);
  EXPECT_EQ("OnConnectResponse", answer.method);
  EXPECT_EQ(InvokeId(1), answer.invokeId);
  EXPECT_EQ(::GetCurrentThreadId(), answer.threadId);
  EXPECT_EQ(L"noConnection", Attribute(answer.document, L"communicationError")) << answer.document;
  EXPECT_EQ(0u, Attribute(answer.document, L"descriptor").find(L"(error 0x8")) << answer.document;
  com::Variant count;
  ASSERT_EQ(S_OK, base_->GetConnectionCount(count.put()));
  EXPECT_EQ(0u, count.get()->ulVal);

  DeviceDtm* dtm = nullptr;
  auto reachable = NewDeviceDtm(&dtm, false);
  EXPECT_EQ(36u, ConnectAndWait(dtm, reachable.get(), 3, 2).size());
  // The channel keeps nothing of the callback it could not use.
  EXPECT_EQ(1u, References(callback.get()));
  EXPECT_EQ(1u, unreachable->answerCount());
}

// The DTM goes while a connect waits behind a slow transaction. The
// worker stops waiting for the slow answer at once (nobody is left to use
// it), yet each request is answered exactly once: the transaction as a
// communication error, the connect as one that reached no device (the
// channel keeps no connection without its DTM). Then the worker ends on
// its own thread.
TEST_F(ChannelAnswersTest, AConnectWhoseDtmIsGoneIsAnswered) {
  const SimFieldDevice d3 = AddDevice(3, 0x00ABCD, 7);
  AddDevice(4, 0x000102, 5);
  MakeChannel();
  ASSERT_EQ(S_OK, Start());
  DeviceDtm* first = nullptr;
  DeviceDtm* second = nullptr;
  auto firstCallback = NewDeviceDtm(&first, false);
  auto secondCallback = NewDeviceDtm(&second, false);
  const std::wstring reference = ConnectAndWait(first, firstCallback.get(), 3, 1);
  ASSERT_EQ(36u, reference.size());

  ASSERT_TRUE(SimSetAnswerDelay(serial_, d3.deviceId, 1500));
  ASSERT_TRUE(Transact(10, DataExchangeDocument(reference, 0)));
  ASSERT_TRUE(Connect(secondCallback.get(), 11, ConnectShortDocument(4)));
  win32::UniqueHandle worker(::OpenThread(SYNCHRONIZE, FALSE, channel_->WorkerThreadId()));
  ASSERT_TRUE(worker.valid());
  channel_->OwnerGone();

  const Answer transaction = WaitAnswer(first, 2);
  EXPECT_EQ(InvokeId(10), transaction.invokeId);
  EXPECT_FALSE(Attribute(transaction.document, L"communicationError").empty()) << transaction.document;
  const Answer answer = WaitAnswer(second, 1);
  EXPECT_EQ("OnConnectResponse", answer.method);
  EXPECT_EQ(InvokeId(11), answer.invokeId);
  EXPECT_EQ(L"noConnection", Attribute(answer.document, L"communicationError")) << answer.document;
  EXPECT_EQ(L"(error 0x80004002)", Attribute(answer.document, L"descriptor"));
  const HANDLE thread = worker.get();
  EXPECT_TRUE(testsupport::PumpUntil([&] { return ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 10000));
  EXPECT_EQ(2u, first->answerCount());
  EXPECT_EQ(1u, second->answerCount());
}

}  // namespace
}  // namespace channeltest
