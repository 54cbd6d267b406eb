// CHART_Channel: the found devices through IHART_Channel, the device-list
// scan (StartScan, StopScan, IsScanFinished), the topology scan of
// IFdtChannelSubTopology, scan progress, and the address change.
//
// Every scan and the address change run on the worker, one at a time with
// the channel's requests, so no two of them ever share the adapter. The
// apartment only checks, posts and waits (pumping its messages).
#include <cstring>
#include <new>
#include <string>

#include "channel/answer_documents.h"
#include "channel/channel_texts.h"
#include "channel/hart_channel.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/frame_events.h"
#include "toolkit/values/message_wait.h"

namespace hartdtm {

namespace {

constexpr uint8_t kReceiveCapacity = 255;

// Answered by an address-change job alone, with the job itself: the worker
// takes nothing else for one. {6B0F7E2A-5C1D-4E89-9A43-2D7B1C0E5F61}
const IID kAddressChangeJobId = {0x6B0F7E2A, 0x5C1D, 0x4E89, {0x9A, 0x43, 0x2D, 0x7B, 0x1C, 0x0E, 0x5F, 0x61}};

// Result codes of ChangeAddress, compared by value by the controls.
constexpr HRESULT kAddressTargetTaken = static_cast<HRESULT>(0xD0120001);
constexpr HRESULT kAddressNoSource = static_cast<HRESULT>(0xD0120002);
constexpr HRESULT kAddressFrameFailed = static_cast<HRESULT>(0xD0120003);
constexpr HRESULT kAddressNoAnswerAtTarget = static_cast<HRESULT>(0xD0120004);
constexpr HRESULT kAddressDeviceInUse = static_cast<HRESULT>(0xD0120005);

const wchar_t kScanDisplayKey[] = L"IDS_ScanDisplayString";
constexpr UINT kScanDisplayStringId = 101;
const wchar_t kScanDisplayFallback[] = L"Scanning...";

}  // namespace

// One address change handed to the worker. A COM object, so that the event
// record that carries it releases it whether or not the worker ran it.
class CHART_Channel::AddressChangeJob final : public IUnknown {
 public:
  AddressChangeJob(uint8_t from, uint8_t to) : from_(from), to_(to) {}
  HRESULT Init() {
    done_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return done_ ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, kAddressChangeJobId)) return E_NOINTERFACE;
    *out = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  // The job an event value carries; null for anything else.
  static com::ComPtr<AddressChangeJob> From(const VARIANT& value) {
    com::ComPtr<AddressChangeJob> job;
    if (value.vt != VT_UNKNOWN || !value.punkVal) return job;
    IUnknown* found = nullptr;
    if (SUCCEEDED(value.punkVal->QueryInterface(kAddressChangeJobId, reinterpret_cast<void**>(&found))) && found)
      job.attach(static_cast<AddressChangeJob*>(found));
    return job;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = ::InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  void Finish(HRESULT result) {
    result_ = result;
    ::SetEvent(done_.get());
  }

  const uint8_t from_, to_;
  HRESULT result_ = kAddressFrameFailed;
  win32::UniqueHandle done_;

 private:
  ~AddressChangeJob() = default;
  LONG refs_ = 1;
};

// ---- IHART_Channel --------------------------------------------------------------

STDMETHODIMP CHART_Channel::GetNumberOfDevices(long* plDevCount) {
  if (!plDevCount) return E_INVALIDARG;
  *plDevCount = static_cast<long>(found_.Count());
  return S_OK;
}

STDMETHODIMP CHART_Channel::GetDeviceInfo(long lDevNum, unsigned char* pbyPollAddress, long* pbInUse,
                                          BSTR* pbsTag, BSTR* pbsManufacturer, BSTR* pbsDevType,
                                          unsigned char* pbyDeviceType, long* plDeviceID,
                                          unsigned char* pbyHardwareRevision,
                                          unsigned char* pbySoftwareRevision) {
  if (!pbyPollAddress || !pbInUse || !pbsTag || !pbsManufacturer || !pbsDevType || !pbyDeviceType ||
      !plDeviceID || !pbyHardwareRevision || !pbySoftwareRevision ||
      static_cast<unsigned long>(lDevNum) > kHighestPollingAddress)
    return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    HartDeviceEntry entry;
    if (!found_.CopyAt(static_cast<size_t>(lDevNum), &entry)) return E_FAIL;
    // Whether a connection holds the device, as it stands now.
    const bool inUse = connections_.HoldsLongAddress(
        {entry.manufacturerId, entry.deviceType, static_cast<uint8_t>(entry.deviceId >> 16),
         static_cast<uint8_t>(entry.deviceId >> 8), static_cast<uint8_t>(entry.deviceId)});
    found_.SetInUse(static_cast<size_t>(lDevNum), inUse);
    *pbyPollAddress = entry.pollingAddress;
    *pbInUse = inUse ? 1 : 0;
    *pbyDeviceType = entry.deviceType;
    *plDeviceID = static_cast<long>(entry.deviceId);
    *pbyHardwareRevision = entry.hardwareRevision;
    *pbySoftwareRevision = entry.softwareRevision;
    *pbsTag = nullptr;
    HRESULT hr = BuildDeviceCodes(entry.manufacturerId, entry.deviceType, pbsManufacturer, pbsDevType);
    if (FAILED(hr)) return hr;
    com::Bstr tag(entry.tag.c_str());
    *pbsTag = tag.detach();
    return (*pbsTag || entry.tag.empty()) ? S_OK : E_OUTOFMEMORY;
  });
}

