// The DTM worker thread: the COM object on the thread (CevFDT_DtmThreadImpl)
// and the DTM object's side that starts, feeds and stops it
// (CevFDT_ThreadManagerImpl).
#include "toolkit/worker/dtm_thread.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "com/Bstr.h"
#include "com/ObjectLink.h"
#include "com/Variant.h"
#include "com/ThreadHandover.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/frame_events.h"
#include "toolkit/values/message_wait.h"
#include "toolkit/values/progress_steps.h"
#include "toolkit/worker/message_workers.h"
#include "toolkit/xml/user_messages.h"
#include "win32/callback_guard.h"

namespace {

// DTM states the worker reads and sets.
constexpr LONG kStateInitialised = 7;
constexpr LONG kStateCommunicationSet = 9;
constexpr LONG kStateGoingOnline = 10;
constexpr LONG kStateGoingOffline = 11;
constexpr LONG kStateOnline = 12;

// Toolkit messages and their English fallbacks for a failed transfer.
constexpr ULONG kDownloadFailedMessage = 1007;
constexpr ULONG kUploadFailedMessage = 1008;
constexpr wchar_t kDownloadFailedText[] = L"Download parameters failed";
constexpr wchar_t kUploadFailedText[] = L"Upload parameters failed";

// DTM event 48, the DTM's transfer-abort flag: cleared when an upload or
// download is accepted, and after a cancelled one.
constexpr ULONG kTransferAbortEvent = 48;
// State notices 28..32 reach the DTM's events as 64..68.
constexpr ULONG kStateNoticeEventOffset = 36;

// Process-wide: the thread object behind each thread timer, so that the
// timer callback (which gets only the timer id) finds its object. A thread
// timer's id is only sure to be unique among the timers of its own thread
// (Wine gives every thread the same ids), so the key is the thread and the
// id: by id alone, one worker's timer called into another DTM's worker
// object, on the wrong thread.
using TimerKey = std::pair<DWORD, UINT_PTR>;
win32::CriticalSection& TimerLock() {
  static win32::CriticalSection lock;
  return lock;
}
std::map<TimerKey, CevFDT_DtmThreadImpl*>& TimerObjects() {
  static std::map<TimerKey, CevFDT_DtmThreadImpl*> objects;
  return objects;
}

void ClearTransferAbort(IevFdtDtmEvents* events) {
  if (!events) return;
  VARIANT value;
  ::VariantInit(&value);
  V_VT(&value) = VT_BOOL;
  V_BOOL(&value) = VARIANT_FALSE;
  events->OnDtmEvent(com::ui4(kTransferAbortEvent).value(), value);
}

bool IsNoticeState(LONG state) { return state >= kStateInitialised && state <= kStateOnline; }

// Frees one queued command record.
void FreeCommand(DtmThreadCommand* record) {
  if (!record) return;
  ::VariantClear(&record->argument);
  ::CoTaskMemFree(record);
}

// Element i (from 0) of a command's argument array (VT_ARRAY | VT_VARIANT);
// false when the argument is no such array or has no element i.
bool ArgumentElement(const VARIANT& argument, LONG i, com::Variant& element) {
  if (V_VT(&argument) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&argument)) return false;
  SAFEARRAY* array = V_ARRAY(&argument);
  LONG lower = 0, upper = -1;
  ::SafeArrayGetLBound(array, 1, &lower);
  ::SafeArrayGetUBound(array, 1, &upper);
  LONG index = lower + i;
  return index <= upper && SUCCEEDED(::SafeArrayGetElement(array, &index, element.put()));
}

// Element i of command 2's argument array: a sink's entry in the global
// interface table, taken under the sink's own dispatch interface
// (frame_events.h); null when missing or when the entry is gone.
com::ComPtr<IDispatch> TakeSinkElement(const VARIANT& argument, LONG i, REFIID sinkIid) {
  com::ComPtr<IDispatch> out;
  com::Variant element;
  ULONG cookie = 0;
  if (ArgumentElement(argument, i, element) && SUCCEEDED(CFdtVariant::GetUI4(element.value(), &cookie)) &&
      cookie && FAILED(com::GlobalInterface::take(cookie, sinkIid, out.putVoid())))
    out = nullptr;
  return out;
}

// Element i of a command's argument array as an interface; null when
// missing or not an interface.
com::ComPtr<IUnknown> UnknownElement(const VARIANT& argument, LONG i) {
  com::ComPtr<IUnknown> out;
  com::Variant element;
  if (ArgumentElement(argument, i, element) &&
      (element.type() == VT_UNKNOWN || element.type() == VT_DISPATCH))
    out = element.value().punkVal;  // VT_DISPATCH shares the slot
  return out;
}

// Reads {event VT_UI4, pointer VT_UNKNOWN} of commands 1 and 2. The event is
// 0 when the poster does not wait.
HRESULT ReadPointerArgument(const VARIANT& argument, HANDLE* event, com::ComPtr<IUnknown>& pointer) {
  *event = nullptr;
  pointer = nullptr;
  if (V_VT(&argument) != (VT_ARRAY | VT_VARIANT)) return E_FAIL;
  SAFEARRAY* array = V_ARRAY(&argument);
  if (!array) return E_POINTER;
  if (::SafeArrayGetDim(array) != 1) return E_FAIL;
  com::Variant element;
  ULONG value = 0;
  if (ArgumentElement(argument, 0, element) && SUCCEEDED(CFdtVariant::GetUI4(element.value(), &value)))
    *event = ULongToHandle(value);
  pointer = UnknownElement(argument, 1);
  return S_OK;
}

}  // namespace

// ===========================================================================
// Thread side
// ===========================================================================

const com::InterfaceEntry* CevFDT_DtmThreadImpl::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<CevFDT_DtmThreadImpl, ICustomDtmThread>(),
      com::entry<CevFDT_DtmThreadImpl, IevFdtDtmThread>(),
      com::entry<CevFDT_DtmThreadImpl, IDispatch, ICustomDtmThread>(),
      com::endOfMap()};
  return map;
}

CevFDT_DtmThreadImpl::CevFDT_DtmThreadImpl() = default;
CevFDT_DtmThreadImpl::~CevFDT_DtmThreadImpl() = default;

void CevFDT_DtmThreadImpl::finalRelease() {
  // A timer left armed must not call into a freed object.
  win32::CsLock lock(TimerLock());
  if (timerId_) {
    ::KillTimer(nullptr, timerId_);
    TimerObjects().erase({timerThread_, timerId_});
    timerId_ = 0;
  }
}

HRESULT CevFDT_DtmThreadImpl::PreProcessRequest(const VARIANT&, const VARIANT&) { return S_OK; }
HRESULT CevFDT_DtmThreadImpl::PostProcessCommand(const VARIANT&, const VARIANT&) { return S_OK; }

