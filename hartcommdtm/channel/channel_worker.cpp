// CHART_Channel: construction, IevFdtBaseChannel, the worker thread, attach
// and detach, the device start, the receive callback and channel events.
#include "channel/hart_channel.h"

#include <cstring>
#include <memory>
#include <new>

#include "com/ApartmentCall.h"
#include "com/Guard.h"
#include "com/ObjectLink.h"
#include "com/Variant.h"
#include "dtm/dtm_parameters.h"
#include "shared/status_codes.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/frame_events.h"
#include "toolkit/values/message_wait.h"
#include "toolkit/xml/xml_schema_lists.h"
#include "win32/callback_guard.h"

namespace hartdtm {

const GUID kHartProtocolId = {0x036D1498, 0x387B, 0x11D4, {0x86, 0xE1, 0x00, 0xE0, 0x98, 0x72, 0x70, 0xB9}};

double CurrentVariantTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  double date = 0;
  ::SystemTimeToVariantTime(&now, &date);
  // SystemTimeToVariantTime drops the milliseconds; burst ages need them.
  return date + now.wMilliseconds / 86400000.0;
}

const com::InterfaceEntry* CHART_Channel::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<CHART_Channel, IHART_Channel>(),
      com::entry<CHART_Channel, IDispatch, com::DispatchImpl<IHART_Channel>>(),
      com::entry<CHART_Channel, IevFdtBaseChannel>(),
      com::entry<CHART_Channel, IFdtCommunication>(),
      com::entry<CHART_Channel, IFdtChannel>(),
      com::entry<CHART_Channel, IFdtFunctionBlockData>(),
      com::entry<CHART_Channel, IFdtChannelSubTopology>(),
      com::entry<CHART_Channel, IFdtChannelScan>(),
      com::entry<CHART_Channel, IFdtChannelSubTopology2>(),
      com::entry<CHART_Channel, IPersistStreamInit>(),
      com::entryAs<CHART_Channel, IPersistStreamInit>(IID_IPersist),
      com::entry<CHART_Channel, IevFdtOwnedChannel>(),
      com::entry<CHART_Channel, IevFdtChannelText>(),
      EV_PARAMETER_HANDLER_ENTRIES(CHART_Channel),
      EV_CHANNEL_TRANSLATION_ENTRIES(CHART_Channel),
      com::endOfMap()};
  return map;
}

CHART_Channel::CHART_Channel()
    : xml_(*this),
      vendor_(L"ubra system"),
      versionDate_(L"2004-06-29"),
      channelName_(L"FSK Mavix - HART Channel") {}

CHART_Channel::~CHART_Channel() = default;

HRESULT CHART_Channel::finalConstruct() {
  responseEvent_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  statusByteEvent_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  receiveFailedEvent_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!responseEvent_ || !statusByteEvent_ || !receiveFailedEvent_) return E_OUTOFMEMORY;
  scanStopEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  scanDoneEvent_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  workerEndingEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!scanStopEvent_ || !scanDoneEvent_ || !workerEndingEvent_) return E_OUTOFMEMORY;
  // Only the DTM's handler holds its modified notice through a relation
  // list, and only the DTM's writes device parameters to the device: the
  // channel's own parameter is no parameter of the DTM's device.
  ParamOptions().holdNoticeDuringRelations = false;
  ParamOptions().storeToDeviceOnline = false;
  // The channel's one parameter: its name, which is the channel's tag; a
  // text row of the channel like the DTM's own (persisted, no limits).
  constexpr ParameterAttributes kChannelRow = {1, 0x71, 2, 0};
  return DeclareTextParameter(static_cast<IevFdtParameterStore*>(this), kParChannelName,
                              "FSK Mavix - HART Channel", VT_BSTR, "", "", "FSK Mavix - HART Channel",
                              "FSK Mavix - HART Channel", kChannelRow);
}

void CHART_Channel::finalRelease() {
  // A channel released without a clean stop: the worker detaches (closing
  // the adapter) and ends before anything it uses goes away.
  if (thread_) StopWorkerThread();
  // The worker could not run its detach: close the adapter here, so that
  // no library thread runs when the library is freed.
  CloseAdapter();
  found_.Clear();
  subscriptions_.clear();
  connections_.Clear();
  binding_.Unload();
  com::clearApartmentCall(apartmentCall_.get());
  apartmentCall_ = nullptr;
}

void CHART_Channel::UseLibraryName(const wchar_t* name) { binding_.SetLibraryName(name); }

const wchar_t* const* CHART_Channel::XmlSchemaFiles() { return kChannelSchemaFiles; }

void CHART_Channel::ReportXmlMessage(const char* text) { ::OutputDebugStringA(text); }

XmlHandlerCore& CHART_Channel::Xml() {
  if (!OnWorkerThread()) return xml_;
  if (!workerXml_) {
    workerXml_.reset(new CevFDTXMLHandlerImpl<CHART_Channel>(*this));
    if (!workerSchemaFolder_.empty()) workerXml_->InitializeSchemaCache(workerSchemaFolder_.c_str());
  }
  return *workerXml_;
}

