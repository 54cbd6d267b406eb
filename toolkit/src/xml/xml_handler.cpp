// XML handler: schema cache, document loading and node readers and writers
// (see toolkit/xml/xml_handler.h).
#include "toolkit/xml/xml_handler.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/xml/xml_schema_lists.h"
#include "toolkit/values/text_helpers.h"
#include "win32/unique_handle.h"

const wchar_t kSchemaPathsKey[] = L"Software\\VELTRA\\_ev FDT Toolkit\\XML\\SchemaPaths";
const wchar_t kSchemaPathsValue[] = L"value0";

const wchar_t* const kDtmSchemaFiles[] = {
    L"DTMInformationSchema.xml",   L"DTMParameterSchema.xml",      L"FDTDataTypesSchema.xml",
    L"FDTApplicationIdSchema.xml", L"DTMFunctionsSchema.xml",      L"DTMFunctionCallSchema.xml",
    L"FDTOperationPhaseSchema.xml", L"FDTUserInformationSchema.xml", L"DTMInitSchema.xml",
    L"FDTHARTCommunicationSchema.xml", nullptr};

const wchar_t* const kChannelSchemaFiles[] = {
    L"DTMInformationSchema.xml",   L"DTMParameterSchema.xml",  L"FDTDataTypesSchema.xml",
    L"FDTApplicationIdSchema.xml", L"DTMProtocolsSchema.xml",  L"DTMSystemTagListSchema.xml",
    L"FDTHARTCommunicationSchema.xml", nullptr};

const wchar_t* const kControlSchemaFiles[] = {
    L"FDTDataTypesSchema.xml", L"FDTApplicationIdSchema.xml", L"DTMFunctionsSchema.xml",
    L"DTMFunctionCallSchema.xml", L"FDTOperationPhaseSchema.xml", nullptr};

namespace {

// A whole decimal number in an attribute's text: blanks around it, an
// optional sign, at least one digit, nothing else. False for anything else
// and for a magnitude beyond 32 bits.
bool ParseWholeNumber(const wchar_t* text, bool* negative, ULONGLONG* magnitude) {
  if (!text) return false;
  while (std::iswspace(*text)) ++text;
  *negative = *text == L'-';
  if (*text == L'-' || *text == L'+') ++text;
  ULONGLONG value = 0;
  const wchar_t* digits = text;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    value = value * 10 + static_cast<ULONGLONG>(*text - L'0');
    if (value > 0xFFFFFFFFull) return false;
  }
  if (text == digits) return false;
  while (std::iswspace(*text)) ++text;
  if (*text) return false;
  *magnitude = value;
  return true;
}

