#include "toolkit/values/va_packer.h"

bool CevVAPacker::PackToVariant(VARIANT* out) {
  if (!out) return false;
  mode = kCount;
  index = 0;
  array = nullptr;
  if (!ExchangeFields()) return false;

  VARIANT packed;
  ::VariantInit(&packed);
  V_ARRAY(&packed) = ::SafeArrayCreateVector(VT_VARIANT, 0, index);
  if (!V_ARRAY(&packed)) return false;
  V_VT(&packed) = VT_ARRAY | VT_VARIANT;

  mode = kStore;
  index = 0;
  array = V_ARRAY(&packed);
  const bool done = ExchangeFields();
  array = nullptr;
  if (!done) {
    ::VariantClear(&packed);
    return false;
  }
  *out = packed;  // moved, not copied: a copy would turn null texts into empty ones
  return true;
}

bool CevVAPacker::UnpackFromVariant(const VARIANT& value) {
  if (V_VT(&value) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&value) ||
      ::SafeArrayGetDim(V_ARRAY(&value)) != 1 ||
      ::SafeArrayGetElemsize(V_ARRAY(&value)) != sizeof(VARIANT))
    return false;
  mode = kLoad;
  index = 0;
  array = V_ARRAY(&value);
  const bool done = ExchangeFields();
  array = nullptr;
  return done;
}

// Moves element into the array at the current index. The element is placed,
// not copied: a copy would turn a null text into an empty one.
bool CevVAPacker::Put(VARIANT& element) {
  LONG at = static_cast<LONG>(index);
  VARIANT* slot = nullptr;
  if (FAILED(::SafeArrayPtrOfIndex(array, &at, reinterpret_cast<void**>(&slot)))) {
    ::VariantClear(&element);
    return false;
  }
  ::VariantClear(slot);
  *slot = element;
  ::VariantInit(&element);
  ++index;
  return true;
}

// The element at the current index, in place; null when it is missing or not
// of the required type.
const VARIANT* CevVAPacker::Peek(VARTYPE required) const {
  LONG at = static_cast<LONG>(index);
  VARIANT* slot = nullptr;
  if (FAILED(::SafeArrayPtrOfIndex(array, &at, reinterpret_cast<void**>(&slot)))) return nullptr;
  return V_VT(slot) == required ? slot : nullptr;
}

bool CevVAPacker::ExchangeBstr(com::Bstr& field) {
  VARIANT element;
  switch (mode) {
    case kStore:
      ::VariantInit(&element);
      if (FAILED(field.copyTo(&V_BSTR(&element)))) return false;
      V_VT(&element) = VT_BSTR;
      return Put(element);
    case kLoad: {
      const VARIANT* e = Peek(VT_BSTR);
      if (!e || FAILED(field.assign(V_BSTR(e), ::SysStringLen(V_BSTR(e))))) return false;
      ++index;
      return true;
    }
    default:
      ++index;
      return true;
  }
}

bool CevVAPacker::ExchangeBool(bool& field) {
  VARIANT element;
  switch (mode) {
    case kStore:
      ::VariantInit(&element);
      V_VT(&element) = VT_BOOL;
      V_BOOL(&element) = field ? VARIANT_TRUE : VARIANT_FALSE;
      return Put(element);
    case kLoad: {
      const VARIANT* e = Peek(VT_BOOL);
      if (!e) return false;
      field = V_BOOL(e) != 0;
      ++index;
      return true;
    }
    default:
      ++index;
      return true;
  }
}

bool CevVAPacker::ExchangeLong(LONG& field) {
  VARIANT element;
  switch (mode) {
    case kStore:
      ::VariantInit(&element);
      V_VT(&element) = VT_I4;
      V_I4(&element) = field;
      return Put(element);
    case kLoad: {
      const VARIANT* e = Peek(VT_I4);
      if (!e) return false;
      field = V_I4(e);
      ++index;
      return true;
    }
    default:
      ++index;
      return true;
  }
}

bool CevVAPacker::ExchangeULong(ULONG& field) {
  VARIANT element;
  switch (mode) {
    case kStore:
      ::VariantInit(&element);
      V_VT(&element) = VT_UI4;
      V_UI4(&element) = field;
      return Put(element);
    case kLoad: {
      const VARIANT* e = Peek(VT_UI4);
      if (!e) return false;
      field = V_UI4(e);
      ++index;
      return true;
    }
    default:
      ++index;
      return true;
  }
}

bool CevVAPacker::ExchangePacked(CevVAPacker& field) {
  VARIANT element;
  ::VariantInit(&element);
  switch (mode) {
    case kStore:
      if (!field.PackToVariant(&element)) ::VariantInit(&element);
      return Put(element);
    case kLoad: {
      LONG at = static_cast<LONG>(index);
      VARIANT* slot = nullptr;
      if (FAILED(::SafeArrayPtrOfIndex(array, &at, reinterpret_cast<void**>(&slot)))) return false;
      if (V_VT(slot) == (VT_ARRAY | VT_VARIANT)) field.UnpackFromVariant(*slot);
      ++index;
      return true;
    }
    default:
      ++index;
      return true;
  }
}

HRESULT PackParamUpdateList(ParamUpdateList list, VARIANT* out) {
  if (!out) return E_POINTER;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(list.size()));
  if (!array) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(list.size()); ++i) {
    VARIANT packed;
    ::VariantInit(&packed);
    const bool done = list[i].PackToVariant(&packed) &&
                      SUCCEEDED(::SafeArrayPutElement(array, &i, &packed));
    ::VariantClear(&packed);
    if (!done) {
      ::SafeArrayDestroy(array);
      return E_FAIL;
    }
  }
  const HRESULT hr = ::VariantClear(out);
  if (FAILED(hr)) {
    ::SafeArrayDestroy(array);
    return hr;
  }
  V_VT(out) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(out) = array;
  return S_OK;
}

HRESULT UnpackParamUpdateList(ParamUpdateList& list, const VARIANT& value) {
  list.clear();
  if (V_VT(&value) == VT_EMPTY) return S_OK;
  if (V_VT(&value) != (VT_ARRAY | VT_VARIANT)) return E_INVALIDARG;
  SAFEARRAY* array = V_ARRAY(&value);
  if (!array || ::SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  HRESULT hr = ::SafeArrayGetLBound(array, 1, &lower);
  if (SUCCEEDED(hr)) hr = ::SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr)) return hr;
  for (LONG i = lower; i <= upper; ++i) {
    VARIANT element;
    ::VariantInit(&element);
    hr = ::SafeArrayGetElement(array, &i, &element);
    if (FAILED(hr)) return hr;
    SParamUpdateInfo record;
    const bool done = record.UnpackFromVariant(element);
    ::VariantClear(&element);
    if (!done) return E_FAIL;
    list.push_back(record);
  }
  return S_OK;
}
