// Dependency texts: update and relation lists, their tolerance rules, the
// effect of every relation kind on its target with the control properties it
// sends, the held modified notice, relations that keep changing each other,
// and the collection merge and double conversion.
#include <gtest/gtest.h>

#include <string>

#include "com/Bstr.h"
#include "param_test_object.h"
#include "toolkit/params/param_rows.h"
#include "toolkit/values/safe_array.h"
#include "toolkit/values/text_helpers.h"

namespace {

constexpr ULONG kSource = 3000;  // VT_I4 0..100, persistent
constexpr ULONG kTargetA = 3001;
constexpr ULONG kTargetB = 3002;
constexpr ULONG kTextSource = 3010;  // VT_BSTR

com::Variant stringList(std::initializer_list<const wchar_t*> entries) {
  std::vector<const char*> unused;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(entries.size()));
  LONG i = 0;
  for (const wchar_t* entry : entries) {
    com::Bstr text(entry);
    ::SafeArrayPutElement(array, &i, text.get());
    ++i;
  }
  com::Variant out;
  V_VT(out.get()) = VT_ARRAY | VT_BSTR;
  V_ARRAY(out.get()) = array;
  return out;
}

class RelationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<TestParamObject>::create(&dtm_));
    ASSERT_EQ(S_OK, ParamRow::Numeric(kSource, L"Source", VT_I4, 0, 100, 7, 7).AddTo(dtm_));
    ASSERT_EQ(S_OK, ParamRow::Numeric(kTargetA, L"Target A", VT_I4, 0, 100, 0, 0).AddTo(dtm_));
    ASSERT_EQ(S_OK, ParamRow::Numeric(kTargetB, L"Target B", VT_I4, 0, 100, 0, 0).AddTo(dtm_));
    ASSERT_EQ(S_OK, ParamRow::Text(kTextSource, L"Text", L"new text", L"new text", 0).AddTo(dtm_));
  }
  void TearDown() override {
    dtm_->Release();
    CoUninitialize();
  }

  HRESULT relate(const wchar_t* text, ULONG source = kSource) {
    com::Bstr list(text);
    return dtm_->EvaluateRelation(source, list.get());
  }
  void setDependencies(ULONG id, const wchar_t* text) {
    ParInfo record;
    record.extra3 = com::Variant(text);
    ASSERT_EQ(S_OK, dtm_->SetParInfo(id, kParExtra3, record));
  }
  ParInfo record(ULONG id) {
    ParInfo out;
    EXPECT_EQ(S_OK, dtm_->GetParameter(id, &out));
    return out;
  }
  LONG valueOf(ULONG id) {
    com::Variant v = record(id).value;
    EXPECT_EQ(S_OK, v.changeType(VT_I4));
    return V_I4(v.get());
  }
  void setFlags(ULONG id, ULONG flags) {
    ParInfo r;
    r.flags = flags;
    ASSERT_EQ(S_OK, dtm_->SetParInfo(id, kParFlags, r));
  }
  // Ids of the [id, empty] properties sent with the code, in order.
  std::vector<ULONG> propertyTargets(LONG code) {
    std::vector<ULONG> ids;
    for (const ControlMessage& m : dtm_->MessagesWithCode(code)) {
      ids.push_back(TestParamObject::PairId(m));
      EXPECT_EQ(VT_EMPTY, TestParamObject::PairValue(m).type());
    }
    return ids;
  }

  com::ComObject<TestParamObject>* dtm_ = nullptr;
};

TEST_F(RelationsTest, EnableAndAccessChangeTheTargetsFlagsAndTellTheControls) {
  setFlags(kTargetA, kParFlagsDefault | kParFlagDisabled);
  setFlags(kTargetB, kParFlagsDefault & ~ULONG(kParFlagWritable));
  ASSERT_EQ(S_OK, relate(L"relation(2,3001,3,3002)"));
  EXPECT_EQ(0u, record(kTargetA).flags & kParFlagDisabled);
  EXPECT_EQ(ULONG(kParFlagWritable), record(kTargetB).flags & kParFlagWritable);
  EXPECT_EQ((std::vector<ULONG>{kTargetA, kTargetB}), propertyTargets(kCtlFlagsChanged));
}

