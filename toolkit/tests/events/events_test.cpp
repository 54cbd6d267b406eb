// The DTM event dispatcher, the per-control parameter-update bookkeeping and
// the frame's events.
#include <gtest/gtest.h>

#include "events_test_dtm.h"
#include "toolkit/values/fdt_variant.h"

using namespace eventstest;

namespace {

constexpr ULONG kAdd = 6, kRelease = 7, kLower = 8;

class DtmEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    holder_ = CreateEventsTestDtm(&dtm);
    ASSERT_NE(nullptr, dtm);
    // Attached DTMs have their schema cache (the test documents name no schema).
    ASSERT_EQ(S_OK, dtm->Xml().InitializeSchemaCache(L"C:\\"));
    ASSERT_TRUE(SUCCEEDED(holder_->QueryInterface(__uuidof(IevFdtDtmEvents), events.putVoid())));
    ASSERT_TRUE(SUCCEEDED(holder_->QueryInterface(__uuidof(IFdtEvents), frameEvents.putVoid())));
  }
  void TearDown() override {
    events = nullptr;
    frameEvents = nullptr;
    holder_ = nullptr;
    ::CoUninitialize();
  }

  HRESULT Raise(ULONG code, const VARIANT& value) {
    return events->OnDtmEvent(*CFdtVariant(code).get(), value);
  }
  HRESULT Raise(ULONG code, const wchar_t* text) { return Raise(code, *com::Variant(text).get()); }
  HRESULT Raise(ULONG code) { return Raise(code, com::Variant().value()); }

  // The posts of the parameter-update commands as "code:id:period".
  std::vector<std::string> UpdatePosts() const {
    std::vector<std::string> out;
    for (const Post& post : dtm->posts) {
      if (post.code >= kAdd && post.code <= kLower) {
        out.push_back(std::to_string(post.code) + ":" + std::to_string(post.parameterId) + ":" +
                      std::to_string(post.period));
      }
    }
    return out;
  }

  EventsTestDtm* dtm = nullptr;
  com::ComPtr<IevFdtDtmEvents> events;
  com::ComPtr<IFdtEvents> frameEvents;

 private:
  com::ComPtr<IUnknown> holder_;
};

com::Variant PackedProgress(const wchar_t* text, LONG percent, bool running) {
  SProgressEvent report;
  report.text.assign(text);
  report.progress = percent;
  report.running = running;
  com::Variant packed;
  report.PackToVariant(packed.get());
  return packed;
}

