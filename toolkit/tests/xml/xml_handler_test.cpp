// The schema cache filled from the schema folder and the registry's folder
// tree, document loading, and the parse-error reports.
//
// Wine's MSXML never validates a document against the schema cache while
// loading it, so the reload after a "referenced object not found" parse error
// (a schema added on demand) cannot happen here; the name scan behind it is
// tested on its own, and the schemas' effect is shown with validate().
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "hostile_documents.h"
#include "test_support.h"
#include "toolkit/xml/xml_handler.h"
#include "toolkit/xml/xml_schema_lists.h"

namespace {

struct DtmOwner {
  static const wchar_t* const* XmlSchemaFiles() { return kDtmSchemaFiles; }
  void ReportXmlMessage(const char* text) { reports.push_back(text); }
  std::vector<std::string> reports;
};

struct ControlOwner {
  static const wchar_t* const* XmlSchemaFiles() { return kControlSchemaFiles; }
  void ReportXmlMessage(const char* text) { reports.push_back(text); }
  std::vector<std::string> reports;
};

const wchar_t kUserMessageAnswer[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTUserMessageSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><FDTUserMessage messageType=\"messageQuestion\" "
    L"messageButtons=\"buttonsYesNo\" resultMessage=\"buttonNo\"/></FDT>";

std::vector<std::wstring> Namespaces(IXMLDOMSchemaCollection* schemas) {
  std::vector<std::wstring> out;
  LONG count = 0;
  schemas->get_length(&count);
  for (LONG i = 0; i < count; ++i) {
    com::Bstr uri;
    schemas->get_namespaceURI(i, uri.put());
    out.push_back(uri.c_str());
  }
  return out;
}

class SchemaCache : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    xmltest::SetRegistrySchemaFolder(nullptr);
  }
  void TearDown() override {
    xmltest::SetRegistrySchemaFolder(nullptr);
    CoUninitialize();
  }
};

TEST_F(SchemaCache, IsFilledFromTheRegistryFolderTreeWhenTheSchemaFolderLacksTheFiles) {
  xmltest::ScratchFolder registry(L"tkx-registry");
  xmltest::ScratchFolder given(L"tkx-given");
  // Spread over sub-folders at different depths; nothing at the top.
  for (int i = 0; kDtmSchemaFiles[i]; ++i)
    registry.CopySchema(kDtmSchemaFiles[i], i % 2 ? L"fdt\\1.2\\schemas" : L"other");
  xmltest::SetRegistrySchemaFolder(registry.path().c_str());  // no trailing backslash

  DtmOwner owner;
  CevFDTXMLHandlerImpl<DtmOwner> handler(owner);
  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(given.path().c_str()));
  EXPECT_TRUE(owner.reports.empty()) << owner.reports.front();
  auto uris = Namespaces(handler.SchemaCollection());
  ASSERT_EQ(10u, uris.size());
  EXPECT_EQ(L"x-schema:DTMInformationSchema.xml", uris.front());
  EXPECT_EQ(L"x-schema:FDTHARTCommunicationSchema.xml", uris.back());
  // The registry folder replaced the schema folder that lacked the files.
  EXPECT_EQ(registry.path(), handler.SchemaFolder());
}

TEST_F(SchemaCache, ExpandableRegistryFolderIsExpanded) {
  xmltest::ScratchFolder registry(L"tkx-expand");
  xmltest::ScratchFolder given(L"tkx-given");
  for (int i = 0; kControlSchemaFiles[i]; ++i) registry.CopySchema(kControlSchemaFiles[i], L"schemas");
  ASSERT_TRUE(::SetEnvironmentVariableW(L"TKX_SCHEMA_ROOT", registry.path().c_str()));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSchemaPathsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  const wchar_t value[] = L"%TKX_SCHEMA_ROOT%\\schemas";
  RegSetValueExW(key, kSchemaPathsValue, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  RegCloseKey(key);

  ControlOwner owner;
  CevFDTXMLHandlerImpl<ControlOwner> handler(owner);
  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(given.path().c_str()));
  EXPECT_EQ(5u, Namespaces(handler.SchemaCollection()).size());
  EXPECT_EQ(registry.path() + L"\\schemas", handler.SchemaFolder());
}