struct FindHandleTraits {
  using type = HANDLE;
  static type invalid() { return INVALID_HANDLE_VALUE; }
  static bool valid(type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(type h) { ::FindClose(h); }
};
using UniqueFind = win32::UniqueResource<FindHandleTraits>;

// MSXML: "a referenced object was not found" (a schema the document names).
const HRESULT kObjectNotFound = static_cast<HRESULT>(0x800C0006);

const size_t kReportChars = 4096;
const DWORD kRegistryFolderChars = 512;
const int kMaxSchemaRounds = 16;
// Bounds of one schema search in a folder tree: it runs on the frame's
// thread, so a tree far larger than a schema folder (a whole drive) is given
// up on rather than walked.
const ULONG kSchemaSearchFolders = 2000;
const ULONGLONG kSchemaSearchMs = 2000;

bool IsNameChar(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_';
}

// The registry's schema folder; empty when the key or the value cannot be
// read. Reading asks for read access only: a user who may not write the key
// still finds the schemas.
std::wstring ReadRegistryFolder() {
  win32::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSchemaPathsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return std::wstring();
  }
  wchar_t buffer[kRegistryFolderChars + 1] = {};
  DWORD type = 0;
  DWORD bytes = kRegistryFolderChars * sizeof(wchar_t);
  if (::RegQueryValueExW(key.get(), kSchemaPathsValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::wstring();
  }
  // A stored value need not end with a zero; the spare element ends it.
  buffer[bytes / sizeof(wchar_t)] = L'\0';
  if (type != REG_EXPAND_SZ) return buffer;
  // "%ProgramFiles%\..." and the like name the folder only once expanded.
  wchar_t expanded[kRegistryFolderChars * 2] = {};
  const DWORD length = ::ExpandEnvironmentStringsW(buffer, expanded, kRegistryFolderChars * 2);
  if (length == 0 || length > kRegistryFolderChars * 2) return std::wstring();
  return expanded;
}

// Walks the folder tree below base for name; counts the folders it opens
// against the budget and gives up (S_FALSE) when the budget or the time is
// spent.
HRESULT FindInTree(const std::wstring& base, const wchar_t* name, BSTR* path, ULONG* foldersLeft,
                   ULONGLONG deadline) {
  if (*foldersLeft == 0 || ::GetTickCount64() >= deadline) return S_FALSE;
  --*foldersLeft;
  WIN32_FIND_DATAW data;
  {
    UniqueFind direct(::FindFirstFileW((base + name).c_str(), &data));
    if (direct.valid()) {
      std::wstring full = base + data.cFileName;
      *path = ::SysAllocString(full.c_str());
      return *path ? S_OK : E_OUTOFMEMORY;
    }
  }
  // Every sub-folder, depth first in listing order. Folders are recognised
  // by their directory bit whatever other attributes they carry; linked
  // folders are not followed, so that a link cannot make the walk circular.
  UniqueFind listing(::FindFirstFileExW((base + L"*").c_str(), FindExInfoStandard, &data,
                                        FindExSearchLimitToDirectories, nullptr, 0));
  if (!listing.valid()) return S_FALSE;
  do {
    const DWORD attributes = data.dwFileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
    HRESULT hr = FindInTree(base + data.cFileName + L"\\", name, path, foldersLeft, deadline);
    if (hr != S_FALSE) return hr;
    if (*foldersLeft == 0) return S_FALSE;
  } while (::FindNextFileW(listing.get(), &data));
  return S_FALSE;
}

// Second-level properties that keep a document from reading a DTD or
// anything outside its text. Not every parser knows them (Wine's accepts
// ProhibitDTD and ignores it), so their answers do not count: the text is
// refused before parsing when it declares a document type.
void ProhibitDocumentTypes(IXMLDOMDocument2* doc) {
  doc->put_resolveExternals(VARIANT_FALSE);
  doc->setProperty(com::Bstr(L"ProhibitDTD").get(), com::Variant(true).value());
  doc->setProperty(com::Bstr(L"ResolveExternals").get(), com::Variant(false).value());
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
  return wcsncmp(text, prefix, wcslen(prefix)) == 0;
}

bool IsXmlBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

}  // namespace

bool XmlDeclaresDocumentType(const wchar_t* xml) {
  if (!xml) return false;
  const wchar_t* at = xml;
  if (*at == 0xFEFF) ++at;
  for (;;) {
    while (IsXmlBlank(*at)) ++at;
    if (StartsWith(at, L"<?")) {
      const wchar_t* end = wcsstr(at + 2, L"?>");
      if (!end) return false;  // malformed: the parser refuses it
      at = end + 2;
    } else if (StartsWith(at, L"<!--")) {
      const wchar_t* end = wcsstr(at + 4, L"-->");
      if (!end) return false;
      at = end + 3;
    } else {
      // "<!DOCTYPE", in any spelling the parser might be lenient about;
      // anything else ends the prolog.
      return StartsWith(at, L"<!");
    }
  }
}

HRESULT FindFileInFolderTree(const wchar_t* folder, const wchar_t* name, BSTR* path) {
  return FindFileInFolderTree(folder, name, path, kSchemaSearchFolders);
}

HRESULT FindFileInFolderTree(const wchar_t* folder, const wchar_t* name, BSTR* path, ULONG maxFolders) {
  if (!folder || !name || !*name || !path) return E_INVALIDARG;
  // No folder is no place to look: an empty one would mean the root of the
  // current drive.
  if (!*folder) return S_FALSE;
  std::wstring base(folder);
  if (base.back() != L'\\' && base.back() != L'/') base += L'\\';
  ULONG foldersLeft = maxFolders;
  return com::guard([&] {
    return FindInTree(base, name, path, &foldersLeft, ::GetTickCount64() + kSchemaSearchMs);
  });
}