TEST_F(RelationsTest, ChoicesReplaceTheEnumerationAndSendProperty10002) {
  // Without choices of the class the pair fails and nothing changes.
  EXPECT_EQ(E_INVALIDARG, relate(L"relation(4,3001)"));
  EXPECT_EQ(VT_EMPTY, record(kTargetA).extra1.type());
  EXPECT_TRUE(propertyTargets(kCtlRelationChoices).empty());

  // Choices that are not number-and-text entries are refused the same way.
  dtm_->scriptedChoices = com::Variant(LONG{5});
  EXPECT_EQ(E_INVALIDARG, relate(L"relation(4,3001)"));
  EXPECT_EQ(VT_EMPTY, record(kTargetA).extra1.type());

  dtm_->scriptedChoices = stringList({L"0;Low", L"1;High"});
  ASSERT_EQ(S_OK, relate(L"relation(4,3001)"));
  com::Variant entries = record(kTargetA).extra1;
  LONG number = -1;
  com::Bstr text;
  ASSERT_EQ(S_OK, BstrArrayGetAt(entries.value(), 1, &number, text.put()));
  EXPECT_EQ(1, number);
  EXPECT_STREQ(L"High", text.c_str());
  EXPECT_EQ((std::vector<ULONG>{kTargetA}), propertyTargets(kCtlRelationChoices));
}

TEST_F(RelationsTest, ValuesGoToTheTargetsValueDefaultAndLimits) {
  auto number = [](const com::Variant& field) {
    com::Variant v(field.value());
    EXPECT_EQ(S_OK, v.changeType(VT_I4));
    return V_I4(v.get());
  };
  ASSERT_EQ(S_OK, relate(L"relation(5,3001,6,3002)"));
  EXPECT_EQ(7, valueOf(kTargetA));
  EXPECT_EQ(0, valueOf(kTargetB));  // kinds 6 to 8 leave the value alone
  EXPECT_EQ(7, number(record(kTargetB).defaultValue));
  // The value is written through the write core: the controls hear of it.
  auto written = dtm_->MessagesWithCode(kCtlValueWritten);
  ASSERT_EQ(1u, written.size());
  EXPECT_EQ(kTargetA, TestParamObject::PairId(written[0]));

  // Kind 7 sets only the maximum, kind 8 only the minimum (declared 0..100).
  ASSERT_EQ(S_OK, relate(L"relation(7,3001,8,3002)"));
  EXPECT_EQ(7, number(record(kTargetA).maxValue));
  EXPECT_EQ(0, number(record(kTargetA).minValue));
  EXPECT_EQ(7, number(record(kTargetB).minValue));
  EXPECT_EQ(100, number(record(kTargetB).maxValue));
}

TEST_F(RelationsTest, TextReplacesTheTargetsTextAndSendsBothProperties) {
  ParInfo withText;
  withText.extra2 = com::Variant(L"old");
  ASSERT_EQ(S_OK, dtm_->SetParInfo(kTargetA, kParExtra2, withText));

  ASSERT_EQ(S_OK, relate(L"relation(9,3001)", kTextSource));
  EXPECT_STREQ(L"new text", V_BSTR(record(kTargetA).extra2.get()));
  ASSERT_EQ(2u, dtm_->controlMessages.size());
  EXPECT_EQ(kCtlRelationValue, dtm_->controlMessages[0].code);
  EXPECT_EQ(kCtlRelationText, dtm_->controlMessages[1].code);

  // A target without a text only refreshes; a source without a text fails.
  dtm_->controlMessages.clear();
  ASSERT_EQ(S_OK, relate(L"relation(9,3002)", kTextSource));
  EXPECT_EQ((std::vector<ULONG>{kTargetB}), propertyTargets(kCtlRelationValue));
  EXPECT_TRUE(propertyTargets(kCtlRelationText).empty());
  EXPECT_EQ(E_INVALIDARG, relate(L"relation(9,3001)", kSource));
  EXPECT_STREQ(L"new text", V_BSTR(record(kTargetA).extra2.get()));
}

