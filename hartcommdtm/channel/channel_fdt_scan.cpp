// CHART_Channel: the FDT channel scan (IFdtChannelScan). The apartment
// checks the request, records its invoke id and posts it; the worker scans
// the requested addresses and sends provisional, final or error
// ScanIdentifications documents to the frame's scan-event sink.
//
// A scan's invoke id leaves the cancel list whenever its worker part ends,
// whichever way, so no cancelled or failed scan leaves one behind.
#include <memory>
#include <string>

#include "channel/hart_channel.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/frame_events.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"

namespace hartdtm {

namespace {

// Removes an invoke id from the cancel list when the scan's worker part ends.
class CancelListEntry {
 public:
  CancelListEntry(ScanCancelList& list, const wchar_t* invokeId) : list_(list), invokeId_(invokeId) {}
  ~CancelListEntry() { list_.Remove(invokeId_.c_str()); }
  CancelListEntry(const CancelListEntry&) = delete;
  CancelListEntry& operator=(const CancelListEntry&) = delete;

 private:
  ScanCancelList& list_;
  std::wstring invokeId_;
};

// The two texts of a scan event's value (invoke id, request document).
HRESULT ReadScanEventValue(const VARIANT& value, std::wstring* invokeId, std::wstring* request) {
  if (value.vt != (VT_ARRAY | VT_VARIANT) || !value.parray || ::SafeArrayGetDim(value.parray) != 1)
    return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  if (FAILED(::SafeArrayGetLBound(value.parray, 1, &lower)) ||
      FAILED(::SafeArrayGetUBound(value.parray, 1, &upper)) || upper - lower + 1 != 2)
    return E_INVALIDARG;
  std::wstring* out[2] = {invokeId, request};
  for (LONG i = 0; i < 2; ++i) {
    com::Variant element;
    LONG at = lower + i;
    if (FAILED(::SafeArrayGetElement(value.parray, &at, element.put())) || element.type() != VT_BSTR ||
        !element.get()->bstrVal)
      return E_INVALIDARG;
    *out[i] = element.get()->bstrVal;
  }
  return S_OK;
}

}  // namespace

STDMETHODIMP CHART_Channel::ScanRequest(BSTR invokeId, BSTR request, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!invokeId) return S_FALSE;
    long state = 0;
    if (FAILED(OwnerDtmState(&state)) || (state != 9 && state != 10 && state != 12)) return S_FALSE;
    // Without a worker the request would never run and its id never leave.
    if (!workerStarted_ || !threadId_) return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    if (FAILED(LoadRequestDocument(request, doc.put())) || !doc) return S_FALSE;
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, 2);
    if (!array) return S_FALSE;
    com::Variant packed;
    packed.get()->vt = VT_ARRAY | VT_VARIANT;
    packed.get()->parray = array;
    com::Variant id(static_cast<const wchar_t*>(invokeId)), text(static_cast<const wchar_t*>(request));
    LONG at = 0;
    if (FAILED(::SafeArrayPutElement(array, &at, id.get()))) return S_FALSE;
    at = 1;
    if (FAILED(::SafeArrayPutElement(array, &at, text.get()))) return S_FALSE;
    scanCancels_.Add(invokeId);
    if (FAILED(PostEvent(CHANNEL_EVENT_SCAN_REQUEST, packed.value()))) {
      scanCancels_.Remove(invokeId);
      return S_FALSE;
    }
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::CancelAction(BSTR invokeId, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!invokeId) return S_FALSE;
    long state = 0;
    if (FAILED(OwnerDtmState(&state)) || (state != 9 && state != 10 && state != 12)) return S_FALSE;
    if (!scanCancels_.Cancel(invokeId)) return S_FALSE;
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

// ---- worker --------------------------------------------------------------------------

HRESULT CHART_Channel::ExecuteScan(const VARIANT& value) {
  std::wstring invokeId, request;
  HRESULT hr = ReadScanEventValue(value, &invokeId, &request);
  if (FAILED(hr)) return hr;
  CancelListEntry entry(scanCancels_, invokeId.c_str());

  // The frame's scan-result sink: queried in the channel's apartment and
  // handed to the worker when it started, not asked of the frame's proxy
  // here, which may answer with the frame object's own IDispatch.
  const com::ComPtr<IDispatch> events = workerScanEvents_;
  if (!events) return E_NOINTERFACE;
  // The request validated on the apartment; here it is only read.
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  hr = XmlHandlerCore::LoadOutsideDocument(request.c_str(), doc.put(), &parsed);
  if (FAILED(hr)) return hr;
  PrepareRequestDocument(doc.get());

  // A request that does not parse is answered with a failed scan result.
  ScanRequestRecord record;
  if (parsed && SUCCEEDED(ParseScanRequestDocument(doc.get(), &record))) {
    GetScanDisplayString();
    ReportProgress(scanDisplayText_.c_str(), 0, true);
    WriteScanActive(true);
    hr = ScanAddresses(record, invokeId.c_str(), events.get());
    WriteScanActive(false);
    ReportProgress(scanDisplayText_.c_str(), 100, false);
    if (SUCCEEDED(hr)) return S_OK;
  }
  ScanIdentificationList failed;
  failed.resultState = kScanError;
  return SendScanResult(events.get(), invokeId.c_str(), failed);
}

