#include "toolkit/dtm/dtm_information.h"

#include <string>

#include "com/Guard.h"
#include "com/Module.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/xml/user_messages.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"

const wchar_t kDtmInformationNamespace[] = L"x-schema:DTMInformationSchema.xml";

namespace {

constexpr LONG kFirstInformationState = 6;
constexpr LONG kFirstDiagnosisState = 8;
constexpr LONG kLastState = 12;
constexpr ULONG kRoleOperator = 2;
// Toolkit message of the data-set verification.
constexpr ULONG kMessageInvalidParameters = 2002;
// ParInfo field selector of the current value.
constexpr ULONG kSelectorValue = 0x80;
// Validation status bit of an invalid value.
constexpr ULONG kStatusInvalid = 0x4;

const wchar_t kDeviceTypesPath[] = L"//DtmInfo/DtmDeviceTypes/fdt:DtmDeviceType";
const wchar_t kFirstDeviceTypePath[] = L"FDT/DtmInfo/DtmDeviceTypes/fdt:DtmDeviceType";

bool InRange(LONG value, LONG low, LONG high) { return value >= low && value <= high; }

// The namespaces the toolkit's queries use: fdt for the FDT data types.
HRESULT PrepareQueries(IXMLDOMDocument2* doc) {
  com::Variant namespaces(L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"");
  return doc->setProperty(com::Bstr(L"SelectionNamespaces").get(), namespaces.value());
}

HRESULT SelectNode(IXMLDOMNode* from, const wchar_t* xpath, IXMLDOMNode** node) {
  *node = nullptr;
  HRESULT hr = from->selectSingleNode(com::Bstr(xpath).get(), node);
  if (FAILED(hr)) return hr;
  return *node ? S_OK : S_FALSE;
}

HRESULT LoadPlain(const wchar_t* text, com::ComPtr<IXMLDOMDocument2>& doc) {
  VARIANT_BOOL created = VARIANT_FALSE;
  HRESULT hr = XmlCreateAndLoad(text, doc.put(), &created);
  if (FAILED(hr)) return hr;
  com::ComPtr<IXMLDOMElement> root;
  if (!doc || FAILED(doc->get_documentElement(root.put())) || !root) return E_FAIL;
  return PrepareQueries(doc.get());
}

HRESULT DocumentText(IXMLDOMDocument2* doc, BSTR* out) { return doc->get_xml(out); }

}  // namespace

DtmInformationCore::~DtmInformationCore() = default;

// ---------------------------------------------------------------------------
// IDtmInformation
// ---------------------------------------------------------------------------

STDMETHODIMP DtmInformationCore::GetInformation(BSTR* information) {
  return com::guard([&]() -> HRESULT {
    if (!InRange(InfoState(), kFirstInformationState, kLastState)) return S_FALSE;
    if (!information) return E_INVALIDARG;
    *information = nullptr;

    com::Bstr text;
    HRESULT hr = GetDtmInfoXml(DtmInfoTemplateId(), text.put());
    if (FAILED(hr)) return hr;
    if (InfoFrameIs121()) {
      com::Bstr withDocuments;
      if (SUCCEEDED(AddDeviceTypeDocuments(text.c_str(), withDocuments.put())) && withDocuments.get()) {
        text = std::move(withDocuments);
      }
    }
    // The language step always answers a text; its problems never fail the
    // information document.
    com::Bstr answer;
    AddSupportedLanguages(text.c_str(), answer.put());
    if (!answer.get()) answer = std::move(text);
    *information = answer.detach();
    return S_OK;
  });
}

HRESULT DtmInformationCore::GetDtmInfoXml(WORD resourceId, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  HMODULE module = InfoResourceModule();
  HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(23));
  if (!found) return E_FAIL;
  DWORD size = ::SizeofResource(module, found);
  HGLOBAL loaded = ::LoadResource(module, found);
  const char* bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
  if (!bytes || size == 0) return E_FAIL;
  // The resource is not zero-terminated: the bytes and a terminating zero.
  std::string copy(bytes, size);
  com::Bstr converted;
  HRESULT hr = converted.assignMultiByte(copy.c_str());
  if (FAILED(hr)) return hr;
  if (converted.empty()) return E_FAIL;
  *text = converted.detach();
  return S_OK;
}

