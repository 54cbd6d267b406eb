// CFdtVariant: conversions where a wrong result is plausible.
#include <gtest/gtest.h>

#include <msxml2.h>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "test_values.h"
#include "toolkit/values/fdt_variant.h"

namespace {

HRESULT Convert(com::Variant& out, const com::Variant& in, VARTYPE type, USHORT flags = 0) {
  return CFdtVariant::ConvertTo(out.get(), in.get(), type, 0, flags);
}

TEST(ConvertTo, EmptyTextCountsAsZero) {
  com::Variant out;
  ASSERT_EQ(S_OK, Convert(out, MakeText(L""), VT_I4));
  EXPECT_EQ(VT_I4, out.type());
  EXPECT_EQ(0, V_I4(out.get()));
  ASSERT_EQ(S_OK, Convert(out, MakeText(nullptr), VT_BOOL));
  EXPECT_EQ(VARIANT_FALSE, V_BOOL(out.get()));
  ASSERT_EQ(S_OK, Convert(out, MakeText(L""), VT_R8));
  EXPECT_EQ(0.0, V_R8(out.get()));

  ASSERT_EQ(S_OK, Convert(out, MakeText(L""), VT_ARRAY | VT_VARIANT));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, out.type());
  EXPECT_EQ(1u, ::SafeArrayGetDim(V_ARRAY(out.get())));
  EXPECT_EQ(0, ElementCount(V_ARRAY(out.get())));

  ASSERT_EQ(S_OK, Convert(out, MakeText(L""), VT_ARRAY | VT_UI1));
  EXPECT_EQ(0, ElementCount(V_ARRAY(out.get())));
}

TEST(ConvertTo, BytesAndHexText) {
  com::Variant bytes = MakeArray(VT_UI1, {0x0A, 0xFF});
  com::Variant out;
  ASSERT_EQ(S_OK, Convert(out, bytes, VT_BSTR));
  EXPECT_EQ(L"0AFF", TextOf(out.value()));

  ASSERT_EQ(S_OK, Convert(out, MakeText(L"0aff"), VT_ARRAY | VT_UI1));
  EXPECT_TRUE(CFdtVariant::IsEqual(bytes.value(), out.value()));

  // Refused texts leave the destination as it was.
  EXPECT_EQ(E_INVALIDARG, Convert(out, MakeText(L"0af"), VT_ARRAY | VT_UI1));
  EXPECT_EQ(E_INVALIDARG, Convert(out, MakeText(L"0G"), VT_ARRAY | VT_UI1));
  EXPECT_TRUE(CFdtVariant::IsEqual(bytes.value(), out.value()));

  // In place: the text is read before the destination is replaced.
  com::Variant same = MakeText(L"00010203");
  ASSERT_EQ(S_OK, CFdtVariant::ConvertTo(same.get(), same.get(), VT_ARRAY | VT_UI1));
  EXPECT_EQ(4, ElementCount(V_ARRAY(same.get())));
  ASSERT_EQ(S_OK, CFdtVariant::ConvertTo(same.get(), same.get(), VT_BSTR));
  EXPECT_EQ(L"00010203", TextOf(same.value()));
}