STDMETHODIMP CevFDT_DtmThreadImpl::PostRequest(VARIANT code, VARIANT argument, VARIANT* result) {
  if (result) ::VariantInit(result);
  const HRESULT hr = com::guard([&] { return Request(code, argument); });
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CevFDT_DtmThreadImpl::Request(const VARIANT& codeValue, const VARIANT& argument) {
  ULONG code = 0;
  HRESULT hr = CFdtVariant::GetUI4(codeValue, &code);
  if (FAILED(hr)) return hr;
  hr = PreProcessRequest(codeValue, argument);
  if (FAILED(hr)) return hr;
  if (code < dtm_command::kFirst || code > dtm_command::kLast || code == 23) return S_FALSE;

  switch (code) {
    case dtm_command::kCancelTransfer:
      return CancelTransfer(argument);
    case dtm_command::kAddParamUpdate:
      return AddParamUpdate(argument);
    case dtm_command::kReleaseParamUpdate:
      return ReleaseParamUpdate(argument);
    case dtm_command::kLowerParamUpdate:
      return LowerParamUpdate(argument);
    case dtm_command::kParamUpdateDone:
      return ParamUpdateDone(argument);
    case dtm_command::kSdaCancel:
      return SdaRequest(code, argument);
    case dtm_command::kGoOnline:
      return AcceptGoOnline(argument);
    case dtm_command::kGoOffline:
      return AcceptGoOffline(argument);
    case dtm_command::kUpload:
    case dtm_command::kDownload:
      return AcceptTransfer(code, argument);
    default:
      return Queue(code, argument);
  }
}

HRESULT CevFDT_DtmThreadImpl::Queue(ULONG code, const VARIANT& argument) {
  if (loopEnded_) return E_FAIL;
  auto* record = static_cast<DtmThreadCommand*>(::CoTaskMemAlloc(sizeof(DtmThreadCommand)));
  if (!record) return E_OUTOFMEMORY;
  record->code = code;
  ::VariantInit(&record->argument);
  HRESULT hr = ::VariantCopy(&record->argument, const_cast<VARIANT*>(&argument));
  if (FAILED(hr)) {
    ::CoTaskMemFree(record);
    return hr;
  }
  const DWORD loopThread = loopThreadId_ ? loopThreadId_ : ::GetCurrentThreadId();
  if (!::PostThreadMessageA(loopThread, kDtmThreadCommandMessage, 0,
                            reinterpret_cast<LPARAM>(record))) {
    FreeCommand(record);
    return E_FAIL;
  }
  return S_OK;
}

STDMETHODIMP CevFDT_DtmThreadImpl::ThreadMessageLoop() {
  return com::guard([&]() -> HRESULT {
    loopThreadId_ = ::GetCurrentThreadId();
    MSG msg;
    for (;;) {
      const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
      if (got == 0 || got == -1) break;
      if (!msg.hwnd && msg.message == kDtmThreadCommandMessage) {
        auto* record = reinterpret_cast<DtmThreadCommand*>(msg.lParam);
        if (record) {
          const VARIANT code = com::ui4(record->code).value();
          com::guard([&] { return HandleCommand(code, record->argument); });
          FreeCommand(record);
        }
        continue;
      }
      ::DispatchMessageA(&msg);
    }
    loopEnded_ = true;
    DrainQueue();
    return S_OK;
  });
}

// Commands still queued after the loop ended are dropped; whoever waits on
// one of them is released, so that no caller hangs on a stopped thread, and
// a DTM left going online or offline returns to the state it came from.
void CevFDT_DtmThreadImpl::DrainQueue() {
  MSG msg;
  while (::PeekMessageA(&msg, reinterpret_cast<HWND>(-1), kDtmThreadCommandMessage,
                        kDtmThreadCommandMessage, PM_REMOVE)) {
    auto* record = reinterpret_cast<DtmThreadCommand*>(msg.lParam);
    if (!record) continue;
    HANDLE event = nullptr;
    if (record->code == dtm_command::kSetDtm || record->code == dtm_command::kSetFrame) {
      com::ComPtr<IUnknown> ignored;
      ReadPointerArgument(record->argument, &event, ignored);
    } else if (record->code == dtm_command::kGoOnline || record->code == dtm_command::kGoOffline) {
      const bool online = record->code == dtm_command::kGoOnline;
      LONG state = 0;
      com::ComPtr<IevFdtBaseDTM> dtm = dtm_;
      if (dtm && SUCCEEDED(dtm->GetDtmState(&state)) &&
          state == (online ? kStateGoingOnline : kStateGoingOffline))
        dtm->SetState(online ? kStateCommunicationSet : kStateOnline);
      ULONG value = 0;
      if (online && SUCCEEDED(CFdtVariant::GetUI4(record->argument, &value)) && value) {
        // The worker's own duplicate (see AcceptGoOnline).
        ::SetEvent(ULongToHandle(value));
        ::CloseHandle(ULongToHandle(value));
      }
    }
    if (event) ::SetEvent(event);
    FreeCommand(record);
  }
}

HRESULT CevFDT_DtmThreadImpl::HandleCommand(const VARIANT& codeValue, const VARIANT& argument) {
  ULONG code = 0;
  HRESULT hr = CFdtVariant::GetUI4(codeValue, &code);
  if (FAILED(hr)) return hr;
  PostProcessCommand(codeValue, argument);
  if (code < dtm_command::kFirst || code > dtm_command::kLast) return S_FALSE;
  return com::guard([&] { return Execute(code, argument); });
}

HRESULT CevFDT_DtmThreadImpl::Execute(ULONG code, const VARIANT& argument) {
  switch (code) {
    case dtm_command::kSetDtm:
    case dtm_command::kSetFrame:
      return SetPointer(code, argument);
    case dtm_command::kUpload:
    case dtm_command::kDownload:
      return Transfer(code);
    case dtm_command::kGoOnline:
      return GoOnline(argument);
    case dtm_command::kGoOffline:
      return GoOffline();
    case dtm_command::kFunctionChanged:
    case dtm_command::kNavigation:
    case dtm_command::kPreparedToRelease:
    case dtm_command::kPreparedToReleaseCommunication:
    case dtm_command::kParameterChanged:
    case dtm_command::kErrorMessage:
    case dtm_command::kChannelFunctionChanged:
    case dtm_command::kPrint:
    case dtm_command::kOnlineState:
    case dtm_command::kApplicationClosed:
      return FrameNotice(code, argument);
    case dtm_command::kSdaGetItemList:
    case dtm_command::kSdaReadItems:
    case dtm_command::kSdaWriteItems:
      return SdaRequest(code, argument);
    case dtm_command::kStateDocument:
      return StateDocument(argument);
    default:
      if (code >= dtm_command::kFirstStateNotice && code <= dtm_command::kLastStateNotice)
        return StateNotice(code, argument);
      return S_FALSE;  // 20, and the commands handled at once
  }
}

// --- commands 1 and 2 -------------------------------------------------------

HRESULT CevFDT_DtmThreadImpl::SetPointer(ULONG code, const VARIANT& argument) {
  HANDLE event = nullptr;
  com::ComPtr<IUnknown> pointer;
  const HRESULT hr = ReadPointerArgument(argument, &event, pointer);
  if (FAILED(hr)) return hr;
  if (code == dtm_command::kSetDtm) {
    // The link and the stand-in arrive together and go together; the
    // stand-in's IevFdtBaseDTM is the one proxy of it this worker makes.
    com::ComPtr<IDispatch> link;
    com::ComPtr<IevFdtBaseDTM> dtm;
    if (pointer) {
      link.queryFrom(pointer.get());
      com::ComPtr<IUnknown> standIn = UnknownElement(argument, 2);
      if (standIn) dtm.queryFrom(standIn.get());
    }
    dtmLink_ = link;
    dtm_ = dtm;
  } else {
    // The sinks were queried in the poster's apartment and come under
    // their own dispatch interfaces; the poster keeps their entries until
    // this command set the event.
    frame_ = pointer;
    frameEvents_ = pointer ? TakeSinkElement(argument, 2, DIID_IFrameDtmEvents) : nullptr;
    stateSink_ = pointer ? TakeSinkElement(argument, 3, DIID_IFrameDtmEvents2) : nullptr;
  }
  if (event) ::SetEvent(event);
  return S_OK;
}

// --- helpers on the DTM -----------------------------------------------------

com::ComPtr<IUnknown> CevFDT_DtmThreadImpl::DtmObject() {
  com::ComPtr<IDispatch> link = dtmLink_;
  return com::resolveObjectLink(link.get());
}

HRESULT CevFDT_DtmThreadImpl::ReadState(LONG* state) {
  *state = 0;
  com::ComPtr<IevFdtBaseDTM> dtm = dtm_;
  if (!dtm) return E_FAIL;
  return dtm->GetDtmState(state);
}

HRESULT CevFDT_DtmThreadImpl::SystemTag(com::Bstr& tag) {
  com::ComPtr<IevFdtBaseDTM> dtm = dtm_;
  if (!dtm) return E_FAIL;
  return dtm->GetSystemTag(tag.put());
}

HRESULT CevFDT_DtmThreadImpl::GetToolkitMessage(ULONG id, BSTR* text) {
  if (!text) return E_UNEXPECTED;
  *text = nullptr;
  com::ComPtr<IUnknown> dtm = DtmObject();
  return ::GetToolkitMessage(dtm.get(), id, ToolkitMessageUser::Dtm, text);
}

// --- upload, download, cancel ---------------------------------------------

HRESULT CevFDT_DtmThreadImpl::AcceptTransfer(ULONG code, const VARIANT& argument) {
  // A transfer is answered through the frame's event sink: without one it
  // could never be, so it is refused like one that cannot be queued.
  if (!frameEvents_) return E_FAIL;
  {
    win32::CsLock lock(operationLock_);
    if (!operation_.operationId.empty()) return E_FAIL;
    SOnlineParamData accepted;
    if (!accepted.UnpackFromVariant(argument)) return E_FAIL;
    operation_ = accepted;
    operationCancelled_ = false;
    operationEnded_ = false;
  }
  ClearTransferAbort(DtmInterface<IevFdtDtmEvents>().get());
  if (FAILED(Queue(code, argument))) {
    win32::CsLock lock(operationLock_);
    operation_.operationId.reset();
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CevFDT_DtmThreadImpl::Transfer(ULONG code) {
  const bool upload = code == dtm_command::kUpload;
  com::ComPtr<IDispatch> sink = frameEvents_;
  if (!sink) {
    // The frame was taken away since the transfer was accepted: nobody is
    // left to answer, and the operation must not hold up the next one.
    win32::CsLock lock(operationLock_);
    operation_.operationId.reset();
    operationCancelled_ = false;
    return E_FAIL;
  }

  com::Bstr request;
  {
    win32::CsLock lock(operationLock_);
    request = operation_.request;
  }
  VARIANT requestValue;
  ::VariantInit(&requestValue);
  V_VT(&requestValue) = VT_BSTR;
  V_BSTR(&requestValue) = request.get();  // borrowed for the call

  com::ComPtr<IevFdtBaseDTM> dtm = dtm_;
  com::ComPtr<IevFdtParameterHandler4> handler = DtmInterface<IevFdtParameterHandler4>();
  VARIANT_BOOL success = VARIANT_FALSE;
  HRESULT hr = E_FAIL;
  if (handler) {
    if (upload) {
      // The parameter set's upload is the base DTM's operation; S_OK is success.
      hr = dtm ? dtm->UploadRequest(requestValue) : E_FAIL;
      success = hr == S_OK ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
      hr = handler->DownloadRequest(requestValue, &success);
    }
  }
  bool cancelled;
  {
    win32::CsLock lock(operationLock_);
    cancelled = operationCancelled_;
    operationEnded_ = true;
  }
  // A cancel taken while the transfer ran was spent with it. Its abort may
  // have reached the DTM only as the transfer returned; it must not stop
  // the next, unrelated transfer.
  if (cancelled) ClearTransferAbort(DtmInterface<IevFdtDtmEvents>().get());
  if (FAILED(hr) || success != VARIANT_TRUE) {
    success = VARIANT_FALSE;
    com::Bstr text;
    GetToolkitMessage(upload ? kUploadFailedMessage : kDownloadFailedMessage, text.put());
    if (text.empty()) text.assign(upload ? kUploadFailedText : kDownloadFailedText);
    bool pending;
    {
      win32::CsLock lock(operationLock_);
      pending = !operation_.operationId.empty();
    }
    // A transfer the user cancelled did not fail: no error message for it.
    com::Bstr tag;
    if (pending && !cancelled && SUCCEEDED(SystemTag(tag)))
      frame_events::Notify(sink.get(), frame_events::kErrorMessage, tag.get(), text.get());
  }

  com::Bstr operationId;
  {
    win32::CsLock lock(operationLock_);
    operationId = std::move(operation_.operationId);
    operation_.operationId.reset();
    operationCancelled_ = false;
  }
  if (!operationId.empty()) {
    frame_events::NotifyFlag(sink.get(),
                             upload ? frame_events::kUploadFinished : frame_events::kDownloadFinished,
                             operationId.get(), success);
  }
  return S_OK;
}

HRESULT CevFDT_DtmThreadImpl::CancelTransfer(const VARIANT& argument) {
  com::ComPtr<IevFdtParameterHandler4> handler = DtmInterface<IevFdtParameterHandler4>();
  if (!handler) return E_FAIL;
  com::Bstr id;
  HRESULT hr = CFdtVariant::GetBstr(argument, id.put());
  if (FAILED(hr)) return hr;
  {
    win32::CsLock lock(operationLock_);
    if (operation_.operationId.empty() || id.length() != operation_.operationId.length() ||
        wcscmp(id.c_str(), operation_.operationId.c_str()) != 0)
      return S_OK;
    // Its transfer has ended and is being answered: an abort now would stay
    // set and end the next transfer at once.
    if (operationEnded_) return S_OK;
  }
  // The handler is called without the lock: it is a call into another
  // apartment, during which this thread serves further requests.
  VARIANT_BOOL aborted = VARIANT_FALSE;
  hr = handler->AbortTransfer(&aborted);
  if (SUCCEEDED(hr) && aborted == VARIANT_TRUE) {
    // The operation keeps its id: its transfer, still queued or running,
    // sends the finished notice when it ends, so that the cancelled request
    // is answered once (and its id is never taken by a later request's
    // notice). Until then the operation is pending as before.
    win32::CsLock lock(operationLock_);
    if (wcscmp(id.c_str(), operation_.operationId.c_str()) == 0) operationCancelled_ = true;
  }
  return S_OK;
}

// --- parameter-update map -------------------------------------------------

namespace {
void LowerPeriod(ParamUpdateEntry& entry, ULONG period) {
  if (period < entry.period) {
    entry.period = period;
    entry.remaining = std::min(entry.remaining, period);
  }
}
}  // namespace

HRESULT CevFDT_DtmThreadImpl::AddParamUpdate(const VARIANT& argument) {
  SParamUpdateInfo info;
  if (!info.UnpackFromVariant(argument)) return E_FAIL;
  auto found = updates_.find(info.parameterId);
  if (found == updates_.end()) {
    ParamUpdateEntry entry;
    entry.period = info.period;
    entry.remaining = info.period;
    entry.references = 1;
    updates_[info.parameterId] = entry;
  } else {
    LowerPeriod(found->second, info.period);
    ++found->second.references;
  }
  return S_OK;
}

HRESULT CevFDT_DtmThreadImpl::ReleaseParamUpdate(const VARIANT& argument) {
  SParamUpdateInfo info;
  if (!info.UnpackFromVariant(argument)) return E_FAIL;
  auto found = updates_.find(info.parameterId);
  if (found == updates_.end()) return E_FAIL;
  if (--found->second.references == 0) updates_.erase(found);
  return S_OK;
}

HRESULT CevFDT_DtmThreadImpl::LowerParamUpdate(const VARIANT& argument) {
  SParamUpdateInfo info;
  if (!info.UnpackFromVariant(argument)) return E_FAIL;
  auto found = updates_.find(info.parameterId);
  if (found == updates_.end()) return E_FAIL;
  LowerPeriod(found->second, info.period);
  return S_OK;
}

HRESULT CevFDT_DtmThreadImpl::ParamUpdateDone(const VARIANT& argument) {
  ULONG id = 0;
  HRESULT hr = CFdtVariant::GetUI4(argument, &id);
  if (FAILED(hr)) return hr;
  auto found = updates_.find(id);
  if (found != updates_.end()) found->second.inProgress = false;
  return S_OK;
}

// --- timer ------------------------------------------------------------------

STDMETHODIMP CevFDT_DtmThreadImpl::SetTimeout(VARIANT periodMs) {
  return com::guard([&]() -> HRESULT {
    ULONG period = 0;
    HRESULT hr = CFdtVariant::GetUI4(periodMs, &period);
    if (FAILED(hr)) return hr;
    return ApplyTimeout(period);
  });
}

HRESULT CevFDT_DtmThreadImpl::ApplyTimeout(ULONG period) {
  if (period == timerPeriod_) return S_OK;
  win32::CsLock lock(TimerLock());
  if (timerId_) {
    ::KillTimer(nullptr, timerId_);
    TimerObjects().erase({timerThread_, timerId_});
    timerId_ = 0;
  }
  timerPeriod_ = period;
  if (period == 0) return S_OK;
  const UINT_PTR id = ::SetTimer(nullptr, 0, period, &CevFDT_DtmThreadImpl::TimerProc);
  if (!id) {
    timerPeriod_ = 0;
    return E_FAIL;
  }
  timerId_ = id;
  timerThread_ = ::GetCurrentThreadId();
  lastTick_ = ::GetTickCount();
  TimerObjects()[{timerThread_, id}] = this;
  return S_OK;
}

void CALLBACK CevFDT_DtmThreadImpl::TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
  win32::guard([&] {
    // The process-wide lock only finds the object; the walk itself makes
    // calls into other apartments and must not hold a lock that other
    // worker threads' timers need.
    com::ComPtr<IUnknown> keepAlive;
    CevFDT_DtmThreadImpl* object = nullptr;
    {
      win32::CsLock lock(TimerLock());
      auto found = TimerObjects().find({::GetCurrentThreadId(), id});
      if (found == TimerObjects().end()) return;
      object = found->second;
      keepAlive = object->controllingUnknown();
    }
    object->OnTimer();
  });
}

void CevFDT_DtmThreadImpl::OnTimer() {
  // While the walk waits for a parameter read, this thread serves incoming
  // calls; a nested tick would walk the same entries again.
  if (inTimerWalk_) return;
  inTimerWalk_ = true;
  const DWORD now = ::GetTickCount();
  const DWORD elapsed = now - lastTick_;
  lastTick_ = now;

  // The DTM is taken when the first entry is due and held for the rest of
  // the walk; a tick with nothing due makes no call at all.
  com::ComPtr<IUnknown> dtm;
  com::ComPtr<IevFdtParameterHandler4> handler;
  bool handlerQueried = false;

  // Entries may be added or removed by requests served during a read, so
  // the walk goes by key, never by a kept iterator.
  for (auto it = updates_.begin(); it != updates_.end();) {
    const ULONG id = it->first;
    ParamUpdateEntry& entry = it->second;
    if (elapsed < entry.remaining) {
      entry.remaining -= elapsed;
    } else if (entry.inProgress) {
      entry.remaining = 0;  // served at the next tick after its read is done
    } else {
      entry.remaining = entry.period;
      if (!handlerQueried) {
        handlerQueried = true;
        dtm = DtmObject();
        if (dtm) handler.queryFrom(dtm.get());
      }
      if (handler) {
        entry.inProgress = true;
        VARIANT_BOOL started = VARIANT_FALSE;
        const HRESULT hr = handler->RequestParameter(com::ui4(id).value(), &started);
        auto again = updates_.find(id);
        if (again != updates_.end() && (FAILED(hr) || started != VARIANT_TRUE))
          again->second.inProgress = false;
      }
    }
    it = updates_.upper_bound(id);
  }
  inTimerWalk_ = false;
}

// --- going online and offline ------------------------------------------------

HRESULT CevFDT_DtmThreadImpl::AcceptGoOnline(const VARIANT& argument) {
  com::ComPtr<IevFdtBaseDTM> dtm = dtm_;
  LONG state = 0;
  if (!dtm || FAILED(dtm->GetDtmState(&state)) || state != kStateCommunicationSet) return E_FAIL;
  // The queued command carries the worker's own duplicate of the poster's
  // event, which the worker closes once it has set it: the poster may close
  // its handle whenever its wait ends, also after a time-out.
  ULONG value = 0;
  HANDLE duplicate = nullptr;
  if (SUCCEEDED(CFdtVariant::GetUI4(argument, &value)) && value &&
      !::DuplicateHandle(::GetCurrentProcess(), ULongToHandle(value), ::GetCurrentProcess(), &duplicate, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
    return HRESULT_FROM_WIN32(::GetLastError());
  dtm->SetState(kStateGoingOnline);
  const HRESULT hr = Queue(dtm_command::kGoOnline, com::ui4(HandleToULong(duplicate)).value());
  if (FAILED(hr)) {
    dtm->SetState(state);
    if (duplicate) ::CloseHandle(duplicate);
  }
  return hr;
}

HRESULT CevFDT_DtmThreadImpl::AcceptGoOffline(const VARIANT& argument) {
  {
    win32::CsLock lock(operationLock_);
    if (!operation_.operationId.empty()) return E_FAIL;
  }
  com::ComPtr<IevFdtBaseDTM> dtm = dtm_;
  LONG state = 0;
  if (!dtm || FAILED(dtm->GetDtmState(&state)) || state != kStateOnline) return E_FAIL;
  dtm->SetState(kStateGoingOffline);
  const HRESULT hr = Queue(dtm_command::kGoOffline, argument);
  if (FAILED(hr)) dtm->SetState(state);
  return hr;
}

HRESULT CevFDT_DtmThreadImpl::GoOnline(const VARIANT& argument) {
  HANDLE event = nullptr;
  ULONG value = 0;
  if (SUCCEEDED(CFdtVariant::GetUI4(argument, &value))) event = ULongToHandle(value);

  HRESULT result = S_OK;
  com::ComPtr<IevFdtBaseDTM> dtm = dtm_;
  LONG state = 0;
  if (!dtm || FAILED(dtm->GetDtmState(&state)) || state != kStateGoingOnline) {
    result = S_FALSE;
  } else {
    com::ComPtr<IUnknown> object = DtmObject();
    com::ComPtr<IevFdtConnectHook> hook;
    if (object) hook.queryFrom(object.get());
    VARIANT_BOOL proceed = VARIANT_TRUE;
    if (hook && (FAILED(hook->OnGoingOnline(&proceed)) || proceed != VARIANT_TRUE)) {
      dtm->SetState(kStateCommunicationSet);
      result = S_FALSE;
    } else {
      com::ComPtr<IevFdtChannelContainer4> channels;
      if (object) channels.queryFrom(object.get());
      if (!channels) {
        // No channels to connect: going online is complete.
        dtm->SetState(kStateOnline);
      } else if (FAILED(result = channels->ResetChannelParameter())) {
        dtm->SetState(kStateCommunicationSet);
      }
      // With channels, a channel that has connected moves the DTM online.
    }
  }
  if (event) {
    ::SetEvent(event);
    ::CloseHandle(event);  // the worker's own duplicate
  }
  return result;
}

HRESULT CevFDT_DtmThreadImpl::GoOffline() {
  com::ComPtr<IevFdtBaseDTM> dtm = dtm_;
  LONG state = 0;
  if (!dtm || FAILED(dtm->GetDtmState(&state)) || state != kStateGoingOffline) return S_FALSE;
  com::ComPtr<IUnknown> object = DtmObject();
  com::ComPtr<IevFdtConnectHook> hook;
  if (object) hook.queryFrom(object.get());
  VARIANT_BOOL proceed = VARIANT_TRUE;
  if (hook && (FAILED(hook->OnGoingOffline(&proceed)) || proceed != VARIANT_TRUE)) {
    dtm->SetState(kStateOnline);
    return S_FALSE;
  }
  com::ComPtr<IevFdtChannelContainer4> channels;
  if (object) channels.queryFrom(object.get());
  if (!channels) {
    // No channels to disconnect: going offline is complete.
    dtm->SetState(kStateCommunicationSet);
    return S_OK;
  }
  VARIANT_BOOL released = VARIANT_FALSE;
  const HRESULT hr = channels->CanReleaseChannels(&released);
  const bool done = SUCCEEDED(hr) && released == VARIANT_TRUE;
  dtm->SetState(done ? kStateCommunicationSet : kStateOnline);
  return done ? S_OK : S_FALSE;
}

// --- notices ----------------------------------------------------------------

HRESULT CevFDT_DtmThreadImpl::FrameNotice(ULONG code, const VARIANT& argument) {
  if (code == dtm_command::kFunctionChanged || code == dtm_command::kParameterChanged) {
    LONG state = 0;
    HRESULT hr = ReadState(&state);
    if (FAILED(hr)) return hr;
    if (!IsNoticeState(state)) return S_FALSE;
  }
  if (code == dtm_command::kOnlineState && !dtmLink_) return E_FAIL;
  com::ComPtr<IDispatch> sink = frameEvents_;
  if (!sink) return E_FAIL;

  com::Bstr text;
  ULONG number = 0;
  HRESULT hr = S_OK;
  switch (code) {
    case dtm_command::kParameterChanged:
    case dtm_command::kErrorMessage:
    case dtm_command::kChannelFunctionChanged:
    case dtm_command::kPrint:
    case dtm_command::kApplicationClosed:
      hr = CFdtVariant::GetBstr(argument, text.put());
      break;
    case dtm_command::kOnlineState:
      hr = CFdtVariant::GetUI4(argument, &number);
      break;
    default:
      break;
  }
  if (FAILED(hr)) return hr;
  if (code == dtm_command::kApplicationClosed)
    return frame_events::Notify(sink.get(), frame_events::kApplicationClosed, text.get());

  com::Bstr tag;
  hr = SystemTag(tag);
  if (FAILED(hr)) return hr;
  switch (code) {
    case dtm_command::kFunctionChanged:
      return frame_events::Notify(sink.get(), frame_events::kFunctionChanged, tag.get());
    case dtm_command::kNavigation:
      return frame_events::Notify(sink.get(), frame_events::kNavigation, tag.get());
    case dtm_command::kPreparedToRelease:
      return frame_events::Notify(sink.get(), frame_events::kPreparedToRelease, tag.get());
    case dtm_command::kPreparedToReleaseCommunication:
      return frame_events::Notify(sink.get(), frame_events::kPreparedToReleaseCommunication,
                                  tag.get());
    case dtm_command::kParameterChanged:
      return frame_events::Notify(sink.get(), frame_events::kParameterChanged, tag.get(), text.get());
    case dtm_command::kErrorMessage:
      return frame_events::Notify(sink.get(), frame_events::kErrorMessage, tag.get(), text.get());
    case dtm_command::kChannelFunctionChanged:
      return frame_events::Notify(sink.get(), frame_events::kChannelFunctionChanged, tag.get(),
                                  text.get());
    case dtm_command::kPrint:
      return frame_events::Notify(sink.get(), frame_events::kPrint, tag.get(), text.get());
    case dtm_command::kOnlineState:
      return frame_events::NotifyFlag(sink.get(), frame_events::kOnlineStateChanged, tag.get(),
                                      number ? VARIANT_TRUE : VARIANT_FALSE);
    default:
      return S_FALSE;
  }
}

HRESULT CevFDT_DtmThreadImpl::SdaRequest(ULONG code, const VARIANT& argument) {
  com::ComPtr<IevSdaHandler> handler = DtmInterface<IevSdaHandler>();
  if (!handler) return S_OK;
  if (code == dtm_command::kSdaReadItems) return handler->ReadItems(argument);
  if (code == dtm_command::kSdaWriteItems) return handler->WriteItems(argument);
  com::Bstr text;
  const HRESULT hr = CFdtVariant::GetBstr(argument, text.put());
  if (FAILED(hr)) return hr;
  if (code == dtm_command::kSdaCancel) return handler->CancelRequest(text.get());
  return handler->GetItemList(text.get());
}

HRESULT CevFDT_DtmThreadImpl::StateNotice(ULONG code, const VARIANT& argument) {
  com::ComPtr<IevFdtDtmEvents> events = DtmInterface<IevFdtDtmEvents>();
  if (!events) return E_FAIL;
  return events->OnDtmEvent(com::ui4(code + kStateNoticeEventOffset).value(), argument);
}

HRESULT CevFDT_DtmThreadImpl::StateDocument(const VARIANT& argument) {
  if (!dtmLink_) return E_FAIL;
  com::ComPtr<IDispatch> sink = stateSink_;
  if (!frame_ || !sink) return E_NOINTERFACE;
  com::Bstr document;
  HRESULT hr = CFdtVariant::GetBstr(argument, document.put());
  if (FAILED(hr)) return hr;
  com::Bstr tag;
  hr = SystemTag(tag);
  if (FAILED(hr)) return hr;
  return frame_events::Notify(sink.get(), frame_events::kStateChanged, tag.get(), document.get());
}

// ===========================================================================
// DTM side
// ===========================================================================

// How the DTM's apartment reaches its worker. Not through an interface
// marshalled out of the worker's apartment: an apartment that exports an
// object needs an RPC endpoint of its own, and some COM implementations
// (Wine's) keep every apartment's endpoint for the life of the process and
// serve them all from one wait on at most 64 handles, so that a frame that
// opens and closes DTMs all day stops answering after about 62 of them.
// The worker's apartment exports nothing: a call is a message posted to a
// message-only window of the worker thread, served by its message loop and,
// while the worker waits for a call of its own into another apartment, by
// its message filter, as a COM call into its apartment would be. (Not a
// sent message: COM refuses calls out of a thread that handles one while
// it waits for a call of its own.) Interfaces in an argument travel
// marshalled (com/ThreadHandover.h), exported by the DTM's apartment.
struct WorkerMailbox {
  win32::CriticalSection lock;
  HWND window = nullptr;  // null once the worker takes no more calls
};

namespace {

// How long a caller waits before it wakes the worker once more (see
// CallWorker).
constexpr DWORD kMailboxNudgeMs = 20;

// Posted to the worker's mailbox window; lParam is a new
// std::shared_ptr<WorkerCall> that the window procedure deletes.
constexpr UINT kWorkerCallMessage = WM_USER + 106;

struct WorkerCall {
  bool timeout = false;  // SetTimeout instead of PostRequest
  ULONG code = 0;
  com::VariantHandover argument;
  HRESULT result = E_FAIL;
  win32::UniqueHandle done;  // manual reset; set when the call was served or refused
};

// What the mailbox window's procedure works on (window user data).
struct MailboxContext {
  IevFdtDtmThread* object;  // the worker's object, on this thread
  bool takesCalls;
};

// Handed to the new thread; valid until the thread sets `ready`.
struct ThreadStart {
  CLSID classId;
  HANDLE ready;
  HMODULE module;  // a reference the thread owns and frees as it exits
  std::shared_ptr<WorkerMailbox> mailbox;
  bool running;    // the thread has its object and its mailbox window
  std::wstring classSuffix;  // of the mailbox's window class; empty: the thread id
};

void ServeCall(MailboxContext* context, WorkerCall& call) {
  if (!context || !context->takesCalls) {
    call.result = E_FAIL;
    return;
  }
  com::Variant argument;
  call.result = call.argument.take(argument.put());
  if (FAILED(call.result)) return;
  if (call.timeout) {
    call.result = context->object->SetTimeout(argument.value());
    return;
  }
  com::Variant result;
  call.result = context->object->PostRequest(com::ui4(call.code).value(), argument.value(), result.put());
}

LRESULT CALLBACK MailboxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kWorkerCallMessage) return ::DefWindowProcW(window, message, wParam, lParam);
  std::unique_ptr<std::shared_ptr<WorkerCall>> call(reinterpret_cast<std::shared_ptr<WorkerCall>*>(lParam));
  if (!call || !*call) return 0;
  auto* context = reinterpret_cast<MailboxContext*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  // Its caller waits for `done` whatever the call raised.
  const HRESULT served = com::guard([&]() -> HRESULT {
    ServeCall(context, **call);
    return S_OK;
  });
  if (FAILED(served)) (*call)->result = served;
  ::SetEvent((*call)->done.get());
  return 0;
}

// Serves the calls waiting in the mailbox.
void ServeMailbox(HWND window) {
  MSG msg;
  while (::PeekMessageW(&msg, window, kWorkerCallMessage, kWorkerCallMessage, PM_REMOVE))
    ::DispatchMessageW(&msg);
}

// The worker thread's message filter: while the worker waits for a call of
// its own into another apartment, the calls in its mailbox are served as
// calls into its apartment would be; everything else as without a filter.
class MailboxFilter : public IMessageFilter {
 public:
  explicit MailboxFilter(HWND window) : window_(window) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IMessageFilter)) return E_NOINTERFACE;
    *out = static_cast<IMessageFilter*>(this);
    return S_OK;
  }
  // Lives on the worker thread's stack until it is revoked.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP_(DWORD) HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
    return SERVERCALL_ISHANDLED;
  }
  STDMETHODIMP_(DWORD) RetryRejectedCall(HTASK, DWORD, DWORD) override { return static_cast<DWORD>(-1); }
  STDMETHODIMP_(DWORD) MessagePending(HTASK, DWORD, DWORD) override {
    ServeMailbox(window_);
    return PENDINGMSG_WAITDEFPROCESS;
  }

 private:
  HWND window_;
};

