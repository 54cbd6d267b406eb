// The DTMParameterSchema document of IDtmParameter and the document-variable
// lines of the function documentation.
#include "toolkit/documents/parameter_document.h"

#include <cwchar>
#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/online/transfer_interface.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/fdt_variant_element.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"

namespace {

constexpr wchar_t kDocumentTemplate[] =
    L"<?xml version=\"1.0\"?> <FDT xmlns\t\t\t\t=\"x-schema:DTMParameterSchema.xml\" "
    L"\txmlns:fdt\t\t\t=\"x-schema:FDTDataTypesSchema.xml\" \tfdt:storageState\t=\"%s\" "
    L"\tfdt:dataSetState\t=\"%s\"> \t%s \t<DtmDevice fdt:tag=\"%s\"> \t%s\t%s\t</DtmDevice> "
    L"</FDT> ";
constexpr wchar_t kParameterNamespace[] = L"x-schema:DTMParameterSchema.xml";
constexpr wchar_t kDocumentVariable[] =
    L"\t\t\t<DocumentVariable fdt:name=\"%s\" fdt:display=\"%s\" />";
// Characters that separate the names of a group path.
constexpr wchar_t kGroupSeparators[] = L" .,:;/";
constexpr LONG kFirstDocumentState = 6;
constexpr LONG kLastDocumentState = 12;
constexpr ULONG kTagParameter = 1;
// Low two bits of ParInfo::number: how an exported variable is written.
constexpr ULONG kRepresentationMask = 0x3;
constexpr ULONG kAsDisplay = 1;
constexpr ULONG kAsVariant = 2;

std::wstring orBlank(const wchar_t* text) {
  return (text && *text) ? std::wstring(text) : std::wstring(L" ");
}

std::vector<std::wstring> groupNames(const wchar_t* path) {
  std::vector<std::wstring> names;
  std::wstring current;
  for (const wchar_t* p = path ? path : L""; *p; ++p) {
    if (std::wcschr(kGroupSeparators, *p)) {
      if (!current.empty()) names.push_back(current);
      current.clear();
    } else {
      current += *p;
    }
  }
  if (!current.empty()) names.push_back(current);
  return names;
}

HRESULT setAttribute(IXMLDOMDocument* doc, IXMLDOMNode* node, const wchar_t* name,
                     const wchar_t* text) {
  return XmlHandlerCore::SetAttribute(doc, node, name, com::Variant(text).value());
}

HRESULT attributeEquals(IXMLDOMNode* node, const wchar_t* name, const wchar_t* text, bool* equal) {
  *equal = false;
  com::ComPtr<IXMLDOMElement> element;
  if (FAILED(node->QueryInterface(__uuidof(IXMLDOMElement), element.putVoid()))) return S_OK;
  com::Variant value;
  HRESULT hr = element->getAttribute(com::Bstr(name).get(), value.get());
  if (FAILED(hr)) return hr;
  *equal = value.type() == VT_BSTR && std::wcscmp(V_BSTR(value.get()) ? V_BSTR(value.get()) : L"",
                                                  text) == 0;
  return S_OK;
}

// The group of that name under parent, created when there is none. The name
// is compared as an attribute value, never formatted into a query.
HRESULT groupOf(IXMLDOMDocument* doc, IXMLDOMNode* parent, const std::wstring& name,
                IXMLDOMNode** out) {
  *out = nullptr;
  com::ComPtr<IXMLDOMNodeList> groups;
  HRESULT hr = parent->selectNodes(com::Bstr(L"fdt:DtmVariables").get(), groups.put());
  if (SUCCEEDED(hr) && groups) {
    for (;;) {
      com::ComPtr<IXMLDOMNode> node;
      if (groups->nextNode(node.put()) != S_OK || !node) break;
      bool equal = false;
      if (SUCCEEDED(attributeEquals(node.get(), L"name", name.c_str(), &equal)) && equal) {
        *out = node.detach();
        return S_OK;
      }
    }
  }
  com::ComPtr<IXMLDOMNode> group;
  hr = XmlAppendElement(doc, parent, L"fdt:DtmVariables", kFdtDataTypesNamespace, group.put());
  if (FAILED(hr)) return hr;
  hr = setAttribute(doc, group.get(), L"name", name.c_str());
  if (FAILED(hr)) return hr;
  *out = group.detach();
  return S_OK;
}

// The value as an fdt:Variant element, written by the one fdt:Variant writer
// that data access uses too.
HRESULT appendVariant(IXMLDOMDocument* doc, IXMLDOMNode* parent, const VARIANT& value) {
  com::Bstr variant;
  HRESULT hr = BuildFdtVariant(value, variant.put());
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return E_INVALIDARG;  // no FDT data type for this value
  com::ComPtr<IXMLDOMNode> appended;
  return XmlAppendParsedElement(doc, parent, variant.c_str(), kFdtDataTypesNamespace,
                                appended.put());
}

// One exported parameter's fdt:DtmVariable, in the group its path names
// below top. A variable that cannot be written is taken out again.
HRESULT appendVariable(IXMLDOMDocument* doc, IXMLDOMNode* top, const ParInfo& record) {
  com::ComPtr<IXMLDOMNode> group(top);
  for (const std::wstring& name : groupNames(record.text3.c_str())) {
    com::ComPtr<IXMLDOMNode> inner;
    HRESULT hr = groupOf(doc, group.get(), name, inner.put());
    if (FAILED(hr)) return hr;
    group = inner;
  }
  com::ComPtr<IXMLDOMNode> variable, valueNode;
  HRESULT hr =
      XmlAppendElement(doc, group.get(), L"fdt:DtmVariable", kFdtDataTypesNamespace, variable.put());
  if (FAILED(hr)) return hr;
  hr = setAttribute(doc, variable.get(), L"name", record.name.c_str() ? record.name.c_str() : L"");
  if (SUCCEEDED(hr) && !record.text.empty())
    hr = setAttribute(doc, variable.get(), L"descriptor", record.text.c_str());
  if (SUCCEEDED(hr))
    hr = XmlAppendElement(doc, variable.get(), L"fdt:Value", kFdtDataTypesNamespace,
                          valueNode.put());
  if (SUCCEEDED(hr)) {
    const bool device = record.kind == kParKindDevice;
    const bool readable = device ? (record.flags & kParFlagOnlineRead) != 0 : true;
    const bool writable = device ? (record.flags & kParFlagOnlineWrite) != 0
                                 : (record.flags & kParFlagWritable) != 0;
    hr = setAttribute(doc, valueNode.get(), L"readAccess", readable ? L"1" : L"0");
    if (SUCCEEDED(hr)) hr = setAttribute(doc, valueNode.get(), L"writeAccess", writable ? L"1" : L"0");
  }
  if (SUCCEEDED(hr)) {
    switch (record.number & kRepresentationMask) {
      case kAsDisplay: hr = WriteDisplayValue(doc, valueNode.get(), record.value.value()); break;
      case kAsVariant: hr = appendVariant(doc, valueNode.get(), record.value.value()); break;
      default: hr = E_FAIL; break;
    }
  }
  if (FAILED(hr)) {
    com::ComPtr<IXMLDOMNode> removed;
    group->removeChild(variable.get(), removed.put());
  }
  return hr;
}

bool isExported(const ParInfo& record) {
  return (record.number & kRepresentationMask) != 0 && (record.flags & kParFlagOnlineRead) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Document-variable line
// ---------------------------------------------------------------------------

HRESULT BuildDocumentVariables(IUnknown* dtmObject, ULONG parameterId, BSTR* line) {
  if (!line) return E_INVALIDARG;
  *line = nullptr;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IevFdtParameterHandler4> handler;
    if (!dtmObject ||
        FAILED(dtmObject->QueryInterface(__uuidof(IevFdtParameterHandler4), handler.putVoid())))
      return E_FAIL;
    com::Variant id;
    V_VT(id.get()) = VT_UI4;
    V_UI4(id.get()) = parameterId;
    com::Variant value, minimum, maximum, defaultValue, flags;
    com::Bstr text;
    unsigned short vt = VT_EMPTY;
    HRESULT hr = handler->GetParameterDescription(id.value(), value.get(), text.put(), &vt,
                                                  minimum.get(), maximum.get(), defaultValue.get(),
                                                  flags.get());
    if (FAILED(hr)) return hr;
    com::Bstr typeName, name, escapedName, display, escapedDisplay;
    typeName.attach(VarTypeToStringEx(vt));
    hr = FormatBstr(name.put(), L"%s (%s)", text.c_str() ? text.c_str() : L"", typeName.c_str());
    if (SUCCEEDED(hr)) hr = EscapeXmlText(name.c_str(), escapedName.put());
    if (SUCCEEDED(hr)) hr = VariantToString(value.get(), display.put());
    if (SUCCEEDED(hr)) hr = EscapeXmlText(display.c_str(), escapedDisplay.put());
    if (FAILED(hr)) return hr;
    return FormatBstr(line, kDocumentVariable, escapedName.c_str(), escapedDisplay.c_str());
  });
}