TEST(HexText, StrictLenientAndBufferForms) {
  com::Bstr text;
  com::Variant number = MakeI4(5);
  EXPECT_EQ(E_INVALIDARG, CFdtVariant::BytesToHexString(number.get(), text.put(), false));
  ASSERT_EQ(S_OK, CFdtVariant::BytesToHexString(number.get(), text.put(), true));
  EXPECT_STREQ(L"", text.c_str());

  SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
  com::Variant twoDims;
  V_VT(twoDims.put()) = VT_ARRAY | VT_UI1;
  V_ARRAY(twoDims.get()) = ::SafeArrayCreate(VT_UI1, 2, square);
  EXPECT_EQ(E_INVALIDARG, CFdtVariant::BytesToHexString(twoDims.get(), text.put(), false));

  com::Variant emptied = MakeI4(3);
  ASSERT_EQ(S_OK, CFdtVariant::FromHexString(emptied.get(), L"", false));
  EXPECT_EQ(VT_EMPTY, emptied.type());

  BYTE buffer[2] = {};
  EXPECT_EQ(2, HexStringToBytes(L"a0B1", buffer, 2));
  EXPECT_EQ(0xA0, buffer[0]);
  EXPECT_EQ(0xB1, buffer[1]);
  EXPECT_EQ(-1, HexStringToBytes(L"a0B1C2", buffer, 2));  // does not fit
  EXPECT_EQ(-1, HexStringToBytes(L"a0B", buffer, 2));
  EXPECT_EQ(-1, HexStringToBytes(L"x0", buffer, 2));
  EXPECT_EQ(-1, HexStringToBytes(L"00", nullptr, 2));
  EXPECT_EQ(0, HexStringToBytes(L"", buffer, 2));
}

TEST(ConvertTo, ScalarsAndEmptyValuesToArrays) {
  com::Variant out;
  ASSERT_EQ(S_OK, Convert(out, MakeI4(5), VT_ARRAY | VT_I2));
  ASSERT_EQ(VT_ARRAY | VT_I2, out.type());
  ASSERT_EQ(1, ElementCount(V_ARRAY(out.get())));
  SHORT element = 0;
  LONG zero = 0;
  ::SafeArrayGetElement(V_ARRAY(out.get()), &zero, &element);
  EXPECT_EQ(5, element);

  com::Variant null;
  V_VT(null.put()) = VT_NULL;
  ASSERT_EQ(S_OK, Convert(out, null, VT_ARRAY | VT_BSTR));
  EXPECT_EQ(VT_ARRAY | VT_BSTR, out.type());
  EXPECT_EQ(0, ElementCount(V_ARRAY(out.get())));

  // Out of range for the element type: refused, destination unchanged.
  EXPECT_EQ(DISP_E_OVERFLOW, Convert(out, MakeI4(70000), VT_ARRAY | VT_I2));
  EXPECT_EQ(VT_ARRAY | VT_BSTR, out.type());
}

TEST(ConvertTo, FirstElementOfAnArray) {
  // Bounds [1..2][0..1]: the first element is (1,0), whatever is stored last.
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {2, 0}};
  com::Variant grid;
  V_VT(grid.put()) = VT_ARRAY | VT_I4;
  V_ARRAY(grid.get()) = ::SafeArrayCreate(VT_I4, 2, bounds);
  for (LONG i = 1; i <= 2; ++i) {
    for (LONG j = 0; j <= 1; ++j) {
      LONG index[2] = {i, j};
      LONG value = i * 10 + j;
      ::SafeArrayPutElement(V_ARRAY(grid.get()), index, &value);
    }
  }
  com::Variant out;
  ASSERT_EQ(S_OK, Convert(out, grid, VT_R8));
  EXPECT_EQ(10.0, V_R8(out.get()));

  ASSERT_EQ(S_OK, Convert(out, MakeArray(VT_R8, {2.5, 3.5}), VT_R8));
  EXPECT_EQ(2.5, V_R8(out.get()));
  ASSERT_EQ(S_OK, Convert(out, MakeTextArray({L"A", L"B"}), VT_BSTR));
  EXPECT_EQ(L"A", TextOf(out.value()));

  EXPECT_EQ(DISP_E_TYPEMISMATCH, Convert(out, MakeArray(VT_I4, {1}), VT_UNKNOWN));
  EXPECT_EQ(DISP_E_OVERFLOW, Convert(out, MakeArray(VT_R8, {1e10}), VT_I4));
  com::Variant nullArray;
  V_VT(nullArray.put()) = VT_ARRAY | VT_I4;
  EXPECT_EQ(E_POINTER, Convert(out, nullArray, VT_I4));
}