TEST_F(RelationsTest, MalformedListsAreRefusedAndChangeNothing) {
  for (const wchar_t* text : {L"", L"rel(5,3001)", L"5,3001", L"relatio", L"update(3001)"}) {
    EXPECT_EQ(E_INVALIDARG, relate(text)) << static_cast<const void*>(text);
  }
  EXPECT_EQ(E_INVALIDARG, dtm_->EvaluateRelation(kSource, nullptr));
  EXPECT_EQ(0, valueOf(kTargetA));
  EXPECT_TRUE(dtm_->controlMessages.empty());
  EXPECT_TRUE(dtm_->modifiedCalls.empty());
}

TEST_F(RelationsTest, ToleranceRulesOfTheListText) {
  // A trailing comma after a complete pair, and a dangling kind, end the list.
  EXPECT_EQ(S_OK, relate(L"relation(5,3001,"));
  EXPECT_EQ(7, valueOf(kTargetA));
  EXPECT_EQ(S_OK, relate(L"relation(6,3002,5)"));
  // Kinds outside 1..9 and junk kinds (read as 0) are skipped.
  EXPECT_EQ(S_OK, relate(L"relation(10,3002,x,3002, 5 ,3002)"));
  EXPECT_EQ(7, valueOf(kTargetB));
  // A failing pair does not stop the list; the last failure is answered.
  ASSERT_EQ(S_OK, dtm_->WriteParameter(com::ui4(kSource).value(), com::Variant(LONG{9}).value()));
  EXPECT_EQ(E_INVALIDARG, relate(L"relation(5,9999,5,3001)"));
  EXPECT_EQ(9, valueOf(kTargetA));
  // A failure before a dangling kind is dropped.
  EXPECT_EQ(S_OK, relate(L"relation(5,9999,5)"));
}

TEST_F(RelationsTest, OneModifiedNoticeForAWholeList) {
  ASSERT_EQ(S_OK, relate(L"relation(5,3001,5,3002)"));
  EXPECT_EQ(7, valueOf(kTargetA));
  EXPECT_EQ(7, valueOf(kTargetB));
  EXPECT_EQ(1u, dtm_->modifiedCalls.size());

  // A list that ends in a failure releases its hold all the same.
  dtm_->modifiedCalls.clear();
  ASSERT_EQ(S_OK, dtm_->WriteParameter(com::ui4(kSource).value(), com::Variant(LONG{8}).value()));
  ASSERT_EQ(1u, dtm_->modifiedCalls.size());
  EXPECT_EQ(E_INVALIDARG, relate(L"relation(5,3001,4,3002)"));
  EXPECT_EQ(2u, dtm_->modifiedCalls.size());
  ASSERT_EQ(S_OK, dtm_->WriteParameter(com::ui4(kTargetB).value(), com::Variant(LONG{1}).value()));
  EXPECT_EQ(3u, dtm_->modifiedCalls.size());  // not held any more

  // A channel's handler takes no hold: one notice per change.
  dtm_->modifiedCalls.clear();
  dtm_->ParamOptions().holdNoticeDuringRelations = false;
  ASSERT_EQ(S_OK, dtm_->WriteParameter(com::ui4(kSource).value(), com::Variant(LONG{3}).value()));
  dtm_->modifiedCalls.clear();
  ASSERT_EQ(S_OK, relate(L"relation(5,3001,5,3002)"));
  EXPECT_EQ(2u, dtm_->modifiedCalls.size());
}

