// CSetSlaveAddrCtrl: moves the HART device selected in the DTM's channel to
// another polling address (function 12, "Change Slave Address"). Shows the
// device's current polling address (parameter 1006), takes the new one,
// asks the channel to change it (IHART_Channel::ChangeAddress) and shows
// the outcome of every result as a status text.
#pragma once

#include <windows.h>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "hartcommdtm.h"
#include "toolkit/controls/control_base.h"

class CSetSlaveAddrCtrl : public com::DispatchImpl<ISetSlaveAddrCtrl>,
                          public DtmControl {
 public:
  CSetSlaveAddrCtrl();
  static const com::InterfaceEntry* interfaceMap();

  STDMETHODIMP OnStateChanged(unsigned long state) override;

 protected:
  // After the base's Init: the DTM's HART channel (E_POINTER without one)
  // and the current address from parameter 1006.
  HRESULT OnInit() override;
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDialogCreated() override;
  void OnEditStateChanged() override;

 private:
  // Change Address and the new address are usable while the DTM
  // communicates (state 9 or 12), no change runs and the user may edit.
  void UpdateControlStates();
  void OnChangeAddress();
  // The outcome's text in the status item.
  void ShowOutcome(HRESULT result);
  // The current address into its item, the new address limited to two
  // digits, "no channel found" when Init found none (once the window and
  // the address are there).
  void ShowAddresses();

  com::ComPtr<IHART_Channel> channel_;
  bool busy_ = false;
  bool noChannel_ = false;
  bool addressRead_ = false;
  BYTE currentAddress_ = 0;
};
