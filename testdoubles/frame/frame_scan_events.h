// The notice frame double with the FDT 1.2.1 scan-result sink
// IFrameScanEvents. Frames register their sinks with the dispatch proxy, so
// the sink answers only through IDispatch::Invoke (dispid 1, OnScanResult):
// a call through its vtable slot is recorded as "OnScanResultVtable" and
// refused, which shows a caller that does not use Invoke.
// Each result is recorded (interface "FrameScanEvents", method
// "OnScanResult", arguments invoke id and document); waitForCalls and
// callsTo of the notice frame read them.
#pragma once

#include <functional>
#include <string>

#include "frame_notices.h"

namespace frame_double {

class ScanEventsPart : public com::DispatchImpl<IFrameScanEvents> {
 public:
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;
  STDMETHODIMP OnScanResult(BSTR invokeId, BSTR scanIdentifications) override;

 protected:
  virtual HRESULT scanResult(const wchar_t* invokeId, const wchar_t* document) = 0;
  virtual void vtableCalled() = 0;
};

class ScanEventsFrame : public NoticeFrame, public ScanEventsPart {
 public:
  static const com::InterfaceEntry* interfaceMap();

  bool& offerScanEvents() { return offerScanEvents_; }
  // The "final" document is answered with this failure (S_OK: none).
  void failFinalResult(HRESULT failure) { finalFailure_ = failure; }
  // Runs inside each OnScanResult, on the caller's thread, after recording.
  using ScanResultHook = std::function<void(const std::wstring& invokeId, const std::wstring& document)>;
  void onScanResult(ScanResultHook hook) { hook_ = std::move(hook); }

 protected:
  HRESULT scanResult(const wchar_t* invokeId, const wchar_t* document) override;
  void vtableCalled() override;

 private:
  static HRESULT queryScanPart(void* object, REFIID iid, void** out);
  bool offerScanEvents_ = true;
  HRESULT finalFailure_ = S_OK;
  ScanResultHook hook_;
};

com::ComPtr<IUnknown> createScanEventsFrame(ScanEventsFrame** object);

}  // namespace frame_double
