// Online compare and device status through IDtmOnlineDiagnosis against the
// test DTM's device side.
#include <gtest/gtest.h>

#include "online_fixture.h"
#include "toolkit/dtm/dtm_states.h"

namespace onlinetest {
namespace {

class CompareTest : public OnlineFixture {
 protected:
  std::wstring Compare() {
    com::ComPtr<IDtmOnlineDiagnosis> diagnosis;
    EXPECT_EQ(S_OK, object.as(diagnosis));
    com::Bstr document;
    EXPECT_EQ(S_OK, diagnosis->OnlineCompare(document.put()));
    return document.c_str();
  }
  std::wstring Status() {
    com::ComPtr<IDtmOnlineDiagnosis> diagnosis;
    EXPECT_EQ(S_OK, object.as(diagnosis));
    com::Bstr document;
    EXPECT_EQ(S_OK, diagnosis->GetDeviceStatus(document.put()));
    return document.c_str();
  }
  static bool Has(const std::wstring& text, const wchar_t* part) {
    return text.find(part) != std::wstring::npos;
  }
};

TEST_F(CompareTest, EqualAfterUploadAndNotEqualAtTheFirstDifference) {
  GoOnline();
  // The data set starts at 0, the device at 10..50.
  std::wstring document = Compare();
  EXPECT_TRUE(Has(document, L"x-schema:DTMOnlineCompareSchema.xml")) << document;
  EXPECT_TRUE(Has(document, L"<CompareResult statusFlag=\"notEqual\"/>")) << document;

  LONG value = 10;
  for (ULONG id : DeviceIds()) {
    Write(id, value);
    value += 10;
  }
  document = Compare();
  EXPECT_TRUE(Has(document, L"<CompareResult statusFlag=\"equal\"/>")) << document;

  // A difference in the first compared parameter: the rest is not read.
  Write(500, 11);
  TestDeviceScript script;
  script.failingIds[0] = 501;
  script.failingCount = 1;
  Script(script);
  document = Compare();
  EXPECT_TRUE(Has(document, L"statusFlag=\"notEqual\"")) << document;
}

TEST_F(CompareTest, DeviceThatDoesNotAnswerGivesTheCommunicationErrorAndStatusError) {
  GoOnline();
  EXPECT_TRUE(Has(Status(), L"<DtmDeviceStatus fdt:statusFlag=\"ok\"/>"));

  TestDeviceScript script;
  script.failingIds[0] = 500;
  script.failingCount = 1;
  Script(script);
  const std::wstring document = Compare();
  EXPECT_TRUE(Has(document,
                  L"<fdt:CommunicationError communicationError=\"dtmSpecific\" tag=\"tag\"/>"))
      << document;
  EXPECT_FALSE(Has(document, L"CompareResult"));
  const std::wstring status = Status();
  EXPECT_TRUE(Has(status, L"x-schema:DTMDeviceStatusSchema.xml")) << status;
  EXPECT_TRUE(Has(status, L"fdt:statusFlag=\"error\"")) << status;
}

TEST_F(CompareTest, RefusedForObserversAndOutsideTheOnlineStates) {
  Configure(L"observer");
  com::ComPtr<IDtmOnlineDiagnosis> diagnosis;
  ASSERT_EQ(S_OK, object.as(diagnosis));
  com::Bstr document;
  EXPECT_EQ(S_FALSE, diagnosis->OnlineCompare(document.put()));
  EXPECT_EQ(nullptr, document.get());
  EXPECT_EQ(E_INVALIDARG, diagnosis->OnlineCompare(nullptr));
  EXPECT_EQ(E_POINTER, diagnosis->GetDeviceStatus(nullptr));
}

TEST_F(CompareTest, ConfiguredMaintenanceUserOutsideOnlineStatesIsRefused) {
  Configure(L"maintenance");
  com::ComPtr<IDtmOnlineDiagnosis> diagnosis;
  ASSERT_EQ(S_OK, object.as(diagnosis));
  com::Bstr document;
  EXPECT_EQ(S_FALSE, diagnosis->GetDeviceStatus(document.put()));
  EXPECT_EQ(nullptr, document.get());
}

TEST_F(CompareTest, CompareWithReferenceDataSetAlwaysWritesItsAnswer) {
  Configure(L"maintenance");
  com::ComPtr<IDtmDiagnosis> diagnosis;
  ASSERT_EQ(S_OK, object.as(diagnosis));
  // No reference yet: not equal, answered.
  VARIANT_BOOL equal = VARIANT_TRUE;
  EXPECT_EQ(S_OK, diagnosis->CompareWithReference(&equal));
  EXPECT_EQ(VARIANT_FALSE, equal);

  com::ComPtr<IUnknown> reference;
  ASSERT_EQ(S_OK, reference.createInstance(CLSID_TestDtm, nullptr, CLSCTX_INPROC_SERVER));
  frame->addDtm(L"Reference", reference.get());
  com::Bstr referenceTag(L"Reference");
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, diagnosis->InitCompare(referenceTag.get(), &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);

  equal = VARIANT_FALSE;
  EXPECT_EQ(S_OK, diagnosis->CompareWithReference(&equal));
  EXPECT_EQ(VARIANT_TRUE, equal);

  Write(502, 5);
  equal = VARIANT_TRUE;
  EXPECT_EQ(S_OK, diagnosis->CompareWithReference(&equal));
  EXPECT_EQ(VARIANT_FALSE, equal);
  EXPECT_EQ(S_OK, diagnosis->ReleaseCompare(&ok));
}

}  // namespace
}  // namespace onlinetest
