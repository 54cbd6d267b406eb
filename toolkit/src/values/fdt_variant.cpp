#include "toolkit/values/fdt_variant.h"

#include <msxml2.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "toolkit/values/text_helpers.h"
#include "typed_conversion.h"

namespace {

// Value types of the conversion table: the targets and sources of
// ConvertScalar, the scalar targets that take the first element of an array,
// and the targets for which an empty text counts as the number 0.
constexpr VARTYPE kScalarTargets[] = {
    VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR,
    VT_BOOL, VT_VARIANT, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4};
constexpr VARTYPE kScalarSources[] = {
    VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR,
    VT_DISPATCH, VT_BOOL, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4};
constexpr VARTYPE kFirstElementTargets[] = {
    VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR,
    VT_BOOL, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4};
constexpr VARTYPE kEmptyTextNumberTargets[] = {
    VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL, VT_I1,
    VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT};

template <size_t N>
bool OneOf(VARTYPE vt, const VARTYPE (&set)[N]) {
  for (VARTYPE t : set)
    if (t == vt) return true;
  return false;
}

// Size of one raw value of a type; 0 for types that are not handled here.
size_t RawSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1:
      return 1;
    case VT_I2: case VT_UI2: case VT_BOOL:
      return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR:
      return 4;
    case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8:
      return 8;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
      return sizeof(void*);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

// Where the raw value of a VARIANT lies (a DECIMAL covers the whole VARIANT).
const void* DataOf(const VARIANT* v) {
  return V_VT(v) == VT_DECIMAL ? static_cast<const void*>(&V_DECIMAL(v))
                               : static_cast<const void*>(&V_I8(v));
}
void* DataSlot(VARIANT* v, VARTYPE vt) {
  return vt == VT_DECIMAL ? static_cast<void*>(&V_DECIMAL(v)) : static_cast<void*>(&V_I8(v));
}

// A VARIANT that borrows a raw value (it owns nothing and is never cleared).
VARIANT Borrow(const void* data, VARTYPE vt) {
  VARIANT v;
  ::VariantInit(&v);
  std::memcpy(DataSlot(&v, vt), data, vt == VT_DECIMAL ? sizeof(DECIMAL) : RawSize(vt));
  V_VT(&v) = vt;
  return v;
}

// Frees what a raw value of the type owns.
void FreeRaw(void* data, VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      ::SysFreeString(*static_cast<BSTR*>(data));
      *static_cast<BSTR*>(data) = nullptr;
      break;
    case VT_DISPATCH: case VT_UNKNOWN: {
      IUnknown*& p = *static_cast<IUnknown**>(data);
      if (p) p->Release();
      p = nullptr;
      break;
    }
    case VT_VARIANT:
      ::VariantClear(static_cast<VARIANT*>(data));
      break;
    default:
      break;
  }
}

// Storage large enough and aligned for any raw value of RawSize().
struct RawValue {
  RawValue() { ::VariantInit(&v); }
  void* data() { return &v; }
  VARIANT v;
};

// What SafeArrayPutElement takes for a raw value: the pointer itself for
// texts and interfaces, the address of the value for every other type.
void* PutArgument(RawValue& value, VARTYPE vt) {
  if (vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN)
    return *static_cast<void**>(value.data());
  return value.data();
}

bool IsEmptyText(BSTR text) { return text == nullptr || text[0] == L'\0'; }

// Clears dest and moves value into it; on a failing clear the value is freed
// here, so the caller never frees it again.
HRESULT Replace(VARIANT* dest, VARIANT& value) {
  HRESULT hr = ::VariantClear(dest);
  if (FAILED(hr)) {
    ::VariantClear(&value);
    return hr;
  }
  *dest = value;
  ::VariantInit(&value);
  return S_OK;
}

HRESULT ReplaceWithArray(VARIANT* dest, SAFEARRAY* array, VARTYPE elementType) {
  VARIANT value;
  ::VariantInit(&value);
  V_VT(&value) = static_cast<VARTYPE>(VT_ARRAY | elementType);
  V_ARRAY(&value) = array;
  return Replace(dest, value);
}