// A window class of the thread's own: no class outlives its thread (unless
// the thread was ended by force, see RegisterMailboxClass) or stays
// registered with a procedure of a module that may be unloaded.
std::wstring MailboxClassName(const std::wstring& suffix) {
  wchar_t name[64];
  _snwprintf(name, 64, L"evFdtDtmWorker.%08lX.%08lX", ::GetCurrentProcessId(), ::GetCurrentThreadId());
  name[63] = L'\0';
  if (suffix.empty()) return name;
  return std::wstring(name, 24) + suffix;  // "evFdtDtmWorker.<process>." and the suffix
}

// Registers the mailbox's window class. A class of that name is a
// leftover: no running thread has this thread's id, so it was left by a
// worker that ended without cleaning up (a thread ended by force) whose id
// this thread got again. It is removed, or no worker with this id could
// ever start again.
bool RegisterMailboxClass(const WNDCLASSEXW& windowClass) {
  if (::RegisterClassExW(&windowClass)) return true;
  if (::GetLastError() != ERROR_CLASS_ALREADY_EXISTS ||
      !::UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance))
    return false;
  return ::RegisterClassExW(&windowClass) != 0;
}

}  // namespace

CevFDT_ThreadManagerImpl::CevFDT_ThreadManagerImpl()
    : progressIdle_(::CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}

