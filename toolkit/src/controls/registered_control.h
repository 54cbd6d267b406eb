// What a control registers with its DTM's function container: a small
// object that passes the container's calls (IevFdtActiveX4,
// IevFdtActiveXInfo) on to the control without holding a reference on it.
//
// The container keeps a reference on what is registered until the control
// takes its record back. Were that the control itself, a frame that drops
// the control without PrepareToRelease would leave the two holding each
// other. Through this object only the frame keeps the control alive: its
// last release ends the control, which takes its record back and cuts the
// link (Unlink) before it goes. A call that arrives afterwards is refused.
#pragma once

#include <windows.h>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "toolkit.h"

class DtmControl;

class RegisteredControl : public com::ObjectRoot,
                          public com::DispatchImpl<IevFdtActiveX4>,
                          public com::DispatchImpl<IevFdtActiveXInfo> {
 public:
  static const com::InterfaceEntry* interfaceMap();
  // A new registration object for control, which it does not reference.
  static HRESULT Create(DtmControl* control, com::ComPtr<IUnknown>& object, RegisteredControl** self);
  // From now on every call is refused (E_UNEXPECTED).
  void Unlink() { control_ = nullptr; }

  // IevFdtActiveX4
  STDMETHODIMP OnStateChanged(unsigned long state) override;
  STDMETHODIMP OutputTrace(BSTR text) override;
  STDMETHODIMP OnDtmMessage(VARIANT id, VARIANT value, BSTR text) override;
  STDMETHODIMP SetProperty(VARIANT key, VARIANT value) override;
  STDMETHODIMP AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) override;
  STDMETHODIMP DetachDtm(VARIANT_BOOL* result) override;
  // IevFdtActiveXInfo
  STDMETHODIMP GetInfo(VARIANT what, VARIANT* result) override;
  STDMETHODIMP SetInfo(VARIANT what, VARIANT value) override;
  STDMETHODIMP SetFrameContainer(IUnknown* frameContainer) override;

 private:
  // Calls the control's interface, holding the control for the call (the
  // frame may drop it meanwhile).
  template <class Interface, class Call>
  HRESULT Forward(Call call);

  DtmControl* control_ = nullptr;
};