TEST_F(SchemaCache, MissingSchemaIsSearchedForOnceAndNeverWithoutAFolder) {
  xmltest::ScratchFolder given(L"tkx-once");
  ControlOwner owner;
  CevFDTXMLHandlerImpl<ControlOwner> handler(owner);
  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(L""));
  EXPECT_TRUE(handler.SchemaFolder()[0] == L'\0');
  LONG added = 1;
  // Without a folder nothing is searched: no walk of the current drive.
  EXPECT_EQ(S_FALSE, handler.AddSchemaFromFolder(L"", L"DTMInitSchema.xml", &added));
  EXPECT_EQ(0, added);

  EXPECT_EQ(S_FALSE, handler.AddSchemaFromFolder(given.path().c_str(), L"DTMInitSchema.xml", &added));
  // The file appears later: the name was searched for there once already.
  given.CopySchema(L"DTMInitSchema.xml", L"");
  EXPECT_EQ(S_FALSE, handler.AddSchemaFromFolder(given.path().c_str(), L"DTMInitSchema.xml", &added));
  EXPECT_EQ(0, added);
  // Another name is searched for as usual.
  given.CopySchema(L"FDTDataTypesSchema.xml", L"");
  EXPECT_EQ(S_OK, handler.AddSchemaFromFolder(given.path().c_str(), L"FDTDataTypesSchema.xml", &added));
  EXPECT_EQ(1, added);
}

TEST_F(SchemaCache, SchemaFolderComesBeforeTheRegistry) {
  xmltest::ScratchFolder given(L"tkx-given");
  xmltest::ScratchFolder registry(L"tkx-registry");
  for (int i = 0; kControlSchemaFiles[i]; ++i) given.CopySchema(kControlSchemaFiles[i], L"");
  xmltest::SetRegistrySchemaFolder(registry.path().c_str());

  ControlOwner owner;
  CevFDTXMLHandlerImpl<ControlOwner> handler(owner);
  std::wstring folder = given.path() + L"\\";
  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(folder.c_str()));
  EXPECT_TRUE(owner.reports.empty());
  EXPECT_EQ(5u, Namespaces(handler.SchemaCollection()).size());
  EXPECT_EQ(folder, handler.SchemaFolder());
}

TEST_F(SchemaCache, MissingSchemasAreReportedAndTheOwnerGoesOn) {
  xmltest::ScratchFolder given(L"tkx-given");
  given.CopySchema(L"FDTDataTypesSchema.xml", L"");
  ControlOwner owner;
  CevFDTXMLHandlerImpl<ControlOwner> handler(owner);

  LONG added = 7;
  EXPECT_EQ(S_FALSE, handler.AddSchema(L"FDTDataTypesSchema.xml", &added)) << "no collection yet";
  EXPECT_EQ(0, added);

  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(given.path().c_str()));
  EXPECT_EQ(std::vector<std::wstring>{L"x-schema:FDTDataTypesSchema.xml"}, Namespaces(handler.SchemaCollection()));
  ASSERT_EQ(4u, owner.reports.size());
  EXPECT_EQ(
      "::InitializeSchemaCache\nProblems while loading schema \"FDTApplicationIdSchema.xml\".\n"
      "IXMLDOMSchemaCollection->add() returns 00000001.",
      owner.reports[0]);

  // Initialising again reuses the collection and adds what is there now.
  given.CopySchema(L"DTMFunctionsSchema.xml", L"more");
  owner.reports.clear();
  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(given.path().c_str()));
  EXPECT_EQ(3u, owner.reports.size());
  EXPECT_EQ(2u, Namespaces(handler.SchemaCollection()).size());
}