STDMETHODIMP CHART_Channel::StartScan() {
  return com::guard([&]() -> HRESULT {
    // Without a worker nothing would ever scan: say so instead of S_OK.
    if (!workerStarted_ || !threadId_) return E_UNEXPECTED;
    ::ResetEvent(scanDoneEvent_.get());
    com::Variant zero(0);
    return PostEvent(CHANNEL_EVENT_START_SCAN, zero.value());
  });
}

STDMETHODIMP CHART_Channel::StopScan() {
  ::SetEvent(scanStopEvent_.get());
  return S_OK;
}

STDMETHODIMP CHART_Channel::IsScanFinished(long* pbFinished, long* plDevCount) {
  if (!pbFinished || !plDevCount) return E_INVALIDARG;
  *pbFinished = 0;
  *plDevCount = 0;
  HANDLE done = scanDoneEvent_.get();
  const DWORD which = ::MsgWaitForMultipleObjects(1, &done, FALSE, 100, QS_ALLINPUT);
  if (which == WAIT_OBJECT_0) {
    *pbFinished = 1;
    *plDevCount = static_cast<long>(found_.Count());
  } else if (which == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
      if (::WaitForSingleObject(done, 0) == WAIT_OBJECT_0) {
        *pbFinished = 1;
        *plDevCount = static_cast<long>(found_.Count());
        break;
      }
    }
  }
  return S_OK;
}

STDMETHODIMP CHART_Channel::ChangeAddress(unsigned char byFromAddress, unsigned char byToAddress) {
  if (byFromAddress > kHighestPollingAddress || byToAddress > kHighestPollingAddress) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    if (!workerStarted_ || !threadId_ || !thread_) return kAddressFrameFailed;
    const win32::UniqueHandle workerHandle = WorkerWaitHandle();
    if (!workerHandle) return kAddressFrameFailed;
    auto* job = new (std::nothrow) AddressChangeJob(byFromAddress, byToAddress);
    if (!job) return E_OUTOFMEMORY;
    com::ComPtr<IUnknown> hold;
    hold.attach(job);
    HRESULT hr = job->Init();
    if (FAILED(hr)) return hr;
    com::Variant value(static_cast<IUnknown*>(job));
    hr = PostEvent(kEventChangeAddress, value.value());
    if (FAILED(hr)) return hr;
    // Messages are served all through the wait, also after a WM_QUIT (kept
    // for the thread's own loop): the worker calls into this apartment while
    // it changes the address.
    const HANDLE handles[2] = {job->done_.get(), workerHandle.get()};
    const int which = WaitAnyWithMessageLoop(2, handles);
    if (which != 1 && ::WaitForSingleObject(job->done_.get(), 0) != WAIT_OBJECT_0) return kAddressFrameFailed;
    return job->result_;
  });
}

