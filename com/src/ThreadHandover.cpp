#include "com/ThreadHandover.h"

#include <utility>

namespace com {

namespace {

bool IsInterface(VARTYPE type) { return type == VT_UNKNOWN || type == VT_DISPATCH; }

const IID& InterfaceIdOf(VARTYPE type) { return type == VT_DISPATCH ? IID_IDispatch : IID_IUnknown; }

}  // namespace

HRESULT VariantHandover::pack(const VARIANT& value) {
  HRESULT hr = value_.assign(value);
  if (FAILED(hr)) return hr;
  VARIANT* held = value_.get();
  if (IsInterface(V_VT(held))) {
    Marshalled m{kWhole, V_VT(held), {}};
    IUnknown* object = V_UNKNOWN(held);  // VT_DISPATCH shares the slot
    if (object) {
      hr = m.object.marshal(InterfaceIdOf(m.type), object);
      if (FAILED(hr)) return hr;
      marshalled_.push_back(std::move(m));
    }
    value_.clear();
    return S_OK;
  }
  if (V_VT(held) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(held) || ::SafeArrayGetDim(V_ARRAY(held)) != 1)
    return S_OK;
  SAFEARRAY* array = V_ARRAY(held);
  LONG lower = 0, upper = -1;
  ::SafeArrayGetLBound(array, 1, &lower);
  ::SafeArrayGetUBound(array, 1, &upper);
  for (LONG index = lower; index <= upper; ++index) {
    Variant element;
    if (FAILED(::SafeArrayGetElement(array, &index, element.put())) || !IsInterface(element.type())) continue;
    Marshalled m{index, element.type(), {}};
    if (IUnknown* object = V_UNKNOWN(element.get())) {
      hr = m.object.marshal(InterfaceIdOf(m.type), object);
      if (FAILED(hr)) return hr;
      marshalled_.push_back(std::move(m));
    }
    // The copy keeps no pointer of this apartment.
    Variant empty;
    hr = ::SafeArrayPutElement(array, &index, empty.get());
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT VariantHandover::take(VARIANT* out) {
  if (!out) return E_POINTER;
  ::VariantInit(out);
  HRESULT hr = value_.detachTo(out);
  if (FAILED(hr)) return hr;
  for (Marshalled& m : marshalled_) {
    IUnknown* object = nullptr;
    if (FAILED(m.object.unmarshal(InterfaceIdOf(m.type), reinterpret_cast<void**>(&object)))) object = nullptr;
    VARIANT element;
    ::VariantInit(&element);
    V_VT(&element) = m.type;
    V_UNKNOWN(&element) = object;  // VT_DISPATCH shares the slot
    if (m.index == kWhole) {
      *out = element;  // the reference moves into the result
      continue;
    }
    hr = ::SafeArrayPutElement(V_ARRAY(out), &m.index, &element);  // adds its own reference
    if (object) object->Release();
    if (FAILED(hr)) return hr;
  }
  marshalled_.clear();
  return S_OK;
}

}  // namespace com
