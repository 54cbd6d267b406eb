// The device type a frame offers a new data set: accepted only when the
// DTM's information document lists its name.
#include <string>

#include "dtm_test_support.h"
#include "test_dtm_ids.h"
#include "toolkit/dtm/dtm_states.h"

namespace dtmtest {
namespace {

class DeviceTypeTest : public DtmFixture {
 protected:
  // A device-type document naming the version; the name is attribute text.
  static std::wstring DeviceTypeDocument(const std::wstring& escapedName) {
    return L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMInitSchema.xml\" "
           L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:DtmDeviceType>Test Type"
           L"<fdt:VersionInformation name=\"" + escapedName + L"\"/></fdt:DtmDeviceType></FDT>";
  }
  VARIANT_BOOL Offer(const std::wstring& document) {
    VARIANT_BOOL accepted = VARIANT_TRUE;
    com::Bstr text(document.c_str());
    HRESULT hr = dtm->InitNewDeviceType(text.get(), &accepted);
    EXPECT_EQ(accepted ? S_OK : S_FALSE, hr);
    return accepted;
  }
};

TEST_F(DeviceTypeTest, OnlyAListedNameIsAcceptedAndAQuoteCannotWidenTheMatch) {
  AttachNew();
  EXPECT_EQ(VARIANT_FALSE, Offer(DeviceTypeDocument(L"Other Device")));
  EXPECT_EQ(kDtmEnvironmentSet, State());
  // Pasted into the information query as it stands, this name would make
  // the condition true for every device type.
  EXPECT_EQ(VARIANT_FALSE, Offer(DeviceTypeDocument(L"Other&quot; or &quot;1&quot;=&quot;1")));
  EXPECT_EQ(kDtmEnvironmentSet, State());

  EXPECT_EQ(VARIANT_TRUE, Offer(kTestDeviceTypeDocument));
  EXPECT_EQ(kDtmInitialised, State());
}

}  // namespace
}  // namespace dtmtest
