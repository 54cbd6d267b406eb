// The DTM's translation document and its lookups (see toolkit/xml/translation.h).
#include "toolkit/xml/translation.h"

#include <string>
#include <vector>

#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/safe_array.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"
#include "win32/unique_handle.h"

const wchar_t kTranslationKey[] = L"Software\\VELTRA\\FSK Mavix FDT\\";
const wchar_t kTranslationPathValue[] = L"TranslationPath";
const wchar_t kTranslationFileName[] = L"hartcommdtmTranslation.xml";
const wchar_t kDefaultAboutFile[] = L"evHrt CommDTM About_en.htm";

namespace {

const LONG kEnglish = 1033;
// Every lookup starts at this element.
const wchar_t kTranslationRoot[] = L"localization";
// Why a text that parses is still no translation document (the report's
// reason, in place of a parse error).
const wchar_t kDocumentTypeRefused[] = L"A document type declaration is not accepted.";
const wchar_t kNotATranslation[] = L"The document element is not \"localization\".";
const DWORD kTranslationPathChars = 260;

std::wstring Format(const wchar_t* format, ...) {
  com::Bstr text;
  va_list args;
  va_start(args, format);
  HRESULT hr = FormatBstrV(text.put(), format, args);
  va_end(args);
  com::throwIfFailed(hr);
  return text.c_str();
}

com::Variant I4(LONG value) { return com::Variant(value); }

// The text of the node that xpath selects below node; false when none.
bool NodeText(IXMLDOMNode* node, const std::wstring& xpath, com::Bstr& text) {
  com::ComPtr<IXMLDOMNode> found;
  com::Bstr query(xpath.c_str());
  if (FAILED(node->selectSingleNode(query.get(), found.put())) || !found) return false;
  return SUCCEEDED(found->get_text(text.put()));
}

bool ReadUnsignedAttribute(IXMLDOMNode* node, const wchar_t* xpath, ULONG* value) {
  com::Bstr text;
  if (!NodeText(node, xpath, text)) return false;
  com::Variant v(text.c_str());
  if (FAILED(v.changeType(VT_UI4))) return false;
  *value = V_UI4(v.get());
  return true;
}

bool IsUrl(const std::wstring& path) {
  for (const wchar_t* scheme : {L"http://", L"ftp://", L"file://"}) {
    if (path.find(scheme) != std::wstring::npos) return true;
  }
  return false;
}

// The bodies of the free helpers below, which answer failures as codes.
HRESULT UserMessageText(IUnknown* dtm, int resourceId, const wchar_t* key, BSTR* text, HMODULE module);
HRESULT ModulePath(const wchar_t* path, BSTR* out, HMODULE module);

}  // namespace

// ---------------------------------------------------------------------------
// TranslationDocument

TranslationDocument::TranslationDocument()
    : languageCode_(L""),
      lcidAttribute_(L"@lcid"),
      codeAttribute_(L"@code"),
      languageListPath_(L"localization/general/languages/language") {}

HRESULT TranslationDocument::GetLocalizedText(const wchar_t* xpath, BSTR* text, VARIANT_BOOL* found) {
  if (!text || !found) return E_INVALIDARG;
  *found = VARIANT_FALSE;
  *text = nullptr;
  if (!document_) return E_FAIL;
  std::wstring query = Format(L"%s/locale[%s = \"%s\"]", xpath ? xpath : L"", codeAttribute_.c_str(),
                              languageCode_.c_str());
  com::ComPtr<IXMLDOMNode> node;
  HRESULT hr = document_->selectSingleNode(com::Bstr(query.c_str()).get(), node.put());
  if (FAILED(hr)) return hr;
  if (!node) return S_FALSE;
  hr = node->get_text(text);
  if (FAILED(hr)) return hr;
  *found = VARIANT_TRUE;
  return S_OK;
}

HRESULT TranslationDocument::GetLanguageCount(long* count) {
  if (!count) return E_POINTER;
  *count = 0;
  com::ComPtr<IXMLDOMNodeList> list;
  std::wstring query = Format(L"%s[%s]", languageListPath_.c_str(), lcidAttribute_.c_str());
  if (FAILED(SelectNodes(query.c_str(), list.put())) || !list) return E_POINTER;
  LONG length = 0;
  HRESULT hr = list->get_length(&length);
  if (FAILED(hr)) return hr;
  *count = length;
  return S_OK;
}

