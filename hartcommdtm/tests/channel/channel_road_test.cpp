// The main road: device DTMs connect through the channel, run HART
// transactions on the simulated adapter through the real library, and get
// their answers as FDT documents on their own threads.
#include "channel_fixture.h"

#include <process.h>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "hart/frame.h"
#include "message_pump.h"
#include "hart/identity.h"
#include "hostile_documents.h"
#include "toolkit/values/message_wait.h"

namespace channeltest {
namespace {

using devicedtm_double::Answer;
using devicedtm_double::DeviceDtm;

class ChannelRoadTest : public ChannelTest {
 protected:
  void StartWithDevices() {
    d3_ = AddDevice(3, 0x00ABCD, 7);
    d4_ = AddDevice(4, 0x000102, 5);
    MakeChannel();
    ASSERT_EQ(S_OK, Start());
  }
  // Data of the simulator's command 0 answer for a device.
  static std::vector<uint8_t> Command0Data(const SimFieldDevice& d) {
    hart::Identity id;
    id.manufacturerId = d.manufacturerId;
    id.deviceType = d.deviceType;
    id.preambles = d.preambles;
    id.hartRevision = d.hartRevision;
    id.deviceRevision = d.deviceRevision;
    id.softwareRevision = d.softwareRevision;
    id.hardwareRevision = d.hardwareRevision;
    id.physicalSignalling = d.physicalSignalling;
    id.flags = d.flags;
    id.deviceId = d.deviceId;
    return hart::EncodeCommand0Data(id);
  }
  // Waits until the adapter has put `count` frames on the line in all.
  bool WaitFramesSent(uint32_t count) {
    for (int i = 0; i < 2000 && AdapterState().framesSent < count; ++i) ::Sleep(5);
    return AdapterState().framesSent >= count;
  }
  // The answer frame a device would send for a command, data after the
  // status bytes, as it comes off the line.
  static std::vector<uint8_t> AnswerFrame(const SimFieldDevice& d, uint8_t command, std::vector<uint8_t> data) {
    return hart::BuildLongAnswer(hart::MakeLongAddress(d.manufacturerId, d.deviceType, d.deviceId), true, command,
                                 data);
  }
  HRESULT AbortText(const wchar_t* reference) {
    com::Bstr text(reference);
    return communication_->Abort(text.get());
  }

