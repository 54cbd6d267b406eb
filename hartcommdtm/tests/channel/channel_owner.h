// The owning DTM as the channel sees it: IDtm, IevFdtBaseDTM (state and
// system tag), IevFdtDtmEvents (records the texts shown to the user) and a
// parameter handler with the channel settings the DTM declares.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "fdt.h"
#include "hartcommdtm.h"
#include "toolkit.h"
#include "toolkit/params/param_handler.h"
#include "win32/unique_handle.h"

namespace channeltest {

class ChannelOwner : public com::ObjectRoot,
                     public com::DispatchImpl<IDtm>,
                     public com::DispatchImpl<IevFdtBaseDTM>,
                     public com::DispatchImpl<IevFdtDtmEvents>,
                     public com::DispatchImpl<IHART_CommDTM>,
                     public CevFDT_ParameterHandlerImpl<ChannelOwner> {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();
  IUnknown* GetCommDtmInterface() { return static_cast<IDtm*>(this); }

  // Texts shown to the user (DTM event 16), in order.
  std::vector<std::wstring> messages() const;
  // Progress reports (DTM event 18), in order, each with the value that
  // parameter 1005 (scan active) had when it arrived.
  struct Progress {
    std::wstring text;
    long percent = -1;
    bool running = false;
    bool scanActive = false;
  };
  std::vector<Progress> progress() const;
  void clearProgress();
  // Runs inside each progress report, on the reporting thread.
  void onProgress(std::function<void(const Progress&)> hook) { progressHook_ = std::move(hook); }
  // Value of one of the declared parameters.
  HRESULT value(ULONG id, VARIANT* out) { return GetValue(id, out); }
  HRESULT set(ULONG id, const VARIANT& v) { return SetValue(id, v); }
  void setState(long state) { state_ = state; }

  // IDtm
  STDMETHODIMP SetEnvironment(BSTR, IUnknown*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP InitNewDeviceType(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP Config(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetCommunication(IUnknown*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP ShutdownDtm(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP PrepareToReleaseCommunication(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseCommunication(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP PrepareDelete(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetLanguage(long, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFunctions(BSTR, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP InvokeFunctionRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetSharedUiFlag(VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }

  // IevFdtBaseDTM: state and system tag; the rest is not used by a channel.
  STDMETHODIMP SetState(long newState) override;
  STDMETHODIMP GetDtmState(long* state) override;
  STDMETHODIMP GetSystemTag(BSTR* systemTag) override;
  STDMETHODIMP BroadcastProperty(VARIANT, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetLanguageId(long*) override { return E_NOTIMPL; }
  STDMETHODIMP SetParameterValue(VARIANT_BOOL, unsigned long, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP EnsureSchemaCache(BSTR, IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP InitForDeviceType(IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadResourceText(VARIANT, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP OnStateTransition(long, long) override { return E_NOTIMPL; }
  STDMETHODIMP SwitchAuditTrail(VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP UploadRequest(VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP LockDataSet(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseDataSetLock() override { return E_NOTIMPL; }
  STDMETHODIMP UnlockDataSet() override { return E_NOTIMPL; }
  STDMETHODIMP PublishState() override { return E_NOTIMPL; }
  STDMETHODIMP CompareDeviceParameters(BSTR*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP CompareDeviceParametersEx(VARIANT, BSTR*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP CreateDataCopy(VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadWorkingCopy(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseDataSet() override { return E_NOTIMPL; }
  STDMETHODIMP SelectDeviceTypeVersion(IDispatch*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP EmptyOperation() override { return E_NOTIMPL; }
  STDMETHODIMP GetDataSetReference(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP InitChannels() override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseChannels() override { return E_NOTIMPL; }
  STDMETHODIMP AfterChannelsReleased() override { return E_NOTIMPL; }
  STDMETHODIMP AfterWorkingCopyLoaded() override { return E_NOTIMPL; }
  STDMETHODIMP ApplyExportedVariables(IDispatch*) override { return E_NOTIMPL; }
  STDMETHODIMP CheckStreamSignature(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; }

  // IevFdtDtmEvents
  STDMETHODIMP OnDtmEvent(VARIANT code, VARIANT value) override;

  // IHART_CommDTM: the scan range "the user chose" (setScanRange), or its
  // failure; the rest is not used by these tests.
  void setScanRange(HRESULT result, long start, long end) {
    rangeResult_ = result;
    rangeStart_ = start;
    rangeEnd_ = end;
  }
  STDMETHODIMP DeviceDtmAdded(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP ClosingSetDtmAddrActXNotification() override { return E_NOTIMPL; }
  STDMETHODIMP GetScanRangeViaGUI(long* start, long* end) override {
    if (!start || !end) return E_POINTER;
    *start = rangeStart_;
    *end = rangeEnd_;
    return rangeResult_;
  }
  STDMETHODIMP GetDeviceDtmAddressViaGUI(long*) override { return E_NOTIMPL; }

 private:
  mutable win32::CriticalSection lock_;
  std::vector<std::wstring> messages_;
  std::vector<Progress> progress_;
  std::function<void(const Progress&)> progressHook_;
  long state_ = 9;
  HRESULT rangeResult_ = E_ABORT;
  long rangeStart_ = 0, rangeEnd_ = 0;
};

com::ComPtr<IUnknown> createChannelOwner(ChannelOwner** object);

}  // namespace channeltest