TEST_F(SchemaCache, DocumentsLoadAgainstTheCollection) {
  DtmOwner owner;
  CevFDTXMLHandlerImpl<DtmOwner> handler(owner);
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL loaded = VARIANT_TRUE;
  EXPECT_EQ(E_POINTER, handler.LoadXMLDocument(kUserMessageAnswer, doc.put(), &loaded)) << "no collection";

  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(xmltest::StandInSchemaFolder().c_str()));
  EXPECT_EQ(E_INVALIDARG, handler.LoadXMLDocument(nullptr, doc.put(), &loaded));
  EXPECT_EQ(E_POINTER, handler.LoadXMLDocument(kUserMessageAnswer, doc.put(), nullptr));

  // A schema outside the owner's list (the frame's answer to a user message).
  ASSERT_EQ(S_OK, handler.LoadXMLDocument(kUserMessageAnswer, doc.put(), &loaded));
  EXPECT_EQ(VARIANT_TRUE, loaded);
  ASSERT_TRUE(doc);
  com::ComPtr<IXMLDOMNode> answer;
  doc->selectSingleNode(com::Bstr(L".//@resultMessage").get(), answer.put());
  ASSERT_TRUE(answer);

  // What a validating parser makes of it, once the schema is in the cache:
  // the stand-in schema accepts the answer and refuses an unknown button set.
  LONG added = 0;
  ASSERT_EQ(S_OK, handler.AddSchemaFromFolder(handler.SchemaFolder(), L"FDTUserMessageSchema.xml", &added));
  EXPECT_EQ(1, added);
  com::ComPtr<IXMLDOMParseError> error;
  HRESULT valid = doc->validate(error.put());
  com::Bstr reason;
  if (error) error->get_reason(reason.put());
  EXPECT_EQ(S_OK, valid) << std::string(reason.c_str(), reason.c_str() + reason.length());
  std::wstring wrong = kUserMessageAnswer;
  wrong.replace(wrong.find(L"buttonsYesNo"), 12, L"buttonsMaybe");
  com::ComPtr<IXMLDOMDocument2> bad;
  ASSERT_EQ(S_OK, handler.LoadXMLDocument(wrong.c_str(), bad.put(), &loaded));
  EXPECT_NE(S_OK, bad->validate(error.put()));
}

// A document loaded with the schema collection still reads its attribute
// numbers, with their sign and without a thousands separator of anybody's
// locale; text that is no number, or out of range, fails.
TEST_F(SchemaCache, NumericAttributesReadFromDocumentsWithSchemas) {
  DtmOwner owner;
  CevFDTXMLHandlerImpl<DtmOwner> handler(owner);
  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(xmltest::StandInSchemaFolder().c_str()));
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(S_OK, handler.LoadXMLDocument(
                      L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMInitSchema.xml\" "
                      L"xmlns:fdtvers=\"x-schema:FDTDataTypesSchema.xml\"><FrameVersion>"
                      L"<fdtvers:FDTVersion major=\"1\" minor=\" 2 \" release=\"-3\" build=\"x7\" "
                      L"big=\"4294967295\" grouped=\"1,000\" over=\"2147483648\"/></FrameVersion></FDT>",
                      doc.put(), &loaded));
  ASSERT_EQ(VARIANT_TRUE, loaded);
  const std::wstring version = L"FDT/FrameVersion/fdtvers:FDTVersion/@";
  auto at = [&](const wchar_t* name) { return version + name; };

  LONG value = 0;
  EXPECT_EQ(S_OK, XmlHandlerCore::ReadSignedNumericAttribute(&value, doc.get(), at(L"major").c_str()));
  EXPECT_EQ(1, value);
  EXPECT_EQ(S_OK, XmlHandlerCore::ReadSignedNumericAttribute(&value, doc.get(), at(L"minor").c_str()));
  EXPECT_EQ(2, value);
  EXPECT_EQ(S_OK, XmlHandlerCore::ReadSignedNumericAttribute(&value, doc.get(), at(L"release").c_str()));
  EXPECT_EQ(-3, value);
  value = 99;
  EXPECT_TRUE(FAILED(XmlHandlerCore::ReadSignedNumericAttribute(&value, doc.get(), at(L"build").c_str())));
  EXPECT_TRUE(FAILED(XmlHandlerCore::ReadSignedNumericAttribute(&value, doc.get(), at(L"grouped").c_str())));
  EXPECT_TRUE(FAILED(XmlHandlerCore::ReadSignedNumericAttribute(&value, doc.get(), at(L"over").c_str())));
  EXPECT_EQ(E_FAIL, XmlHandlerCore::ReadSignedNumericAttribute(&value, doc.get(), at(L"missing").c_str()));
  EXPECT_EQ(99, value);

  ULONG unsignedValue = 0;
  EXPECT_EQ(S_OK, XmlHandlerCore::ReadNumericAttribute(&unsignedValue, doc.get(), at(L"big").c_str()));
  EXPECT_EQ(4294967295u, unsignedValue);
  EXPECT_EQ(S_OK, XmlHandlerCore::ReadNumericAttribute(&unsignedValue, doc.get(), at(L"minor").c_str()));
  EXPECT_EQ(2u, unsignedValue);
  EXPECT_TRUE(FAILED(XmlHandlerCore::ReadNumericAttribute(&unsignedValue, doc.get(), at(L"release").c_str())));
}

