// The PARAMETERS text and its value texts.
#include "toolkit/params/parameters_text.h"

#include <cwchar>

#include "com/Bstr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/real_text.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"

namespace {

constexpr wchar_t kListFormat[] = L"<PARAMETERS> \r\n%s</PARAMETERS> \r\n";
constexpr wchar_t kEntryFormat[] =
    L"<Parameter \r\n\tid    =\"%lu\" \r\n\tname  =\"%s\" \r\n\ttype  =\"%s\" \r\n\tvalue =\"%s\" \r\n/> \r\n";

bool isInvariantType(VARTYPE vt) {
  return vt == VT_DATE || vt == VT_CY || vt == VT_DECIMAL;
}

HRESULT invariantText(const VARIANT& value, BSTR* out) {
  com::Variant text;
  HRESULT hr = ::VariantChangeTypeEx(text.get(), const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0,
                                     VT_BSTR);
  if (FAILED(hr)) return hr;
  *out = V_BSTR(text.get());
  V_VT(text.get()) = VT_EMPTY;
  return S_OK;
}

}  // namespace

HRESULT ParametersValueText(const VARIANT& value, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    switch (V_VT(&value)) {
      // Every digit, in the C locale's form whatever the C runtime's
      // locale is: the text is read back on any machine.
      case VT_R4:
        return FormatBstr(out, L"%s", RealText(V_R4(&value), 9).c_str());
      case VT_R8:
        return FormatBstr(out, L"%s", RealText(V_R8(&value), 17).c_str());
      case VT_I8:
        return FormatBstr(out, L"%lld", static_cast<long long>(V_I8(&value)));
      case VT_UI8:
        return FormatBstr(out, L"%llu", static_cast<unsigned long long>(V_UI8(&value)));
      default:
        break;
    }
    if (isInvariantType(V_VT(&value))) return invariantText(value, out);
    return VariantToString(&value, out);
  });
}

HRESULT ParametersValueFromText(const wchar_t* text, VARTYPE vartype, VARIANT* out) {
  if (!out) return E_POINTER;
  ::VariantInit(out);
  if (!text) text = L"";
  return com::guard([&]() -> HRESULT {
    if (vartype == (VT_ARRAY | VT_UI1)) {
      com::Bstr hex(text);
      BSTR raw = hex.detach();
      HRESULT hr = RemoveChars(raw, L" .,:;");
      hex.attach(raw);
      if (FAILED(hr)) return hr;
      return CFdtVariant::FromHexString(out, hex.c_str());
    }
    if (vartype == VT_BOOL) {
      if (std::wcscmp(text, L"True") == 0 || std::wcscmp(text, L"False") == 0) {
        V_VT(out) = VT_BOOL;
        V_BOOL(out) = text[0] == L'T' ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      }
    }
    // A float is read as a float: through a double, its infinities would
    // not convert (overflow).
    if (vartype == VT_R4 && RealFromText(text, &V_R4(out))) {
      V_VT(out) = VT_R4;
      return S_OK;
    }
    if (vartype == VT_R8 && RealFromText(text, &V_R8(out))) {
      V_VT(out) = VT_R8;
      return S_OK;
    }
    com::Variant source(text);
    const LCID locale = LOCALE_INVARIANT;
    return ::VariantChangeTypeEx(out, source.get(), locale, 0, vartype);
  });
}

HRESULT FormatParametersEntry(ULONG id, const wchar_t* name, const VARIANT& value, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    com::Bstr type;
    type.attach(VarTypeToStringEx(V_VT(&value)));
    if (!type.get()) return E_OUTOFMEMORY;
    com::Bstr text, escapedText, escapedName;
    HRESULT hr = ParametersValueText(value, text.put());
    if (SUCCEEDED(hr)) hr = EscapeXmlText(text.c_str(), escapedText.put());
    if (SUCCEEDED(hr)) hr = EscapeXmlText(name, escapedName.put());
    if (FAILED(hr)) return hr;
    return FormatBstr(out, kEntryFormat, id, escapedName.c_str(), type.c_str(),
                      escapedText.c_str());
  });
}

HRESULT FormatParametersList(const wchar_t* entries, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return com::guard([&] { return FormatBstr(out, kListFormat, entries ? entries : L""); });
}