  SimFieldDevice d3_{}, d4_{};
};

TEST_F(ChannelRoadTest, ConnectByShortAddressAnswersTheLongAddressAndTag) {
  StartWithDevices();
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  ASSERT_TRUE(Connect(callback.get(), 1, ConnectShortDocument(3, L"PT-101 &amp; &lt;main&gt;")));
  const Answer answer = WaitAnswer(dtm, 1);
  EXPECT_EQ("OnConnectResponse", answer.method);
  EXPECT_EQ(InvokeId(1), answer.invokeId);
  EXPECT_EQ(::GetCurrentThreadId(), answer.threadId);
  EXPECT_NE(std::wstring::npos, answer.document.find(L"<ConnectResponse fdt:tag=\"PT-101 &amp; &lt;main&gt;\" "
                                                     L"preambleCount=\"5\" primaryMaster=\"1\""));
  EXPECT_NE(std::wstring::npos,
            answer.document.find(L"<LongAddress manufacturerId=\"38\" deviceTypeId=\"6\" address1=\"0\" "
                                 L"address2=\"171\" address3=\"205\" /><ShortAddress shortAddress   =\"3\" />"));
  EXPECT_EQ(36u, Attribute(answer.document, L"communicationReference").size());
  // Identified with its long tag (revision 7: command 20), in use, and the
  // connection counted.
  ASSERT_EQ(1u, channel_->FoundDeviceCount());
  hartdtm::HartDeviceEntry entry;
  ASSERT_TRUE(channel_->FoundDevice(0, &entry));
  EXPECT_EQ(L"Long tag of 3", entry.tag);
  EXPECT_EQ(0x00ABCDu, entry.deviceId);
  EXPECT_TRUE(entry.inUse);
  EXPECT_EQ(1u, OwnerUi4(hartdtm::kParChangeCounter));
}

// The frame's version comes when the DTM attaches the channel, before its
// worker runs; the channel keeps it for the worker.
TEST_F(ChannelRoadTest, ConnectByLongAddressAndTheFdt121ConnectResponse) {
  fdt121Frame_ = true;
  StartWithDevices();
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, true);
  ASSERT_TRUE(Connect(callback.get(), 2, ConnectLongDocument(38, 6, 0x00, 0x01, 0x02, 4)));
  const Answer answer = WaitAnswer(dtm, 1);
  EXPECT_EQ("OnConnectResponse2", answer.method);
  EXPECT_NE(std::wstring::npos, answer.parentDocument.find(L"major=\"1\" minor=\"2\" release=\"1\" build=\"0\""));
  EXPECT_NE(std::wstring::npos,
            answer.document.find(L"<LongAddress manufacturerId=\"38\" deviceTypeId=\"6\" address1=\"0\" "
                                 L"address2=\"1\" address3=\"2\" />"));
  hartdtm::HartDeviceEntry entry;
  ASSERT_TRUE(channel_->FoundDevice(0, &entry));
  EXPECT_EQ(L"TAG04   ", entry.tag);  // revision 5: the packed tag of command 13
}

TEST_F(ChannelRoadTest, ALongAddressConnectTriesTheIdentifierBytesReversed) {
  StartWithDevices();
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  // The unanswered first try is reported as the adapter reports silence,
  // not waited out to the channel's own time-out (11.5 s at three retries).
  ASSERT_TRUE(SimSetLineTiming(serial_, 0, 1));
  // 02 01 00 reversed is the device's 00 01 02.
  ASSERT_TRUE(Connect(callback.get(), 3, ConnectLongDocument(38, 6, 0x02, 0x01, 0x00, 4)));
  const Answer answer = WaitAnswer(dtm, 1);
  EXPECT_NE(std::wstring::npos, answer.document.find(L"<ConnectResponse"));
  EXPECT_EQ(1u, channel_->FoundDeviceCount());
}

TEST_F(ChannelRoadTest, TransactionsComeBackAsTheSimulatorsAnswers) {
  StartWithDevices();
  const uint8_t specific[] = {0x11, 0x22, 0x33};
  ASSERT_TRUE(SimSetAnswer(serial_, d3_.deviceId, 128, 0, specific, sizeof specific));
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 1);
  ASSERT_EQ(36u, reference.size());

  ASSERT_TRUE(Transact(10, DataExchangeDocument(reference, 0)));
  ASSERT_TRUE(Transact(11, DataExchangeDocument(reference, 13)));
  ASSERT_TRUE(Transact(12, DataExchangeDocument(reference, 128, L"0A0b")));
  ASSERT_TRUE(dtm->waitForAnswers(4, 20000));
  const auto answers = dtm->answers();

  EXPECT_EQ(InvokeId(10), answers[1].invokeId);
  EXPECT_EQ(L"0", Attribute(answers[1].document, L"commandNumber"));
  EXPECT_EQ(reference, Attribute(answers[1].document, L"communicationReference"));
  EXPECT_EQ(Hex(Command0Data(d3_)), Attribute(answers[1].document, L"byteArray"));
  EXPECT_NE(std::wstring::npos, answers[1].document.find(L"<Status deviceStatus=\"0\"><CommandResponse value=\"0\" />"));

  std::vector<uint8_t> command13 = hart::PackAscii(d3_.tag, 8);
  const std::vector<uint8_t> descriptor = hart::PackAscii(d3_.descriptor, 16);
  command13.insert(command13.end(), descriptor.begin(), descriptor.end());
  command13.insert(command13.end(), d3_.date, d3_.date + 3);
  EXPECT_EQ(InvokeId(11), answers[2].invokeId);
  EXPECT_EQ(Hex(command13), Attribute(answers[2].document, L"byteArray"));

  EXPECT_EQ(InvokeId(12), answers[3].invokeId);
  EXPECT_EQ(L"112233", Attribute(answers[3].document, L"byteArray"));
  for (const Answer& a : answers) EXPECT_EQ(::GetCurrentThreadId(), a.threadId);
}

