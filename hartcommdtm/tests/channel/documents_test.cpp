// The channel's answer documents, references, command 0 answers and packed
// ASCII, without an adapter.
#include <gtest/gtest.h>

#include "channel/answer_documents.h"
#include "channel/connections.h"
#include "channel/found_devices.h"
#include "com/Bstr.h"

namespace {

using namespace hartdtm;

std::wstring Text(const com::Bstr& b) { return b.c_str(); }

TEST(ChannelDocuments, CommunicationErrorsEscapeTheirTexts) {
  com::Bstr doc;
  ASSERT_EQ(S_OK, BuildCommunicationError(doc.put(), kCommErrDtmSpecific, L"A&B \"chan\"",
                                          static_cast<HRESULT>(0x80004005), L"x < y"));
  EXPECT_EQ(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
            L"\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\t<fdt:CommunicationError "
            L"\t\tcommunicationError=\"dtmSpecific\" \t\ttag=\"A&amp;B &quot;chan&quot;\" "
            L"descriptor=\"x &lt; y (error 0x80004005)\" /></FDT>",
            Text(doc));
  ASSERT_EQ(S_OK, BuildCommunicationError(doc.put(), kCommErrNoConnection, L"T", E_FAIL, nullptr));
  EXPECT_NE(std::wstring::npos, Text(doc).find(L"communicationError=\"noConnection\""));
  EXPECT_NE(std::wstring::npos, Text(doc).find(L"descriptor=\"(error 0x80004005)\""));
  EXPECT_EQ(E_POINTER, BuildCommunicationError(nullptr, 0, L"", S_OK, nullptr));
}

TEST(ChannelDocuments, DataExchangeResponseFromAnswerFrames) {
  // Long answer: delimiter, address, command 3, count 5, status 0 / 0x40, data 01 02 03, checksum.
  const uint8_t frame[] = {0x86, 0xA6, 0x06, 0x00, 0xAB, 0xCD, 3, 5, 0x00, 0x40, 1, 2, 0xFE, 0x00};
  com::Bstr doc;
  ASSERT_EQ(S_OK, BuildDataExchangeResponse(doc.put(), 3, L"ref", frame, sizeof frame));
  EXPECT_EQ(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
            L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DataExchangeResponse commandNumber=\"3\" "
            L"communicationReference=\"ref\"><fdt:CommunicationData byteArray=\"0102FE\" />\n<Status "
            L"deviceStatus=\"64\"><CommandResponse value=\"0\" /></Status></DataExchangeResponse></FDT>",
            Text(doc));
  // Status bytes only: a blank; a communication error: CommunicationStatus.
  const uint8_t statusOnly[] = {0x86, 0xA6, 0x06, 0x00, 0xAB, 0xCD, 3, 2, 0x88, 0x00, 0x11};
  ASSERT_EQ(S_OK, BuildDataExchangeResponse(doc.put(), 3, L"ref", statusOnly, sizeof statusOnly));
  EXPECT_NE(std::wstring::npos, Text(doc).find(L"communicationReference=\"ref\"> <Status deviceStatus=\"0\">"
                                               L"<CommunicationStatus value=\"136\" />"));
  // A frame shorter than its byte count says: no data part.
  const uint8_t cut[] = {0x86, 0xA6, 0x06, 0x00, 0xAB, 0xCD, 3, 9, 0x00, 0x00, 0x11};
  ASSERT_EQ(S_OK, BuildDataExchangeResponse(doc.put(), 3, L"ref", cut, sizeof cut));
  EXPECT_NE(std::wstring::npos, Text(doc).find(L"\"ref\"> <Status"));
}

TEST(ChannelDocuments, ConnectAndBurstAnswersKeepTheirTemplates) {
  ConnectResponseFields f;
  f.tag = L"T<1>";
  f.preambleCount = 7;
  f.primaryMaster = true;
  f.reference = L"r";
  f.manufacturerId = 38;
  f.deviceTypeId = 6;
  f.address1 = 0;
  f.address2 = 171;
  f.address3 = 205;
  f.shortAddress = 3;
  com::Bstr doc;
  ASSERT_EQ(S_OK, BuildConnectResponse(doc.put(), f));
  EXPECT_EQ(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
            L"xmlns:fdt =\"x-schema:FDTDataTypesSchema.xml\"><ConnectResponse fdt:tag=\"T&lt;1&gt;\" "
            L"preambleCount=\"7\" primaryMaster=\"1\" communicationReference=\"r\"><LongAddress "
            L"manufacturerId=\"38\" deviceTypeId=\"6\" address1=\"0\" address2=\"171\" address3=\"205\" />"
            L"<ShortAddress shortAddress   =\"3\" /></ConnectResponse></FDT>",
            Text(doc));
  const uint8_t burst[] = {0x80, 0x00, 0x12};
  ASSERT_EQ(S_OK, BuildBurstResponseDocument(doc.put(), 1, L"r", burst, sizeof burst));
  EXPECT_EQ(L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
            L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" schemaVersion=\"1.21\">\n<DataExchangeResponse "
            L"commandNumber=\"1\" communicationReference=\"r\" burstFrame=\"1\">\n<fdt:CommunicationData "
            L"byteArray=\"12\" />\n<Status deviceStatus=\"0\">\n  <CommunicationStatus value=\"128\" />\n"
            L"</Status>\n</DataExchangeResponse>\n</FDT>",
            Text(doc));
  EXPECT_EQ(E_INVALIDARG, BuildBurstResponseDocument(doc.put(), 1, L"r", burst, 1));
  ASSERT_EQ(S_OK, BuildSupportedProtocolsDocument(
                      doc.put(), SupportedProtocolEntry(L"036D1498-387B-11D4-86E1-00E0987270B9", L"HART")));
  EXPECT_NE(std::wstring::npos,
            Text(doc).find(L"<fdt:BusCategory busCategory =\"036D1498-387B-11D4-86E1-00E0987270B9\" "
                           L"busCategoryName=\"HART\" ><fdt:CommunicationTypeEntry "
                           L"communicationType=\"supported\" /></fdt:BusCategory>"));
  EXPECT_EQ(L"<fdt:BusCategory busCategory =\"x\" ><fdt:CommunicationTypeEntry communicationType=\"supported\" "
            L"/></fdt:BusCategory>",
            SupportedProtocolEntry(L"x", nullptr));
}

TEST(ChannelConnections, ReferencesMatchOnlyAtFullLengthIgnoringCase) {
  const wchar_t* reference = L"0a1b2c3d-0000-4000-8000-00000000abcd";
  EXPECT_TRUE(SameReference(reference, L"0A1B2C3D-0000-4000-8000-00000000ABCD"));
  EXPECT_FALSE(SameReference(L"0a1b2c3d-0000-4000-8000-00000000abc", L"0a1b2c3d-0000-4000-8000-00000000abc"));
  EXPECT_FALSE(SameReference(L"0a1b2c3d-0000-4000-8000-00000000abcde", L"0a1b2c3d-0000-4000-8000-00000000abcde"));

  CevFDT_ConnectionMgr manager;
  ConnRef connection = CHART_ChanConn::Create();
  ASSERT_EQ(S_OK, connection->CreateReference());
  EXPECT_EQ(36u, std::wstring(connection->Reference()).size());
  EXPECT_TRUE(manager.AddConnection(connection));
  EXPECT_FALSE(manager.AddConnection(connection));
  ConnRef found;
  EXPECT_EQ(S_OK, manager.FindConnection(connection->Reference(), &found));
  EXPECT_EQ(connection.get(), found.get());
  EXPECT_EQ(E_INVALIDARG, manager.RemoveConnection(L""));
  EXPECT_EQ(S_OK, manager.RemoveConnection(connection->Reference()));
  EXPECT_EQ(E_FAIL, manager.RemoveConnection(connection->Reference()));
  // A record that still holds the removed connection keeps a valid object.
  EXPECT_EQ(36u, std::wstring(found->Reference()).size());
}

TEST(ChannelIdentification, Command0AnswersInBothLayouts) {
  // Short answer to polling address 3: manufacturer 0x26, type 6, 3
  // preambles, revision 5, device id 00 AB CD.
  const uint8_t shortAnswer[] = {0x06, 0x83, 0x00, 14, 0x00, 0x00, 254, 0x26, 0x06, 3, 5, 1, 2, (9 << 3) | 2,
                                 0x01, 0x00, 0xAB, 0xCD, 0x00};
  Command0Answer answer;
  ASSERT_TRUE(ReadCommand0Answer(shortAnswer, sizeof shortAnswer, false, &answer));
  EXPECT_EQ(0x26, answer.manufacturerId);
  EXPECT_EQ(5, answer.universalRevision);
  EXPECT_EQ(9, answer.hardwareRevision);
  EXPECT_EQ(2, answer.physicalSignalling);
  EXPECT_EQ(0xAB, answer.deviceId[1]);
  EXPECT_FALSE(ReadCommand0Answer(shortAnswer, sizeof shortAnswer - 1, false, &answer));
  EXPECT_FALSE(ReadCommand0Answer(shortAnswer, sizeof shortAnswer, true, &answer));  // 23 needed
  EXPECT_EQ(5, ClampPreambles(3));
  EXPECT_EQ(20, ClampPreambles(30));
  EXPECT_EQ(7, ClampPreambles(7));
}

TEST(ChannelIdentification, FoundDeviceReadersGetCopies) {
  FoundDeviceTable table;
  HartDeviceEntry entry;
  entry.deviceId = 0xABCD;
  entry.tag = L"TAG";
  table.Add(entry);
  HartDeviceEntry copy;
  ASSERT_TRUE(table.CopyAt(0, &copy));
  EXPECT_EQ(L"TAG", copy.tag);
  EXPECT_FALSE(table.CopyAt(1, &copy));
  EXPECT_EQ(0, table.Find(0, 0, 0xABCD));
  EXPECT_EQ(-1, table.Find(1, 0, 0xABCD));
  EXPECT_TRUE(table.SetInUse(0, true));
  table.Clear();
  EXPECT_EQ(0u, table.Count());
}

}  // namespace
