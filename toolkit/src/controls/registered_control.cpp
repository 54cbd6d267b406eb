#include "registered_control.h"

#include "toolkit/controls/control_base.h"

const com::InterfaceEntry* RegisteredControl::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<RegisteredControl, IevFdtActiveX4>(),
      com::entry<RegisteredControl, IDispatch, IevFdtActiveX4>(),
      com::entry<RegisteredControl, IevFdtActiveXInfo>(), com::endOfMap()};
  return map;
}

HRESULT RegisteredControl::Create(DtmControl* control, com::ComPtr<IUnknown>& object,
                                  RegisteredControl** self) {
  com::ComObject<RegisteredControl>* made = nullptr;
  HRESULT hr = com::ComObject<RegisteredControl>::create(&made);
  if (FAILED(hr)) return hr;
  made->control_ = control;
  object.attach(made->identity());
  *self = made;
  return S_OK;
}

template <class Interface, class Call>
HRESULT RegisteredControl::Forward(Call call) {
  if (!control_) return E_UNEXPECTED;
  com::ComPtr<Interface> target(static_cast<Interface*>(control_));
  return call(target.get());
}

STDMETHODIMP RegisteredControl::OnStateChanged(unsigned long state) {
  return Forward<IevFdtActiveX4>([&](IevFdtActiveX4* c) { return c->OnStateChanged(state); });
}

STDMETHODIMP RegisteredControl::OutputTrace(BSTR text) {
  return Forward<IevFdtActiveX4>([&](IevFdtActiveX4* c) { return c->OutputTrace(text); });
}

STDMETHODIMP RegisteredControl::OnDtmMessage(VARIANT id, VARIANT value, BSTR text) {
  return Forward<IevFdtActiveX4>([&](IevFdtActiveX4* c) { return c->OnDtmMessage(id, value, text); });
}

STDMETHODIMP RegisteredControl::SetProperty(VARIANT key, VARIANT value) {
  return Forward<IevFdtActiveX4>([&](IevFdtActiveX4* c) { return c->SetProperty(key, value); });
}

STDMETHODIMP RegisteredControl::AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) {
  return Forward<IevFdtActiveX4>([&](IevFdtActiveX4* c) { return c->AttachDtm(dtm, result); });
}

STDMETHODIMP RegisteredControl::DetachDtm(VARIANT_BOOL* result) {
  return Forward<IevFdtActiveX4>([&](IevFdtActiveX4* c) { return c->DetachDtm(result); });
}

STDMETHODIMP RegisteredControl::GetInfo(VARIANT what, VARIANT* result) {
  return Forward<IevFdtActiveXInfo>([&](IevFdtActiveXInfo* c) { return c->GetInfo(what, result); });
}

STDMETHODIMP RegisteredControl::SetInfo(VARIANT what, VARIANT value) {
  return Forward<IevFdtActiveXInfo>([&](IevFdtActiveXInfo* c) { return c->SetInfo(what, value); });
}

STDMETHODIMP RegisteredControl::SetFrameContainer(IUnknown* frameContainer) {
  return Forward<IevFdtActiveXInfo>([&](IevFdtActiveXInfo* c) { return c->SetFrameContainer(frameContainer); });
}
