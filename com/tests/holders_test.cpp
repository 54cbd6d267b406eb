#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "com/Bstr.h"
#include "com/ComError.h"
#include "com/Guard.h"
#include "com/SafeArray.h"
#include "com/Variant.h"

namespace {

TEST(BstrTest, CopiesOwnAndCompareTexts) {
  com::Bstr empty;
  EXPECT_EQ(nullptr, empty.get());
  EXPECT_STREQ(L"", empty.c_str());
  EXPECT_TRUE(empty == com::Bstr(L""));

  com::Bstr a(L"abc");
  com::Bstr b(a);
  EXPECT_NE(a.get(), b.get());
  EXPECT_TRUE(a == b);

  // Embedded zeros count; comparison looks at the whole length.
  com::Bstr zeros(L"a\0b", 3);
  EXPECT_EQ(3u, zeros.length());
  EXPECT_FALSE(zeros == com::Bstr(L"a"));

  ASSERT_EQ(S_OK, b.append(L"def"));
  EXPECT_STREQ(L"abcdef", b.c_str());
  EXPECT_STREQ(L"abc", a.c_str());

  com::Bstr moved(std::move(b));
  EXPECT_STREQ(L"abcdef", moved.c_str());
  EXPECT_EQ(nullptr, b.get());

  a = moved;
  EXPECT_STREQ(L"abcdef", a.c_str());
  a = a;  // self-assignment keeps the text
  EXPECT_STREQ(L"abcdef", a.c_str());
}

TEST(BstrTest, OutParametersAndConversion) {
  com::Bstr text(L"x");
  EXPECT_EQ(E_POINTER, text.copyTo(nullptr));
  BSTR out = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(S_OK, com::Bstr().copyTo(&out));
  EXPECT_EQ(nullptr, out);
  ASSERT_EQ(S_OK, text.copyTo(&out));
  EXPECT_STREQ(L"x", out);
  ::SysFreeString(out);

  ASSERT_EQ(S_OK, text.assignMultiByte("h\xc3\xa9llo", CP_UTF8));
  EXPECT_STREQ(L"h\u00e9llo", text.c_str());
  ASSERT_EQ(S_OK, text.assignMultiByte(nullptr));
  EXPECT_EQ(nullptr, text.get());

  // put() frees what was held before an API fills the slot.
  text.attach(::SysAllocString(L"old"));
  BSTR* slot = text.put();
  EXPECT_EQ(nullptr, *slot);
  *slot = ::SysAllocString(L"new");
  EXPECT_STREQ(L"new", text.c_str());
}

TEST(VariantTest, CopiesAndMoves) {
  com::Variant number(42);
  EXPECT_EQ(VT_I4, number.type());
  com::Variant text(L"hello");
  com::Variant copy(text);
  EXPECT_EQ(VT_BSTR, copy.type());
  EXPECT_NE(V_BSTR(copy.get()), V_BSTR(text.get()));
  EXPECT_STREQ(L"hello", V_BSTR(copy.get()));

  com::Variant moved(std::move(copy));
  EXPECT_EQ(VT_EMPTY, copy.type());
  EXPECT_STREQ(L"hello", V_BSTR(moved.get()));

  VARIANT out;
  ASSERT_EQ(S_OK, moved.detachTo(&out));
  EXPECT_EQ(VT_EMPTY, moved.type());
  EXPECT_STREQ(L"hello", V_BSTR(&out));
  moved.attach(out);
  EXPECT_EQ(VT_EMPTY, V_VT(&out));
  EXPECT_EQ(VT_BSTR, moved.type());

  ASSERT_EQ(S_OK, number.changeType(VT_BSTR));
  EXPECT_STREQ(L"42", V_BSTR(number.get()));
  EXPECT_EQ(S_OK, com::Variant(L"17").copyTo(&out));
  EXPECT_EQ(S_OK, ::VariantChangeType(&out, &out, 0, VT_I4));
  EXPECT_EQ(17, V_I4(&out));
  EXPECT_EQ(E_POINTER, number.copyTo(nullptr));
}

TEST(VariantTest, FailedCopyRaisesAndLeavesError) {
  // A VARIANT that VariantCopy refuses: a type it does not know.
  VARIANT bad;
  ::VariantInit(&bad);
  V_VT(&bad) = 0x7F;
  try {
    com::Variant copy(bad);
    FAIL() << "copy of an invalid VARIANT did not raise";
  } catch (const com::ComError& e) {
    EXPECT_TRUE(FAILED(e.hr()));
  }
  com::Variant target(5);
  HRESULT hr = target.assign(bad);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(VT_I4, target.type());  // a failed assignment keeps the old value
  EXPECT_EQ(5, V_I4(target.get()));
}

TEST(SafeArrayTest, VectorOwnedAndAccessed) {
  com::SafeArray array;
  ASSERT_EQ(S_OK, array.createVector(VT_I4, 3));
  EXPECT_EQ(3u, array.count());
  {
    com::SafeArrayData<LONG> data(array.get());
    ASSERT_EQ(S_OK, data.result());
    data[2] = 7;
  }
  LONG index = 2, value = 0;
  ASSERT_EQ(S_OK, ::SafeArrayGetElement(array.get(), &index, &value));
  EXPECT_EQ(7, value);
  com::SafeArrayData<LONG> none(nullptr);
  EXPECT_EQ(E_POINTER, none.result());
}

TEST(GuardTest, ExceptionsBecomeFailureCodes) {
  EXPECT_EQ(S_FALSE, com::guard([] { return S_FALSE; }));
  EXPECT_EQ(E_ACCESSDENIED, com::guard([]() -> HRESULT { throw com::ComError(E_ACCESSDENIED); }));
  EXPECT_EQ(E_OUTOFMEMORY, com::guard([]() -> HRESULT { throw std::bad_alloc(); }));
  EXPECT_EQ(DISP_E_OVERFLOW,
            com::guard([]() -> HRESULT { throw static_cast<HRESULT>(DISP_E_OVERFLOW); }));
  EXPECT_EQ(E_FAIL, com::guard([]() -> HRESULT { throw std::out_of_range("index"); }));
  EXPECT_EQ(E_UNEXPECTED, com::guard([]() -> HRESULT { throw 42; }));
  // A thrown success code must not read as success.
  EXPECT_EQ(E_UNEXPECTED, com::guard([]() -> HRESULT { throw static_cast<HRESULT>(S_OK); }));
  EXPECT_EQ(E_UNEXPECTED, com::guard([]() -> HRESULT { throw com::ComError(S_FALSE); }));
}

}  // namespace