STDMETHODIMP CHART_Channel::GetChannelName(BSTR* pbsChannelName) {
  if (!pbsChannelName) return E_INVALIDARG;
  *pbsChannelName = nullptr;
  if (!channelTag_.get()) return S_OK;
  return channelTag_.copyTo(pbsChannelName);
}

// ---- worker events ------------------------------------------------------------------

bool CHART_Channel::IsScanEvent(ULONG id) const {
  return id == CHANNEL_EVENT_START_SCAN || id == CHANNEL_EVENT_SCAN_REQUEST || id == kEventChangeAddress;
}

HRESULT CHART_Channel::OnScanEvent(ULONG id, VARIANT& value) {
  switch (id) {
    case CHANNEL_EVENT_START_SCAN:
      RunDeviceListScan();
      ::SetEvent(scanDoneEvent_.get());
      return S_OK;
    case CHANNEL_EVENT_SCAN_REQUEST:
      return ExecuteScan(value);
    case kEventChangeAddress: {
      const com::ComPtr<AddressChangeJob> job = AddressChangeJob::From(value);
      if (!job) return E_INVALIDARG;
      job->Finish(ChangeAddressOnWorker(job->from_, job->to_));
      return S_OK;
    }
    default:
      return S_FALSE;
  }
}

void CHART_Channel::DropAddressChange(const VARIANT& value) {
  if (const com::ComPtr<AddressChangeJob> job = AddressChangeJob::From(value)) job->Finish(kAddressFrameFailed);
}

// ---- progress and scan state ----------------------------------------------------------

HRESULT CHART_Channel::WriteScanActive(bool active) {
  com::ComPtr<IevFdtParameterHandler4> handler;
  if (FAILED(Owner(handler)) || !handler) return E_NOINTERFACE;
  const com::Variant key = com::ui4(kParScanActive);
  com::Variant flag(active);
  return handler->WriteParameter(key.value(), flag.value());
}

void CHART_Channel::GetScanDisplayString() {
  com::Bstr text;
  if (SUCCEEDED(GetUserMessage(kScanDisplayStringId, kScanDisplayKey, text.put())) && !text.empty())
    scanDisplayText_ = text.c_str();
  else
    scanDisplayText_ = kScanDisplayFallback;
}

// ---- device-list and topology scan (worker) -----------------------------------------

bool CHART_Channel::RunDeviceListScan() {
  WriteScanActive(true);
  ::ResetEvent(scanStopEvent_.get());
  found_.Clear();
  GetScanDisplayString();
  const unsigned last = maxScanAddress_ > kHighestPollingAddress ? kHighestPollingAddress : maxScanAddress_;
  WhileOnTheLine meanwhile;
  // Stopped by StopScan, or by the worker's end (a stop, or the owner gone),
  // which must not wait for the rest of the addresses.
  const HANDLE stops[2] = {scanStopEvent_.get(), workerEndingEvent_.get()};
  for (unsigned address = 0; address <= last; ++address) {
    if (::WaitForMultipleObjects(2, stops, FALSE, 0) != WAIT_TIMEOUT) break;
    meanwhile.percent = static_cast<short>((100 * (address + 1)) / 64);
    HartDeviceEntry entry;
    if (FAILED(PollAddress(static_cast<uint8_t>(address), &entry, meanwhile))) continue;
    found_.Add(entry);
    meanwhile.stampScanTime = true;  // with the next poll on the line, or at the end
  }
  if (meanwhile.stampScanTime) StampScanTime();
  ReportProgress(scanDisplayText_.c_str(), 100, false);
  WriteScanActive(false);
  return !WorkerEnding();
}

