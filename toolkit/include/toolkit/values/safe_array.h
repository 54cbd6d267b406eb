// Builders of the small SAFEARRAY values that toolkit calls pass around.
// Every array is one-dimensional with lower bound 0; the VARIANTs handed out
// belong to the caller.
#pragma once

#include <windows.h>
#include <oleauto.h>

class CevFdtSafeArray {
 public:
  // The strings (8-bit, system code page) up to the first empty or null one
  // as VT_ARRAY|VT_BSTR. A null list, an empty first string or a failing
  // store give VT_EMPTY.
  static VARIANT FromStrings(const char* const* strings);
  // The same for wide strings, taken as they are (no code page between).
  static VARIANT FromStrings(const wchar_t* const* strings);
  // [copy of a, copy of b] as VT_ARRAY|VT_VARIANT. E_POINTER for a null out,
  // E_OUTOFMEMORY when the array cannot be created, else a failing store.
  static HRESULT FromVariants(const VARIANT& a, const VARIANT& b, VARIANT* out);
  // [value as VT_UI4] as VT_ARRAY|VT_VARIANT. E_INVALIDARG for a null out,
  // E_POINTER when the array cannot be created.
  static HRESULT VariantVector(ULONG value, VARIANT* out);
};
