// The fdt:Variant value document and the value elements of range bounds.
#include "toolkit/xml/fdt_variant_element.h"

#include <msxml2.h>

#include <cmath>
#include <cwchar>
#include <string>

#include "com/Bstr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/real_text.h"
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

// The text reads back as the very value: -0 with its sign, NaN as NaN.
template <class Real>
bool ReadsBackAs(const std::wstring& text, Real value) {
  Real read = 0;
  if (!RealFromText(text.c_str(), &read)) return false;
  if (std::isnan(value)) return std::isnan(read);
  return read == value && std::signbit(read) == std::signbit(value);
}

// The platform writes a float with 7 and a double with 15 significant
// digits, which loses what lies beyond them (a float 16777215 would come
// back as 16777220), so a value that a frame reads and writes back would
// change. It also writes -0 as "0", and infinities and NaN in forms that
// no reader of XML Schema's types takes.
// Its text stays wherever it reads back to the same value; infinities and
// NaN take XML Schema's forms ("INF", "-INF", "NaN"); otherwise the digits
// go up until the text does, which 9 for a float and 17 for a double always
// do.
template <class Real>
std::wstring ExactRealText(Real value, const std::wstring& platformText, int digits, int maxDigits) {
  if (ReadsBackAs(platformText, value)) return platformText;
  if (!std::isfinite(value)) return RealText(value, maxDigits);
  std::wstring text;
  while (++digits <= maxDigits) {
    text = RealText(value, digits);
    if (ReadsBackAs(text, value)) break;
  }
  // The platform's form of an exponent.
  for (wchar_t& c : text)
    if (c == L'e') c = L'E';
  return text;
}

// A value's text in a document: numbers and dates in the invariant locale,
// reals with every digit they need, texts escaped, byte arrays as
// hexadecimal.
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
  std::wstring plain = V_BSTR(text.get()) ? V_BSTR(text.get()) : L"";
  if (V_VT(&value) == VT_R4) plain = ExactRealText(V_R4(&value), plain, 7, 9);
  if (V_VT(&value) == VT_R8) plain = ExactRealText(V_R8(&value), plain, 15, 17);
  com::Bstr escaped;
  hr = EscapeXmlText(plain.c_str(), escaped.put());
  if (FAILED(hr)) return hr;
  *out = escaped.c_str();
  return S_OK;
}

// A text as a value of type vt. Reals in plain decimal form are
// read exactly: the platform's conversion may miss a double's last digit,
// so a value written with all its digits would not come back the same;
// "INF", "-INF" and "NaN" are XML Schema's infinities and NaN, which the
// platform does not read. Every other text takes the platform's conversion in the invariant locale.
HRESULT ValueFromText(const wchar_t* text, VARTYPE vt, VARIANT* out) {
  if (vt == VT_R8 && RealFromText(text, &V_R8(out))) {
    V_VT(out) = VT_R8;
    return S_OK;
  }
  if (vt == VT_R4 && RealFromText(text, &V_R4(out))) {
    V_VT(out) = VT_R4;
    return S_OK;
  }
  com::Variant source(text);
  return ::VariantChangeTypeEx(out, source.get(), LOCALE_INVARIANT, 0, vt);
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
      hr = ValueFromText(text.c_str(), vt, parsed.get());
    }
    if (FAILED(hr)) return hr;
    return ::VariantCopy(value, parsed.get());
  });
}
