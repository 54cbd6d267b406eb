// CSetDevDtmAddrCtrl: the address and tag of a device DTM just added below
// the HART channel (function 11, "Set DeviceDTM Address"). The DTM stores
// the new DTM's system tag in parameter 1007 and asks the frame to open
// this control; the control shows that system tag with the address and tag
// the channel knows for it, and "OK" writes the corrected ones to the
// channel (IHART_Channel::SetDeviceDtmInfo).
//
// Whenever the control goes it tells the DTM
// (IHART_CommDTM::ClosingSetDtmAddrActXNotification), which ends the wait
// of a DeviceDtmAdded call that opened it: from PrepareToRelease, and, when
// the frame drops the control without asking, as the binding ends. A DTM
// that waited for it in vain says so (hart_control_message): the control
// then asks to be closed and tells the DTM nothing more, since that would
// end the wait of the call for the next device DTM. The control stays with
// the system tag it first showed, whatever parameter 1007 names later.
#pragma once

#include <windows.h>

#include "com/Bstr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "hartcommdtm.h"
#include "toolkit/controls/control_base.h"

class CSetDevDtmAddrCtrl : public com::DispatchImpl<ISetDevDtmAddrCtrl>,
                           public DtmControl {
 public:
  CSetDevDtmAddrCtrl();
  static const com::InterfaceEntry* interfaceMap();

  // The base's, then the DTM is told that the control goes; S_FALSE with
  // result FALSE when the DTM cannot be told.
  STDMETHODIMP PrepareToRelease(VARIANT_BOOL* result) override;
  // The base's; the edit permission (9993) also enables or disables the
  // fields. Always S_OK for an id that converts to a number.
  STDMETHODIMP SetProperty(VARIANT key, VARIANT value) override;
  // The DTM's end of its wait for this control's device DTM; other
  // messages go to the base.
  STDMETHODIMP OnDtmMessage(VARIANT id, VARIANT value, BSTR text) override;

 protected:
  // The system-tag row (1007) has no item: showing it takes the parameter
  // the first time (the device DTM the control was opened for) and fills
  // the dialog from the channel; reading it yields nothing.
  HRESULT DisplayValue(int row, const VARIANT& value) override;
  HRESULT ReadItemValue(int row, VARIANT* value) override;
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDialogCreated() override;
  void OnEditStateChanged() override;
  // The translation put the new language's instruction into item 6030, in
  // place of any error: the one kept in the old language is dropped.
  void OnTranslated() override;
  // Tells the DTM, unless PrepareToRelease did.
  void OnUnbinding() override;

 private:
  void FillDialog();
  void EnableItems();
  // "OK": the address and tag to the channel, the change counter toggled,
  // then the close request. E_POINTER without a channel.
  HRESULT OnApply();
  void ToggleChangeCounter();
  // The instruction text back in item 6030, or an error text in its place.
  void ShowStatus(const wchar_t* error);
  bool NotifyDtm();

  com::Bstr systemTag_;
  com::Bstr instructions_;  // the dialog's own text of item 6030, kept while an error shows
  bool notified_ = false;
  bool tagTaken_ = false;
  bool waitedOut_ = false;  // the DTM no longer waits for this control
  bool busy_ = false;  // the channel writes the child DTM's document
};
