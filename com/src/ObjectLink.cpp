#include "com/ObjectLink.h"

#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "win32/unique_handle.h"

namespace com {
namespace {

class ObjectLink : public ObjectRoot, public DispatchByIdOnly {
 public:
  static const InterfaceEntry* interfaceMap() {
    static const InterfaceEntry map[] = {entry<ObjectLink, IDispatch>(), endOfMap()};
    return map;
  }

  void Attach(IUnknown* object) {
    win32::CsLock hold(lock_);
    object_ = object;
  }

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    ::VariantInit(result);
    win32::CsLock hold(lock_);
    if (!object_) return S_OK;
    // A count past the layer's teardown mark: the object is being destroyed
    // and has not cleared the link yet. It is not handed out again.
    if (object_->AddRef() > static_cast<ULONG>(kReleasing)) {
      object_->Release();
      return S_OK;
    }
    V_VT(result) = VT_UNKNOWN;
    V_UNKNOWN(result) = object_;  // the reference taken above
    return S_OK;
  }

 private:
  win32::CriticalSection lock_;
  IUnknown* object_ = nullptr;
};

}  // namespace

HRESULT createObjectLink(IUnknown* object, ComPtr<IDispatch>& link) {
  link = nullptr;
  ComObject<ObjectLink>* made = nullptr;
  const HRESULT hr = ComObject<ObjectLink>::create(&made);
  if (FAILED(hr)) return hr;
  made->Attach(object);
  link.attach(made);
  return S_OK;
}

void clearObjectLink(IDispatch* link) {
  if (link) static_cast<ObjectLink*>(static_cast<DispatchByIdOnly*>(link))->Attach(nullptr);
}

ComPtr<IUnknown> resolveObjectLink(IDispatch* link) {
  ComPtr<IUnknown> object;
  if (!link) return object;
  DISPPARAMS none{};
  Variant value;
  if (SUCCEEDED(link->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                             value.put(), nullptr, nullptr)) &&
      value.type() == VT_UNKNOWN && value.value().punkVal)
    object = value.value().punkVal;
  return object;
}

}  // namespace com