HRESULT DtmInformationCore::AddDeviceTypeDocuments(const wchar_t* document, BSTR* out) {
  return com::guard([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    IUnknown* dtm = InfoDtmObject();
    com::ComPtr<IevFdtExtDocument> documents;
    if (!dtm || FAILED(dtm->QueryInterface(__uuidof(IevFdtExtDocument), documents.putVoid())) ||
        !documents) {
      return com::Bstr(document).copyTo(out);
    }

    com::ComPtr<IXMLDOMDocument2> doc;
    HRESULT hr = LoadPlain(document, doc);
    if (FAILED(hr)) return hr;
    com::ComPtr<IXMLDOMNodeList> deviceTypes;
    hr = doc->selectNodes(com::Bstr(kDeviceTypesPath).get(), deviceTypes.put());
    if (FAILED(hr)) return hr;
    LONG count = 0;
    if (deviceTypes) deviceTypes->get_length(&count);
    for (LONG i = 0; i < count; ++i) {
      com::ComPtr<IXMLDOMNode> deviceType;
      if (FAILED(deviceTypes->get_item(i, deviceType.put())) || !deviceType) continue;
      com::Bstr id;
      BYTE hasId = 0;
      XmlHandlerCore::GetOptionalNodeText(id.put(), &hasId, deviceType.get(), L"@dtmDevTypeID");
      if (XmlNodeExists(deviceType.get(), L"fdt:DtmDocuments") <= 0) continue;

      using Method = HRESULT (STDMETHODCALLTYPE IevFdtExtDocument::*)(BSTR, BSTR*);
      const Method methods[] = {&IevFdtExtDocument::GetDocuments, &IevFdtExtDocument::GetDeviceBitmaps,
                                &IevFdtExtDocument::GetDeviceIcons};
      for (Method method : methods) {
        com::Bstr fragment;
        if (FAILED((documents.get()->*method)(id.get(), fragment.put())) || fragment.empty()) continue;
        com::ComPtr<IXMLDOMNode> last;
        XmlAppendFragmentChildren(doc.get(), deviceType.get(), fragment.get(), kFdtDataTypesNamespace,
                                  last.put());
      }
    }
    return DocumentText(doc.get(), out);
  });
}

HRESULT DtmInformationCore::AddSupportedLanguages(const wchar_t* document, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  HRESULT hr = com::guard([&]() -> HRESULT {
    IUnknown* dtm = InfoDtmObject();
    com::ComPtr<IevFdtTranslation> translation;
    if (!dtm || FAILED(dtm->QueryInterface(__uuidof(IevFdtTranslation), translation.putVoid())) ||
        !translation) {
      return S_OK;
    }
    long count = 0;
    if (FAILED(translation->GetLanguageCount(&count)) || count <= 0) return S_OK;

    com::ComPtr<IXMLDOMDocument2> doc;
    HRESULT step = LoadPlain(document, doc);
    if (FAILED(step)) return step;
    com::ComPtr<IXMLDOMNode> deviceType, previous;
    if (SelectNode(doc.get(), kFirstDeviceTypePath, deviceType.put()) != S_OK) return E_FAIL;
    if (SelectNode(deviceType.get(), L"fdt:SupportedLanguages", previous.put()) != S_OK) return E_FAIL;

    com::ComPtr<IXMLDOMNode> languages;
    com::Bstr languagesName(L"fdt:SupportedLanguages"), languageName(L"fdt:LanguageId");
    com::Bstr ns(kFdtDataTypesNamespace);
    step = doc->createNode(*CFdtVariant(ULONG(NODE_ELEMENT)).get(), languagesName.get(), ns.get(),
                           languages.put());
    if (FAILED(step)) return step;
    for (long i = 0; i < count; ++i) {
      unsigned long id = 0;
      step = translation->GetLanguageIdAt(i, &id);
      if (FAILED(step)) return step;
      com::ComPtr<IXMLDOMNode> language, appended;
      step = doc->createNode(*CFdtVariant(ULONG(NODE_ELEMENT)).get(), languageName.get(), ns.get(),
                             language.put());
      if (FAILED(step)) return step;
      com::ComPtr<IXMLDOMElement> element;
      step = language->QueryInterface(__uuidof(IXMLDOMElement), element.putVoid());
      if (FAILED(step)) return step;
      step = element->setAttribute(com::Bstr(L"languageId").get(), *com::Variant(std::to_wstring(id).c_str()).get());
      if (FAILED(step)) return step;
      step = languages->appendChild(language.get(), appended.put());
      if (FAILED(step)) return step;
    }
    com::ComPtr<IXMLDOMNode> replaced;
    step = deviceType->replaceChild(languages.get(), previous.get(), replaced.put());
    if (FAILED(step)) return step;
    return DocumentText(doc.get(), out);
  });
  // Whatever failed after the start, the caller gets the text it gave.
  if (!*out) {
    HRESULT copied = com::Bstr(document).copyTo(out);
    if (FAILED(copied)) return copied;
  }
  return hr;
}