com::ComPtr<IUnknown> CHART_Channel::GetCommDtmInterface() {
  if (OnWorkerThread()) return com::resolveObjectLink(workerOwnerLink_.get());
  return com::ComPtr<IUnknown>(owner_);
}

// ---- IevFdtBaseChannel --------------------------------------------------------

STDMETHODIMP CHART_Channel::GetConnectionCount(VARIANT* count) {
  if (!count) return E_POINTER;
  ::VariantInit(count);
  count->vt = VT_UI4;
  count->ulVal = static_cast<ULONG>(connections_.Count());
  return S_OK;
}

STDMETHODIMP CHART_Channel::Initialize(IUnknown* ownerDtm) {
  return com::guard([&]() -> HRESULT {
    if (!ownerDtm) return E_INVALIDARG;
    com::ComPtr<IDtm> dtm;
    if (FAILED(dtm.queryFrom(ownerDtm)) || !dtm) return E_NOINTERFACE;
    com::ComPtr<IevFdtBaseDTM> base;
    if (FAILED(base.queryFrom(ownerDtm)) || !base) return E_FAIL;
    com::ComPtr<IUnknown> identity;
    HRESULT hr = identity.queryFrom(ownerDtm);
    if (FAILED(hr)) return hr;
    owner_ = identity.get();  // no reference: see OwnerGone
    return base->GetSystemTag(ownerSystemTag_.put());
  });
}

// Called by the owner's channel container as the owner is destroyed, on the
// owner's thread (or on the worker, when the worker's release of the owner
// it resolved was the owner's last). The worker runs only while the owner is
// online; an owner released without going offline first leaves it running.
void CHART_Channel::OwnerGone() {
  owner_ = nullptr;
  com::clearObjectLink(ownerLink_.get());
  ownerLink_ = nullptr;
  // The owner's frame belongs to this apartment: it is let go here, not by
  // the worker, which may give back the channel's last reference. Without
  // its owner the channel starts no worker that would need it.
  if (!OnWorkerThread()) frame_ = nullptr;
  if (thread_) LetWorkerEnd();
}

STDMETHODIMP CHART_Channel::LoadResourceString(ULONG_PTR key, BSTR* text) {
  return ::hartdtm::LoadResourceString(key, text);
}

// The owner may be destroyed by a call the worker itself is blocked in (the
// worker's release of the owner it resolved can be the owner's last), so the
// worker is not waited for here. Nor is anything left to the owner's thread,
// whose apartment may end right after this: the worker is told to end (a
// running scan or burst check stops at once), and the channel hands a
// reference on itself to the worker, which gives it back as its last use of
// the channel (ThreadProc). The channel then goes on the worker's thread
// unless somebody else still holds it.
void CHART_Channel::LetWorkerEnd() {
  ::InterlockedExchange(&workerStarted_, 0);
  ::SetEvent(workerEndingEvent_.get());
  static_cast<IHART_Channel*>(this)->AddRef();
  // Handed over once per worker; a worker that is past taking it already
  // (kWorkerGone) gets nothing, and the reference goes back here.
  if (::InterlockedCompareExchange(&endReference_, kReferenceHandedOver, kNoReferenceHandedOver) !=
      kNoReferenceHandedOver) {
    static_cast<IHART_Channel*>(this)->Release();
    return;
  }
  PostToWorkerQueue(WM_QUIT, 0, 0);  // the loop's end detaches
}

// The worker's last use of the channel: the reference LetWorkerEnd handed
// over, if any, goes back (which may destroy the channel).
void CHART_Channel::GiveBackEndReference() {
  if (::InterlockedExchange(&endReference_, kWorkerGone) == kReferenceHandedOver)
    static_cast<IHART_Channel*>(this)->Release();
}

STDMETHODIMP CHART_Channel::SetOwner(IUnknown* frameContainer) {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IFrameContainer> frame;
    if (!frameContainer || FAILED(frame.queryFrom(frameContainer)) || !frame) return E_NOINTERFACE;
    frame_ = frame;
    com::Bstr folder;
    HRESULT hr = frame->GetXmlSchemaPath(folder.put());
    if (FAILED(hr)) return hr;
    return xml_.InitializeSchemaCache(folder.c_str());
  });
}

STDMETHODIMP CHART_Channel::SetChannelTag(BSTR tag) {
  return com::guard([&]() -> HRESULT {
    if (!tag) {
      channelTag_.reset();
      return S_OK;
    }
    return channelTag_.assign(tag);
  });
}

STDMETHODIMP CHART_Channel::GetChannelTag(BSTR* tag) {
  if (!tag) return E_POINTER;
  return channelTag_.copyTo(tag);
}

STDMETHODIMP CHART_Channel::GetChannelId(VARIANT* channelId) {
  if (!channelId) return E_POINTER;
  ::VariantInit(channelId);
  channelId->vt = VT_UI4;
  channelId->ulVal = channelNumber_;
  return S_OK;
}

