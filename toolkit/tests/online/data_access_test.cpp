// Item lists, reads and writes through the single-instance and the
// single-device data access of the test DTM; the device answers reach the
// frame's sink by dispatch id.
#include <gtest/gtest.h>

#include <msxml2.h>

#include "hostile_documents.h"
#include "online_fixture.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/xml/xml_dom.h"

using dtmtest::PumpUntil;

namespace onlinetest {
namespace {

const wchar_t kHead[] =
    L"<FDT xmlns=\"x-schema:DTMItemListSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";

std::wstring Selection(std::initializer_list<ULONG> ids) {
  std::wstring text = std::wstring(kHead) + L"<DtmItemSelectionList>";
  for (ULONG id : ids) text += L"<DtmItemSelection fdt:id=\"" + std::to_wstring(id) + L"\"/>";
  return text + L"</DtmItemSelectionList></FDT>";
}

// One item of a write request with an fdt:Variant (type and value attribute
// as given, already escaped).
std::wstring WriteItem(ULONG id, const wchar_t* type, const wchar_t* element,
                       const wchar_t* attribute, const std::wstring& value) {
  return L"<DtmItem fdt:id=\"" + std::to_wstring(id) +
         L"\"><TimeStamp fdt:time=\"2024-01-01T00:00:00\"/><fdt:Variant dataType=\"" + type +
         L"\"><fdt:" + element + L" " + attribute + L"=\"" + value + L"\"/></fdt:Variant></DtmItem>";
}

std::wstring Items(const std::wstring& items) {
  return std::wstring(kHead) + L"<DtmItemList>" + items + L"</DtmItemList></FDT>";
}

bool Has(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

// The text of the answer's item with that id, or empty.
std::wstring ItemOf(const std::wstring& answer, ULONG id) {
  const std::wstring open = L"<DtmItem fdt:id=\"" + std::to_wstring(id) + L"\">";
  const size_t start = answer.find(open);
  if (start == std::wstring::npos) return L"";
  return answer.substr(start, answer.find(L"</DtmItem>", start) - start);
}

class DataAccessTest : public OnlineFixture {
 protected:
  void SetUp() override {
    OnlineFixture::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(S_OK, object.as(instance));
  }

  std::wstring InstanceWrite(const std::wstring& request, HRESULT expected = S_OK) {
    com::Bstr text(request.c_str()), answer;
    EXPECT_EQ(expected, instance->Write(text.get(), answer.put()));
    return answer.c_str();
  }
  std::wstring InstanceRead(const std::wstring& request) {
    com::Bstr text(request.c_str()), answer;
    EXPECT_EQ(S_OK, instance->Read(text.get(), answer.put()));
    return answer.c_str();
  }
  // The document of the device answer to that invoke id.
  std::wstring DeviceAnswer(const char* method, const wchar_t* invokeId) {
    std::wstring document;
    PumpUntil([&] {
      for (const auto& call : frame->callsTo(method))
        if (call.arguments.at(0) == invokeId) {
          document = call.arguments.at(1);
          return true;
        }
      return false;
    });
    return document;
  }

  com::ComPtr<IDtmSingleInstanceDataAccess> instance;
};

TEST_F(DataAccessTest, InstanceItemListDescribesTheMarkedParameters) {
  GoOnline();
  com::Bstr list;
  ASSERT_EQ(S_OK, instance->GetItemList(list.put()));
  const std::wstring text = list.c_str();
  EXPECT_TRUE(Has(text, L"<DtmItemInfo fdt:id=\"1\" fdt:name=\"DTM Tag\"")) << text;
  EXPECT_TRUE(Has(text, L"<DtmItemInfo fdt:id=\"500\" fdt:name=\"Device A\" fdt:dataType=\"int\" "
                        L"itemType=\"specific\"  fdt:writeAccess=\"1\">"))
      << text;
  EXPECT_FALSE(Has(text, L"fdt:id=\"2\"")) << text;  // not an item
  EXPECT_TRUE(Has(text, L"<ItemKind itemKind=\"others\" />")) << text;
  EXPECT_TRUE(Has(text, L"<fdt:NumberData number=\"-1000\" />")) << text;
  EXPECT_TRUE(Has(text, L"\t</DtmItemInfoList>\n</FDT>\n")) << text;
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL created = VARIANT_FALSE;
  ASSERT_EQ(S_OK, XmlCreateAndLoad(text.c_str(), doc.put(), &created));
  com::ComPtr<IXMLDOMElement> root;
  EXPECT_EQ(S_OK, doc->get_documentElement(root.put()));
}

TEST_F(DataAccessTest, InstanceWriteAndReadEscapeTheTagAndAnswerUnknownIds) {
  GoOnline();
  frame->clearCalls();
  const std::wstring answer = InstanceWrite(
      Items(WriteItem(1, L"ascii", L"StringData", L"string", L"a&amp;&lt;&quot;b") +
            WriteItem(999, L"int", L"NumberData", L"number", L"5")));
  const std::wstring tag = ItemOf(answer, 1);
  EXPECT_TRUE(Has(tag, L"qualityBits=\"good\"")) << answer;
  EXPECT_TRUE(Has(tag, L"string=\"a&amp;&lt;&quot;b\"")) << answer;
  EXPECT_TRUE(Has(ItemOf(answer, 999), L"itemErrorDescription=\"invalidValue\"")) << answer;
  EXPECT_EQ(1u, CallCount("LockDataSet"));
  // Changed under the frame's lock, the data set keeps it until saved.
  EXPECT_EQ(0u, CallCount("UnlockDataSet"));
  SaveDataSet();
  EXPECT_EQ(1u, CallCount("UnlockDataSet"));

  // The answer is a document whose string reads back unchanged.
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL created = VARIANT_FALSE;
  ASSERT_EQ(S_OK, XmlCreateAndLoad(answer.c_str(), doc.put(), &created));
  doc->setProperty(com::Bstr(L"SelectionLanguage").get(), com::Variant(L"XPath").value());
  com::Bstr value;
  ASSERT_EQ(S_OK, XmlGetNodeText(doc.get(), L"//*[local-name()='StringData']/@string", value.put()));
  EXPECT_STREQ(L"a&<\"b", value.c_str());

  const std::wstring read = InstanceRead(Selection({1, 999}));
  EXPECT_TRUE(Has(ItemOf(read, 1), L"string=\"a&amp;&lt;&quot;b\"")) << read;
  EXPECT_TRUE(Has(ItemOf(read, 999), L"invalidValue")) << read;
  EXPECT_TRUE(Has(ItemOf(read, 999), L"qualityBits=\"bad\"")) << read;
}

TEST_F(DataAccessTest, InstanceWriteWithoutTheLockAnswersNoLockAndChangesNothing) {
  GoOnline();
  frame->setBoolAnswer("LockDataSet", VARIANT_FALSE);
  const std::wstring answer =
      InstanceWrite(Items(WriteItem(1, L"ascii", L"StringData", L"string", L"changed")));
  const std::wstring item = ItemOf(answer, 1);
  EXPECT_TRUE(Has(item, L"itemErrorDescription=\"noLock\"")) << answer;
  EXPECT_TRUE(Has(item, L"qualityBits=\"bad\"")) << answer;
  EXPECT_TRUE(Has(item, L"fdt:time=\"2024-01-01T00:00:00\"")) << answer;  // the request's own
  EXPECT_FALSE(Has(InstanceRead(Selection({1})), L"changed"));
  // Not even an unreadable request is answered without its document.
  com::Bstr bad(L"<FDT"), out;
  EXPECT_EQ(S_FALSE, instance->Write(bad.get(), out.put()));
  EXPECT_EQ(nullptr, out.get());
}

// Requests that declare a document type are refused as unreadable ones,
// without their entity ever being expanded; nothing is written.
TEST_F(DataAccessTest, RequestsDeclaringADocumentTypeAreRefusedUnread) {
  GoOnline();
  const std::wstring write = testsupport::WithEntityBomb(
      Items(WriteItem(1, L"ascii", L"StringData", L"string", L"{BOMB}")));
  const std::wstring read = testsupport::WithEntityBomb(
      std::wstring(kHead) + L"<DtmItemSelectionList><DtmItemSelection fdt:id=\"1\" name=\"{BOMB}\"/>"
                            L"</DtmItemSelectionList></FDT>");
  for (const std::wstring* request : {&write, &read}) {
    com::Bstr text(request->c_str()), out;
    const HRESULT hr = request == &write ? instance->Write(text.get(), out.put())
                                         : instance->Read(text.get(), out.put());
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(nullptr, out.get());
  }
  EXPECT_FALSE(Has(InstanceRead(Selection({1})), L"AAAA"));
}

// The device answers with an agile frame and with a single-threaded one.
class DeviceDataAccessTest : public DataAccessTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    agileFrame = GetParam();
    DataAccessTest::SetUp();
  }
};

TEST_P(DeviceDataAccessTest, DeviceItemListReadAndWriteAnswerThroughTheFrameSink) {
  GoOnline();
  com::ComPtr<IDtmSingleDeviceDataAccess> device;
  ASSERT_EQ(S_OK, object.as(device));
  TestDeviceScript script;
  script.delayMs = 5;
  script.failingIds[0] = 503;
  script.failingCount = 1;
  Script(script);

  com::Bstr listId(L"list-1");
  ASSERT_EQ(S_OK, device->ItemListRequest(listId.get()));
  const std::wstring list = DeviceAnswer("OnItemListResponse", L"list-1");
  EXPECT_TRUE(Has(list, L"fdt:id=\"504\"")) << list;
  EXPECT_FALSE(Has(list, L"fdt:id=\"1\"")) << list;

  com::Bstr readId(L"read-1"), selection(Selection({500, 503, 1, 999}).c_str());
  ASSERT_EQ(S_OK, device->ReadRequest(readId.get(), selection.get()));
  const std::wstring read = DeviceAnswer("OnReadResponse", L"read-1");
  EXPECT_TRUE(Has(ItemOf(read, 500), L"number=\"10\"")) << read;
  EXPECT_TRUE(Has(ItemOf(read, 503), L"invalidValue")) << read;  // the device failed
  EXPECT_TRUE(Has(ItemOf(read, 1), L"invalidValue")) << read;    // not a device value
  EXPECT_TRUE(Has(ItemOf(read, 999), L"invalidValue")) << read;  // no such item

  com::Bstr writeId(L"write-1"),
      values(Items(WriteItem(502, L"int", L"NumberData", L"number", L"77") +
                   WriteItem(503, L"int", L"NumberData", L"number", L"5"))
                 .c_str());
  ASSERT_EQ(S_OK, device->WriteRequest(writeId.get(), values.get()));
  const std::wstring written = DeviceAnswer("OnWriteResponse", L"write-1");
  EXPECT_TRUE(Has(ItemOf(written, 502), L"number=\"77\"")) << written;
  EXPECT_TRUE(Has(ItemOf(written, 502), L"qualityBits=\"good\"")) << written;
  EXPECT_TRUE(Has(ItemOf(written, 503), L"invalidValue")) << written;
  EXPECT_EQ(std::vector<ULONG>{502}, DeviceWrites());
  // Every answer came through the sink's dispatch interface, sent in the
  // DTM's apartment (the worker reaches the DTM's handler through a proxy).
  for (const char* method : {"OnItemListResponse", "OnReadResponse", "OnWriteResponse"}) {
    const auto calls = frame->callsTo(method);
    ASSERT_EQ(1u, calls.size()) << method;
    EXPECT_EQ("IDeviceDataAccessEvents", calls[0].interfaceName);
    EXPECT_EQ(::GetCurrentThreadId(), calls[0].threadId);
  }
}

INSTANTIATE_TEST_SUITE_P(Frames, DeviceDataAccessTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Agile" : "SingleThreaded");
                         });