// ---------------------------------------------------------------------------
// IDtmDiagnosis
// ---------------------------------------------------------------------------

STDMETHODIMP DtmInformationCore::Verify(VARIANT_BOOL* valid) {
  return com::guard([&]() -> HRESULT {
    if (!valid) return E_INVALIDARG;
    *valid = VARIANT_FALSE;
    if (!InRange(InfoState(), kFirstDiagnosisState, kLastState)) return S_FALSE;
    return RunDiagnosis(valid);
  });
}

STDMETHODIMP DtmInformationCore::InitCompare(BSTR systemTag, VARIANT_BOOL* result) {
  return com::guard([&]() -> HRESULT {
    if (!result) return E_INVALIDARG;
    *result = VARIANT_FALSE;
    if (!InRange(InfoState(), kFirstDiagnosisState, kLastState) || InfoUserRole() < kRoleOperator) {
      return S_FALSE;
    }
    if (compareActive_) {
      *result = VARIANT_TRUE;
      return S_OK;
    }
    com::ComPtr<IFrameTopology> topology = Topology();
    if (!topology) return E_POINTER;
    com::ComPtr<IUnknown> partner;
    HRESULT hr = topology->GetDtmForSystemTag(systemTag, partner.put());
    if (FAILED(hr)) return hr;
    if (!partner) return E_FAIL;
    compareTag_.reset(com::Bstr(systemTag).detach());
    com::ComPtr<IevFdtParameterInfo> info;
    if (SUCCEEDED(partner->QueryInterface(__uuidof(IevFdtParameterInfo), info.putVoid())) && info) {
      comparePartner_ = info;
      compareActive_ = true;
      *result = VARIANT_TRUE;
      return S_OK;
    }
    // A partner without parameters cannot be compared: give it back.
    VARIANT_BOOL released = VARIANT_FALSE;
    topology->ReleaseDtmForSystemTag(compareTag_.get(), &released);
    compareTag_.reset();
    return S_OK;
  });
}

STDMETHODIMP DtmInformationCore::CompareWithReference(VARIANT_BOOL* equal) {
  return com::guard([&]() -> HRESULT {
    if (!equal) return E_INVALIDARG;
    *equal = VARIANT_FALSE;
    return CompareWithPartner(equal);
  });
}