HRESULT TranslationDocument::GetLanguageIdAt(long index, ULONG* languageId) {
  if (!languageId) return E_POINTER;
  com::ComPtr<IXMLDOMNodeList> list;
  std::wstring query = Format(L"%s[%s]", languageListPath_.c_str(), lcidAttribute_.c_str());
  HRESULT hr = SelectNodes(query.c_str(), list.put());
  if (FAILED(hr)) return hr;
  com::ComPtr<IXMLDOMNode> language;
  if (FAILED(list->get_item(index, language.put())) || !language) return E_FAIL;
  ULONG id = 0;
  if (!ReadUnsignedAttribute(language.get(), lcidAttribute_.c_str(), &id)) return E_FAIL;
  *languageId = id;
  return S_OK;
}

HRESULT TranslationDocument::SelectLanguage(long languageId, VARIANT_BOOL* selected) {
  if (!selected) return E_POINTER;
  *selected = VARIANT_FALSE;
  if (!document_) return E_FAIL;
  std::wstring query = Format(L"%s[%s = \"%d\"]", languageListPath_.c_str(), lcidAttribute_.c_str(),
                              static_cast<int>(languageId));
  com::ComPtr<IXMLDOMNode> language;
  HRESULT hr = document_->selectSingleNode(com::Bstr(query.c_str()).get(), language.put());
  if (FAILED(hr)) return hr;
  if (!language) return S_FALSE;
  com::ComPtr<IXMLDOMNode> code;
  hr = language->selectSingleNode(codeAttribute_.get(), code.put());
  if (FAILED(hr)) return hr;
  if (!code) return S_FALSE;
  com::Variant value;
  hr = code->get_nodeValue(value.get());
  if (FAILED(hr)) return hr;
  if (value.type() != VT_BSTR) return E_FAIL;
  hr = languageCode_.assign(V_BSTR(value.get()));
  if (FAILED(hr)) return hr;
  *selected = VARIANT_TRUE;
  return S_OK;
}

HRESULT TranslationDocument::LoadTranslation(const wchar_t* xml, VARIANT_BOOL* loaded, BSTR* parseError) {
  if (!loaded) return E_POINTER;
  *loaded = VARIANT_FALSE;
  // Any caller may hand a text in, also through the channel: a document
  // type is refused before parsing (its entities could hold this thread for
  // minutes), and a document that is not a translation document does not
  // replace the texts held.
  auto refuse = [&](const wchar_t* reason) {
    if (parseError) *parseError = ::SysAllocString(reason);
    return E_FAIL;
  };
  if (XmlDeclaresDocumentType(xml)) return refuse(kDocumentTypeRefused);
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  HRESULT hr = XmlHandlerCore::LoadOutsideDocument(xml, doc.put(), &parsed);
  if (FAILED(hr)) return hr;
  if (!parsed) {
    if (parseError) XmlParseErrorText(doc.get(), parseError);
    return E_FAIL;
  }
  com::ComPtr<IXMLDOMElement> root;
  com::Bstr rootName;
  if (FAILED(doc->get_documentElement(root.put())) || !root || FAILED(root->get_nodeName(rootName.put())) ||
      wcscmp(rootName.c_str(), kTranslationRoot) != 0)
    return refuse(kNotATranslation);
  // The lookups are XPath 1.0 expressions on every platform.
  doc->setProperty(com::Bstr(L"SelectionLanguage").get(), *com::Variant(L"XPath").get());
  document_ = doc;
  *loaded = VARIANT_TRUE;
  return S_OK;
}

HRESULT TranslationDocument::ContainsNode(const wchar_t* xpath, VARIANT_BOOL* exists) {
  if (!exists) return E_POINTER;
  *exists = VARIANT_FALSE;
  if (!document_) return E_FAIL;
  com::ComPtr<IXMLDOMNode> node;
  HRESULT hr = document_->selectSingleNode(com::Bstr(xpath).get(), node.put());
  if (FAILED(hr)) return hr;
  if (!node) return S_FALSE;
  *exists = VARIANT_TRUE;
  return S_OK;
}

HRESULT TranslationDocument::SelectNodes(const wchar_t* xpath, IXMLDOMNodeList** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!document_) return E_FAIL;
  if (FAILED(document_->selectNodes(com::Bstr(xpath).get(), out)) || !*out) return E_FAIL;
  return S_OK;
}