CevFDT_ThreadManagerImpl::~CevFDT_ThreadManagerImpl() { LetThreadEnd(); }

bool CevFDT_ThreadManagerImpl::KeepReportedMessage(const wchar_t*) { return false; }

bool CevFDT_ThreadManagerImpl::ThreadManagerFrameIs121() { return false; }

const CLSID& CevFDT_ThreadManagerImpl::WorkerThreadClassId() { return CLSID_CustomDtmThread; }

std::wstring CevFDT_ThreadManagerImpl::WorkerMailboxClassSuffix() { return std::wstring(); }

DWORD WINAPI CevFDT_ThreadManagerImpl::ThreadProc(void* parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  const HMODULE module = start->module;
  const std::shared_ptr<WorkerMailbox> mailbox = start->mailbox;
  const HRESULT init = ::CoInitialize(nullptr);
  // A message queue exists before anybody posts to this thread.
  MSG msg;
  ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

  IevFdtDtmThread* thread = nullptr;
  if (SUCCEEDED(init))
    ::CoCreateInstance(start->classId, nullptr, CLSCTX_INPROC_SERVER, IID_IevFdtDtmThread,
                       reinterpret_cast<void**>(&thread));
  MailboxContext context{thread, true};
  // A class name that cannot be made leaves the thread without a mailbox:
  // its starter still learns so through `ready`.
  std::wstring className;
  win32::guard([&] { className = MailboxClassName(start->classSuffix); });
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &MailboxProc;
  windowClass.hInstance = module;
  windowClass.lpszClassName = className.c_str();
  HWND window = nullptr;
  if (thread && !className.empty() && RegisterMailboxClass(windowClass)) {
    window = ::CreateWindowExW(0, className.c_str(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    if (window) ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&context));
  }
  MailboxFilter filter(window);
  if (window) {
    ::CoRegisterMessageFilter(&filter, nullptr);
    win32::CsLock hold(mailbox->lock);
    mailbox->window = window;
  }
  // Nobody could reach or stop a loop without a mailbox.
  start->running = window != nullptr;
  ::SetEvent(start->ready);  // `start` belongs to the starter from here on

  if (window) {
    thread->ThreadMessageLoop();
    // No call arrives from here on; those already posted are refused, so
    // that no caller waits for them.
    {
      win32::CsLock hold(mailbox->lock);
      mailbox->window = nullptr;
    }
    context.takesCalls = false;
    ServeMailbox(window);
    ::CoRegisterMessageFilter(nullptr, nullptr);
    ::DestroyWindow(window);
  }
  if (!className.empty()) ::UnregisterClassW(className.c_str(), module);
  if (thread) thread->Release();
  if (SUCCEEDED(init)) ::CoUninitialize();
  // Its proxies and stubs are gone with its apartment: the module may now
  // give back the type libraries they were made from (Module.h).
  com::unlockModule();
  // The DTM may be gone and the module's last object released: this code
  // stays loaded until the thread has left it.
  ::FreeLibraryAndExitThread(module, 0);
  return 0;
}

