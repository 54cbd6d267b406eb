// Parameter values as the flat PARAMETERS text and back, and the private
// properties kept as a small XML text in each parameter's extra5 field.
#include <cwchar>
#include <string>

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/params/parameters_text.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"

namespace {

constexpr wchar_t kEmptyPrivateProperties[] = L"<PrivateProperties> </PrivateProperties>";

HRESULT attributeText(IXMLDOMNode* node, const wchar_t* name, BSTR* out, bool* present) {
  *out = nullptr;
  *present = false;
  com::ComPtr<IXMLDOMElement> element;
  if (FAILED(node->QueryInterface(__uuidof(IXMLDOMElement), element.putVoid()))) return E_FAIL;
  com::Variant value;
  HRESULT hr = element->getAttribute(com::Bstr(name).get(), value.get());
  if (FAILED(hr)) return hr;
  if (hr == S_FALSE || value.type() != VT_BSTR) return S_OK;
  *present = true;
  *out = ::SysAllocStringLen(V_BSTR(value.get()), ::SysStringLen(V_BSTR(value.get())));
  return S_OK;
}

HRESULT setAttributeText(IXMLDOMNode* node, const wchar_t* name, const wchar_t* text) {
  com::ComPtr<IXMLDOMElement> element;
  if (FAILED(node->QueryInterface(__uuidof(IXMLDOMElement), element.putVoid()))) return E_FAIL;
  return element->setAttribute(com::Bstr(name).get(), com::Variant(text).value());
}

// The Property element named name under root, compared by its attribute
// rather than through a formatted XPath, so that any name is safe.
HRESULT findProperty(IXMLDOMNode* root, const wchar_t* name, IXMLDOMNode** out) {
  *out = nullptr;
  com::ComPtr<IXMLDOMNodeList> list;
  HRESULT hr = root->selectNodes(com::Bstr(L"Property").get(), list.put());
  if (FAILED(hr)) return hr;
  for (;;) {
    com::ComPtr<IXMLDOMNode> node;
    if (list->nextNode(node.put()) != S_OK || !node) return S_FALSE;
    com::Bstr text;
    bool present = false;
    if (SUCCEEDED(attributeText(node.get(), L"name", text.put(), &present)) && present &&
        std::wcscmp(text.c_str(), name) == 0) {
      *out = node.detach();
      return S_OK;
    }
  }
}

// The private properties of a parameter (its information field 5) as a
// document and its PrivateProperties element; an empty field holds none yet.
// E_NOTIMPL when the field holds anything but text.
HRESULT loadPrivateProperties(CevFDT_ParameterHandlerCore& handler, ULONG parameterId, IXMLDOMDocument2** doc,
                              IXMLDOMNode** root) {
  com::Variant field;
  HRESULT hr = handler.GetParameterInfo(com::ui4(parameterId).value(), com::ui4(kParExtra5).value(), field.get());
  if (FAILED(hr)) return hr;
  if (field.type() != VT_BSTR && field.type() != VT_EMPTY) return E_NOTIMPL;
  const wchar_t* text =
      (field.type() == VT_BSTR && ::SysStringLen(V_BSTR(field.get()))) ? V_BSTR(field.get()) : kEmptyPrivateProperties;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  com::ComPtr<IXMLDOMDocument2> loaded;
  hr = XmlHandlerCore::LoadOutsideDocument(text, loaded.put(), &parsed);
  if (FAILED(hr)) return hr;
  if (!parsed) return E_FAIL;
  hr = loaded->selectSingleNode(com::Bstr(L"PrivateProperties").get(), root);
  if (hr != S_OK || !*root) return E_FAIL;
  *doc = loaded.detach();
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// PARAMETERS text
// ---------------------------------------------------------------------------

HRESULT CevFDT_ParameterHandlerCore::ExportParameters(const wchar_t* progressText, bool onlyMarked,
                                                      bool onlyExportable, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    ULONG count = 0;
    HRESULT hr = GetParameterCount(&count);
    if (FAILED(hr)) return hr;
    std::wstring entries;
    for (ULONG i = 0; i < count; ++i) {
      if (progressText) OnParamProgress(i, count, progressText);
      ParInfo record;
      hr = GetParameterAt(i, &record);
      if (FAILED(hr)) return hr;
      if (onlyMarked && !record.persist) continue;
      if (onlyExportable && !(record.flags & kParFlagWritten)) continue;
      com::Bstr entry;
      if (SUCCEEDED(FormatParametersEntry(record.id, record.text.c_str(), record.value.value(),
                                          entry.put())))
        entries += entry.c_str();
    }
    if (progressText) OnParamProgress(0, count, L"");
    if (entries.empty()) return S_OK;
    return FormatParametersList(entries.c_str(), out);
  });
}

