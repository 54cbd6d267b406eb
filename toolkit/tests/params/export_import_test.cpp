// The PARAMETERS text written and read back, and private properties.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "crt_locale.h"
#include "param_test_object.h"
#include "toolkit/params/param_rows.h"
#include "toolkit/params/parameters_text.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/xml/xml_dom.h"

namespace {

constexpr ULONG kReal = 4000;     // VT_R8
constexpr ULONG kDate = 4001;     // VT_DATE
constexpr ULONG kOdd = 4002;      // VT_BSTR named a"<&b
constexpr ULONG kBytes = 4003;    // VT_ARRAY|VT_UI1

com::Variant real(double v) {
  com::Variant out;
  V_VT(out.get()) = VT_R8;
  V_R8(out.get()) = v;
  return out;
}

class ExportImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<TestParamObject>::create(&dtm_));
    ASSERT_EQ(S_OK, ParamRow::Numeric(kReal, L"Real", VT_R8, 0, 0, 0.1, 0.1).AddTo(dtm_));
    ASSERT_EQ(S_OK, ParamRow::Numeric(kDate, L"Date", VT_DATE, 0, 0, 45000.25, 45000.25).AddTo(dtm_));
    ASSERT_EQ(S_OK, ParamRow::Text(kOdd, L"a\"<&b", L"x&y<\"z>\r\n", L"x&y<\"z>\r\n", 0).AddTo(dtm_));
    ParInfo bytes = ParamRow::Text(kBytes, L"Bytes", L"", L"", 0).Build();
    bytes.vt = VT_ARRAY | VT_UI1;
    ASSERT_EQ(S_OK, CFdtVariant::FromHexString(bytes.value.get(), L"00A1FF"));
    ASSERT_EQ(S_OK, dtm_->AddParameter(bytes));
  }
  void TearDown() override {
    dtm_->Release();
    CoUninitialize();
  }
  com::Variant value(ULONG id) {
    com::Variant out;
    EXPECT_EQ(S_OK, dtm_->GetValue(id, out.get()));
    return out;
  }
  std::wstring exported(bool onlyMarked = true, bool onlyExportable = false) {
    com::Bstr text;
    EXPECT_EQ(S_OK, dtm_->ExportParameters(nullptr, onlyMarked, onlyExportable, text.put()));
    return text.c_str() ? text.c_str() : L"";
  }

  com::ComObject<TestParamObject>* dtm_ = nullptr;
};

TEST_F(ExportImportTest, EntryLayoutAndEscaping) {
  com::Bstr entry;
  ASSERT_EQ(S_OK, FormatParametersEntry(980, L"Scan Start", com::Variant(LONG{7}).value(), entry.put()));
  EXPECT_STREQ(L"<Parameter \r\n\tid    =\"980\" \r\n\tname  =\"Scan Start\" \r\n\ttype  =\"VT_I4\" "
               L"\r\n\tvalue =\"7\" \r\n/> \r\n",
               entry.c_str());
  com::Bstr list;
  ASSERT_EQ(S_OK, FormatParametersList(entry.c_str(), list.put()));
  EXPECT_EQ(0, std::wstring(list.c_str()).find(L"<PARAMETERS> \r\n<Parameter"));

  // Markup in a name or a value stays data: the text parses and reads back.
  const std::wstring text = exported();
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL created = VARIANT_FALSE;
  ASSERT_EQ(S_OK, XmlCreateAndLoad(text.c_str(), doc.put(), &created));
  com::Bstr name, odd;
  ASSERT_EQ(S_OK, XmlGetNodeText(doc.get(), L"PARAMETERS/Parameter[@id=\"4002\"]/@name", name.put()));
  EXPECT_STREQ(L"a\"<&b", name.c_str());
  ASSERT_EQ(S_OK, XmlGetNodeText(doc.get(), L"PARAMETERS/Parameter[@id=\"4002\"]/@value", odd.put()));
  EXPECT_STREQ(L"x&y<\"z>\r\n", odd.c_str());
}

TEST_F(ExportImportTest, RoundTripRestoresEveryValueExactly) {
  ASSERT_EQ(S_OK,
            dtm_->WriteParameter(com::ui4(kIdScanStart).value(), com::Variant(LONG{9}).value()));
  const std::wstring text = exported();
  // Reals and dates are written without the user's locale.
  EXPECT_NE(std::wstring::npos, text.find(L"value =\"0.10000000000000001\""));
  EXPECT_NE(std::wstring::npos, text.find(L"type  =\"VT_DATE\""));

  ASSERT_EQ(S_OK, dtm_->WriteValue(kReal, real(3.75).value()));
  ASSERT_EQ(S_OK, dtm_->WriteValue(kDate, real(1.5).value()));
  ASSERT_EQ(S_OK, dtm_->WriteValue(kOdd, com::Variant(L"other").value()));
  ASSERT_EQ(S_OK, dtm_->WriteValue(kIdScanStart, com::Variant(LONG{1}).value()));
  ASSERT_EQ(S_OK, dtm_->WriteValue(kBytes, com::Variant(L"01").value()));
  dtm_->controlMessages.clear();

  ASSERT_EQ(S_OK, dtm_->LoadParameterValues(text.c_str(), nullptr));
  EXPECT_EQ(0.1, V_R8(value(kReal).get()));
  EXPECT_EQ(45000.25, V_DATE(value(kDate).get()));
  EXPECT_STREQ(L"x&y<\"z>\r\n", V_BSTR(value(kOdd).get()));
  EXPECT_EQ(9, V_UI1(value(kIdScanStart).get()));
  com::Bstr hex;
  ASSERT_EQ(S_OK, CFdtVariant::BytesToHexString(value(kBytes).get(), hex.put()));
  EXPECT_STREQ(L"00A1FF", hex.c_str());
  // Each entry was written once through the import write.
  size_t entries = 0;
  for (size_t at = text.find(L"<Parameter "); at != std::wstring::npos;
       at = text.find(L"<Parameter ", at + 1))
    ++entries;
  EXPECT_EQ(entries, dtm_->MessagesWithCode(kCtlValueWritten).size());
  EXPECT_EQ(exported(), text);
}

// A frame that gave the C runtime its user's locale (a decimal comma)
// changes neither the text nor what is read back: the text written there
// reads the same on any machine.
TEST_F(ExportImportTest, TheCRuntimesLocaleChangesNeitherTheTextNorWhatIsRead) {
  const std::wstring plain = exported();
  testsupport::CrtLocale german;
  ASSERT_TRUE(testsupport::CrtLocale::WritesDecimalComma());
  const std::wstring text = exported();
  EXPECT_EQ(plain, text);
  ASSERT_EQ(S_OK, dtm_->WriteValue(kReal, real(3.75).value()));
  ASSERT_EQ(S_OK, dtm_->LoadParameterValues(text.c_str(), nullptr));
  EXPECT_EQ(0.1, V_R8(value(kReal).get()));
}

// Infinities, NaN and -0 of either real type come back from their text
// (XML Schema's forms, as in the value documents).
TEST_F(ExportImportTest, InfinitiesNanAndNegativeZeroReadBack) {
  auto roundTrip = [](const com::Variant& value, std::wstring* text) {
    com::Bstr written;
    com::Variant read;
    EXPECT_EQ(S_OK, ParametersValueText(value.value(), written.put()));
    *text = written.c_str() ? written.c_str() : L"";
    EXPECT_EQ(S_OK, ParametersValueFromText(text->c_str(), value.type(), read.put())) << *text;
    return read;
  };
  std::wstring text;
  const double inf = std::numeric_limits<double>::infinity();
  for (double d : {inf, -inf, -0.0}) {
    const com::Variant read = roundTrip(real(d), &text);
    ASSERT_EQ(VT_R8, read.type()) << text;
    EXPECT_EQ(0, std::memcmp(&d, &V_R8(read.get()), sizeof d)) << text;
  }
  EXPECT_TRUE(std::isnan(V_R8(roundTrip(real(std::numeric_limits<double>::quiet_NaN()), &text).get())));
  EXPECT_EQ(L"NaN", text);
  const float finf = std::numeric_limits<float>::infinity();
  for (float f : {finf, -finf, -0.0f, std::numeric_limits<float>::quiet_NaN(), 0.1f, 16777215.0f}) {
    com::Variant single;
    V_VT(single.get()) = VT_R4;
    V_R4(single.get()) = f;
    const com::Variant read = roundTrip(single, &text);
    ASSERT_EQ(VT_R4, read.type()) << text;
    if (std::isnan(f))
      EXPECT_TRUE(std::isnan(V_R4(read.get()))) << text;
    else
      EXPECT_EQ(0, std::memcmp(&f, &V_R4(read.get()), sizeof f)) << text;
  }
  EXPECT_EQ(L"16777215", text);
}

TEST_F(ExportImportTest, ImportSkipsWrongTypesMissingAndRepeatedEntries) {
  const wchar_t document[] =
      L"<PARAMETERS>"
      L"<Parameter id=\"980\" name=\"Scan Start\" type=\"VT_BSTR\" value=\"3\"/>"
      L"<Parameter id=\"1002\" name=\"Preamble Count\" type=\"VT_UI1\" value=\"12\"/>"
      L"<Parameter id=\"1010\" type=\"VT_UI1\" value=\"1\"/><Parameter id=\"1010\" type=\"VT_UI1\" value=\"2\"/>"
      L"<Parameter id=\"4000\" type=\"VT_R8\" value=\"not a number\"/>"
      L"</PARAMETERS>";
  ASSERT_EQ(S_OK, dtm_->LoadParameterValues(document, L"Import"));
  EXPECT_EQ(0, V_UI1(value(kIdScanStart).get()));   // type differs
  EXPECT_EQ(12, V_UI1(value(kIdPreambles).get()));
  EXPECT_EQ(0, V_UI1(value(kIdMode).get()));        // two entries: not taken
  EXPECT_EQ(0.1, V_R8(value(kReal).get()));         // does not convert

  EXPECT_EQ(E_POINTER, dtm_->LoadParameterValues(nullptr, nullptr));
  EXPECT_EQ(E_FAIL, dtm_->LoadParameterValues(L"<PARAMETERS><Parameter", nullptr));
  EXPECT_EQ(12, V_UI1(value(kIdPreambles).get()));
}

TEST_F(ExportImportTest, FiltersAndTheExportableSet) {
  // Only-marked: persistent parameters; Scan Active is not persistent.
  EXPECT_EQ(std::wstring::npos, exported().find(L"id    =\"1005\""));
  EXPECT_NE(std::wstring::npos, exported(false).find(L"id    =\"1005\""));
  // Nothing written yet: no exportable parameter, a null text.
  EXPECT_EQ(L"", exported(false, true));
  com::Bstr none(L"x");
  EXPECT_EQ(S_OK, dtm_->Export(none.put()));
  EXPECT_EQ(nullptr, none.get());

  ASSERT_EQ(S_OK,
            dtm_->WriteParameter(com::ui4(kIdPreambles).value(), com::Variant(LONG{8}).value()));
  com::Bstr text;
  ASSERT_EQ(S_OK, dtm_->Export(text.put()));
  const std::wstring only = text.c_str();
  EXPECT_NE(std::wstring::npos, only.find(L"id    =\"1002\""));
  EXPECT_EQ(std::wstring::npos, only.find(L"id    =\"980\""));

  ASSERT_EQ(S_OK, dtm_->WriteValue(kIdPreambles, com::Variant(LONG{5}).value()));
  ASSERT_EQ(S_OK, dtm_->Import(text.get()));
  EXPECT_EQ(8, V_UI1(value(kIdPreambles).get()));
  EXPECT_EQ(E_POINTER, dtm_->ExportParameters(nullptr, true, false, nullptr));
}