STDMETHODIMP CHART_Channel::GetChannelValue(long* value) {
  if (!value) return E_POINTER;
  *value = static_cast<long>(channelNumber_);
  return S_OK;
}

STDMETHODIMP CHART_Channel::StartWorker() {
  return com::guard([&]() -> HRESULT {
    if (!owner_) return E_UNEXPECTED;
    const HRESULT hr = StartThread();
    ::InterlockedExchange(&workerStarted_, hr == S_OK ? 1 : 0);
    return hr;
  });
}

STDMETHODIMP CHART_Channel::StopWorker(VARIANT_BOOL* stopped) {
  if (!stopped) return E_POINTER;
  *stopped = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (connections_.Count() != 0) return S_FALSE;
    ::InterlockedExchange(&workerStarted_, 0);
    const HRESULT hr = StopWorkerThread();
    if (FAILED(hr)) return hr;
    *stopped = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::PostChannelEvent(VARIANT key, VARIANT value) {
  return com::guard([&]() -> HRESULT {
    com::Variant id;
    HRESULT hr = ::VariantChangeType(id.get(), &key, 0, VT_UI4);
    if (FAILED(hr)) return hr;
    const ULONG number = id.get()->ulVal;
    // The address-change job is the channel's own and carries a pointer the
    // worker uses as it is: never taken from a caller.
    if (number == kEventChangeAddress) return E_INVALIDARG;
    if (number == kEventOwnerUnknown) {
      // Answers into the caller's VARIANT: only a call on the caller's own
      // thread can do that.
      if (value.vt != (VT_BYREF | VT_UNKNOWN) || !value.ppunkVal) return S_OK;
      if (!owner_) return E_FAIL;
      owner_->AddRef();
      *value.ppunkVal = owner_;
      return S_OK;
    }
    if (number == kEventAbortAll) {
      if (value.vt != VT_UI4) return E_INVALIDARG;
      // The worker gets its own duplicate of the caller's event.
      HANDLE duplicate = nullptr;
      if (value.ulVal &&
          !::DuplicateHandle(::GetCurrentProcess(), reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value.ulVal)),
                             ::GetCurrentProcess(), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return HRESULT_FROM_WIN32(::GetLastError());
      const com::Variant handle = com::ui4(static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(duplicate)));
      hr = PostEvent(number, handle.value());
      if (FAILED(hr) && duplicate) ::CloseHandle(duplicate);
      return hr;
    }
    // The parameter texts live in this apartment with the parameters: they
    // follow the owner's language here, the worker only keeps its id.
    if (number == kEventLanguage && !OnWorkerThread()) OnLanguageChanged();
    if (number == kEventFrameVersion) {
      // Kept at once, not queued for the worker: the DTM tells a channel
      // when it attaches it, before any worker runs, and the worker's start
      // needs it; both threads read it from here.
      com::Variant version;
      hr = ::VariantChangeType(version.get(), &value, 0, VT_I4);
      if (FAILED(hr)) return hr;
      ::InterlockedExchange(&frameFdtVersion_, version.get()->lVal);
      return S_OK;
    }
    return PostEvent(number, value);
  });
}

STDMETHODIMP CHART_Channel::ChannelRequest(VARIANT key, VARIANT value) { return PostChannelEvent(key, value); }

// Queues a channel event behind the worker's current message. Dropped
// without a worker (S_OK all the same), except that a handle the worker was
// to own is refused so that its sender keeps it.
HRESULT CHART_Channel::PostEvent(ULONG id, const VARIANT& value) {
  auto* record = new (std::nothrow) ChannelEventRecord;
  if (!record) return E_OUTOFMEMORY;
  record->id = id;
  HRESULT hr = record->value.assign(value);
  if (FAILED(hr)) {
    delete record;
    return hr;
  }
  if (!PostToWorkerQueue(TM_DEFERRED_CALL, 0, reinterpret_cast<LPARAM>(record))) {
    delete record;
    return id == kEventAbortAll ? E_UNEXPECTED : S_OK;
  }
  return S_OK;
}

// ---- worker thread ---------------------------------------------------------------