TEST_F(ChannelRoadTest, ResponseCodesCommunicationErrorsAndBadRequestsGiveTheirDocuments) {
  StartWithDevices();
  ASSERT_TRUE(SimSetAnswer(serial_, d3_.deviceId, 129, 5, nullptr, 0));
  ASSERT_TRUE(SimSetAnswer(serial_, d3_.deviceId, 130, 0x88, nullptr, 0));
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 1);
  ASSERT_TRUE(Transact(20, DataExchangeDocument(reference, 129)));
  ASSERT_TRUE(Transact(21, DataExchangeDocument(reference, 130)));
  ASSERT_TRUE(Transact(22, DataExchangeDocument(reference, 1, L"ABC")));
  ASSERT_TRUE(Transact(23, DataExchangeDocument(reference, 1, std::wstring(246 * 2, L'0'))));
  ASSERT_TRUE(Transact(24, DataExchangeDocument(reference, 1, std::wstring(245 * 2, L'0'))));
  ASSERT_TRUE(dtm->waitForAnswers(6, 20000));
  const auto a = dtm->answers();
  // Response code 5, status bytes only: the data part is a blank.
  EXPECT_NE(std::wstring::npos, a[1].document.find(L"communicationReference=\"" + reference +
                                                   L"\"> <Status deviceStatus=\"0\"><CommandResponse value=\"5\" />"));
  EXPECT_NE(std::wstring::npos, a[2].document.find(L"<CommunicationStatus value=\"136\" />"));
  EXPECT_EQ(L"dtmSpecific", Attribute(a[3].document, L"communicationError"));
  EXPECT_EQ(L"data array invalid (error 0x80004005)", Attribute(a[3].document, L"descriptor"));
  EXPECT_EQ(L"FSK Mavix - HART Channel", Attribute(a[3].document, L"tag"));
  EXPECT_EQ(L"data array too long (error 0x80004005)", Attribute(a[4].document, L"descriptor"));
  // 245 bytes make a frame of 254, which the library refuses.
  EXPECT_EQ(L"dtmSpecific", Attribute(a[5].document, L"communicationError"));
  EXPECT_EQ(0u, Attribute(a[5].document, L"descriptor").find(L"error sending HART command (error 0x"));
}

// A frame that arrives while the channel waits, but is not the answer to
// the frame it sent (here: a late answer of the same device to command 13),
// is passed over; the request gets its own answer.
TEST_F(ChannelRoadTest, ALateAnswerIsNotTakenForTheNextRequestsAnswer) {
  StartWithDevices();
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 1);
  ASSERT_EQ(36u, reference.size());
  ASSERT_TRUE(SimSetAnswerDelay(serial_, d3_.deviceId, 2000));
  const uint32_t sent = AdapterState().framesSent;
  ASSERT_TRUE(Transact(10, DataExchangeDocument(reference, 0)));
  ASSERT_TRUE(WaitFramesSent(sent + 1));
  const std::vector<uint8_t> late = AnswerFrame(d3_, 13, {0xDE, 0xAD});
  ASSERT_TRUE(SimQueueReply(serial_, SIM_KIND_ANSWER, late.data(), static_cast<uint32_t>(late.size())));
  const Answer answer = WaitAnswer(dtm, 2);
  EXPECT_EQ(L"0", Attribute(answer.document, L"commandNumber"));
  EXPECT_EQ(Hex(Command0Data(d3_)), Attribute(answer.document, L"byteArray"));
}