HRESULT TranslationDocument::SelectNode(const wchar_t* xpath, IXMLDOMNode** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!document_) return E_FAIL;
  if (FAILED(document_->selectSingleNode(com::Bstr(xpath).get(), out)) || !*out) return E_FAIL;
  return S_OK;
}

// ---------------------------------------------------------------------------
// DtmTranslation

HRESULT DtmTranslation::LoadTranslation(const wchar_t* xml, VARIANT_BOOL* loaded) {
  if (!loaded) return E_POINTER;
  com::Bstr parseError;
  HRESULT hr = document_.LoadTranslation(xml, loaded, parseError.put());
  if (hr == E_FAIL) {
    std::string text = "Invalid translation file:\r\n" + AnsiFromWide(parseError.c_str());
    host_.ReportTranslationText(text.c_str());
  }
  return hr;
}

HRESULT DtmTranslation::ReadTranslationPath(BSTR* folder) {
  if (!folder) return E_POINTER;
  std::wstring path;
  win32::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTranslationKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
    wchar_t buffer[kTranslationPathChars + 1] = {};
    DWORD type = 0;
    DWORD bytes = kTranslationPathChars * sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), kTranslationPathValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                           &bytes) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      buffer[bytes / sizeof(wchar_t)] = L'\0';
      path = buffer;
    }
  }
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  *folder = ::SysAllocString(path.c_str());
  return *folder ? S_OK : E_OUTOFMEMORY;
}

HRESULT DtmTranslation::LoadTranslationFile(VARIANT_BOOL* loaded) {
  if (!loaded) return E_POINTER;
  *loaded = VARIANT_FALSE;
  com::Bstr folder;
  HRESULT hr = ReadTranslationPath(folder.put());
  if (FAILED(hr)) return hr;
  std::wstring path = std::wstring(folder.c_str()) + kTranslationFileName;

  com::ComPtr<IXMLDOMDocument2> doc;
  hr = ::CoCreateInstance(CLSID_evDomDocument, nullptr, CLSCTX_ALL, IID_evXmlDomDocument2, doc.putVoid());
  if (FAILED(hr)) return hr;
  if (!doc) return E_FAIL;
  // Documents load asynchronously by default; the file must be complete
  // before its root is read.
  doc->put_async(VARIANT_FALSE);
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = doc->load(*com::Variant(path.c_str()).get(), &ok);
  if (FAILED(hr) || !ok) {
    com::Bstr parseError;
    XmlParseErrorText(doc.get(), parseError.put());
    std::string text = "Invalid translation file:\r\n" + AnsiFromWide(parseError.c_str());
    host_.ReportTranslationText(text.c_str());
    return E_FAIL;
  }
  com::ComPtr<IXMLDOMElement> root;
  if (FAILED(doc->get_documentElement(root.put())) || !root) return E_FAIL;
  com::Bstr xml;
  hr = root->get_xml(xml.put());
  if (FAILED(hr)) return hr;
  VARIANT_BOOL taken = VARIANT_FALSE;
  hr = LoadTranslation(xml.c_str(), &taken);
  if (FAILED(hr) || !taken) return FAILED(hr) ? hr : S_FALSE;
  *loaded = VARIANT_TRUE;
  return S_OK;
}