HRESULT CHART_Channel::StartThread() {
  if (thread_) return S_OK;
  ::ResetEvent(workerEndingEvent_.get());
  ::InterlockedExchange(&endReference_, kNoReferenceHandedOver);
  ::InterlockedExchange(&workerLoopEnded_, 0);
  startedEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!startedEvent_) return E_FAIL;
  DWORD id = 0;
  HANDLE handle = ::CreateThread(nullptr, 0, &CHART_Channel::ThreadProc, this, 0, &id);
  if (!handle) {
    startedEvent_.reset();
    return E_FAIL;
  }
  thread_.reset(handle);
  threadId_ = id;
  const int started = WaitWithMessageLoop(startedEvent_.get());
  startedEvent_.reset();
  if (!started || ::WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0) {
    // The thread could not make its apartment and has ended.
    ::WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
    threadId_ = 0;
    return E_FAIL;
  }

  // The worker's own copies of the owner's link and of the frame, and the
  // schema folder for its XML handler.
  ownerLinkStream_.reset();
  frameStream_.reset();
  if (owner_ && !ownerLink_ && FAILED(com::createObjectLink(owner_, ownerLink_))) {
    StopThread();
    return E_OUTOFMEMORY;
  }
  if (ownerLink_) ownerLinkStream_.marshal(IID_IDispatch, ownerLink_.get());
  if (!apartmentCall_ && FAILED(com::createApartmentCall([this] { DeliverFromApartment(); }, apartmentCall_))) {
    StopThread();
    return E_OUTOFMEMORY;
  }
  apartmentCallStream_.reset();
  apartmentCallStream_.marshal(IID_IDispatch, apartmentCall_.get());
  if (frame_) {
    HRESULT hr = frameStream_.marshal(__uuidof(IFrameContainer), frame_.get());
    if (FAILED(hr)) {
      StopThread();
      return hr;
    }
    // Sinks the frame lacks stay empty: the worker then has nobody to tell.
    frame_events::OfferSink(frame_.get(), DIID_IFrameDtmEvents, frameEventsEntry_);
    // Only an FDT 1.2.1 frame has a scan-result sink (and scans).
    if (FrameFdtVersion() >= 1) frame_events::OfferSink(frame_.get(), DIID_IFrameScanEvents, scanEventsEntry_);
  }
  workerSchemaFolder_ = xml_.SchemaFolder();
  attachDoneEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  bool done = false;
  if (attachDoneEvent_ && PostToWorkerQueue(TM_ATTACH, 0, 0)) {
    done = WaitWithMessageLoop(attachDoneEvent_.get()) == 1;
  }
  attachDoneEvent_.reset();
  if (done && attachSucceeded_) return S_OK;
  StopThread();
  return E_FAIL;
}

win32::UniqueHandle CHART_Channel::WorkerWaitHandle() const {
  HANDLE own = nullptr;
  if (!thread_ ||
      !::DuplicateHandle(::GetCurrentProcess(), thread_.get(), ::GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0))
    own = nullptr;
  return win32::UniqueHandle(own);
}

void CHART_Channel::StopThread() {
  if (!thread_) return;
  // The wait serves this apartment's messages, and one of them may stop the
  // worker too: each stop waits on a handle of its own, and the one that
  // sees the thread end first closes the channel's.
  const win32::UniqueHandle own = WorkerWaitHandle();
  const HANDLE thread = own ? own.get() : thread_.get();
  // A worker whose loop has ended already only has its last steps to go.
  if (PostToWorkerQueue(WM_QUIT, 0, 0) || WorkerLoopEnded()) WaitWithMessageLoop(thread);
  if (!thread_ || (own && ::WaitForSingleObject(own.get(), 0) != WAIT_OBJECT_0)) return;
  thread_.reset();
  threadId_ = 0;
  // What the worker never took goes back to its owners; nothing is handed
  // to this apartment any more.
  ownerLinkStream_.reset();
  frameStream_.reset();
  apartmentCallStream_.reset();
  keptCallbacks_.clear();
  {
    win32::CsLock hold(undeliveredLock_);
    undelivered_.clear();
  }
  frameEventsEntry_.revoke();
  scanEventsEntry_.revoke();
}

HRESULT CHART_Channel::StopWorkerThread() {
  if (!thread_) return S_FALSE;
  if (OnWorkerThread()) return E_UNEXPECTED;  // cannot wait for itself
  win32::CsLock hold(stopLock_);
  // A scan, a burst check or a wait for an answer stops at once instead of
  // holding the caller until every address has been polled.
  ::SetEvent(workerEndingEvent_.get());
  PostToWorkerQueue(TM_DETACH, 0, 0);
  StopThread();
  return S_OK;
}

// The thread keeps the module that holds its code loaded until its very
// end: it may give back the channel's last reference, after which the
// module can be freed while the thread still returns through it.
DWORD WINAPI CHART_Channel::ThreadProc(void* self) {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&CHART_Channel::ThreadProc), &module);
  auto* channel = static_cast<CHART_Channel*>(self);
  const HRESULT init = ::CoInitialize(nullptr);
  MSG msg;
  ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  DWORD code = 1;
  if (FAILED(init)) {
    ::SetEvent(channel->startedEvent_.get());
  } else {
    ::SetEvent(channel->startedEvent_.get());
    // A loop that raised ends the worker as WM_QUIT would; its waiters are
    // told by the end reference and the thread's end.
    const bool looped = win32::guard(false, [&] {
      channel->RunMessageLoop();
      return true;
    });
    if (!looped) ::InterlockedExchange(&channel->workerLoopEnded_, 1);
    channel->GiveBackEndReference();  // the channel may be gone from here on
    ::CoUninitialize();
    code = looped ? 0 : 1;
  }
  if (module) ::FreeLibraryAndExitThread(module, code);
  return code;
}