// No item goes unanswered and no request: a value that does not read (not a
// number, a type FDT does not name, no value at all) is answered
// invalidValue, and a device item list that cannot be built is answered as
// a list without items.
TEST_F(DataAccessTest, UnreadableValuesAndAListThatCannotBeBuiltAreAnswered) {
  GoOnline();
  const std::wstring instanceAnswer =
      InstanceWrite(Items(WriteItem(500, L"int", L"NumberData", L"number", L"seven") +
                          WriteItem(501, L"complex", L"NumberData", L"number", L"7")));
  for (ULONG id : {500u, 501u}) {
    EXPECT_TRUE(Has(ItemOf(instanceAnswer, id), L"itemErrorDescription=\"invalidValue\"")) << instanceAnswer;
    EXPECT_TRUE(Has(ItemOf(instanceAnswer, id), L"qualityBits=\"bad\"")) << instanceAnswer;
  }

  com::ComPtr<IDtmSingleDeviceDataAccess> device;
  ASSERT_EQ(S_OK, object.as(device));
  com::Bstr writeId(L"write-9"),
      values(Items(WriteItem(502, L"int", L"NumberData", L"number", L"seven") +
                   L"<DtmItem fdt:id=\"503\"><TimeStamp fdt:time=\"2024-01-01T00:00:00\"/></DtmItem>")
                 .c_str());
  ASSERT_EQ(S_OK, device->WriteRequest(writeId.get(), values.get()));
  const std::wstring written = DeviceAnswer("OnWriteResponse", L"write-9");
  EXPECT_TRUE(Has(ItemOf(written, 502), L"itemErrorDescription=\"invalidValue\"")) << written;
  EXPECT_TRUE(Has(ItemOf(written, 503), L"itemErrorDescription=\"invalidValue\"")) << written;
  EXPECT_TRUE(DeviceWrites().empty());

  TestDeviceScript script;
  script.parameterCountFails = true;
  Script(script);
  com::Bstr listId(L"list-9");
  ASSERT_EQ(S_OK, device->ItemListRequest(listId.get()));
  const std::wstring list = DeviceAnswer("OnItemListResponse", L"list-9");
  Script(TestDeviceScript());
  EXPECT_TRUE(Has(list, L"<DtmItemInfoList>\n\t</DtmItemInfoList>\n</FDT>\n")) << list;
}