// Answers that are damaged, too short or no answers at all (a status byte
// alone, a receive of another kind) each give their own document.
TEST_F(ChannelRoadTest, DamagedShortAndMissingAnswersGiveTheirDocuments) {
  d3_ = AddDevice(3, 0x00ABCD, 7);
  MakeChannel();
  // (100 + 1) * 2000 + 3500 ms: only what the adapter hands over ends a wait.
  SetOwnerByte(hartdtm::kParRetryCount, 100);
  ASSERT_EQ(S_OK, Start());
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 1);
  ASSERT_EQ(36u, reference.size());

  // Byte count 5 (status and three data bytes) but the checksum missing:
  // the data part is left out.
  std::vector<uint8_t> cut = AnswerFrame(d3_, 140, {0x11, 0x22, 0x33});
  cut.pop_back();
  ASSERT_TRUE(SimSetRawAnswer(serial_, d3_.deviceId, 140, cut.data(), static_cast<uint32_t>(cut.size())));
  ASSERT_TRUE(Transact(10, DataExchangeDocument(reference, 140)));
  Answer answer = WaitAnswer(dtm, 2);
  EXPECT_EQ(L"", Attribute(answer.document, L"byteArray")) << answer.document;
  EXPECT_NE(std::wstring::npos, answer.document.find(L"\"> <Status deviceStatus=\"0\"><CommandResponse value=\"0\" />"))
      << answer.document;

  // Ten bytes: address, command, count and status, nothing else.
  std::vector<uint8_t> header = AnswerFrame(d3_, 141, {});
  header.pop_back();
  ASSERT_EQ(10u, header.size());
  ASSERT_TRUE(SimSetRawAnswer(serial_, d3_.deviceId, 141, header.data(), static_cast<uint32_t>(header.size())));
  ASSERT_TRUE(Transact(11, DataExchangeDocument(reference, 141)));
  answer = WaitAnswer(dtm, 3);
  EXPECT_EQ(L"dtmSpecific", Attribute(answer.document, L"communicationError"));
  EXPECT_EQ(L"HART response was too short (invalid telegram frame) (error 0x8000FFFF)",
            Attribute(answer.document, L"descriptor"));

  // The device is silent; the adapter reports a status byte alone, then a
  // receive of a kind it does not name: neither is an answer.
  ASSERT_TRUE(SimSetNoAnswer(serial_, d3_.deviceId, 142));
  unsigned invoke = 12;
  size_t answers = 3;
  for (uint8_t kind : {uint8_t(SIM_KIND_STATUS), uint8_t(0x10)}) {
    SCOPED_TRACE(kind);
    const uint32_t sent = AdapterState().framesSent;
    ASSERT_TRUE(Transact(invoke++, DataExchangeDocument(reference, 142)));
    ASSERT_TRUE(WaitFramesSent(sent + 1));
    const uint8_t reply[] = {SIM_STATUS_NO_ANSWER};
    ASSERT_TRUE(SimQueueReply(serial_, kind, reply, sizeof reply));
    answer = WaitAnswer(dtm, ++answers);
    EXPECT_EQ(L"timeout", Attribute(answer.document, L"communicationError"));
    EXPECT_EQ(L"error receiving HART response (timeout or no connection to device) (error 0x80004005)",
              Attribute(answer.document, L"descriptor"));
  }
}

TEST_F(ChannelRoadTest, ASilentDeviceAnswersTimeout) {
  d3_ = AddDevice(3, 0x00ABCD, 7);
  MakeChannel();
  SetOwnerByte(hartdtm::kParRetryCount, 0);  // (0 + 1) * 2000 + 3500 ms
  ASSERT_EQ(S_OK, Start());
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 1);
  ASSERT_TRUE(SimSetNoAnswer(serial_, d3_.deviceId, 131));
  ASSERT_TRUE(Transact(30, DataExchangeDocument(reference, 131)));
  const Answer answer = WaitAnswer(dtm, 2, 30000);
  EXPECT_EQ(L"timeout", Attribute(answer.document, L"communicationError"));
  EXPECT_EQ(L"error receiving HART response (timeout or no connection to device) (error 0x80004005)",
            Attribute(answer.document, L"descriptor"));
}

TEST_F(ChannelRoadTest, AConnectToNobodyAnswersNoConnectionAndKeepsNoConnection) {
  d3_ = AddDevice(3, 0x00ABCD, 7);
  MakeChannel();
  SetOwnerByte(hartdtm::kParRetryCount, 0);
  ASSERT_EQ(S_OK, Start());
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  ASSERT_TRUE(Connect(callback.get(), 1, ConnectShortDocument(9)));
  const Answer answer = WaitAnswer(dtm, 1, 30000);
  EXPECT_EQ(L"noConnection", Attribute(answer.document, L"communicationError"));
  EXPECT_EQ(L"(error 0x80004005)", Attribute(answer.document, L"descriptor"));
  com::Variant count;
  ASSERT_EQ(S_OK, base_->GetConnectionCount(count.put()));
  EXPECT_EQ(0u, count.get()->ulVal);
}

