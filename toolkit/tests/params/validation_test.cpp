// Validation (limits, lengths, enumerations, bit sets) and field access by
// selector.
#include <gtest/gtest.h>

#include <string>

#include "param_test_object.h"

namespace {

com::Variant i4(LONG v) { return com::Variant(v); }

class ValidationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<TestParamObject>::create(&dtm_));
  }
  void TearDown() override {
    dtm_->Release();
    CoUninitialize();
  }

  // Validate's flags for value; 0xFFFFFFFF when it failed.
  ULONG check(ULONG id, const com::Variant& value) {
    unsigned long flags = 0;
    HRESULT hr = dtm_->Validate(com::ui4(id).value(), value.value(), &flags);
    return SUCCEEDED(hr) ? flags : 0xFFFFFFFF;
  }
  bool valid(ULONG id, const com::Variant& value) {
    return !(check(id, value) & kParFlagInvalid);
  }

  com::ComObject<TestParamObject>* dtm_ = nullptr;
};

TEST_F(ValidationTest, PlainValuesAgainstLimitsAndLengths) {
  EXPECT_TRUE(valid(kIdPreambles, i4(5)));
  EXPECT_TRUE(valid(kIdPreambles, i4(20)));
  EXPECT_FALSE(valid(kIdPreambles, i4(4)));
  EXPECT_FALSE(valid(kIdPreambles, i4(21)));
  EXPECT_FALSE(valid(kIdPreambles, com::Variant()));  // empty
  EXPECT_FALSE(valid(kIdPreambles, com::Variant(L"many")));
  // VT_BOOL with equal limits: any value.
  EXPECT_TRUE(valid(kIdScanActive, i4(123)));

  // Text of at most 32 characters; an odd maximum lets one more through.
  EXPECT_TRUE(valid(kIdTag, com::Variant(std::wstring(32, L'x').c_str())));
  EXPECT_FALSE(valid(kIdTag, com::Variant(std::wstring(33, L'x').c_str())));
  ParInfo odd;
  odd.maxValue = com::Variant(L"101");
  ASSERT_HRESULT_SUCCEEDED(dtm_->SetParInfo(kIdTag, kParMaxValue, odd));
  EXPECT_TRUE(valid(kIdTag, com::Variant(std::wstring(102, L'x').c_str())));
  EXPECT_FALSE(valid(kIdTag, com::Variant(std::wstring(103, L'x').c_str())));

  // Out of range and different: 0x4 and 0x2; the stored value: no 0x2.
  EXPECT_EQ(0x71u | kParFlagInvalid | kParFlagChanged, check(kIdPreambles, i4(30)));
  EXPECT_EQ(0x71u, check(kIdPreambles, i4(5)));
}

TEST_F(ValidationTest, EnumerationsAndBitSets) {
  EXPECT_TRUE(valid(kIdMode, i4(2)));
  EXPECT_FALSE(valid(kIdMode, i4(3)));
  EXPECT_FALSE(valid(kIdMode, com::Variant(L"x")));
  EXPECT_TRUE(valid(kIdOptions, com::ui4(0x1 | 0x8)));
  EXPECT_FALSE(valid(kIdOptions, com::ui4(0x4)));

  // A kind other than 0, 1, 2 fails; an enumeration without entries too.
  ParInfo kind;
  kind.subType = 3;
  ASSERT_HRESULT_SUCCEEDED(dtm_->SetParInfo(kIdMode, kParSubType, kind));
  EXPECT_EQ(0xFFFFFFFFu, check(kIdMode, i4(1)));
  ParInfo noEntries;
  noEntries.subType = kParEnumerated;
  ASSERT_HRESULT_SUCCEEDED(dtm_->SetParInfo(kIdScanStart, kParSubType | kParExtra1, noEntries));
  unsigned long flags = 0;
  EXPECT_EQ(E_FAIL, dtm_->Validate(com::ui4(kIdScanStart).value(), i4(1).value(), &flags));
  ASSERT_HRESULT_SUCCEEDED(dtm_->SetParInfo(kIdOptions, kParExtra1, noEntries));
  EXPECT_EQ(E_INVALIDARG, dtm_->Validate(com::ui4(kIdOptions).value(), i4(1).value(), &flags));
}