TEST_F(DataAccessTest, InstanceWriteTakesNoValueTheValidationMarksInvalid) {
  GoOnline();
  const std::wstring valid =
      InstanceWrite(Items(WriteItem(500, L"int", L"NumberData", L"number", L"7")));
  EXPECT_TRUE(Has(ItemOf(valid, 500), L"number=\"7\"")) << valid;
  // Outside -1000..1000: refused, the data set keeps 7.
  const std::wstring invalid =
      InstanceWrite(Items(WriteItem(500, L"int", L"NumberData", L"number", L"5000")));
  EXPECT_TRUE(Has(ItemOf(invalid, 500), L"itemErrorDescription=\"invalidValue\"")) << invalid;
  EXPECT_EQ(7, Value(500));
}

TEST_F(DataAccessTest, DeviceRequestsOvertakenByAStateChangeAreAnsweredOnce) {
  GoOnline();
  com::ComPtr<IDtmSingleDeviceDataAccess> device;
  ASSERT_EQ(S_OK, object.as(device));
  com::Bstr listId(L"list-2"), readId(L"read-2"), selection(Selection({500}).c_str());
  com::Bstr writeId(L"write-2"),
      values(Items(WriteItem(501, L"int", L"NumberData", L"number", L"9")).c_str());
  // Posted while the worker is still busy with the item list: by the time
  // they run, the DTM is no longer online (nor in a state that takes them).
  frame->duringNextCall("OnItemListResponse", [&] {
    EXPECT_EQ(S_OK, device->ReadRequest(readId.get(), selection.get()));
    EXPECT_EQ(S_OK, device->WriteRequest(writeId.get(), values.get()));
    EXPECT_EQ(S_OK, base->SetState(kDtmConfigured));
  });
  ASSERT_EQ(S_OK, device->ItemListRequest(listId.get()));

  const std::wstring read = DeviceAnswer("OnReadResponse", L"read-2");
  EXPECT_TRUE(Has(ItemOf(read, 500), L"invalidValue")) << read;
  const std::wstring written = DeviceAnswer("OnWriteResponse", L"write-2");
  EXPECT_TRUE(Has(ItemOf(written, 501), L"invalidValue")) << written;
  EXPECT_TRUE(DeviceWrites().empty());
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(1u, CallCount("OnReadResponse"));
  EXPECT_EQ(1u, CallCount("OnWriteResponse"));
}

