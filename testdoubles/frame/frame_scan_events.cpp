#include "frame_scan_events.h"

#include <string>
#include <vector>

namespace frame_double {

HRESULT ScanEventsFrame::finalConstruct() {
  HRESULT hr = NoticeFrame::finalConstruct();
  if (FAILED(hr)) return hr;
  scanSink_.reset(new DispatchOnlySink(
      controllingUnknown(), DIID_IFrameScanEvents,
      [this](DISPID id, const DISPPARAMS& params, VARIANT*) { return invokeScan(id, params); },
      [this](int slot) { fault("IFrameScanEvents", "vtable call", {std::to_wstring(slot)}); }));
  return S_OK;
}

// OnScanResult (dispatch id 1) with two texts; anything else is refused.
HRESULT ScanEventsFrame::invokeScan(DISPID id, const DISPPARAMS& params) {
  if (id != 1) return DISP_E_MEMBERNOTFOUND;
  if (params.cArgs != 2 || params.cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
  // Arguments arrive last first.
  if (params.rgvarg[0].vt != VT_BSTR || params.rgvarg[1].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  return scanResult(DispatchOnlySink::Text(params, 0).c_str(), DispatchOnlySink::Text(params, 1).c_str());
}

const com::InterfaceEntry* ScanEventsFrame::interfaceMap() {
  static const std::vector<com::InterfaceEntry> map = [] {
    std::vector<com::InterfaceEntry> entries;
    for (const com::InterfaceEntry* e = NoticeFrame::interfaceMap(); e->iid; ++e) entries.push_back(*e);
    entries.push_back(com::entryQuery(DIID_IFrameScanEvents, &ScanEventsFrame::queryScanPart));
    entries.push_back(com::endOfMap());
    return entries;
  }();
  return map.data();
}

HRESULT ScanEventsFrame::queryScanPart(void* object, REFIID, void** out) {
  auto* self = static_cast<ScanEventsFrame*>(static_cast<NoticeFrame*>(object));
  *out = nullptr;
  return self->offerSink("IFrameScanEvents", self->scanSink_.get(), self->offerScanEvents_, out);
}

HRESULT ScanEventsFrame::scanResult(const wchar_t* invokeId, const wchar_t* document) {
  record("FrameScanEvents", "OnScanResult", {invokeId, document});
  if (hook_) hook_(invokeId, document);
  const bool final = std::wstring(document).find(L"resultState=\"final\"") != std::wstring::npos;
  return final ? finalFailure_ : S_OK;
}

com::ComPtr<IUnknown> createScanEventsFrame(ScanEventsFrame** object) { return createFrameObject(object); }

}  // namespace frame_double