bool CevFDT_ThreadManagerImpl::StartThread() {
  if (thread_) return true;
  win32::UniqueHandle ready(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!ready) return false;
  com::ComPtr<IDispatch> link;
  if (FAILED(com::createObjectLink(ThreadManagerDtmObject(), link))) return false;
  com::ComPtr<IUnknown> standIn;
  if (FAILED(CreateDtmStandIn(link.get(), standIn))) return false;
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&CevFDT_ThreadManagerImpl::ThreadProc), &module))
    return false;
  ThreadStart start{WorkerThreadClassId(), ready.get(), module, std::make_shared<WorkerMailbox>(), false,
                    WorkerMailboxClassSuffix()};
  DWORD id = 0;
  // The thread's module lock, which it drops when it has left its apartment.
  com::lockModule();
  win32::UniqueHandle thread(::CreateThread(nullptr, 0, &ThreadProc, &start, 0, &id));
  if (!thread) {
    com::unlockModule();
    ::FreeLibrary(module);
    return false;
  }
  if (!WaitWithMessageLoop(ready.get())) ::WaitForSingleObject(ready.get(), INFINITE);
  if (!start.running) {
    // The thread ends by itself without its object or its mailbox.
    WaitWithMessageLoop(thread.get());
    com::clearObjectLink(link.get());
    return false;
  }
  thread_ = std::move(thread);
  threadId_ = id;
  mailbox_ = start.mailbox;
  link_ = link;
  PostPointer(dtm_command::kSetDtm, link.get(), standIn.get());
  return true;
}