TEST_F(ChannelRoadTest, RequestsThatCannotBeQueuedAreRefused) {
  StartWithDevices();
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  com::Bstr badId(L"not-a-uuid"), id(InvokeId(1).c_str()), protocol(kHartProtocol),
      otherProtocol(L"{036D1499-387B-11D4-86E1-00E0987270B9}"), doc(ConnectShortDocument(3).c_str());
  VARIANT_BOOL queued = VARIANT_TRUE;
  EXPECT_EQ(S_OK, communication_->ConnectRequest(callback.get(), badId.get(), protocol.get(), doc.get(), &queued));
  EXPECT_EQ(VARIANT_FALSE, queued);
  EXPECT_EQ(S_OK, communication_->ConnectRequest(callback.get(), id.get(), otherProtocol.get(), doc.get(), &queued));
  EXPECT_EQ(VARIANT_FALSE, queued);
  EXPECT_EQ(E_INVALIDARG, communication_->ConnectRequest(nullptr, id.get(), protocol.get(), doc.get(), &queued));
  // An unknown reference, and one of 37 characters.
  EXPECT_FALSE(Transact(2, DataExchangeDocument(InvokeId(99), 0)));
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 3);
  EXPECT_FALSE(Transact(4, DataExchangeDocument(reference + L"0", 0)));
  // Upper case finds the connection.
  std::wstring upper = reference;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  EXPECT_TRUE(Transact(5, DataExchangeDocument(upper, 0)));
  WaitAnswer(dtm, 2);
  // StopWorker refuses while a connection exists.
  VARIANT_BOOL stopped = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, base_->StopWorker(&stopped));
  EXPECT_EQ(VARIANT_FALSE, stopped);
  EXPECT_EQ(hartdtm::kChannelAttached, channel_->State());
}

// A request that declares a document type is answered as a malformed one,
// without its entity ever being expanded, and the connection goes on.
TEST_F(ChannelRoadTest, RequestsDeclaringADocumentTypeAreRefusedLikeMalformedOnes) {
  using testsupport::WithEntityBomb;
  StartWithDevices();
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 1);

  EXPECT_EQ(Connect(callback.get(), 2, L"<FDT"),
            Connect(callback.get(), 3, WithEntityBomb(ConnectShortDocument(4, L"{BOMB}"))));
  EXPECT_EQ(Transact(4, L"<FDT"), Transact(5, WithEntityBomb(DataExchangeDocument(reference, 0, L"{BOMB}"))));
  auto disconnect = [&](unsigned invoke, const std::wstring& document) {
    com::Bstr id(InvokeId(invoke).c_str()), doc(document.c_str());
    VARIANT_BOOL queued = VARIANT_TRUE;
    const HRESULT hr = communication_->DisconnectRequest(id.get(), doc.get(), &queued);
    return std::make_pair(hr, queued);
  };
  EXPECT_EQ(disconnect(6, L"<FDT"), disconnect(7, WithEntityBomb(DisconnectDocument(L"{BOMB}"))));
  EXPECT_EQ(disconnect(8, L"<FDT"), disconnect(9, WithEntityBomb(DisconnectDocument(reference))));

  ASSERT_TRUE(Transact(10, DataExchangeDocument(reference, 0)));
  const Answer answer = WaitAnswer(dtm, 2);
  EXPECT_EQ(InvokeId(10), answer.invokeId);
  EXPECT_EQ(1u, OwnerUi4(hartdtm::kParChangeCounter));  // the one connect
}

