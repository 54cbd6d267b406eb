// IDispatch of a dual interface, served from the module's type library.
//
//   class Calculator : public com::ObjectRoot,
//                      public com::DispatchImpl<ICalculator> { ... };
//
// GetIDsOfNames and Invoke go through ITypeInfo over the interface's type
// information (Module::typeInfo), so the names and dispatch ids are the ones
// in the IDL. The type library is one the module carries (any TYPELIB
// resource, registered or not, so a module can answer IDispatch on
// interfaces whose library it must not register) or, for an interface none
// of them describes, the registered one that names the interface under
// HKCR\Interface.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <initializer_list>

#include "com/ComPtr.h"
#include "com/Module.h"

namespace com {

// Calls method id of a dispatch interface through IDispatch::Invoke, the way
// a dispatch-only sink (one a frame registers with the dispatch proxy) must
// be called. The arguments are given in declaration order; they are only
// read. result may be null. An exception the callee raised
// (DISP_E_EXCEPTION) answers its own code.
HRESULT invokeMethod(IDispatch* target, DISPID id, std::initializer_list<VARIANT> arguments,
                     VARIANT* result = nullptr);

// IDispatch without type information, reached by dispatch id only: the
// class implements Invoke (and IUnknown) itself.
class DispatchByIdOnly : public IDispatch {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
};

template <class Interface>
class DispatchImpl : public Interface {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }

  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return module().typeInfo(__uuidof(Interface), out);
  }

  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                             DISPID* ids) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = module().typeInfo(__uuidof(Interface), info.put());
    if (FAILED(hr)) return hr;
    return info->GetIDsOfNames(names, count, ids);
  }

  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = module().typeInfo(__uuidof(Interface), info.put());
    if (FAILED(hr)) return hr;
    return info->Invoke(static_cast<Interface*>(this), id, flags, params, result, exception,
                        argError);
  }
};

}  // namespace com
