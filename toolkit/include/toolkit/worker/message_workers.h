// Notice workers: small objects that each carry one notice (a progress
// notice to the frame, a message code to the DTM's open controls) on a
// short-lived thread of their own, so that the operation that produces the
// notice is not blocked and the frame is called from a thread of its own
// apartment.
//
// A worker runs once: StartWorkerThread (here or through the DTM's
// CevFDT_ThreadManagerImpl) marshals the frame's IFrameContainer and the
// DTM's IevFdtBaseDTM to a new single-threaded apartment, and hands over the
// frame's IFrameDtmEvents sink under its own dispatch interface
// (frame_events.h); the thread calls Execute with the proxies, deletes the
// worker and ends. The calls made
// through the proxies run in the DTM's apartment, which must keep
// dispatching messages.
//
// Until its thread has taken them, what was marshalled for a worker stays
// with its starter, which can withdraw it (WithdrawWorker): a DTM that goes
// while its notices wait for their threads gives their references back on
// its own thread, and none of them reaches the frame afterwards.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "win32/unique_handle.h"
#include "fdt.h"
#include "toolkit.h"

class CWorker {
 public:
  CWorker() = default;
  CWorker(const CWorker&) = delete;
  CWorker& operator=(const CWorker&) = delete;

  // Runs once on the worker's own thread; its result is not used.
  virtual HRESULT Execute(IFrameContainer* frameObject, IevFdtBaseDTM* dtm) = 0;
  // Runs first on the worker's own thread, before it takes the interfaces
  // handed over (a worker withdrawn by then takes none and is not executed).
  // Does nothing unless a worker class needs it.
  virtual void Starting() {}
  virtual ~CWorker() = default;

  // The frame's IFrameDtmEvents sink, handed over with the frame by the
  // worker's thread (null when the frame has none); valid during Execute.
  IDispatch* FrameEventSink() const { return frameEvents_.get(); }
  void SetFrameEventSink(IDispatch* sink) { frameEvents_ = com::ComPtr<IDispatch>(sink); }

 private:
  com::ComPtr<IDispatch> frameEvents_;
};

// One progress notice: IFrameDtmEvents::OnProgress(system tag, text,
// percent, flag). The DTM's progress event is set when the worker is
// deleted, whether the notice ran, failed or never started, so that the
// next notice can start.
class CProgressMessageWorker : public CWorker {
 public:
  // Copies the text and duplicates the event handle, so that the worker's
  // thread never signals a handle its creator has closed. Raises
  // com::ComError (E_OUTOFMEMORY, or the duplication's failure).
  CProgressMessageWorker(const wchar_t* text, USHORT percent, SHORT flag, HANDLE progressEvent);
  ~CProgressMessageWorker() override;
  HRESULT Execute(IFrameContainer* frameObject, IevFdtBaseDTM* dtm) override;

 private:
  com::Bstr text_;
  USHORT percent_;
  SHORT flag_;                        // 0 start notice, -1 step notice
  win32::UniqueHandle progressEvent_; // a duplicate of the DTM's event
};

// One control message (64..68): IevFdtActiveXContainer::SetControlsProperty
// with (VT_UI4 10003, VT_UI4 code) on the DTM.
class CActiveXMessageWorker : public CWorker {
 public:
  explicit CActiveXMessageWorker(ULONG code) : code_(code) {}
  HRESULT Execute(IFrameContainer* frameObject, IevFdtBaseDTM* dtm) override;

 private:
  ULONG code_;
};

// The property key under which control messages reach the controls.
constexpr ULONG kControlMessageProperty = 10003;
constexpr ULONG kFirstControlMessage = 64;
constexpr ULONG kLastControlMessage = 68;

// What a worker's thread takes over: the marshalled frame, DTM and sink.
// Shared by the thread and its starter.
struct WorkerHandover;

// Runs worker on a new thread with the frame's IFrameContainer, its event
// sink and the DTM's IevFdtBaseDTM (all queried here, in the caller's
// apartment).
// E_FAIL when either is missing or the thread cannot start; the caller then
// still owns the worker. On S_OK the thread owns it. The thread holds a
// reference on the module of this code until its very end, so the module
// stays loaded for it. With thread not null, *thread receives the thread's
// handle (null on failure), which the caller closes; whoever unloads the
// module's owner should wait for it. With handover not null, *handover
// receives what the thread is to take, for WithdrawWorker.
HRESULT StartWorkerThread(IUnknown* frameObject, IUnknown* dtmObject, CWorker* worker,
                          HANDLE* thread = nullptr,
                          std::shared_ptr<WorkerHandover>* handover = nullptr);

// Withdraws a worker whose thread has not taken its interfaces yet: the
// references marshalled for it go back here, on the caller's thread (the
// starter's), and the thread ends without calling the frame or the DTM or
// executing the worker. False when the thread has taken them already.
bool WithdrawWorker(WorkerHandover& handover);