// Documents that name numbers outside a byte, lack what they must hold or
// are no XML are refused, never cut to fit or half read.
TEST_F(ChannelRoadTest, MalformedAndOutOfRangeRequestsAreRefused) {
  StartWithDevices();
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring head =
      L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";
  const std::wstring connects[] = {
      Replaced(ConnectShortDocument(0), L"shortAddress=\"0\"", L"shortAddress=\"259\""),
      Replaced(ConnectLongDocument(38, 6, 0, 1, 2, 4), L"address1=\"0\"", L"address1=\"300\""),
      Replaced(ConnectLongDocument(38, 6, 0, 1, 2, 4), L"manufacturerId=\"38\"", L"manufacturerId=\"-1\""),
      head + L"<ConnectRequest fdt:systemTag=\"DEV-1\"><ShortAddress shortAddress=\"3\"/></ConnectRequest></FDT>",
      head + L"<ConnectRequest fdt:tag=\"PT\"/></FDT>",
      head + L"<ConnectRequest fdt:tag=\"PT\"><LongAddress manufacturerId=\"38\" deviceTypeId=\"6\" "
             L"address1=\"0\" address2=\"1\"/><ShortAddress shortAddress=\"4\"/></ConnectRequest></FDT>",
      head + L"<ConnectRequest fdt:tag=\"PT\"><ShortAddress shortAddress=\"three\"/></ConnectRequest></FDT>",
      head + L"<ConnectRequest fdt:tag=\"PT\"><ShortAddress shortAddress=\"3\"/>",
      L"",
  };
  unsigned invoke = 1;
  for (const std::wstring& document : connects) {
    SCOPED_TRACE(document);
    EXPECT_FALSE(Connect(callback.get(), invoke++, document));
  }
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, invoke++);
  ASSERT_EQ(36u, reference.size());
  EXPECT_EQ(1u, dtm->answerCount());  // none of the refused ones was answered

  for (const wchar_t* number : {L"256", L"-1", L"0x10"}) {
    SCOPED_TRACE(number);
    EXPECT_FALSE(Transact(invoke++, Replaced(DataExchangeDocument(reference, 0), L"commandNumber=\"0\"",
                                             L"commandNumber=\"" + std::wstring(number) + L"\"")));
  }
  EXPECT_FALSE(Transact(invoke++, head + L"<DataExchangeRequest communicationReference=\"" + reference +
                                      L"\"/></FDT>"));
  // The connection still works, and answered nothing else.
  ASSERT_TRUE(Transact(invoke, DataExchangeDocument(reference, 0)));
  EXPECT_EQ(InvokeId(invoke), WaitAnswer(dtm, 2).invokeId);
}

TEST_F(ChannelRoadTest, DisconnectAnswersAndCountsAndAbortAnswersNothing) {
  StartWithDevices();
  DeviceDtm* first = nullptr;
  DeviceDtm* second = nullptr;
  auto firstCallback = NewDeviceDtm(&first, false);
  auto secondCallback = NewDeviceDtm(&second, false);
  const std::wstring one = ConnectAndWait(first, firstCallback.get(), 3, 1);
  const std::wstring two = ConnectAndWait(second, secondCallback.get(), 4, 2);

  // The first device is slow: three transactions of its connection are
  // queued behind one another, the first of them on the line, when the
  // connection is aborted. None of them is answered, nor the abort; the
  // second connection's transaction, queued last, shows the worker got past.
  ASSERT_TRUE(SimSetAnswerDelay(serial_, d3_.deviceId, 1500));
  ASSERT_TRUE(Transact(10, DataExchangeDocument(one, 0)));
  ASSERT_TRUE(Transact(11, DataExchangeDocument(one, 13)));
  ASSERT_TRUE(Transact(12, DataExchangeDocument(one, 0)));
  EXPECT_EQ(S_OK, AbortText(one.c_str()));
  ASSERT_TRUE(Transact(13, DataExchangeDocument(two, 0)));
  EXPECT_EQ(InvokeId(13), WaitAnswer(second, 2).invokeId);
  EXPECT_EQ(1u, first->answerCount());
  EXPECT_FALSE(Transact(14, DataExchangeDocument(one, 0)));
  // Unknown, empty or missing references abort nothing.
  EXPECT_EQ(S_FALSE, AbortText(one.c_str()));
  EXPECT_EQ(S_FALSE, AbortText(InvokeId(99).c_str()));
  EXPECT_EQ(S_FALSE, AbortText(L""));
  EXPECT_EQ(S_FALSE, communication_->Abort(nullptr));

  com::Bstr id(InvokeId(15).c_str()), doc(DisconnectDocument(two).c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, communication_->DisconnectRequest(id.get(), doc.get(), &queued));
  ASSERT_EQ(VARIANT_TRUE, queued);
  const Answer answer = WaitAnswer(second, 3);
  EXPECT_EQ("OnDisconnectResponse", answer.method);
  EXPECT_NE(std::wstring::npos, answer.document.find(L"<DisconnectResponse communicationReference =\"" + two + L"\" />"));
  EXPECT_EQ(3u, OwnerUi4(hartdtm::kParChangeCounter));  // two connects, one disconnect
  // A closed connection keeps nothing of its device DTM: the test's own
  // reference is the last.
  EXPECT_TRUE(testsupport::PumpUntil([&] { return References(firstCallback.get()) == 1; }, 10000));
  EXPECT_TRUE(testsupport::PumpUntil([&] { return References(secondCallback.get()) == 1; }, 10000));
  VARIANT_BOOL stopped = VARIANT_FALSE;
  EXPECT_EQ(S_OK, base_->StopWorker(&stopped));
  EXPECT_EQ(0u, AdapterState().openHandles);
}

