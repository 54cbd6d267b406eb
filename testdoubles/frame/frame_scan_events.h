// The notice frame double with the FDT 1.2.1 scan-result sink
// IFrameScanEvents. Frames register their sinks with the dispatch proxy, so
// the sink answers only through IDispatch::Invoke (dispid 1, OnScanResult):
// a call through a vtable slot after Invoke is a fault, recorded as
// "vtable call" and refused, which shows a caller that does not use Invoke.
// Each result is recorded (interface "FrameScanEvents", method
// "OnScanResult", arguments invoke id and document); waitForCalls and
// callsTo of the notice frame read them.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "dispatch_sink.h"
#include "frame_notices.h"

namespace frame_double {

class ScanEventsFrame : public NoticeFrame {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();

  bool& offerScanEvents() { return offerScanEvents_; }
  const DispatchOnlySink& scanSink() const { return *scanSink_; }
  // The "final" document is answered with this failure (S_OK: none).
  void failFinalResult(HRESULT failure) { finalFailure_ = failure; }
  // Runs inside each OnScanResult, on the caller's thread, after recording.
  using ScanResultHook = std::function<void(const std::wstring& invokeId, const std::wstring& document)>;
  void onScanResult(ScanResultHook hook) { hook_ = std::move(hook); }

 private:
  HRESULT invokeScan(DISPID id, const DISPPARAMS& params);
  HRESULT scanResult(const wchar_t* invokeId, const wchar_t* document);

  static HRESULT queryScanPart(void* object, REFIID iid, void** out);
  bool offerScanEvents_ = true;
  HRESULT finalFailure_ = S_OK;
  ScanResultHook hook_;
  std::unique_ptr<DispatchOnlySink> scanSink_;  // IFrameScanEvents
};

com::ComPtr<IUnknown> createScanEventsFrame(ScanEventsFrame** object);

}  // namespace frame_double