TEST_F(ValidationTest, ValidateValueWritesEvenInvalidValuesButNotDisabledOnes) {
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_HRESULT_SUCCEEDED(
      dtm_->ValidateValue(com::ui4(kIdPreambles).value(), i4(30).value(), &ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  com::Variant stored;
  ASSERT_HRESULT_SUCCEEDED(dtm_->GetValue(kIdPreambles, stored.get()));
  EXPECT_EQ(30, V_UI1(stored.get()));
  ParInfo record;
  ASSERT_HRESULT_SUCCEEDED(dtm_->GetParameter(kIdPreambles, &record));
  EXPECT_TRUE(record.flags & kParFlagInvalid);
  EXPECT_TRUE(record.flags & kParFlagWritten);

  // Flag 0x8: not checked, nothing written, still true.
  unsigned long flags = 0;
  ASSERT_HRESULT_SUCCEEDED(dtm_->Validate(com::ui4(kIdDisabled).value(), i4(99).value(), &flags));
  EXPECT_EQ(0x71u | kParFlagDisabled, flags);
  ok = VARIANT_FALSE;
  ASSERT_HRESULT_SUCCEEDED(dtm_->ValidateValue(com::ui4(kIdDisabled).value(), i4(99).value(), &ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  ASSERT_HRESULT_SUCCEEDED(dtm_->GetValue(kIdDisabled, stored.get()));
  EXPECT_EQ(0, V_I4(stored.get()));

  // A value that cannot take the parameter's type is refused whole.
  dtm_->controlMessages.clear();
  ok = VARIANT_TRUE;
  EXPECT_HRESULT_FAILED(
      dtm_->ValidateValue(com::ui4(kIdScanStart).value(), com::Variant(L"abc").value(), &ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  ASSERT_HRESULT_SUCCEEDED(dtm_->GetParameter(kIdScanStart, &record));
  EXPECT_EQ(0x71u, record.flags);
  EXPECT_TRUE(dtm_->controlMessages.empty());
}

TEST_F(ValidationTest, FieldsBySelector) {
  com::Variant out;
  ASSERT_HRESULT_SUCCEEDED(
      dtm_->GetParameterInfo(com::ui4(kIdPreambles).value(), com::ui4(kParVt).value(), out.get()));
  EXPECT_EQ(VT_UI2, out.type());
  EXPECT_EQ(VT_UI1, V_UI2(out.get()));
  ASSERT_HRESULT_SUCCEEDED(dtm_->GetParameterInfo(com::ui4(kIdScanActive).value(),
                                                  com::ui4(kParPersist).value(), out.put()));
  EXPECT_EQ(VT_BOOL, out.type());
  EXPECT_EQ(VARIANT_FALSE, V_BOOL(out.get()));
  ASSERT_HRESULT_SUCCEEDED(
      dtm_->GetParameterInfo(com::ui4(kIdTag).value(), com::ui4(kParNumber).value(), out.put()));
  EXPECT_EQ(VT_UI4, out.type());
  EXPECT_EQ(0x2000u, V_UI4(out.get()));
  ASSERT_HRESULT_SUCCEEDED(
      dtm_->GetParameterInfo(com::ui4(kIdTag).value(), com::ui4(kParName).value(), out.put()));
  EXPECT_STREQ(L"Tag", V_BSTR(out.get()));

  EXPECT_EQ(E_FAIL,
            dtm_->GetParameterInfo(com::ui4(kIdTag).value(), com::ui4(0x3).value(), out.put()));
  EXPECT_EQ(E_INVALIDARG,
            dtm_->GetParameterInfo(com::ui4(4242).value(), com::ui4(kParVt).value(), out.put()));
  EXPECT_EQ(E_INVALIDARG,
            dtm_->GetParameterInfo(com::ui4(kIdTag).value(), com::ui4(kParVt).value(), nullptr));

  // Counting and ids by index through the info interface.
  ASSERT_HRESULT_SUCCEEDED(dtm_->GetCount(out.put()));
  EXPECT_EQ(kTestRowCount, V_UI4(out.get()));
  ASSERT_HRESULT_SUCCEEDED(dtm_->GetParameterId(i4(0).value(), out.put()));
  EXPECT_EQ(static_cast<ULONG>(kIdTag), V_UI4(out.get()));
  EXPECT_EQ(E_INVALIDARG, dtm_->GetParameterId(i4(kTestRowCount).value(), out.put()));
}

}  // namespace
