// The DTM's value texts under a user locale that writes numbers and dates
// differently from the invariant one (a German user: decimal comma, day
// first, 24-hour clock). The program runs in a prefix of its own, whose user
// overrides it sets through SetLocaleInfo; Wine keeps the locale id of the
// Unix side but honours these overrides, which is what the conversions read.
#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <memory>
#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "dtm_test_support.h"
#include "test_dtm_ids.h"
#include "toolkit.h"
#include "user_formats.h"

namespace dtmtest {
namespace {

namespace par = test_dtm_parameter;

class GermanLocaleTest : public DtmFixture {
 protected:
  static void SetUpTestSuite() {
    DtmFixture::SetUpTestSuite();
    formats_ = std::make_unique<testsupport::GermanUserFormats>();
  }
  static void TearDownTestSuite() {
    formats_.reset();
  }

  static inline std::unique_ptr<testsupport::GermanUserFormats> formats_;

  void SetUp() override {
    // Without the user's own formats this program would prove nothing.
    ASSERT_TRUE(testsupport::GermanUserFormats::WriteDecimalComma())
        << "the prefix does not take the user's formats";
    DtmFixture::SetUp();
  }

  com::Variant Value(ULONG id) { return Field(id, 0x80); }
  HRESULT Write(ULONG id, const VARIANT& value) {
    com::ComPtr<IevFdtParameterHandler4> handler;
    EXPECT_EQ(S_OK, object.as(handler));
    return handler->WriteParameter(com::ui4(id).value(), value);
  }
  static com::Variant Real(double value, VARTYPE vt = VT_R8) {
    com::Variant out;
    V_VT(out.get()) = vt;
    V_R8(out.get()) = value;
    return out;
  }
};

TEST_F(GermanLocaleTest, TheParameterDocumentReadsBackItsNumbersAndDates) {
  Configure(L"maintenance");
  com::ComPtr<IDtmParameter> parameters;
  ASSERT_EQ(S_OK, object.as(parameters));
  com::Bstr path, document;
  ASSERT_EQ(S_OK, parameters->GetParameters(path.get(), document.put()));
  const std::wstring text = document.c_str();
  EXPECT_NE(std::wstring::npos, text.find(L"number=\"2.5\"")) << text;

  ASSERT_EQ(S_OK, Write(par::kExportVariant, Real(7.25).value()));
  ASSERT_EQ(S_OK, Write(par::kExportDate, Real(3.0, VT_DATE).value()));
  VARIANT_BOOL applied = VARIANT_FALSE;
  ASSERT_EQ(S_OK, parameters->SetParameters(path.get(), document.get(), &applied));
  EXPECT_EQ(VARIANT_TRUE, applied);
  EXPECT_EQ(2.5, V_R8(Value(par::kExportVariant).get()));
  EXPECT_EQ(45000.5, V_DATE(Value(par::kExportDate).get()));
}

TEST_F(GermanLocaleTest, ExportAndImportKeepFractions) {
  Configure(L"maintenance");
  ASSERT_EQ(S_OK, Write(par::kExportVariant, Real(0.125).value()));
  com::ComPtr<IDtmImportExport> port;
  ASSERT_EQ(S_OK, object.as(port));
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, port->Export(stream.get(), &done));

  ASSERT_EQ(S_OK, Write(par::kExportVariant, Real(9.0).value()));
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(S_OK, port->Import(stream.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(0.125, V_R8(Value(par::kExportVariant).get()));
}

}  // namespace
}  // namespace dtmtest
