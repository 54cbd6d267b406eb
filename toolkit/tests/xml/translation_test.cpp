// The translation document: texts, languages, parameter and enumeration
// texts, user messages, the About file and module-relative files, with the
// fallbacks each one has.
#include <gtest/gtest.h>

#include <string>

#include "com/Bstr.h"
#include "hostile_documents.h"
#include "test_dtm.h"
#include "test_support.h"
#include "toolkit/xml/translation.h"

namespace {

void SetTranslationPath(const wchar_t* folder) {
  if (!folder) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTranslationKey);
    return;
  }
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTranslationKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegSetValueExW(key, kTranslationPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                 static_cast<DWORD>((wcslen(folder) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

std::wstring TranslationFolder() { return xmltest::ProgramFolder() + L"translation"; }

class Translation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    dtm_ = CreateTestDtm(&object_);
    object_->parameters[1000] = {L"DeviceNumber", L"", 0, {}};
    object_->parameters[1001] = {L"PrimaryMaster", L"", 1, {"0;No", "1;Yes"}};
    object_->parameters[1004] = {L"ScanState", L"", 1, {"0;Idle"}};
    SetTranslationPath(TranslationFolder().c_str());  // no trailing backslash
  }
  void TearDown() override {
    SetTranslationPath(nullptr);
    object_ = nullptr;
    dtm_ = nullptr;
    CoUninitialize();
  }
  void Init() {
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(S_OK, object_->InitTranslation(&done));
    ASSERT_EQ(VARIANT_TRUE, done);
  }
  std::wstring Text(const wchar_t* xpath, HRESULT expected = S_OK) {
    com::Bstr text;
    VARIANT_BOOL found = VARIANT_FALSE;
    EXPECT_EQ(expected, object_->GetLocalizedText(com::Bstr(xpath).get(), text.put(), &found)) << xpath;
    EXPECT_EQ(expected == S_OK ? VARIANT_TRUE : VARIANT_FALSE, found);
    return text.c_str();
  }

  TestDtm* object_ = nullptr;
  com::ComPtr<IUnknown> dtm_;
};

TEST_F(Translation, TextsAreFoundInTheSelectedLanguage) {
  com::Bstr text;
  VARIANT_BOOL found = VARIANT_TRUE;
  EXPECT_EQ(E_FAIL, object_->GetLocalizedText(com::Bstr(L"localization/StringList/AboutFile").get(), text.put(), &found))
      << "no document yet";
  EXPECT_EQ(E_INVALIDARG, object_->GetLocalizedText(com::Bstr(L"x").get(), nullptr, &found));

  Init();  // loads the file from TranslationPath + "\" and selects English
  EXPECT_EQ(L"Channel settings", Text(L"localization/ActiveXList/ChannelConfiguration/Caption"));
  EXPECT_EQ(L"", Text(L"localization/ActiveXList/ChannelConfiguration/Missing", S_FALSE));

  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, object_->ChangeLanguage(1031, &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(L"Kanaleinstellungen", Text(L"localization/ActiveXList/ChannelConfiguration/Caption"));
  // No German locale: not found, the caller uses its own text.
  EXPECT_EQ(L"", Text(L"localization/ActiveXList/ChannelConfiguration/ToolTip", S_FALSE));

  VARIANT_BOOL exists = VARIANT_FALSE;
  EXPECT_EQ(S_OK, object_->ContainsNode(com::Bstr(L"localization/UserMessages/Message[@resId=\"101\"]").get(), &exists));
  EXPECT_EQ(VARIANT_TRUE, exists);
  EXPECT_EQ(S_FALSE, object_->ContainsNode(com::Bstr(L"localization/UserMessages/Message[@resId=\"9\"]").get(), &exists));
  EXPECT_EQ(VARIANT_FALSE, exists);
}

TEST_F(Translation, LanguagesAreListedAndSelected) {
  long count = -1;
  EXPECT_EQ(E_POINTER, object_->GetLanguageCount(&count)) << "no document";
  Init();
  ASSERT_EQ(S_OK, object_->GetLanguageCount(&count));
  ASSERT_EQ(3, count);
  ULONG id = 0;
  EXPECT_EQ(S_OK, object_->GetLanguageIdAt(1, &id));
  EXPECT_EQ(1031u, id);
  EXPECT_EQ(E_FAIL, object_->GetLanguageIdAt(3, &id));

  VARIANT_BOOL done = VARIANT_TRUE;
  // Not offered: the language stays.
  EXPECT_EQ(S_FALSE, object_->ChangeLanguage(1040, &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  // Offered without a code: not selected.
  EXPECT_EQ(S_OK, object_->ChangeLanguage(1036, &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_STREQ(L"en", object_->Translation().Document().LanguageCode());
  // The DTM's language already: done, and nothing is reselected.
  object_->languageId = 1031;
  EXPECT_EQ(S_OK, object_->ChangeLanguage(1031, &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_STREQ(L"en", object_->Translation().Document().LanguageCode());
}

TEST_F(Translation, UnreadableFilesLeaveTheDtmWithoutADocument) {
  xmltest::ScratchFolder folder(L"tkx-translation");
  folder.WriteFile(L"hartcommdtmTranslation.xml", "<localization><general></localization>");
  SetTranslationPath((folder.path() + L"\\").c_str());
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(E_FAIL, object_->InitTranslation(&done));
  EXPECT_EQ(VARIANT_FALSE, done);
  ASSERT_EQ(1u, object_->reports.size());
  EXPECT_EQ(0u, object_->reports[0].find("Invalid translation file:\r\nError 0x")) << object_->reports[0];

  // Loading a text that does not parse keeps the document already held.
  SetTranslationPath(TranslationFolder().c_str());
  Init();
  VARIANT_BOOL loaded = VARIANT_TRUE;
  EXPECT_EQ(E_FAIL, object_->LoadTranslation(com::Bstr(L"<broken").get(), &loaded));
  EXPECT_EQ(VARIANT_FALSE, loaded);
  EXPECT_EQ(L"Channel settings", Text(L"localization/ActiveXList/ChannelConfiguration/Caption"));
}

// Whoever holds the DTM may hand it a translation text. Only a translation
// document replaces the texts: one that declares a document type is refused
// without being parsed (its entity is never expanded), and so is one whose
// document element is not "localization"; each refusal is reported.
TEST_F(Translation, OnlyATranslationDocumentWithoutDocumentTypeReplacesTheTexts) {
  Init();
  const std::wstring other =
      L"<localization><general><languages><language lcid=\"1033\" code=\"en\"/></languages></general>"
      L"<ActiveXList><ChannelConfiguration><Caption><locale code=\"en\">{TEXT}</locale></Caption>"
      L"</ChannelConfiguration></ActiveXList></localization>";
  auto withText = [&](const wchar_t* text) {
    std::wstring document = other;
    document.replace(document.find(L"{TEXT}"), 6, text);
    return document;
  };
  const wchar_t* caption = L"localization/ActiveXList/ChannelConfiguration/Caption";
  struct Refused {
    std::wstring text;
    const char* reason;
  };
  const Refused refused[] = {
      {L"<?xml version=\"1.0\"?><!DOCTYPE localization [<!ENTITY e \"Replaced\">]>" + withText(L"&e;"),
       "A document type declaration is not accepted."},
      {testsupport::WithEntityBomb(withText(L"{BOMB}")), "A document type declaration is not accepted."},
      {L"<FDT><localization/></FDT>", "The document element is not \"localization\"."},
  };
  for (const Refused& r : refused) {
    object_->reports.clear();
    VARIANT_BOOL loaded = VARIANT_TRUE;
    EXPECT_EQ(E_FAIL, object_->LoadTranslation(com::Bstr(r.text.c_str()).get(), &loaded)) << r.reason;
    EXPECT_EQ(VARIANT_FALSE, loaded);
    ASSERT_EQ(1u, object_->reports.size());
    EXPECT_EQ(std::string("Invalid translation file:\r\n") + r.reason, object_->reports[0]);
    EXPECT_EQ(L"Channel settings", Text(caption));
  }

  // A translation document without one replaces the texts.
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(S_OK, object_->LoadTranslation(com::Bstr(withText(L"Replaced").c_str()).get(), &loaded));
  EXPECT_EQ(VARIANT_TRUE, loaded);
  EXPECT_EQ(L"Replaced", Text(caption));
}

TEST_F(Translation, WithoutTranslationPathTheFileIsReadFromTheCurrentFolder) {
  SetTranslationPath(nullptr);
  com::Bstr folder;
  ASSERT_EQ(S_OK, DtmTranslation::ReadTranslationPath(folder.put()));
  EXPECT_STREQ(L"", folder.c_str());

  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(TranslationFolder().c_str()));
  VARIANT_BOOL done = VARIANT_FALSE;
  HRESULT hr = object_->InitTranslation(&done);
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(S_OK, hr);
  EXPECT_EQ(VARIANT_TRUE, done);
}

TEST_F(Translation, ParameterAndEnumerationTextsAreTranslated) {
  Init();  // translates into English
  EXPECT_EQ(L"Device number", object_->parameters[1000].text);
  EXPECT_EQ(L"Slot of the adapter", object_->parameters[1000].text2);
  EXPECT_EQ(L"Primary master", object_->parameters[1001].text);
  EXPECT_EQ((std::vector<std::string>{"0;Secondary", "1;Primary"}), object_->parameters[1001].entries);
  // Texts from the document are escaped where they become markup.
  EXPECT_EQ(L"<Enumeration id=\"1001\"><Description id=\"1001\">Master role &amp; &quot;address&quot; &lt;HART&gt;"
            L"</Description><EnumerationEntries><Description id=\"1\">Master &amp; owner</Description>"
            L"</EnumerationEntries></Enumeration>",
            object_->parameters[1001].text2);
  // Enumeration 777 names no parameter of the DTM: the pass ends there and
  // 1004, after it, keeps its texts.
  EXPECT_EQ((std::vector<std::string>{"0;Idle"}), object_->parameters[1004].entries);

  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, object_->ChangeLanguage(1031, &done));
  ASSERT_EQ(S_OK, object_->OnTranslate(1031));
  EXPECT_EQ(L"Gerätenummer", object_->parameters[1000].text);
  EXPECT_EQ(L"Slot of the adapter", object_->parameters[1000].text2) << "no German description";
  // Labels keep their wide text: the Greek letter has no place in the ANSI
  // code page.
  EXPECT_EQ((std::vector<std::wstring>{L"0;Sekund\u00E4r \u03A9", L"1;Prim\u00E4r"}),
            object_->parameters[1001].wideEntries);

  com::Bstr label;
  EXPECT_EQ(S_OK, GetEnumerationEntryLabel(dtm_.get(), 1001, 1, label.put()));
  EXPECT_STREQ(L"Primär", label.c_str());
  EXPECT_EQ(E_FAIL, GetEnumerationEntryLabel(dtm_.get(), 1001, 5, label.put()));

  object_->parameters[1001].entries = {"0;No", "1;Yes", "2;Maybe"};
  ASSERT_EQ(S_OK, object_->Translation().LocalizeEnumerationEntries(1001));
  EXPECT_EQ((std::vector<std::wstring>{L"0;Sekund\u00E4r \u03A9", L"1;Prim\u00E4r", L"2;Maybe"}),
            object_->parameters[1001].wideEntries);
}

TEST_F(Translation, UserMessagesFallBackToTheStringTable) {
  com::Bstr text;
  EXPECT_EQ(S_OK, CTranslationHelper::GetUserMessage(dtm_.get(), 101, nullptr, text.put()));
  EXPECT_STREQ(L"Adapter not found (string table).", text.c_str()) << "no document loaded";

  Init();
  EXPECT_EQ(S_OK, CTranslationHelper::GetUserMessage(dtm_.get(), 101, nullptr, text.put()));
  EXPECT_STREQ(L"Adapter not found.", text.c_str());
  EXPECT_EQ(S_OK, CTranslationHelper::GetUserMessage(dtm_.get(), 0, L"NoAnswer", text.put()));
  EXPECT_STREQ(L"The device does not answer.", text.c_str());
  EXPECT_EQ(S_OK, CTranslationHelper::GetUserMessage(dtm_.get(), 102, L"Unknown", text.put()));
  EXPECT_STREQ(L"Only in the string table.", text.c_str());
  EXPECT_EQ(E_FAIL, CTranslationHelper::GetUserMessage(dtm_.get(), 103, nullptr, text.put()));
  EXPECT_EQ(nullptr, text.get());
  EXPECT_EQ(E_INVALIDARG, CTranslationHelper::GetUserMessage(dtm_.get(), 0, nullptr, text.put()));
  EXPECT_EQ(E_INVALIDARG, CTranslationHelper::GetUserMessage(dtm_.get(), 101, nullptr, nullptr));
}

TEST_F(Translation, AboutFileLiesInTheTranslationFolder) {
  com::Bstr path;
  EXPECT_EQ(S_OK, object_->GetAboutFile(path.put()));
  EXPECT_EQ(TranslationFolder() + L"\\evHrt CommDTM About_en.htm", path.c_str()) << "no document";
  Init();
  EXPECT_EQ(S_OK, object_->GetAboutFile(path.put()));
  EXPECT_EQ(TranslationFolder() + L"\\About test_en.htm", path.c_str());
  VARIANT_BOOL done = VARIANT_FALSE;
  object_->ChangeLanguage(1031, &done);
  EXPECT_EQ(S_OK, object_->GetAboutFile(path.put()));
  EXPECT_EQ(TranslationFolder() + L"\\evHrt CommDTM About_en.htm", path.c_str()) << "no German About file";
}

TEST(ModulePath, FilesAreFoundBesideTheModule) {
  const std::wstring folder = xmltest::ProgramFolder();
  const std::wstring bare = folder + L"tkx-manual.pdf";
  HANDLE file = CreateFileW(bare.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  com::Bstr path;

  // Only the bare file lies in the module folder.
  EXPECT_EQ(S_OK, ResolveModulePath(L"docs\\en\\tkx-manual.pdf", path.put()));
  EXPECT_EQ(bare, path.c_str());
  EXPECT_EQ(S_OK, ResolveModulePath(L"tkx-manual.pdf", path.put()));
  EXPECT_EQ(bare, path.c_str());
  EXPECT_EQ(S_OK, ResolveModulePath(L"schemas\\DTMInitSchema.xml", path.put()));
  EXPECT_EQ(folder + L"schemas\\DTMInitSchema.xml", path.c_str());
  // Absolute, but missing: looked for beside the module.
  EXPECT_EQ(S_OK, ResolveModulePath(L"C:\\nowhere\\tkx-manual.pdf", path.put()));
  EXPECT_EQ(bare, path.c_str());
  // URLs name no local file.
  EXPECT_EQ(S_OK, ResolveModulePath(L"http://example.com/doc/tkx-manual.pdf", path.put()));
  EXPECT_STREQ(L"http://example.com/doc/tkx-manual.pdf", path.c_str());
  DeleteFileW(bare.c_str());
}

}  // namespace
