// Text helpers, the FDT enumeration and data-type tables, the VARTYPE names
// and the SAFEARRAY builders.
#include <gtest/gtest.h>

#include <string>

#include "com/Bstr.h"
#include "outside.h"
#include "test_values.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/safe_array.h"
#include "toolkit/values/text_helpers.h"

namespace {

std::wstring Take(BSTR s) {
  com::Bstr holder;
  holder.attach(s);
  return holder.c_str();
}

// The text of an enumeration value, or "<E_FAIL>" when the lookup fails so.
BSTR ToText(HRESULT (*lookup)(LONG, BSTR*), LONG value) {
  BSTR text = nullptr;
  return lookup(value, &text) == E_FAIL ? ::SysAllocString(L"<E_FAIL>") : text;
}

TEST(FormatBstr, GrowsUntilTheTextFitsAndNeverCuts) {
  com::Bstr out;
  const std::wstring six(600, L'x');
  ASSERT_EQ(S_OK, FormatBstr(out.put(), L"%s|%d", six.c_str(), 42));  // %s: wide text
  EXPECT_EQ(six + L"|42", out.c_str());

  // The largest text that fits the 524,288-character buffer with its
  // terminator, and the first that does not.
  const std::wstring largest(0x80000 - 1, L'y');
  ASSERT_EQ(S_OK, FormatBstr(out.put(), L"%s", largest.c_str()));
  EXPECT_EQ(largest.size(), out.length());
  const std::wstring tooLong(0x80000, L'y');
  EXPECT_EQ(E_FAIL, FormatBstr(out.put(), L"%s", tooLong.c_str()));
  EXPECT_EQ(nullptr, out.get());

  ASSERT_EQ(S_OK, FormatBstr(out.put(), L"%hs and %ls", "narrow", L"wide"));
  EXPECT_STREQ(L"narrow and wide", out.c_str());
  EXPECT_EQ(E_POINTER, FormatBstr(nullptr, L"x"));
}

TEST(NumberAndTextList, EntriesParseAsNumberAndText) {
  com::Variant list =
      MakeTextArray({L"0x1F;Mode", L"-5;Off", L"5;max", L"7", L"0x7", L"12;", L"0XfF;All"});
  struct Expected {
    LONG number;
    const wchar_t* text;
  } expected[] = {{31, L"Mode"}, {-5, L"Off"}, {5, L"max"}, {0, L""},
                  {7, L""},      {12, L""},    {255, L"All"}};
  for (LONG i = 0; i < 7; ++i) {
    LONG number = -99;
    com::Bstr text;
    ASSERT_EQ(S_OK, BstrArrayGetAt(list.value(), i, &number, text.put())) << i;
    EXPECT_EQ(expected[i].number, number) << i;
    EXPECT_STREQ(expected[i].text, text.c_str()) << i;
  }
  EXPECT_EQ(E_UNEXPECTED, BstrArrayGetAt(list.value(), 7, nullptr, nullptr));
  EXPECT_EQ(E_UNEXPECTED, BstrArrayGetAt(list.value(), -1, nullptr, nullptr));

  LONG index = -1, number = -1, count = -1;
  ASSERT_TRUE(BstrArrayFind(list.value(), L"max", &index, &number));
  EXPECT_EQ(2, index);
  EXPECT_EQ(5, number);
  EXPECT_FALSE(BstrArrayFind(list.value(), L"MAX", &index, &number));

  com::Bstr text;
  ASSERT_TRUE(BstrArrayGetAtChecked(list.value(), -5, &index, text.put()));
  EXPECT_EQ(1, index);
  EXPECT_STREQ(L"Off", text.c_str());
  EXPECT_FALSE(BstrArrayGetAtChecked(list.value(), 6, &index, text.put()));

  ASSERT_EQ(S_OK, BstrArrayGetLowerBound(list.value(), &count));
  EXPECT_EQ(7, count);
  EXPECT_EQ(E_INVALIDARG, BstrArrayGetLowerBound(MakeArray(VT_I4, {1}).value(), &count));
  EXPECT_EQ(0, count);
  com::Variant nullList;
  V_VT(nullList.put()) = VT_ARRAY | VT_BSTR;
  EXPECT_EQ(E_UNEXPECTED, BstrArrayGetLowerBound(nullList.value(), &count));
  EXPECT_FALSE(BstrArrayFind(nullList.value(), L"max", &index, &number));
}

TEST(FdtTables, EnumerationTextsBothWays) {
  const wchar_t* applicationIds[] = {
      L"fdtAdjustSetValue", L"fdtAssetManagement", L"fdtAuditTrail", L"fdtConfiguration",
      L"fdtDiagnosis", L"fdtForce", L"fdtManagement", L"fdtObserve", L"fdtOfflineCompare",
      L"fdtOfflineParameterize", L"fdtOnlineCompare", L"fdtOnlineParameterize"};
  for (LONG id = 1; id <= 12; ++id) {
    LONG back = 0;
    EXPECT_EQ(applicationIds[id - 1], Take(ToText(ApplicationIdToText, id)));
    ASSERT_EQ(S_OK, ApplicationIdFromText(applicationIds[id - 1], &back));
    EXPECT_EQ(id, back);
  }
  EXPECT_EQ(L"<E_FAIL>", Take(ToText(ApplicationIdToText, 13)));
  EXPECT_EQ(L"invalid", Take(ToText(StatusToText, 3)));
  EXPECT_EQ(L"transient", Take(ToText(StorageToText, 1)));
  EXPECT_EQ(L"allDataLoaded", Take(ToText(DataStateToText, 3)));
  EXPECT_EQ(L"<E_FAIL>", Take(ToText(DataStateToText, 4)));

  const std::pair<const wchar_t*, LONG> bits[] = {
      {L"notSupported", 0}, {L"engineering", 1}, {L"commissioning", 2}, {L"runtime", 4},
      {L"service", 8}};
  for (const auto& b : bits) {
    LONG value = -1;
    ASSERT_EQ(S_OK, ApplicationBitFromText(b.first, &value)) << b.first;
    EXPECT_EQ(b.second, value);
  }
  LONG value = -1;
  EXPECT_EQ(E_FAIL, ApplicationBitFromText(L"Runtime", &value));  // case counts
  EXPECT_EQ(E_POINTER, ApplicationIdToText(1, nullptr));
}

TEST(FdtTables, DataTypeNames) {
  const VARTYPE hexTypes[] = {VT_BSTR, VT_ARRAY | VT_UI1, VT_DATE, VT_BOOL, VT_I8};
  const std::pair<VARTYPE, const wchar_t*> named[] = {
      {VT_I1, L"int"},   {VT_I2, L"int"},       {VT_I4, L"int"},      {VT_R4, L"float"},
      {VT_R8, L"double"}, {VT_UI1, L"byte"},    {VT_UI2, L"unsigned"}, {VT_UI4, L"unsigned"}};
  com::Bstr name;
  for (const auto& n : named) {
    EXPECT_EQ(S_OK, DataTypeName(n.first, name.put())) << n.first;
    EXPECT_STREQ(n.second, name.c_str());
  }
  for (VARTYPE t : hexTypes) {
    EXPECT_EQ(S_FALSE, DataTypeName(t, name.put())) << t;
    EXPECT_STREQ(L"hexString", name.c_str());
  }
  EXPECT_EQ(E_FAIL, DataTypeName(VT_EMPTY, name.put()));
  EXPECT_EQ(E_INVALIDARG, DataTypeName(VT_I4, nullptr));

  const std::pair<const wchar_t*, VARTYPE> byName[] = {
      {L"int", VT_I4},       {L"float", VT_R4},   {L"double", VT_R8},
      {L"byte", VT_UI1},     {L"unsigned", VT_UI4}, {L"ascii", VT_BSTR},
      {L"hexString", VT_ARRAY | VT_UI1}, {L"dateAndTime", VT_DATE}};
  for (const auto& n : byName) {
    VARTYPE type = VT_EMPTY;
    ASSERT_TRUE(DataTypeFromName(n.first, &type)) << n.first;
    EXPECT_EQ(n.second, type) << n.first;
  }
  VARTYPE type = VT_EMPTY;
  EXPECT_FALSE(DataTypeFromName(L"Int", &type));
}

TEST(VarTypeNames, ReadAndWrite) {
  // The trace table's own numbers ("VT_BLOB_OBJECT" is 69 there).
  const struct {
    const wchar_t* name;
    VARTYPE type;
  } names[] = {
      {L"VT_EMPTY", 0},       {L"VT_NULL", 1},      {L"VT_I2", 2},           {L"VT_I4", 3},
      {L"VT_R4", 4},          {L"VT_R8", 5},        {L"VT_CY", 6},           {L"VT_DATE", 7},
      {L"VT_BSTR", 8},        {L"VT_ERROR", 10},    {L"VT_BOOL", 11},        {L"VT_VARIANT", 12},
      {L"VT_DECIMAL", 14},    {L"VT_I1", 16},       {L"VT_UI1", 17},         {L"VT_UI2", 18},
      {L"VT_UI4", 19},        {L"VT_I8", 20},       {L"VT_UI8", 21},         {L"VT_INT", 22},
      {L"VT_UINT", 23},       {L"VT_VOID", 24},     {L"VT_SAFEARRAY", 27},   {L"VT_USERDEFINED", 29},
      {L"VT_LPSTR", 30},      {L"VT_LPWSTR", 31},   {L"VT_RECORD", 36},      {L"VT_FILETIME", 64},
      {L"VT_BLOB", 65},       {L"VT_STREAM", 66},   {L"VT_STORAGE", 67},     {L"VT_STREAMED_OBJECT", 68},
      {L"VT_BLOB_OBJECT", 69}, {L"VT_CF", 71},      {L"VT_CLSID", 72}};
  for (const auto& n : names) {
    VARTYPE type = 0xFFFF;
    ASSERT_EQ(S_OK, VarTypeFromString(n.name, &type));
    EXPECT_EQ(n.type, type) << n.name;
    EXPECT_EQ(n.name, Take(VarTypeToStringEx(n.type)));
  }
  VARTYPE type = 0;
  VarTypeFromString(L"VT_ARRAY | VT_UI1", &type);
  EXPECT_EQ(0x2011, type);
  VarTypeFromString(L"VT_VECTOR|VT_RESERVED|VT_I4", &type);
  EXPECT_EQ(0x9003, type);
  VarTypeFromString(L"nothing", &type);
  EXPECT_EQ(VT_EMPTY, type);

  EXPECT_EQ(L"VT_UI1 | VT_ARRAY", Take(VarTypeToStringEx(0x2011)));
  EXPECT_EQ(L"Unknown (4095)", Take(VarTypeToStringEx(0x0FFF)));
  EXPECT_EQ(L"VT_I4 | VT_VECTOR | VT_ARRAY | VT_RESERVED", Take(VarTypeToStringEx(0xB003)));
}

TEST(TraceTexts, ValuesAsText) {
  com::Variant real, code;
  V_VT(real.put()) = VT_R8;
  V_R8(real.get()) = 2.5;
  V_VT(code.put()) = VT_ERROR;
  V_ERROR(code.get()) = E_FAIL;
  const std::pair<com::Variant, const wchar_t*> cases[] = {
      {MakeI4(-7), L"-7"},           {MakeText(nullptr), L""},
      {com::Variant(true), L"True"}, {com::Variant(), L""},
      {real, L"2.500000"},           {code, L"0x80004005"},
      {MakeArray(VT_UI1, {0xAB, 0x01}), L"AB01"}, {MakeArray(VT_I4, {1}), L"..."}};
  for (const auto& c : cases) {
    com::Bstr text;
    ASSERT_EQ(S_OK, VariantToString(c.first.get(), text.put()));
    EXPECT_STREQ(c.second, text.c_str());
  }
  char buffer[8] = "junk";
  EXPECT_STREQ("abcdefg", VariantToStringN(MakeText(L"abcdefg").get(), buffer, 8));
  EXPECT_STREQ("", VariantToStringN(MakeText(L"abcdefgh").get(), buffer, 8));  // no room
}

TEST(OtherTexts, TheAnsiCodePageTakesOnlyWhatItHolds) {
  BOOL lost = FALSE;
  char probe[8];
  ::WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, L"\u03a9", 1, probe, 8, nullptr, &lost);
  ASSERT_TRUE(lost) << "this prefix's code page holds every character";
  std::string bytes = "kept";
  EXPECT_TRUE(ToThreadCodePage(L"Ger\u00e4t", 5, &bytes));
  EXPECT_EQ("Ger\xe4t", bytes);
  // No "?" and no look-alike in place of a character the code page lacks.
  bytes = "kept";
  EXPECT_FALSE(ToThreadCodePage(L"\u03a9 and \u2260", 7, &bytes));
  EXPECT_FALSE(ToThreadCodePage(L"\u0100", 1, &bytes));  // best fit would give "A"
  EXPECT_EQ("kept", bytes);
  EXPECT_TRUE(ToThreadCodePage(L"", 0, &bytes));
  EXPECT_EQ("", bytes);
}

