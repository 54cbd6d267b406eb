// A dispatch-only event sink for frame doubles, as frames implement the
// DTM-event sinks: an object of its own, distinct from the frame object and
// its container's IDispatch, answering IDispatch and its own dispatch
// interface and nothing that works after IDispatch. Invoke hands each call
// to the double by dispatch id; a caller that took the sink for a dual
// interface and called through its vtable reaches one of the slots after
// Invoke, which reports the misuse and fails.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <string>

#include "com/Dispatch.h"

namespace frame_double {

class DispatchOnlySink : public com::DispatchByIdOnly {
 public:
  using InvokeHandler = std::function<HRESULT(DISPID id, const DISPPARAMS& params, VARIANT* result)>;
  using MisuseHandler = std::function<void(int slot)>;

  // owner: the double's controlling IUnknown (no reference is added; the
  // sink lives inside the double); iid: the sink's dispatch interface.
  DispatchOnlySink(IUnknown* owner, REFIID iid, InvokeHandler onInvoke, MisuseHandler onVtableCall)
      : owner_(owner), iid_(iid), onInvoke_(std::move(onInvoke)), onVtableCall_(std::move(onVtableCall)) {}
  DispatchOnlySink(const DispatchOnlySink&) = delete;
  DispatchOnlySink& operator=(const DispatchOnlySink&) = delete;
  // Not virtual: a virtual destructor would take the vtable slots right
  // after Invoke, where the misuse traps must be.
  ~DispatchOnlySink() = default;

  // Argument i (declaration order) of a call as text; empty when missing.
  static std::wstring Text(const DISPPARAMS& params, UINT i) {
    VARIANT copy;
    ::VariantInit(&copy);
    std::wstring out;
    if (i < params.cArgs &&
        SUCCEEDED(::VariantChangeType(&copy, &params.rgvarg[params.cArgs - 1 - i], 0, VT_BSTR)) &&
        V_BSTR(&copy))
      out = V_BSTR(&copy);
    ::VariantClear(&copy);
    return out;
  }
  // Argument i as a VARIANT_BOOL / a 16-bit number; false / 0 when missing.
  static VARIANT_BOOL Flag(const DISPPARAMS& params, UINT i) {
    VARIANT copy;
    ::VariantInit(&copy);
    VARIANT_BOOL out = VARIANT_FALSE;
    if (i < params.cArgs &&
        SUCCEEDED(::VariantChangeType(&copy, &params.rgvarg[params.cArgs - 1 - i], 0, VT_BOOL)))
      out = V_BOOL(&copy);
    return out;
  }
  static short Short(const DISPPARAMS& params, UINT i) {
    VARIANT copy;
    ::VariantInit(&copy);
    short out = 0;
    if (i < params.cArgs &&
        SUCCEEDED(::VariantChangeType(&copy, &params.rgvarg[params.cArgs - 1 - i], 0, VT_I2)))
      out = V_I2(&copy);
    return out;
  }

  // IUnknown: an object of its own, as a frame's sink often is, so that
  // the dispatch proxy's stub, which calls the IDispatch of the object it
  // serves, reaches this sink. IMarshal is the double's: an agile double's
  // sinks are agile too. Its lifetime is the double's.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    // COM's marshaller asks for the identifier it marshals under; a sink
    // handed between apartments under its own one is asked for it.
    if (IsEqualIID(iid, iid_)) ::InterlockedIncrement(&ownQueries_);
    if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, iid_)) {
      AddRef();
      *out = static_cast<IDispatch*>(this);
      return S_OK;
    }
    if (IsEqualIID(iid, IID_IMarshal)) return owner_->QueryInterface(iid, out);
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

  // How often the sink itself was asked for its dispatch interface (the
  // frame answering it hands the sink over without asking it).
  LONG ownInterfaceQueries() const { return ::InterlockedCompareExchange(&ownQueries_, 0, 0); }

  // IDispatch: no type information; calls by dispatch id only.
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return onInvoke_(id, params ? *params : none, result);
  }

  // Where a dual interface would have its own methods. On x86_64 the caller
  // cleans the stack, so whatever arguments a misplaced call passes are
  // harmless here.
  virtual HRESULT STDMETHODCALLTYPE Slot7() { return Misuse(7); }
  virtual HRESULT STDMETHODCALLTYPE Slot8() { return Misuse(8); }
  virtual HRESULT STDMETHODCALLTYPE Slot9() { return Misuse(9); }
  virtual HRESULT STDMETHODCALLTYPE Slot10() { return Misuse(10); }
  virtual HRESULT STDMETHODCALLTYPE Slot11() { return Misuse(11); }
  virtual HRESULT STDMETHODCALLTYPE Slot12() { return Misuse(12); }
  virtual HRESULT STDMETHODCALLTYPE Slot13() { return Misuse(13); }
  virtual HRESULT STDMETHODCALLTYPE Slot14() { return Misuse(14); }
  virtual HRESULT STDMETHODCALLTYPE Slot15() { return Misuse(15); }
  virtual HRESULT STDMETHODCALLTYPE Slot16() { return Misuse(16); }
  virtual HRESULT STDMETHODCALLTYPE Slot17() { return Misuse(17); }
  virtual HRESULT STDMETHODCALLTYPE Slot18() { return Misuse(18); }
  virtual HRESULT STDMETHODCALLTYPE Slot19() { return Misuse(19); }
  virtual HRESULT STDMETHODCALLTYPE Slot20() { return Misuse(20); }
  virtual HRESULT STDMETHODCALLTYPE Slot21() { return Misuse(21); }
  virtual HRESULT STDMETHODCALLTYPE Slot22() { return Misuse(22); }

 private:
  HRESULT Misuse(int slot) {
    if (onVtableCall_) onVtableCall_(slot);
    return E_NOTIMPL;
  }

  IUnknown* owner_;
  IID iid_;  // the dispatch interface the sink stands for
  mutable LONG ownQueries_ = 0;
  InvokeHandler onInvoke_;
  MisuseHandler onVtableCall_;
};

}  // namespace frame_double