TEST_F(ChannelRoadTest, AnUnplugGivesOneDriverErrorAndOneRoundOfAborts) {
  StartWithDevices();
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 1);
  ASSERT_TRUE(SimUnplug(serial_));
  Transact(40, DataExchangeDocument(reference, 0));
  auto aborts = [&] {
    size_t n = 0;
    for (const Answer& a : dtm->answers()) n += a.method == "OnAbort";
    return n;
  };
  for (size_t seen = dtm->answerCount(); aborts() == 0 && dtm->waitForAnswers(seen + 1, 20000);) seen = dtm->answerCount();
  ASSERT_EQ(1u, aborts());
  // The adapter keeps failing: requests are refused at once instead of
  // being taken and never answered, and no second round of aborts follows.
  EXPECT_FALSE(Transact(41, DataExchangeDocument(reference, 0)));
  EXPECT_FALSE(Connect(callback.get(), 42, ConnectShortDocument(4)));
  const size_t before = dtm->answerCount();
  dtm->waitForAnswers(before + 1, 1500);
  EXPECT_EQ(before, dtm->answerCount());
  EXPECT_EQ(1u, aborts());
  for (const Answer& a : dtm->answers()) {
    if (a.method == "OnAbort") {
      EXPECT_EQ(reference, a.invokeId);
    }
    if (a.method == "OnTransactionResponse") {
      EXPECT_EQ(L"dtmSpecific", Attribute(a.document, L"communicationError"));
    }
  }
  const auto messages = owner_->messages();
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(L"Driver error during communication.\nAll connections aborted!", messages[0]);
  EXPECT_EQ(hartdtm::kChannelRefusing, channel_->State());
}

// Toolkit event 9989: the handle is signalled once the last connection is gone.
TEST_F(ChannelRoadTest, AbortAllSignalsTheCallersEventWhenTheLastConnectionIsGone) {
  StartWithDevices();
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  ConnectAndWait(dtm, callback.get(), 3, 1);
  win32::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  com::Variant key(9989);
  com::Variant handle;
  handle.get()->vt = VT_UI4;
  handle.get()->ulVal = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(done.get()));
  ASSERT_EQ(S_OK, base_->ChannelRequest(key.value(), handle.value()));
  EXPECT_EQ(1, WaitOneWithMessageLoop(done.get(), 20000));
  WaitAnswer(dtm, 2);
  EXPECT_EQ("OnAbort", dtm->answers()[1].method);
  com::Variant count;
  base_->GetConnectionCount(count.put());
  EXPECT_EQ(0u, count.get()->ulVal);

  // Until the adapter is opened again the channel refuses connects (they
  // would never be answered); a topology scan still runs and answers.
  EXPECT_EQ(hartdtm::kChannelRefusing, channel_->State());
  EXPECT_FALSE(Connect(callback.get(), 3, ConnectShortDocument(4)));
  owner_->setState(12);
  ASSERT_TRUE(SimSetLineTiming(serial_, 0, 1));  // silence is reported after 1 ms
  com::ComPtr<IFdtChannelSubTopology> topology;
  ASSERT_EQ(S_OK, base_.as(topology));
  com::Bstr scan(InvokeId(4).c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, topology->ScanRequest(scan.get(), &queued));
  EXPECT_EQ(VARIANT_TRUE, queued);
  ASSERT_TRUE(frame_->waitForCalls("OnScanResponse", 1, 30000));
  const std::wstring found = frame_->callsTo("OnScanResponse")[0].arguments.at(1);
  EXPECT_NE(std::wstring::npos, found.find(L"fdthart:shortAddress=\"3\"")) << found;
  EXPECT_NE(std::wstring::npos, found.find(L"fdthart:shortAddress=\"4\"")) << found;
  EXPECT_EQ(2u, dtm->answerCount());
}

