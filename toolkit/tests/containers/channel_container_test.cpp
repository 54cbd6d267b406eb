// The channel container on the test DTM with its test channel: the channel
// of a new data set, the collection and documents for the frame, channels
// added and removed at run time, module channels, channels that leave the
// list, going online, and the end of connections at release, including a
// channel that answers after the wait ended.
#include <string>
#include <vector>

#include "channel_test_support.h"
#include "com/Variant.h"
#include "dtm_test_support.h"
#include "test_dtm_ids.h"
#include "toolkit/dtm/dtm_states.h"

namespace dtmtest {
namespace {

namespace key = channel_test_key;

class ChannelContainerTest : public DtmFixture {
 protected:
  com::ComPtr<IevFdtBaseChannel> Channel(const wchar_t* name = kTestChannelName) {
    return ChannelNamed(object.get(), name);
  }
  void GoOnline() {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
    ASSERT_EQ(VARIANT_TRUE, ok);
    ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
  }
  // Back from online to configured, then shut down.
  void Finish() {
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (State() == kDtmOnline) {
      ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
      ASSERT_EQ(VARIANT_TRUE, ok);
      ASSERT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
    }
    if (State() == kDtmCommunicationSet) {
      ASSERT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
    }
    ASSERT_EQ(S_OK, dtm->ShutdownDtm(&ok));
    EXPECT_EQ(VARIANT_TRUE, ok);
  }
  com::ComPtr<IevFdtChannelManagement> Management() {
    com::ComPtr<IevFdtChannelManagement> management;
    EXPECT_EQ(S_OK, object.as(management));
    return management;
  }
  void AddChannel(const wchar_t* name) {
    com::Bstr channelName(name), classText(kTestChannelClassText);
    VARIANT_BOOL added = VARIANT_FALSE;
    ASSERT_EQ(S_OK, Management()->AddChannelByClass(channelName.get(), classText.get(), &added));
    ASSERT_EQ(VARIANT_TRUE, added);
  }
  HRESULT RemoveChannel(const wchar_t* name) {
    com::Bstr channelName(name);
    VARIANT_BOOL removed = VARIANT_FALSE;
    HRESULT hr = Management()->RemoveChannelByName(channelName.get(), &removed);
    EXPECT_EQ(hr == S_OK ? VARIANT_TRUE : VARIANT_FALSE, removed);
    return hr;
  }
  void SetChildList(const wchar_t* name, const wchar_t* list) {
    frame->setChildNodes(std::wstring(tag.c_str()) + L"/" + name, list);
  }
  static size_t Heard(IevFdtBaseChannel* channel, const wchar_t* entry) {
    const std::wstring log = ChannelLog(channel);
    size_t count = 0;
    for (size_t at = log.find(entry); at != std::wstring::npos; at = log.find(entry, at + 1))
      ++count;
    return count;
  }
  std::wstring References() {
    com::ComPtr<IevFdtChannelContainer4> container;
    EXPECT_EQ(S_OK, object.as(container));
    com::Bstr references;
    EXPECT_EQ(S_OK, container->GetChannelReferences(references.put()));
    return references.c_str();
  }
};

TEST_F(ChannelContainerTest, NewDataSetCreatesTheTableChannelAndAttachesItWithItsDtm) {
  AttachNew();
  com::ComPtr<IevFdtBaseChannel> channel = Channel();
  ASSERT_TRUE(channel);
  EXPECT_EQ(L"InitNew", ChannelLog(channel.get()));
  EXPECT_EQ(1u, ChannelCount(object.get()));

  VARIANT_BOOL ok = VARIANT_FALSE;
  com::Bstr deviceType(kTestDeviceTypeDocument), user(UserInformation(L"maintenance").c_str());
  ASSERT_EQ(S_OK, dtm->InitNewDeviceType(deviceType.get(), &ok));
  ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
  ASSERT_EQ(kDtmConfigured, State());
  channel = Channel();
  ASSERT_TRUE(channel);
  // Attached once the device type is known: its DTM, frame, name, language.
  EXPECT_EQ(0u, ChannelLog(channel.get())
                    .find(L"InitNew|Initialize|SetOwner|SetChannelTag Channel <1>|event 9984"))
      << ChannelLog(channel.get());
  EXPECT_EQ(std::wstring::npos, ChannelLog(channel.get()).find(L"event 10006"));  // an FDT 1.2 frame
  com::Bstr channelTag;
  ASSERT_EQ(S_OK, channel->GetChannelTag(channelTag.put()));
  EXPECT_STREQ(kTestChannelName, channelTag.c_str());

  // The frame's collection: Count, Item by 1-based index and by name, _NewEnum.
  com::ComPtr<IDtmChannel> channels;
  ASSERT_EQ(S_OK, object.as(channels));
  com::ComPtr<IFdtChannelCollection> collection;
  ASSERT_EQ(S_OK, channels->GetChannelCollection(collection.put()));
  ASSERT_TRUE(collection);
  long count = 0;
  ASSERT_EQ(S_OK, collection->get_Count(&count));
  EXPECT_EQ(1, count);
  com::Variant first(LONG{1}), byName(kTestChannelName), beyond(LONG{2}), zero(LONG{0});
  com::ComPtr<IDispatch> item, named, none;
  ASSERT_EQ(S_OK, collection->get_Item(first.get(), item.put()));
  ASSERT_EQ(S_OK, collection->get_Item(byName.get(), named.put()));
  EXPECT_TRUE(SameObject(item.get(), channel.get()));
  EXPECT_TRUE(SameObject(named.get(), channel.get()));
  EXPECT_TRUE(FAILED(collection->get_Item(beyond.get(), none.put())));
  EXPECT_TRUE(FAILED(collection->get_Item(zero.get(), none.put())));
  com::ComPtr<IUnknown> enumeratorObject;
  ASSERT_EQ(S_OK, collection->get__NewEnum(enumeratorObject.put()));
  com::ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(S_OK, enumeratorObject.as(items));
  com::Variant fetched;
  ULONG n = 0;
  ASSERT_EQ(S_OK, items->Next(1, fetched.put(), &n));
  ASSERT_EQ(VT_DISPATCH, fetched.type());
  EXPECT_TRUE(SameObject(V_DISPATCH(fetched.get()), channel.get()));

  // Channel references and the channel list for the frame (name escaped).
  EXPECT_EQ(L"<fdt:ChannelReferences> <fdt:ChannelReference idref = \"Channel &lt;1&gt;\" /> "
            L"</fdt:ChannelReferences>",
            References());
  com::Bstr list, topology;
  ASSERT_EQ(S_OK, channels->GetChannels(list.put(), topology.put()));
  EXPECT_EQ(References(), list.c_str());
  EXPECT_EQ(nullptr, topology.get());
  Finish();
  EXPECT_EQ(0u, ChannelCount(object.get()));
}

TEST_F(ChannelContainerTest, FrameOfVersion121GetsTheChannelInformationInItsReferences) {
  Configure(L"maintenance", /*fdt121=*/true);
  // The channel, attached after the frame declared its version, is told.
  EXPECT_NE(std::wstring::npos,
            ChannelLog(Channel().get()).find(L"SetChannelTag Channel <1>|event 9984|event 10006"))
      << ChannelLog(Channel().get());
  EXPECT_EQ(L"<fdt:ChannelReferences> <fdt:ChannelReference idref = \"Channel &lt;1&gt;\" >" +
                std::wstring(kTestChannelInformation) +
                L"</fdt:ChannelReference> </fdt:ChannelReferences>",
            References());
  // The collection is offered only from state 7 on.
  Finish();
  com::ComPtr<IDtmChannel> channels;
  ASSERT_EQ(S_OK, object.as(channels));
  com::ComPtr<IFdtChannelCollection> collection;
  EXPECT_EQ(S_FALSE, channels->GetChannelCollection(collection.put()));
}

TEST_F(ChannelContainerTest, ChannelsAreAddedAndRemovedAtRunTimeOnlyWhenAllowed) {
  Configure();
  com::ComPtr<IevFdtChannelManagement> management;
  ASSERT_EQ(S_OK, object.as(management));
  com::Bstr second(L"Second"), ours(kTestChannelClassText), existing(kTestChannelName);
  VARIANT_BOOL done = VARIANT_FALSE;

  // A name that exists, a class outside the channel table, a malformed id.
  EXPECT_EQ(S_FALSE, management->AddChannelByClass(existing.get(), ours.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  com::Bstr foreign(L"0C7E5B52-2F0B-4E4C-9E5D-6B8F31A7C4D1");  // the DTM's own class
  EXPECT_EQ(E_ACCESSDENIED, management->AddChannelByClass(second.get(), foreign.get(), &done));
  com::Bstr braced(L"{3E9A4C71-5B2D-4F08-8C6E-91D7A2B4F530}");
  EXPECT_EQ(E_INVALIDARG, management->AddChannelByClass(second.get(), braced.get(), &done));
  EXPECT_EQ(1u, ChannelCount(object.get()));

  ASSERT_EQ(S_OK, management->AddChannelByClass(second.get(), ours.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(2u, ChannelCount(object.get()));
  com::ComPtr<IevFdtBaseChannel> added = Channel(L"Second");
  ASSERT_TRUE(added);
  EXPECT_EQ(L"Initialize|SetOwner|SetChannelTag Second|event 9984", ChannelLog(added.get()));

  // State bits: 1 for a channel, 2 more while the frame has children under it.
  com::ComPtr<IDtmChannel> channels;
  ASSERT_EQ(S_OK, object.as(channels));
  frame->setChildNodes(std::wstring(tag.c_str()) + L"/Second", L"<FDT/>");
  long bits = -1;
  com::Bstr unknown(L"Third");
  ASSERT_EQ(S_OK, channels->GetChannelState(unknown.get(), &bits));
  EXPECT_EQ(0, bits);
  ASSERT_EQ(S_OK, channels->GetChannelState(second.get(), &bits));
  EXPECT_EQ(1, bits);
  frame->setChildNodes(std::wstring(tag.c_str()) + L"/Second",
                       L"<FDT><DtmChildList><DtmSystemTagList><DtmSystemTag tag=\"x\"/>"
                       L"</DtmSystemTagList></DtmChildList></FDT>");
  ASSERT_EQ(S_OK, channels->GetChannelState(second.get(), &bits));
  EXPECT_EQ(3, bits);
  EXPECT_EQ(S_FALSE, management->RemoveChannelByName(second.get(), &done));
  EXPECT_EQ(2u, ChannelCount(object.get()));

  frame->setChildNodes(std::wstring(tag.c_str()) + L"/Second", L"<FDT/>");
  ASSERT_EQ(S_OK, management->RemoveChannelByName(second.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(1u, ChannelCount(object.get()));
  EXPECT_EQ(S_FALSE, management->RemoveChannelByName(second.get(), &done));
  Finish();
}

TEST_F(ChannelContainerTest, ChannelDocumentsTravelBetweenTheFrameAndTheChannels) {
  Configure();
  com::ComPtr<IevFdtBaseChannel> channel = Channel();
  ASSERT_TRUE(channel);
  PostToChannel(channel.get(), key::kValue, 77);
  com::ComPtr<IevFdtChannelPersist> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  // Unmodified channels add no document; the [out] slot is set all the same
  // (whatever it held is not the container's, to read or to free).
  com::Bstr document;
  BSTR slot = reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0x5A5A5A5A));
  ASSERT_EQ(S_OK, persist->SaveChannelCollection(&slot));
  EXPECT_EQ(nullptr, slot);

  ASSERT_EQ(S_OK, persist->SetChannelsModified(VARIANT_TRUE));
  com::ComPtr<IevFdtStorageState> storage;
  ASSERT_EQ(S_OK, object.as(storage));
  ASSERT_EQ(S_OK, storage->SetModified(0));
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnParameterChanged").size() == 1; }));
  const std::wstring sent = frame->callsTo("OnParameterChanged")[0].arguments.at(1);
  const std::wstring expected = L"<ChannelCollection> <Channel name =\"Channel &lt;1&gt;\" clsid =\"" +
                                std::wstring(kTestChannelClassText) +
                                L"\"> \r\n\t<PARAMETERS><P id=\"1\">77</P></PARAMETERS> </Channel> "
                                L"</ChannelCollection> ";
  EXPECT_NE(std::wstring::npos, sent.find(expected)) << sent;
  // The saved state clears the mark: the next notice carries no channels.
  ASSERT_EQ(S_OK, persist->SaveChannelCollection(document.put()));
  EXPECT_EQ(nullptr, document.get());

  // The frame's parameter notice of another DTM's channels reaches the
  // channel's import.
  com::ComPtr<IFdtEvents> events;
  ASSERT_EQ(S_OK, object.as(events));
  com::Bstr notice(
      L"<?xml version=\"1.0\"?><OnParameterChangedDocument><ChannelCollection>"
      L"<Channel name=\"Channel &lt;1&gt;\" clsid=\"3E9A4C71-5B2D-4F08-8C6E-91D7A2B4F530\">"
      L"<PARAMETERS><P id=\"1\">5</P></PARAMETERS></Channel></ChannelCollection>"
      L"</OnParameterChangedDocument>");
  ASSERT_EQ(S_OK, events->OnParameterChanged(tag.get(), notice.get()));
  const std::wstring log = ChannelLog(channel.get());
  EXPECT_NE(std::wstring::npos, log.find(L"import <?xml version=\"1.0\"?> \r\n<PARAMETERS>")) << log;
  Finish();
}

TEST_F(ChannelContainerTest, GoingOnlineAsksTheChannelAndReleaseEndsItsConnections) {
  Configure();
  com::ComPtr<IevFdtBaseChannel> channel = Channel();
  ASSERT_TRUE(channel);
  GoOnline();
  EXPECT_NE(std::wstring::npos, ChannelLog(channel.get()).find(L"request 9986"));

  // With connections the user is asked; "no" keeps them and the DTM online.
  PostToChannel(channel.get(), key::kConnections, 1);
  frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(L"buttonNo")});
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, dtm->PrepareToReleaseCommunication(&ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(kDtmOnline, State());
  ASSERT_EQ(1u, frame->callsTo("UserDialog").size());
  EXPECT_NE(std::wstring::npos, frame->callsTo("UserDialog")[0].arguments.at(1).find(
                                    L"There are active connections to the DTM."));
  EXPECT_EQ(std::wstring::npos, ChannelLog(channel.get()).find(L"request 9989"));

  // "yes": the channel ends its connections and the DTM goes offline.
  frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(L"buttonYes")});
  ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  EXPECT_NE(std::wstring::npos, ChannelLog(channel.get()).find(L"request 9989"));
  EXPECT_EQ(1, ChannelValue(channel.get()));
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
  Finish();
}

TEST_F(ChannelContainerTest, WithoutChannelsGoingOnlineEndsOnline) {
  Configure();
  frame->setChildNodes(std::wstring(tag.c_str()) + L"/" + kTestChannelName, L"<FDT/>");
  com::ComPtr<IevFdtChannelManagement> management;
  ASSERT_EQ(S_OK, object.as(management));
  com::Bstr name(kTestChannelName);
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, management->RemoveChannelByName(name.get(), &done));
  ASSERT_EQ(0u, ChannelCount(object.get()));
  GoOnline();
  Finish();
}

TEST_F(ChannelContainerTest, ChannelThatAnswersAfterTheWaitSignalsAHandleOfItsOwn) {
  Configure();
  com::ComPtr<ITestDtmSettings> settings;
  ASSERT_EQ(S_OK, object.as(settings));
  ASSERT_EQ(S_OK, settings->SetChannelReleaseWait(50));
  com::ComPtr<IevFdtBaseChannel> channel = Channel();
  ASSERT_TRUE(channel);
  GoOnline();
  PostToChannel(channel.get(), key::kConnections, 1);
  PostToChannel(channel.get(), key::kHoldSignal, 1);

  // The wait ends without the signal; the release goes on.
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  // Handles opened now may take the closed event's value.
  std::vector<win32::UniqueHandle> reused;
  for (int i = 0; i < 8; ++i) reused.emplace_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr));

