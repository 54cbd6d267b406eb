// The DTM in its two languages: the delivered translation document has
// German beside every English text, the DTM's channel answers with the DTM's
// translation (asked by the identifiers a frame or a control uses), and the
// channel's parameter texts follow the DTM's language.
#include "hart_dtm_fixture.h"
#include "hostile_documents.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/xml/translation.h"

namespace hartdtmtest {
namespace {

const wchar_t kTranslationIid[] = L"{7A2E43D0-9033-11D7-9094-00105AD83182}";
const wchar_t kTranslationEventIid[] = L"{BFB27AC0-976A-11D7-909B-00105AD83182}";
const wchar_t kChannelFdtIid[] = L"{036D1488-387B-11D4-86E1-00E0987270B9}";  // IFdtChannel
const wchar_t kChannelNamePath[] =
    L"localization/ChannelList/Channel/ParameterList/Parameter[@parId=\"1009\"]/Name";
constexpr ULONG kChannelNameParameter = 1009;

class LanguageTest : public HartDtmFixture {
 protected:
  static com::ComPtr<IevFdtTranslation> TranslationOf(IUnknown* object) {
    com::ComPtr<IevFdtTranslation> translation;
    EXPECT_EQ(S_OK, object->QueryInterface(Iid(kTranslationIid), translation.putVoid()));
    return translation;
  }
  static std::wstring Text(IevFdtTranslation* translation, const wchar_t* xpath) {
    com::Bstr text;
    VARIANT_BOOL found = VARIANT_FALSE;
    const HRESULT hr = translation->GetLocalizedText(com::Bstr(xpath).get(), text.put(), &found);
    if (FAILED(hr)) return L"<failed>";
    return found ? std::wstring(text.c_str()) : std::wstring(L"<not found>");
  }
  // The name (kParameterInfoText) or description (kParameterInfoText2) of the
  // channel's parameter 1009, through the channel's own parameter handler.
  static std::wstring ParameterText(IUnknown* channel, LONG field) {
    com::ComPtr<IevFdtParameterInfo> info;
    EXPECT_EQ(S_OK, info.queryFrom(channel));
    if (!info) return L"<no handler>";
    com::Variant text;
    EXPECT_EQ(S_OK, info->GetParameterInfo(*com::ui4(kChannelNameParameter).get(), *I4(field).get(), text.put()));
    if (text.type() != VT_BSTR) return L"<not text>";
    return V_BSTR(text.get()) ? V_BSTR(text.get()) : L"";
  }
  bool SetLanguage(long language) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    return dtm->SetLanguage(language, &ok) == S_OK && ok == VARIANT_TRUE;
  }
};

TEST_F(LanguageTest, DeliveredDocumentOffersEnglishAndGermanForEveryText) {
  com::ComPtr<IXMLDOMDocument2> doc;
  ASSERT_EQ(S_OK, XmlCreateParserDocument(doc.put()));
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(S_OK, doc->load(*com::Variant((ProgramFolder() + L"hartcommdtmTranslation.xml").c_str()).get(),
                            &loaded));
  ASSERT_EQ(VARIANT_TRUE, loaded);
  doc->setProperty(com::Bstr(L"SelectionLanguage").get(), *com::Variant(L"XPath").get());
  const wchar_t* languages = L"localization/general/languages/language";
  EXPECT_EQ(2, Count(doc.get(), languages));
  EXPECT_EQ(L"1033", Select(doc.get(), L"localization/general/languages/language[1]/@lcid"));
  EXPECT_EQ(L"en", Select(doc.get(), L"localization/general/languages/language[1]/@code"));
  EXPECT_EQ(L"1031", Select(doc.get(), L"localization/general/languages/language[2]/@lcid"));
  EXPECT_EQ(L"de", Select(doc.get(), L"localization/general/languages/language[2]/@code"));
  // Every English text has its German one; only the About page's file name
  // is the same file in both.
  EXPECT_LT(50, Count(doc.get(), L"//*[locale[@code='en']]"));
  EXPECT_EQ(1, Count(doc.get(), L"//*[locale[@code='en'] and not(locale[@code='de'])]"));
  EXPECT_EQ(1, Count(doc.get(), L"localization/StringList/AboutFile[not(locale[@code='de'])]"));
  EXPECT_EQ(0, Count(doc.get(), L"//*[locale[@code='de'] and not(locale[@code='en'])]"));
}

TEST_F(LanguageTest, ChannelAnswersWithTheDtmsTranslation) {
  Configure();
  com::ComPtr<IUnknown> channel = HartChannel();
  ASSERT_TRUE(channel);
  com::ComPtr<IevFdtTranslation> translation = TranslationOf(channel.get());
  ASSERT_TRUE(translation);
  // The interface is the channel's: it leads back to the channel.
  com::ComPtr<IUnknown> identity;
  ASSERT_EQ(S_OK, identity.queryFrom(translation.get()));
  EXPECT_EQ(channel.get(), identity.get());
  com::ComPtr<IUnknown> fdtChannel;
  EXPECT_EQ(S_OK, translation->QueryInterface(Iid(kChannelFdtIid), fdtChannel.putVoid()));

  com::ComPtr<IevFdtTranslation> owners = TranslationOf(object.get());
  ASSERT_TRUE(owners);
  EXPECT_EQ(L"FSK Mavix - HART Channel", Text(translation.get(), kChannelNamePath));
  EXPECT_EQ(Text(owners.get(), kChannelNamePath), Text(translation.get(), kChannelNamePath));
  long count = 0;
  ASSERT_EQ(S_OK, translation->GetLanguageCount(&count));
  ASSERT_EQ(2, count);
  ULONG language = 0;
  EXPECT_EQ(S_OK, translation->GetLanguageIdAt(0, &language));
  EXPECT_EQ(1033u, language);
  EXPECT_EQ(S_OK, translation->GetLanguageIdAt(1, &language));
  EXPECT_EQ(1031u, language);
  VARIANT_BOOL exists = VARIANT_FALSE;
  EXPECT_EQ(S_OK, translation->ContainsNode(com::Bstr(kChannelNamePath).get(), &exists));
  EXPECT_EQ(VARIANT_TRUE, exists);
  EXPECT_EQ(S_FALSE, translation->ContainsNode(com::Bstr(L"localization/ChannelList/Nothing").get(), &exists));
  EXPECT_EQ(L"<not found>", Text(translation.get(), L"localization/ChannelList/Nothing"));
  VARIANT_BOOL found = VARIANT_TRUE;
  EXPECT_EQ(E_INVALIDARG, translation->GetLocalizedText(com::Bstr(kChannelNamePath).get(), nullptr, &found));
  // A late-bound caller reaches it by name.
  wchar_t name[] = L"GetLanguageCount";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  ASSERT_EQ(S_OK, translation->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  com::Variant languages;
  ASSERT_EQ(S_OK, translation->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                      languages.put(), nullptr, nullptr));
  ASSERT_EQ(VT_I4, languages.type());
  EXPECT_EQ(2, V_I4(languages.get()));

  // The DTM's language is the channel's.
  ASSERT_TRUE(SetLanguage(1031));
  EXPECT_EQ(L"FSK Mavix - HART-Kanal", Text(translation.get(), kChannelNamePath));
}

TEST_F(LanguageTest, ChannelParameterTextsFollowTheDtmsLanguage) {
  Configure();
  com::ComPtr<IUnknown> channel = HartChannel();
  ASSERT_TRUE(channel);
  // The channel took its texts in the DTM's language when it was attached.
  EXPECT_EQ(L"FSK Mavix - HART Channel", ParameterText(channel.get(), kParameterInfoText));
  EXPECT_EQ(L"Name of the HART communication channel", ParameterText(channel.get(), kParameterInfoText2));

  ASSERT_TRUE(SetLanguage(1031));
  EXPECT_EQ(L"FSK Mavix - HART-Kanal", ParameterText(channel.get(), kParameterInfoText));
  EXPECT_EQ(L"Name des HART-Kommunikationskanals", ParameterText(channel.get(), kParameterInfoText2));
  // Only texts change: the parameter's value is the channel's tag.
  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, handler.queryFrom(channel.get()));
  com::Variant tag;
  ASSERT_EQ(S_OK, handler->GetParameterValue(*com::ui4(kChannelNameParameter).get(), tag.put()));
  ASSERT_EQ(VT_BSTR, tag.type());
  EXPECT_STREQ(L"FSK Mavix - HART Channel", V_BSTR(tag.get()));

