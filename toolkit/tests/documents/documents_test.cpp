// The DTM's documents on the registered test DTM, driven through COM as a
// frame drives a DTM: relations of every kind on the DTM's own rows, the
// parameter document, export and import on a stream, external documents and
// the function documentation with the settings control double.
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "dtm_test_support.h"
#include "hostile_documents.h"
#include "test_dtm_ids.h"
#include "toolkit.h"
#include "toolkit/documents/ext_documents.h"
#include "toolkit/documents/parameter_import_export.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"

namespace dtmtest {
namespace {

namespace par = test_dtm_parameter;
namespace fn = test_dtm_function;

com::ComPtr<IXMLDOMDocument2> Parse(const wchar_t* text) {
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL created = VARIANT_FALSE;
  EXPECT_EQ(S_OK, XmlCreateAndLoad(text, doc.put(), &created));
  com::ComPtr<IXMLDOMElement> root;
  EXPECT_EQ(S_OK, doc->get_documentElement(root.put())) << "not well formed";
  doc->setProperty(com::Bstr(L"SelectionNamespaces").get(),
                   com::Variant(L"xmlns:fdt='x-schema:FDTDataTypesSchema.xml' "
                                L"xmlns:p='x-schema:DTMParameterSchema.xml' "
                                L"xmlns:d='x-schema:DTMDocumentationSchema.xml'")
                       .value());
  doc->setProperty(com::Bstr(L"SelectionLanguage").get(), com::Variant(L"XPath").value());
  return doc;
}

LONG Count(IXMLDOMNode* node, const wchar_t* xpath) {
  com::ComPtr<IXMLDOMNodeList> list;
  if (FAILED(node->selectNodes(com::Bstr(xpath).get(), list.put())) || !list) return -1;
  LONG n = 0;
  list->get_length(&n);
  return n;
}

std::wstring Text(IXMLDOMNode* node, const wchar_t* xpath) {
  com::Bstr text;
  if (FAILED(XmlGetNodeText(node, xpath, text.put()))) return L"<none>";
  return text.c_str() ? text.c_str() : L"";
}

class DocumentsTest : public DtmFixture {
 protected:
  HRESULT Write(ULONG id, const VARIANT& value) {
    com::ComPtr<IevFdtParameterHandler4> handler;
    EXPECT_EQ(S_OK, object.as(handler));
    return handler->WriteParameter(com::ui4(id).value(), value);
  }
  LONG Number(ULONG id, ULONG selector) {
    com::Variant v = Field(id, selector);
    EXPECT_EQ(S_OK, v.changeType(VT_I4));
    return V_I4(v.get());
  }
  void SetNumber(ULONG id, ULONG selector, LONG value) {
    com::ComPtr<IevFdtParameterInfo> info;
    ASSERT_EQ(S_OK, object.as(info));
    ASSERT_EQ(S_OK, info->SetParameterInfo(*com::ui4(id).get(), *com::ui4(selector).get(),
                                           *com::Variant(value).get()));
  }
  HRESULT Parameters(BSTR* out) {
    com::ComPtr<IDtmParameter> parameters;
    EXPECT_EQ(S_OK, object.as(parameters));
    com::Bstr path(L"");
    return parameters->GetParameters(path.get(), out);
  }
};

// ---- Relations ---------------------------------------------------------------

TEST_F(DocumentsTest, RelationsOfEveryKindReachTheirTargets) {
  Configure(L"maintenance");
  // Config applied the lists once: the targets follow the declared source.
  EXPECT_EQ(0, Number(par::kEnableTarget, 0x4000) & 0x8);
  EXPECT_EQ(0x1, Number(par::kAccessTarget, 0x4000) & 0x1);

  ASSERT_EQ(S_OK, Write(par::kRelationSource, com::Variant(LONG{20}).value()));
  EXPECT_EQ(20, Number(par::kValueTarget, 0x80));     // kind 5
  EXPECT_EQ(20, Number(par::kLimitsTarget, 0x100));   // kind 6
  EXPECT_EQ(20, Number(par::kLimitsTarget, 0x40));    // kind 7
  EXPECT_EQ(20, Number(par::kLimitsTarget, 0x20));    // kind 8
  EXPECT_EQ(10, Number(par::kLimitsTarget, 0x80));
  com::Variant choices = Field(par::kChoicesTarget, 0x10000);  // kind 4
  LONG number = -1;
  com::Bstr text;
  ASSERT_EQ(S_OK, BstrArrayGetAt(choices.value(), 2, &number, text.put()));
  EXPECT_EQ(2, number);
  EXPECT_STREQ(L"High", text.c_str());
  // Kind 1 reads the device only online: the device value was not read.
  EXPECT_EQ(0, Number(par::kDeviceValue, 0x200000));

  ASSERT_EQ(S_OK, Write(par::kTextSource, com::Variant(L"second").value()));  // kind 9
  com::Variant targetText = Field(par::kTextTarget, 0x40000);
  ASSERT_EQ(VT_BSTR, targetText.type());
  EXPECT_STREQ(L"second", V_BSTR(targetText.get()));

  // An update list re-reads its parameters from the device.
  ASSERT_EQ(S_OK, Write(par::kUpdateSource, com::Variant(LONG{5}).value()));
  EXPECT_EQ(42, Number(par::kDeviceValue, 0x200000));
}

TEST_F(DocumentsTest, KindOneReadsTheTargetFromTheDeviceWhileOnline) {
  Configure(L"maintenance");
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_EQ(kDtmOnline, State());
  EXPECT_EQ(0, Number(par::kDeviceValue, 0x200000));
  ASSERT_EQ(S_OK, Write(par::kRelationSource, com::Variant(LONG{30}).value()));
  EXPECT_EQ(42, Number(par::kDeviceValue, 0x200000));  // the device double's value
}

// ---- Parameter document --------------------------------------------------------

TEST_F(DocumentsTest, ParameterDocumentOnlyFromInitialisedOn) {
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  ASSERT_EQ(S_OK, persist->InitNew());
  com::Bstr document;
  EXPECT_EQ(S_FALSE, Parameters(document.put()));
  ASSERT_NE(nullptr, document.get());
  EXPECT_STREQ(L"", document.c_str());
  com::ComPtr<IDtmParameter> parameters;
  ASSERT_EQ(S_OK, object.as(parameters));
  EXPECT_EQ(E_INVALIDARG, parameters->GetParameters(nullptr, nullptr));

  // Attached (state 6): answered, and well formed.
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  ASSERT_EQ(S_OK, Parameters(document.put()));
  auto doc = Parse(document.c_str());
  EXPECT_EQ(1, Count(doc.get(), L"/p:FDT/p:DtmDevice/p:ExportedVariables"));
}

TEST_F(DocumentsTest, ParameterDocumentHoldsTheExportedVariablesInTheirGroups) {
  Configure(L"maintenance");
  com::Bstr document;
  ASSERT_EQ(S_OK, Parameters(document.put()));
  auto doc = Parse(document.c_str());
  EXPECT_EQ(L"TestDtm", Text(doc.get(), L"/p:FDT/p:DtmDevice/@fdt:tag"));
  EXPECT_EQ(L"default", Text(doc.get(), L"/p:FDT/@fdt:dataSetState"));
  EXPECT_EQ(L"persistent", Text(doc.get(), L"/p:FDT/@fdt:storageState"));

  const wchar_t top[] =
      L"/p:FDT/p:DtmDevice/p:ExportedVariables/fdt:DtmVariables[@name='ExportedVariables']";
  const std::wstring channel =
      std::wstring(top) + L"/fdt:DtmVariables[@name='Setup']/fdt:DtmVariables[@name='Channel']";
  // One Setup group for both paths that start with it.
  EXPECT_EQ(1, Count(doc.get(), (std::wstring(top) + L"/fdt:DtmVariables[@name='Setup']").c_str()));
  EXPECT_EQ(2, Count(doc.get(), (channel + L"/fdt:DtmVariable").c_str()));
  EXPECT_EQ(L"3", Text(doc.get(), (channel + L"/fdt:DtmVariable[@name='Exported Display']"
                                              L"/fdt:Value/fdt:Display/@string").c_str()));
  EXPECT_EQ(L"double", Text(doc.get(), (channel + L"/fdt:DtmVariable[@name='Exported Variant']"
                                                  L"/fdt:Value/fdt:Variant/@dataType").c_str()));
  EXPECT_EQ(1, Count(doc.get(), (std::wstring(top) + L"/fdt:DtmVariables[@name='Setup']"
                                                     L"/fdt:DtmVariables[@name='Times']"
                                                     L"/fdt:DtmVariable").c_str()));
  // A name with markup lands in the top group, as data.
  EXPECT_EQ(L"x&y<\"z>", Text(doc.get(), (std::wstring(top) + L"/fdt:DtmVariable[@name='a\"<&b']"
                                                                L"/fdt:Value/fdt:Display/@string").c_str()));
  EXPECT_EQ(L"1", Text(doc.get(), (channel + L"/fdt:DtmVariable[@name='Exported Display']"
                                             L"/fdt:Value/@writeAccess").c_str()));
  // Not readable: not exported; no representation: not exported.
  EXPECT_EQ(0, Count(doc.get(), L"//fdt:DtmVariable[@name='Not Exported']"));
  EXPECT_EQ(0, Count(doc.get(), L"//fdt:DtmVariable[@name='Preamble Count']"));
}

TEST_F(DocumentsTest, ParameterDocumentCarriesTagAndDataSetAndReadsBack) {
  Configure(L"maintenance");
  const wchar_t tagText[] = L"R&D <\"North\"> & 'A'";
  ASSERT_EQ(S_OK, Write(par::kTag, com::Variant(tagText).value()));
  com::Bstr document;
  ASSERT_EQ(S_OK, Parameters(document.put()));
  auto doc = Parse(document.c_str());
  EXPECT_EQ(tagText, Text(doc.get(), L"/p:FDT/p:DtmDevice/@fdt:tag"));
  // The data text: the data set's reference (the test DTM keeps the device
  // type's text).
  EXPECT_EQ(1, Count(doc.get(), L"/p:FDT/text()[contains(., 'Test Type')]"));

  // Applied again, the document gives the tag back unchanged.
  ASSERT_EQ(S_OK, Write(par::kTag, com::Variant(L"other").value()));
  com::ComPtr<IDtmParameter> parameters;
  ASSERT_EQ(S_OK, object.as(parameters));
  com::Bstr path(L"");
  VARIANT_BOOL applied = VARIANT_FALSE;
  ASSERT_EQ(S_OK, parameters->SetParameters(path.get(), document.get(), &applied));
  EXPECT_EQ(VARIANT_TRUE, applied);
  com::Variant tagValue = Field(par::kTag, 0x80);
  ASSERT_EQ(VT_BSTR, tagValue.type());
  EXPECT_STREQ(tagText, V_BSTR(tagValue.get()));
}

TEST_F(DocumentsTest, DeviceParameterAccessComesFromItsOnlineFlags) {
  Configure(L"maintenance");
  // Exported as display text; readable online, not writable online, though
  // writable on the DTM's side.
  SetNumber(par::kDeviceValue, 0x2000, 1);
  SetNumber(par::kDeviceValue, 0x4000, 0x10 | 0x1);
  com::Bstr document;
  ASSERT_EQ(S_OK, Parameters(document.put()));
  auto doc = Parse(document.c_str());
  const wchar_t value[] = L"//fdt:DtmVariable[@name='Device Value']/fdt:Value";
  EXPECT_EQ(L"1", Text(doc.get(), (std::wstring(value) + L"/@readAccess").c_str()))
      << document.c_str();
  EXPECT_EQ(L"0", Text(doc.get(), (std::wstring(value) + L"/@writeAccess").c_str()));

  // Writable online and not on the DTM's side.
  SetNumber(par::kDeviceValue, 0x4000, 0x10 | 0x20);
  ASSERT_EQ(S_OK, Parameters(document.put()));
  doc = Parse(document.c_str());
  EXPECT_EQ(L"1", Text(doc.get(), (std::wstring(value) + L"/@writeAccess").c_str()));
  // A DTM parameter without the DTM's write flag.
  SetNumber(par::kExportDisplay, 0x4000, 0x10 | 0x20);
  ASSERT_EQ(S_OK, Parameters(document.put()));
  doc = Parse(document.c_str());
  EXPECT_EQ(L"0",
            Text(doc.get(), L"//fdt:DtmVariable[@name='Exported Display']/fdt:Value/@writeAccess"));
}

// ---- Export and import ---------------------------------------------------------

class StreamTest : public DocumentsTest {
 protected:
  com::ComPtr<IStream> NewStream() {
    com::ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    return stream;
  }
  com::ComPtr<IStream> StreamOf(const char* text) {
    auto stream = NewStream();
    ULONG written = 0;
    stream->Write(text, static_cast<ULONG>(std::strlen(text)), &written);
    Rewind(stream.get());
    return stream;
  }
  static void Rewind(IStream* stream) {
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  }
  std::string Contents(IStream* stream) {
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::string text(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    Rewind(stream);
    ULONG read = 0;
    stream->Read(&text[0], static_cast<ULONG>(text.size()), &read);
    return text;
  }
  com::ComPtr<IDtmImportExport> ImportExport() {
    com::ComPtr<IDtmImportExport> out;
    EXPECT_EQ(S_OK, object.as(out));
    return out;
  }
};

TEST_F(StreamTest, ExportThenImportRestoresEveryExportableValue) {
  Configure(L"maintenance");
  ASSERT_EQ(S_OK, Write(par::kPreambles, com::Variant(LONG{12}).value()));
  com::Variant real;
  V_VT(real.get()) = VT_R8;
  V_R8(real.get()) = 0.3;
  ASSERT_EQ(S_OK, Write(par::kExportVariant, real.value()));

  auto stream = NewStream();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, ImportExport()->Export(stream.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  const std::string text = Contents(stream.get());
  EXPECT_EQ(0u, text.find("<?xml version=\"1.0\"?> \r\n<PARAMETERS> \r\n"));
  EXPECT_EQ(std::string::npos, text.find('\0'));
  EXPECT_NE(std::string::npos, text.find("name  =\"a&quot;&lt;&amp;b\""));

  ASSERT_EQ(S_OK, Write(par::kPreambles, com::Variant(LONG{6}).value()));
  V_R8(real.get()) = 7.0;
  ASSERT_EQ(S_OK, Write(par::kExportVariant, real.value()));
  ASSERT_EQ(S_OK, Write(par::kExportSpecial, com::Variant(L"changed").value()));
  ASSERT_EQ(S_OK, Write(par::kExportDate, com::Variant(LONG{3}).value()));

  Rewind(stream.get());
  done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, ImportExport()->Import(stream.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(12, Number(par::kPreambles, 0x80));
  EXPECT_EQ(0.3, V_R8(Field(par::kExportVariant, 0x80).get()));
  EXPECT_STREQ(L"x&y<\"z>", V_BSTR(Field(par::kExportSpecial, 0x80).get()));
  EXPECT_EQ(45000.5, V_DATE(Field(par::kExportDate, 0x80).get()));

  // Exported again, the text is the same.
  auto again = NewStream();
  ASSERT_EQ(S_OK, ImportExport()->Export(again.get(), &done));
  EXPECT_EQ(text, Contents(again.get()));
}

TEST_F(StreamTest, TextOutsideAsciiGoesOutAndComesBackWhole) {
  Configure(L"maintenance");
  ASSERT_EQ(S_OK, Write(par::kExportSpecial, com::Variant(L"Ger\u00e4t").value()));
  auto stream = NewStream();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, ImportExport()->Export(stream.get(), &done));
  ASSERT_EQ(S_OK, Write(par::kExportSpecial, com::Variant(L"other").value()));
  Rewind(stream.get());
  ASSERT_EQ(S_OK, ImportExport()->Import(stream.get(), &done));
  EXPECT_STREQ(L"Ger\u00e4t", V_BSTR(Field(par::kExportSpecial, 0x80).get()));
}

TEST_F(StreamTest, ExportAndImportShowTheirProgress) {
  Configure(L"maintenance");
  auto ended = [&](const wchar_t* title) {
    // Started with the title at 0 %, ended with an empty title at 0 %.
    return PumpUntil([&] {
      const auto calls = frame->callsTo("OnProgress");
      bool started = false;
      for (const auto& call : calls)
        if (call.arguments.at(1) == title && call.arguments.at(2) == L"0") started = true;
      return started && calls.back().arguments.at(1).empty();
    });
  };
  auto stream = NewStream();
  VARIANT_BOOL done = VARIANT_FALSE;
  frame->clearCalls();
  ASSERT_EQ(S_OK, ImportExport()->Export(stream.get(), &done));
  EXPECT_TRUE(ended(L"Export"));
  Rewind(stream.get());
  frame->clearCalls();
  ASSERT_EQ(S_OK, ImportExport()->Import(stream.get(), &done));
  EXPECT_TRUE(ended(L"Import"));
}

TEST_F(StreamTest, ImportRefusesADocumentTypeDeclaration) {
  Configure(L"maintenance");
  auto stream = StreamOf(
      "<?xml version=\"1.0\"?><!DOCTYPE PARAMETERS [<!ENTITY count \"9\">]>"
      "<PARAMETERS><Parameter id=\"100\" type=\"VT_UI1\" value=\"&count;\"/></PARAMETERS>");
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, ImportExport()->Import(stream.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_EQ(5, Number(par::kPreambles, 0x80));
}

TEST_F(StreamTest, AnEntryWithAnotherTypeLeavesItsParameterUnchanged) {
  Configure(L"maintenance");
  auto stream = StreamOf(
      "<?xml version=\"1.0\"?> \r\n<PARAMETERS> \r\n"
      "<Parameter id=\"100\" name=\"Preamble Count\" type=\"VT_BSTR\" value=\"9\"/>"
      "<Parameter id=\"400\" name=\"Exported Display\" type=\"VT_I4\" value=\"77\"/>"
      "</PARAMETERS> \r\n");
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, ImportExport()->Import(stream.get(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(5, Number(par::kPreambles, 0x80));
  EXPECT_EQ(77, Number(par::kExportDisplay, 0x80));
}

// A stream that claims more bytes than it gives.
class ShortStream : public com::ObjectRoot, public IStream {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<ShortStream, IStream>(),
                                              com::endOfMap()};
    return map;
  }
  ULONGLONG claimed = 0;
  std::string data;
  size_t position = 0;
  STDMETHODIMP Read(void* out, ULONG count, ULONG* read) override {
    ULONG n = static_cast<ULONG>(std::min<size_t>(count, data.size() - position));
    std::memcpy(out, data.data() + position, n);
    position += n;
    if (read) *read = n;
    return n < count ? S_FALSE : S_OK;
  }
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    *stat = STATSTG{};
    stat->cbSize.QuadPart = claimed;
    return S_OK;
  }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
};

TEST_F(StreamTest, ImportRefusesAStreamItCannotReadWhole) {
  Configure(L"maintenance");
  const std::string document =
      "<PARAMETERS><Parameter id=\"100\" type=\"VT_UI1\" value=\"9\"/></PARAMETERS>";
  com::ComObject<ShortStream>* raw = nullptr;
  ASSERT_EQ(S_OK, com::ComObject<ShortStream>::create(&raw));
  com::ComPtr<IStream> stream;
  stream.attach(static_cast<IStream*>(raw));
  raw->data = document;

  VARIANT_BOOL done = VARIANT_TRUE;
  raw->claimed = document.size() + 100;  // fewer bytes arrive than announced
  EXPECT_EQ(S_FALSE, ImportExport()->Import(stream.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  raw->claimed = ULONGLONG{kMaxImportBytes} + 1;  // above the cap: not even read
  raw->position = 0;
  EXPECT_EQ(S_FALSE, ImportExport()->Import(stream.get(), &done));
  EXPECT_EQ(0u, raw->position);
  EXPECT_EQ(5, Number(par::kPreambles, 0x80));

  raw->claimed = document.size();  // whole: taken
  raw->position = 0;
  EXPECT_EQ(S_OK, ImportExport()->Import(stream.get(), &done));
  EXPECT_EQ(9, Number(par::kPreambles, 0x80));
}

// An imported document that declares a document type is refused as an
// unreadable one, without its entity ever being expanded.
TEST_F(StreamTest, ImportRefusesADocumentDeclaringADocumentType) {
  Configure(L"maintenance");
  const std::wstring bomb = testsupport::WithEntityBomb(
      L"<PARAMETERS><Parameter id=\"100\" type=\"VT_UI1\" value=\"9\" name=\"{BOMB}\"/></PARAMETERS>");
  auto stream = StreamOf(std::string(bomb.begin(), bomb.end()).c_str());
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, ImportExport()->Import(stream.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_EQ(5, Number(par::kPreambles, 0x80));
}

TEST_F(StreamTest, RefusalsByArgumentStateAndRole) {
  auto stream = NewStream();
  EXPECT_EQ(E_POINTER, ImportExport()->Export(stream.get(), nullptr));
  EXPECT_EQ(E_POINTER, ImportExport()->Import(stream.get(), nullptr));
  AttachNew();  // state 6 (environment set), not configured
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, ImportExport()->Export(stream.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_EQ(S_FALSE, ImportExport()->Import(stream.get(), &done));
}

TEST_F(StreamTest, ObserverMayNeitherExportNorImport) {
  Configure(L"observer");
  auto stream = NewStream();
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, ImportExport()->Export(stream.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_EQ(S_FALSE, ImportExport()->Import(stream.get(), &done));
  EXPECT_EQ(S_FALSE, ImportExport()->Export(nullptr, &done));
}

// ---- External documents and documentation -------------------------------------

TEST(DocumentReferenceTest, RelativeUnlessItNamesAScheme) {
  EXPECT_TRUE(ClassifyDocumentReference(L"manual.pdf"));
  EXPECT_TRUE(ClassifyDocumentReference(L"docs\\manual.pdf"));
  EXPECT_FALSE(ClassifyDocumentReference(L"C:\\docs\\manual.pdf"));
  EXPECT_FALSE(ClassifyDocumentReference(L"c:/docs/manual.pdf"));
  EXPECT_FALSE(ClassifyDocumentReference(L"HTTP://EXAMPLE.INVALID/"));
  EXPECT_FALSE(ClassifyDocumentReference(L"Ftp://host/x"));
  EXPECT_FALSE(ClassifyDocumentReference(L"FILE://host/x"));
}

TEST_F(DocumentsTest, DocumentsAreSelectedByDeviceTypeAndClassified) {
  Configure(L"maintenance");
  com::ComPtr<IevFdtExtDocument> documents;
  ASSERT_EQ(S_OK, object.as(documents));
  auto fragments = [&](HRESULT (STDMETHODCALLTYPE IevFdtExtDocument::*method)(BSTR, BSTR*),
                       const wchar_t* type) {
    com::Bstr id(type), out;
    EXPECT_EQ(S_OK, (documents.get()->*method)(id.get(), out.put()));
    return std::wstring(out.c_str() ? out.c_str() : L"");
  };
  const std::wstring typeA = fragments(&IevFdtExtDocument::GetDocuments, L"TypeA");
  auto docA = Parse((L"<all>" + typeA + L"</all>").c_str());
  EXPECT_EQ(2, Count(docA.get(), L"/all/fdt:DtmDocument"));
  // A bare file name is resolved against the module's folder.
  const std::wstring file = Text(docA.get(), L"//fdt:DocumentFile/@file");
  EXPECT_NE(std::wstring::npos, file.find(L":\\"));
  EXPECT_EQ(L"\\manual.pdf", file.substr(file.size() - 11));
  EXPECT_EQ(L"HTTP://example.invalid/a?b=1&c=2", Text(docA.get(), L"//fdt:DocumentUrl/@url"));
  EXPECT_EQ(L"Web page & more", Text(docA.get(), L"//fdt:DtmDocument[fdt:DocumentUrl]/@label"));
  EXPECT_EQ(L"Maker's <site>", Text(docA.get(), L"//fdt:DtmDocument[fdt:DocumentUrl]/@help"));
  EXPECT_EQ(0, Count(docA.get(), L"//fdt:DocumentExe"));
  EXPECT_EQ(std::wstring::npos, typeA.find(L"skipped.pdf"));  // no classification text

  const std::wstring typeB = fragments(&IevFdtExtDocument::GetDocuments, L"TypeB");
  auto docB = Parse((L"<all>" + typeB + L"</all>").c_str());
  EXPECT_EQ(L"C:\\Tools\\tool.exe", Text(docB.get(), L"//fdt:DocumentExe/@file"));
  EXPECT_EQ(L"-x \"1\"", Text(docB.get(), L"//fdt:DocumentExe/@parameters"));
  EXPECT_EQ(0, Count(docB.get(), L"//fdt:DocumentUrl"));

  const std::wstring bitmaps = fragments(&IevFdtExtDocument::GetDeviceBitmaps, L"TypeB");
  auto bitmapDoc = Parse((L"<all>" + bitmaps + L"</all>").c_str());
  EXPECT_EQ(2, Count(bitmapDoc.get(), L"/all/fdt:DeviceBitmap"));
  EXPECT_EQ(L"device", Text(bitmapDoc.get(), L"/all/fdt:DeviceBitmap[1]/@deviceGraphicState"));
  EXPECT_EQ(0, Count(bitmapDoc.get(), L"/all/fdt:DeviceBitmap[2]/@deviceGraphicState"));
  EXPECT_EQ(L"", fragments(&IevFdtExtDocument::GetDeviceIcons, L"TypeB"));
  const std::wstring icons = fragments(&IevFdtExtDocument::GetDeviceIcons, L"TypeA");
  EXPECT_NE(std::wstring::npos, icons.find(L"deviceGraphicState=\"diagnosis\""));
}

TEST_F(DocumentsTest, DocumentationListsTheParametersOfTheFunctionsControl) {
  Configure(L"operator");
  com::ComPtr<IDtmDocumentation> documentation;
  ASSERT_EQ(S_OK, object.as(documentation));
  com::Bstr call(FunctionCall(fn::kSettings).c_str());
  com::Bstr document;
  ASSERT_EQ(S_OK, documentation->GetDocumentation(call.get(), document.put()));
  auto doc = Parse(document.c_str());
  // The control double shows three parameters, in its order.
  EXPECT_EQ(3, Count(doc.get(), L"//d:DocumentVariable"));
  EXPECT_EQ(L"Preamble Count (VT_UI1)", Text(doc.get(), L"//d:DocumentVariable[1]/@fdt:name"));
  EXPECT_EQ(L"5", Text(doc.get(), L"//d:DocumentVariable[1]/@fdt:display"));
  EXPECT_EQ(L"a\"<&b (VT_BSTR)", Text(doc.get(), L"//d:DocumentVariable[2]/@fdt:name"));
  EXPECT_EQ(L"x&y<\"z>", Text(doc.get(), L"//d:DocumentVariable[2]/@fdt:display"));
  EXPECT_EQ(L"1.0.1", Text(doc.get(), L"//fdt:VersionInformation/@version"));

  // A function that is not printable: an empty text.
  com::Bstr reset(FunctionCall(fn::kResetCounter).c_str());
  ASSERT_EQ(S_OK, documentation->GetDocumentation(reset.get(), document.put()));
  EXPECT_STREQ(L"", document.c_str());
  EXPECT_EQ(E_POINTER, documentation->GetDocumentation(call.get(), nullptr));
}

TEST_F(DocumentsTest, DocumentationRefusesObserversAndEarlyStates) {
  AttachNew();
  com::ComPtr<IDtmDocumentation> documentation;
  ASSERT_EQ(S_OK, object.as(documentation));
  com::Bstr call(FunctionCall(fn::kSettings).c_str());
  com::Bstr document;
  EXPECT_EQ(S_FALSE, documentation->GetDocumentation(call.get(), document.put()));
  EXPECT_EQ(nullptr, document.get());
}

TEST_F(DocumentsTest, DocumentationForAnObserverIsEmpty) {
  Configure(L"observer");
  com::ComPtr<IDtmDocumentation> documentation;
  ASSERT_EQ(S_OK, object.as(documentation));
  com::Bstr call(FunctionCall(fn::kSettings).c_str());
  com::Bstr document;
  EXPECT_EQ(S_FALSE, documentation->GetDocumentation(call.get(), document.put()));
  EXPECT_STREQ(L"", document.c_str());
}

}  // namespace
}  // namespace dtmtest
