// The XML handler that every COM class of the DTM (the DTM object, the
// channel, each control) holds as a member: an MSXML schema collection filled
// from the toolkit's schema folder, documents loaded against it, and the
// node readers and writers that FDT document code uses.
//
// XmlHandlerCore does the work; CevFDTXMLHandlerImpl<Owner> binds it to its
// owner: the owner's schema list (Owner::XmlSchemaFiles(), a list ended by an
// empty or null name, see xml_schema_lists.h) and the owner's diagnostic
// output (owner.ReportXmlMessage(const char* text)).
#pragma once

#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "toolkit/xml/xml_dom.h"

// Registry place of the schema folder (HKEY_LOCAL_MACHINE).
extern const wchar_t kSchemaPathsKey[];    // "Software\VELTRA\_ev FDT Toolkit\XML\SchemaPaths"
extern const wchar_t kSchemaPathsValue[];  // "value0"

// Finds name in folder or, depth first, in its sub-folders. S_OK with the
// full path (the name spelt as the file system has it); S_FALSE when not
// found, for an empty folder (no search at all), and when the search gave
// up: it opens at most maxFolders folders (2000 by default) and runs at
// most two seconds, because it runs on the frame's thread. E_INVALIDARG
// for a null folder, an empty name or a null out pointer.
HRESULT FindFileInFolderTree(const wchar_t* folder, const wchar_t* name, BSTR* path);
HRESULT FindFileInFolderTree(const wchar_t* folder, const wchar_t* name, BSTR* path, ULONG maxFolders);

// The schema names that an MSXML "referenced object not found" reason text
// mentions: each run of letters, digits and '_' that ends right before
// ".xml", with ".xml" appended, in text order. Answers the number of ".xml"
// occurrences; an occurrence with no name in front of it is counted but not
// listed.
int SchemaNamesFromReason(const wchar_t* reason, std::vector<std::wstring>* names);
// The same, where a name is every run of characters before ".xml" back to a
// separator (tab, line feed, carriage return, blank, '"', '\'', '*', '/',
// ':', '<', '>', '?', '\\', '|') or the end of the previous name: "-" and
// "." stay in the name.
int SchemaNamesBySeparators(const wchar_t* reason, std::vector<std::wstring>* names);
// How an owner cuts the schema names out of a reason text.
using SchemaNameReader = int (*)(const wchar_t* reason, std::vector<std::wstring>* names);

// True when the text's prolog (what stands before its first element) holds
// a markup declaration other than a comment: that is where a document type
// declaration stands, and with it entity declarations. Leading blanks, a
// byte-order mark, processing instructions and comments are passed over.
bool XmlDeclaresDocumentType(const wchar_t* xml);

class XmlHandlerCore {
 public:
  using ReportFn = void (*)(void* context, const char* text);

  XmlHandlerCore(const wchar_t* const* schemaFiles, ReportFn report, void* context);
  virtual ~XmlHandlerCore();
  XmlHandlerCore(const XmlHandlerCore&) = delete;
  XmlHandlerCore& operator=(const XmlHandlerCore&) = delete;

  // Stores the folder, creates the collection when there is none and adds
  // every schema of the owner's list. S_OK once the collection exists.
  HRESULT InitializeSchemaCache(const wchar_t* folder);
  // Adds one schema from the schema folder, else from the registry folder
  // (which then becomes the schema folder). S_OK (0) when added, S_FALSE (1)
  // otherwise; *added is 1 when added.
  HRESULT AddSchema(const wchar_t* name, LONG* added);
  HRESULT AddSchemaFromFolder(const wchar_t* folder, const wchar_t* name, LONG* added);
  // Adds the schemas that a "referenced object not found" parse error names.
  HRESULT AddSchemasFromParseError(IXMLDOMDocument2* doc, VARIANT_BOOL* added);
  // Every load below is one for documents that frames and device DTMs hand
  // over (requests, parameters, imports, data access): such a document never
  // resolves a DTD or expands an entity, since a large internal entity
  // referenced many times would hold the caller for minutes. The document
  // prohibits DTDs and resolves no externals, and a text that declares a
  // document type (XmlDeclaresDocumentType) is not parsed at all: it is
  // answered as a malformed text is.
  //
  // Parses and (on platforms that do) validates the text against the schema
  // collection. S_OK with *loaded true, or the loadXML result with *loaded
  // false (S_FALSE for a refused document type); with the report switch on,
  // S_OK and *loaded false after reporting the parse error.
  HRESULT LoadXMLDocument(const wchar_t* xml, IXMLDOMDocument2** doc, VARIANT_BOOL* loaded);
  // LoadXMLDocument once the handler has its schemas; before the frame named
  // a schema folder the text is only parsed (LoadOutsideDocument).
  HRESULT LoadXMLDocumentOrUnchecked(const wchar_t* xml, IXMLDOMDocument2** doc, VARIANT_BOOL* loaded);
  // Parses without validation (XmlCreateParserDocument) for code that holds
  // no handler. S_OK and the document in every case where one could be made;
  // *parsed is true only when the text parsed into a document with a root
  // element. A malformed or refused text leaves *parsed false and the
  // document without a root element.
  static HRESULT LoadOutsideDocument(const wchar_t* xml, IXMLDOMDocument2** doc, VARIANT_BOOL* parsed);
  // "Error 0x%08x\nLine %ld, Column %ld\n\n" + reason, replacing *text.
  HRESULT GetParseError(IXMLDOMDocument2* doc, BSTR* text);