void CHART_Channel::DropScanRequest(const VARIANT& value) {
  std::wstring invokeId, request;
  if (SUCCEEDED(ReadScanEventValue(value, &invokeId, &request))) scanCancels_.Remove(invokeId.c_str());
}

HRESULT CHART_Channel::SendScanResult(IDispatch* scanEvents, const wchar_t* invokeId,
                                      const ScanIdentificationList& list) {
  const std::wstring document = ScanIdentificationsDocument(list);
  com::Bstr id(invokeId), text(document.c_str());
  return frame_events::Notify(scanEvents, frame_events::kScanResult, id.get(), text.get());
}

HRESULT CHART_Channel::BuildScanAddressList(std::vector<uint8_t>* addresses, ScanIdentificationList* list,
                                            const ScanRequestRecord& request) {
  com::ComPtr<IevFdtParameterHandler4> handler;
  if (FAILED(Owner(handler)) || !handler) return E_NOINTERFACE;
  if (request.rangesGiven) {
    list->busCategory = request.rangesCategory;
    RangeAddresses(request, addresses);
    return S_OK;
  }
  list->busCategory = request.modeCategory;
  if (request.mode == kScanModeAll) {
    for (uint8_t a = 0; a <= kHighestPollingAddress; ++a) addresses->push_back(a);
    return S_OK;
  }
  if (request.mode == kScanModeOpenGui) {
    uint8_t start = 0, end = 0;
    HRESULT hr = GetScanRangeFromGui(&start, &end);
    if (FAILED(hr)) return hr;
    for (unsigned a = start; a <= end; ++a) addresses->push_back(static_cast<uint8_t>(a));
    return S_OK;
  }
  return E_UNEXPECTED;
}

HRESULT CHART_Channel::GetScanRangeFromGui(uint8_t* start, uint8_t* end) {
  com::ComPtr<IHART_CommDTM> dtm;
  if (FAILED(Owner(dtm)) || !dtm) return E_NOINTERFACE;
  long first = 0, last = 0;
  HRESULT hr = dtm->GetScanRangeViaGUI(&first, &last);
  if (FAILED(hr)) return hr;
  if (static_cast<unsigned long>(first) > kHighestPollingAddress ||
      static_cast<unsigned long>(last) > kHighestPollingAddress || last < first)
    return E_UNEXPECTED;
  *start = static_cast<uint8_t>(first);
  *end = static_cast<uint8_t>(last);
  return S_OK;
}

HRESULT CHART_Channel::ScanAddresses(const ScanRequestRecord& request, const wchar_t* invokeId,
                                     IDispatch* scanEvents) {
  if (!scanEvents) return E_NOINTERFACE;
  std::vector<uint8_t> addresses;
  ScanIdentificationList list;
  HRESULT hr = BuildScanAddressList(&addresses, &list, request);
  if (FAILED(hr)) return hr;
  if (scanCancels_.IsCancelled(invokeId)) return S_OK;
  const size_t count = addresses.size();
  WhileOnTheLine meanwhile;
  for (size_t k = 1; k <= count; ++k) {
    // The worker's end (a stop, or the owner gone) ends the scan at once; the
    // frame is told that it failed.
    if (WorkerEnding()) return E_ABORT;
    const uint8_t address = addresses[k - 1];
    if (address > maxScanAddress_) continue;
    meanwhile.percent = static_cast<short>((100 * k) / count);
    HartDeviceEntry entry;
    const HRESULT polled = PollAddress(address, &entry, meanwhile);
    if (scanCancels_.IsCancelled(invokeId)) break;
    if (FAILED(polled)) continue;
    found_.Add(entry);
    meanwhile.stampScanTime = true;  // with the next poll on the line, or at the end
    // Nothing here compares found devices with configured children.
    ScanIdentification identification = ScanIdentification::FromEntry(entry);
    list.identifications.push_back(identification);
    if (scanCancels_.IsCancelled(invokeId)) break;
    list.resultState = kScanProvisional;
    SendScanResult(scanEvents, invokeId, list);
  }
  if (meanwhile.stampScanTime) StampScanTime();
  if (scanCancels_.IsCancelled(invokeId)) return S_OK;
  list.resultState = kScanFinal;
  return SendScanResult(scanEvents, invokeId, list);
}

}  // namespace hartdtm