HRESULT CevFDT_ParameterHandlerCore::LoadParameterValues(const wchar_t* document,
                                                         const wchar_t* progressText) {
  if (!document) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL parsed = VARIANT_FALSE;
    HRESULT hr = XmlHandlerCore::LoadOutsideDocument(document, doc.put(), &parsed);
    if (FAILED(hr)) return hr;
    if (!parsed) return E_FAIL;

    ULONG count = 0;
    hr = GetParameterCount(&count);
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < count; ++i) {
      if (progressText) OnParamProgress(i, count, progressText);
      ULONG id = 0;
      hr = GetParameterIdByIndex(i, &id);
      if (FAILED(hr)) return hr;
      com::Bstr xpath;
      hr = FormatBstr(xpath.put(), L"PARAMETERS/Parameter[@id=\"%lu\"]", id);
      if (FAILED(hr)) return hr;
      com::ComPtr<IXMLDOMNodeList> nodes;
      LONG found = 0;
      if (FAILED(doc->selectNodes(xpath.get(), nodes.put())) || !nodes ||
          FAILED(nodes->get_length(&found)) || found != 1)
        continue;
      com::ComPtr<IXMLDOMNode> node;
      if (nodes->get_item(0, node.put()) != S_OK || !node) continue;

      ParInfo record;
      hr = GetParInfo(id, kParVt, &record);
      if (FAILED(hr)) return hr;
      com::Bstr declared;
      declared.attach(VarTypeToStringEx(record.vt));
      com::Bstr type, text;
      bool hasType = false, hasValue = false;
      if (FAILED(attributeText(node.get(), L"type", type.put(), &hasType)) || !hasType ||
          std::wcscmp(type.c_str(), declared.c_str()) != 0)
        continue;
      if (FAILED(attributeText(node.get(), L"value", text.put(), &hasValue)) || !hasValue)
        continue;
      com::Variant value;
      if (FAILED(ParametersValueFromText(text.c_str(), record.vt, value.get()))) continue;
      WriteValue(id, value.value());
    }
    if (progressText) OnParamProgress(0, count, L"");
    return S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::Export(BSTR* parameters) {
  return ExportParameters(nullptr, false, true, parameters);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::Import(BSTR parameters) {
  return LoadParameterValues(parameters, nullptr);
}

// ---------------------------------------------------------------------------
// Private properties
// ---------------------------------------------------------------------------

HRESULT CevFDT_ParameterHandlerCore::GetPrivateProperty(ULONG parameterId, const wchar_t* name,
                                                        VARIANT* value) {
  if (!value) return E_POINTER;
  ::VariantInit(value);
  if (!name) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IXMLDOMDocument2> doc;
    com::ComPtr<IXMLDOMNode> root, property;
    HRESULT hr = loadPrivateProperties(*this, parameterId, doc.put(), root.put());
    if (FAILED(hr)) return hr;
    if (findProperty(root.get(), name, property.put()) != S_OK) return E_INVALIDARG;

    VARIANT_BOOL children = VARIANT_FALSE;
    if (SUCCEEDED(property->hasChildNodes(&children)) && children) {
      com::Bstr xml;
      hr = property->get_xml(xml.put());
      if (FAILED(hr)) return hr;
      V_VT(value) = VT_BSTR;
      V_BSTR(value) = xml.detach();
      return S_OK;
    }
    com::Bstr text, type;
    bool hasValue = false, hasType = false;
    attributeText(property.get(), L"value", text.put(), &hasValue);
    attributeText(property.get(), L"type", type.put(), &hasType);
    VARTYPE vartype = VT_BSTR;
    if (hasType && FAILED(VarTypeFromString(type.c_str(), &vartype))) vartype = VT_BSTR;
    return ParametersValueFromText(text.c_str() ? text.c_str() : L"", vartype, value);
  });
}

HRESULT CevFDT_ParameterHandlerCore::SetPrivateProperty(ULONG parameterId, const wchar_t* name,
                                                        const VARIANT& value) {
  if (!name) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IXMLDOMDocument2> doc;
    com::ComPtr<IXMLDOMNode> root, property;
    HRESULT hr = loadPrivateProperties(*this, parameterId, doc.put(), root.put());
    if (FAILED(hr)) return hr;

    com::Bstr text;
    hr = ParametersValueText(value, text.put());
    if (FAILED(hr)) return hr;
    com::Bstr type;
    type.attach(VarTypeToStringEx(V_VT(&value)));

    if (findProperty(root.get(), name, property.put()) == S_OK) {
      // The type follows the value, so that it reads back as it was set.
      hr = setAttributeText(property.get(), L"value", text.c_str());
      if (SUCCEEDED(hr)) hr = setAttributeText(property.get(), L"type", type.c_str());
    } else {
      hr = XmlAppendElement(doc.get(), root.get(), L"Property", L"", property.put());
      if (SUCCEEDED(hr)) hr = setAttributeText(property.get(), L"name", name);
      if (SUCCEEDED(hr)) hr = setAttributeText(property.get(), L"value", text.c_str());
      if (SUCCEEDED(hr)) hr = setAttributeText(property.get(), L"type", type.c_str());
    }
    if (FAILED(hr)) return hr;
    com::Bstr xml;
    hr = root->get_xml(xml.put());
    if (FAILED(hr)) return hr;
    return SetParameterInfo(com::ui4(parameterId).value(), com::ui4(kParExtra5).value(),
                            com::Variant(xml.c_str()).value());
  });
}