TEST(ConvertTo, ArraysKeepTheirShapeAndRefuseMismatchedElements) {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, -1}};
  com::Variant grid;
  V_VT(grid.put()) = VT_ARRAY | VT_I4;
  V_ARRAY(grid.get()) = ::SafeArrayCreate(VT_I4, 2, bounds);
  LONG at[2] = {2, 1};
  LONG seven = 7;
  ::SafeArrayPutElement(V_ARRAY(grid.get()), at, &seven);

  com::Variant out;
  ASSERT_EQ(S_OK, Convert(out, grid, VT_ARRAY | VT_BSTR));
  SAFEARRAY* texts = V_ARRAY(out.get());
  ASSERT_EQ(2u, ::SafeArrayGetDim(texts));
  LONG lower = 0;
  ::SafeArrayGetLBound(texts, 2, &lower);
  EXPECT_EQ(-1, lower);
  EXPECT_EQ(3, ElementCount(texts, 2));
  com::Bstr element;
  ::SafeArrayGetElement(texts, at, element.put());
  EXPECT_STREQ(L"7", element.c_str());

  // A failing element stops the walk and leaves the destination alone.
  EXPECT_EQ(DISP_E_OVERFLOW, Convert(out, MakeArray(VT_R8, {1, 1e12}), VT_ARRAY | VT_I4));
  EXPECT_EQ(VT_ARRAY | VT_BSTR, out.type());

  // A type that lies about its elements is not read past their end.
  com::Variant liar = MakeArray(VT_UI1, {1, 2});
  V_VT(liar.get()) = VT_ARRAY | VT_R8;
  EXPECT_EQ(DISP_E_TYPEMISMATCH, Convert(out, liar, VT_ARRAY | VT_I4));
  EXPECT_EQ(DISP_E_TYPEMISMATCH, Convert(out, liar, VT_I4));
}

TEST(ConvertTo, ScalarBoundsBooleansAndDates) {
  com::Variant out = MakeI4(99);
  com::Variant big;
  V_VT(big.put()) = VT_R8;
  V_R8(big.get()) = 1e10;
  EXPECT_EQ(DISP_E_OVERFLOW, Convert(out, big, VT_I4));
  EXPECT_EQ(DISP_E_OVERFLOW, Convert(out, MakeI4(-1), VT_UI4));  // not 4294967295
  EXPECT_EQ(DISP_E_OVERFLOW, Convert(out, MakeI4(-1), VT_UI1));
  EXPECT_EQ(DISP_E_OVERFLOW, Convert(out, MakeI4(256), VT_UI1));
  EXPECT_EQ(DISP_E_OVERFLOW, Convert(out, MakeText(L"70000"), VT_I2));
  EXPECT_EQ(99, V_I4(out.get()));

  com::Variant yes(true), no(false);
  ASSERT_EQ(S_OK, Convert(out, yes, VT_BSTR));
  EXPECT_EQ(L"-1", TextOf(out.value()));
  ASSERT_EQ(S_OK, Convert(out, no, VT_BSTR));
  EXPECT_EQ(L"0", TextOf(out.value()));
  // Inside arrays the toolkit's own rule applies: "-1" unless flag 2 asks
  // for the platform's words.
  ASSERT_EQ(S_OK, Convert(out, MakeArray(VT_BOOL, {-1}), VT_BSTR));
  EXPECT_EQ(L"-1", TextOf(out.value()));
  ASSERT_EQ(S_OK, Convert(out, MakeArray(VT_BOOL, {-1}), VT_BSTR, VARIANT_ALPHABOOL));
  EXPECT_NE(L"-1", TextOf(out.value()));

  ASSERT_EQ(S_OK, Convert(out, MakeText(L"2024-03-01"), VT_DATE));
  EXPECT_EQ(VT_DATE, out.type());
  EXPECT_EQ(45352.0, V_DATE(out.get()));
  ASSERT_EQ(S_OK, Convert(out, MakeText(L"45352.5"), VT_DATE));
  EXPECT_EQ(45352.5, V_DATE(out.get()));
  EXPECT_TRUE(FAILED(Convert(out, MakeText(L"no date"), VT_DATE)));
}

