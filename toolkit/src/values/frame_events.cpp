#include "toolkit/values/frame_events.h"

#include "com/Dispatch.h"
#include "com/Variant.h"

namespace frame_events {

namespace {

// The VARIANTs borrow their values: Invoke only reads its arguments.
VARIANT Text(BSTR text) {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = text;
  return v;
}

VARIANT Flag(VARIANT_BOOL flag) {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

VARIANT Short(short value) {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_I2;
  V_I2(&v) = value;
  return v;
}

}  // namespace

HRESULT QuerySink(IUnknown* frame, REFIID sinkIid, com::ComPtr<IDispatch>& sink) {
  sink = nullptr;
  if (!frame) return S_FALSE;
  if (FAILED(frame->QueryInterface(sinkIid, sink.putVoid())) || !sink) {
    sink = nullptr;
    return S_FALSE;
  }
  return S_OK;
}

HRESULT OfferSink(IUnknown* frame, REFIID sinkIid, com::GlobalInterface& entry) {
  entry.revoke();
  com::ComPtr<IDispatch> sink;
  if (QuerySink(frame, sinkIid, sink) != S_OK) return S_FALSE;
  return entry.enter(sinkIid, sink.get());
}

HRESULT Notify(IDispatch* sink, DISPID id, BSTR text) {
  return com::invokeMethod(sink, id, {Text(text)});
}

HRESULT Notify(IDispatch* sink, DISPID id, BSTR first, BSTR second) {
  return com::invokeMethod(sink, id, {Text(first), Text(second)});
}

HRESULT NotifyFlag(IDispatch* sink, DISPID id, BSTR text, VARIANT_BOOL flag) {
  return com::invokeMethod(sink, id, {Text(text), Flag(flag)});
}

HRESULT Progress(IDispatch* sink, BSTR systemTag, BSTR title, short percent, VARIANT_BOOL show) {
  return com::invokeMethod(sink, kProgress,
                           {Text(systemTag), Text(title), Short(percent), Flag(show)});
}

HRESULT Ask(IDispatch* sink, DISPID id, BSTR text, VARIANT_BOOL* answer) {
  if (!answer) return E_POINTER;
  *answer = VARIANT_FALSE;
  com::Variant result;
  HRESULT hr = com::invokeMethod(sink, id, {Text(text)}, result.put());
  if (FAILED(hr)) return hr;
  com::Variant flag;
  if (SUCCEEDED(::VariantChangeType(flag.get(), result.get(), 0, VT_BOOL)) && V_BOOL(flag.get()))
    *answer = VARIANT_TRUE;
  return hr;
}

}  // namespace frame_events
