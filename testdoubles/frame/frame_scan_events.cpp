#include "frame_scan_events.h"

#include <string>
#include <vector>

namespace frame_double {

STDMETHODIMP ScanEventsPart::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                                    EXCEPINFO*, UINT* argError) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (id != 1) return DISP_E_MEMBERNOTFOUND;
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (!params || params->cArgs != 2 || params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
  // Arguments arrive last first.
  const VARIANT& document = params->rgvarg[0];
  const VARIANT& invokeId = params->rgvarg[1];
  if (invokeId.vt != VT_BSTR) {
    if (argError) *argError = 1;
    return DISP_E_TYPEMISMATCH;
  }
  if (document.vt != VT_BSTR) {
    if (argError) *argError = 0;
    return DISP_E_TYPEMISMATCH;
  }
  return scanResult(invokeId.bstrVal ? invokeId.bstrVal : L"", document.bstrVal ? document.bstrVal : L"");
}

STDMETHODIMP ScanEventsPart::OnScanResult(BSTR, BSTR) {
  vtableCalled();
  return E_UNEXPECTED;
}

const com::InterfaceEntry* ScanEventsFrame::interfaceMap() {
  static const std::vector<com::InterfaceEntry> map = [] {
    std::vector<com::InterfaceEntry> entries;
    for (const com::InterfaceEntry* e = NoticeFrame::interfaceMap(); e->iid; ++e) entries.push_back(*e);
    entries.push_back(com::entryQuery(__uuidof(IFrameScanEvents), &ScanEventsFrame::queryScanPart));
    entries.push_back(com::endOfMap());
    return entries;
  }();
  return map.data();
}

HRESULT ScanEventsFrame::queryScanPart(void* object, REFIID, void** out) {
  auto* self = static_cast<ScanEventsFrame*>(static_cast<NoticeFrame*>(object));
  *out = nullptr;
  if (!self->offerScanEvents_) return E_NOINTERFACE;
  IFrameScanEvents* part = static_cast<IFrameScanEvents*>(self);
  part->AddRef();
  *out = part;
  return S_OK;
}

HRESULT ScanEventsFrame::scanResult(const wchar_t* invokeId, const wchar_t* document) {
  record("FrameScanEvents", "OnScanResult", {invokeId, document});
  if (hook_) hook_(invokeId, document);
  const bool final = std::wstring(document).find(L"resultState=\"final\"") != std::wstring::npos;
  return final ? finalFailure_ : S_OK;
}

void ScanEventsFrame::vtableCalled() { record("FrameScanEvents", "OnScanResultVtable", {}); }

com::ComPtr<IUnknown> createScanEventsFrame(ScanEventsFrame** object) { return createFrameObject(object); }

}  // namespace frame_double