int SchemaNamesFromReason(const wchar_t* reason, std::vector<std::wstring>* names) {
  names->clear();
  if (!reason) return 0;
  int occurrences = 0;
  const wchar_t* scanFrom = reason;  // a name never reaches back before this
  for (const wchar_t* hit = wcsstr(reason, L".xml"); hit; hit = wcsstr(hit + 4, L".xml")) {
    ++occurrences;
    const wchar_t* start = hit;
    while (start > scanFrom && IsNameChar(start[-1])) --start;
    if (start < hit) names->push_back(std::wstring(start, hit) + L".xml");
    scanFrom = hit + 4;
  }
  return occurrences;
}

int SchemaNamesBySeparators(const wchar_t* reason, std::vector<std::wstring>* names) {
  names->clear();
  if (!reason) return 0;
  auto separator = [](wchar_t c) { return c != 0 && std::wcschr(L"\t\n\r \"'*/:<>?\\|", c) != nullptr; };
  int occurrences = 0;
  // The character behind a name ends it and is never part of the next one.
  const wchar_t* scanFrom = reason;
  for (const wchar_t* hit = wcsstr(reason, L".xml"); hit; hit = wcsstr(scanFrom, L".xml")) {
    ++occurrences;
    const wchar_t* start = hit;
    while (start > scanFrom && !separator(start[-1])) --start;
    if (start < hit) names->push_back(std::wstring(start, hit) + L".xml");
    scanFrom = hit[4] ? hit + 5 : hit + 4;
  }
  return occurrences;
}

XmlHandlerCore::XmlHandlerCore(const wchar_t* const* schemaFiles, ReportFn report, void* context)
    : schemaFiles_(schemaFiles), report_(report), reportContext_(context) {}

XmlHandlerCore::~XmlHandlerCore() = default;

void XmlHandlerCore::Report(const char* format, ...) {
  if (!report_) return;
  char text[kReportChars];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  report_(reportContext_, text);
}

HRESULT XmlHandlerCore::InitializeSchemaCache(const wchar_t* folder) {
  schemaFolder_.assign(folder);
  // The owner was told its folders anew: what was missing may be there now.
  missing_.clear();
  if (!schemas_) {
    HRESULT hr = ::CoCreateInstance(CLSID_evXmlSchemaCache, nullptr, CLSCTX_ALL, IID_evXmlDomSchemaCollection,
                                    schemas_.putVoid());
    if (FAILED(hr) || !schemas_) {
      if (SUCCEEDED(hr)) hr = E_FAIL;
      Report("::InitializeSchemaCache\nXMLSchemaCache creation failed!\nHRESULT = %08X", static_cast<unsigned>(hr));
      return hr;
    }
  }
  for (const wchar_t* const* name = schemaFiles_; name && *name && **name; ++name) {
    LONG added = 0;
    HRESULT hr = AddSchema(*name, &added);
    if (hr != S_OK || !added) {
      Report("::InitializeSchemaCache\nProblems while loading schema \"%s\".\nIXMLDOMSchemaCollection->add() returns %08X.",
             AnsiFromWide(*name).c_str(), static_cast<unsigned>(hr));
    }
  }
  return S_OK;
}

HRESULT XmlHandlerCore::AddSchema(const wchar_t* name, LONG* added) {
  if (added) *added = 0;
  LONG flag = 0;
  if (!schemas_) return S_FALSE;
  if (!schemaFolder_.empty()) {
    AddSchemaFromFolder(schemaFolder_.c_str(), name, &flag);
    if (flag) {
      if (added) *added = 1;
      return S_OK;
    }
  }
  std::wstring registryFolder = ReadRegistryFolder();
  if (registryFolder.empty()) return S_FALSE;
  AddSchemaFromFolder(registryFolder.c_str(), name, &flag);
  if (!flag) return S_FALSE;
  schemaFolder_.assign(registryFolder.c_str());
  if (added) *added = 1;
  return S_OK;
}

bool XmlHandlerCore::SearchedBefore(const wchar_t* folder, const wchar_t* name) const {
  const std::wstring key = std::wstring(folder ? folder : L"") + L"|" + name;
  for (const std::wstring& missing : missing_)
    if (_wcsicmp(missing.c_str(), key.c_str()) == 0) return true;
  return false;
}

void XmlHandlerCore::RememberMissing(const wchar_t* folder, const wchar_t* name) {
  try {
    missing_.push_back(std::wstring(folder ? folder : L"") + L"|" + name);
  } catch (...) {
    // Not remembered: the next document searches once more.
  }
}