TEST(OtherTexts, HexGuidTimeAndCase) {
  const BYTE bytes[] = {0x00, 0x9F, 0xFF};
  com::Bstr text;
  ASSERT_EQ(S_OK, BytesToHexString(bytes, 3, text.put()));
  EXPECT_STREQ(L"009FFF", text.c_str());
  EXPECT_EQ(E_INVALIDARG, BytesToHexString(bytes, 0, text.put()));

  const GUID guid = {0x5bb187f0, 0xe852, 0x452e, {0xb8, 0x2d, 0x2a, 0x98, 0xb6, 0x54, 0x9f, 0x78}};
  ASSERT_EQ(S_OK, GuidToString(&guid, text.put()));
  EXPECT_STREQ(L"5BB187F0-E852-452E-B82D-2A98B6549F78", text.c_str());

  std::wstring stamp = Take(FormatIsoTimestamp());
  ASSERT_EQ(19u, stamp.size());
  EXPECT_EQ(L'-', stamp[4]);
  EXPECT_EQ(L'T', stamp[10]);
  EXPECT_EQ(L':', stamp[16]);

  // Characters outside the ANSI code page survive the case change.
  BSTR mixed = ::SysAllocString(L"Ab\x03B1\x0436");
  ASSERT_EQ(S_OK, BstrToUpper(mixed));
  EXPECT_STREQ(L"AB\x0391\x0416", mixed);
  ASSERT_EQ(S_OK, BstrToLower(mixed));
  EXPECT_STREQ(L"ab\x03B1\x0436", mixed);
  ::SysFreeString(mixed);
  BSTR none = nullptr;
  EXPECT_EQ(S_OK, BstrToLower(none));
  EXPECT_EQ(nullptr, none);
}