void CHART_Channel::ServeWorkerMessage(const MSG& msg) {
  // Whatever a message's handling raises ends with that message: the
  // worker goes on with the next.
  com::guard([&]() -> HRESULT {
    HandleWorkerMessage(msg);
    return S_OK;
  });
}

bool CHART_Channel::PostToWorkerQueue(UINT message, WPARAM wParam, LPARAM lParam) const {
  const DWORD id = threadId_;
  if (!id || WorkerLoopEnded()) return false;
  return ::PostThreadMessageW(id, message, wParam, lParam) != FALSE;
}

bool CHART_Channel::WorkerLoopEnded() const {
  return ::InterlockedCompareExchange(const_cast<LONG*>(&workerLoopEnded_), 0, 0) != 0;
}

bool CHART_Channel::WorkerEnding() const {
  return ::WaitForSingleObject(workerEndingEvent_.get(), 0) == WAIT_OBJECT_0;
}

// The burst check of an older device waits five seconds for a burst frame.
// Meanwhile it runs nothing that has to keep its order, and ends at once
// for what must not wait:
// - served at once: window messages (calls into the worker's apartment)
//   and burst frames (event 1041, which answers no request);
// - ending the check: a stop or the owner's end (the ending event,
//   TM_DETACH, WM_QUIT), an abort of all connections or a driver error
//   (events 9989, 1037), an abort or a disconnect of the connection being
//   checked;
// - everything else (requests of any connection, scans, other events) waits
//   its turn.
// Thread messages taken out of the queue are put aside in their order, a
// message that ends the check too, and the loop serves them before the
// thread's queue (NextWorkerMessage): each is carried out at its place
// after the check, and the answers to one connection keep the order of its
// requests. What an earlier check put aside comes first, so it is looked
// at first.
bool CHART_Channel::WaitForBurstFrames(const CHART_ChanConn& connection, DWORD milliseconds) {
  for (const MSG& aside : deferred_) {
    if (EndsBurstCheck(aside, connection)) return false;
  }
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  for (;;) {
    if (WorkerEnding() || connection.State() == kConnectionAborted) return false;
    MSG msg;
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      const bool burstFrame = msg.message == TM_DEFERRED_CALL && msg.lParam &&
                              reinterpret_cast<const ChannelEventRecord*>(msg.lParam)->id == CHANNEL_EVENT_BURST_FRAME;
      if (msg.hwnd || burstFrame) {
        ServeWorkerMessage(msg);
        continue;
      }
      deferred_.push_back(msg);
      if (EndsBurstCheck(msg, connection)) return false;
      continue;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return true;
    HANDLE ending = workerEndingEvent_.get();
    ::MsgWaitForMultipleObjects(1, &ending, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
  }
}

bool CHART_Channel::EndsBurstCheck(const MSG& msg, const CHART_ChanConn& connection) const {
  switch (msg.message) {
    case WM_QUIT:
    case TM_DETACH:
      return true;
    case TM_EXECUTE_REQUEST: {
      const auto* record = reinterpret_cast<const baseRequestInfo*>(msg.lParam);
      const auto type = static_cast<RequestType>(msg.wParam);
      return record && record->connection.get() == &connection &&
             (type == kRequestAbort || type == kRequestDisconnect);
    }
    case TM_DEFERRED_CALL: {
      const auto* record = reinterpret_cast<const ChannelEventRecord*>(msg.lParam);
      return record && (record->id == kEventAbortAll || record->id == CHANNEL_EVENT_DRIVER_ERROR);
    }
    default:
      return false;
  }
}

bool CHART_Channel::NextWorkerMessage(MSG* msg) {
  if (!deferred_.empty()) {
    *msg = deferred_.front();
    deferred_.pop_front();
    return msg->message != WM_QUIT;
  }
  return ::GetMessageW(msg, nullptr, 0, 0) > 0;
}

void CHART_Channel::RunMessageLoop() {
  MSG msg;
  while (NextWorkerMessage(&msg)) ServeWorkerMessage(msg);
  ::InterlockedExchange(&workerLoopEnded_, 1);
  // Records still queued are freed, not leaked; a handle posted for the
  // worker to own is closed.
  auto drop = [this](const MSG& queued) {
    com::guard([&]() -> HRESULT {
      DropWorkerMessage(queued);
      return S_OK;
    });
  };
  for (const MSG& aside : deferred_) drop(aside);
  deferred_.clear();
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) drop(msg);
  if (State() != kChannelDetached) HandleDetach();
  DropWorkerInterfaces();
}

void CHART_Channel::HandleWorkerMessage(const MSG& msg) {
    switch (msg.message) {
      case TM_EXECUTE_REQUEST: {
        std::unique_ptr<baseRequestInfo> record(reinterpret_cast<baseRequestInfo*>(msg.lParam));
        ExecuteRequest(static_cast<RequestType>(msg.wParam), record.get());
        break;
      }
      case TM_ATTACH:
        HandleAttach();
        break;
      case TM_NOP:
        break;
      case TM_DETACH:
        HandleDetach();
        break;
      case TM_DEFERRED_CALL: {
        std::unique_ptr<ChannelEventRecord> record(reinterpret_cast<ChannelEventRecord*>(msg.lParam));
        if (record) OnChannelEvent(record->id, *record->value.get());
        break;
      }
      default:
        ::DispatchMessageW(&msg);
        break;
    }
}