  ASSERT_TRUE(SetLanguage(1033));
  EXPECT_EQ(L"FSK Mavix - HART Channel", ParameterText(channel.get(), kParameterInfoText));
  EXPECT_EQ(L"Name of the HART communication channel", ParameterText(channel.get(), kParameterInfoText2));

  // The channel's language event on its own reads the texts of the language
  // the translation has selected.
  com::ComPtr<IevFdtTranslation> translation = TranslationOf(channel.get());
  ASSERT_TRUE(translation);
  VARIANT_BOOL selected = VARIANT_FALSE;
  ASSERT_EQ(S_OK, translation->SelectLanguage(1031, &selected));
  ASSERT_EQ(VARIANT_TRUE, selected);
  EXPECT_EQ(L"FSK Mavix - HART Channel", ParameterText(channel.get(), kParameterInfoText));
  com::ComPtr<IevFdtTranslationEvent> event;
  ASSERT_EQ(S_OK, channel->QueryInterface(Iid(kTranslationEventIid), event.putVoid()));
  EXPECT_EQ(S_OK, event->OnTranslate(1031));
  EXPECT_EQ(L"FSK Mavix - HART-Kanal", ParameterText(channel.get(), kParameterInfoText));
}

TEST_F(LanguageTest, TextsTheTranslationLacksStayAsTheyWere) {
  UseTestTranslation();
  Configure();
  com::ComPtr<IUnknown> channel = HartChannel();
  ASSERT_TRUE(channel);
  EXPECT_EQ(L"Test channel", ParameterText(channel.get(), kParameterInfoText));
  EXPECT_EQ(L"Channel of the test", ParameterText(channel.get(), kParameterInfoText2));
  // German has a name but no description; the document's entry for a
  // parameter the channel lacks changes nothing.
  ASSERT_TRUE(SetLanguage(1031));
  EXPECT_EQ(L"Testkanal", ParameterText(channel.get(), kParameterInfoText));
  EXPECT_EQ(L"Channel of the test", ParameterText(channel.get(), kParameterInfoText2));
}