// The array's element size must match its declared element type, or reading
// an element would overrun the buffer it is read into.
bool ElementSizeFits(SAFEARRAY* array, VARTYPE elementType) {
  size_t size = RawSize(elementType);
  return size != 0 && ::SafeArrayGetElemsize(array) == size;
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

bool AllHexDigits(const wchar_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (HexValue(text[i]) < 0) return false;
  return true;
}

void DecodeHex(const wchar_t* text, size_t byteCount, BYTE* out) {
  for (size_t i = 0; i < byteCount; ++i)
    out[i] = static_cast<BYTE>(HexValue(text[2 * i]) << 4 | HexValue(text[2 * i + 1]));
}

bool IsTypedPair(VARTYPE sourceType, VARTYPE targetType) {
  return targetType != VT_VARIANT && OneOf(sourceType, kScalarSources) &&
         OneOf(targetType, kScalarTargets);
}

// The platform conversion of a scalar into result (which holds nothing yet):
// the typed conversion for the pairs of the table, so that their range checks
// hold, and VariantChangeTypeEx for every other pair.
HRESULT ScalarChange(VARIANT* result, const VARIANT* src, VARTYPE vartype, LCID lcid,
                     USHORT flags) {
  ::VariantInit(result);
  if (!IsTypedPair(V_VT(src), vartype))
    return ::VariantChangeTypeEx(result, const_cast<VARIANT*>(src), lcid, flags & 31, vartype);
  HRESULT hr = CFdtVariant::ConvertScalar(DataOf(src), DataSlot(result, vartype), V_VT(src),
                                          vartype, lcid, flags);
  if (FAILED(hr)) {
    ::VariantInit(result);
    return hr;
  }
  V_VT(result) = vartype;
  return S_OK;
}

// The scalar target of an array source: the element at the lower bound of
// every dimension, converted.
HRESULT FirstElementTo(VARIANT* dest, const VARIANT* src, VARTYPE vartype, LCID lcid,
                       USHORT flags) {
  SAFEARRAY* array = V_ARRAY(src);
  if (!array) return E_POINTER;
  UINT dims = ::SafeArrayGetDim(array);
  if (dims == 0) return E_INVALIDARG;
  if (!OneOf(vartype, kFirstElementTargets)) return DISP_E_TYPEMISMATCH;
  VARTYPE elementType = static_cast<VARTYPE>(V_VT(src) & VT_TYPEMASK);
  if (!ElementSizeFits(array, elementType)) return DISP_E_TYPEMISMATCH;

  std::vector<LONG> index(dims);
  for (UINT d = 0; d < dims; ++d) {
    HRESULT hr = ::SafeArrayGetLBound(array, d + 1, &index[d]);
    if (FAILED(hr)) return hr;
  }
  RawValue element;
  HRESULT hr = ::SafeArrayGetElement(array, index.data(), element.data());
  if (FAILED(hr)) return hr;
  VARIANT result;
  ::VariantInit(&result);
  hr = CFdtVariant::ConvertScalar(element.data(), DataSlot(&result, vartype), elementType, vartype,
                                  lcid, flags);
  FreeRaw(element.data(), elementType);
  if (FAILED(hr)) return hr;
  V_VT(&result) = vartype;
  return Replace(dest, result);
}

// An array target VT_ARRAY|elementType from an empty value, a scalar or an
// array.
HRESULT ToArray(VARIANT* dest, const VARIANT* src, VARTYPE elementType, LCID lcid, USHORT flags) {
  if (RawSize(elementType) == 0) return DISP_E_TYPEMISMATCH;
  VARTYPE sourceType = V_VT(src);
  SAFEARRAY* result = nullptr;
  if (sourceType == VT_EMPTY || sourceType == VT_NULL) {
    result = ::SafeArrayCreateVector(elementType, 0, 0);
    if (!result) return E_OUTOFMEMORY;
  } else if (sourceType & VT_ARRAY) {
    if (sourceType & (VT_BYREF | VT_VECTOR)) return DISP_E_TYPEMISMATCH;
    HRESULT hr = CFdtVariant::ConvertArray(V_ARRAY(src), &result, sourceType & VT_TYPEMASK,
                                           elementType, lcid, flags);
    if (FAILED(hr)) return hr;
  } else {
    RawValue converted;
    HRESULT hr = CFdtVariant::ConvertScalar(DataOf(src), converted.data(), sourceType, elementType,
                                            lcid, flags);
    if (FAILED(hr)) return hr;
    result = ::SafeArrayCreateVector(elementType, 0, 1);
    LONG zero = 0;
    hr = result ? ::SafeArrayPutElement(result, &zero, PutArgument(converted, elementType))
                : E_OUTOFMEMORY;
    FreeRaw(converted.data(), elementType);
    if (FAILED(hr)) {
      if (result) ::SafeArrayDestroy(result);
      return hr;
    }
  }
  // On a failure Replace has freed the array already.
  return ReplaceWithArray(dest, result, elementType);
}

}  // namespace

