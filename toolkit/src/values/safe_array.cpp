#include "toolkit/values/safe_array.h"

#include "com/Bstr.h"

VARIANT CevFdtSafeArray::FromStrings(const char* const* strings) {
  VARIANT result;
  ::VariantInit(&result);
  if (!strings) return result;
  ULONG count = 0;
  while (strings[count] && strings[count][0]) ++count;
  if (count == 0) return result;

  SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, count);
  if (!array) return result;
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    com::Bstr text;
    HRESULT hr = text.assignMultiByte(strings[i]);
    if (SUCCEEDED(hr)) hr = ::SafeArrayPutElement(array, &i, text.get());  // copies the text
    if (FAILED(hr)) {
      ::SafeArrayDestroy(array);
      return result;
    }
  }
  V_VT(&result) = VT_ARRAY | VT_BSTR;
  V_ARRAY(&result) = array;
  return result;
}

VARIANT CevFdtSafeArray::FromStrings(const wchar_t* const* strings) {
  VARIANT result;
  ::VariantInit(&result);
  if (!strings) return result;
  ULONG count = 0;
  while (strings[count] && strings[count][0]) ++count;
  if (count == 0) return result;

  SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, count);
  if (!array) return result;
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    BSTR text = ::SysAllocString(strings[i]);
    HRESULT hr = text ? ::SafeArrayPutElement(array, &i, text) : E_OUTOFMEMORY;  // copies the text
    ::SysFreeString(text);
    if (FAILED(hr)) {
      ::SafeArrayDestroy(array);
      return result;
    }
  }
  V_VT(&result) = VT_ARRAY | VT_BSTR;
  V_ARRAY(&result) = array;
  return result;
}

HRESULT CevFdtSafeArray::FromVariants(const VARIANT& a, const VARIANT& b, VARIANT* out) {
  if (!out) return E_POINTER;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, 2);
  if (!array) return E_OUTOFMEMORY;
  const VARIANT* items[2] = {&a, &b};
  for (LONG i = 0; i < 2; ++i) {
    HRESULT hr = ::SafeArrayPutElement(array, &i, const_cast<VARIANT*>(items[i]));
    if (FAILED(hr)) {
      ::SafeArrayDestroy(array);
      return hr;
    }
  }
  ::VariantInit(out);
  V_VT(out) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(out) = array;
  return S_OK;
}

HRESULT CevFdtSafeArray::VariantVector(ULONG value, VARIANT* out) {
  if (!out) return E_INVALIDARG;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
  if (!array) return E_POINTER;
  VARIANT* items = nullptr;
  ::SafeArrayAccessData(array, reinterpret_cast<void**>(&items));
  V_VT(&items[0]) = VT_UI4;
  V_UI4(&items[0]) = value;
  ::SafeArrayUnaccessData(array);
  ::VariantInit(out);
  V_VT(out) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(out) = array;
  return S_OK;
}