struct ThreadRun {
  IStream* stream = nullptr;  // the channel's IFdtCommunication for this thread
  std::wstring document;      // connect document
  unsigned firstInvoke = 0;
  int transactions = 0;
  std::vector<Answer> answers;
  DWORD threadId = 0;
  bool connected = false;
};

unsigned __stdcall RunDeviceDtm(void* argument) {
  auto* run = static_cast<ThreadRun*>(argument);
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  run->threadId = ::GetCurrentThreadId();
  {
    com::ComPtr<IFdtCommunication> channel;
    ::CoGetInterfaceAndReleaseStream(run->stream, __uuidof(IFdtCommunication), channel.putVoid());
    DeviceDtm* dtm = nullptr;
    com::ComPtr<IChildCommunicationEvents> callback = devicedtm_double::createDeviceDtm(&dtm);
    dtm->setFdt121(false);
    com::Bstr id(InvokeId(run->firstInvoke).c_str()), protocol(kHartProtocol), doc(run->document.c_str());
    VARIANT_BOOL queued = VARIANT_FALSE;
    if (channel && SUCCEEDED(channel->ConnectRequest(callback.get(), id.get(), protocol.get(), doc.get(), &queued)) &&
        queued && dtm->waitForAnswers(1, 20000)) {
      const std::wstring reference = Attribute(dtm->answers()[0].document, L"communicationReference");
      run->connected = reference.size() == 36;
      for (int i = 1; i <= run->transactions; ++i) {
        com::Bstr invoke(InvokeId(run->firstInvoke + i).c_str());
        com::Bstr request(DataExchangeDocument(reference, i % 2 ? 0 : 13).c_str());
        channel->TransactionRequest(invoke.get(), request.get(), &queued);
      }
      dtm->waitForAnswers(1 + run->transactions, 60000);
    }
    run->answers = dtm->answers();
  }
  ::CoUninitialize();
  return 0;
}

TEST_F(ChannelRoadTest, TwoDeviceDtmsOnTwoThreadsEachGetTheirOwnAnswers) {
  StartWithDevices();
  constexpr int kTransactions = 20;
  ThreadRun runs[2];
  runs[0].document = ConnectShortDocument(3);
  runs[0].firstInvoke = 1000;
  runs[1].document = ConnectShortDocument(4);
  runs[1].firstInvoke = 2000;
  win32::UniqueHandle threads[2];
  for (int i = 0; i < 2; ++i) {
    runs[i].transactions = kTransactions;
    ASSERT_EQ(S_OK, ::CoMarshalInterThreadInterfaceInStream(__uuidof(IFdtCommunication), communication_.get(),
                                                            &runs[i].stream));
    threads[i].reset(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &RunDeviceDtm, &runs[i], 0, nullptr)));
  }
  for (auto& thread : threads) ASSERT_EQ(1, WaitOneWithMessageLoop(thread.get(), 90000));

  const SimFieldDevice* devices[2] = {&d3_, &d4_};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(runs[i].connected) << i;
    ASSERT_EQ(static_cast<size_t>(1 + kTransactions), runs[i].answers.size()) << i;
    const std::wstring command0 = Hex(Command0Data(*devices[i]));
    for (int k = 1; k <= kTransactions; ++k) {
      const Answer& a = runs[i].answers[k];
      EXPECT_EQ(runs[i].threadId, a.threadId);
      EXPECT_EQ(InvokeId(runs[i].firstInvoke + k), a.invokeId);  // in order, none lost
      if (k % 2) EXPECT_EQ(command0, Attribute(a.document, L"byteArray")) << i << " " << k;
      else EXPECT_EQ(L"13", Attribute(a.document, L"commandNumber"));
    }
  }
}

}  // namespace
}  // namespace channeltest
