#include "com/Variant.h"

namespace com {

namespace {

// Copies src into the empty dst; a failure leaves dst VT_ERROR with the code.
HRESULT copyOrMarkError(VARIANT& dst, const VARIANT& src) {
  HRESULT hr = ::VariantCopy(&dst, const_cast<VARIANT*>(&src));
  if (FAILED(hr)) {
    ::VariantInit(&dst);
    V_VT(&dst) = VT_ERROR;
    V_ERROR(&dst) = hr;
  }
  return hr;
}

}  // namespace

Variant::Variant(const VARIANT& other) {
  ::VariantInit(&v_);
  throwIfFailed(copyOrMarkError(v_, other));
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) throwIfFailed(assign(other.v_));
  return *this;
}

Variant::Variant(Variant&& other) noexcept : v_(other.v_) { ::VariantInit(&other.v_); }

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    ::VariantClear(&v_);
    v_ = other.v_;
    ::VariantInit(&other.v_);
  }
  return *this;
}

Variant::Variant(LONG value) {
  ::VariantInit(&v_);
  V_VT(&v_) = VT_I4;
  V_I4(&v_) = value;
}

Variant::Variant(bool value) {
  ::VariantInit(&v_);
  V_VT(&v_) = VT_BOOL;
  V_BOOL(&v_) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

Variant::Variant(const wchar_t* text) {
  ::VariantInit(&v_);
  V_VT(&v_) = VT_BSTR;
  V_BSTR(&v_) = nullptr;
  if (text) {
    V_BSTR(&v_) = ::SysAllocString(text);
    if (!V_BSTR(&v_)) {
      V_VT(&v_) = VT_ERROR;
      V_ERROR(&v_) = E_OUTOFMEMORY;
      throw ComError(E_OUTOFMEMORY);
    }
  }
}

Variant::Variant(IUnknown* unknown) {
  ::VariantInit(&v_);
  V_VT(&v_) = VT_UNKNOWN;
  V_UNKNOWN(&v_) = unknown;
  if (unknown) unknown->AddRef();
}

Variant::Variant(IDispatch* dispatch) {
  ::VariantInit(&v_);
  V_VT(&v_) = VT_DISPATCH;
  V_DISPATCH(&v_) = dispatch;
  if (dispatch) dispatch->AddRef();
}

VARIANT* Variant::put() {
  ::VariantClear(&v_);
  return &v_;
}

HRESULT Variant::copyTo(VARIANT* out) const {
  if (!out) return E_POINTER;
  ::VariantInit(out);
  return ::VariantCopy(out, const_cast<VARIANT*>(&v_));
}

HRESULT Variant::detachTo(VARIANT* out) {
  if (!out) return E_POINTER;
  *out = v_;
  ::VariantInit(&v_);
  return S_OK;
}

void Variant::attach(VARIANT& v) {
  ::VariantClear(&v_);
  v_ = v;
  ::VariantInit(&v);
}

HRESULT Variant::assign(const VARIANT& v) {
  if (&v == &v_) return S_OK;
  VARIANT copy;
  ::VariantInit(&copy);
  HRESULT hr = ::VariantCopy(&copy, const_cast<VARIANT*>(&v));
  if (FAILED(hr)) return hr;
  ::VariantClear(&v_);
  v_ = copy;
  return S_OK;
}

HRESULT Variant::changeType(VARTYPE type) { return ::VariantChangeType(&v_, &v_, 0, type); }

Variant ui4(ULONG value) {
  Variant v;
  V_VT(v.get()) = VT_UI4;
  V_UI4(v.get()) = value;
  return v;
}

}  // namespace com
