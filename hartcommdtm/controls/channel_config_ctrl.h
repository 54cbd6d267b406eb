// CChannelConfigCtrl: the page of the HART channel's settings (function 3,
// "Channel Configuration"): primary master, preamble count, retry count and
// the highest polling address a scan visits, editable only while the DTM is
// offline and the user may edit.
#pragma once

#include <windows.h>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "hartcommdtm.h"
#include "toolkit/controls/control_base.h"

class CChannelConfigCtrl : public com::DispatchImpl<IChannelConfigCtrl>,
                           public DtmControl {
 public:
  CChannelConfigCtrl();
  static const com::InterfaceEntry* interfaceMap();

  STDMETHODIMP OnStateChanged(unsigned long state) override;
  // Asks "Apply changes?" about changes that can be applied, then releases.
  STDMETHODIMP PrepareToRelease(VARIANT_BOOL* result) override;

 protected:
  // Function 3 is not offered again while the page is open, until it goes.
  HRESULT OnInit() override;
  void OnUnbinding() override;
  HRESULT SetParameterStatus(LONG id, ULONG flags) override;
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDialogCreated() override;
  void OnEditStateChanged() override;
  // The refusal text stands in 6030, whose label the translation put back.
  void OnTranslated() override;

 private:
  // Items enabled or refused (with the reason shown) for the DTM state.
  void UpdateControlStates(ULONG state);
  bool SettingsLocked(ULONG state) const;
  bool HasApplicableChanges();
  // Writes every changed row: into the data set, or to the device for a
  // device value outside the offline mode. E_FAIL when a row is invalid.
  HRESULT ApplyChanges();
  HRESULT Apply();
};