CFdtVariant::CFdtVariant(ULONG value) {
  VARIANT* v = put();
  V_VT(v) = VT_UI4;
  V_UI4(v) = value;
}

HRESULT CFdtVariant::ConvertTo(VARIANT* dest, const VARIANT* src, VARTYPE vartype, LCID lcid,
                               USHORT flags) {
  if (!dest || !src) return E_INVALIDARG;
  const VARTYPE sourceType = V_VT(src);
  if (sourceType == vartype)
    return dest == src ? S_OK : ::VariantCopy(dest, const_cast<VARIANT*>(src));

  if (sourceType == VT_BSTR && IsEmptyText(V_BSTR(src))) {
    if (OneOf(vartype, kEmptyTextNumberTargets)) {
      VARIANT zero, result;
      ::VariantInit(&zero);
      ::VariantInit(&result);
      V_VT(&zero) = VT_I4;
      V_I4(&zero) = 0;
      HRESULT hr = ::VariantChangeType(&result, &zero, 0, vartype);
      return FAILED(hr) ? hr : Replace(dest, result);
    }
    if (vartype == (VT_ARRAY | VT_VARIANT)) {
      SAFEARRAY* empty = ::SafeArrayCreateVector(VT_VARIANT, 0, 0);
      if (!empty) return E_OUTOFMEMORY;
      return ReplaceWithArray(dest, empty, VT_VARIANT);
    }
  }

  if (vartype == VT_BSTR && sourceType == (VT_ARRAY | VT_UI1)) {
    VARIANT text;
    ::VariantInit(&text);
    HRESULT hr = BytesToHexString(src, &V_BSTR(&text), false);
    if (FAILED(hr)) return hr;
    V_VT(&text) = VT_BSTR;
    return Replace(dest, text);
  }
  if (vartype == (VT_ARRAY | VT_UI1) && sourceType == VT_BSTR)
    return FromHexString(dest, V_BSTR(src), true);

  VARIANT result;
  const HRESULT first = ScalarChange(&result, src, vartype, lcid, flags);
  if (SUCCEEDED(first)) return Replace(dest, result);

  const bool sourceIsArray = (sourceType & VT_ARRAY) != 0;
  const bool targetIsArray = (vartype & VT_ARRAY) != 0;
  if (!sourceIsArray && !targetIsArray) {
    // Text that is no date to the platform may still be a date number.
    if (vartype != VT_DATE) return first;
    VARIANT number;
    if (FAILED(ScalarChange(&number, src, VT_R8, lcid, flags))) return first;
    HRESULT hr = ScalarChange(&result, &number, VT_DATE, lcid, flags);
    ::VariantClear(&number);
    return FAILED(hr) ? first : Replace(dest, result);
  }
  if (sourceIsArray && !targetIsArray) {
    if (sourceType & (VT_BYREF | VT_VECTOR)) return first;
    return FirstElementTo(dest, src, vartype, lcid, flags);
  }
  if (vartype & (VT_BYREF | VT_VECTOR)) return first;
  return ToArray(dest, src, static_cast<VARTYPE>(vartype & VT_TYPEMASK), lcid, flags);
}