TEST_F(SchemaCache, ParseErrorsAreReportedOnlyWhenAskedFor) {
  DtmOwner owner;
  CevFDTXMLHandlerImpl<DtmOwner> handler(owner);
  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(xmltest::StandInSchemaFolder().c_str()));
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL loaded = VARIANT_TRUE;
  const wchar_t broken[] = L"<FDT><Open></FDT>";

  EXPECT_EQ(S_FALSE, handler.LoadXMLDocument(broken, doc.put(), &loaded));
  EXPECT_EQ(VARIANT_FALSE, loaded);
  EXPECT_FALSE(doc);
  EXPECT_TRUE(owner.reports.empty());

  handler.SetReportParseErrors(true);
  EXPECT_EQ(S_OK, handler.LoadXMLDocument(broken, doc.put(), &loaded));
  EXPECT_EQ(VARIANT_FALSE, loaded);
  ASSERT_EQ(1u, owner.reports.size());
  const std::string& report = owner.reports[0];
  EXPECT_EQ(0u, report.find("::LoadXMLDocument (ParseError)\nError 0x")) << report;
  EXPECT_NE(std::string::npos, report.find("\nLine ")) << report;
  EXPECT_EQ(report.size() - 18, report.rfind("\n<FDT><Open></FDT>")) << report;
}

