// The parameter descriptor, the table and the row builders.
#include <gtest/gtest.h>

#include "param_test_object.h"
#include "toolkit/params/param_info.h"
#include "toolkit/params/param_rows.h"

namespace {

com::Variant r8(double d) {
  com::Variant v;
  V_VT(v.get()) = VT_R8;
  V_R8(v.get()) = d;
  return v;
}

ParInfo numeric(ULONG id, VARTYPE vt, double lo, double hi, double def, double value,
                ULONG textId = 0, const wchar_t* text = L"Name") {
  com::Variant empty;
  return ParInfo(kParKindDtm, id, empty.value(), text, textId, vt, r8(lo).value(), r8(hi).value(),
                 r8(def).value(), r8(value).value(), 1, kParFlagsDefault, 2, 0, nullptr, 0,
                 nullptr, kParPlain, empty.value(), empty.value(), empty.value(), {}, nullptr, 0,
                 empty.value(), empty.value());
}

TEST(ParInfoTest, ConstructorConvertsValuesAndTakesNames) {
  ParInfo record = numeric(1002, VT_UI1, 5, 20, 7, 9);
  for (const com::Variant* v : {&record.minValue, &record.maxValue, &record.defaultValue,
                                &record.value, &record.initialValue})
    EXPECT_EQ(VT_UI1, v->type());
  EXPECT_EQ(7, V_UI1(record.initialValue.get()));  // the default
  EXPECT_EQ(9, V_UI1(record.value.get()));
  EXPECT_STREQ(L"Name", record.name.c_str());  // empty name takes the text

  // A resource id replaces the text; the name follows it.
  ParInfo fromResource = numeric(1, VT_I4, 0, 0, 0, 0, 4711, L"ignored");
  EXPECT_STREQ(L"Preamble Count", fromResource.text.c_str());
  EXPECT_STREQ(L"Preamble Count", fromResource.name.c_str());

  // A default that does not convert leaves default and device value empty;
  // a limit that does not convert stays as given.
  ParInfo bad = numeric(2, VT_UI1, -1, 20, 300, 5);
  EXPECT_EQ(VT_EMPTY, bad.defaultValue.type());
  EXPECT_EQ(VT_EMPTY, bad.initialValue.type());
  EXPECT_EQ(VT_R8, bad.minValue.type());
  EXPECT_EQ(VT_UI1, bad.value.type());
}

TEST(ParamCollectionTest, OrderedByIdAndFirstInsertHolds) {
  CParamCollection table;
  for (ULONG id : {1002u, 1u, 990u, 2u}) table.Insert(numeric(id, VT_I4, 0, 0, 0, id));
  ParInfo duplicate = numeric(990, VT_I4, 0, 0, 0, 12345);
  table.Insert(duplicate);

  EXPECT_EQ(4u, table.Count());
  EXPECT_EQ(990, V_I4(table.Find(990)->value.get()));
  EXPECT_EQ(0, table.IndexOf(1));
  EXPECT_EQ(3, table.IndexOf(1002));
  EXPECT_EQ(-1, table.IndexOf(7));
  EXPECT_EQ(2u, table.At(1)->id);
  EXPECT_EQ(nullptr, table.At(4));

  ParInfo device = numeric(3000, VT_I4, 0, 0, 0, 0);
  device.kind = kParKindDevice;
  table.Insert(device);
  EXPECT_EQ(0x71u | kParFlagNotRead, table.Find(3000)->flags);
  EXPECT_TRUE(table.Remove(3000));
  EXPECT_FALSE(table.Remove(3000));
}

TEST(ParamRowTest, NumericRowsAreCheckedAtDeclaration) {
  // Equal limits mean no limits (a VT_BOOL row with default -1).
  EXPECT_EQ(0x71u, ParamRow::Numeric(1, L"b", VT_BOOL, 0, 0, -1, 0).Build().flags);
  EXPECT_EQ(0x71u, ParamRow::Numeric(1, L"n", VT_UI1, 5, 20, 5, 20).Build().flags);
  // Default outside, value outside, reversed limits, unconvertible limit.
  EXPECT_EQ(0x75u, ParamRow::Numeric(1, L"n", VT_UI1, 5, 20, 25, 5).Build().flags);
  EXPECT_EQ(0x75u, ParamRow::Numeric(1, L"n", VT_UI1, 5, 20, 5, 4).Build().flags);
  EXPECT_EQ(0x75u, ParamRow::Numeric(1, L"n", VT_I4, 20, 5, 10, 10).Build().flags);
  EXPECT_EQ(0x75u, ParamRow::Numeric(1, L"n", VT_UI1, -1, 20, 5, 5).Build().flags);

  const wchar_t* const entries[] = {L"0;Off", L"1;On", nullptr};
  ParInfo row = ParamRow::Numeric(7, L"Mode", VT_UI1, 0, 1, 0, 1)
                    .SubType(kParEnumerated).Entries(entries).Extra2(9).Build();
  EXPECT_EQ(VT_ARRAY | VT_BSTR, row.extra1.type());
  EXPECT_EQ(VT_UI4, row.extra2.type());
  EXPECT_EQ(2u, row.storage);
  EXPECT_EQ(VT_EMPTY, ParamRow::Numeric(7, L"x", VT_I4, 0, 0, 0, 0).Build().extra2.type());

  ParInfo text = ParamRow::Text(1, L"Tag", L"def", L"val", 32).Build();
  EXPECT_EQ(VT_BSTR, text.vt);
  EXPECT_STREQ(L"32", V_BSTR(text.maxValue.get()));
  EXPECT_STREQ(L"val", V_BSTR(text.value.get()));
  EXPECT_STREQ(L"def", V_BSTR(text.initialValue.get()));
}

TEST(ParamHookTest, UnknownNumbersFailAndMissingHooksAreSkipped) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    com::ComObject<BareParamObject>* object = nullptr;
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<BareParamObject>::create(&object));
    com::Variant argument;
    g_hookCalls.clear();
    EXPECT_EQ(E_INVALIDARG, object->InvokeParameterCallback(kIdHooked, 7, argument.value()));
    EXPECT_EQ(E_INVALIDARG, object->InvokeParameterCallback(4242, 5, argument.value()));
    EXPECT_EQ(S_FALSE, object->InvokeParameterCallback(kIdHooked, 1, argument.value()));
    EXPECT_EQ(S_OK, object->InvokeParameterCallback(kIdHooked, 6, argument.value()));
    ASSERT_EQ(1u, g_hookCalls.size());
    EXPECT_EQ(6, g_hookCalls[0].hook);

    // Index operations follow ascending ids whatever the declaration order.
    ULONG count = 0, id = 0;
    EXPECT_HRESULT_SUCCEEDED(object->GetParameterCount(&count));
    EXPECT_EQ(kTestRowCount, count);
    EXPECT_HRESULT_SUCCEEDED(object->GetParameterIdByIndex(0, &id));
    EXPECT_EQ(static_cast<ULONG>(kIdTag), id);
    EXPECT_EQ(2, object->IndexOfParameter(kIdPreambles));
    object->Release();
  }
  CoUninitialize();
}

}  // namespace