bool CevFDT_ThreadManagerImpl::StopThread() {
  // The notice workers call back into this object: they end first, while
  // everything they may reach is still there.
  WaitForNoticeWorkers();
  if (!thread_) return true;
  SetThreadTimeout(0);
  PostRequest(dtm_command::kSetDtm, nullptr);
  mailbox_ = nullptr;
  // The handle is this wait's own: a stop or release served while it waits
  // finds no thread left to stop, and closes nothing the wait still uses.
  win32::UniqueHandle thread = std::move(thread_);
  const DWORD threadId = threadId_;
  threadId_ = 0;
  const bool ended = ::PostThreadMessageA(threadId, WM_QUIT, 0, 0) && WaitWithMessageLoop(thread.get()) == 1;
  if (!ended) ::TerminateThread(thread.get(), 1);
  com::clearObjectLink(link_.get());
  link_ = nullptr;
  return true;
}

void CevFDT_ThreadManagerImpl::LetThreadEnd() {
  // First: nothing the worker does from here on reaches this object.
  com::clearObjectLink(link_.get());
  link_ = nullptr;
  // Notice workers are not waited for: each held its own reference on this
  // object while it could call it, so none can reach it any more (the last
  // release may have been one of theirs). Each keeps the module loaded
  // for itself until it has ended. One whose thread has not taken its
  // interfaces yet (this object goes with its apartment, say, whose end
  // gives up the references they held) is withdrawn: it would reach the
  // frame after its DTM has gone, perhaps while the frame's application
  // ends.
  std::vector<NoticeWorker> workers;
  {
    win32::CsLock lock(noticeWorkersLock_);
    workers.swap(noticeWorkers_);
  }
  for (const NoticeWorker& worker : workers)
    if (worker.handover) WithdrawWorker(*worker.handover);
  if (!thread_) return;
  // The loop ends; the timer and the link go with the worker's object.
  mailbox_ = nullptr;
  ::PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
  thread_.reset();
  threadId_ = 0;
}

