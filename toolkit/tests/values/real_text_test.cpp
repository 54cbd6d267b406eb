// Reals as text and back in one form while the C runtime has the locale of
// a German frame (decimal comma): the real-text helpers and the trace texts
// built on them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "crt_locale.h"
#include "toolkit/values/real_text.h"
#include "toolkit/values/text_helpers.h"

namespace {

TEST(RealText, WrittenAndReadInOneFormWhateverTheCRuntimesLocale) {
  testsupport::CrtLocale german;
  ASSERT_TRUE(testsupport::CrtLocale::WritesDecimalComma());

  EXPECT_EQ(L"2.5", RealText(2.5, 6));
  EXPECT_EQ(L"0.10000000000000001", RealText(0.1, 17));
  EXPECT_EQ(L"1e+20", RealText(1e20, 6));
  EXPECT_EQ(L"2.500000", FixedRealText(2.5, 6));

  double d = 0;
  EXPECT_TRUE(RealFromText(L"2.5", &d));
  EXPECT_EQ(2.5, d);
  EXPECT_TRUE(RealFromText(L" -1.25E+2 ", &d));
  EXPECT_EQ(-125.0, d);
  EXPECT_TRUE(RealFromText(L"+.5", &d));
  EXPECT_EQ(0.5, d);
  // Only the plain form, whole: no comma, grouping, words or hexadecimal,
  // nothing after the number, nothing beyond the type's range.
  for (const wchar_t* text : {L"2,5", L"1.000,5", L"inf", L"nan", L"0x10", L"", L" ", L"1e", L"1.5 mA",
                              L"--1", L"1e400"}) {
    d = 7;
    EXPECT_FALSE(RealFromText(text, &d)) << text;
    EXPECT_EQ(7.0, d) << text;
  }
  // XML Schema's infinities and NaN, written and read in exactly that form;
  // -0 keeps its sign.
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(L"INF", RealText(inf, 17));
  EXPECT_EQ(L"-INF", RealText(-inf, 17));
  EXPECT_EQ(L"NaN", RealText(std::numeric_limits<double>::quiet_NaN(), 17));
  EXPECT_EQ(L"NaN", RealText(-std::numeric_limits<double>::quiet_NaN(), 9));
  EXPECT_EQ(L"-0", RealText(-0.0, 17));
  EXPECT_TRUE(RealFromText(L" -INF ", &d));
  EXPECT_EQ(-inf, d);
  EXPECT_TRUE(RealFromText(L"NaN", &d));
  EXPECT_TRUE(std::isnan(d));
  EXPECT_TRUE(RealFromText(L"-0", &d));
  EXPECT_TRUE(d == 0 && std::signbit(d));
  for (const wchar_t* text : {L"NAN", L"Inf", L"INFINITY", L"-NaN", L"INF x", L"1.#INF"}) {
    d = 7;
    EXPECT_FALSE(RealFromText(text, &d)) << text;
    EXPECT_EQ(7.0, d) << text;
  }
  float f = 0;
  EXPECT_TRUE(RealFromText(L"INF", &f));
  EXPECT_EQ(std::numeric_limits<float>::infinity(), f);
  EXPECT_FALSE(RealFromText(L"1e39", &f));
  EXPECT_TRUE(RealFromText(L"16777215", &f));
  EXPECT_EQ(16777215.0f, f);
  // The number a text starts with, as scanf's "%f" reads it.
  EXPECT_TRUE(LeadingRealFromText(L" 2.5 mA", &f));
  EXPECT_EQ(2.5f, f);
  EXPECT_TRUE(LeadingRealFromText(L"3e", &f));
  EXPECT_EQ(3.0f, f);
  EXPECT_FALSE(LeadingRealFromText(L"mA 2.5", &f));

  // Trace texts of reals ("%f").
  com::Variant single, real;
  V_VT(single.get()) = VT_R4;
  V_R4(single.get()) = 2.5f;
  V_VT(real.get()) = VT_R8;
  V_R8(real.get()) = -0.125;
  com::Bstr text;
  ASSERT_EQ(S_OK, VariantToString(single.get(), text.put()));
  EXPECT_STREQ(L"2.500000", text.c_str());
  ASSERT_EQ(S_OK, VariantToString(real.get(), text.put()));
  EXPECT_STREQ(L"-0.125000", text.c_str());
}

}  // namespace
