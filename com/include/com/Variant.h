// Owner of one VARIANT.
//
// The copying constructors and the copy assignment raise ComError with the
// failing code (E_OUTOFMEMORY for a text that cannot be copied, VariantCopy's
// code for a VARIANT); a failed assignment keeps the old value. Everything
// else answers an HRESULT.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "com/ComError.h"

namespace com {

class Variant {
 public:
  Variant() { ::VariantInit(&v_); }
  explicit Variant(const VARIANT& other);
  Variant(const Variant& other) : Variant(other.v_) {}
  Variant& operator=(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(Variant&& other) noexcept;
  ~Variant() { ::VariantClear(&v_); }

  explicit Variant(LONG value);                 // VT_I4
  explicit Variant(int value) : Variant(static_cast<LONG>(value)) {}
  explicit Variant(bool value);                 // VT_BOOL
  explicit Variant(const wchar_t* text);        // VT_BSTR (null text: null BSTR)
  explicit Variant(IUnknown* unknown);          // VT_UNKNOWN, adds a reference
  explicit Variant(IDispatch* dispatch);        // VT_DISPATCH, adds a reference

  VARTYPE type() const { return V_VT(&v_); }
  const VARIANT& value() const { return v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* get() { return &v_; }
  // Clears the value and returns it for an out-parameter.
  VARIANT* put();

  HRESULT clear() { return ::VariantClear(&v_); }
  // A deep copy into an out-parameter that holds nothing yet.
  HRESULT copyTo(VARIANT* out) const;
  // Moves the value into an out-parameter that holds nothing yet; this holder
  // is left empty.
  HRESULT detachTo(VARIANT* out);
  // Takes over the value of v and leaves v empty.
  void attach(VARIANT& v);
  // Replaces the value with a deep copy; a failure leaves the old value.
  HRESULT assign(const VARIANT& v);
  // Converts in place (VariantChangeType, flags 0).
  HRESULT changeType(VARTYPE type);

 private:
  VARIANT v_;
};

// A VT_UI4 value: the form in which parameter ids, field selectors and keys
// cross COM.
Variant ui4(ULONG value);

}  // namespace com
