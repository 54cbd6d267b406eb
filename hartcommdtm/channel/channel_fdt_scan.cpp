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
#include "toolkit/xml/xml_dom.h"

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

  com::ComPtr<IDispatch> events;
  if (!workerFrame_ ||
      FAILED(workerFrame_->QueryInterface(DIID_IFrameScanEvents, reinterpret_cast<void**>(events.put()))) ||
      !events)
    return E_NOINTERFACE;
  // The request validated on the apartment; here it is only read.
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL created = VARIANT_FALSE;
  hr = XmlCreateAndLoad(request.c_str(), doc.put(), &created);
  if (FAILED(hr)) return hr;
  if (!doc) return E_FAIL;
  PrepareRequestDocument(doc.get());

  ScanRequestRecord record;
  if (SUCCEEDED(ParseScanRequestDocument(doc.get(), &record))) {
    GetScanDisplayString();
    ReportScanProgress(scanDisplayText_.c_str(), 0, true);
    WriteScanActive(true);
    hr = ScanAddresses(record, invokeId.c_str(), events.get());
    WriteScanActive(false);
    ReportScanProgress(scanDisplayText_.c_str(), 100, false);
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
  com::Variant id(invokeId), text(document.c_str());
  // Frame sinks are called through IDispatch (OnScanResult).
  return com::invokeMethod(scanEvents, 1, {id.value(), text.value()});
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
  for (size_t k = 1; k <= count; ++k) {
    const uint8_t address = addresses[k - 1];
    if (address > maxScanAddress_) continue;
    ReportScanProgress(scanDisplayText_.c_str(), static_cast<short>((100 * k) / count), true);
    HartDeviceEntry entry;
    const HRESULT polled = PollAddress(address, &entry);
    if (scanCancels_.IsCancelled(invokeId)) return S_OK;
    if (FAILED(polled)) continue;
    AddFoundDevice(entry);
    // Nothing here compares found devices with configured children.
    ScanIdentification identification = ScanIdentification::FromEntry(entry);
    list.identifications.push_back(identification);
    if (scanCancels_.IsCancelled(invokeId)) return S_OK;
    list.resultState = kScanProvisional;
    SendScanResult(scanEvents, invokeId, list);
  }
  list.resultState = kScanFinal;
  if (scanCancels_.IsCancelled(invokeId)) return S_OK;
  return SendScanResult(scanEvents, invokeId, list);
}

}  // namespace hartdtm
