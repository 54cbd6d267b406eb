// The fdt:Variant value document and the value elements of range bounds.
#include "toolkit/xml/fdt_variant_element.h"

#include <msxml2.h>

#include <cwchar>
#include <string>

#include "com/Bstr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/xml/xml_dom.h"

namespace {

const wchar_t kVariantOpening[] = L"<fdt:Variant xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" dataType=\"";
const wchar_t kValueClosing[] = L"\" />";
const wchar_t kVariantClosing[] = L"</fdt:Variant>";

struct VariantType {
  VARTYPE vt;
  const wchar_t* name;
  const wchar_t* part;  // closes dataType and opens the value's element
};
const VariantType kVariantTypes[] = {
    {VT_UI1, L"byte", L"byte\"> <fdt:NumberData number=\""},
    {VT_UI4, L"unsigned", L"unsigned\"> <fdt:NumberData number=\""},
    {VT_I4, L"int", L"int\"> <fdt:NumberData number=\""},
    {VT_R4, L"float", L"float\"> <fdt:NumberData number=\""},
    {VT_R8, L"double", L"double\"> <fdt:NumberData number=\""},
    {VT_DATE, L"dateAndTime", L"dateAndTime\"> <fdt:TimeData time=\""},
    {VT_BSTR, L"ascii", L"ascii\"> <fdt:StringData string=\""},
    {VT_ARRAY | VT_UI1, L"hexString", L"hexString\"> <fdt:StringData string=\""},
};

// A value's text in a document: numbers and dates in the invariant locale,
// texts escaped, byte arrays as hexadecimal.
HRESULT ValueText(const VARIANT& value, std::wstring* out) {
  if (V_VT(&value) == (VT_ARRAY | VT_UI1)) {
    com::Bstr hex;
    HRESULT hr = CFdtVariant::BytesToHexString(&value, hex.put());
    if (FAILED(hr)) return hr;
    *out = hex.c_str();
    return S_OK;
  }
  com::Variant text;
  HRESULT hr = ::VariantChangeTypeEx(text.get(), const_cast<VARIANT*>(&value), LOCALE_INVARIANT,
                                     VARIANT_NOVALUEPROP, VT_BSTR);
  if (FAILED(hr)) return hr;
  com::Bstr escaped;
  hr = EscapeXmlText(V_BSTR(text.get()), escaped.put());
  if (FAILED(hr)) return hr;
  *out = escaped.c_str();
  return S_OK;
}

}  // namespace

HRESULT BuildFdtVariant(const VARIANT& value, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    for (const VariantType& type : kVariantTypes) {
      if (type.vt != V_VT(&value)) continue;
      std::wstring text;
      HRESULT hr = ValueText(value, &text);
      if (FAILED(hr)) return hr;
      std::wstring document = kVariantOpening;
      document += type.part;
      document += text;
      document += kValueClosing;
      document += kVariantClosing;
      *out = ::SysAllocString(document.c_str());
      return *out ? S_OK : E_OUTOFMEMORY;
    }
    return S_FALSE;
  });
}

HRESULT BuildFdtValueElement(const VARIANT& value, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    const wchar_t* opening = nullptr;
    switch (V_VT(&value)) {
      case VT_DATE:
        opening = L"<fdt:TimeData time=\"";
        break;
      case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_DECIMAL:
      case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4:
        opening = L"<fdt:NumberData number=\"";
        break;
      case VT_BSTR:
      case VT_ARRAY | VT_UI1:
        opening = L"<fdt:StringData string=\"";
        break;
      default:
        return S_FALSE;
    }
    std::wstring text;
    HRESULT hr = ValueText(value, &text);
    if (FAILED(hr)) return hr;
    std::wstring element = opening + text + kValueClosing;
    *out = ::SysAllocString(element.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT ParseFdtVariant(IXMLDOMNode* node, VARIANT* value) {
  if (!node || !value) return E_INVALIDARG;
  ::VariantClear(value);
  return com::guard([&]() -> HRESULT {
    com::Bstr typeName;
    HRESULT hr = XmlGetNodeText(node, L"@dataType", typeName.put());
    if (FAILED(hr) || hr == S_FALSE) return E_FAIL;
    VARTYPE vt = VT_EMPTY;
    for (const VariantType& type : kVariantTypes)
      if (typeName.length() && std::wcscmp(type.name, typeName.c_str()) == 0) vt = type.vt;
    if (vt == VT_EMPTY && !DataTypeFromName(typeName.c_str(), &vt)) return E_FAIL;

    const wchar_t* xpath = L"*[local-name()='NumberData']/@number";
    if (vt == VT_BSTR || vt == (VT_ARRAY | VT_UI1)) xpath = L"*[local-name()='StringData']/@string";
    if (vt == VT_DATE) xpath = L"*[local-name()='TimeData']/@time";
    com::Bstr text;
    hr = XmlGetNodeText(node, xpath, text.put());
    if (FAILED(hr) || hr == S_FALSE) return E_FAIL;

    com::Variant parsed;
    if (vt == (VT_ARRAY | VT_UI1)) {
      hr = CFdtVariant::FromHexString(parsed.get(), text.c_str());
    } else {
      com::Variant source(text.c_str());
      hr = ::VariantChangeTypeEx(parsed.get(), source.get(), LOCALE_INVARIANT, 0, vt);
    }
    if (FAILED(hr)) return hr;
    return ::VariantCopy(value, parsed.get());
  });
}