HRESULT CevFDT_ThreadManagerImpl::CallWorker(bool timeout, ULONG code, const VARIANT& argument) {
  // A copy: the mailbox may be dropped by a call served during this one.
  std::shared_ptr<WorkerMailbox> mailbox = mailbox_;
  if (!mailbox) return E_FAIL;
  return com::guard([&]() -> HRESULT {
    auto call = std::make_shared<WorkerCall>();
    call->timeout = timeout;
    call->code = code;
    call->done.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!call->done) return HRESULT_FROM_WIN32(::GetLastError());
    HRESULT hr = call->argument.pack(argument);
    if (FAILED(hr)) return hr;
    {
      win32::CsLock hold(mailbox->lock);
      if (!mailbox->window) return E_FAIL;
      auto handed = std::make_unique<std::shared_ptr<WorkerCall>>(call);
      if (!::PostMessageW(mailbox->window, kWorkerCallMessage, 0, reinterpret_cast<LPARAM>(handed.get())))
        return E_FAIL;
      handed.release();  // the window procedure deletes it
    }
    // The worker's calls into this apartment are served while waiting. A
    // worker waiting for a call of its own wakes for a message posted while
    // it waits, but not for one that arrived while it was looking at its
    // queue: a message without meaning wakes it again now and then.
    while (WaitOneWithMessageLoop(call->done.get(), kMailboxNudgeMs) != 1) {
      win32::CsLock hold(mailbox->lock);
      if (mailbox->window) ::PostMessageW(mailbox->window, WM_NULL, 0, 0);
    }
    return call->result;
  });
}

HRESULT CevFDT_ThreadManagerImpl::PostCode(ULONG code, const VARIANT& argument) {
  return CallWorker(false, code, argument);
}

HRESULT CevFDT_ThreadManagerImpl::PostCode(ULONG code) {
  VARIANT empty;
  ::VariantInit(&empty);
  return PostCode(code, empty);
}

HRESULT CevFDT_ThreadManagerImpl::PostText(ULONG code, const wchar_t* text) {
  return com::guard([&] {
    com::Variant value(text);
    return PostCode(code, value.value());
  });
}

HRESULT CevFDT_ThreadManagerImpl::PostNumber(ULONG code, ULONG value) {
  return PostCode(code, com::ui4(value).value());
}

