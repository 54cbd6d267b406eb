// Notice workers: each runs once on a short-lived single-threaded apartment
// of its own, with the frame's and the DTM's interfaces marshalled to it.
#include "toolkit/worker/message_workers.h"

#include <memory>
#include <new>
#include <utility>

#include "com/ComError.h"
#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Marshalled.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "toolkit/values/frame_events.h"

struct WorkerHandover {
  win32::CriticalSection lock;
  com::MarshalledInterface frame;
  com::MarshalledInterface dtm;
  com::GlobalInterface events;  // the frame's event sink, when it has one
  bool taken = false;      // by the thread: the starter can no longer withdraw it
  bool withdrawn = false;  // by the starter: the thread takes nothing
};

namespace {

// Allocated by StartWorkerThread, freed by the worker's thread.
struct WorkerStart {
  std::shared_ptr<WorkerHandover> handover;
  CWorker* worker = nullptr;
  HMODULE module = nullptr;  // the thread's reference on the module of this code
};

// The thread's side of the handover, unless the starter withdrew it: the
// DTM first, the frame and its sink only with it. Under the lock, so that a
// withdrawal either comes first or finds everything taken; unmarshalling
// calls no other apartment. What is left is given back with the handover.
void TakeHandover(WorkerHandover& handover, com::ComPtr<IevFdtBaseDTM>& dtm,
                  com::ComPtr<IFrameContainer>& frame, com::ComPtr<IDispatch>& events) {
  win32::CsLock hold(handover.lock);
  if (handover.withdrawn) return;
  handover.taken = true;
  if (FAILED(handover.dtm.unmarshal(dtm)) || !dtm) return;
  handover.frame.unmarshal(frame);
  if (handover.events.cookie() && FAILED(handover.events.take(events.putVoid()))) events = nullptr;
  handover.events.revoke();
}

// Runs the worker; everything it owns is gone before it returns.
void RunWorker(WorkerStart* start) {
  CWorker* worker = start->worker;
  com::guard([&] {
    worker->Starting();
    return S_OK;
  });
  const HRESULT init = ::CoInitialize(nullptr);
  {
    com::ComPtr<IevFdtBaseDTM> dtm;
    com::ComPtr<IFrameContainer> frame;
    com::ComPtr<IDispatch> events;
    // What raises here runs no worker; the start block still goes.
    const HRESULT ready = FAILED(init) ? init : com::guard([&]() -> HRESULT {
      TakeHandover(*start->handover, dtm, frame, events);
      worker->SetFrameEventSink(events.get());
      return S_OK;
    });
    events = nullptr;
    if (SUCCEEDED(ready) && frame && dtm) com::guard([&] { return worker->Execute(frame.get(), dtm.get()); });
    // The frame goes before the DTM: this worker's reference may be the
    // DTM's last, and nothing of a DTM that is gone may still reach the
    // frame, whose application may be ending.
    worker->SetFrameEventSink(nullptr);
    frame = nullptr;
    delete worker;
    // The proxies go before the apartment does.
  }
  if (SUCCEEDED(init)) ::CoUninitialize();
  delete start;
}

DWORD WINAPI WorkerThreadProc(void* parameter) {
  auto* start = static_cast<WorkerStart*>(parameter);
  const HMODULE module = start->module;
  RunWorker(start);
  // Its proxies are gone with its apartment: the module may now give back
  // the type libraries they were made from.
  com::unlockModule();
  // The module may be unloaded as soon as its last reference goes: this
  // thread drops its own only on the way out, never returning into it.
  ::FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

HRESULT StartWorkerThread(IUnknown* frameObject, IUnknown* dtmObject, CWorker* worker,
                          HANDLE* thread, std::shared_ptr<WorkerHandover>* handover) {
  if (thread) *thread = nullptr;
  if (handover) *handover = nullptr;
  if (!worker) return E_INVALIDARG;
  com::ComPtr<IFrameContainer> frame;
  if (!frameObject || FAILED(frame.queryFrom(frameObject)) || !frame) return E_FAIL;
  com::ComPtr<IevFdtBaseDTM> dtm;
  if (!dtmObject || FAILED(dtm.queryFrom(dtmObject)) || !dtm) return E_FAIL;

  std::unique_ptr<WorkerStart> start(new (std::nothrow) WorkerStart);
  if (!start) return E_FAIL;
  try {
    start->handover = std::make_shared<WorkerHandover>();
  } catch (...) {
    return E_FAIL;
  }
  WorkerHandover& given = *start->handover;
  // Given back with the handover on failure.
  if (FAILED(given.frame.marshal(IID_IFrameContainer, frame.get())) ||
      FAILED(given.dtm.marshal(IID_IevFdtBaseDTM, dtm.get())))
    return E_FAIL;
  // The event sink is queried here and handed over under its own dispatch
  // interface (frame_events.h); its entry goes with the handover.
  frame_events::OfferSink(frameObject, DIID_IFrameDtmEvents, given.events);
  start->worker = worker;
  // The worker's thread keeps the module of its code loaded while it runs,
  // whoever unloads the DTM's server in the meantime.
  // It also holds a module lock until it has left its apartment (Module.h).
  if (handover) *handover = start->handover;
  HANDLE started = nullptr;
  com::lockModule();
  if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&WorkerThreadProc), &start->module))
    started = ::CreateThread(nullptr, 0, &WorkerThreadProc, start.get(), 0, nullptr);
  if (!started) {
    if (start->module) ::FreeLibrary(start->module);
    com::unlockModule();
    if (handover) *handover = nullptr;
    return E_FAIL;
  }
  start.release();  // the thread's from here on
  if (thread)
    *thread = started;
  else
    ::CloseHandle(started);
  return S_OK;
}

