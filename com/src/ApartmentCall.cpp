#include "com/ApartmentCall.h"

#include "com/Dispatch.h"
#include "com/Guard.h"
#include "com/Object.h"

namespace com {
namespace {

class ApartmentCall : public ObjectRoot, public DispatchByIdOnly {
 public:
  static const InterfaceEntry* interfaceMap() {
    static const InterfaceEntry map[] = {entry<ApartmentCall, IDispatch>(), endOfMap()};
    return map;
  }

  // Runs in the object's apartment only (made there, reached through COM),
  // so the function needs no lock.
  void Set(std::function<void()> work) { work_ = std::move(work); }

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if (result) ::VariantInit(result);
    // A copy: the function may clear this object while it runs.
    const std::function<void()> work = work_;
    if (!work) return S_OK;
    return guard([&]() -> HRESULT {
      work();
      return S_OK;
    });
  }

 private:
  std::function<void()> work_;
};

}  // namespace

HRESULT createApartmentCall(std::function<void()> work, ComPtr<IDispatch>& call) {
  call = nullptr;
  ComObject<ApartmentCall>* made = nullptr;
  const HRESULT hr = ComObject<ApartmentCall>::create(&made);
  if (FAILED(hr)) return hr;
  made->Set(std::move(work));
  call.attach(made);
  return S_OK;
}

void clearApartmentCall(IDispatch* call) {
  if (call) static_cast<ApartmentCall*>(static_cast<DispatchByIdOnly*>(call))->Set(nullptr);
}

HRESULT invokeApartmentCall(IDispatch* call) {
  if (!call) return E_POINTER;
  DISPPARAMS none{};
  return call->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                      nullptr);
}

}  // namespace com