HRESULT CFdtVariant::ConvertArray(SAFEARRAY* src, SAFEARRAY** out, VARTYPE sourceType,
                                  VARTYPE targetType, LCID lcid, USHORT flags) {
  if (!src || !out) return E_POINTER;
  *out = nullptr;
  const UINT dims = ::SafeArrayGetDim(src);
  if (dims == 0) return E_INVALIDARG;
  if (!ElementSizeFits(src, sourceType) || RawSize(targetType) == 0) return DISP_E_TYPEMISMATCH;

  // Dimension d (from 1) is index[d - 1] for SafeArrayGet/PutElement and
  // bounds[d - 1] for SafeArrayCreate; the first one varies fastest.
  std::vector<LONG> lower(dims), upper(dims);
  std::vector<SAFEARRAYBOUND> bounds(dims);
  ULONG total = 1;
  for (UINT d = 0; d < dims; ++d) {
    HRESULT hr = ::SafeArrayGetLBound(src, d + 1, &lower[d]);
    if (SUCCEEDED(hr)) hr = ::SafeArrayGetUBound(src, d + 1, &upper[d]);
    if (FAILED(hr)) return hr;
    bounds[d].lLbound = lower[d];
    bounds[d].cElements = static_cast<ULONG>(upper[d] - lower[d] + 1);
    total *= bounds[d].cElements;
  }
  SAFEARRAY* result = ::SafeArrayCreate(targetType, dims, bounds.data());
  if (!result) return E_OUTOFMEMORY;

  std::vector<LONG> index(lower);
  for (ULONG n = 0; n < total; ++n) {
    RawValue element, converted;
    HRESULT hr = ::SafeArrayGetElement(src, index.data(), element.data());
    if (SUCCEEDED(hr)) {
      hr = ConvertScalar(element.data(), converted.data(), sourceType, targetType, lcid, flags);
      FreeRaw(element.data(), sourceType);
    }
    if (SUCCEEDED(hr)) {
      hr = ::SafeArrayPutElement(result, index.data(), PutArgument(converted, targetType));
      FreeRaw(converted.data(), targetType);
    }
    if (FAILED(hr)) {
      ::SafeArrayDestroy(result);
      return hr;
    }
    for (UINT d = 0; d < dims; ++d) {
      if (++index[d] <= upper[d]) break;
      index[d] = lower[d];
    }
  }
  *out = result;
  return S_OK;
}