HRESULT DtmTranslation::InitTranslation(VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadTranslationFile(&loaded);
  if (FAILED(hr) || !loaded) return hr;
  VARIANT_BOOL selected = VARIANT_FALSE;
  document_.SelectLanguage(kEnglish, &selected);
  OnTranslate(kEnglish);
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT DtmTranslation::CanTranslate(VARIANT_BOOL* flag) {
  if (!flag) return E_POINTER;
  *flag = VARIANT_TRUE;
  return S_OK;
}

HRESULT DtmTranslation::ChangeLanguage(ULONG languageId, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  long count = 0;
  HRESULT hr = document_.GetLanguageCount(&count);
  if (FAILED(hr)) return hr;
  if (count == 0) return S_FALSE;
  bool offered = false;
  for (long i = 0; i < count && !offered; ++i) {
    ULONG id = 0;
    hr = document_.GetLanguageIdAt(i, &id);
    if (FAILED(hr)) return hr;
    offered = id == languageId;
  }
  if (!offered) return S_FALSE;
  long current = 0;
  if (SUCCEEDED(host_.CurrentLanguageId(&current)) && static_cast<ULONG>(current) == languageId) {
    *done = VARIANT_TRUE;
    return S_OK;
  }
  VARIANT_BOOL selected = VARIANT_FALSE;
  hr = document_.SelectLanguage(static_cast<long>(languageId), &selected);
  if (FAILED(hr)) return hr;
  if (selected) *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT DtmTranslation::OnTranslate(ULONG) {
  com::ComPtr<IevFdtParameterInfo> info;
  if (FAILED(host_.QueryParameterInfo(info.put())) || !info) return S_OK;
  TranslateParameters(info.get());
  TranslateEnumerations(info.get());
  return S_OK;
}

void DtmTranslation::TranslateParameters(IevFdtParameterInfo* info) {
  com::ComPtr<IXMLDOMNodeList> list;
  if (FAILED(document_.SelectNodes(L"localization/DTM/ParameterList/Parameter", list.put()))) return;
  LONG count = 0;
  list->get_length(&count);
  const std::wstring nameQuery =
      Format(L"Name/locale[%s = \"%s\"]", document_.CodeAttribute(), document_.LanguageCode());
  const std::wstring descriptionQuery =
      Format(L"Description/locale[%s = \"%s\"]", document_.CodeAttribute(), document_.LanguageCode());
  for (LONG i = 0; i < count; ++i) {
    com::ComPtr<IXMLDOMNode> parameter;
    if (FAILED(list->get_item(i, parameter.put())) || !parameter) return;
    ULONG id = 0;
    if (!ReadUnsignedAttribute(parameter.get(), L"@parId", &id) || !host_.HasParameter(id)) continue;
    com::Bstr text;
    if (NodeText(parameter.get(), nameQuery, text)) {
      info->SetParameterInfo(*com::ui4(id).get(), *I4(kParameterInfoText).get(),
                             *com::Variant(text.c_str()).get());
    }
    if (NodeText(parameter.get(), descriptionQuery, text)) {
      info->SetParameterInfo(*com::ui4(id).get(), *I4(kParameterInfoText2).get(),
                             *com::Variant(text.c_str()).get());
    }
  }
}

void DtmTranslation::TranslateEnumerations(IevFdtParameterInfo* info) {
  com::ComPtr<IXMLDOMNodeList> list;
  if (FAILED(document_.SelectNodes(L"localization/DTM/EnumerationList/Enumeration", list.put()))) return;
  LONG count = 0;
  list->get_length(&count);
  const wchar_t* code = document_.LanguageCode();
  const wchar_t* codeAttribute = document_.CodeAttribute();
  for (LONG i = 0; i < count; ++i) {
    com::ComPtr<IXMLDOMNode> enumeration;
    if (FAILED(list->get_item(i, enumeration.put())) || !enumeration) return;
    ULONG id = 0;
    if (!ReadUnsignedAttribute(enumeration.get(), L"@id", &id)) return;
    com::Variant subType, entries;
    if (FAILED(info->GetParameterInfo(*com::ui4(id).get(), *I4(kParameterInfoSubType).get(),
                                      subType.get())))
      return;
    if (FAILED(subType.changeType(VT_I4))) return;
    if (V_I4(subType.get()) != 1 && V_I4(subType.get()) != 2) continue;
    if (FAILED(info->GetParameterInfo(*com::ui4(id).get(), *I4(kParameterInfoExtra1).get(),
                                      entries.get())))
      return;

    // The description texts go into markup: they are escaped on the way in.
    com::Bstr description;
    com::ComPtr<IXMLDOMNode> described;
    std::wstring descriptionPath =
        Format(L"localization/DTM/ParameterList/Parameter[@parId=\"%d\"]/Description/locale[%s = \"%s\"]",
               static_cast<int>(id), codeAttribute, code);
    if (SUCCEEDED(document_.SelectNode(descriptionPath.c_str(), described.put()))) {
      com::Bstr raw;
      described->get_text(raw.put());
      EscapeXmlText(raw.c_str(), description.put());
    }
    std::wstring text = Format(L"<Enumeration id=\"%d\"><Description id=\"%d\">%s</Description><EnumerationEntries>",
                               static_cast<int>(id), static_cast<int>(id), description.c_str());

    LONG entryCount = 0;
    if (FAILED(BstrArrayGetLowerBound(*entries.get(), &entryCount))) return;
    // Labels stay wide text: a translated label need not fit the ANSI code page.
    std::vector<std::wstring> newEntries;
    for (LONG j = 0; j < entryCount; ++j) {
      LONG value = 0;
      com::Bstr label;
      if (FAILED(BstrArrayGetAt(*entries.get(), j, &value, label.put()))) return;
      com::Bstr localized;
      if (NodeText(enumeration.get(),
                   Format(L"EnumerationEntry[@id=\"%d\"]/Label/locale[%s = \"%s\"]", static_cast<int>(value),
                          codeAttribute, code),
                   localized)) {
        label = localized;
      }
      com::Bstr entryDescription;
      if (NodeText(enumeration.get(),
                   Format(L"EnumerationEntry[@id=\"%d\"]/Description/locale[%s = \"%s\"]", static_cast<int>(value),
                          codeAttribute, code),
                   entryDescription)) {
        com::Bstr escaped;
        EscapeXmlText(entryDescription.c_str(), escaped.put());
        text += Format(L"<Description id=\"%d\">%s</Description>", static_cast<int>(value), escaped.c_str());
      }
      newEntries.push_back(std::to_wstring(value) + L";" + (label.c_str() ? label.c_str() : L""));
    }
    text += L"</EnumerationEntries></Enumeration>";

    std::vector<const wchar_t*> strings;
    for (const auto& entry : newEntries) strings.push_back(entry.c_str());
    strings.push_back(nullptr);
    VARIANT packed = CevFdtSafeArray::FromStrings(strings.data());
    com::Variant newList;
    newList.attach(packed);
    if (FAILED(info->SetParameterInfo(*com::ui4(id).get(), *I4(kParameterInfoExtra1).get(),
                                      *newList.get())))
      return;
    if (FAILED(info->SetParameterInfo(*com::ui4(id).get(), *I4(kParameterInfoText2).get(),
                                      *com::Variant(text.c_str()).get()))) {
      return;
    }
  }
}

HRESULT DtmTranslation::LocalizeEnumerationEntries(ULONG parameterId) {
  com::ComPtr<IevFdtParameterInfo> info;
  HRESULT hr = host_.QueryParameterInfo(info.put());
  if (FAILED(hr) || !info) return FAILED(hr) ? hr : E_NOINTERFACE;
  com::Variant subType, entries;
  hr = info->GetParameterInfo(*com::ui4(parameterId).get(), *I4(kParameterInfoSubType).get(),
                              subType.get());
  if (FAILED(hr)) return hr;
  if (FAILED(subType.changeType(VT_I4)) || (V_I4(subType.get()) != 1 && V_I4(subType.get()) != 2)) return S_OK;
  hr = info->GetParameterInfo(*com::ui4(parameterId).get(), *I4(kParameterInfoExtra1).get(),
                              entries.get());
  if (FAILED(hr)) return hr;
  LONG count = 0;
  hr = BstrArrayGetLowerBound(*entries.get(), &count);
  if (FAILED(hr)) return hr;
  com::ComPtr<IUnknown> dtm;
  info.as(dtm);
  std::vector<std::wstring> newEntries;
  for (LONG j = 0; j < count; ++j) {
    LONG value = 0;
    com::Bstr label;
    hr = BstrArrayGetAt(*entries.get(), j, &value, label.put());
    if (FAILED(hr)) return hr;
    com::Bstr localized;
    if (GetEnumerationEntryLabel(dtm.get(), parameterId, value, localized.put()) == S_OK) label = localized;
    newEntries.push_back(std::to_wstring(value) + L";" + (label.c_str() ? label.c_str() : L""));
  }
  std::vector<const wchar_t*> strings;
  for (const auto& entry : newEntries) strings.push_back(entry.c_str());
  strings.push_back(nullptr);
  VARIANT packed = CevFdtSafeArray::FromStrings(strings.data());
  com::Variant newList;
  newList.attach(packed);
  return info->SetParameterInfo(*com::ui4(parameterId).get(), *I4(kParameterInfoExtra1).get(),
                                *newList.get());
}

HRESULT DtmTranslation::GetAboutFile(BSTR* path) {
  if (!path) return E_POINTER;
  com::Bstr name;
  VARIANT_BOOL found = VARIANT_FALSE;
  document_.GetLocalizedText(L"localization/StringList/AboutFile", name.put(), &found);
  if (name.empty()) name.assign(kDefaultAboutFile);
  com::Bstr folder;
  ReadTranslationPath(folder.put());
  folder.append(name.c_str());
  *path = folder.detach();
  return S_OK;
}

// ---------------------------------------------------------------------------
// Free lookups

HRESULT GetEnumerationEntryLabel(IUnknown* dtm, ULONG enumerationId, LONG entryId, BSTR* label) {
  if (!label) return E_POINTER;
  *label = nullptr;
  // A helper answers failures as codes; nothing it raises gets out.
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IevFdtTranslation> translation;
    if (!dtm || FAILED(translation.queryFrom(dtm)) || !translation) return E_FAIL;
    // The label is the entry's Label child; the entry's Description is another.
    std::wstring path =
        Format(L"localization/DTM/EnumerationList/Enumeration[@id=\"%u\"]/EnumerationEntry[@id=\"%d\"]/Label",
               static_cast<unsigned>(enumerationId), static_cast<int>(entryId));
    com::Bstr text;
    VARIANT_BOOL found = VARIANT_FALSE;
    HRESULT hr = translation->GetLocalizedText(com::Bstr(path.c_str()).get(), text.put(), &found);
    if (FAILED(hr) || !found) return E_FAIL;
    *label = text.detach();
    return S_OK;
  });
}