STDMETHODIMP CHART_Channel::ScanRequest(BSTR invokeId, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!invokeId) return S_FALSE;
    long state = 0;
    if (FAILED(OwnerDtmState(&state)) || (state != 9 && state != 10 && state != 12)) return S_FALSE;
    GUID id;
    if (!ParseGuidText(invokeId, &id)) return S_FALSE;
    // Before the DTM is online (communication set) the worker is not running
    // yet: the scan starts it, as going online would.
    if (!workerStarted_ && StartWorker() != S_OK) return S_FALSE;
    auto* record = new (std::nothrow) baseRequestInfo;
    if (!record) return S_FALSE;
    std::unique_ptr<baseRequestInfo> owned(record);
    if (FAILED(record->invokeId.assign(invokeId))) return S_FALSE;
    if (FAILED(PostRequest(kRequestScan, record))) return S_FALSE;
    owned.release();
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT CHART_Channel::ExecuteTopologyScan(baseRequestInfo& request) {
  const com::ComPtr<IDispatch> events = workerFrameEvents_;
  // A scan cut short by the worker's end is not passed off as the bus's
  // devices: the frame gets no document, as for a refused request.
  if (!RunDeviceListScan()) return E_ABORT;
  if (!events) return E_POINTER;
  const std::wstring document = TopologyScanDocument(found_.Snapshot());
  com::Bstr id(request.invokeId.c_str()), text(document.c_str());
  return frame_events::Notify(events.get(), frame_events::kScanResponse, id.get(), text.get());
}

// ---- address change (worker) ------------------------------------------------------------

HRESULT CHART_Channel::ChangeAddressOnWorker(uint8_t from, uint8_t to) {
  uint8_t a[kReceiveCapacity] = {}, b[kReceiveCapacity] = {};
  uint8_t lengthA = kReceiveCapacity, lengthB = kReceiveCapacity;
  // Somebody at the target already (the device itself, too).
  if (FAILED(SendShortFrameCommand0(to, preambleCount_))) return kAddressFrameFailed;
  if (ReceiveResponse(&lengthA, a) == S_OK && lengthA >= kShortCommand0AnswerMin) return kAddressTargetTaken;
  if (FAILED(SendShortFrameCommand0(from, preambleCount_))) return kAddressFrameFailed;
  lengthA = kReceiveCapacity;
  if (ReceiveResponse(&lengthA, a) != S_OK || lengthA < kShortCommand0AnswerMin) return kAddressNoSource;
  const uint8_t preambles = ClampPreambles(a[9]);
  const hart::LongAddress address = {a[7], a[8], a[15], a[16], a[17]};
  if (connections_.HoldsLongAddress(address) ||
      connections_.HoldsLongAddress({static_cast<uint8_t>(a[7] & 0x3F), a[8], a[15], a[16], a[17]}))
    return kAddressDeviceInUse;
  if (FAILED(SendLongFrame(6, address, preambles, 1, &to))) return kAddressFrameFailed;
  if (ReceiveResponse(&lengthB, b) != S_OK || lengthB < 11) return kAddressFrameFailed;
  if (FAILED(SendShortFrameCommand0(to, preambleCount_))) return kAddressFrameFailed;
  lengthB = kReceiveCapacity;
  if (ReceiveResponse(&lengthB, b) != S_OK || lengthB < kShortCommand0AnswerMin) return kAddressNoAnswerAtTarget;
  if (lengthA != lengthB || std::memcmp(a + 6, b + 6, 12) != 0) return kAddressFrameFailed;
  found_.MoveFirstAt(from, to);
  StampScanTime();
  return S_OK;
}

}  // namespace hartdtm
