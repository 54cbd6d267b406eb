// Notice workers: each runs once on a short-lived single-threaded apartment
// of its own, with the frame's and the DTM's interfaces marshalled to it.
#include "toolkit/worker/message_workers.h"

#include <new>

#include "com/ComError.h"
#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Marshalled.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "toolkit/values/frame_events.h"

namespace {

// Allocated by StartWorkerThread, freed by the worker's thread.
struct WorkerStart {
  com::MarshalledInterface frame;
  com::MarshalledInterface dtm;
  com::GlobalInterface events;      // the frame's event sink, when it has one
  CWorker* worker = nullptr;
  HMODULE module = nullptr;  // the thread's reference on the module of this code
};

// Runs the worker; everything it owns is gone before it returns.
void RunWorker(WorkerStart* start) {
  const HRESULT init = ::CoInitialize(nullptr);
  {
    com::ComPtr<IFrameContainer> frame;
    com::ComPtr<IevFdtBaseDTM> dtm;
    // What raises here runs no worker; the start block still goes.
    const HRESULT ready = FAILED(init) ? init : com::guard([&]() -> HRESULT {
      start->frame.unmarshal(frame);
      start->dtm.unmarshal(dtm);
      com::ComPtr<IDispatch> events;
      if (start->events.cookie()) start->events.take(events.putVoid());
      start->worker->SetFrameEventSink(events.get());
      return S_OK;
    });
    if (SUCCEEDED(ready) && frame && dtm) {
      CWorker* worker = start->worker;
      com::guard([&] { return worker->Execute(frame.get(), dtm.get()); });
    }
    start->worker->SetFrameEventSink(nullptr);
    delete start->worker;
    delete start;
    // The proxies go before the apartment does.
  }
  if (SUCCEEDED(init)) ::CoUninitialize();
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
                          HANDLE* thread) {
  if (thread) *thread = nullptr;
  if (!worker) return E_INVALIDARG;
  com::ComPtr<IFrameContainer> frame;
  if (!frameObject || FAILED(frame.queryFrom(frameObject)) || !frame) return E_FAIL;
  com::ComPtr<IevFdtBaseDTM> dtm;
  if (!dtmObject || FAILED(dtm.queryFrom(dtmObject)) || !dtm) return E_FAIL;

  auto* start = new (std::nothrow) WorkerStart;
  if (!start) return E_FAIL;
  if (FAILED(start->frame.marshal(IID_IFrameContainer, frame.get())) ||
      FAILED(start->dtm.marshal(IID_IevFdtBaseDTM, dtm.get()))) {
    delete start;  // gives back what was marshalled
    return E_FAIL;
  }
  // The event sink is queried here and handed over under its own dispatch
  // interface (frame_events.h); its entry goes with the start block.
  frame_events::OfferSink(frameObject, DIID_IFrameDtmEvents, start->events);
  start->worker = worker;
  // The worker's thread keeps the module of its code loaded while it runs,
  // whoever unloads the DTM's server in the meantime.
  // It also holds a module lock until it has left its apartment (Module.h).
  HANDLE started = nullptr;
  com::lockModule();
  if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&WorkerThreadProc), &start->module))
    started = ::CreateThread(nullptr, 0, &WorkerThreadProc, start, 0, nullptr);
  if (!started) {
    if (start->module) ::FreeLibrary(start->module);
    com::unlockModule();
    delete start;
    return E_FAIL;
  }
  if (thread)
    *thread = started;
  else
    ::CloseHandle(started);
  return S_OK;
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