HRESULT CFdtVariant::ConvertScalar(const void* sourceData, void* destinationData,
                                   VARTYPE sourceType, VARTYPE targetType, LCID lcid,
                                   USHORT flags) {
  if (!sourceData || !destinationData) return E_POINTER;

  if (sourceType == targetType) {
    const size_t size = RawSize(sourceType);
    if (size == 0) return DISP_E_TYPEMISMATCH;
    switch (sourceType) {
      case VT_BSTR: {
        BSTR text = *static_cast<const BSTR*>(sourceData);
        BSTR copy = nullptr;
        if (text) {
          copy = ::SysAllocStringLen(text, ::SysStringLen(text));
          if (!copy) return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(destinationData) = copy;
        return S_OK;
      }
      case VT_VARIANT:
        ::VariantInit(static_cast<VARIANT*>(destinationData));
        return ::VariantCopy(static_cast<VARIANT*>(destinationData),
                             const_cast<VARIANT*>(static_cast<const VARIANT*>(sourceData)));
      case VT_DISPATCH: case VT_UNKNOWN: {
        IUnknown* p = *static_cast<IUnknown* const*>(sourceData);
        if (p) p->AddRef();
        *static_cast<IUnknown**>(destinationData) = p;
        return S_OK;
      }
      default:
        std::memcpy(destinationData, sourceData, size);
        return S_OK;
    }
  }

  if (!OneOf(targetType, kScalarTargets)) return DISP_E_TYPEMISMATCH;
  if (targetType == VT_I4 && sourceType == VT_INT) {
    std::memcpy(destinationData, sourceData, sizeof(LONG));
    return S_OK;
  }
  if (!OneOf(sourceType, kScalarSources)) return DISP_E_TYPEMISMATCH;

  const VARIANT source = Borrow(sourceData, sourceType);
  if (targetType == VT_VARIANT) {
    VARIANT* dest = static_cast<VARIANT*>(destinationData);
    ::VariantInit(dest);
    return ::VariantCopy(dest, const_cast<VARIANT*>(&source));
  }
  if (targetType == VT_BSTR && sourceType == VT_BOOL && !(flags & VARIANT_ALPHABOOL)) {
    BSTR text = ::SysAllocString(V_BOOL(&source) == VARIANT_TRUE ? L"-1" : L"0");
    if (!text) return E_OUTOFMEMORY;
    *static_cast<BSTR*>(destinationData) = text;
    return S_OK;
  }
  const ULONG textFlags = (flags & VARIANT_NOUSEROVERRIDE) ? LOCALE_NOUSEROVERRIDE : 0;
  return TypedConversion(source, targetType, destinationData, lcid, textFlags);
}

HRESULT CFdtVariant::BytesToHexString(const VARIANT* value, BSTR* out, bool lenient) {
  if (!value || !out) return E_POINTER;
  *out = nullptr;
  if (V_VT(value) != (VT_ARRAY | VT_UI1)) {
    if (!lenient) return E_INVALIDARG;
    *out = ::SysAllocString(L"");
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  SAFEARRAY* array = V_ARRAY(value);
  if (!array) return E_UNEXPECTED;
  if (::SafeArrayGetDim(array) != 1 || ::SafeArrayGetElemsize(array) != 1) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  ::SafeArrayGetLBound(array, 1, &lower);
  ::SafeArrayGetUBound(array, 1, &upper);
  const ULONG count = static_cast<ULONG>(upper - lower + 1);
  BYTE* data = nullptr;
  if (count == 0 || FAILED(::SafeArrayAccessData(array, reinterpret_cast<void**>(&data))) ||
      !data) {
    *out = ::SysAllocString(L"");
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT hr = ::BytesToHexString(data, count, out);
  ::SafeArrayUnaccessData(array);
  return hr;
}

HRESULT CFdtVariant::FromHexString(VARIANT* dest, const wchar_t* text, bool keepEmpty) {
  if (!dest) return E_POINTER;
  const size_t length = text ? std::wcslen(text) : 0;
  if (length == 0 && !keepEmpty) return ::VariantClear(dest);
  if (length % 2 != 0 || !AllHexDigits(text, length)) return E_INVALIDARG;

  const ULONG count = static_cast<ULONG>(length / 2);
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, count);
  if (!array) return E_FAIL;
  if (count) {
    BYTE* data = nullptr;
    HRESULT hr = ::SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
    if (FAILED(hr)) {
      ::SafeArrayDestroy(array);
      return hr;
    }
    DecodeHex(text, count, data);
    ::SafeArrayUnaccessData(array);
  }
  // text may live in dest: it is not read after this point.
  return ReplaceWithArray(dest, array, VT_UI1);
}

// IsEqual, by the type of a:
// - VT_EMPTY and VT_NULL: b has the same type;
// - VT_I1, VT_UI2, VT_UI4: the low 8, 16 or 32 bits are equal, whatever the
//   integer type of b (VT_UI4 7 equals VT_I4 7). A b that is no integer, or
//   narrower than the compared width, is not equal: its raw bits would say
//   nothing about its value;
// - VT_DATE: both values written as text by the platform compare equal;
// - VT_ARRAY|VT_UI1: b is a byte array of the same size with the same bytes;
// - any other type: b has the same type and VarCmp answers "equal".
bool CFdtVariant::IsEqual(const VARIANT& a, const VARIANT& b) {
  auto integerWidth = [](VARTYPE vt) -> size_t {
    switch (vt) {
      case VT_I1: case VT_UI1: return 1;
      case VT_I2: case VT_UI2: return 2;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: return 4;
      default: return 0;
    }
  };
  switch (V_VT(&a)) {
    case VT_EMPTY:
    case VT_NULL:
      return V_VT(&b) == V_VT(&a);
    case VT_I1:
      return integerWidth(V_VT(&b)) >= 1 && V_I1(&a) == V_I1(&b);
    case VT_UI2:
      return integerWidth(V_VT(&b)) >= 2 && V_UI2(&a) == V_UI2(&b);
    case VT_UI4:
      return integerWidth(V_VT(&b)) >= 4 && V_UI4(&a) == V_UI4(&b);
    case VT_DATE: {
      VARIANT ta, tb;
      ::VariantInit(&ta);
      ::VariantInit(&tb);
      bool equal = false;
      if (SUCCEEDED(::VariantChangeTypeEx(&ta, const_cast<VARIANT*>(&a), LOCALE_USER_DEFAULT, 0,
                                          VT_BSTR)) &&
          SUCCEEDED(::VariantChangeTypeEx(&tb, const_cast<VARIANT*>(&b), LOCALE_USER_DEFAULT, 0,
                                          VT_BSTR)))
        equal = ::VarBstrCmp(V_BSTR(&ta), V_BSTR(&tb), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
      ::VariantClear(&ta);
      ::VariantClear(&tb);
      return equal;
    }
    case VT_ARRAY | VT_UI1: {
      if (V_VT(&b) != (VT_ARRAY | VT_UI1)) return false;
      SAFEARRAY* pa = V_ARRAY(&a);
      SAFEARRAY* pb = V_ARRAY(&b);
      if (!pa || !pb) return false;
      auto byteCount = [](SAFEARRAY* p) -> ULONG {
        ULONG n = 1;
        for (UINT d = 1; d <= ::SafeArrayGetDim(p); ++d) {
          LONG lo = 0, hi = -1;
          ::SafeArrayGetLBound(p, d, &lo);
          ::SafeArrayGetUBound(p, d, &hi);
          n *= static_cast<ULONG>(hi - lo + 1);
        }
        return n * ::SafeArrayGetElemsize(p);
      };
      LONG loA = 0, hiA = -1, loB = 0, hiB = -1;
      ::SafeArrayGetLBound(pa, 1, &loA);
      ::SafeArrayGetUBound(pa, 1, &hiA);
      ::SafeArrayGetLBound(pb, 1, &loB);
      ::SafeArrayGetUBound(pb, 1, &hiB);
      const ULONG size = byteCount(pa);
      if (hiA - loA != hiB - loB || size != byteCount(pb)) return false;
      if (size == 0) return true;
      void* da = nullptr;
      void* db = nullptr;
      if (FAILED(::SafeArrayAccessData(pa, &da))) return false;
      bool equal = false;
      if (SUCCEEDED(::SafeArrayAccessData(pb, &db))) {
        equal = std::memcmp(da, db, size) == 0;
        ::SafeArrayUnaccessData(pb);
      }
      ::SafeArrayUnaccessData(pa);
      return equal;
    }
    default:
      return V_VT(&b) == V_VT(&a) &&
             ::VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), LOCALE_USER_DEFAULT,
                      0) == VARCMP_EQ;
  }
}

namespace {

// Converts value to vartype with the platform conversion into result.
HRESULT ChangeTo(const VARIANT& value, VARTYPE vartype, VARIANT* result) {
  HRESULT hr = ScalarChange(result, &value, vartype, 0, 0);
  if (FAILED(hr)) return hr;
  if (V_VT(result) != vartype) {
    ::VariantClear(result);
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace

HRESULT CFdtVariant::GetUI4(const VARIANT& value, ULONG* out) {
  if (!out) return E_POINTER;
  if (V_VT(&value) == VT_UI4) {
    *out = V_UI4(&value);
    return S_OK;
  }
  VARIANT result;
  HRESULT hr = ChangeTo(value, VT_UI4, &result);
  if (SUCCEEDED(hr)) *out = V_UI4(&result);
  return hr;
}

HRESULT CFdtVariant::GetBool(const VARIANT& value, VARIANT_BOOL* out) {
  if (!out) return E_POINTER;
  if (V_VT(&value) == VT_BOOL) {
    *out = V_BOOL(&value);
    return S_OK;
  }
  VARIANT result;
  HRESULT hr = ChangeTo(value, VT_BOOL, &result);
  if (SUCCEEDED(hr)) *out = V_BOOL(&result);
  return hr;
}

HRESULT CFdtVariant::GetBstr(const VARIANT& value, BSTR* out) {
  if (!out) return E_POINTER;
  if (V_VT(&value) == VT_BSTR) {
    // A copy of the text; raises com::ComError(E_OUTOFMEMORY).
    *out = com::Bstr(V_BSTR(&value)).detach();
    return S_OK;
  }
  VARIANT result;
  HRESULT hr = ChangeTo(value, VT_BSTR, &result);
  if (SUCCEEDED(hr)) *out = V_BSTR(&result);
  return hr;
}

HRESULT CFdtVariant::GetUnknown(const VARIANT& value, IUnknown** out) {
  if (!out) return E_POINTER;
  if (V_VT(&value) == VT_UNKNOWN) {
    *out = V_UNKNOWN(&value);
    if (*out) (*out)->AddRef();
    return S_OK;
  }
  VARIANT result;
  HRESULT hr = ChangeTo(value, VT_UNKNOWN, &result);
  if (SUCCEEDED(hr)) *out = V_UNKNOWN(&result);  // the conversion's reference
  return hr;
}

int HexStringToBytes(const wchar_t* text, BYTE* buffer, size_t capacity) {
  if (!buffer) return -1;
  const size_t length = text ? std::wcslen(text) : 0;
  if (length == 0) return 0;
  if (length % 2 != 0 || length / 2 > capacity || !AllHexDigits(text, length)) return -1;
  DecodeHex(text, length / 2, buffer);
  return static_cast<int>(length / 2);
}

HRESULT RemoveChars(BSTR& text, const wchar_t* characterSet) {
  const UINT length = ::SysStringLen(text);
  if (!characterSet || length == 0) return S_OK;
  std::vector<wchar_t> kept;
  kept.reserve(length);
  for (UINT i = 0; i < length; ++i)
    if (!std::wcschr(characterSet, text[i]) || text[i] == L'\0') kept.push_back(text[i]);
  BSTR result = ::SysAllocStringLen(kept.data(), static_cast<UINT>(kept.size()));
  if (!result) return E_OUTOFMEMORY;
  ::SysFreeString(text);
  text = result;
  return S_OK;
}

HRESULT ReadNodeValue(IXMLDOMNode* node, const wchar_t* xpath, VARIANT* out, VARTYPE vartype) {
  if (!node || !out) return E_POINTER;
  if (!xpath || !*xpath) return E_INVALIDARG;
  com::Bstr query;
  HRESULT hr = query.assign(xpath);
  if (FAILED(hr)) return hr;
  com::ComPtr<IXMLDOMNode> found;
  hr = node->selectSingleNode(query.get(), found.put());
  if (FAILED(hr)) return hr;
  if (!found) return E_FAIL;

  hr = ::VariantClear(out);
  if (FAILED(hr)) return hr;
  hr = vartype == VT_BSTR ? found->get_nodeValue(out) : found->get_nodeTypedValue(out);
  if (FAILED(hr)) return hr;

  if ((vartype == VT_R4 || vartype == VT_R8) && V_VT(out) == VT_BSTR && V_BSTR(out)) {
    // Numbers in FDT documents do not depend on anybody's locale: the first
    // "." (or, when there is none, the first ",") is the decimal separator,
    // and the text is read with the invariant locale, whose separator is ".".
    // Reading it with the user's locale could take the separator for a
    // thousands separator and turn 1.5 into 15.
    BSTR text = V_BSTR(out);
    wchar_t* mark = std::wcschr(text, L'.');
    if (!mark) mark = std::wcschr(text, L',');
    if (mark) *mark = L'.';
    return CFdtVariant::ConvertTo(out, out, vartype, LOCALE_INVARIANT, VARIANT_NOUSEROVERRIDE);
  }
  return CFdtVariant::ConvertTo(out, out, vartype, 0, 0);
}