  // The selected node's value as text (attributes and text nodes).
  static HRESULT GetNodeText(BSTR* out, IXMLDOMNode* node, const wchar_t* xpath);
  // As GetNodeText; *found = 0 and S_OK when nothing is selected.
  static HRESULT GetOptionalNodeText(BSTR* out, BYTE* found, IXMLDOMNode* node, const wchar_t* xpath);
  // The selected node's text (an attribute's, say) as an unsigned / signed
  // 32-bit decimal number: blanks around it and a sign allowed, nothing
  // else. E_FAIL when nothing is selected, DISP_E_TYPEMISMATCH for text that
  // is no such number, DISP_E_OVERFLOW outside the range; *out is then left
  // as it was. (The base DTM offers them under these names.)
  static HRESULT ReadNumericAttribute(ULONG* out, IXMLDOMNode* node, const wchar_t* xpath);
  static HRESULT ReadSignedNumericAttribute(LONG* out, IXMLDOMNode* node, const wchar_t* xpath);
  // Adds (or replaces) an attribute on the element.
  static HRESULT SetAttribute(IXMLDOMDocument* doc, IXMLDOMNode* element, const wchar_t* name,
                              const VARIANT& value);
  static HRESULT SetAttributeAt(IXMLDOMDocument* doc, const wchar_t* xpath, const wchar_t* name,
                                const VARIANT& value);
  // Appends an element without namespace under the node the XPath selects.
  static HRESULT AppendChildElement(IXMLDOMDocument* doc, const wchar_t* xpath, const wchar_t* name,
                                    IXMLDOMNode** out);

  void SetReportParseErrors(bool on) { reportParseErrors_ = on ? 1 : 0; }
  // The reader of missing schema names (null: SchemaNamesFromReason).
  void SetSchemaNameReader(SchemaNameReader reader) {
    schemaNames_ = reader ? reader : &SchemaNamesFromReason;
  }
  const wchar_t* SchemaFolder() const { return schemaFolder_.c_str(); }
  IXMLDOMSchemaCollection* SchemaCollection() const { return schemas_.get(); }

 protected:
  // printf-style report through the owner's diagnostic output (at most 4096
  // characters).
  void Report(const char* format, ...);

 private:
  HRESULT AddFileToCollection(const wchar_t* name, const wchar_t* path);
  // Schema names searched for in a folder and not found there: each is
  // searched for once.
  bool SearchedBefore(const wchar_t* folder, const wchar_t* name) const;
  void RememberMissing(const wchar_t* folder, const wchar_t* name);
  std::vector<std::wstring> missing_;

  com::Bstr schemaFolder_;
  com::ComPtr<IXMLDOMSchemaCollection> schemas_;
  LONG reportParseErrors_ = 0;
  const wchar_t* const* schemaFiles_;
  SchemaNameReader schemaNames_ = &SchemaNamesFromReason;
  ReportFn report_;
  void* reportContext_;
};

template <class Owner>
class CevFDTXMLHandlerImpl : public XmlHandlerCore {
 public:
  explicit CevFDTXMLHandlerImpl(Owner& owner)
      : XmlHandlerCore(Owner::XmlSchemaFiles(), &CevFDTXMLHandlerImpl::Forward, &owner) {}

 private:
  static void Forward(void* owner, const char* text) {
    static_cast<Owner*>(owner)->ReportXmlMessage(text);
  }
};