// A frame's transfer-group interface with the layout outside.idl gives it:
// IDispatch's four methods come first, so a caller that took the first own
// method for slot 3 would reach GetTypeInfoCount and fail.
class FakeFrame : public ITransferGroupProvider {
 public:
  ULONG lastKind = 0;
  bool answerArray = true;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(ITransferGroupProvider))
               ? this
               : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTransferGroup(VARIANT kind, VARIANT value, VARIANT* text) override {
    lastKind = V_UI4(&kind);
    if (!answerArray) {
      V_VT(text) = VT_I4;
      V_I4(text) = 1;
      return S_OK;
    }
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI4, 0, 2);
    ULONG* data = nullptr;
    ::SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
    data[0] = V_UI4(&value);
    data[1] = 0xABCDEF01;
    ::SafeArrayUnaccessData(array);
    V_VT(text) = VT_ARRAY | VT_UI4;
    V_ARRAY(text) = array;
    return S_OK;
  }
};

TEST(OtherTexts, IdentifierTextWithAndWithoutTheFrame) {
  com::Bstr text;
  ASSERT_EQ(S_OK, BytesToHex(nullptr, 0x1F, true, text.put()));
  EXPECT_STREQ(L"0000001F", text.c_str());

  FakeFrame frame;
  ASSERT_EQ(S_OK, BytesToHex(&frame, 0x1F, true, text.put()));
  EXPECT_STREQ(L"0000001FABCDEF01", text.c_str());
  EXPECT_EQ(1u, frame.lastKind);
  BytesToHex(&frame, 2, false, text.put());
  EXPECT_EQ(2u, frame.lastKind);
  frame.answerArray = false;
  EXPECT_EQ(E_UNEXPECTED, BytesToHex(&frame, 2, false, text.put()));
}

TEST(SafeArrayBuilders, StringsStopAtTheFirstEmptyOne) {
  const char* strings[] = {"one", "two", "", "never"};
  VARIANT built = CevFdtSafeArray::FromStrings(strings);
  com::Variant list;
  list.attach(built);
  LONG count = 0;
  ASSERT_EQ(S_OK, BstrArrayGetLowerBound(list.value(), &count));
  EXPECT_EQ(2, count);
  const char* empty[] = {""};
  VARIANT none = CevFdtSafeArray::FromStrings(empty);
  EXPECT_EQ(VT_EMPTY, V_VT(&none));

  com::Variant vector, element;
  ASSERT_EQ(S_OK, CevFdtSafeArray::VariantVector(980, vector.put()));
  LONG zero = 0;
  ::SafeArrayGetElement(V_ARRAY(vector.get()), &zero, element.put());
  EXPECT_EQ(VT_UI4, element.type());
  EXPECT_EQ(980u, V_UI4(element.get()));
}

}  // namespace