HMODULE ToolkitModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ToolkitModule), &module);
  return module;
}

HRESULT CTranslationHelper::GetUserMessage(IUnknown* dtm, int resourceId, const wchar_t* key, BSTR* text,
                                           HMODULE module) {
  if (!text) return E_INVALIDARG;
  if (!key && resourceId < 1) return E_INVALIDARG;
  *text = nullptr;
  return com::guard([&]() -> HRESULT { return UserMessageText(dtm, resourceId, key, text, module); });
}

namespace {

HRESULT UserMessageText(IUnknown* dtm, int resourceId, const wchar_t* key, BSTR* text, HMODULE module) {
  com::ComPtr<IevFdtTranslation> translation;
  if (dtm && SUCCEEDED(translation.queryFrom(dtm)) && translation) {
    std::wstring path = Format(L"localization/UserMessages/Message[@resId=\"%d\"]", resourceId);
    VARIANT_BOOL exists = VARIANT_FALSE;
    translation->ContainsNode(com::Bstr(path.c_str()).get(), &exists);
    bool usable = exists != VARIANT_FALSE;
    if (!usable && key) {
      path = Format(L"localization/UserMessages/Message[@resId=\"%s\"]", key);
      usable = true;
    }
    if (usable) {
      com::Bstr localized;
      VARIANT_BOOL found = VARIANT_FALSE;
      if (SUCCEEDED(translation->GetLocalizedText(com::Bstr(path.c_str()).get(), localized.put(), &found)) &&
          found) {
        *text = localized.detach();
        return S_OK;
      }
    }
  }
  if (resourceId < 1) return E_FAIL;
  const wchar_t* resource = nullptr;
  int length = ::LoadStringW(module ? module : ToolkitModule(), static_cast<UINT>(resourceId),
                             reinterpret_cast<LPWSTR>(&resource), 0);
  if (length <= 0 || !resource) return E_FAIL;
  *text = ::SysAllocStringLen(resource, static_cast<UINT>(length));
  return *text ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT ResolveModulePath(const wchar_t* path, BSTR* out, HMODULE module) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return com::guard([&]() -> HRESULT { return ModulePath(path, out, module); });
}

namespace {

HRESULT ModulePath(const wchar_t* path, BSTR* out, HMODULE module) {
  std::wstring given = path ? path : L"";

  wchar_t file[MAX_PATH] = {};
  ::GetModuleFileNameW(module ? module : ToolkitModule(), file, MAX_PATH);
  wchar_t longFile[MAX_PATH] = {};
  DWORD longLength = ::GetLongPathNameW(file, longFile, MAX_PATH);
  std::wstring folder = (longLength > 0 && longLength < MAX_PATH) ? longFile : file;
  folder = folder.substr(0, folder.find_last_of(L"\\/") + 1);

  const bool url = IsUrl(given);
  const bool absolute = url || given.find(L":\\") != std::wstring::npos ||
                        given.find(L":/") != std::wstring::npos || given.compare(0, 2, L"\\\\") == 0;
  std::wstring result = absolute ? given : folder + given;
  // A file that is not where the path says is looked for beside the module;
  // a URL names no local file and stays as it is.
  if (!url && ::GetFileAttributesW(result.c_str()) == INVALID_FILE_ATTRIBUTES) {
    result = folder + given.substr(given.find_last_of(L"\\/") + 1);
  }
  *out = ::SysAllocString(result.c_str());
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace
