// The diagnosis comparison: the partner DTM through the frame's topology.
#include <gtest/gtest.h>

#include "events_test_dtm.h"
#include "frame_notices.h"

using namespace eventstest;

// ---------------------------------------------------------------------------
// Comparison partner through the frame's topology
// ---------------------------------------------------------------------------

namespace {

class DtmCompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    dtmHolder_ = CreateEventsTestDtm(&dtm);
    ASSERT_NE(nullptr, dtm);
    ASSERT_TRUE(SUCCEEDED(dtmHolder_->QueryInterface(__uuidof(IDtmDiagnosis), diagnosis.putVoid())));
    frameHolder_ = frame_double::createNoticeFrame(&frame);
    ASSERT_NE(nullptr, frame);
    dtm->frame = frameHolder_;
    partnerHolder_ = CreateEventsTestDtm(&partner);
    frame->addDtm(L"partner", partnerHolder_.get());
    dtm->state = 9;
    dtm->role = 2;
  }
  void TearDown() override {
    dtm->frame = nullptr;
    frameHolder_ = nullptr;
    partnerHolder_ = nullptr;
    diagnosis = nullptr;
    dtmHolder_ = nullptr;
    ::CoUninitialize();
  }
  size_t Calls(const char* method) { return frame->callsTo(method).size(); }

  EventsTestDtm* dtm = nullptr;
  com::ComPtr<IDtmDiagnosis> diagnosis;
  frame_double::NoticeFrame* frame = nullptr;
  EventsTestDtm* partner = nullptr;
  com::Bstr tag{L"partner"};

 private:
  com::ComPtr<IUnknown> dtmHolder_, frameHolder_, partnerHolder_;
};

}  // namespace

TEST_F(DtmCompareTest, PartnerIsTakenFromTheTopologyAndGivenBackWhenReleased) {
  VARIANT_BOOL result = VARIANT_FALSE;
  dtm->role = 1;  // observer
  EXPECT_EQ(S_FALSE, diagnosis->InitCompare(tag.get(), &result));
  EXPECT_EQ(0u, Calls("GetDtmForSystemTag"));

  dtm->role = 2;
  EXPECT_EQ(S_OK, diagnosis->InitCompare(tag.get(), &result));
  EXPECT_EQ(VARIANT_TRUE, result);
  EXPECT_TRUE(dtm->CompareActive());
  EXPECT_STREQ(L"partner", dtm->CompareSystemTag());
  EXPECT_NE(nullptr, dtm->ComparePartner());
  // A second start keeps the comparison as it is.
  EXPECT_EQ(S_OK, diagnosis->InitCompare(tag.get(), &result));
  EXPECT_EQ(1u, Calls("GetDtmForSystemTag"));

  // The frame may keep the partner: the comparison stays.
  frame->setBoolAnswer("ReleaseDtmForSystemTag", VARIANT_FALSE);
  EXPECT_EQ(S_OK, diagnosis->ReleaseCompare(&result));
  EXPECT_TRUE(dtm->CompareActive());
  frame->setBoolAnswer("ReleaseDtmForSystemTag", VARIANT_TRUE);
  EXPECT_EQ(S_OK, diagnosis->ReleaseCompare(&result));
  EXPECT_EQ(VARIANT_TRUE, result);
  EXPECT_FALSE(dtm->CompareActive());
  EXPECT_EQ(nullptr, dtm->ComparePartner());
  auto releases = frame->callsTo("ReleaseDtmForSystemTag");
  ASSERT_EQ(2u, releases.size());
  EXPECT_EQ(L"partner", releases[1].arguments[0]);

  // Nothing active: nothing to give back.
  EXPECT_EQ(S_OK, diagnosis->ReleaseCompare(&result));
  EXPECT_EQ(2u, Calls("ReleaseDtmForSystemTag"));
}

TEST_F(DtmCompareTest, PartnerWithoutParametersIsGivenBackAtOnce) {
  partner->hasParameters = false;
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(S_OK, diagnosis->InitCompare(tag.get(), &result));
  EXPECT_EQ(VARIANT_FALSE, result);
  EXPECT_FALSE(dtm->CompareActive());
  auto releases = frame->callsTo("ReleaseDtmForSystemTag");
  ASSERT_EQ(1u, releases.size());
  EXPECT_EQ(L"partner", releases[0].arguments[0]);

  com::Bstr unknown(L"nobody");
  EXPECT_TRUE(FAILED(diagnosis->InitCompare(unknown.get(), &result)));
  EXPECT_FALSE(dtm->CompareActive());
}

TEST_F(DtmCompareTest, ComparisonNeedsStateAndTopology) {
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(E_INVALIDARG, diagnosis->InitCompare(tag.get(), nullptr));
  EXPECT_EQ(E_INVALIDARG, diagnosis->ReleaseCompare(nullptr));
  dtm->state = 7;
  EXPECT_EQ(S_FALSE, diagnosis->InitCompare(tag.get(), &result));
  EXPECT_EQ(VARIANT_FALSE, result);
  dtm->state = 12;
  frame->noticeOffers().topology = false;
  EXPECT_EQ(E_POINTER, diagnosis->InitCompare(tag.get(), &result));
  dtm->frame = nullptr;
  EXPECT_EQ(E_POINTER, diagnosis->InitCompare(tag.get(), &result));
  EXPECT_FALSE(dtm->CompareActive());
}
