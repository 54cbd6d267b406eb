// The owning DTM for the child DTM tests: the channel owner double plus
// what the channel calls when its children change: the DTM's own
// IHART_CommDTM (new child; address dialog with a scripted answer), the
// storage state and channel persistence (modified notices), the control
// container (control properties) and the audit trail. Records every call.
#pragma once

#include <string>
#include <vector>

#include "channel_owner.h"
#include "hartcommdtm.h"

namespace channeltest {

struct OwnerCall {
  std::string method;
  std::wstring argument;  // texts as received, numbers as decimal text
  std::wstring second;
};

class ChildrenOwner : public ChannelOwner,
                      public com::DispatchImpl<IevFdtStorageState>,
                      public com::DispatchImpl<IevFdtChannelPersist>,
                      public com::DispatchImpl<IevFdtActiveXContainer>,
                      public com::DispatchImpl<IevFdtAuditTrail> {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();

  std::vector<OwnerCall> calls() const;
  std::vector<OwnerCall> callsTo(const char* method) const;
  void clearCalls();
  // GetDeviceDtmAddressViaGUI: its result and the address the user chose.
  void setAddressDialog(HRESULT result, long address);

  // IHART_CommDTM (through ChannelOwner)
  STDMETHODIMP DeviceDtmAdded(BSTR bsChildSystemTag) override;
  STDMETHODIMP ClosingSetDtmAddrActXNotification() override { return S_OK; }
  STDMETHODIMP GetDeviceDtmAddressViaGUI(long* plAddress) override;
  // IevFdtStorageState
  STDMETHODIMP SetModified(long modified) override;
  STDMETHODIMP GetModified(long* modified) override;
  STDMETHODIMP LoadFromStream(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveToStream(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadFromPropertyBag(IPropertyBag*, IErrorLog*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveToPropertyBag(IPropertyBag*) override { return E_NOTIMPL; }
  // IevFdtChannelPersist
  STDMETHODIMP SaveChannelCollection(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadChannels(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP SetChannelsModified(VARIANT_BOOL modified) override;
  // IevFdtActiveXContainer
  STDMETHODIMP GetActiveXDescription(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP ControlChanged(BSTR, IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP NotifyControlsState(unsigned long) override { return E_NOTIMPL; }
  STDMETHODIMP SendMessageToControls(VARIANT, VARIANT, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP SetControlsProperty(VARIANT key, VARIANT value) override;
  STDMETHODIMP CloseActiveX(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP RequestFunctionControl(long, long, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetFunctionEnabled(long, long) override { return E_NOTIMPL; }
  STDMETHODIMP ShowUserMessage(BSTR, BSTR, VARIANT, long*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFunctionText(long, BSTR, BSTR*) override { return E_NOTIMPL; }
  // IevFdtAuditTrail
  STDMETHODIMP SetAuditTrailActive(VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFrameAuditTrail(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP WriteDeviceStatusEvent(BSTR, long, long, BSTR, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP WriteFunctionEvent(BSTR, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP WriteVariableEvent(BSTR descriptor, BSTR name, BSTR oldDisplay, BSTR newDisplay) override;

 private:
  void note(const char* method, const std::wstring& argument, const std::wstring& second = L"");

  mutable win32::CriticalSection callLock_;
  std::vector<OwnerCall> calls_;
  long modified_ = 0;
  HRESULT dialogResult_ = S_OK;
  long dialogAddress_ = 0;
};

com::ComPtr<IUnknown> createChildrenOwner(ChildrenOwner** object);

}  // namespace channeltest