STDMETHODIMP DtmInformationCore::ReleaseCompare(VARIANT_BOOL* result) {
  return com::guard([&]() -> HRESULT {
    if (!result) return E_INVALIDARG;
    *result = VARIANT_FALSE;
    if (!InRange(InfoState(), kFirstDiagnosisState, kLastState) || InfoUserRole() < kRoleOperator) {
      return S_FALSE;
    }
    if (compareActive_) {
      com::ComPtr<IFrameTopology> topology = Topology();
      if (!topology) return E_POINTER;
      VARIANT_BOOL released = VARIANT_FALSE;
      HRESULT hr = topology->ReleaseDtmForSystemTag(compareTag_.get(), &released);
      if (FAILED(hr)) return hr;
      if (released) DropPartner();
    }
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

com::ComPtr<IFrameTopology> DtmInformationCore::Topology() {
  com::ComPtr<IFrameTopology> topology;
  IUnknown* frame = InfoFrameObject();
  if (frame) frame->QueryInterface(__uuidof(IFrameTopology), topology.putVoid());
  return topology;
}

void DtmInformationCore::DropPartner() {
  comparePartner_ = nullptr;
  compareTag_.reset();
  compareActive_ = false;
}

// ---------------------------------------------------------------------------
// Default hooks
// ---------------------------------------------------------------------------

HMODULE DtmInformationCore::InfoResourceModule() {
  HMODULE module = com::module().instance();
  if (module) return module;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&kDtmInformationNamespace), &module);
  return module;
}

HRESULT DtmInformationCore::RunDiagnosis(VARIANT_BOOL* valid) {
  if (!valid) return E_INVALIDARG;
  *valid = VARIANT_FALSE;
  IUnknown* dtm = InfoDtmObject();
  com::ComPtr<IevFdtParameterInfo> info;
  com::ComPtr<IevFdtParameterValidation> validation;
  if (!dtm || FAILED(dtm->QueryInterface(__uuidof(IevFdtParameterInfo), info.putVoid())) || !info ||
      FAILED(dtm->QueryInterface(__uuidof(IevFdtParameterValidation), validation.putVoid())) ||
      !validation) {
    *valid = VARIANT_TRUE;  // no parameters, nothing invalid
    return S_OK;
  }
  com::Variant countValue;
  HRESULT hr = info->GetCount(countValue.put());
  if (FAILED(hr)) return hr;
  ULONG count = 0;
  hr = CFdtVariant::GetUI4(countValue.value(), &count);
  if (FAILED(hr)) return hr;

  bool anyInvalid = false;
  for (ULONG i = 0; i < count; ++i) {
    com::Variant id, value;
    hr = info->GetParameterId(*CFdtVariant(i).get(), id.put());
    if (FAILED(hr)) return hr;
    hr = info->GetParameterInfo(id.value(), *CFdtVariant(kSelectorValue).get(), value.put());
    if (FAILED(hr)) return hr;
    unsigned long status = 0;
    hr = validation->Validate(id.value(), value.value(), &status);
    if (FAILED(hr)) return hr;
    if ((status & kStatusInvalid) && !anyInvalid) {
      anyInvalid = true;
      com::Bstr text;
      GetToolkitMessage(dtm, kMessageInvalidParameters, ToolkitMessageUser::Dtm, text.put());
      InfoReportMessage(text.c_str() ? text.c_str() : L"");
    }
  }
  *valid = anyInvalid ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

HRESULT DtmInformationCore::CompareWithPartner(VARIANT_BOOL* equal) {
  // *equal stays false on every path but the last.
  if (!InRange(InfoState(), kFirstDiagnosisState, kLastState) || InfoUserRole() < kRoleOperator)
    return S_FALSE;
  if (!compareActive_) return S_OK;
  IevFdtParameterInfo* reference = comparePartner_.get();
  com::ComPtr<IevFdtParameterInfo> own;
  IUnknown* dtm = InfoDtmObject();
  if (!reference || !dtm ||
      FAILED(dtm->QueryInterface(__uuidof(IevFdtParameterInfo), own.putVoid())) || !own)
    return E_POINTER;

  com::Variant referenceCount, ownCount;
  HRESULT hr = reference->GetCount(referenceCount.put());
  if (SUCCEEDED(hr)) hr = own->GetCount(ownCount.put());
  if (FAILED(hr)) return hr;
  ULONG count = 0, ownNumber = 0;
  if (FAILED(CFdtVariant::GetUI4(referenceCount.value(), &count)) ||
      FAILED(CFdtVariant::GetUI4(ownCount.value(), &ownNumber)) || count != ownNumber)
    return S_OK;
  for (ULONG i = 0; i < count; ++i) {
    com::Variant referenceId, ownId, referenceValue, ownValue;
    hr = reference->GetParameterId(*CFdtVariant(i).get(), referenceId.put());
    if (SUCCEEDED(hr)) hr = own->GetParameterId(*CFdtVariant(i).get(), ownId.put());
    if (FAILED(hr)) return hr;
    if (!CFdtVariant::IsEqual(referenceId.value(), ownId.value())) return S_OK;
    hr = reference->GetParameterInfo(referenceId.value(), *CFdtVariant(kSelectorValue).get(),
                                     referenceValue.put());
    if (SUCCEEDED(hr))
      hr = own->GetParameterInfo(ownId.value(), *CFdtVariant(kSelectorValue).get(), ownValue.put());
    if (FAILED(hr)) return hr;
    if (!CFdtVariant::IsEqual(referenceValue.value(), ownValue.value())) return S_OK;
  }
  *equal = VARIANT_TRUE;
  return S_OK;
}
