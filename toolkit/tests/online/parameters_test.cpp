// IDtmParameter::SetParameters: the exported variables of a device document
// applied to the parameters, all or nothing.
#include <gtest/gtest.h>

#include "hostile_documents.h"
#include "online_fixture.h"

using dtmtest::PumpUntil;

namespace onlinetest {
namespace {

class SetParametersTest : public OnlineFixture {
 protected:
  std::wstring Document() {
    com::ComPtr<IDtmParameter> parameters;
    EXPECT_EQ(S_OK, object.as(parameters));
    com::Bstr path, document;
    EXPECT_EQ(S_OK, parameters->GetParameters(path.get(), document.put()));
    return document.c_str();
  }
  HRESULT Set(const std::wstring& document, VARIANT_BOOL* result) {
    com::ComPtr<IDtmParameter> parameters;
    EXPECT_EQ(S_OK, object.as(parameters));
    com::Bstr path, text(document.c_str());
    return parameters->SetParameters(path.get(), text.get(), result);
  }
  static void Replace(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    const size_t at = text.find(from);
    ASSERT_NE(std::wstring::npos, at) << text;
    text.replace(at, from.size(), to);
  }
  double Real(ULONG id) {
    com::Variant v = Field(id, 0x80);
    EXPECT_EQ(S_OK, v.changeType(VT_R8));
    return V_R8(v.get());
  }
};

TEST_F(SetParametersTest, AppliesTheExportedVariablesOfTheDocument) {
  Configure(L"maintenance");
  std::wstring document = Document();
  Replace(document, L"string=\"3\"", L"string=\"9\"");
  Replace(document, L"number=\"2.5\"", L"number=\"4.5\"");
  frame->clearCalls();

  VARIANT_BOOL result = VARIANT_FALSE;
  EXPECT_EQ(S_OK, Set(document, &result));
  EXPECT_EQ(VARIANT_TRUE, result);
  EXPECT_EQ(9, Value(test_dtm_parameter::kExportDisplay));
  EXPECT_DOUBLE_EQ(4.5, Real(test_dtm_parameter::kExportVariant));
  EXPECT_EQ(L"validModified", DataState());
  // Changed under the frame's lock, the data set keeps it until saved.
  EXPECT_EQ(0u, CallCount("UnlockDataSet"));
  SaveDataSet();
  EXPECT_EQ(CallCount("LockDataSet"), CallCount("UnlockDataSet"));
}

TEST_F(SetParametersTest, AVariableWithoutParameterChangesNothingAndIsReported) {
  Configure(L"maintenance");
  std::wstring document = Document();
  Replace(document, L"string=\"3\"", L"string=\"9\"");
  // One more variable, in the first group; no parameter has its name (one
  // with quotes, compared as text).
  Replace(document, L"</fdt:DtmVariables>",
          L"<fdt:DtmVariable name=\"No &quot;such&quot; one\"><fdt:Value><fdt:Display "
          L"string=\"1\"/></fdt:Value></fdt:DtmVariable></fdt:DtmVariables>");

  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, Set(document, &result));
  EXPECT_EQ(VARIANT_FALSE, result);
  EXPECT_EQ(3, Value(test_dtm_parameter::kExportDisplay));
  EXPECT_TRUE(WaitForMessage(L"An error occurred during IDtmParameter::SetParameters"));
}

// A device document that declares a document type is answered as a
// malformed one, without its entity ever being expanded.
TEST_F(SetParametersTest, ADocumentDeclaringADocumentTypeIsRefusedAsAMalformedOne) {
  Configure(L"maintenance");
  VARIANT_BOOL malformed = VARIANT_TRUE;
  const HRESULT refused = Set(L"<not a document", &malformed);
  std::wstring document = Document();
  Replace(document, L"string=\"3\"", L"string=\"9{BOMB}\"");
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(refused, Set(testsupport::WithEntityBomb(document), &result));
  EXPECT_EQ(malformed, result);
  EXPECT_EQ(VARIANT_FALSE, result);
  EXPECT_EQ(3, Value(test_dtm_parameter::kExportDisplay));
}

TEST_F(SetParametersTest, ObserverIsRefusedWithoutLoading) {
  Configure(L"observer");
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, Set(L"<not a document", &result));
  EXPECT_EQ(VARIANT_FALSE, result);
  EXPECT_EQ(E_INVALIDARG, Set(L"", nullptr));
}

}  // namespace
}  // namespace onlinetest
