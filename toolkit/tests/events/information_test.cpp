// The DTM information document and the diagnosis.
#include <gtest/gtest.h>

#include "events_test_dtm.h"
#include "toolkit/xml/xml_dom.h"

using namespace eventstest;

namespace {

class DtmInformationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    holder_ = CreateEventsTestDtm(&dtm);
    ASSERT_NE(nullptr, dtm);
    ASSERT_TRUE(SUCCEEDED(holder_->QueryInterface(__uuidof(IDtmInformation), information.putVoid())));
    ASSERT_TRUE(SUCCEEDED(holder_->QueryInterface(__uuidof(IDtmDiagnosis), diagnosis.putVoid())));
  }
  void TearDown() override {
    information = nullptr;
    diagnosis = nullptr;
    holder_ = nullptr;
    ::CoUninitialize();
  }

  EventsTestDtm* dtm = nullptr;
  com::ComPtr<IDtmInformation> information;
  com::ComPtr<IDtmDiagnosis> diagnosis;

 private:
  com::ComPtr<IUnknown> holder_;
};

// A loaded answer with the two FDT namespaces as prefixes i: and fdt:.
class Answer {
 public:
  explicit Answer(const wchar_t* xml) {
    VARIANT_BOOL created = VARIANT_FALSE;
    XmlCreateAndLoad(xml, doc_.put(), &created);
    com::Variant ns(
        L"xmlns:i=\"x-schema:DTMInformationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"");
    doc_->setProperty(com::Bstr(L"SelectionLanguage").get(), *com::Variant(L"XPath").get());
    doc_->setProperty(com::Bstr(L"SelectionNamespaces").get(), ns.value());
  }
  long Count(const wchar_t* xpath) {
    com::ComPtr<IXMLDOMNodeList> nodes;
    long length = -1;
    if (SUCCEEDED(doc_->selectNodes(com::Bstr(xpath).get(), nodes.put())) && nodes) nodes->get_length(&length);
    return length;
  }
  std::wstring Text(const wchar_t* xpath) {
    com::Bstr text;
    if (FAILED(XmlGetNodeText(doc_.get(), xpath, text.put()))) return L"<none>";
    return text.c_str();
  }

 private:
  com::ComPtr<IXMLDOMDocument2> doc_;
};

// An information document as a DTM class fills the template: two device
// types, the first with a languages list, the second with documents.
const wchar_t kFilled[] =
    L"<?xml version=\"1.0\"?>\n"
    L"<FDT xmlns=\"x-schema:DTMInformationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
    L"<DtmInfo><DtmDeviceTypes>"
    L"<fdt:DtmDeviceType dtmDevTypeID=\"first\"><fdt:SupportedLanguages><fdt:LanguageId languageId=\"1\"/>"
    L"</fdt:SupportedLanguages></fdt:DtmDeviceType>"
    L"<fdt:DtmDeviceType dtmDevTypeID=\"second\"><fdt:DtmDocuments/></fdt:DtmDeviceType>"
    L"<fdt:DtmDeviceType><fdt:DtmDocuments/></fdt:DtmDeviceType>"
    L"</DtmDeviceTypes></DtmInfo></FDT>";

}  // namespace

TEST_F(DtmInformationTest, TemplateFollowsTheFrameVersion) {
  dtm->state = 7;
  com::Bstr text;
  ASSERT_EQ(S_OK, information->GetInformation(text.put()));
  {
    Answer answer(text.c_str());
    EXPECT_EQ(L"2", answer.Text(L"i:FDT/i:DtmInfo/i:FDTVersion/@minor"));
    EXPECT_EQ(0, answer.Count(L"i:FDT/i:DtmInfo/i:FDTVersion/@release"));
    EXPECT_EQ(0, answer.Count(L"//i:DtmSchemaPaths"));
    EXPECT_EQ(L"FSK Mavix DTM", answer.Text(L"i:FDT/i:DtmInfo/fdt:VersionInformation/@name"));
    EXPECT_EQ(L"VELTRA", answer.Text(L"i:FDT/i:DtmInfo/fdt:VersionInformation/@vendor"));
  }

  dtm->fdt121 = true;
  ASSERT_EQ(S_OK, information->GetInformation(text.put()));
  Answer answer(text.c_str());
  EXPECT_EQ(L"1", answer.Text(L"i:FDT/i:DtmInfo/i:FDTVersion/@release"));
  EXPECT_EQ(L"036D1498-387B-11D4-86E1-00E0987270B9",
            answer.Text(L"i:FDT/i:DtmInfo/i:DtmSchemaPaths/i:DtmSchemaPath/@fdt:busCategory"));
  EXPECT_EQ(L"%s", answer.Text(L"i:FDT/i:DtmInfo/i:DtmSchemaPaths/i:DtmSchemaPath/@fdt:path"));
}

TEST_F(DtmInformationTest, AnsweredOnlyInStatesSixToTwelve) {
  BSTR untouched = reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0x1234));
  BSTR out = untouched;
  dtm->state = 5;
  EXPECT_EQ(S_FALSE, information->GetInformation(&out));
  EXPECT_EQ(untouched, out);
  EXPECT_EQ(S_FALSE, information->GetInformation(nullptr));
  dtm->state = 12;
  EXPECT_EQ(E_INVALIDARG, information->GetInformation(nullptr));
  com::Bstr text;
  EXPECT_EQ(S_OK, information->GetInformation(text.put()));
  dtm->state = 13;
  EXPECT_EQ(S_FALSE, information->GetInformation(text.put()));
}