HRESULT CevFDT_ThreadManagerImpl::PostPacked(ULONG code, CevVAPacker& record) {
  com::Variant packed;
  if (!record.PackToVariant(packed.put())) return E_FAIL;
  const HRESULT hr = PostCode(code, packed.value());
  return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT CevFDT_ThreadManagerImpl::PostRequest(ULONG code, IUnknown* pointer) {
  return PostPointer(code, pointer, nullptr);
}

HRESULT CevFDT_ThreadManagerImpl::PostPointer(ULONG code, IUnknown* pointer, IUnknown* standIn) {
  // Only a poster that waits hands over an event: the worker never signals
  // a handle that its poster may already have closed.
  win32::UniqueHandle event;
  if (pointer) {
    event.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event) return HRESULT_FROM_WIN32(::GetLastError());
  }
  // The frame's sinks travel with it (see SetPointer); their entries go
  // when this call returns, after the worker took them.
  const bool frame = code == dtm_command::kSetFrame;
  com::GlobalInterface events, states;
  if (frame && pointer) {
    frame_events::OfferSink(pointer, DIID_IFrameDtmEvents, events);
    if (ThreadManagerFrameIs121()) frame_events::OfferSink(pointer, DIID_IFrameDtmEvents2, states);
  }
  // {event, pointer, then the frame's two sink entries or the DTM's
  // stand-in}.
  SAFEARRAYBOUND bound{frame ? 4u : 3u, 0};
  SAFEARRAY* array = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
  if (!array) return E_OUTOFMEMORY;
  com::Variant argument;
  V_VT(argument.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(argument.get()) = array;  // owned by `argument` from here on

  // SafeArrayPutElement copies each value (and adds its own reference).
  auto put = [array](LONG index, VARIANT value) { return ::SafeArrayPutElement(array, &index, &value); };
  auto unknown = [](IUnknown* object) {
    VARIANT value;
    ::VariantInit(&value);
    V_VT(&value) = VT_UNKNOWN;
    V_UNKNOWN(&value) = object;
    return value;
  };
  HRESULT hr = put(0, com::ui4(HandleToULong(event.get())).value());
  if (SUCCEEDED(hr)) hr = put(1, unknown(pointer));
  if (frame) {
    if (SUCCEEDED(hr)) hr = put(2, com::ui4(events.cookie()).value());
    if (SUCCEEDED(hr)) hr = put(3, com::ui4(states.cookie()).value());
  } else if (SUCCEEDED(hr)) {
    hr = put(2, unknown(standIn));
  }
  if (FAILED(hr)) return hr;

  hr = PostCode(code, argument.value());
  if (SUCCEEDED(hr) && pointer) WaitWithMessageLoop(event.get());
  return hr;
}

HRESULT CevFDT_ThreadManagerImpl::PostGoOnline() {
  win32::UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event) return HRESULT_FROM_WIN32(::GetLastError());
  const HRESULT hr = PostNumber(dtm_command::kGoOnline, HandleToULong(event.get()));
  // Accepted means queued: the worker sets its duplicate of the event when
  // it is done (or when it drops the command at shutdown).
  if (SUCCEEDED(hr)) WaitWithMessageLoop(event.get());
  return hr;
}

HRESULT CevFDT_ThreadManagerImpl::SetThreadTimeout(ULONG periodMs) {
  const HRESULT hr = CallWorker(true, 0, com::ui4(periodMs).value());
  if (SUCCEEDED(hr)) timerPeriod_ = periodMs;
  return hr;
}

bool CevFDT_ThreadManagerImpl::PostAndWait(UINT message, WPARAM wParam, LPARAM lParam, HANDLE handle) {
  if (!threadId_ || !::PostThreadMessageA(threadId_, message, wParam, lParam)) return false;
  return !handle || WaitWithMessageLoop(handle) == 1;
}

void CevFDT_ThreadManagerImpl::ReportMessage(const char* format, ...) {
  if (!format) return;
  char buffer[4096];
  va_list arguments;
  va_start(arguments, format);
  const int written = std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  if (written < 0) return;  // vsnprintf cuts longer text and always ends it
  com::guard([&]() -> HRESULT {
    com::Bstr text;
    HRESULT hr = text.assignMultiByte(buffer);
    if (FAILED(hr)) return hr;
    ReportMessageText(text.c_str());
    return S_OK;
  });
}

void CevFDT_ThreadManagerImpl::ReportMessageText(const wchar_t* text) {
  if (!text) return;
  constexpr size_t kLongest = 4095;
  com::guard([&]() -> HRESULT {
    const size_t length = std::wcslen(text);
    com::Bstr kept;
    kept.attach(::SysAllocStringLen(text, static_cast<UINT>(length < kLongest ? length : kLongest)));
    if (!kept.get()) return E_OUTOFMEMORY;
    if (KeepReportedMessage(kept.c_str())) return S_OK;
    return PostText(dtm_command::kErrorMessage, kept.c_str());
  });
}

// --- notice workers ---------------------------------------------------------

HRESULT CevFDT_ThreadManagerImpl::StartWorkerThread(CWorker* worker) {
  win32::CsLock lock(noticeWorkersLock_);
  ForgetEndedNoticeWorkers();
  try {
    noticeWorkers_.reserve(noticeWorkers_.size() + 1);  // no failure once the thread runs
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  HANDLE thread = nullptr;
  std::shared_ptr<WorkerHandover> handover;
  const HRESULT hr = ::StartWorkerThread(ThreadManagerFrameObject(), ThreadManagerDtmObject(), worker,
                                         &thread, &handover);
  if (SUCCEEDED(hr))
    noticeWorkers_.push_back(NoticeWorker{win32::UniqueHandle(thread), std::move(handover)});
  return hr;
}

size_t CevFDT_ThreadManagerImpl::RunningNoticeWorkers() {
  win32::CsLock lock(noticeWorkersLock_);
  ForgetEndedNoticeWorkers();
  return noticeWorkers_.size();
}

void CevFDT_ThreadManagerImpl::ForgetEndedNoticeWorkers() {
  noticeWorkers_.erase(std::remove_if(noticeWorkers_.begin(), noticeWorkers_.end(),
                                      [](const NoticeWorker& worker) {
                                        return ::WaitForSingleObject(worker.thread.get(), 0) == WAIT_OBJECT_0;
                                      }),
                       noticeWorkers_.end());
}

void CevFDT_ThreadManagerImpl::WaitForNoticeWorkers() {
  std::vector<NoticeWorker> workers;
  {
    win32::CsLock lock(noticeWorkersLock_);
    workers.swap(noticeWorkers_);
  }
  // Their calls into this apartment are served while waiting.
  const DWORD start = ::GetTickCount();
  for (const NoticeWorker& worker : workers) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= kNoticeWorkersWaitMs) break;
    WaitOneWithMessageLoop(worker.thread.get(), kNoticeWorkersWaitMs - elapsed);
  }
}

HRESULT CevFDT_ThreadManagerImpl::PostActiveXMessage(ULONG code) {
  if (code < kFirstControlMessage || code > kLastControlMessage) return E_INVALIDARG;
  auto* worker = new (std::nothrow) CActiveXMessageWorker(code);
  if (!worker) return S_OK;
  if (FAILED(StartWorkerThread(worker))) delete worker;
  return S_OK;
}

HRESULT CevFDT_ThreadManagerImpl::QueueWorkerRequest(const wchar_t* text, USHORT percent, SHORT flag) {
  if (!ThreadManagerFrameObject()) return E_FAIL;
  HANDLE idle = progressIdle_.get();
  if (!idle) return E_FAIL;
  if (flag != 0 && ::WaitForSingleObject(idle, 0) != WAIT_OBJECT_0) return S_OK;  // dropped
  WaitOneWithMessageLoop(idle, INFINITE);
  ::ResetEvent(idle);
  return com::guard([&]() -> HRESULT {
    CProgressMessageWorker* worker = nullptr;
    try {
      worker = new CProgressMessageWorker(text, percent, flag, idle);
    } catch (...) {
      ::SetEvent(idle);
      throw;
    }
    const HRESULT hr = StartWorkerThread(worker);
    if (FAILED(hr)) delete worker;  // sets the event again
    return hr;
  });
}

void CevFDT_ThreadManagerImpl::ReportProgress(ULONG done, ULONG total, const wchar_t* text) {
  if (done == 0) {
    QueueWorkerRequest(text, 0, 0);
    return;
  }
  USHORT percent = 0;
  if (!ProgressStepDue(done, total, progressStep, &progressThreshold, &percent)) return;
  if (!progressQuiet) QueueWorkerRequest(text, percent, -1);
}