void CHART_Channel::DropWorkerMessage(const MSG& msg) {
  if (msg.message == TM_EXECUTE_REQUEST) {
    delete reinterpret_cast<baseRequestInfo*>(msg.lParam);
  } else if (msg.message == TM_DEFERRED_CALL) {
    std::unique_ptr<ChannelEventRecord> record(reinterpret_cast<ChannelEventRecord*>(msg.lParam));
    // A channel scan that will never run leaves no invoke id behind; an
    // address change that will never run is answered.
    if (record && record->id == CHANNEL_EVENT_SCAN_REQUEST) DropScanRequest(*record->value.get());
    if (record && record->id == kEventChangeAddress) DropAddressChange(*record->value.get());
    if (record && record->id == kEventAbortAll && record->value.get()->vt == VT_UI4 &&
        record->value.get()->ulVal)
      ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(record->value.get()->ulVal)));
  }
}

void CHART_Channel::HandleAttach() {
  attachSucceeded_ = false;
  if (ownerLinkStream_) ownerLinkStream_.unmarshal(workerOwnerLink_);
  if (apartmentCallStream_) apartmentCallStream_.unmarshal(workerApartmentCall_);
  if (frameStream_) frameStream_.unmarshal(workerFrame_);
  if (frameEventsEntry_.cookie() && FAILED(frameEventsEntry_.take(workerFrameEvents_.putVoid())))
    workerFrameEvents_ = nullptr;
  if (scanEventsEntry_.cookie() && FAILED(scanEventsEntry_.take(workerScanEvents_.putVoid())))
    workerScanEvents_ = nullptr;
  // The owner's proxy goes before the attach is reported: its release is a
  // call into the owner's apartment, which serves calls only while it waits.
  bool ownerPresent = false;
  {
    com::ComPtr<IDtm> ownerDtm;
    ownerPresent = SUCCEEDED(Owner(ownerDtm)) && ownerDtm;
  }
  if (ownerPresent && workerFrame_) {
    ::InterlockedExchange(&channelState_, kChannelAttaching);
    if (OnWorkerAttach() == S_OK) {
      ::InterlockedExchange(&channelState_, kChannelAttached);
      attachSucceeded_ = true;
    } else {
      ::InterlockedExchange(&channelState_, kChannelDetached);
      DropWorkerInterfaces();
    }
  }
  ::SetEvent(attachDoneEvent_.get());
}

void CHART_Channel::HandleDetach() {
  OnWorkerDetach();
  ::InterlockedExchange(&channelState_, kChannelDetached);
  DropWorkerInterfaces();
}

void CHART_Channel::DropWorkerInterfaces() {
  // Proxies of this apartment are released here, before it ends.
  for (const ConnRef& c : connections_.Snapshot()) c->DropWorkerCallback();
  for (Subscription& s : subscriptions_) s.connection->DropWorkerCallback();
  workerFrame_ = nullptr;
  workerFrameEvents_ = nullptr;
  workerScanEvents_ = nullptr;
  workerOwnerLink_ = nullptr;
  workerApartmentCall_ = nullptr;
  workerXml_.reset();
}

void CHART_Channel::ForgetClosedConnection(CHART_ChanConn* connection) {
  if (connection && connections_.IndexOfConnection(connection->Reference()) < 0) connection->DropWorkerCallback();
}

HRESULT CHART_Channel::OnWorkerAttach() {
  com::Bstr reason;
  if (!binding_.Load(reason.put())) {
    ReportToOwner(reason.c_str());
    return E_UNEXPECTED;
  }
  if (FAILED(OpenDevice())) {
    binding_.Release();
    return E_FAIL;
  }
  driverErrorReported_ = false;
  return S_OK;
}

HRESULT CHART_Channel::OnWorkerDetach() {
  if (!binding_.StopMessageHandler || !binding_.CloseDevice) return E_POINTER;
  CloseAdapter();
  binding_.Release();
  return S_OK;
}

void CHART_Channel::CloseAdapter() {
  if (!adapterOpen_ || !binding_.IsLoaded()) return;
  // The message handler stops before the adapter closes: no callback runs
  // into a closed adapter or, later, into a freed library.
  binding_.StopMessageHandler(deviceNumber_);
  binding_.CloseDevice(deviceNumber_);
  adapterOpen_ = false;
  adapterClaim_.Release();
}