TEST_F(DtmInformationTest, LanguagesOfTheTranslationReplaceTheFirstDeviceTypesList) {
  dtm->languages = {0x409, 0x407};
  com::Bstr out;
  ASSERT_EQ(S_OK, dtm->AddSupportedLanguages(kFilled, out.put()));
  Answer answer(out.c_str());
  const wchar_t kIds[] = L"//fdt:DtmDeviceType[1]/fdt:SupportedLanguages/fdt:LanguageId";
  EXPECT_EQ(2, answer.Count(kIds));
  EXPECT_EQ(1, answer.Count(L"//fdt:DtmDeviceType[1]/fdt:SupportedLanguages"));
  EXPECT_EQ(L"1033", answer.Text(L"//fdt:DtmDeviceType[1]/fdt:SupportedLanguages/fdt:LanguageId[1]/@languageId"));
  EXPECT_EQ(L"1031", answer.Text(L"//fdt:DtmDeviceType[1]/fdt:SupportedLanguages/fdt:LanguageId[2]/@languageId"));
  EXPECT_EQ(0, answer.Count(L"//fdt:DtmDeviceType[2]/fdt:SupportedLanguages"));
}

TEST_F(DtmInformationTest, LanguageProblemsAnswerTheTextUnchanged) {
  com::Bstr out;
  // No language in the translation document, or no translation at all.
  EXPECT_EQ(S_OK, dtm->AddSupportedLanguages(kFilled, out.put()));
  EXPECT_STREQ(kFilled, out.c_str());
  dtm->languages = {0x409};
  dtm->hasTranslation = false;
  EXPECT_EQ(S_OK, dtm->AddSupportedLanguages(kFilled, out.put()));
  EXPECT_STREQ(kFilled, out.c_str());

  // A document without a device type, or one without a languages list.
  dtm->hasTranslation = true;
  const wchar_t kNoLanguages[] =
      L"<FDT xmlns=\"x-schema:DTMInformationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
      L"<DtmInfo><DtmDeviceTypes><fdt:DtmDeviceType/></DtmDeviceTypes></DtmInfo></FDT>";
  EXPECT_EQ(E_FAIL, dtm->AddSupportedLanguages(kNoLanguages, out.put()));
  EXPECT_STREQ(kNoLanguages, out.c_str());
  EXPECT_TRUE(FAILED(dtm->AddSupportedLanguages(L"<FDT><broken", out.put())));
  EXPECT_STREQ(L"<FDT><broken", out.c_str());
  EXPECT_EQ(E_POINTER, dtm->AddSupportedLanguages(kFilled, nullptr));

  // The template itself has no device type: the document goes out without
  // languages, and GetInformation still succeeds.
  dtm->state = 6;
  EXPECT_EQ(S_OK, information->GetInformation(out.put()));
  EXPECT_NE(nullptr, out.get());
}

TEST_F(DtmInformationTest, DeviceTypesWithDocumentsGetTheirFragments) {
  dtm->documents[L"second"] =
      L"<fdt:DtmDocument xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" label=\"Manual\"/>";
  dtm->bitmaps[L"second"] = L"<fdt:DeviceBitmap xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"/>";
  com::Bstr out;
  ASSERT_EQ(S_OK, dtm->AddDeviceTypeDocuments(kFilled, out.put()));
  // The first device type has no documents element and is not asked for.
  EXPECT_EQ((std::vector<std::wstring>{L"documents:second", L"bitmaps:second", L"icons:second",
                                       L"documents:", L"bitmaps:", L"icons:"}),
            dtm->documentRequests);
  Answer answer(out.c_str());
  EXPECT_EQ(L"Manual", answer.Text(L"//fdt:DtmDeviceType[2]/fdt:DtmDocument/@label"));
  EXPECT_EQ(1, answer.Count(L"//fdt:DtmDeviceType[2]/fdt:DeviceBitmap"));
  EXPECT_EQ(0, answer.Count(L"//fdt:DtmDeviceType[1]/fdt:DtmDocument"));

  // Without the documents part the text is answered unchanged.
  dtm->hasDocuments = false;
  ASSERT_EQ(S_OK, dtm->AddDeviceTypeDocuments(kFilled, out.put()));
  EXPECT_STREQ(kFilled, out.c_str());
}

TEST_F(DtmInformationTest, VerifyReportsInvalidParametersOnce) {
  VARIANT_BOOL valid = VARIANT_TRUE;
  EXPECT_EQ(E_INVALIDARG, diagnosis->Verify(nullptr));
  dtm->state = 7;
  EXPECT_EQ(S_FALSE, diagnosis->Verify(&valid));
  EXPECT_EQ(VARIANT_FALSE, valid);

  dtm->state = 9;
  dtm->parameters = {{1, {5, false}}, {2, {6, false}}};
  EXPECT_EQ(S_OK, diagnosis->Verify(&valid));
  EXPECT_EQ(VARIANT_TRUE, valid);
  EXPECT_TRUE(dtm->messages.empty());

  dtm->parameters = {{1, {5, true}}, {2, {6, false}}, {3, {7, true}}};
  EXPECT_EQ(S_OK, diagnosis->Verify(&valid));
  EXPECT_EQ(VARIANT_FALSE, valid);
  EXPECT_EQ((std::vector<std::wstring>{L"There are invalid parameters in the data set"}),
            dtm->messages);

  // A translated text reaches the user whole, whatever its characters.
  dtm->messages.clear();
  dtm->localizedTexts[L"localization/ToolkitMessages/Message[@id=\"2002\"]"] =
      L"Ung\u00fcltige Parameter \u03a9";
  EXPECT_EQ(S_OK, diagnosis->Verify(&valid));
  EXPECT_EQ((std::vector<std::wstring>{L"Ung\u00fcltige Parameter \u03a9"}), dtm->messages);
}
