// The DTM's one HART channel, reached through IDtmChannel as the controls and
// the frame reach it: handed out only while the DTM has a data set it works
// with (states 7 to 12), and the target of the DTM's child-changed notice.
#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/params/param_info.h"

namespace hartdtmtest {
namespace {

class ChannelContainerTest : public HartDtmFixture {
 protected:
  // The answer of GetChannelCollection, and item VT_I4 1 of the collection
  // as IHART_Channel when there is one.
  HRESULT Channel(com::ComPtr<IHART_Channel>* channel) {
    com::ComPtr<IDtmChannel> channels;
    EXPECT_EQ(S_OK, object.as(channels));
    if (!channels) return E_NOINTERFACE;
    com::ComPtr<IFdtChannelCollection> collection;
    const HRESULT hr = channels->GetChannelCollection(collection.put());
    if (hr != S_OK) {
      EXPECT_FALSE(collection);
      return hr;
    }
    EXPECT_TRUE(collection);
    if (!collection) return E_POINTER;
    com::ComPtr<IDispatch> item;
    EXPECT_EQ(S_OK, collection->get_Item(I4(1).get(), item.put()));
    if (item) {
      EXPECT_EQ(S_OK, channel->queryFrom(item.get()));
    }
    return hr;
  }

  HRESULT ChildChanged() {
    com::ComPtr<IFdtEvents> events;
    EXPECT_EQ(S_OK, object.as(events));
    com::Bstr child(L"child system tag");
    return events ? events->OnChildChanged(child.get()) : E_NOINTERFACE;
  }
};

// A frame that drops the configured DTM without shutting it down, and its
// channel later: the channel does not keep the DTM, answers without it in
// between, and the module unloads once both are gone.
TEST_F(ChannelContainerTest, ChannelKeepsNoDtmTheFrameReleasedWithoutShutdown) {
  Configure();
  com::ComPtr<IHART_Channel> channel;
  ASSERT_EQ(S_OK, Channel(&channel));
  com::ComPtr<IFdtCommunication> communication;
  ASSERT_EQ(S_OK, communication.queryFrom(channel.get()));
  com::Bstr protocols;
  EXPECT_EQ(S_OK, communication->GetSupportedProtocols(protocols.put())) << "owner configured";

  ReleaseDtm();
  // The DTM goes once its workers have let go of it (messages dispatched);
  // the channel then says so instead of reaching it.
  EXPECT_TRUE(PumpUntil([&] {
    protocols.reset();
    return communication->GetSupportedProtocols(protocols.put()) == S_FALSE;
  })) << "the channel keeps the DTM";
  communication.reset();
  channel.reset();
  EXPECT_TRUE(ModuleUnloads()) << "the DTM's module stays loaded";
}

TEST_F(ChannelContainerTest, HandsOutTheHartChannelOnlyInStatesSevenToTwelve) {
  Create();
  com::ComPtr<IHART_Channel> channel;
  EXPECT_EQ(S_FALSE, Channel(&channel)) << "constructed";
  // Without a channel the notice has nowhere to go.
  EXPECT_EQ(E_POINTER, ChildChanged());
  Attach();
  EXPECT_EQ(S_FALSE, Channel(&channel)) << "environment set";

  VARIANT_BOOL ok = VARIANT_FALSE;
  com::Bstr deviceType(DeviceTypeDocument(L"FSK Mavix").c_str());
  ASSERT_EQ(S_OK, dtm->InitNewDeviceType(deviceType.get(), &ok));
  ASSERT_EQ(kDtmInitialised, State());
  EXPECT_EQ(S_OK, Channel(&channel)) << "initialised";
  EXPECT_TRUE(channel);

  com::Bstr user(UserInformation(L"maintenance").c_str());
  ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
  ASSERT_EQ(kDtmConfigured, State());
  com::ComPtr<IHART_Channel> again;
  EXPECT_EQ(S_OK, Channel(&again)) << "configured";
  // One channel object for the life of the data set.
  EXPECT_TRUE(again && again == channel);
  EXPECT_EQ(S_OK, ChildChanged());
}

TEST_F(ChannelContainerTest, ChannelTableNamesTheHartChannel) {
  Configure();
  com::ComPtr<IDtmChannel> channels;
  ASSERT_EQ(S_OK, object.as(channels));
  unsigned long count = 0;
  EXPECT_EQ(S_OK, channels->GetChannelCount(&count));
  EXPECT_EQ(1u, count);
  com::ComPtr<IevFdtChannelContainer4> container;
  ASSERT_EQ(S_OK, object.as(container));
  com::ComPtr<IUnknown> byName;
  EXPECT_EQ(S_OK, container->GetChannelByKey(com::Variant(L"FSK Mavix - HART Channel").value(),
                                             byName.put()));
  com::ComPtr<IHART_Channel> hartChannel;
  EXPECT_EQ(S_OK, hartChannel.queryFrom(byName.get()));
}

// The channel's one parameter, its name, is a text row of the channel (not
// a device value waiting to be read): persisted, with empty limits, which
// are no lengths and so mark it 0x08.
TEST_F(ChannelContainerTest, ChannelNameIsATextRowOfTheChannel) {
  Configure();
  com::ComPtr<IHART_Channel> channel;
  ASSERT_EQ(S_OK, Channel(&channel));
  com::ComPtr<IevFdtParameterInfo> info;
  ASSERT_EQ(S_OK, info.queryFrom(channel.get()));
  auto field = [&](ULONG selector) {
    com::Variant value;
    EXPECT_EQ(S_OK, info->GetParameterInfo(*com::ui4(1009).get(), *com::ui4(selector).get(), value.get()));
    return value;
  };
  com::Variant flags = field(kParFlags), kind = field(kParKind), persist = field(kParPersist);
  ASSERT_EQ(S_OK, flags.changeType(VT_UI4));
  EXPECT_EQ(0x79u, V_UI4(flags.get()));
  ASSERT_EQ(S_OK, kind.changeType(VT_UI4));
  EXPECT_EQ(0u, V_UI4(kind.get()));
  ASSERT_EQ(S_OK, persist.changeType(VT_BOOL));
  EXPECT_NE(VARIANT_FALSE, V_BOOL(persist.get()));
  com::Variant value = field(kParValue);
  ASSERT_EQ(VT_BSTR, V_VT(value.get()));
  EXPECT_STREQ(L"FSK Mavix - HART Channel", V_BSTR(value.get()));
}

}  // namespace
}  // namespace hartdtmtest
