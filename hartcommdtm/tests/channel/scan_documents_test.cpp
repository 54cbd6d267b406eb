// The scan documents, the request parsing, the address list of ranges and
// the list of running channel scans, without an adapter.
#include <windows.h>

#include <gtest/gtest.h>

#include "channel/requests.h"
#include "channel/scan_documents.h"
#include "com/ComPtr.h"
#include "crt_locale.h"
#include "toolkit/xml/xml_dom.h"

namespace {

using namespace hartdtm;

HartDeviceEntry Entry(uint8_t address, const wchar_t* tag) {
  HartDeviceEntry e;
  e.pollingAddress = address;
  e.tag = tag;
  e.manufacturerId = 0x26;
  e.deviceType = 6;
  e.deviceId = 0x0A0B0C;
  e.hardwareRevision = 2;
  e.physicalSignalling = 3;
  e.softwareRevision = 4;
  e.universalRevision = 7;
  e.deviceRevision = 9;
  e.flags = 1;
  return e;
}

TEST(ScanDocuments, TopologyScanListsDevicesWithEscapedTags) {
  EXPECT_EQ(std::wstring::npos, TopologyScanDocument({}).find(L"<fdthartdevice:HARTDevice"));
  EXPECT_NE(std::wstring::npos, TopologyScanDocument({}).find(L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> "
                                                              L"</TopologyScan>"));
  const std::wstring doc = TopologyScanDocument({Entry(3, L"A&B\"<"), Entry(4, L"X")});
  EXPECT_NE(std::wstring::npos,
            doc.find(L"> <fdthartdevice:HARTDevice fdthart:manufacturerId=\"38\" fdthart:deviceTypeId=\"6\" "
                     L"fdt:tag=\"A&amp;B&quot;&lt;\" fdthart:shortAddress=\"3\"><fdthart:LongAddress "
                     L"manufacturerId=\"38\" deviceTypeId=\"6\" address1=\"10\" address2=\"11\" address3=\"12\" "
                     L"/></fdthartdevice:HARTDevice><fdthartdevice:HARTDevice"));
  EXPECT_NE(std::wstring::npos, doc.find(L"fdthart:shortAddress=\"4\""));
}

TEST(ScanDocuments, ScanIdentificationsInEveryResultState) {
  ScanIdentificationList list;
  list.resultState = kScanError;
  const std::wstring empty = ScanIdentificationsDocument(list);
  EXPECT_EQ(std::wstring(L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTScanIdentSchema.xml\" "
                         L"xmlns:hartident=\"x-schema:FDTHARTIdentSchema.xml\" "
                         L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n<ScanIdentifications "
                         L"fdt:busCategory=\"{036D1498-387B-11D4-86E1-00E0987270B9}\" resultState=\"error\">\n "
                         L"</ScanIdentifications>\n</FDT>\n"),
            empty);
  list.resultState = kScanFinal;
  list.busCategory = L"cat\"";
  ScanIdentification id = ScanIdentification::FromEntry(Entry(5, L"T<1>"));
  EXPECT_FLOAT_EQ(2.3f, id.hardwareRevision);
  list.identifications.push_back(id);
  const std::wstring doc = ScanIdentificationsDocument(list);
  EXPECT_NE(std::wstring::npos, doc.find(L"fdt:busCategory=\"cat&quot;\" resultState=\"final\">\n"
                                         L"<ScanIdentification configuredState=\"notApplicable\">\n   "
                                         L"<IdAddress hartident:shortAddress=\"5\" />\n"));
  EXPECT_NE(std::wstring::npos, doc.find(L"<IdHardwareRevision hartident:hardwareRevision=\"2.3\" />\n"
                                         L"  <IdTag hartident:tag=\"T&lt;1&gt;\" />\n"
                                         L"  <IdSerialNumber hartident:deviceID=\"658188\" />\n"
                                         L"  <DeviceCommandRevisionLevel hartident:deviceCommandRevisionLevel=\"9\" />\n"
                                         L"  <DeviceFlag hartident:deviceFlag=\"1\" /> </ScanIdentification>"
                                         L"</ScanIdentifications>"));
  list.resultState = kScanProvisional;
  EXPECT_NE(std::wstring::npos, ScanIdentificationsDocument(list).find(L"resultState=\"provisional\""));
  id.configuredState = 3;
  EXPECT_NE(std::wstring::npos, id.ToXml().find(L"configuredState=\"availableButNotConfigured\""));
}

// A frame that gave the C runtime its user's locale (a decimal comma) gets
// the same identification: revision 2 with signalling code 3 is 2.3,
// written "2.3" (strtof and "%g" made it 2, or "2,3").
TEST(ScanDocuments, HardwareRevisionIsTheSameWhateverTheCRuntimesLocale) {
  testsupport::CrtLocale german;
  ASSERT_TRUE(testsupport::CrtLocale::WritesDecimalComma());
  ScanIdentification id = ScanIdentification::FromEntry(Entry(5, L"T"));
  EXPECT_FLOAT_EQ(2.3f, id.hardwareRevision);
  EXPECT_NE(std::wstring::npos, id.ToXml().find(L"<IdHardwareRevision hartident:hardwareRevision=\"2.3\" />"))
      << id.ToXml();
  HartDeviceEntry highest = Entry(5, L"T");
  highest.hardwareRevision = 31;
  highest.physicalSignalling = 7;
  id = ScanIdentification::FromEntry(highest);
  EXPECT_NE(std::wstring::npos, id.ToXml().find(L"hartident:hardwareRevision=\"31.7\"")) << id.ToXml();
}

class ScanRequestParsing : public ::testing::Test {
 protected:
  void SetUp() override { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { ::CoUninitialize(); }
  HRESULT Parse(const std::wstring& body, ScanRequestRecord* out) {
    const std::wstring text = L"<?xml version=\"1.0\"?><FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">" +
                              body + L"</FDT>";
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL created = VARIANT_FALSE;
    EXPECT_EQ(S_OK, XmlCreateAndLoad(text.c_str(), doc.put(), &created));
    PrepareRequestDocument(doc.get());
    return ParseScanRequestDocument(doc.get(), out);
  }
};

TEST_F(ScanRequestParsing, RangesAndModesAreReadAndMixedRequestsRefused) {
  ScanRequestRecord r;
  ASSERT_EQ(S_OK, Parse(L"<BusAddressRanges fdt:busCategory=\"C\"><BusAddressRange busAddressBegin=\"5\" "
                        L"busAddressEnd=\"7\"/><BusAddressRange busAddressBegin=\"6\" busAddressEnd=\"9\"/>"
                        L"<BusAddressRange busAddressBegin=\"60\"/><BusAddressRange busAddressBegin=\"70\"/>"
                        L"<BusAddressRange busAddressBegin=\"1\" busAddressEnd=\"70\"/></BusAddressRanges>",
                        &r));
  EXPECT_TRUE(r.rangesGiven);
  EXPECT_EQ(L"C", r.rangesCategory);
  ASSERT_EQ(5u, r.ranges.size());
  EXPECT_FALSE(r.ranges[2].endGiven);
  std::vector<uint8_t> addresses;
  RangeAddresses(r, &addresses);
  EXPECT_EQ((std::vector<uint8_t>{5, 6, 7, 8, 9, 60, 61, 62, 63}), addresses);

  ASSERT_EQ(S_OK, Parse(L"<ScanMode fdt:busCategory=\"M\" scanMode=\"allAddresses\"/>", &r));
  EXPECT_EQ(kScanModeAll, r.mode);
  EXPECT_EQ(L"M", r.modeCategory);
  ASSERT_EQ(S_OK, Parse(L"<ScanMode fdt:busCategory=\"M\" scanMode=\"openGUI\"/>", &r));
  EXPECT_EQ(kScanModeOpenGui, r.mode);
  ASSERT_EQ(S_OK, Parse(L"<ScanMode fdt:busCategory=\"M\" scanMode=\"other\"/>", &r));
  EXPECT_EQ(kScanModeNone, r.mode);
  EXPECT_TRUE(FAILED(Parse(L"<ScanMode fdt:busCategory=\"M\"/>", &r)));
  EXPECT_EQ(E_UNEXPECTED, Parse(L"", &r));
  EXPECT_EQ(E_UNEXPECTED, Parse(L"<ScanMode fdt:busCategory=\"M\" scanMode=\"allAddresses\"/>"
                                L"<BusAddressRanges fdt:busCategory=\"C\"/>",
                                &r));
  EXPECT_TRUE(FAILED(Parse(L"<BusAddressRanges fdt:busCategory=\"C\"><BusAddressRange/></BusAddressRanges>", &r)));
}

TEST(ScanCancelListTest, CancelFlagsFollowTheirInvokeIds) {
  ScanCancelList list;
  EXPECT_FALSE(list.Cancel(L"{A}"));
  EXPECT_FALSE(list.IsCancelled(nullptr));
  list.Add(L"{A}");
  list.Add(L"{B}");
  EXPECT_FALSE(list.IsCancelled(L"{A}"));
  EXPECT_TRUE(list.Cancel(L"{B}"));
  EXPECT_TRUE(list.IsCancelled(L"{B}"));
  EXPECT_FALSE(list.IsCancelled(L"{A}"));
  list.Remove(L"{B}");
  EXPECT_FALSE(list.IsCancelled(L"{B}"));
  EXPECT_EQ(1u, list.Count());
  list.Remove(L"{A}");
  EXPECT_EQ(0u, list.Count());
}

}  // namespace