com::Variant ProgressArray(VARTYPE percentType, const wchar_t* text, bool flag) {
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, 3);
  com::Variant percent, textValue(text), flagValue(flag);
  V_VT(percent.get()) = percentType;
  V_I2(percent.get()) = 40;
  LONG i = 0;
  ::SafeArrayPutElement(array, &i, percent.get());
  i = 1;
  ::SafeArrayPutElement(array, &i, textValue.get());
  i = 2;
  ::SafeArrayPutElement(array, &i, flagValue.get());
  com::Variant out;
  V_VT(out.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(out.get()) = array;
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Dispatch
// ---------------------------------------------------------------------------

TEST_F(DtmEventsTest, CodeMustChangeToUnsignedAndUnknownCodesAnswerFalse) {
  EXPECT_EQ(S_OK, events->OnDtmEvent(*com::Variant(L"4").get(), com::Variant().value()));
  EXPECT_EQ(S_OK, events->OnDtmEvent(*com::Variant(LONG(4)).get(), com::Variant().value()));
  EXPECT_TRUE(FAILED(events->OnDtmEvent(*com::Variant(L"four").get(), com::Variant().value())));
  // State notices come as 64..68; their worker numbers mean nothing here.
  EXPECT_EQ(S_FALSE, Raise(28, com::Variant(LONG(7)).value()));
  EXPECT_EQ(S_FALSE, Raise(0));
  EXPECT_EQ(S_FALSE, Raise(69));
  EXPECT_TRUE(dtm->posts.empty());
  EXPECT_TRUE(dtm->controlMessages.empty());
}

TEST_F(DtmEventsTest, EventsReachTheirHandlers) {
  EXPECT_EQ(S_OK, Raise(9, com::Variant(LONG(1005)).value()));
  EXPECT_EQ(S_OK, Raise(17, L"closed-key"));
  EXPECT_EQ(S_OK, Raise(19, L"channel/1"));
  // Texts reach the user as they are, also outside any ANSI code page.
  EXPECT_EQ(S_OK, Raise(16, L"first message \u03a9\u6d4b"));
  EXPECT_EQ(S_OK, Raise(10004, L"second message"));
  EXPECT_EQ(S_FALSE, Raise(10004, com::Variant(LONG(3)).value()));  // only text is reported
  for (ULONG code = 64; code <= 68; ++code) EXPECT_EQ(S_OK, Raise(code, com::Variant(LONG(8)).value()));

  ASSERT_EQ(3u, dtm->posts.size());
  EXPECT_EQ(9u, dtm->posts[0].code);
  EXPECT_EQ(1005, V_I4(dtm->posts[0].argument.get()));
  EXPECT_EQ(22u, dtm->posts[1].code);
  EXPECT_EQ(VT_BSTR, dtm->posts[1].argument.type());
  EXPECT_STREQ(L"closed-key", V_BSTR(dtm->posts[1].argument.get()));
  EXPECT_EQ(18u, dtm->posts[2].code);
  EXPECT_STREQ(L"channel/1", V_BSTR(dtm->posts[2].argument.get()));
  EXPECT_EQ((std::vector<std::wstring>{L"first message \u03a9\u6d4b", L"second message"}),
            dtm->messages);
  EXPECT_EQ((std::vector<ULONG>{64, 65, 66, 67, 68}), dtm->controlMessages);
}

TEST_F(DtmEventsTest, ProgressReportsBecomeNoticesAndMalformedOnesAreRefused) {
  EXPECT_EQ(S_OK, Raise(18, PackedProgress(L"scan started", 0, false).value()));
  EXPECT_EQ(S_OK, Raise(18, PackedProgress(L"scanning", 55, true).value()));
  EXPECT_EQ(S_OK, Raise(10005, ProgressArray(VT_I2, L"upload", true).value()));

  EXPECT_EQ(E_INVALIDARG, Raise(18, L"not packed"));
  EXPECT_EQ(E_INVALIDARG, Raise(10005, ProgressArray(VT_I4, L"upload", true).value()));
  EXPECT_EQ(E_INVALIDARG, Raise(10005, L"not an array"));

  ASSERT_EQ(3u, dtm->progress.size());
  EXPECT_EQ(L"scan started", dtm->progress[0].text);
  EXPECT_EQ(0, dtm->progress[0].percent);
  EXPECT_EQ(0, dtm->progress[0].flag);
  EXPECT_EQ(L"scanning", dtm->progress[1].text);
  EXPECT_EQ(55, dtm->progress[1].percent);
  EXPECT_EQ(-1, dtm->progress[1].flag);
  EXPECT_EQ(L"upload", dtm->progress[2].text);
  EXPECT_EQ(40, dtm->progress[2].percent);
  EXPECT_EQ(-1, dtm->progress[2].flag);
}

// ---------------------------------------------------------------------------
// Per-control parameter-update bookkeeping
// ---------------------------------------------------------------------------

TEST_F(DtmEventsTest, ControlListIsFollowedByAddLowerAndReleaseRequests) {
  ControlDouble* control = dtm->OpenControl(L"ctl-1");
  control->list = {SParamUpdateInfo(1000, 500), SParamUpdateInfo(1001, 1000)};
  EXPECT_EQ(S_OK, Raise(3, L"ctl-1"));
  EXPECT_EQ((std::vector<std::string>{"6:1000:500", "6:1001:1000"}), UpdatePosts());

  // The same list again posts nothing.
  dtm->posts.clear();
  EXPECT_EQ(S_OK, Raise(3, L"ctl-1"));
  EXPECT_TRUE(UpdatePosts().empty());
  EXPECT_EQ(2, control->asked);

  // One period changed, one record dropped, one added.
  control->list = {SParamUpdateInfo(1000, 250), SParamUpdateInfo(1002, 100)};
  EXPECT_EQ(S_OK, Raise(3, L"ctl-1"));
  EXPECT_EQ((std::vector<std::string>{"8:1000:250", "6:1002:100", "7:1001:1000"}), UpdatePosts());
  auto held = dtm->ControlSubscriptions(L"ctl-1");
  ASSERT_EQ(2u, held.size());
  EXPECT_EQ(1000u, held[0].parameterId);
  EXPECT_EQ(250u, held[0].period);
  EXPECT_EQ(1002u, held[1].parameterId);

  // An empty list releases every stored record and forgets the control.
  dtm->posts.clear();
  control->list.clear();
  EXPECT_EQ(S_OK, Raise(3, L"ctl-1"));
  EXPECT_EQ((std::vector<std::string>{"7:1000:250", "7:1002:100"}), UpdatePosts());
  EXPECT_EQ(0u, dtm->SubscribedControlCount());
}

TEST_F(DtmEventsTest, ClosingOneControlReleasesOnlyItsSubscriptions) {
  dtm->OpenControl(L"left")->list = {SParamUpdateInfo(1000, 500), SParamUpdateInfo(1003, 500)};
  dtm->OpenControl(L"right")->list = {SParamUpdateInfo(1000, 200)};
  EXPECT_EQ(S_OK, Raise(3, L"left"));
  EXPECT_EQ(S_OK, Raise(3, L"right"));
  // The worker counts both subscriptions of 1000.
  EXPECT_EQ((std::vector<std::string>{"6:1000:500", "6:1003:500", "6:1000:200"}), UpdatePosts());
  EXPECT_EQ(2u, dtm->SubscribedControlCount());

  dtm->posts.clear();
  dtm->CloseControl(L"left");
  EXPECT_EQ(S_OK, Raise(2, L"left"));
  EXPECT_EQ((std::vector<std::string>{"7:1000:500", "7:1003:500"}), UpdatePosts());
  EXPECT_TRUE(dtm->ControlSubscriptions(L"left").empty());
  ASSERT_EQ(1u, dtm->ControlSubscriptions(L"right").size());
  EXPECT_EQ(1000u, dtm->ControlSubscriptions(L"right")[0].parameterId);

  // Closing a control that never subscribed posts nothing.
  dtm->posts.clear();
  EXPECT_EQ(S_OK, Raise(2, L"never-opened"));
  EXPECT_TRUE(dtm->posts.empty());
}

TEST_F(DtmEventsTest, ControlIdsDifferingInCaseAreDifferentControls) {
  dtm->OpenControl(L"Ctl")->list = {SParamUpdateInfo(1, 100)};
  dtm->OpenControl(L"ctl")->list = {SParamUpdateInfo(2, 100)};
  EXPECT_EQ(S_OK, Raise(3, L"Ctl"));
  EXPECT_EQ(S_OK, Raise(3, L"ctl"));
  EXPECT_EQ(S_OK, Raise(2, L"CTL"));
  EXPECT_EQ(2u, dtm->SubscribedControlCount());
  EXPECT_EQ(S_OK, Raise(2, L"ctl"));
  EXPECT_EQ(1u, dtm->ControlSubscriptions(L"Ctl").size());
}

TEST_F(DtmEventsTest, OpenedControlGetsTheDataStateThenIsAskedForItsList) {
  dtm->dataState = 2;
  dtm->OpenControl(L"ctl")->list = {SParamUpdateInfo(1000, 500)};
  EXPECT_EQ(S_OK, Raise(1, L"ctl"));
  ASSERT_EQ(1u, dtm->properties.size());
  EXPECT_EQ(9999u, dtm->properties[0].key);
  EXPECT_EQ(VT_UI2, dtm->properties[0].value.type());
  EXPECT_EQ(2, V_UI2(dtm->properties[0].value.get()));
  EXPECT_EQ((std::vector<std::string>{"6:1000:500"}), UpdatePosts());

  // Without a function container the property is skipped, the list still asked.
  dtm->hasContainer = false;
  dtm->OpenControl(L"other")->list = {SParamUpdateInfo(7, 50)};
  EXPECT_EQ(S_OK, Raise(1, L"other"));
  EXPECT_EQ(1u, dtm->properties.size());
  EXPECT_EQ(2u, dtm->SubscribedControlCount());
}

TEST_F(DtmEventsTest, SubscriptionIsKeptOnlyOnceTheWorkerTookIt) {
  ControlDouble* control = dtm->OpenControl(L"ctl");
  control->list = {SParamUpdateInfo(1000, 500)};
  dtm->postResult = E_FAIL;
  EXPECT_EQ(E_FAIL, Raise(3, L"ctl"));
  EXPECT_TRUE(dtm->ControlSubscriptions(L"ctl").empty());

  // Asked again once the worker runs, the subscription is added then.
  dtm->postResult = S_OK;
  dtm->posts.clear();
  EXPECT_EQ(S_OK, Raise(3, L"ctl"));
  EXPECT_EQ((std::vector<std::string>{"6:1000:500"}), UpdatePosts());
}

TEST_F(DtmEventsTest, EventsArrivingWhileAPostWaitsKeepTheBookkeepingWhole) {
  dtm->OpenControl(L"first")->list = {SParamUpdateInfo(1, 100), SParamUpdateInfo(2, 100)};
  for (int i = 0; i < 8; ++i) {
    std::wstring key = L"other" + std::to_wstring(i);
    dtm->OpenControl(key.c_str())->list = {SParamUpdateInfo(10 + i, 100)};
  }
  // While the first add waits for the worker, the other controls open.
  dtm->duringPost = [this] {
    for (int i = 0; i < 8; ++i) Raise(3, (L"other" + std::to_wstring(i)).c_str());
  };
  EXPECT_EQ(S_OK, Raise(3, L"first"));
  EXPECT_EQ(9u, dtm->SubscribedControlCount());
  auto first = dtm->ControlSubscriptions(L"first");
  ASSERT_EQ(2u, first.size());
  EXPECT_EQ(1u, first[0].parameterId);
  EXPECT_EQ(2u, first[1].parameterId);

  // And while its release waits, the control closes for good.
  dtm->duringPost = [this] { Raise(2, L"first"); };
  dtm->posts.clear();
  EXPECT_EQ(S_OK, Raise(2, L"first"));
  EXPECT_EQ((std::vector<std::string>{"7:1:100", "7:2:100"}), UpdatePosts());  // each released once
  EXPECT_TRUE(dtm->ControlSubscriptions(L"first").empty());
  EXPECT_EQ(8u, dtm->SubscribedControlCount());
}

TEST_F(DtmEventsTest, BadControlAnswersLeaveTheSubscriptionsAlone) {
  ControlDouble* control = dtm->OpenControl(L"ctl");
  control->list = {SParamUpdateInfo(1000, 500)};
  ASSERT_EQ(S_OK, Raise(3, L"ctl"));
  dtm->posts.clear();

  control->answerGarbage = true;
  EXPECT_TRUE(FAILED(Raise(3, L"ctl")));
  control->answerGarbage = false;
  control->answer = E_UNEXPECTED;
  EXPECT_EQ(E_UNEXPECTED, Raise(3, L"ctl"));
  EXPECT_TRUE(FAILED(Raise(3, L"unknown control")));
  EXPECT_TRUE(dtm->posts.empty());
  EXPECT_EQ(1u, dtm->ControlSubscriptions(L"ctl").size());
}

// ---------------------------------------------------------------------------
// IFdtEvents
// ---------------------------------------------------------------------------

TEST_F(DtmEventsTest, ParameterChangeDocumentGoesToParametersBeforeChannels) {
  com::Bstr tag(L"tag");
  com::Bstr both(
      L"<OnParameterChangedDocument><PARAMETERS><P id=\"1\"/></PARAMETERS>"
      L"<ChannelCollection><C/></ChannelCollection></OnParameterChangedDocument>");
  EXPECT_EQ(S_OK, frameEvents->OnParameterChanged(tag.get(), both.get()));
  ASSERT_EQ(1u, dtm->imports.size());
  EXPECT_NE(std::wstring::npos, dtm->imports[0].find(L"<P id=\"1\""));
  EXPECT_EQ(0u, dtm->imports[0].find(L"<PARAMETERS>"));
  EXPECT_TRUE(dtm->channelLoads.empty());

  com::Bstr channels(L"<OnParameterChangedDocument><ChannelCollection><C n=\"2\"/></ChannelCollection></OnParameterChangedDocument>");
  EXPECT_EQ(S_OK, frameEvents->OnParameterChanged(tag.get(), channels.get()));
  ASSERT_EQ(1u, dtm->channelLoads.size());
  EXPECT_EQ(0u, dtm->channelLoads[0].find(L"<ChannelCollection>"));
  dtm->channelsResult = E_FAIL;
  EXPECT_EQ(S_FALSE, frameEvents->OnParameterChanged(tag.get(), channels.get()));
  dtm->hasChannels = false;
  EXPECT_EQ(S_FALSE, frameEvents->OnParameterChanged(tag.get(), channels.get()));

  com::Bstr neither(L"<OnParameterChangedDocument/>");
  EXPECT_EQ(S_OK, frameEvents->OnParameterChanged(tag.get(), neither.get()));
  com::Bstr broken(L"<OnParameterChangedDocument><PARAMETERS>");
  EXPECT_EQ(S_FALSE, frameEvents->OnParameterChanged(tag.get(), broken.get()));
  EXPECT_EQ(E_INVALIDARG, frameEvents->OnParameterChanged(tag.get(), nullptr));
  EXPECT_EQ(1u, dtm->imports.size());
}

TEST_F(DtmEventsTest, DataSetLockedElsewhereAndUnlocked) {
  com::Bstr tag(L"tag"), user(L"someone");
  EXPECT_EQ(S_FALSE, frameEvents->OnChildChanged(tag.get()));

  EXPECT_EQ(S_OK, frameEvents->OnDataSetLockedElsewhere(tag.get(), user.get()));
  EXPECT_TRUE(dtm->DataSetLockedElsewhere());
  ASSERT_EQ(1u, dtm->properties.size());
  EXPECT_EQ(9993u, dtm->properties[0].key);
  EXPECT_EQ(VARIANT_FALSE, V_BOOL(dtm->properties[0].value.get()));

  EXPECT_EQ(E_POINTER, frameEvents->OnDataSetUnlocked(tag.get(), user.get(), nullptr));
  VARIANT_BOOL result = VARIANT_FALSE;
  EXPECT_EQ(S_OK, frameEvents->OnDataSetUnlocked(tag.get(), user.get(), &result));
  EXPECT_EQ(VARIANT_TRUE, result);
  EXPECT_FALSE(dtm->DataSetLockedElsewhere());
  EXPECT_EQ(1u, dtm->properties.size());  // no locking function open: nothing to tell

  // With a locking function open the controls learn whether the DTM holds
  // the lock now.
  dtm->lockingFunctions = 1;
  dtm->lockHeld = true;
  EXPECT_EQ(S_OK, frameEvents->OnDataSetUnlocked(tag.get(), user.get(), &result));
  ASSERT_EQ(2u, dtm->properties.size());
  EXPECT_EQ(9993u, dtm->properties[1].key);
  EXPECT_EQ(VARIANT_TRUE, V_BOOL(dtm->properties[1].value.get()));
}