  // Signalled later, the channel's own duplicate is still valid, and none
  // of the new handles was touched.
  PostToChannel(channel.get(), key::kLetSignalGo, 1);
  EXPECT_EQ(1, ChannelValue(channel.get()));
  for (const auto& handle : reused) EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(handle.get(), 0));

  // The worker found the connections still open and kept the DTM online;
  // now they are gone, the release ends them.
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline || State() == kDtmCommunicationSet; }));
  Finish();
}

TEST_F(ChannelContainerTest, DataSetIsReleasedOnlyWhenEveryChannelAgrees) {
  Configure();
  com::ComPtr<IevFdtBaseChannel> channel = Channel();
  ASSERT_TRUE(channel);
  PostToChannel(channel.get(), key::kConnections, 1);
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, dtm->ShutdownDtm(&ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(kDtmConfigured, State());
  EXPECT_EQ(1u, ChannelCount(object.get()));

  PostToChannel(channel.get(), key::kConnections, 0);
  ASSERT_EQ(S_OK, dtm->ShutdownDtm(&ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  EXPECT_EQ(0u, ChannelCount(object.get()));
}

TEST_F(ChannelContainerTest, EveryChannelThatLeavesTheListHearsThatItsDtmIsGone) {
  Configure();
  com::ComPtr<IevFdtBaseChannel> first = Channel();
  ASSERT_TRUE(first);
  // Removed at run time: only the removed channel hears it.
  AddChannel(L"Second");
  com::ComPtr<IevFdtBaseChannel> second = Channel(L"Second");
  ASSERT_TRUE(second);
  SetChildList(L"Second", L"<FDT/>");
  ASSERT_EQ(S_OK, RemoveChannel(L"Second"));
  EXPECT_EQ(1u, Heard(second.get(), L"OwnerGone"));
  EXPECT_EQ(0u, Heard(first.get(), L"OwnerGone"));

  // Replaced by a load: the old channel hears it; the new one gets the DTM.
  com::ComPtr<IevFdtStorageState> storage;
  ASSERT_EQ(S_OK, object.as(storage));
  com::ComPtr<IStream> saved = StreamOf({});
  ASSERT_EQ(S_OK, storage->SaveToStream(saved.get()));
  const std::vector<BYTE> bytes = StreamBytes(saved.get());
  ASSERT_EQ(S_OK, storage->LoadFromStream(StreamOf(bytes).get()));
  EXPECT_EQ(1u, Heard(first.get(), L"OwnerGone"));
  com::ComPtr<IevFdtBaseChannel> loaded = Channel();
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(SameObject(loaded.get(), first.get()));
  EXPECT_EQ(1u, Heard(loaded.get(), L"Initialize")) << ChannelLog(loaded.get());

  // A load that fails after the channel section: the channel it replaced
  // hears it, and the copy put back in its place gets the DTM.
  const std::vector<BYTE> truncated(bytes.begin(), bytes.end() - 3);
  EXPECT_TRUE(FAILED(storage->LoadFromStream(StreamOf(truncated).get())));
  EXPECT_EQ(1u, Heard(loaded.get(), L"OwnerGone"));
  com::ComPtr<IevFdtBaseChannel> restored = Channel();
  ASSERT_TRUE(restored);
  EXPECT_FALSE(SameObject(restored.get(), loaded.get()));
  EXPECT_EQ(1u, Heard(restored.get(), L"Initialize")) << ChannelLog(restored.get());
  EXPECT_EQ(0u, Heard(restored.get(), L"OwnerGone"));

  // Shut down: the data set's channels leave with it.
  Finish();
  EXPECT_EQ(0u, ChannelCount(object.get()));
  EXPECT_EQ(1u, Heard(restored.get(), L"OwnerGone"));
}

TEST_F(ChannelContainerTest, ChannelIsRemovedOnlyWhenTheFrameListsNoChildrenUnderIt) {
  Configure();
  AddChannel(L"Second");
  com::ComPtr<IDtmChannel> channels;
  ASSERT_EQ(S_OK, object.as(channels));
  com::Bstr second(L"Second");
  long bits = -1;
  // A list the frame fails to give, or one that does not parse: the
  // children are unknown and the channel stays.
  frame->setResult("GetChildNodes", E_FAIL);
  EXPECT_EQ(E_FAIL, channels->GetChannelState(second.get(), &bits));
  EXPECT_TRUE(FAILED(RemoveChannel(L"Second")));
  frame->setResult("GetChildNodes", S_OK);
  for (const wchar_t* list : {L"", L"not a document", L"<FDT><DtmChildList>"}) {
    SetChildList(L"Second", list);
    EXPECT_EQ(E_FAIL, channels->GetChannelState(second.get(), &bits)) << list;
    EXPECT_TRUE(FAILED(RemoveChannel(L"Second"))) << list;
  }
  EXPECT_EQ(2u, ChannelCount(object.get()));
  com::ComPtr<IevFdtBaseChannel> kept = Channel(L"Second");
  ASSERT_TRUE(kept);
  EXPECT_EQ(0u, Heard(kept.get(), L"OwnerGone"));

  SetChildList(L"Second", L"<FDT/>");
  ASSERT_EQ(S_OK, RemoveChannel(L"Second"));
  EXPECT_EQ(1u, ChannelCount(object.get()));
  Finish();
}

TEST_F(ChannelContainerTest, QuotesInChannelNamesSelectOnlyTheChannelsOwnParameters) {
  Configure();
  const wchar_t kQuoted[] = L"Say \"hi\"";
  // Pasted into the query as it stands, this name would select every
  // channel of the notice.
  const wchar_t kWidening[] = L"x\" or \"1\"=\"1";
  // No XPath literal holds both kinds of quote: never selected.
  const wchar_t kBoth[] = L"It's \"both\"";
  for (const wchar_t* name : {kQuoted, kWidening, kBoth}) AddChannel(name);

  com::ComPtr<IFdtEvents> events;
  ASSERT_EQ(S_OK, object.as(events));
  const std::wstring clsid = kTestChannelClassText;
  com::Bstr notice((L"<?xml version=\"1.0\"?><OnParameterChangedDocument><ChannelCollection>"
                    L"<Channel name=\"Channel &lt;1&gt;\" clsid=\"" + clsid +
                    L"\"><PARAMETERS><P id=\"1\">5</P></PARAMETERS></Channel>"
                    L"<Channel name=\"Say &quot;hi&quot;\" clsid=\"" + clsid +
                    L"\"><PARAMETERS><P id=\"1\">6</P></PARAMETERS></Channel>"
                    L"<Channel name=\"It&apos;s &quot;both&quot;\" clsid=\"" + clsid +
                    L"\"><PARAMETERS><P id=\"1\">7</P></PARAMETERS></Channel>"
                    L"</ChannelCollection></OnParameterChangedDocument>").c_str());
  ASSERT_EQ(S_OK, events->OnParameterChanged(tag.get(), notice.get()));
  const std::wstring quoted = ChannelLog(Channel(kQuoted).get());
  EXPECT_EQ(1u, Heard(Channel(kQuoted).get(), L"import")) << quoted;
  EXPECT_NE(std::wstring::npos, quoted.find(L"<P id=\"1\">6</P>")) << quoted;
  EXPECT_EQ(0u, Heard(Channel(kWidening).get(), L"import")) << ChannelLog(Channel(kWidening).get());
  EXPECT_EQ(0u, Heard(Channel(kBoth).get(), L"import"));
  EXPECT_NE(std::wstring::npos, ChannelLog(Channel().get()).find(L"<P id=\"1\">5</P>"));
  Finish();
}

TEST_F(ChannelContainerTest, ModuleChannelGetsItsModuleAndFormsTheTopology) {
  Configure();
  com::ComPtr<IevFdtStorageState> storage;
  ASSERT_EQ(S_OK, object.as(storage));
  com::ComPtr<IStream> saved = StreamOf({});
  ASSERT_EQ(S_OK, storage->SaveToStream(saved.get()));
  std::vector<BYTE> bytes = StreamBytes(saved.get());
  // The entry's module text (null) and number (0) become "Slot <A>" and 2.
  auto entryTail = [](const std::vector<BYTE>& moduleText, BYTE number) {
    std::vector<BYTE> tail = BstrForm(kTestChannelClassText);
    tail.insert(tail.end(), moduleText.begin(), moduleText.end());
    for (BYTE b : {BYTE{VT_UI4}, BYTE{0}, number, BYTE{0}, BYTE{0}, BYTE{0}}) tail.push_back(b);
    return tail;
  };
  const std::vector<BYTE> plain = entryTail({0, 0, 0, 0}, 0);
  const std::vector<BYTE> module = entryTail(BstrForm(L"Slot <A>"), 2);
  const size_t at = Find(bytes, plain);
  ASSERT_NE(std::wstring::npos, at);
  bytes.erase(bytes.begin() + at, bytes.begin() + at + plain.size());
  bytes.insert(bytes.begin() + at, module.begin(), module.end());
  ASSERT_EQ(S_OK, storage->LoadFromStream(StreamOf(bytes).get()));

  com::ComPtr<IevFdtBaseChannel> channel = Channel();
  ASSERT_TRUE(channel);
  EXPECT_NE(
      std::wstring::npos,
      ChannelLog(channel.get()).find(L"SetChannelTag Channel <1>|event 9984|module Slot <A> 2"))
      << ChannelLog(channel.get());
  // In the topology, not among the plain references.
  com::ComPtr<IDtmChannel> channels;
  ASSERT_EQ(S_OK, object.as(channels));
  com::Bstr list, topology;
  ASSERT_EQ(S_OK, channels->GetChannels(list.put(), topology.put()));
  EXPECT_EQ(nullptr, list.get());
  EXPECT_EQ(L"\t<InternalTopology fdt:readAccess=\"1\" fdt:writeAccess=\"0\">\n"
            L"\t<InternalChannel fdt:readAccess=\"1\" fdt:writeAccess=\"0\">\n"
            L"\t\t<Module moduleId=\"2\" moduleTypeId=\"0\" slot=\"2\" "
            L"configurationData=\"Slot &lt;A&gt;\">\n"
            L"\t\t\t<fdt:VersionInformation\n\t\t\t  name=\"Channel &lt;1&gt;\"\n\t\t\t/>\n"
            L"\t\t\t\t<fdt:ChannelReferences>\n"
            L"<fdt:ChannelReference idref = \"Channel &lt;1&gt;\" />\n"
            L"\t\t\t\t</fdt:ChannelReferences>\n\t\t</Module>\n\t</InternalChannel>\n"
            L"\n\t</InternalTopology>\n",
            std::wstring(topology.c_str() ? topology.c_str() : L""));
  // Saved again, the entry keeps its module.
  com::ComPtr<IStream> again = StreamOf({});
  ASSERT_EQ(S_OK, storage->SaveToStream(again.get()));
  EXPECT_NE(std::wstring::npos, Find(StreamBytes(again.get()), module));
  Finish();
}

}  // namespace
}  // namespace dtmtest
