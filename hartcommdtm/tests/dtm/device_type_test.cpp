// The data set's device type: the DTM accepts only its own, keeps the
// frame's device-type element as text that parses on its own (the toolkit
// persists it and Config reads the name back from it), and Config then
// names the new data set after the device type.
#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "toolkit/dtm/dtm_states.h"

namespace hartdtmtest {
namespace {

class DeviceTypeTest : public HartDtmFixture {
 protected:
  // InitNewDeviceType's answer for a device-type document (attached first).
  VARIANT_BOOL Offer(const std::wstring& document) {
    if (!object) Attach();
    VARIANT_BOOL ok = VARIANT_FALSE;
    dtm->InitNewDeviceType(com::Bstr(document.c_str()).get(), &ok);
    return ok;
  }

  // The kept device type, parsed as a document of its own.
  com::ComPtr<IXMLDOMDocument2> KeptDeviceType() {
    com::Bstr reference;
    EXPECT_EQ(S_OK, base->GetDataSetReference(reference.put()));
    return Parse(reference.c_str(), L"");
  }
};

TEST_F(DeviceTypeTest, OwnDeviceTypeIsKeptAsAStandaloneDocumentAndNamesTheDataSet) {
  Configure();
  auto kept = KeptDeviceType();
  EXPECT_EQ(L"FSK Mavix", Select(kept.get(), L"fdt:DtmDeviceType/fdt:VersionInformation/@name"));
  EXPECT_EQ(L"VELTRA", Select(kept.get(), L"fdt:DtmDeviceType/fdt:VersionInformation/@vendor"));
  com::Variant tag = Read(hart_param::kDtmTag);
  ASSERT_EQ(VT_BSTR, V_VT(tag.get()));
  EXPECT_STREQ(L"FSK Mavix", V_BSTR(tag.get()));
}

TEST_F(DeviceTypeTest, ANamespaceDeclaredOnTheElementItselfIsNotDeclaredTwice) {
  const std::wstring document =
      L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMInitSchema.xml\">"
      L"<fdt:DtmDeviceType xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
      L"<fdt:VersionInformation name=\"FSK Mavix\" vendor=\"VELTRA\" version=\"1.0.0\" "
      L"date=\"2013-09-30\"/></fdt:DtmDeviceType></FDT>";
  ASSERT_EQ(VARIANT_TRUE, Offer(document));
  auto kept = KeptDeviceType();
  EXPECT_EQ(L"FSK Mavix", Select(kept.get(), L"fdt:DtmDeviceType/fdt:VersionInformation/@name"));
}

TEST_F(DeviceTypeTest, OtherDeviceTypesAreRefusedAndAQuoteCannotWidenTheMatch) {
  EXPECT_EQ(VARIANT_FALSE, Offer(DeviceTypeDocument(L"Other Modem")));
  EXPECT_EQ(kDtmEnvironmentSet, State());
  // Pasted into the information document's query unquoted, this name would
  // match every device type.
  EXPECT_EQ(VARIANT_FALSE,
            Offer(DeviceTypeDocument(L"Other&quot; or &quot;1&quot;=&quot;1")));
  EXPECT_EQ(kDtmEnvironmentSet, State());
}

}  // namespace
}  // namespace hartdtmtest