HRESULT CHART_Channel::ReadOwnerParameter(ULONG id, VARTYPE vt, VARIANT* out) {
  com::ComPtr<IevFdtParameterHandler4> handler;
  HRESULT hr = Owner(handler);
  if (FAILED(hr) || !handler) return E_NOINTERFACE;
  const com::Variant key = com::ui4(id);
  com::Variant value;
  hr = handler->GetParameterValue(key.value(), value.put());
  if (FAILED(hr)) return hr;
  if (value.type() != vt) return DISP_E_TYPEMISMATCH;
  return value.detachTo(out);
}

HRESULT CHART_Channel::OwnerDtmState(long* state) {
  com::ComPtr<IevFdtBaseDTM> base;
  if (FAILED(Owner(base)) || !base) return E_NOINTERFACE;
  return base->GetDtmState(state);
}

HRESULT CHART_Channel::OpenDevice() {
  if (!binding_.DeviceInit) return E_POINTER;
  com::ComPtr<IevFdtParameterHandler4> handler;
  if (FAILED(Owner(handler)) || !handler) return E_NOINTERFACE;

  com::Variant value;
  if (SUCCEEDED(ReadOwnerParameter(kParDeviceNumber, VT_UI1, value.put()))) deviceNumber_ = value.get()->bVal;
  if (SUCCEEDED(ReadOwnerParameter(kParPreambleCount, VT_UI1, value.put()))) preambleCount_ = value.get()->bVal;
  if (SUCCEEDED(ReadOwnerParameter(kParRetryCount, VT_UI1, value.put()))) retryCount_ = value.get()->bVal;
  if (SUCCEEDED(ReadOwnerParameter(kParMaxScanAddress, VT_UI1, value.put())))
    maxScanAddress_ = value.get()->bVal;
  if (SUCCEEDED(ReadOwnerParameter(kParPrimaryMaster, VT_BOOL, value.put())))
    primaryMaster_ = value.get()->boolVal != VARIANT_FALSE;

  HRESULT result = S_OK;
  com::Bstr message;
  // Another DTM's channel in this process has the device number open: the
  // library would reopen that adapter under it, and the first close would
  // close it for both. The second is refused with the library's "in use"
  // message instead.
  if (!adapterClaim_.Take(deviceNumber_)) {
    ReportDriverError(shared::kStatusInUse, message.put());
    ReportToFrame(message.c_str());
    return E_FAIL;
  }
  uint8_t status = binding_.DeviceInit(deviceNumber_, primaryMaster_ ? 1 : 0);
  if (status != 0) {
    adapterClaim_.Release();
    ReportDriverError(status, message.put());
    result = E_FAIL;
  } else {
    adapterOpen_ = true;
    status = binding_.SetParam(deviceNumber_, retryCount_);
    if (status != 0) {
      GetUserMessage(modem_messages::kErrorSetRetryCount, BuiltInMessageName(modem_messages::kErrorSetRetryCount), message.put());
      result = E_FAIL;
    } else {
      status = binding_.StartMessageHandler(deviceNumber_, &CHART_Channel::ReceiveCallback, this);
      if (status != 0) {
        GetUserMessage(modem_messages::kErrorStartCallback, BuiltInMessageName(modem_messages::kErrorStartCallback), message.put());
        result = E_FAIL;
      }
    }
    // A failed start closes what it opened, so that the library can be freed.
    if (FAILED(result)) CloseAdapter();
  }
  if (FAILED(result)) {
    ReportToFrame(message.c_str());
    return result;
  }
  ::Sleep(500);
  return S_OK;
}

HRESULT CHART_Channel::ReportToOwner(const wchar_t* text) {
  com::ComPtr<IevFdtDtmEvents> events;
  if (FAILED(Owner(events)) || !events) return E_NOINTERFACE;
  com::Variant code(16);
  com::Variant value(text ? text : L"");
  return events->OnDtmEvent(code.value(), value.value());
}

// The frame's DTM-event sink: on the worker the one handed over at the
// start, on the apartment the frame's own.
HRESULT CHART_Channel::ReportToFrame(const wchar_t* text) {
  com::ComPtr<IDispatch> events;
  if (OnWorkerThread())
    events = workerFrameEvents_;
  else
    frame_events::QuerySink(frame_.get(), DIID_IFrameDtmEvents, events);
  if (!events) return E_NOINTERFACE;
  com::ComPtr<IevFdtBaseDTM> base;
  if (FAILED(Owner(base)) || !base) return E_FAIL;
  com::Bstr tag;
  base->GetSystemTag(tag.put());
  com::Bstr message(text ? text : L"");
  return frame_events::Notify(events.get(), frame_events::kErrorMessage, tag.get(), message.get());
}

// ---- receive callback (the library's message-handler thread) ----------------

void __cdecl CHART_Channel::ReceiveCallback(uint8_t deviceNumber, void* user) {
  if (user) win32::guard([&] { static_cast<CHART_Channel*>(user)->OnReceive(deviceNumber); });
}