TEST_F(RelationsTest, RelationsThatChangeEachOtherEnd) {
  setDependencies(kTargetA, L"relation(5,3002)");
  setDependencies(kTargetB, L"relation(5,3001)");
  // Equal values stop the round: A -> B -> A (already equal).
  ASSERT_EQ(S_OK, dtm_->WriteParameter(com::ui4(kTargetA).value(), com::Variant(LONG{4}).value()));
  EXPECT_EQ(4, valueOf(kTargetB));

  // Values that never settle are stopped by the depth guard; the hold ends.
  dtm_->countingValues = true;
  dtm_->modifiedCalls.clear();
  HRESULT hr = dtm_->WriteParameter(com::ui4(kTargetA).value(), com::Variant(LONG{50}).value());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CIRCULAR_DEPENDENCY), hr);
  EXPECT_LT(dtm_->valueCounter, 20);
  dtm_->countingValues = false;
  size_t notices = dtm_->modifiedCalls.size();
  ASSERT_EQ(S_OK, dtm_->WriteParameter(com::ui4(kSource).value(), com::Variant(LONG{1}).value()));
  EXPECT_EQ(notices + 1, dtm_->modifiedCalls.size());
}

TEST_F(RelationsTest, DependenciesRunUpdateListFirstThenRelations) {
  EXPECT_EQ(S_FALSE, dtm_->EvaluateDependencies(kSource, 0));
  setDependencies(kSource, L"update(980) relation(5,3001)");
  ASSERT_EQ(S_OK, dtm_->EvaluateDependencies(kSource, kParDependUpdate | kParDependRelation));
  EXPECT_EQ(7, valueOf(kTargetA));
  EXPECT_EQ(E_INVALIDARG, dtm_->EvaluateDependencies(4711, kParDependRelation));

  // The update list re-reads each id; a device parameter needs the owner's
  // device access (none here), the other items still run.
  com::Bstr list(L"update(2000,980)");
  EXPECT_EQ(E_FAIL, dtm_->UpdateParameters(0, list.get()));
  com::Bstr plain(L"update(980,1002)");
  EXPECT_EQ(S_OK, dtm_->UpdateParameters(0, plain.get()));
  com::Bstr none(L"upd(980)");
  EXPECT_EQ(E_INVALIDARG, dtm_->UpdateParameters(0, none.get()));
}

TEST_F(RelationsTest, KindOneNeedsTheDtmAndApplyForConfigIgnoresSingleFailures) {
  // No IevFdtBaseDTM on this object: the device read pair cannot be made.
  EXPECT_EQ(E_NOINTERFACE, relate(L"relation(1,2000)"));

  setDependencies(kSource, L"relation(5,3001,1,2000)");
  setDependencies(kTargetB, L"relation(4,3001)");
  EXPECT_EQ(S_OK, dtm_->ApplyRelationsForConfig());
  EXPECT_EQ(7, valueOf(kTargetA));
  EXPECT_EQ(S_OK, dtm_->EvaluateRelations());  // the interface's run of all lists
}

TEST_F(RelationsTest, MergeAddsOnlyMissingRecords) {
  CParamCollection source;
  source.Insert(ParamRow::Numeric(kTargetA, L"Other A", VT_I4, 0, 5, 1, 1).Build());
  source.Insert(ParamRow::Numeric(3100, L"New", VT_I4, 0, 5, 1, 1).Build());
  EXPECT_EQ(E_INVALIDARG, dtm_->MergeParameters(nullptr));
  ASSERT_EQ(S_OK, dtm_->MergeParameters(&source));
  EXPECT_TRUE(dtm_->HasParameter(3100));
  EXPECT_STREQ(L"Target A", record(kTargetA).text.c_str());
}

TEST_F(RelationsTest, DoubleConversionSucceedsOnlyForTheExactType) {
  com::Variant out;
  EXPECT_TRUE(CevFDT_ParameterHandlerCore::ConvertDoubleToType(5.0, VT_UI1, out.get()));
  EXPECT_EQ(VT_UI1, out.type());
  EXPECT_EQ(5, V_UI1(out.get()));
  EXPECT_FALSE(CevFDT_ParameterHandlerCore::ConvertDoubleToType(300.0, VT_UI1, out.get()));
  EXPECT_TRUE(CevFDT_ParameterHandlerCore::ConvertDoubleToType(-1.0, VT_BOOL, nullptr));
  EXPECT_FALSE(CevFDT_ParameterHandlerCore::ConvertDoubleToType(1.0, VT_DISPATCH, nullptr));
}

}  // namespace