bool WithdrawWorker(WorkerHandover& handover) {
  com::MarshalledInterface frame, dtm;
  com::GlobalInterface events;
  bool withdrawn;
  {
    win32::CsLock hold(handover.lock);
    withdrawn = !handover.taken;
    handover.withdrawn = true;
    // Also what a thread that has taken its part left (the frame of a DTM
    // that could not be unmarshalled): it is never taken now.
    frame = std::move(handover.frame);
    dtm = std::move(handover.dtm);
    events = std::move(handover.events);
  }
  // Given back here, on the starter's thread, without the lock.
  return withdrawn;
}

// --- progress notice ----------------------------------------------------------

CProgressMessageWorker::CProgressMessageWorker(const wchar_t* text, USHORT percent, SHORT flag,
                                               HANDLE progressEvent)
    : text_(text), percent_(percent), flag_(flag) {
  HANDLE duplicate = nullptr;
  if (progressEvent &&
      !::DuplicateHandle(::GetCurrentProcess(), progressEvent, ::GetCurrentProcess(), &duplicate, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
    throw com::ComError(HRESULT_FROM_WIN32(::GetLastError()));
  progressEvent_.reset(duplicate);
}

CProgressMessageWorker::~CProgressMessageWorker() {
  if (progressEvent_) ::SetEvent(progressEvent_.get());
}

HRESULT CProgressMessageWorker::Execute(IFrameContainer* frameObject, IevFdtBaseDTM* dtm) {
  if (!frameObject || !dtm) return E_FAIL;
  com::Bstr tag;
  HRESULT hr = dtm->GetSystemTag(tag.put());
  if (FAILED(hr)) return hr;
  IDispatch* sink = FrameEventSink();
  if (!sink) return E_FAIL;
  hr = frame_events::Progress(sink, tag.get(), text_.get(), static_cast<short>(percent_), flag_);
  return SUCCEEDED(hr) ? S_OK : hr;
}

// --- control message ----------------------------------------------------------

HRESULT CActiveXMessageWorker::Execute(IFrameContainer* frameObject, IevFdtBaseDTM* dtm) {
  if (!frameObject || !dtm) return E_FAIL;
  com::ComPtr<IevFdtActiveXContainer> controls;
  if (SUCCEEDED(controls.queryFrom(dtm)) && controls)
    controls->SetControlsProperty(com::ui4(kControlMessageProperty).value(),
                                  com::ui4(code_).value());
  return S_OK;
}
