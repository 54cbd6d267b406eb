// The information documents for frames on FDT 1.2 and 1.2.1 and the
// device-type identification document: well formed, with the device type in
// the form of the frame's version, its two languages, and every inserted
// text escaped.
#include "dtm/dtm_ids.h"
#include "dtm/dtm_information_docs.h"
#include "hart_dtm_fixture.h"
#include "toolkit/dtm/dtm_states.h"

namespace hartdtmtest {
namespace {

const wchar_t kInfoNamespace[] = L"x-schema:DTMInformationSchema.xml";

class InformationTest : public HartDtmFixture {
 protected:
  com::ComPtr<IXMLDOMDocument2> Information() {
    com::ComPtr<IDtmInformation> information;
    EXPECT_EQ(S_OK, object.as(information));
    com::Bstr text;
    EXPECT_EQ(S_OK, information->GetInformation(text.put()));
    return Parse(text.c_str(), kInfoNamespace);
  }
  // The device type offers English and German, in that order: the languages
  // of the translation document the DTM loaded.
  static void ExpectEnglishAndGerman(IXMLDOMNode* doc) {
    const wchar_t* languages =
        L"d:FDT/d:DtmInfo/d:DtmDeviceTypes/fdt:DtmDeviceType/fdt:SupportedLanguages/fdt:LanguageId";
    EXPECT_EQ(2, Count(doc, languages));
    EXPECT_EQ(L"1033", Select(doc, (std::wstring(languages) + L"[1]/@languageId").c_str()));
    EXPECT_EQ(L"1031", Select(doc, (std::wstring(languages) + L"[2]/@languageId").c_str()));
  }
};

TEST_F(InformationTest, Fdt12FrameGetsTheIdInACommentAndNoDataSetFormats) {
  Attach(false);
  auto doc = Information();
  ASSERT_TRUE(doc);
  EXPECT_EQ(L"1", Select(doc.get(), L"d:FDT/d:DtmInfo/d:FDTVersion/@major"));
  EXPECT_EQ(L"2", Select(doc.get(), L"d:FDT/d:DtmInfo/d:FDTVersion/@minor"));
  EXPECT_EQ(L"<none>", Select(doc.get(), L"d:FDT/d:DtmInfo/d:FDTVersion/@release"));
  EXPECT_EQ(L"FSK Mavix DTM", Select(doc.get(), L"d:FDT/d:DtmInfo/fdt:VersionInformation/@name"));
  EXPECT_EQ(L"1.0.1", Select(doc.get(), L"d:FDT/d:DtmInfo/fdt:VersionInformation/@version"));
  EXPECT_EQ(L"2017-03-24", Select(doc.get(), L"d:FDT/d:DtmInfo/fdt:VersionInformation/@date"));
  EXPECT_EQ(L"VELTRA", Select(doc.get(), L"d:FDT/d:DtmInfo/fdt:VersionInformation/@vendor"));
  const wchar_t* type = L"d:FDT/d:DtmInfo/d:DtmDeviceTypes/fdt:DtmDeviceType";
  EXPECT_EQ(1, Count(doc.get(), type));
  EXPECT_EQ(L"FSK Mavix", Select(doc.get(), (std::wstring(type) + L"/fdt:VersionInformation/@name").c_str()));
  EXPECT_EQ(L"<none>", Select(doc.get(), (std::wstring(type) + L"/@dtmDevTypeID").c_str()));
  EXPECT_EQ(0, Count(doc.get(), (std::wstring(type) + L"/fdt:DataSetFormats").c_str()));
  EXPECT_EQ(L"dtmDevTypeID=100A9015-EBB2-49b2-9D9C-0A24104F65E1",
            Select(doc.get(), (std::wstring(type) + L"/comment()").c_str()));
  EXPECT_EQ(L"036D1498-387B-11D4-86E1-00E0987270B9",
            Select(doc.get(), (std::wstring(type) + L"/fdt:BusCategories/fdt:BusCategory/@busCategory").c_str()));
  EXPECT_EQ(L"supported",
            Select(doc.get(), (std::wstring(type) +
                               L"/fdt:BusCategories/fdt:BusCategory/fdt:CommunicationTypeEntry/@communicationType").c_str()));
  // No "IconPath": an empty icon path.
  EXPECT_EQ(L"", Select(doc.get(), (std::wstring(type) + L"/fdt:DeviceIcon/@path").c_str()));
  ExpectEnglishAndGerman(doc.get());
}

TEST_F(InformationTest, Fdt121FrameGetsTheIdAttributeDataSetFormatsAndSchemaPath) {
  // Markup characters in the icon path reach the document as text.
  const wchar_t kIcon[] = L"C:\\Icons\\a&b \"<HART>\".ico";
  SetSetting(hart_dtm::kIconPathValue, kIcon);
  Attach(true);
  auto doc = Information();
  ASSERT_TRUE(doc);
  EXPECT_EQ(L"1", Select(doc.get(), L"d:FDT/d:DtmInfo/d:FDTVersion/@release"));
  EXPECT_EQ(L"036D1498-387B-11D4-86E1-00E0987270B9",
            Select(doc.get(), L"d:FDT/d:DtmInfo/d:DtmSchemaPaths/d:DtmSchemaPath/@fdt:busCategory"));
  EXPECT_EQ(ProgramFolder(), Select(doc.get(), L"d:FDT/d:DtmInfo/d:DtmSchemaPaths/d:DtmSchemaPath/@fdt:path"));
  const std::wstring type = L"d:FDT/d:DtmInfo/d:DtmDeviceTypes/fdt:DtmDeviceType";
  EXPECT_EQ(L"100A9015-EBB2-49b2-9D9C-0A24104F65E1", Select(doc.get(), (type + L"/@dtmDevTypeID").c_str()));
  EXPECT_EQ(L"1", Select(doc.get(), (type + L"/@dtmDevTypeIDVersion").c_str()));
  EXPECT_EQ(L"96B32FC9-45E3-447a-A88C-C854DCBDF12B",
            Select(doc.get(), (type + L"/fdt:DataSetFormats/fdt:Current/@dataSetID").c_str()));
  EXPECT_EQ(kIcon, Select(doc.get(), (type + L"/fdt:DeviceIcon/@path").c_str()));
  ExpectEnglishAndGerman(doc.get());
}

TEST_F(InformationTest, NoDocumentOutsideStatesSixToTwelve) {
  Create();
  com::ComPtr<IDtmInformation> information;
  ASSERT_EQ(S_OK, object.as(information));
  ASSERT_EQ(S_OK, base->SetState(kDtmLoadedDataSet));
  com::Bstr text;
  EXPECT_EQ(S_FALSE, information->GetInformation(text.put()));
  EXPECT_EQ(nullptr, text.get());
  EXPECT_EQ(E_INVALIDARG, information->GetInformation(nullptr));
}

TEST_F(InformationTest, DeviceTypeIdentificationNamesTheHartFields) {
  Create();
  com::ComPtr<IDtmInformation2> information;
  ASSERT_EQ(S_OK, object.as(information));
  EXPECT_EQ(E_INVALIDARG, information->GetDeviceTypeIdent(nullptr, nullptr, nullptr));
  com::Bstr text;
  ASSERT_EQ(S_OK, information->GetDeviceTypeIdent(nullptr, nullptr, text.put()));
  auto doc = Parse(text.c_str(), L"x-schema:DTMDeviceTypeIdentSchema.xml");
  ASSERT_TRUE(doc);
  const std::wstring id = L"d:FDT/d:DeviceIdentifications/d:DeviceIdentification";
  EXPECT_EQ(L"specificSupport", Select(doc.get(), (id + L"/@ident:idDTMSupportLevel").c_str()));
  EXPECT_EQ(L"HART", Select(doc.get(), (id + L"/d:IdBusProtocol/@ident:protocolSpecificName").c_str()));
  EXPECT_EQ(L"VELTRA", Select(doc.get(), (id + L"/d:IdManufacturer/@ident:protocolSpecificName").c_str()));
  EXPECT_EQ(L"Device Type Code", Select(doc.get(), (id + L"/d:IdTypeID/@ident:protocolSpecificName").c_str()));
  EXPECT_EQ(L"[12].[0-9]",
            Select(doc.get(), (id + L"/d:IdHardwareRevision/ident:RegExpr/@match").c_str()));
}

// Every text put into the device-type fragment is escaped for its
// attribute, in both forms: a name with markup comes back as it was.
TEST(DeviceTypeFragment, TextsWithMarkupComeBackAsTheyWere) {
  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  {
    const wchar_t kName[] = L"A&B <\"C\"> 'D'";
    const wchar_t kIcon[] = L"C:\\x&y\\<z>.ico";
    for (bool fdt121 : {false, true}) {
      SCOPED_TRACE(fdt121);
      com::Bstr fragment;
      ASSERT_EQ(S_OK, BuildDeviceTypeFragment(fdt121, kName, L"id&\"<>", kIcon, fragment.put()));
      const std::wstring document = std::wstring(L"<d:Root xmlns:d=\"urn:test\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">") +
                                    fragment.c_str() + L"</d:Root>";
      auto doc = Parse(document.c_str(), L"urn:test");
      ASSERT_TRUE(doc) << fragment.c_str();
      EXPECT_EQ(kName, Select(doc.get(), L"d:Root/fdt:DtmDeviceType/fdt:VersionInformation/@name"));
      EXPECT_EQ(kIcon, Select(doc.get(), L"d:Root/fdt:DtmDeviceType/fdt:DeviceIcon/@path"));
      if (fdt121) {
        EXPECT_EQ(L"id&\"<>", Select(doc.get(), L"d:Root/fdt:DtmDeviceType/@dtmDevTypeID"));
      }
    }
    EXPECT_EQ(E_INVALIDARG, BuildDeviceTypeFragment(false, kName, L"", L"", nullptr));
  }
  ::CoUninitialize();
}

}  // namespace
}  // namespace hartdtmtest
