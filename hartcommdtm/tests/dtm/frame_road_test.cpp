// The road of a frame application through the DTM, on its own
// single-threaded apartment with the simulated adapter behind the channel:
// created by ProgID and taken online, the parameter document, online compare
// and device status, upload and download (asked directly and through the
// DTM's events 49 and 50), the DTM tag through single-instance data access,
// the documentation of a printable function, export and import of the
// parameters once offline, and a late-bound client that finds the channel;
// the parameter document handed back through SetParameters and item values
// of every type written back as read, keeping every value; a single-device
// item list and read answered through the frame's sink.
#include <cwchar>
#include <iterator>
#include <vector>

#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "toolkit/dtm/dtm_states.h"

namespace hartdtmtest {
namespace {

const wchar_t kItemHead[] =
    L"<FDT xmlns=\"x-schema:DTMItemListSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";

bool Has(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

// A value with its type, exact to the last digit.
std::wstring Describe(const com::Variant& value) {
  const VARIANT& v = *value.get();
  wchar_t text[64] = {};
  switch (V_VT(&v)) {
    case VT_BSTR: return L"BSTR " + std::wstring(V_BSTR(&v) ? V_BSTR(&v) : L"");
    case VT_R8: std::swprintf(text, 64, L"R8 %.17g", V_R8(&v)); break;
    case VT_R4: std::swprintf(text, 64, L"R4 %.9g", static_cast<double>(V_R4(&v))); break;
    case VT_BOOL: std::swprintf(text, 64, L"BOOL %d", V_BOOL(&v)); break;
    case VT_UI1: std::swprintf(text, 64, L"UI1 %u", static_cast<unsigned>(V_UI1(&v))); break;
    case VT_I4: std::swprintf(text, 64, L"I4 %ld", static_cast<long>(V_I4(&v))); break;
    case VT_UI4: std::swprintf(text, 64, L"UI4 %lu", static_cast<unsigned long>(V_UI4(&v))); break;
    default: std::swprintf(text, 64, L"vt %u", static_cast<unsigned>(V_VT(&v))); break;
  }
  return text;
}

// The parameter ids of the DTM's table.
const ULONG kEveryParameter[] = {1, 2, 980, 981, 990, 991, 1000, 1001, 1002, 1003, 1004,
                                 1005, 1006, 1007, 1010, 1011, 1012, 1013, 1014, 1015};

// What the DTM's stream holds, as text.
std::string StreamText(IStream* stream) {
  STATSTG stat = {};
  EXPECT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
  std::string text(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
  LARGE_INTEGER start = {};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  if (!text.empty()) stream->Read(&text[0], static_cast<ULONG>(text.size()), &read);
  text.resize(read);
  return text;
}

class FrameRoadTest : public BoundAdapterFixture {
 protected:
  template <class I>
  com::ComPtr<I> Part() {
    com::ComPtr<I> part;
    EXPECT_EQ(S_OK, object.as(part));
    return part;
  }

  // The DTM's notices the frame received, by method. The DTM reaches the
  // frame double's event sink; a frame whose sink is an object apart from
  // its container gets them there.
  std::vector<frame_double::FrameCall> Notices(const char* method, size_t atLeast) {
    frame->waitForCalls(method, atLeast, 20000);
    return frame->callsTo(method);
  }

  // Values of every type the DTM's parameters have (text, byte, boolean,
  // double, unsigned and signed 32-bit) other than their defaults; a double
  // that needs all its 17 digits.
  void SetValuesOfEveryType() {
    com::Variant primaryMaster;
    V_VT(primaryMaster.get()) = VT_BOOL;
    V_BOOL(primaryMaster.get()) = VARIANT_FALSE;
    com::Variant lastScan;
    V_VT(lastScan.get()) = VT_R8;
    V_R8(lastScan.get()) = 123456789.12345679;
    ASSERT_EQ(S_OK, Write(hart_param::kDtmTag, com::Variant(L"Boiler <2> & \"modem\"").value()));
    ASSERT_EQ(S_OK, Write(hart_param::kPreambleCount, UI1(12).value()));
    ASSERT_EQ(S_OK, Write(hart_param::kPrimaryMaster, primaryMaster.value()));
    ASSERT_EQ(S_OK, Write(hart_param::kLastScanTime, lastScan.value()));
    ASSERT_EQ(S_OK, Write(hart_param::kChangeCounter, com::ui4(4000000000u).value()));
    ASSERT_EQ(S_OK, Write(hart_param::kNewAddress, I4(99).value()));
  }

  std::vector<std::wstring> EveryValue() {
    std::vector<std::wstring> values;
    for (ULONG id : kEveryParameter) values.push_back(std::to_wstring(id) + L": " + Describe(Read(id)));
    return values;
  }

  // Offline (communicationSet, 9), then back to configured (8), where
  // export and import are allowed.
  void GoOffline() {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
    ASSERT_EQ(VARIANT_TRUE, ok);
    ASSERT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
    ASSERT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
    ASSERT_TRUE(PumpUntil([&] { return State() == kDtmConfigured; }));
  }
};

TEST_F(FrameRoadTest, ParameterDocumentCompareAndStatusOfTheOnlineDtm) {
  GoOnline();
  com::Bstr path(L""), document;
  ASSERT_EQ(S_OK, Part<IDtmParameter>()->GetParameters(path.get(), document.put()));
  auto doc = Parse(document.c_str(), L"x-schema:DTMParameterSchema.xml");
  EXPECT_EQ(L"FSK Mavix", Select(doc.get(), L"/d:FDT/d:DtmDevice/@fdt:tag"));
  EXPECT_EQ(L"persistent", Select(doc.get(), L"/d:FDT/@fdt:storageState"));
  // The data set's device type, as the frame chose it.
  EXPECT_EQ(L"FSK Mavix",
            Select(doc.get(), L"/d:FDT/fdt:DtmDeviceType/fdt:VersionInformation/@name"));
  EXPECT_EQ(1, Count(doc.get(), L"/d:FDT/d:DtmDevice/fdt:ChannelReferences/fdt:ChannelReference"))
      << document.c_str();
  // Every parameter of this DTM is kept by the DTM alone: none is exported.
  EXPECT_EQ(0, Count(doc.get(), L"//fdt:DtmVariable"));

  auto diagnosis = Part<IDtmOnlineDiagnosis>();
  com::Bstr compare, status;
  ASSERT_EQ(S_OK, diagnosis->OnlineCompare(compare.put()));
  auto compared = Parse(compare.c_str(), L"x-schema:DTMOnlineCompareSchema.xml");
  EXPECT_EQ(L"noComparableData", Select(compared.get(), L"/d:FDT/d:CompareResult/@statusFlag"))
      << compare.c_str();
  ASSERT_EQ(S_OK, diagnosis->GetDeviceStatus(status.put()));
  auto state = Parse(status.c_str(), L"x-schema:DTMDeviceStatusSchema.xml");
  EXPECT_EQ(L"ok", Select(state.get(), L"/d:FDT/d:DtmDeviceStatus/@fdt:statusFlag"));
}

TEST_F(FrameRoadTest, UploadAndDownloadFinishAskedDirectlyAndThroughTheDtmEvents) {
  GoOnline();
  auto online = Part<IDtmOnlineParameter>();
  com::Bstr path(L"/FDT"), up(L"up-1"), down(L"down-1");
  VARIANT_BOOL accepted = VARIANT_FALSE;
  ASSERT_EQ(S_OK, online->UploadRequest(up.get(), path.get(), &accepted));
  EXPECT_EQ(VARIANT_TRUE, accepted);
  auto uploads = Notices("OnUploadFinished", 1);
  ASSERT_EQ(1u, uploads.size());
  EXPECT_EQ((std::vector<std::wstring>{L"up-1", L"true"}), uploads[0].arguments);

  accepted = VARIANT_FALSE;
  ASSERT_EQ(S_OK, online->DownloadRequest(down.get(), path.get(), &accepted));
  EXPECT_EQ(VARIANT_TRUE, accepted);
  auto downloads = Notices("OnDownloadFinished", 1);
  ASSERT_EQ(1u, downloads.size());
  EXPECT_EQ((std::vector<std::wstring>{L"down-1", L"true"}), downloads[0].arguments);

  // The DTM's own parts ask for the same through its events 49 and 50.
  auto events = Part<IevFdtDtmEvents>();
  // One transfer at a time: the second waits for the first to finish.
  EXPECT_EQ(S_OK, events->OnDtmEvent(*com::ui4(49).get(), *com::Variant(L"up-2").get()));
  uploads = Notices("OnUploadFinished", 2);
  ASSERT_EQ(2u, uploads.size());
  EXPECT_EQ((std::vector<std::wstring>{L"up-2", L"true"}), uploads[1].arguments);
  EXPECT_EQ(S_OK, events->OnDtmEvent(*com::ui4(50).get(), *com::Variant(L"down-2").get()));
  downloads = Notices("OnDownloadFinished", 2);
  ASSERT_EQ(2u, downloads.size());
  EXPECT_EQ((std::vector<std::wstring>{L"down-2", L"true"}), downloads[1].arguments);
  EXPECT_TRUE(frame->callsTo("OnErrorMessage").empty());
}

TEST_F(FrameRoadTest, DtmTagReadAndWrittenThroughSingleInstanceDataAccess) {
  GoOnline();
  auto access = Part<IDtmSingleInstanceDataAccess>();
  com::Bstr list;
  ASSERT_EQ(S_OK, access->GetItemList(list.put()));
  auto items = Parse(list.c_str(), L"x-schema:DTMItemListSchema.xml");
  // The tag is the DTM's one item.
  EXPECT_EQ(1, Count(items.get(), L"//d:DtmItemInfo")) << list.c_str();
  EXPECT_EQ(L"DTM Tag", Select(items.get(), L"//d:DtmItemInfo[@fdt:id='1']/@fdt:name"));

  com::Bstr selection((std::wstring(kItemHead) +
                       L"<DtmItemSelectionList><DtmItemSelection fdt:id=\"1\"/>"
                       L"</DtmItemSelectionList></FDT>").c_str());
  com::Bstr values;
  ASSERT_EQ(S_OK, access->Read(selection.get(), values.put()));
  auto read = Parse(values.c_str(), L"x-schema:DTMItemListSchema.xml");
  EXPECT_EQ(L"FSK Mavix",
            Select(read.get(), L"//d:DtmItem[@fdt:id='1']/fdt:Variant/fdt:StringData/@string"))
      << values.c_str();
  EXPECT_EQ(L"good", Select(read.get(), L"//d:DtmItem[@fdt:id='1']/d:Quality/@qualityBits"));

  com::Bstr write((std::wstring(kItemHead) +
                   L"<DtmItemList><DtmItem fdt:id=\"1\"><TimeStamp fdt:time=\"2024-01-01T00:00:00\"/>"
                   L"<fdt:Variant dataType=\"ascii\"><fdt:StringData string=\"Boiler modem\"/>"
                   L"</fdt:Variant></DtmItem></DtmItemList></FDT>").c_str());
  com::Bstr written;
  ASSERT_EQ(S_OK, access->Write(write.get(), written.put()));
  EXPECT_TRUE(Has(written.c_str(), L"string=\"Boiler modem\"")) << written.c_str();
  com::Variant tag = Read(hart_param::kDtmTag);
  ASSERT_EQ(VT_BSTR, tag.type());
  EXPECT_STREQ(L"Boiler modem", V_BSTR(tag.get()));
}

TEST_F(FrameRoadTest, PrintableFunctionDocumentsTheRowsOfItsControl) {
  GoOnline();
  auto documentation = Part<IDtmDocumentation>();
  com::Bstr call(testsupport::FunctionCall(hart_function::kChannelConfiguration).c_str());
  com::Bstr document;
  ASSERT_EQ(S_OK, documentation->GetDocumentation(call.get(), document.put()));
  auto doc = Parse(document.c_str(), L"x-schema:DTMDocumentationSchema.xml");
  EXPECT_EQ(L"Documentation for FSK Mavix DTM", Select(doc.get(), L"/d:FDT/@title"));
  // The rows of the function's control: its two header rows and the four
  // channel settings it edits.
  EXPECT_EQ(6, Count(doc.get(), L"//d:DocumentVariable")) << document.c_str();
  EXPECT_EQ(L"FSK Mavix DTM",
            Select(doc.get(), L"//d:DocumentVariable[@fdt:name='Device (VT_BSTR)']/@fdt:display"));
  EXPECT_EQ(L"15", Select(doc.get(), L"//d:DocumentVariable"
                                     L"[@fdt:name='Maximum address for scanning (VT_UI1)']/@fdt:display"));
  EXPECT_EQ(L"5", Select(doc.get(),
                         L"//d:DocumentVariable[@fdt:name='Preamble Count (VT_UI1)']/@fdt:display"));

  // The device list is not printable: an empty documentation.
  com::Bstr notPrintable(testsupport::FunctionCall(hart_function::kDeviceList).c_str());
  ASSERT_EQ(S_OK, documentation->GetDocumentation(notPrintable.get(), document.put()));
  EXPECT_STREQ(L"", document.c_str());
}

TEST_F(FrameRoadTest, ParametersExportedAndImportedOnceOffline) {
  GoOnline();
  auto transfer = Part<IDtmImportExport>();
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  VARIANT_BOOL done = VARIANT_TRUE;
  // Not while online.
  EXPECT_EQ(S_FALSE, transfer->Export(stream.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);

  GoOffline();
  ASSERT_EQ(S_OK, Write(hart_param::kPreambleCount, UI1(12).value()));
  ASSERT_EQ(S_OK, Write(hart_param::kDtmTag, com::Variant(L"Boiler modem").value()));
  ASSERT_EQ(S_OK, transfer->Export(stream.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  const std::string text = StreamText(stream.get());
  // The parameters the data set keeps, and no other.
  for (const char* id : {"1", "1000", "1001", "1002", "1003", "1015"})
    EXPECT_NE(std::string::npos, text.find(std::string("id    =\"") + id + "\"")) << id;
  EXPECT_EQ(std::string::npos, text.find("id    =\"1005\"")) << text;

  ASSERT_EQ(S_OK, Write(hart_param::kPreambleCount, UI1(7).value()));
  ASSERT_EQ(S_OK, Write(hart_param::kDtmTag, com::Variant(L"other").value()));
  // The frame hands the document back from its start.
  LARGE_INTEGER start = {};
  ASSERT_EQ(S_OK, stream->Seek(start, STREAM_SEEK_SET, nullptr));
  done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, transfer->Import(stream.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  com::Variant preambles = Read(hart_param::kPreambleCount);
  ASSERT_EQ(VT_UI1, preambles.type());
  EXPECT_EQ(12, V_UI1(preambles.get()));
  com::Variant dtmTag = Read(hart_param::kDtmTag);
  ASSERT_EQ(VT_BSTR, dtmTag.type());
  EXPECT_STREQ(L"Boiler modem", V_BSTR(dtmTag.get()));
}

// The frame hands the DTM's parameter document back, as it does after
// editing it or taking it from another data set: nothing changes, and a tag
// the frame changed in the document is taken.
TEST_F(FrameRoadTest, SetParametersTakesTheParameterDocumentBackAndKeepsEveryValue) {
  Configure();
  SetValuesOfEveryType();
  const std::vector<std::wstring> before = EveryValue();
  auto parameter = Part<IDtmParameter>();
  com::Bstr path(L""), document;
  ASSERT_EQ(S_OK, parameter->GetParameters(path.get(), document.put()));
  com::Bstr root(L"/FDT");
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, parameter->SetParameters(root.get(), document.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(before, EveryValue());
  com::Bstr again;
  ASSERT_EQ(S_OK, parameter->GetParameters(path.get(), again.put()));
  auto doc = Parse(again.c_str(), L"x-schema:DTMParameterSchema.xml");
  EXPECT_EQ(L"Boiler <2> & \"modem\"", Select(doc.get(), L"/d:FDT/d:DtmDevice/@fdt:tag")) << again.c_str();

  auto edited = Parse(document.c_str(), L"x-schema:DTMParameterSchema.xml");
  com::ComPtr<IXMLDOMNode> tagAttribute;
  ASSERT_EQ(S_OK, edited->selectSingleNode(com::Bstr(L"/d:FDT/d:DtmDevice/@fdt:tag").get(), tagAttribute.put()));
  ASSERT_EQ(S_OK, tagAttribute->put_text(com::Bstr(L"Feed pump").get()));
  com::Bstr editedText;
  ASSERT_EQ(S_OK, edited->get_xml(editedText.put()));
  done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, parameter->SetParameters(root.get(), editedText.get(), &done)) << editedText.c_str();
  EXPECT_EQ(VARIANT_TRUE, done);
  std::vector<std::wstring> expected = before;
  expected[0] = L"1: BSTR Feed pump";
  EXPECT_EQ(expected, EveryValue());
  EXPECT_TRUE(frame->callsTo("OnErrorMessage").empty());
}

// A frame may read any parameter as an item of the data set and write the
// values back as it read them: every value that has an FDT data type comes
// back unchanged, to the last digit (a boolean has none and is answered
// "invalidValue").
TEST_F(FrameRoadTest, ItemValuesOfEveryTypeWrittenBackAsReadKeepEveryValue) {
  Configure();
  SetValuesOfEveryType();
  const std::vector<std::wstring> before = EveryValue();
  std::wstring selection = std::wstring(kItemHead) + L"<DtmItemSelectionList>";
  for (ULONG id : kEveryParameter) selection += L"<DtmItemSelection fdt:id=\"" + std::to_wstring(id) + L"\"/>";
  selection += L"</DtmItemSelectionList></FDT>";
  auto access = Part<IDtmSingleInstanceDataAccess>();
  com::Bstr values, written;
  ASSERT_EQ(S_OK, access->Read(com::Bstr(selection.c_str()).get(), values.put()));
  auto read = Parse(values.c_str(), L"x-schema:DTMItemListSchema.xml");
  EXPECT_EQ(static_cast<long>(std::size(kEveryParameter)), Count(read.get(), L"//d:DtmItem")) << values.c_str();
  EXPECT_EQ(L"double", Select(read.get(), L"//d:DtmItem[@fdt:id='1004']/fdt:Variant/@dataType")) << values.c_str();
  EXPECT_EQ(L"invalidValue",
            Select(read.get(), L"//d:DtmItem[@fdt:id='1001']//d:ItemErrorDescription/@itemErrorDescription"))
      << values.c_str();

  ASSERT_EQ(S_OK, access->Write(values.get(), written.put()));
  EXPECT_EQ(before, EveryValue()) << values.c_str();
  EXPECT_TRUE(frame->callsTo("OnErrorMessage").empty());
}

// Single-device data access of the DTM created by its ProgID: every request
// is answered once through the frame's IDeviceDataAccessEvents. The DTM
// keeps all its values itself, so the device offers no item and a read
// answers "invalidValue" for each selected id, a known one and an unknown.
TEST_F(FrameRoadTest, SingleDeviceItemListAndReadAreAnsweredThroughTheFramesSink) {
  GoOnline();
  auto device = Part<IDtmSingleDeviceDataAccess>();
  ASSERT_TRUE(device);
  com::Bstr listId(L"list-1");
  ASSERT_EQ(S_OK, device->ItemListRequest(listId.get()));
  auto lists = Notices("OnItemListResponse", 1);
  ASSERT_EQ(1u, lists.size());
  EXPECT_EQ(L"list-1", lists[0].arguments.at(0));
  auto list = Parse(lists[0].arguments.at(1).c_str(), L"x-schema:DTMItemListSchema.xml");
  EXPECT_EQ(0, Count(list.get(), L"//d:DtmItemInfo")) << lists[0].arguments.at(1);

  com::Bstr readId(L"read-1"),
      selection((std::wstring(kItemHead) +
                 L"<DtmItemSelectionList><DtmItemSelection fdt:id=\"1\"/><DtmItemSelection fdt:id=\"4711\"/>"
                 L"</DtmItemSelectionList></FDT>").c_str());
  ASSERT_EQ(S_OK, device->ReadRequest(readId.get(), selection.get()));
  auto reads = Notices("OnReadResponse", 1);
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ("IDeviceDataAccessEvents", reads[0].interfaceName);
  EXPECT_EQ(::GetCurrentThreadId(), reads[0].threadId);
  EXPECT_EQ(L"read-1", reads[0].arguments.at(0));
  const std::wstring& answer = reads[0].arguments.at(1);
  auto items = Parse(answer.c_str(), L"x-schema:DTMItemListSchema.xml");
  EXPECT_EQ(2, Count(items.get(), L"//d:DtmItem")) << answer;
  for (const wchar_t* id : {L"1", L"4711"}) {
    const std::wstring item = std::wstring(L"//d:DtmItem[@fdt:id='") + id + L"']";
    EXPECT_EQ(L"invalidValue", Select(items.get(), (item + L"//d:ItemErrorDescription/@itemErrorDescription").c_str()))
        << id << "\n" << answer;
  }
  EXPECT_EQ(L"good", Select(items.get(), L"//d:DtmItem[@fdt:id='1']/d:Quality/@qualityBits")) << answer;
  EXPECT_EQ(kDtmOnline, State());
}

// A late-bound client knows names only: the channel collection of the DTM's
// IDtmChannel, its Count and its Item by index and by the channel's name.
TEST_F(FrameRoadTest, LateBoundClientFindsTheChannelByName) {
  GoOnline();
  com::ComPtr<IDtmChannel> channels = Part<IDtmChannel>();
  IDispatch* late = channels.get();
  auto idOf = [](IDispatch* target, const wchar_t* name) {
    LPOLESTR text = const_cast<LPOLESTR>(name);
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(S_OK, target->GetIDsOfNames(IID_NULL, &text, 1, LOCALE_USER_DEFAULT, &id)) << name;
    return id;
  };
  auto call = [](IDispatch* target, DISPID id, WORD flags, VARIANT* argument, VARIANT* result) {
    DISPPARAMS params = {argument, nullptr, argument ? 1u : 0u, 0};
    return target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr,
                          nullptr);
  };

  com::Variant collection;
  ASSERT_EQ(S_OK, call(late, idOf(late, L"GetChannelCollection"), DISPATCH_METHOD, nullptr,
                       collection.put()));
  ASSERT_EQ(VT_DISPATCH, collection.type());
  IDispatch* items = V_DISPATCH(collection.get());
  com::Variant count;
  ASSERT_EQ(S_OK, call(items, idOf(items, L"Count"), DISPATCH_PROPERTYGET, nullptr, count.put()));
  ASSERT_EQ(VT_I4, count.type());
  EXPECT_EQ(1, V_I4(count.get()));

  com::Variant first(LONG{1}), byIndex;
  ASSERT_EQ(S_OK, call(items, idOf(items, L"Item"), DISPATCH_PROPERTYGET, first.get(), byIndex.put()));
  ASSERT_EQ(VT_DISPATCH, byIndex.type());
  IDispatch* channel = V_DISPATCH(byIndex.get());
  BSTR name = nullptr;
  com::Variant nameOut;
  V_VT(nameOut.get()) = VT_BYREF | VT_BSTR;
  V_BSTRREF(nameOut.get()) = &name;
  com::Variant none;
  ASSERT_EQ(S_OK, call(channel, idOf(channel, L"GetChannelName"), DISPATCH_METHOD, nameOut.get(),
                       none.put()));
  com::Bstr channelName;
  channelName.attach(name);
  EXPECT_STREQ(L"FSK Mavix - HART Channel", channelName.c_str());

  com::Variant byNameKey(channelName.c_str()), byName;
  ASSERT_EQ(S_OK, call(items, idOf(items, L"Item"), DISPATCH_PROPERTYGET, byNameKey.get(),
                       byName.put()));
  ASSERT_EQ(VT_DISPATCH, byName.type());
  com::ComPtr<IUnknown> a, b;
  channel->QueryInterface(IID_IUnknown, a.putVoid());
  V_DISPATCH(byName.get())->QueryInterface(IID_IUnknown, b.putVoid());
  EXPECT_EQ(a.get(), b.get());
}

}  // namespace
}  // namespace hartdtmtest
