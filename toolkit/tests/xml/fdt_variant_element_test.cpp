// Reals through the fdt:Variant writer and reader: what a frame reads as an
// item or an exported variable and writes back must come back to the last
// bit, and a value that the platform's 7 (float) or 15 (double) significant
// digits already carry keeps the text they give.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "toolkit/xml/fdt_variant_element.h"
#include "toolkit/xml/xml_dom.h"

namespace {

class FdtVariantElement : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { CoUninitialize(); }

  static com::Variant R4(float value) {
    com::Variant v;
    V_VT(v.get()) = VT_R4;
    V_R4(v.get()) = value;
    return v;
  }
  static com::Variant R8(double value) {
    com::Variant v;
    V_VT(v.get()) = VT_R8;
    V_R8(v.get()) = value;
    return v;
  }
  // The number text of the value's document.
  static std::wstring NumberText(const com::Variant& value) {
    com::Bstr document;
    EXPECT_EQ(S_OK, BuildFdtVariant(value.value(), document.put()));
    const std::wstring text = document.c_str();
    const std::wstring opening = L"number=\"";
    const size_t start = text.find(opening);
    if (start == std::wstring::npos) return L"<no number>";
    const size_t first = start + opening.size();
    return text.substr(first, text.find(L'"', first) - first);
  }
  // The value's document read back.
  static com::Variant RoundTrip(const com::Variant& value) {
    com::Bstr document;
    com::Variant read;
    EXPECT_EQ(S_OK, BuildFdtVariant(value.value(), document.put()));
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL created = VARIANT_FALSE;
    EXPECT_EQ(S_OK, XmlCreateAndLoad(document.c_str(), doc.put(), &created));
    com::ComPtr<IXMLDOMElement> root;
    if (!doc || FAILED(doc->get_documentElement(root.put())) || !root) return read;
    EXPECT_EQ(S_OK, ParseFdtVariant(root.get(), read.get())) << document.c_str();
    return read;
  }
  static bool SameBits(const com::Variant& a, const com::Variant& b) {
    if (a.type() != b.type()) return false;
    if (a.type() == VT_R4) return std::memcmp(&V_R4(a.get()), &V_R4(b.get()), sizeof(float)) == 0;
    return std::memcmp(&V_R8(a.get()), &V_R8(b.get()), sizeof(double)) == 0;
  }
};

TEST_F(FdtVariantElement, RealsComeBackToTheLastBitAndShortValuesKeepThePlatformsText) {
  // Texts as the platform's 7 and 15 digits give them, where those read back.
  EXPECT_EQ(L"2.5", NumberText(R8(2.5)));
  EXPECT_EQ(L"0.1", NumberText(R8(0.1)));
  EXPECT_EQ(L"1E+20", NumberText(R8(1e20)));
  EXPECT_EQ(L"0.1", NumberText(R4(0.1f)));
  EXPECT_EQ(L"-2.5", NumberText(R4(-2.5f)));
  // More digits only where they are needed, and no more than needed.
  EXPECT_EQ(L"16777215", NumberText(R4(16777215.0f)));
  EXPECT_EQ(L"123456789.12345679", NumberText(R8(123456789.12345679)));
  EXPECT_EQ(L"0.30000000000000004", NumberText(R8(0.1 + 0.2)));

  const float floats[] = {16777215.0f, 1.0f / 3, 3.4028235e38f, 1e-45f, 123456.79f, 0.1f, -7.0f};
  for (float f : floats) EXPECT_TRUE(SameBits(R4(f), RoundTrip(R4(f)))) << NumberText(R4(f));
  const double doubles[] = {123456789.12345679, 1.0 / 3, 2.0 / 3, 0.1 + 0.2, 1e20, 5e-324,
                            1.7976931348623157e308, 2.2250738585072014e-308, 45000.123456789012};
  for (double d : doubles) EXPECT_TRUE(SameBits(R8(d), RoundTrip(R8(d)))) << NumberText(R8(d));

  // Any bit pattern of a finite real, one sample the same in every run.
  std::mt19937_64 bits(20240611);
  int checked = 0;
  while (checked < 400) {
    const unsigned long long pattern = bits();
    double d = 0;
    std::memcpy(&d, &pattern, sizeof d);
    float f = 0;
    const unsigned int low = static_cast<unsigned int>(pattern);
    std::memcpy(&f, &low, sizeof f);
    if (!std::isfinite(d) || !std::isfinite(f)) continue;
    ++checked;
    EXPECT_TRUE(SameBits(R8(d), RoundTrip(R8(d)))) << NumberText(R8(d));
    EXPECT_TRUE(SameBits(R4(f), RoundTrip(R4(f)))) << NumberText(R4(f));
  }
}