HRESULT XmlHandlerCore::AddFileToCollection(const wchar_t* name, const wchar_t* path) {
  std::wstring uri = L"x-schema:";
  uri += name;
  com::Bstr ns(uri.c_str());
  com::Variant location(path);
  return schemas_->add(ns.get(), *location.get());
}

HRESULT XmlHandlerCore::AddSchemaFromFolder(const wchar_t* folder, const wchar_t* name, LONG* added) {
  if (added) *added = 0;
  if (!schemas_) return S_FALSE;
  if (!name || SearchedBefore(folder, name)) return S_FALSE;
  com::Bstr path;
  HRESULT hr = FindFileInFolderTree(folder, name, path.put());
  if (hr == S_FALSE) RememberMissing(folder, name);
  if (hr != S_OK) return hr;
  if (path.empty()) return E_UNEXPECTED;
  hr = AddFileToCollection(name, path.c_str());
  if (hr == S_OK && added) *added = 1;
  return hr;
}

HRESULT XmlHandlerCore::AddSchemasFromParseError(IXMLDOMDocument2* doc, VARIANT_BOOL* added) {
  if (!added) return E_POINTER;
  *added = VARIANT_FALSE;
  if (!doc || !schemas_) return S_FALSE;
  com::ComPtr<IXMLDOMParseError> error;
  if (FAILED(doc->get_parseError(error.put())) || !error) return S_FALSE;
  LONG code = 0;
  error->get_errorCode(&code);
  if (code != kObjectNotFound) return S_FALSE;
  com::Bstr reason;
  error->get_reason(reason.put());
  std::vector<std::wstring> names;
  if (schemaNames_(reason.get(), &names) == 0) return S_FALSE;
  for (const std::wstring& name : names) {
    // Each missing name is searched for once per folder, and never without
    // a folder.
    if (SearchedBefore(schemaFolder_.c_str(), name.c_str())) continue;
    com::Bstr path;
    if (FindFileInFolderTree(schemaFolder_.c_str(), name.c_str(), path.put()) != S_OK) {
      RememberMissing(schemaFolder_.c_str(), name.c_str());
      continue;
    }
    HRESULT hr = AddFileToCollection(name.c_str(), path.c_str());
    if (FAILED(hr)) return hr;
    *added = VARIANT_TRUE;
  }
  return S_OK;
}

HRESULT XmlHandlerCore::LoadXMLDocumentOrUnchecked(const wchar_t* xml, IXMLDOMDocument2** doc,
                                                   VARIANT_BOOL* loaded) {
  if (schemas_) return LoadXMLDocument(xml, doc, loaded);
  if (!doc || !loaded) return E_POINTER;
  *doc = nullptr;
  *loaded = VARIANT_FALSE;
  if (!xml) return E_INVALIDARG;
  return LoadOutsideDocument(xml, doc, loaded);
}