// ---------------------------------------------------------------------------
// IDtmParameter
// ---------------------------------------------------------------------------

HRESULT ParameterDocumentCore::DocumentDataText(BSTR* text) {
  *text = nullptr;
  return S_OK;
}

HRESULT ParameterDocumentCore::OnSetParameters(BSTR, BSTR document, VARIANT_BOOL* result) {
  if (result) *result = VARIANT_FALSE;
  auto transfer = DocumentDtm().DtmInterface<IevFdtOnlineTransfer>();
  if (!transfer) return E_NOTIMPL;
  return transfer->SetParameterDocument(document, result);
}

STDMETHODIMP ParameterDocumentCore::SetParameters(BSTR path, BSTR document,
                                                  VARIANT_BOOL* result) {
  return com::guard([&] { return OnSetParameters(path, document, result); });
}

STDMETHODIMP ParameterDocumentCore::GetParameters(BSTR, BSTR* document) {
  if (!document) return E_INVALIDARG;
  *document = nullptr;
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = DocumentDtm();
    const LONG state = dtm.State();
    if (state < kFirstDocumentState || state > kLastDocumentState) {
      *document = ::SysAllocString(L"");
      return S_FALSE;
    }
    IUnknown* object = dtm.GetCommDtmInterface();

    com::Bstr storage, dataState, dataText;
    HRESULT hr = StorageToText(DocumentStorageFlag(), storage.put());
    if (SUCCEEDED(hr)) hr = DataStateToText(static_cast<LONG>(DocumentDataState()), dataState.put());
    if (SUCCEEDED(hr)) hr = DocumentDataText(dataText.put());
    if (FAILED(hr)) return hr;

    com::ComPtr<IevFdtParameterHandler4> handler;
    if (FAILED(object->QueryInterface(__uuidof(IevFdtParameterHandler4), handler.putVoid())))
      return E_FAIL;
    com::Variant tag;
    hr = handler->GetParameterValue(com::Variant(static_cast<LONG>(kTagParameter)).value(),
                                    tag.get());
    if (FAILED(hr)) return hr;
    if (tag.type() != VT_BSTR) return E_INVALIDARG;
    com::Bstr escapedTag;
    hr = EscapeXmlText(V_BSTR(tag.get()), escapedTag.put());
    if (FAILED(hr)) return hr;

    com::Bstr channels;
    com::ComPtr<IevFdtChannelContainer4> container;
    if (SUCCEEDED(object->QueryInterface(__uuidof(IevFdtChannelContainer4), container.putVoid()))) {
      hr = container->GetChannelReferences(channels.put());
      if (FAILED(hr)) return hr;
    }

    com::Bstr formatted;
    hr = FormatBstr(formatted.put(), kDocumentTemplate, storage.c_str(), dataState.c_str(),
                    dataText.c_str() ? dataText.c_str() : L"", orBlank(escapedTag.c_str()).c_str(),
                    orBlank(channels.c_str()).c_str(), orBlank(nullptr).c_str());
    if (FAILED(hr)) return hr;

    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = dtm.Xml().LoadXMLDocument(formatted.c_str(), doc.put(), &loaded);
    if (FAILED(hr)) return hr;
    if (!loaded || !doc) {
      *document = formatted.detach();
      return S_OK;
    }
    doc->setProperty(com::Bstr(L"SelectionNamespaces").get(),
                     com::Variant(L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"").value());

    com::ComPtr<IXMLDOMNode> exported, top;
    hr = XmlAppendElementAt(doc.get(), L"FDT/DtmDevice", L"ExportedVariables", kParameterNamespace,
                            exported.put());
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE || !exported) {
      *document = formatted.detach();
      return S_OK;
    }
    hr = XmlAppendElement(doc.get(), exported.get(), L"fdt:DtmVariables", kFdtDataTypesNamespace,
                          top.put());
    if (SUCCEEDED(hr)) hr = setAttribute(doc.get(), top.get(), L"name", L"ExportedVariables");
    if (FAILED(hr)) return hr;

    com::ComPtr<IevFdtParameterStore> store;
    if (FAILED(object->QueryInterface(IID_IevFdtParameterStore, store.putVoid()))) return E_FAIL;
    ULONG count = 0;
    hr = store->GetParameterCount(&count);
    if (FAILED(hr)) return hr;
    ULONG written = 0;
    for (ULONG i = 0; i < count; ++i) {
      ParInfo record;
      hr = store->GetParameterAt(i, &record);
      if (FAILED(hr)) return hr;
      if (!isExported(record)) continue;
      if (SUCCEEDED(appendVariable(doc.get(), top.get(), record))) ++written;
    }
    if (written == 0) {
      *document = formatted.detach();
      return S_OK;
    }
    return doc->get_xml(document);
  });
}