TEST(IsEqual, TypeRulesOfChangeDetection) {
  com::Variant u7;
  V_VT(u7.put()) = VT_UI4;
  V_UI4(u7.get()) = 7;
  EXPECT_TRUE(CFdtVariant::IsEqual(u7.value(), MakeI4(7).value()));
  EXPECT_FALSE(CFdtVariant::IsEqual(MakeI4(7).value(), u7.value()));

  // The raw bits of a double say nothing about its value.
  CFdtVariant u0(static_cast<ULONG>(0));
  com::Variant two;
  V_VT(two.put()) = VT_R8;
  V_R8(two.get()) = 2.0;  // low 32 bits are zero
  EXPECT_FALSE(CFdtVariant::IsEqual(u0.value(), two.value()));

  EXPECT_FALSE(CFdtVariant::IsEqual(MakeText(L"a").value(), MakeText(L"A").value()));
  EXPECT_TRUE(CFdtVariant::IsEqual(MakeText(L"a").value(), MakeText(L"a").value()));
  EXPECT_TRUE(CFdtVariant::IsEqual(com::Variant().value(), com::Variant().value()));
  EXPECT_FALSE(CFdtVariant::IsEqual(com::Variant().value(), MakeI4(0).value()));

  EXPECT_TRUE(CFdtVariant::IsEqual(MakeArray(VT_UI1, {1, 2}).value(),
                                   MakeArray(VT_UI1, {1, 2}).value()));
  EXPECT_FALSE(CFdtVariant::IsEqual(MakeArray(VT_UI1, {1, 2}).value(),
                                    MakeArray(VT_UI1, {1, 2, 3}).value()));
  EXPECT_FALSE(CFdtVariant::IsEqual(MakeArray(VT_UI1, {1, 2}).value(),
                                    MakeArray(VT_UI1, {1, 3}).value()));

  com::Variant day;
  V_VT(day.put()) = VT_DATE;
  V_DATE(day.get()) = 45352.0;
  com::Variant sameDay(day);
  EXPECT_TRUE(CFdtVariant::IsEqual(day.value(), sameDay.value()));
  V_DATE(sameDay.get()) = 45353.0;
  EXPECT_FALSE(CFdtVariant::IsEqual(day.value(), sameDay.value()));
}

TEST(Getters, TypedReadsAndConstructors) {
  ULONG number = 0;
  EXPECT_EQ(S_OK, CFdtVariant::GetUI4(MakeText(L"42").value(), &number));
  EXPECT_EQ(42u, number);
  EXPECT_EQ(DISP_E_OVERFLOW, CFdtVariant::GetUI4(MakeI4(-1).value(), &number));

  VARIANT_BOOL flag = VARIANT_TRUE;
  EXPECT_EQ(S_OK, CFdtVariant::GetBool(MakeI4(0).value(), &flag));
  EXPECT_EQ(VARIANT_FALSE, flag);
  EXPECT_EQ(E_POINTER, CFdtVariant::GetBool(MakeI4(0).value(), nullptr));

  BSTR text = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(S_OK, CFdtVariant::GetBstr(MakeText(nullptr).value(), &text));
  EXPECT_EQ(nullptr, text);
  EXPECT_EQ(S_OK, CFdtVariant::GetBstr(MakeI4(12).value(), &text));
  EXPECT_STREQ(L"12", text);
  ::SysFreeString(text);

  CFdtVariant id(1000ul);
  EXPECT_EQ(VT_UI4, id.type());
  EXPECT_EQ(1000u, V_UI4(id.get()));
  CFdtVariant copy(id.value());
  EXPECT_TRUE(CFdtVariant::IsEqual(id.value(), copy.value()));
  CFdtVariant nullText(static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(VT_BSTR, nullText.type());
  EXPECT_EQ(nullptr, V_BSTR(nullText.get()));
}

TEST(RemoveChars, KeepsOrderOfTheOthers) {
  BSTR text = ::SysAllocString(L"0A.FF: 10;,");
  ASSERT_EQ(S_OK, RemoveChars(text, L" .,:;"));
  EXPECT_STREQ(L"0AFF10", text);
  ASSERT_EQ(S_OK, RemoveChars(text, nullptr));
  EXPECT_STREQ(L"0AFF10", text);
  ::SysFreeString(text);
}

// Restores the user's decimal separator after a test changed it.
class DecimalSeparator {
 public:
  explicit DecimalSeparator(const wchar_t* separator) {
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, saved_, 8);
    ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator);
  }
  ~DecimalSeparator() { ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, saved_); }

 private:
  wchar_t saved_[8] = {};
};