HRESULT XmlHandlerCore::LoadXMLDocument(const wchar_t* xml, IXMLDOMDocument2** doc, VARIANT_BOOL* loaded) {
  if (!schemas_ || !doc || !loaded) return E_POINTER;
  if (!xml) return E_INVALIDARG;
  *loaded = VARIANT_FALSE;

  com::ComPtr<IXMLDOMDocument2> created;
  HRESULT hr = ::CoCreateInstance(CLSID_evDomDocument, nullptr, CLSCTX_ALL, IID_evXmlDomDocument2, created.putVoid());
  if (FAILED(hr) || !created) {
    Report("::LoadXMLDocument\nCoCreateInstance on IXMLDOMDocument failed!\n(CODE == %08X)", static_cast<unsigned>(hr));
    return FAILED(hr) ? hr : E_FAIL;
  }
  com::ComPtr<IUnknown> cache;
  hr = schemas_.as(cache);
  if (FAILED(hr) || !cache) {
    Report("::LoadXMLDocument\nIUnknown not retrieved from IXMLSchemaCache!\nHRESULT = %08X", static_cast<unsigned>(hr));
    return FAILED(hr) ? hr : E_FAIL;
  }
  com::Variant schemas(cache.get());
  hr = created->putref_schemas(*schemas.get());
  if (FAILED(hr)) {
    Report("::LoadXMLDocument\nIXMLDOMDocument2->putref_schemas() returns %08X\n", static_cast<unsigned>(hr));
    return hr;
  }

  if (XmlDeclaresDocumentType(xml)) {
    if (reportParseErrors_) {
      Report("::LoadXMLDocument (ParseError)\nA document type declaration is not accepted.\n%s", AnsiFromWide(xml).c_str());
      return S_OK;
    }
    return S_FALSE;
  }
  ProhibitDocumentTypes(created.get());

  // Validation on parse stays at its default (on): a document that names a
  // schema the cache lacks fails with "object not found"; that schema is
  // then added from the schema folder and the text parsed again.
  com::Bstr text(xml);
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = created->loadXML(text.get(), &ok);
  if (FAILED(hr)) {
    Report("::LoadXMLDocument\nIXMLDOMDocument2->loadXML() returns %08X\n", static_cast<unsigned>(hr));
    return hr;
  }
  // Each round adds at least one schema; the bound stops a schema that
  // names itself as missing from making the loop endless.
  for (int round = 0; !ok && round < kMaxSchemaRounds; ++round) {
    VARIANT_BOOL added = VARIANT_FALSE;
    if (AddSchemasFromParseError(created.get(), &added) != S_OK || !added) break;
    hr = created->loadXML(text.get(), &ok);
    if (hr == S_OK) break;
    if (FAILED(hr)) break;
  }

  if (ok) {
    if (*doc) (*doc)->Release();
    *doc = nullptr;
    HRESULT qi = created->QueryInterface(IID_evXmlDomDocument2, reinterpret_cast<void**>(doc));
    if (FAILED(qi) || !*doc) {
      Report("::LoadXMLDocument\nQI on IXMLDOMDocument2 failed! (CODE: %08X)", static_cast<unsigned>(qi));
      return FAILED(qi) ? qi : E_FAIL;
    }
    *loaded = VARIANT_TRUE;
    return S_OK;
  }
  if (!reportParseErrors_) return hr;
  com::Bstr message;
  HRESULT pe = GetParseError(created.get(), message.put());
  if (FAILED(pe)) return pe;
  message.append(L"\n");
  message.append(xml);
  Report("::LoadXMLDocument (ParseError)\n%s", AnsiFromWide(message.c_str()).c_str());
  return S_OK;
}

HRESULT XmlHandlerCore::LoadOutsideDocument(const wchar_t* xml, IXMLDOMDocument2** doc, VARIANT_BOOL* parsed) {
  if (!doc || !parsed) return E_INVALIDARG;
  *parsed = VARIANT_FALSE;
  com::ComPtr<IXMLDOMDocument2> loaded;
  HRESULT hr = XmlCreateParserDocument(loaded.put());
  if (FAILED(hr)) return hr;
  ProhibitDocumentTypes(loaded.get());
  if (!XmlDeclaresDocumentType(xml)) {
    com::Bstr text(xml);
    VARIANT_BOOL ok = VARIANT_FALSE;
    loaded->loadXML(text.get(), &ok);
    com::ComPtr<IXMLDOMElement> root;
    if (SUCCEEDED(loaded->get_documentElement(root.put())) && root) *parsed = VARIANT_TRUE;
  }
  *doc = loaded.detach();
  return S_OK;
}

HRESULT XmlHandlerCore::GetParseError(IXMLDOMDocument2* doc, BSTR* text) {
  if (!doc || !text) return E_POINTER;
  HRESULT hr = XmlParseErrorText(doc, text);
  if (FAILED(hr)) {
    Report("CevFDTXMLHandlerImpl::GetParseError\nget_parseError on IXMLDOMDocument failed!\n(CODE == %08X)",
           static_cast<unsigned>(hr));
  }
  return hr;
}

HRESULT XmlHandlerCore::GetNodeText(BSTR* out, IXMLDOMNode* node, const wchar_t* xpath) {
  if (!out) return E_POINTER;
  HRESULT exists = XmlNodeExists(node, xpath);
  if (exists == 0) return E_FAIL;
  if (FAILED(exists)) return exists;
  com::Variant value;
  HRESULT hr = ReadNodeValue(node, xpath, value.get(), VT_BSTR);
  if (FAILED(hr)) return hr;
  if (value.type() != VT_BSTR) return E_FAIL;
  return com::Bstr(V_BSTR(value.get())).copyTo(out);
}