// Anybody who reaches the DTM or its channel may hand it a translation text:
// one that declares a document type is refused at once (its entity is never
// expanded), and so is a document that is not a translation document; the
// DTM's texts stay.
TEST_F(LanguageTest, ATranslationTextIsRefusedWhenItIsNoTranslationDocument) {
  Configure();
  com::ComPtr<IUnknown> channel = HartChannel();
  ASSERT_TRUE(channel);
  const std::wstring bomb = testsupport::WithEntityBomb(
      L"<?xml version=\"1.0\"?><localization><general><languages><language lcid=\"1033\" code=\"en\"/>"
      L"</languages></general><ChannelList><Channel><ParameterList><Parameter parId=\"1009\"><Name>"
      L"<locale code=\"en\">{BOMB}</locale></Name></Parameter></ParameterList></Channel></ChannelList>"
      L"</localization>");
  for (IUnknown* object : {static_cast<IUnknown*>(channel.get()), object.get()}) {
    com::ComPtr<IevFdtTranslation> translation = TranslationOf(object);
    ASSERT_TRUE(translation);
    for (const std::wstring& text : {bomb, std::wstring(L"<FDT><localization/></FDT>")}) {
      VARIANT_BOOL loaded = VARIANT_TRUE;
      EXPECT_EQ(E_FAIL, translation->LoadTranslation(com::Bstr(text.c_str()).get(), &loaded));
      EXPECT_EQ(VARIANT_FALSE, loaded);
      EXPECT_EQ(L"FSK Mavix - HART Channel", Text(translation.get(), kChannelNamePath));
    }
  }
}

// A channel that outlived its DTM keeps its interfaces; its translation
// then answers like a translation without a document, and a language event
// changes nothing.
TEST_F(LanguageTest, ChannelWithoutItsDtmHasNoTexts) {
  Configure();
  com::ComPtr<IUnknown> channel = HartChannel();
  ASSERT_TRUE(channel);
  com::ComPtr<IevFdtTranslation> translation = TranslationOf(channel.get());
  ASSERT_TRUE(translation);
  ReleaseDtm();
  EXPECT_TRUE(PumpUntil([&] { return Text(translation.get(), kChannelNamePath) == L"<failed>"; }))
      << "the channel keeps the DTM";
  com::Bstr text;
  VARIANT_BOOL found = VARIANT_TRUE;
  EXPECT_EQ(E_FAIL, translation->GetLocalizedText(com::Bstr(kChannelNamePath).get(), text.put(), &found));
  EXPECT_EQ(VARIANT_FALSE, found);
  EXPECT_EQ(nullptr, text.get());
  long count = 7;
  EXPECT_EQ(E_FAIL, translation->GetLanguageCount(&count));
  EXPECT_EQ(0, count);
  com::ComPtr<IevFdtTranslationEvent> event;
  ASSERT_EQ(S_OK, channel->QueryInterface(Iid(kTranslationEventIid), event.putVoid()));
  EXPECT_EQ(S_OK, event->OnTranslate(1031));
  EXPECT_EQ(L"FSK Mavix - HART Channel", ParameterText(channel.get(), kParameterInfoText));
}

}  // namespace
}  // namespace hartdtmtest