void CHART_Channel::OnReceive(uint8_t deviceNumber) {
  auto receive = binding_.Receive;
  if (!receive) return;
  uint8_t kind = 0, length = 0;
  // The largest frame the library hands over.
  uint8_t frame[256];
  const uint8_t status = receive(deviceNumber, &kind, &length, frame);
  if (status == shared::kStatusIoError || status == shared::kStatusDeviceRemoved) {
    com::Variant empty;
    PostEvent(CHANNEL_EVENT_DRIVER_ERROR, empty.value());
    return;
  }
  if (status != 0) return;
  if (kind == 0x80) {
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, length);
    if (!array) return;
    std::memcpy(array->pvData, frame, length);
    // Kept here too: the burst-mode check waits on the worker for it. Only
    // a burst frame tells whose burst it is.
    hart::LongAddress address{};
    if (hart::ReadBurstAddress(frame, length, &address)) {
      win32::CsLock hold(receiveLock_);
      lastBurstAddress_ = address;
      lastBurstTime_ = CurrentVariantTime();
    }
    com::Variant value;
    value.get()->vt = VT_ARRAY | VT_UI1;
    value.get()->parray = array;
    PostEvent(CHANNEL_EVENT_BURST_FRAME, value.value());
    return;
  }
  // Anything else is a reply; only one to the request on the line wakes the
  // worker.
  switch (replies_.Offer(kind, frame, length, ::GetTickCount64())) {
    case ReplySlot::Kept::Answer:
      ::SetEvent(responseEvent_.get());
      break;
    case ReplySlot::Kept::StatusByte:
      ::SetEvent(statusByteEvent_.get());
      break;
    case ReplySlot::Kept::Failure:
      ::SetEvent(receiveFailedEvent_.get());
      break;
    case ReplySlot::Kept::Nothing:
      break;
  }
}

// ---- channel events (worker) --------------------------------------------------

HRESULT CHART_Channel::OnChannelEvent(ULONG id, VARIANT& value) {
  if (IsScanEvent(id)) return OnScanEvent(id, value);
  switch (id) {
    case CHANNEL_EVENT_DRIVER_ERROR:
      OnDriverError();
      return S_OK;
    case CHANNEL_EVENT_BURST_FRAME: {
      const HRESULT hr = OnBurstFrame(value);
      return FAILED(hr) ? hr : S_OK;
    }
    case kEventLanguage: {
      com::Variant language;
      if (SUCCEEDED(::VariantChangeType(language.get(), &value, 0, VT_UI4))) languageId_ = language.get()->ulVal;
      return S_OK;
    }
    case kEventGoingOnline: {
      com::ComPtr<IevFdtBaseDTM> base;
      if (FAILED(Owner(base)) || !base) return E_FAIL;
      return base->SetState(12);
    }
    case kEventUserLevel:
      if (value.vt == VT_UI4) userLevel_ = value.ulVal;
      return S_OK;
    case kEventAbortAll:
      if (value.vt != VT_UI4) return E_INVALIDARG;
      abortDoneEvent_.reset(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value.ulVal)));
      AbortAllConnections();
      // Nothing left to wait for: the sender learns it at once.
      if (connections_.Count() == 0 && abortDoneEvent_) {
        ::SetEvent(abortDoneEvent_.get());
        abortDoneEvent_.reset();
      }
      return S_OK;
    case kEventRemoveConnection:
      if (value.vt != VT_BSTR) return E_INVALIDARG;
      RemoveConnectionOnWorker(value.bstrVal);
      if (connections_.Count() == 0 && abortDoneEvent_) {
        ::SetEvent(abortDoneEvent_.get());
        abortDoneEvent_.reset();
      }
      return S_OK;
    case CHANNEL_EVENT_CHILDREN_CHANGED:
      return OnChildrenChanged();
    default:
      return S_FALSE;
  }
}

void CHART_Channel::RemoveConnectionOnWorker(const wchar_t* reference) {
  ConnRef connection;
  if (FAILED(connections_.FindConnection(reference, &connection))) return;
  DropSubscription(connection.get());
  connections_.RemoveConnection(reference);
  connection->DropWorkerCallback();
}

void CHART_Channel::OnDriverError() {
  // An adapter that failed keeps failing until it is opened again: one
  // message and one round of abort notices per attach.
  if (driverErrorReported_) return;
  driverErrorReported_ = true;
  subscriptions_.clear();
  AbortAllConnections();
  com::Bstr message;
  GetUserMessage(160, BuiltInMessageName(160), message.put());
  ReportToOwner(message.c_str());
}

void CHART_Channel::AbortAllConnections() {
  // Refusing before the notices go out: a device DTM that answers its abort
  // notice with a new request is refused at once, not taken and dropped.
  ::InterlockedExchange(&channelState_, kChannelRefusing);
  for (const ConnRef& connection : connections_.Snapshot()) {
    com::ComPtr<IChildCommunicationEvents> callback = connection->Callback();
    if (!callback) continue;
    com::Bstr reference(connection->Reference());
    callback->OnAbort(reference.get());
    com::Variant value(connection->Reference());
    PostEvent(kEventRemoveConnection, value.value());
  }
}

}  // namespace hartdtm
