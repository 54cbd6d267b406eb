// CSetDevAndDtmAddrCtrl: the polling address of a HART device on the
// channel and the address and tag of the child device DTM that stands for
// it, changed in one dialog (function 10, "Set DTM and Device Address").
// The child DTM is the one whose system tag parameter 1007 holds; the
// device's present polling address is parameter 1006. The device is moved
// with IHART_Channel::ChangeAddress (only while the DTM is online), the
// child DTM's document is written with IHART_Channel::SetDeviceDtmInfo.
// Outcomes and range errors stand in item 6030 with the warning icon.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "hartcommdtm.h"
#include "toolkit/controls/control_base.h"

class CSetDevAndDtmAddrCtrl : public com::DispatchImpl<ISetDevDtmAddrCtrl>,
                              public DtmControl {
 public:
  CSetDevAndDtmAddrCtrl();
  static const com::InterfaceEntry* interfaceMap();

  // The base's binding, then parameters 1007 and 1006 and the channel;
  // E_POINTER without the channel.
  STDMETHODIMP AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) override;
  STDMETHODIMP OnStateChanged(unsigned long state) override;
  STDMETHODIMP SetProperty(VARIANT key, VARIANT value) override;
  // Asks "Apply changes?" about unapplied changes, then the base's release.
  STDMETHODIMP PrepareToRelease(VARIANT_BOOL* result) override;

 protected:
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDialogCreated() override;
  // The instruction stands in 6030, whose label the translation put back.
  void OnTranslated() override;

 private:
  // Both address fields and the tag from the child DTM's entry.
  void InitPage();
  // Editable parts, instruction text, item states and marks.
  void UpdatePage();
  void DetermineEditableFields();
  // Shows the marks of the fields; true when a field holds a change.
  bool CheckAddressChanges();
  void OnSyncClicked();
  void OnSlaveAddressEdited();
  // Moves the device, then writes the child DTM's address and tag; E_FAIL
  // with the reason in item 6030, E_POINTER without a channel. The control
  // takes no input meanwhile (the channel serves messages while it works).
  HRESULT ApplyAddressChanges();
  // The calls of ApplyAddressChanges: the device to newSlave (when
  // moveDevice), then the child DTM's address and tag; on failure the text
  // to show in *error.
  HRESULT ChangeAddresses(IHART_Channel* channel, bool moveDevice, uint8_t newSlave, uint8_t newChild,
                          com::Bstr tag, std::wstring* error);
  void CopySlaveAddressToChild();
  void ShowError(const wchar_t* text);
  void ShowMessage(UINT id, const wchar_t* key);
  bool SyncChecked() const;
  // The address an item holds; false when it holds none (0 to 63 only).
  bool ItemAddress(UINT item, uint8_t* address) const;
  bool SameTag(const wchar_t* text) const;

  com::Bstr childSystemTag_;
  com::Bstr childTag_;
  com::ComPtr<IHART_Channel> channel_;
  BYTE slaveAddress_ = 0xFF;
  BYTE childAddress_ = 0xFF;
  bool slaveEditable_ = false;
  bool childEditable_ = false;
  // A change runs (ApplyAddressChanges), and a close was asked for meanwhile.
  bool busy_ = false;
  bool closeAfterChange_ = false;
};