// Documents from frames and device DTMs never read a DTD: one that declares
// a document type is refused before it is parsed, whichever load takes it,
// and answered as a malformed text is. What a document may carry in front
// of its root (declaration, comments, processing instructions), and such
// text inside it, is no such declaration.
TEST_F(SchemaCache, DocumentTypeDeclarationsAreRefusedUnparsed) {
  const wchar_t* declaring[] = {
      L"<!DOCTYPE a><a/>",
      L" \r\n<?xml version=\"1.0\"?>\n<!-- first --><?pi x?>\t<!DOCTYPE a SYSTEM \"http://x/a.dtd\"><a/>",
      L"\xFEFF<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>",
      L"<!doctype a><a/>",
  };
  for (const wchar_t* text : declaring) EXPECT_TRUE(XmlDeclaresDocumentType(text)) << text;
  const wchar_t* plain[] = {
      L"<a/>",
      L"<?xml version=\"1.0\"?><!-- <!DOCTYPE a> --><a/>",
      L"<a><![CDATA[<!DOCTYPE a>]]>&lt;!DOCTYPE</a>",
      L"",
      nullptr,
  };
  for (const wchar_t* text : plain) EXPECT_FALSE(XmlDeclaresDocumentType(text)) << (text ? text : L"(null)");

  // The bomb: 192 MiB of text if it were expanded.
  const std::wstring bomb = testsupport::WithEntityBomb(
      L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMInitSchema.xml\" value=\"{BOMB}\"/>");
  DtmOwner owner;
  CevFDTXMLHandlerImpl<DtmOwner> handler(owner);
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL loaded = VARIANT_TRUE;
  EXPECT_EQ(S_OK, handler.LoadXMLDocumentOrUnchecked(bomb.c_str(), doc.put(), &loaded)) << "no collection yet";
  EXPECT_EQ(VARIANT_FALSE, loaded);

  ASSERT_EQ(S_OK, handler.InitializeSchemaCache(xmltest::StandInSchemaFolder().c_str()));
  doc.reset();
  loaded = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, handler.LoadXMLDocument(bomb.c_str(), doc.put(), &loaded));
  EXPECT_EQ(VARIANT_FALSE, loaded);
  EXPECT_FALSE(doc);
  EXPECT_TRUE(owner.reports.empty());
  handler.SetReportParseErrors(true);
  EXPECT_EQ(S_OK, handler.LoadXMLDocumentOrUnchecked(bomb.c_str(), doc.put(), &loaded));
  EXPECT_EQ(VARIANT_FALSE, loaded);
  ASSERT_EQ(1u, owner.reports.size());
  EXPECT_EQ(0u, owner.reports[0].find("::LoadXMLDocument (ParseError)\nA document type declaration is not accepted."))
      << owner.reports[0].substr(0, 200);

  // Without a handler: a document all the same, without a root element,
  // and not counted as parsed; nor is a malformed text.
  VARIANT_BOOL parsed = VARIANT_TRUE;
  ASSERT_EQ(S_OK, XmlHandlerCore::LoadOutsideDocument(bomb.c_str(), doc.put(), &parsed));
  EXPECT_EQ(VARIANT_FALSE, parsed);
  ASSERT_TRUE(doc);
  com::ComPtr<IXMLDOMElement> root;
  EXPECT_TRUE(FAILED(doc->get_documentElement(root.put())) || !root);
  parsed = VARIANT_TRUE;
  ASSERT_EQ(S_OK, XmlHandlerCore::LoadOutsideDocument(L"<a><b></a>", doc.put(), &parsed));
  EXPECT_EQ(VARIANT_FALSE, parsed);
  ASSERT_TRUE(doc);
  // A plain document loads as before.
  ASSERT_EQ(S_OK, XmlHandlerCore::LoadOutsideDocument(L"<!-- c --><a b=\"1\"/>", doc.put(), &parsed));
  EXPECT_EQ(VARIANT_TRUE, parsed);
  ASSERT_EQ(S_OK, doc->get_documentElement(root.put()));
  EXPECT_TRUE(root);
}

TEST(SchemaNames, AreTakenFromTheReasonText) {
  std::vector<std::wstring> list;
  EXPECT_EQ(2, SchemaNamesFromReason(L"Schema x-schema:FDTUserMessageSchema.xml not found (see my_2.xml).", &list));
  EXPECT_EQ((std::vector<std::wstring>{L"FDTUserMessageSchema.xml", L"my_2.xml"}), list);

  // A name never reaches back over the previous occurrence; a bare ".xml"
  // counts as an occurrence but names nothing.
  EXPECT_EQ(3, SchemaNamesFromReason(L"a-b.xml.xml .xml", &list));
  EXPECT_EQ(std::vector<std::wstring>{L"b.xml"}, list);
  EXPECT_EQ(0, SchemaNamesFromReason(L"nothing here .XML", &list));
  EXPECT_EQ(0, SchemaNamesFromReason(nullptr, &list));
}