TEST_F(ExportImportTest, PrivatePropertiesByName) {
  com::ComPtr<IevFdtParameterInfo> info;
  ASSERT_EQ(S_OK, info.queryFrom(static_cast<IevFdtParameterHandler4*>(dtm_)));
  const com::Variant id = com::ui4(kIdPreambles);
  const com::Variant name(L"Unit \"x\" & <y>");
  ASSERT_EQ(S_OK, info->SetParameterInfo(id.value(), name.value(), com::Variant(LONG{3}).value()));
  ASSERT_EQ(S_OK, info->SetParameterInfo(id.value(), name.value(), com::Variant(L"mA").value()));
  ASSERT_EQ(S_OK, info->SetParameterInfo(id.value(), com::Variant(L"Scale").value(), real(0.5).value()));

  com::Variant read;
  ASSERT_EQ(S_OK, info->GetParameterInfo(id.value(), name.value(), read.get()));
  ASSERT_EQ(VT_BSTR, read.type());
  EXPECT_STREQ(L"mA", V_BSTR(read.get()));
  ASSERT_EQ(S_OK, info->GetParameterInfo(id.value(), com::Variant(L"Scale").value(), read.put()));
  ASSERT_EQ(VT_R8, read.type());
  EXPECT_EQ(0.5, V_R8(read.get()));
  EXPECT_EQ(E_INVALIDARG, info->GetParameterInfo(id.value(), com::Variant(L"None").value(), read.put()));

  // The field holds one Property per name.
  com::Variant field;
  ASSERT_EQ(S_OK, info->GetParameterInfo(id.value(), com::ui4(kParExtra5).value(), field.get()));
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL created = VARIANT_FALSE;
  ASSERT_EQ(S_OK, XmlCreateAndLoad(V_BSTR(field.get()), doc.put(), &created));
  com::ComPtr<IXMLDOMNodeList> properties;
  ASSERT_EQ(S_OK, doc->selectNodes(com::Bstr(L"PrivateProperties/Property").get(), properties.put()));
  LONG count = 0;
  properties->get_length(&count);
  EXPECT_EQ(2, count);

  // A field that holds something else than a text is not a property list.
  ASSERT_EQ(S_OK,
            info->SetParameterInfo(com::ui4(kIdScanStart).value(), com::ui4(kParExtra5).value(),
                                   com::Variant(LONG{1}).value()));
  EXPECT_EQ(E_NOTIMPL, info->SetParameterInfo(com::ui4(kIdScanStart).value(), name.value(),
                                              com::Variant(LONG{1}).value()));
}

TEST_F(ExportImportTest, FieldSettersRefuseTheTypeFieldAndSeveralFields) {
  com::ComPtr<IevFdtParameterInfo> info;
  ASSERT_EQ(S_OK, info.queryFrom(static_cast<IevFdtParameterHandler4*>(dtm_)));
  const com::Variant id = com::ui4(kIdPreambles);
  EXPECT_EQ(E_FAIL, info->SetParameterInfo(id.value(), com::ui4(kParVt).value(),
                                           com::ui4(VT_BSTR).value()));
  EXPECT_EQ(E_FAIL, info->SetParameterInfo(id.value(), com::ui4(kParValue | kParFlags).value(),
                                           com::ui4(1).value()));
  ParInfo record;
  ASSERT_EQ(S_OK, dtm_->GetParInfo(kIdPreambles, kParVt, &record));
  EXPECT_EQ(VT_UI1, record.vt);

  // The by-variant setters: value changed to the declared type, flags word.
  ASSERT_EQ(S_OK, dtm_->SetValueAndFlagsByVariant(id.value(), com::Variant(L"11").value(),
                                                  com::ui4(0x41).value()));
  ASSERT_EQ(S_OK, dtm_->GetParInfo(kIdPreambles, kParValue | kParFlags, &record));
  EXPECT_EQ(VT_UI1, record.value.type());
  EXPECT_EQ(11, V_UI1(record.value.get()));
  EXPECT_EQ(0x41u, record.flags);
  EXPECT_NE(S_OK, dtm_->SetValueAndFlagsByVariant(id.value(), com::Variant(L"x").value(),
                                                  com::Variant().value()));
  ParInfo text;
  text.text3 = com::Bstr(L"Group");
  ASSERT_EQ(S_OK, dtm_->SetParInfoByVariant(com::Variant(LONG{1002}).value(), kParText3, text));
  EXPECT_EQ(E_FAIL, dtm_->SetParInfoByVariant(com::Variant(L"x").value(), kParText3, text));
}

}  // namespace