TEST_F(DataAccessTest, DeviceRequestInCommunicationSetIsAnsweredAtOnce) {
  GoOnline();
  ASSERT_EQ(S_OK, base->SetState(kDtmCommunicationSet));
  com::ComPtr<IDtmSingleDeviceDataAccess> device;
  ASSERT_EQ(S_OK, object.as(device));
  com::Bstr readId(L"read-3"), selection(Selection({500}).c_str());
  ASSERT_EQ(S_OK, device->ReadRequest(readId.get(), selection.get()));
  // The worker that would take the DTM online is the one running the
  // request: it is answered as out of reach, without waiting for itself.
  const std::wstring read = DeviceAnswer("OnReadResponse", L"read-3");
  EXPECT_TRUE(Has(ItemOf(read, 500), L"invalidValue")) << read;
  EXPECT_EQ(kDtmCommunicationSet, State());
}

TEST_F(DataAccessTest, DeviceWriteIsNotConfirmedByAReadBackTheDeviceNeverCompleted) {
  GoOnline();
  com::ComPtr<IDtmSingleDeviceDataAccess> device;
  ASSERT_EQ(S_OK, object.as(device));
  TestDeviceScript script;
  script.unansweredReadIds[0] = 502;
  script.unansweredReadCount = 1;
  Script(script);
  com::Bstr writeId(L"write-3"),
      values(Items(WriteItem(502, L"int", L"NumberData", L"number", L"77")).c_str());
  ASSERT_EQ(S_OK, device->WriteRequest(writeId.get(), values.get()));
  // The write completed, its read-back did not: the write's own completion
  // of the same id does not answer for the read.
  const std::wstring written = DeviceAnswer("OnWriteResponse", L"write-3");
  EXPECT_TRUE(Has(ItemOf(written, 502), L"invalidValue")) << written;
  EXPECT_EQ(std::vector<ULONG>{502}, DeviceWrites());
}

TEST_F(DataAccessTest, ObserversAndWrongStatesAreRefused) {
  Configure(L"observer");
  com::ComPtr<IDtmSingleDeviceDataAccess> device;
  ASSERT_EQ(S_OK, object.as(device));
  com::Bstr id(L"x"), selection(Selection({500}).c_str()), out;
  EXPECT_EQ(S_FALSE, device->ItemListRequest(id.get()));
  EXPECT_EQ(S_FALSE, device->ReadRequest(id.get(), selection.get()));
  EXPECT_EQ(S_FALSE, instance->GetItemList(out.put()));
  EXPECT_EQ(S_FALSE, instance->Read(selection.get(), out.put()));
  EXPECT_EQ(nullptr, out.get());
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(0u, CallCount("OnItemListResponse"));
}

}  // namespace
}  // namespace onlinetest