// Values without digits, which a device sends for a value it does not
// have (NaN), and -0: a frame that reads them and writes the document back
// gets the same value, and the text is XML Schema's form of it.
TEST_F(FdtVariantElement, InfinitiesNanAndNegativeZeroComeBackInSchemaForms) {
  const float fInf = std::numeric_limits<float>::infinity();
  const double dInf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(L"INF", NumberText(R4(fInf)));
  EXPECT_EQ(L"-INF", NumberText(R4(-fInf)));
  EXPECT_EQ(L"NaN", NumberText(R4(std::numeric_limits<float>::quiet_NaN())));
  EXPECT_EQ(L"INF", NumberText(R8(dInf)));
  EXPECT_EQ(L"-INF", NumberText(R8(-dInf)));
  EXPECT_EQ(L"NaN", NumberText(R8(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(L"-0", NumberText(R4(-0.0f)));
  EXPECT_EQ(L"-0", NumberText(R8(-0.0)));

  for (float f : {fInf, -fInf, -0.0f, 0.0f}) EXPECT_TRUE(SameBits(R4(f), RoundTrip(R4(f)))) << NumberText(R4(f));
  for (double d : {dInf, -dInf, -0.0, 0.0}) EXPECT_TRUE(SameBits(R8(d), RoundTrip(R8(d)))) << NumberText(R8(d));
  // Any NaN comes back as a NaN of its type: a HART device's own pattern
  // (0x7FA00000), a negative one, and 0/0 as the processor makes it.
  float hartNan = 0;
  const unsigned int hartBits = 0x7FA00000u;
  std::memcpy(&hartNan, &hartBits, sizeof hartNan);
  volatile double zero = 0;
  for (float f : {hartNan, -std::numeric_limits<float>::quiet_NaN(), static_cast<float>(zero / zero)}) {
    const com::Variant read = RoundTrip(R4(f));
    ASSERT_EQ(VT_R4, read.type());
    EXPECT_TRUE(std::isnan(V_R4(read.get())));
  }
  for (double d : {-std::numeric_limits<double>::quiet_NaN(), zero / zero}) {
    const com::Variant read = RoundTrip(R8(d));
    ASSERT_EQ(VT_R8, read.type());
    EXPECT_TRUE(std::isnan(V_R8(read.get())));
  }

  // A range bound's element takes the same forms.
  com::Bstr element;
  ASSERT_EQ(S_OK, BuildFdtValueElement(R8(-dInf).value(), element.put()));
  EXPECT_STREQ(L"<fdt:NumberData number=\"-INF\" />", element.c_str());
}

// The reader takes what the platform's conversion takes, a real in its
// plain form correctly rounded and anything else as before.
TEST_F(FdtVariantElement, ReaderTakesPlainRealsExactlyAndOtherFormsAsThePlatformDoes) {
  auto read = [](const wchar_t* type, const wchar_t* number, VARIANT* value) {
    const std::wstring text = std::wstring(L"<fdt:Variant xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" dataType=\"") +
                              type + L"\"><fdt:NumberData number=\"" + number + L"\"/></fdt:Variant>";
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL created = VARIANT_FALSE;
    EXPECT_EQ(S_OK, XmlCreateAndLoad(text.c_str(), doc.put(), &created));
    com::ComPtr<IXMLDOMElement> root;
    EXPECT_EQ(S_OK, doc->get_documentElement(root.put()));
    return ParseFdtVariant(root.get(), value);
  };
  com::Variant value;
  ASSERT_EQ(S_OK, read(L"double", L"0.10000000000000001", value.put()));
  EXPECT_EQ(0.1, V_R8(value.get()));
  ASSERT_EQ(S_OK, read(L"double", L" +1.5e3 ", value.put()));
  EXPECT_EQ(1500.0, V_R8(value.get()));
  ASSERT_EQ(S_OK, read(L"double", L"1,000", value.put()));  // grouping, as the platform reads it
  EXPECT_EQ(1000.0, V_R8(value.get()));
  ASSERT_EQ(S_OK, read(L"float", L"16777215", value.put()));
  ASSERT_EQ(VT_R4, value.type());
  EXPECT_EQ(16777215.0f, V_R4(value.get()));
  EXPECT_TRUE(FAILED(read(L"double", L"abc", value.put())));
  EXPECT_EQ(VT_EMPTY, value.type());
  EXPECT_TRUE(FAILED(read(L"float", L"1e60", value.put())));
  // XML Schema's words, as a frame's own writer gives them.
  ASSERT_EQ(S_OK, read(L"float", L"NaN", value.put()));
  ASSERT_EQ(VT_R4, value.type());
  EXPECT_TRUE(std::isnan(V_R4(value.get())));
  ASSERT_EQ(S_OK, read(L"double", L" -INF ", value.put()));
  EXPECT_EQ(-std::numeric_limits<double>::infinity(), V_R8(value.get()));
}

}  // namespace