TEST(SchemaNames, CutBySeparatorsKeepHyphensAndDots) {
  std::vector<std::wstring> list;
  // A path with slashes: the file name behind the last one, hyphen kept.
  EXPECT_EQ(1, SchemaNamesBySeparators(L"Object x-schema:/schemas/v1.2/FDT-Extra.Types.xml not found", &list));
  EXPECT_EQ(std::vector<std::wstring>{L"FDT-Extra.Types.xml"}, list);
  // A name at the very start; two names, both taken; the character behind
  // a name never starts the next one.
  EXPECT_EQ(2, SchemaNamesBySeparators(L"first-a.xml\"second.xml\"", &list));
  EXPECT_EQ((std::vector<std::wstring>{L"first-a.xml", L"second.xml"}), list);
  EXPECT_EQ(2, SchemaNamesBySeparators(L"a.xml-b.xml", &list));
  EXPECT_EQ((std::vector<std::wstring>{L"a.xml", L"b.xml"}), list);
  EXPECT_EQ(0, SchemaNamesBySeparators(nullptr, &list));
}

TEST(FolderTree, FindsFilesDepthFirst) {
  xmltest::ScratchFolder tree(L"tkx-tree");
  tree.MakeFolder(L"empty");
  tree.CopySchema(L"DTMInitSchema.xml", L"a\\b\\c");
  tree.CopySchema(L"FDTDataTypesSchema.xml", L"");
  com::Bstr path;
  EXPECT_EQ(S_OK, FindFileInFolderTree(tree.path().c_str(), L"dtminitschema.xml", path.put()));
  EXPECT_EQ(tree.path() + L"\\a\\b\\c\\DTMInitSchema.xml", path.c_str()) << "spelt as the file system has it";
  EXPECT_EQ(S_OK, FindFileInFolderTree((tree.path() + L"\\").c_str(), L"FDTDataTypesSchema.xml", path.put()));
  EXPECT_EQ(tree.path() + L"\\FDTDataTypesSchema.xml", path.c_str());
  EXPECT_EQ(S_FALSE, FindFileInFolderTree(tree.path().c_str(), L"Nowhere.xml", path.put()));
  EXPECT_EQ(S_FALSE, FindFileInFolderTree((tree.path() + L"\\missing").c_str(), L"Nowhere.xml", path.put()));
  EXPECT_EQ(E_INVALIDARG, FindFileInFolderTree(nullptr, L"a.xml", path.put()));
  EXPECT_EQ(E_INVALIDARG, FindFileInFolderTree(tree.path().c_str(), L"", path.put()));
  EXPECT_EQ(E_INVALIDARG, FindFileInFolderTree(tree.path().c_str(), L"a.xml", nullptr));
}

TEST(FolderTree, SearchIsBoundedAndNeedsAFolder) {
  xmltest::ScratchFolder tree(L"tkx-bound");
  tree.CopySchema(L"DTMInitSchema.xml", L"a\\b\\c");
  com::Bstr path;
  // The tree itself, a, b and c are four folders to open.
  EXPECT_EQ(S_FALSE, FindFileInFolderTree(tree.path().c_str(), L"DTMInitSchema.xml", path.put(), 3));
  EXPECT_EQ(S_OK, FindFileInFolderTree(tree.path().c_str(), L"DTMInitSchema.xml", path.put(), 4));
  EXPECT_EQ(S_FALSE, FindFileInFolderTree(L"", L"DTMInitSchema.xml", path.put()));
}

TEST(FolderTree, SearchesFoldersThatCarryMoreAttributes) {
  xmltest::ScratchFolder tree(L"tkx-attr");
  std::wstring hidden = tree.MakeFolder(L"hidden");
  tree.CopySchema(L"DTMInitSchema.xml", L"hidden");
  if (!SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN) ||
      GetFileAttributesW(hidden.c_str()) == (FILE_ATTRIBUTE_DIRECTORY)) {
    GTEST_SKIP() << "this file system keeps no extra folder attributes";
  }
  com::Bstr path;
  EXPECT_EQ(S_OK, FindFileInFolderTree(tree.path().c_str(), L"DTMInitSchema.xml", path.put()));
}

}  // namespace
