// The channel container on the test DTM with its test channel: the channel
// of a new data set, the collection and documents for the frame, channels
// added and removed at run time, going online, and the end of connections
// at release, including a channel that answers after the wait ended.
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
    if (State() == kDtmCommunicationSet) ASSERT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
    ASSERT_EQ(S_OK, dtm->ShutdownDtm(&ok));
    EXPECT_EQ(VARIANT_TRUE, ok);
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
  // Unmodified channels add no document.
  com::Bstr document;
  ASSERT_EQ(S_OK, persist->SaveChannelCollection(document.put()));
  EXPECT_EQ(nullptr, document.get());

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

}  // namespace
}  // namespace dtmtest
