// Small builders shared by the value tests.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string>

#include "com/Variant.h"

// A VARIANT holding a one-dimensional array (lower bound 0) of LONG, double,
// BYTE or text elements.
inline com::Variant MakeArray(VARTYPE type, std::initializer_list<double> values) {
  com::Variant v;
  SAFEARRAY* array = ::SafeArrayCreateVector(type, 0, static_cast<ULONG>(values.size()));
  LONG i = 0;
  for (double value : values) {
    VARIANT element;
    ::VariantInit(&element);
    V_VT(&element) = VT_R8;
    V_R8(&element) = value;
    ::VariantChangeType(&element, &element, 0, type);
    void* data = type == VT_BSTR ? static_cast<void*>(V_BSTR(&element)) : &V_I8(&element);
    ::SafeArrayPutElement(array, &i, data);
    ::VariantClear(&element);
    ++i;
  }
  V_VT(v.put()) = static_cast<VARTYPE>(VT_ARRAY | type);
  V_ARRAY(v.get()) = array;
  return v;
}

inline com::Variant MakeTextArray(std::initializer_list<const wchar_t*> texts) {
  com::Variant v;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
  LONG i = 0;
  for (const wchar_t* text : texts) {
    BSTR s = ::SysAllocString(text);
    ::SafeArrayPutElement(array, &i, s);
    ++i;
    ::SysFreeString(s);
  }
  V_VT(v.put()) = VT_ARRAY | VT_BSTR;
  V_ARRAY(v.get()) = array;
  return v;
}

inline com::Variant MakeI4(LONG value) { return com::Variant(value); }
inline com::Variant MakeText(const wchar_t* text) { return com::Variant(text); }

// The text of a VT_BSTR value ("<type N>" for another type).
inline std::wstring TextOf(const VARIANT& v) {
  if (V_VT(&v) != VT_BSTR) return L"<type " + std::to_wstring(V_VT(&v)) + L">";
  return V_BSTR(&v) ? std::wstring(V_BSTR(&v), ::SysStringLen(V_BSTR(&v))) : std::wstring();
}

inline LONG ElementCount(SAFEARRAY* array, UINT dim = 1) {
  LONG lower = 0, upper = -1;
  ::SafeArrayGetLBound(array, dim, &lower);
  ::SafeArrayGetUBound(array, dim, &upper);
  return upper - lower + 1;
}