TEST(ReadNodeValue, TypedValuesFromXPath) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    const CLSID domDocument = {
        0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
    const IID iidDocument = {
        0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
    const IID iidNode = {
        0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
    com::ComPtr<IXMLDOMDocument> doc;
    ASSERT_EQ(S_OK, ::CoCreateInstance(domDocument, nullptr, CLSCTX_INPROC_SERVER,
                                       iidDocument,
                                       reinterpret_cast<void**>(doc.put())));
    com::Bstr xml(L"<r><p v=\"1.5\" c=\"2,25\" n=\"300\" t=\"Tag\"/></r>");
    VARIANT_BOOL loaded = VARIANT_FALSE;
    ASSERT_EQ(S_OK, doc->loadXML(xml.get(), &loaded));
    com::ComPtr<IXMLDOMNode> root;
    ASSERT_EQ(S_OK, doc->QueryInterface(iidNode, reinterpret_cast<void**>(root.put())));

    com::Variant value;
    {
      DecimalSeparator comma(L",");
      ASSERT_EQ(S_OK, ReadNodeValue(root.get(), L"r/p/@v", value.put(), VT_R8));
      EXPECT_EQ(1.5, V_R8(value.get()));
      ASSERT_EQ(S_OK, ReadNodeValue(root.get(), L"r/p/@c", value.put(), VT_R8));
      EXPECT_EQ(2.25, V_R8(value.get()));
    }
    ASSERT_EQ(S_OK, ReadNodeValue(root.get(), L"r/p/@v", value.put(), VT_R4));
    EXPECT_EQ(1.5f, V_R4(value.get()));
    ASSERT_EQ(S_OK, ReadNodeValue(root.get(), L"r/p/@n", value.put(), VT_UI4));
    EXPECT_EQ(300u, V_UI4(value.get()));
    EXPECT_EQ(DISP_E_OVERFLOW, ReadNodeValue(root.get(), L"r/p/@n", value.put(), VT_UI1));
    ASSERT_EQ(S_OK, ReadNodeValue(root.get(), L"r/p/@t", value.put(), VT_BSTR));
    EXPECT_EQ(L"Tag", TextOf(value.value()));
    EXPECT_EQ(E_FAIL, ReadNodeValue(root.get(), L"r/q", value.put(), VT_BSTR));
    EXPECT_EQ(E_INVALIDARG, ReadNodeValue(root.get(), L"", value.put(), VT_BSTR));
  }
  ::CoUninitialize();
}

// A destination that cannot be cleared (a type the platform does not know)
// gets nothing: the built array is freed once, by the conversion, and the
// destination keeps what it had.
TEST(HexText, DestinationThatCannotBeClearedIsLeftAlone) {
  for (int round = 0; round < 50; ++round) {
    VARIANT dest;
    ::VariantInit(&dest);
    V_VT(&dest) = 0x7F;
    EXPECT_TRUE(FAILED(CFdtVariant::FromHexString(&dest, L"0A0B0C")));
    EXPECT_EQ(0x7F, V_VT(&dest));
    VARIANT number;
    ::VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = 5;
    EXPECT_TRUE(FAILED(CFdtVariant::ConvertTo(&dest, &number, VT_ARRAY | VT_I4)));
    EXPECT_EQ(0x7F, V_VT(&dest));
  }
  // The heap is still whole.
  EXPECT_TRUE(::HeapValidate(::GetProcessHeap(), 0, nullptr));
}

}  // namespace