HRESULT XmlHandlerCore::GetOptionalNodeText(BSTR* out, BYTE* found, IXMLDOMNode* node, const wchar_t* xpath) {
  if (!found) return E_POINTER;
  *found = 0;
  HRESULT exists = XmlNodeExists(node, xpath);
  if (exists == 0) return S_OK;
  HRESULT hr = GetNodeText(out, node, xpath);
  if (SUCCEEDED(hr)) *found = 1;
  return hr;
}

// Both read the attribute's text, not its typed value: once a document has
// a schema collection, the platform's typed value of an attribute depends on
// what the schema declares (Wine's answers VT_NULL), while the text is always
// there.
namespace {

// The selected node's text as sign and magnitude of a whole number.
HRESULT ReadWholeNumber(IXMLDOMNode* node, const wchar_t* xpath, bool* negative, ULONGLONG* magnitude) {
  com::Bstr text;
  HRESULT hr = XmlHandlerCore::GetNodeText(text.put(), node, xpath);
  if (FAILED(hr)) return hr;
  return ParseWholeNumber(text.c_str(), negative, magnitude) ? S_OK : DISP_E_TYPEMISMATCH;
}

}  // namespace

HRESULT XmlHandlerCore::ReadNumericAttribute(ULONG* out, IXMLDOMNode* node, const wchar_t* xpath) {
  if (!out) return E_POINTER;
  bool negative = false;
  ULONGLONG magnitude = 0;
  HRESULT hr = ReadWholeNumber(node, xpath, &negative, &magnitude);
  if (FAILED(hr)) return hr;
  if (negative && magnitude != 0) return DISP_E_OVERFLOW;
  *out = static_cast<ULONG>(magnitude);
  return S_OK;
}

HRESULT XmlHandlerCore::ReadSignedNumericAttribute(LONG* out, IXMLDOMNode* node, const wchar_t* xpath) {
  if (!out) return E_POINTER;
  bool negative = false;
  ULONGLONG magnitude = 0;
  HRESULT hr = ReadWholeNumber(node, xpath, &negative, &magnitude);
  if (FAILED(hr)) return hr;
  if (magnitude > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return DISP_E_OVERFLOW;
  *out = negative ? static_cast<LONG>(-static_cast<LONGLONG>(magnitude)) : static_cast<LONG>(magnitude);
  return S_OK;
}

HRESULT XmlHandlerCore::SetAttribute(IXMLDOMDocument* doc, IXMLDOMNode* element, const wchar_t* name,
                                     const VARIANT& value) {
  if (!doc || !element) return E_POINTER;
  com::ComPtr<IXMLDOMNamedNodeMap> attributes;
  if (FAILED(element->get_attributes(attributes.put())) || !attributes) return E_FAIL;
  com::Bstr attributeName(name);
  com::ComPtr<IXMLDOMAttribute> attribute;
  if (FAILED(doc->createAttribute(attributeName.get(), attribute.put())) || !attribute) return E_FAIL;
  HRESULT hr = attribute->put_value(value);
  if (FAILED(hr)) return hr;
  com::ComPtr<IXMLDOMNode> replaced;
  return attributes->setNamedItem(attribute.get(), replaced.put());
}

HRESULT XmlHandlerCore::SetAttributeAt(IXMLDOMDocument* doc, const wchar_t* xpath, const wchar_t* name,
                                       const VARIANT& value) {
  if (!doc) return E_POINTER;
  com::ComPtr<IXMLDOMNode> element;
  com::Bstr query(xpath);
  if (FAILED(doc->selectSingleNode(query.get(), element.put())) || !element) return E_FAIL;
  return SetAttribute(doc, element.get(), name, value);
}

HRESULT XmlHandlerCore::AppendChildElement(IXMLDOMDocument* doc, const wchar_t* xpath, const wchar_t* name,
                                           IXMLDOMNode** out) {
  if (!doc || !out) return E_POINTER;
  *out = nullptr;
  com::ComPtr<IXMLDOMNode> parent;
  com::Bstr query(xpath);
  if (FAILED(doc->selectSingleNode(query.get(), parent.put())) || !parent) return E_FAIL;
  com::Bstr elementName(name);
  com::ComPtr<IXMLDOMElement> element;
  HRESULT hr = doc->createElement(elementName.get(), element.put());
  if (FAILED(hr)) return hr;
  hr = parent->appendChild(element.get(), out);
  if (FAILED(hr)) return hr;
  return *out ? S_OK : E_FAIL;
}
