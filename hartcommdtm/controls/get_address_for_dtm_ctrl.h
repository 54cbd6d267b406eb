// CGetNewAddressForDtmCtrl: asks the user for the bus address of a device
// DTM just added below the HART channel (function 9, "Get Address for
// DTM"). The DTM opens it through the frame's modal call after proposing
// the address in parameter 1012 and clearing parameter 1011; the control
// shows the new DTM's tag (parameter 1013), takes an address from 0 to 63
// into parameter 1012 and leaves parameter 1011 at 0 on "OK", or sets 1011
// to 1 when the user cancels or the control goes without "OK".
#pragma once

#include <windows.h>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "hartcommdtm.h"
#include "toolkit/controls/control_base.h"

class CGetNewAddressForDtmCtrl : public com::DispatchImpl<ISetDevDtmAddrCtrl>,
                                 public DtmControl {
 public:
  CGetNewAddressForDtmCtrl();
  static const com::InterfaceEntry* interfaceMap();
  // The base's binding, then the new DTM's tag into its field.
  STDMETHODIMP AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) override;
  // Without "OK" the address counts as cancelled (parameter 1011 = 1).
  STDMETHODIMP PrepareToRelease(VARIANT_BOOL* result) override;

 protected:
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDialogCreated() override;
  // A control that the frame drops without PrepareToRelease counts as
  // cancelled unless "OK" took an address.
  void OnUnbinding() override;

 private:
  void OnOk();
  void OnCancel();
  HRESULT WriteNumber(ULONG id, LONG value);

  // Set once "OK" has taken an address; never cleared.
  BYTE ok_ = 0;
  // The tag read at AttachDtm, shown again if the window comes later.
  com::Bstr tag_;
};
