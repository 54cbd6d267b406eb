// The DTM worker thread: one single-threaded apartment per DTM object that
// runs the DTM's longer operations and sends every notice to the frame.
//
// Two halves:
// - CCustomDtmThread (built on CevFDT_DtmThreadImpl), the COM object that
//   lives on the worker thread and answers IevFdtDtmThread. Commands 1 to 33
//   (dtm_command below), each with one VARIANT argument, reach it through
//   PostRequest; some run at once, the others are queued to its message loop.
// - CevFDT_ThreadManagerImpl, the DTM object's side: starts and stops the
//   thread and hands commands to the worker's object through a mailbox of
//   the worker thread (a message-only window; the worker's apartment
//   exports nothing, see WorkerMailbox in dtm_thread.cpp). Also the notice
//   workers of message_workers.h (progress, control messages) start from
//   here.
//
// How a DTM server provides the class (the test DTM and the HART DTM alike):
//
//   #include "toolkit/worker/dtm_thread.h"
//   const com::ClassRegistration kThreadRegistration = {
//       &CLSID_CustomDtmThread, L"<DTM name> Thread",
//       L"<DTM ProgID>_Thread.1", L"<DTM ProgID>_Thread", L"Apartment",
//       &LIBID_<the DTM's type library>, nullptr, false, nullptr, nullptr, nullptr};
//   const com::ClassEntry kClasses[] = {
//       ...the DTM class...,
//       {&CLSID_CustomDtmThread, &com::createObjectNoAggregation<CCustomDtmThread>,
//        &kThreadRegistration}};
//
// The server's type library must describe IevFdtDtmThread, IevFdtBaseDTM and
// the other toolkit interfaces the worker calls (the DTM's library lists them)
// and be registered, so that the typelib marshaller carries them. A DTM whose
// thread class has another class id overrides WorkerThreadClassId.
//
// The base DTM derives from CevFDT_ThreadManagerImpl and answers its two
// hooks (ThreadManagerDtmObject, ThreadManagerFrameObject); it calls
// StartThread when it is initialised for its device type and StopThread at
// shutdown. A DTM released without shutdown lets its thread end from its
// destructor (LetThreadEnd).
//
// Lifetime: the worker never owns the DTM between commands. It holds a
// small link object of the DTM's apartment (a dispatch object whose value
// is the DTM) and the DTM's stand-in (CreateDtmStandIn), an IevFdtBaseDTM
// of the DTM's apartment that reaches the DTM through the link. The worker
// queries the stand-in once when it starts and keeps it until it ends; it
// asks the link for the DTM itself only when a command or a timer tick
// needs another of its interfaces, dropping that reference when done. So
// the frame's last release reaches the DTM even while its worker runs; the
// DTM then clears the link and tells the worker to end. The worker thread
// keeps the module loaded until its last instruction
// (FreeLibraryAndExitThread), and holds a module lock until it has left its
// apartment.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "fdt.h"
#include "hartcommdtm.h"
#include "toolkit.h"
#include "toolkit/values/va_packer.h"
#include "win32/unique_handle.h"

class CWorker;
struct WorkerHandover;
struct WorkerMailbox;

// Commands of the worker thread. "now": handled inside PostRequest on the
// worker thread; "queued": handled later by the worker's message loop.
namespace dtm_command {
constexpr ULONG kSetDtm = 1;          // queued: {event VT_UI4, link VT_UNKNOWN, stand-in
                                       // VT_UNKNOWN}: an IDispatch whose value (DISPID_VALUE)
                                       // is the DTM, empty once gone, and the DTM's stand-in
constexpr ULONG kSetFrame = 2;        // queued: {event VT_UI4, frame object VT_UNKNOWN,
                                      //  [IFrameDtmEvents, IFrameDtmEvents2: VT_UI4 entries of
                                      //  the global interface table, 0 for none]}
constexpr ULONG kUpload = 3;          // queued: packed SOnlineParamData
constexpr ULONG kDownload = 4;        // queued: packed SOnlineParamData
constexpr ULONG kCancelTransfer = 5;  // now: operation id (text)
constexpr ULONG kAddParamUpdate = 6;      // now: packed SParamUpdateInfo
constexpr ULONG kReleaseParamUpdate = 7;  // now: packed SParamUpdateInfo
constexpr ULONG kLowerParamUpdate = 8;    // now: packed SParamUpdateInfo
constexpr ULONG kParamUpdateDone = 9;     // now: parameter id (VT_UI4)
constexpr ULONG kGoOnline = 10;       // now + queued: event (VT_UI4, the worker sets a duplicate when done)
constexpr ULONG kGoOffline = 11;      // now + queued
constexpr ULONG kFunctionChanged = 12;             // frame notice (system tag)
constexpr ULONG kNavigation = 13;                  // frame notice (system tag)
constexpr ULONG kPreparedToRelease = 14;           // frame notice (system tag)
constexpr ULONG kPreparedToReleaseCommunication = 15;  // frame notice (system tag)
constexpr ULONG kParameterChanged = 16;  // frame notice (system tag, text)
constexpr ULONG kErrorMessage = 17;      // frame notice (system tag, text)
constexpr ULONG kChannelFunctionChanged = 18;  // frame notice (system tag, text)
constexpr ULONG kPrint = 19;             // frame notice (system tag, text)
constexpr ULONG kNoAction = 20;
constexpr ULONG kOnlineState = 21;       // VT_UI4 1 entering online, 0 leaving
constexpr ULONG kApplicationClosed = 22; // frame notice (text)
constexpr ULONG kSdaGetItemList = 24;    // queued: text
constexpr ULONG kSdaReadItems = 25;      // queued: packed request
constexpr ULONG kSdaWriteItems = 26;     // queued: packed request
constexpr ULONG kSdaCancel = 27;         // now: text
constexpr ULONG kFirstStateNotice = 28;  // 28..32: DTM event code + 36 (64..68)
constexpr ULONG kLastStateNotice = 32;
constexpr ULONG kStateDocument = 33;     // DTMStateSchema document text
constexpr ULONG kFirst = 1;
constexpr ULONG kLast = 33;
}  // namespace dtm_command

// Thread message that carries one queued command; lParam points to a
// DtmThreadCommand allocated with CoTaskMemAlloc.
constexpr UINT kDtmThreadCommandMessage = WM_USER + 105;

struct DtmThreadCommand {
  ULONG code;
  VARIANT argument;  // a copy; cleared by whoever frees the record
};

// Period of the parameter-update timer while the DTM is online.
constexpr ULONG kOnlineTimerPeriodMs = 100;

// The DTM as its worker keeps it: an IevFdtBaseDTM of the DTM's apartment
// that hands each call on to the DTM behind link (com/ObjectLink.h) while
// the link reaches it, and answers RPC_E_DISCONNECTED once it is gone. It
// holds no reference on the DTM: a proxy of it keeps the DTM alive no longer
// than one call. Made in the DTM's apartment.
HRESULT CreateDtmStandIn(IDispatch* link, com::ComPtr<IUnknown>& standIn);

// ---------------------------------------------------------------------------
// Thread side
// ---------------------------------------------------------------------------

// One parameter that is read from the device periodically.
struct ParamUpdateEntry {
  ULONG period = 0;      // ms
  ULONG remaining = 0;   // ms until the next read
  bool inProgress = false;
  ULONG references = 0;
};

class CevFDT_DtmThreadImpl : public com::ObjectRoot,
                             public com::DispatchImpl<ICustomDtmThread>,
                             public com::DispatchImpl<IevFdtDtmThread> {
 public:
  static const com::InterfaceEntry* interfaceMap();

  // IevFdtDtmThread
  STDMETHODIMP PostRequest(VARIANT code, VARIANT argument, VARIANT* result) override;
  STDMETHODIMP ThreadMessageLoop() override;
  STDMETHODIMP SetTimeout(VARIANT periodMs) override;

  // Executes one queued command on the thread (the message loop calls it).
  HRESULT HandleCommand(const VARIANT& code, const VARIANT& argument);

  // A toolkit message text by number, through the DTM's IevFdtTranslation;
  // *text stays null when the DTM has no text for it. E_UNEXPECTED for a
  // null out pointer.
  HRESULT GetToolkitMessage(ULONG id, BSTR* text);

  // The parameter-update map as it stands (for diagnostics and tests; call
  // on the worker thread).
  const std::map<ULONG, ParamUpdateEntry>& ParamUpdates() const { return updates_; }

 protected:
  CevFDT_DtmThreadImpl();
  ~CevFDT_DtmThreadImpl();
  void finalRelease();

  // Hooks of a derived thread class; the toolkit's do nothing and succeed.
  // A failure of the first is returned from PostRequest.
  virtual HRESULT PreProcessRequest(const VARIANT& code, const VARIANT& argument);
  virtual HRESULT PostProcessCommand(const VARIANT& code, const VARIANT& argument);

 private:
  HRESULT Request(const VARIANT& code, const VARIANT& argument);
  HRESULT Queue(ULONG code, const VARIANT& argument);
  HRESULT Execute(ULONG code, const VARIANT& argument);

  HRESULT SetPointer(ULONG code, const VARIANT& argument);
  HRESULT AcceptTransfer(ULONG code, const VARIANT& argument);
  HRESULT Transfer(ULONG code);
  HRESULT CancelTransfer(const VARIANT& argument);
  HRESULT AddParamUpdate(const VARIANT& argument);
  HRESULT ReleaseParamUpdate(const VARIANT& argument);
  HRESULT LowerParamUpdate(const VARIANT& argument);
  HRESULT ParamUpdateDone(const VARIANT& argument);
  HRESULT AcceptGoOnline(const VARIANT& argument);
  HRESULT AcceptGoOffline(const VARIANT& argument);
  HRESULT GoOnline(const VARIANT& argument);
  HRESULT GoOffline();
  HRESULT FrameNotice(ULONG code, const VARIANT& argument);
  HRESULT SdaRequest(ULONG code, const VARIANT& argument);
  HRESULT StateNotice(ULONG code, const VARIANT& argument);
  HRESULT StateDocument(const VARIANT& argument);

  // The DTM itself for the current command, through the link, to query
  // its other interfaces; null once the DTM is gone or before it handed
  // over its link. Hold it only while used.
  com::ComPtr<IUnknown> DtmObject();
  template <class Interface>
  com::ComPtr<Interface> DtmInterface() {
    com::ComPtr<Interface> found;
    com::ComPtr<IUnknown> object = DtmObject();
    if (object) found.queryFrom(object.get());
    return found;
  }
  HRESULT ReadState(LONG* state);
  HRESULT SystemTag(com::Bstr& tag);
  HRESULT ApplyTimeout(ULONG periodMs);
  void OnTimer();
  static void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD);
  void DrainQueue();

  // Timer (only touched on the worker thread).
  DWORD lastTick_ = 0;
  UINT_PTR timerId_ = 0;
  DWORD timerThread_ = 0;  // the thread whose timer timerId_ is
  ULONG timerPeriod_ = 0;
  bool inTimerWalk_ = false;

  com::ComPtr<IDispatch> dtmLink_;  // see DtmObject()
  // The DTM's IevFdtBaseDTM (its stand-in), queried once by command 1 and
  // kept until the DTM is dropped or the worker ends.
  com::ComPtr<IevFdtBaseDTM> dtm_;
  com::ComPtr<IUnknown> frame_;
  com::ComPtr<IDispatch> frameEvents_;  // IFrameDtmEvents, the sink's proxy
  com::ComPtr<IDispatch> stateSink_;    // IFrameDtmEvents2, the sink's proxy

  // The pending upload or download; operationId is non-empty while one is.
  win32::CriticalSection operationLock_;
  SOnlineParamData operation_;
  // The current operation was cancelled: it keeps its id until its transfer
  // ends, which then answers it (finished, not successful).
  bool operationCancelled_ = false;
  // Its transfer has returned and only its answer is left to send: a cancel
  // now has nothing to stop.
  bool operationEnded_ = false;

  DWORD loopThreadId_ = 0;
  // Set once the message loop has ended: a command queued after it would
  // never run, so none is accepted.
  bool loopEnded_ = false;
  std::map<ULONG, ParamUpdateEntry> updates_;
};

// The COM class of the worker thread (coclass CustomDtmThread). A thread
// class of its own keeps CevFDT_DtmThreadImpl as its first and only COM
// base: the interface map casts from the object's own address.
class CCustomDtmThread : public CevFDT_DtmThreadImpl {};

// ---------------------------------------------------------------------------
// DTM side
// ---------------------------------------------------------------------------

class CevFDT_ThreadManagerImpl {
 public:
  CevFDT_ThreadManagerImpl(const CevFDT_ThreadManagerImpl&) = delete;
  CevFDT_ThreadManagerImpl& operator=(const CevFDT_ThreadManagerImpl&) = delete;

  // True when the thread runs (also when it already ran); false when it
  // could not be started or its object not be created.
  bool StartThread();
  // Waits for the notice workers started here (dispatching messages, at
  // most kNoticeWorkersWaitMs in all), then stops the timer, drops the
  // worker's DTM link, ends the thread and waits for it (dispatching
  // messages). True also without a thread.
  bool StopThread();
  // For a DTM being destroyed: the link no longer reaches it, and the
  // worker is told to end, but neither it nor the notice workers are
  // waited for. The last release may come from one of them
  // (the reference it held for a command or a notice), and a thread
  // cannot wait for one that waits on it. Notice workers whose threads have
  // not taken their interfaces yet are withdrawn (WithdrawWorker).
  void LetThreadEnd();
  bool IsThreadRunning() const { return thread_.get() != nullptr; }
  DWORD WorkerThreadId() const { return threadId_; }

  // One command to the worker's IevFdtDtmThread::PostRequest, on the worker
  // thread; E_FAIL without a thread or once it takes no more commands.
  // Blocks until the worker's PostRequest returned (the caller's apartment
  // keeps dispatching). Interfaces in the argument travel marshalled.
  HRESULT PostCode(ULONG code, const VARIANT& argument);
  HRESULT PostCode(ULONG code);                          // VT_EMPTY argument
  HRESULT PostText(ULONG code, const wchar_t* text);     // VT_BSTR argument
  HRESULT PostNumber(ULONG code, ULONG value);           // VT_UI4 argument
  // Packs the record and posts it; E_FAIL when packing fails.
  HRESULT PostPacked(ULONG code, CevVAPacker& record);
  // Commands 1 and 2: hands a pointer to the worker (null drops it) and,
  // for a pointer, waits until the worker stored it. With the frame go its
  // sinks, each queried here by its own dispatch interface and taken by the
  // worker under the same one (frame_events.h): IFrameDtmEvents, and the
  // state sink IFrameDtmEvents2 only for a frame of FDT 1.2.1.
  HRESULT PostRequest(ULONG code, IUnknown* pointer);
  // Command 10: starts going online and waits until the worker is done.
  // E_FAIL when the DTM is not in communicationSet. With a channel container
  // the worker only asks it to connect (a channel then moves the DTM to
  // online); a DTM that answers no IevFdtChannelContainer4 has nothing to
  // connect and is set online by the worker. Going offline likewise ends in
  // communicationSet without a container.
  HRESULT PostGoOnline();
  // The worker's parameter-update timer (0 stops it).
  HRESULT SetThreadTimeout(ULONG periodMs);
  // The period the worker's timer last accepted (0: stopped).
  ULONG ThreadTimerPeriod() const { return timerPeriod_; }
  // A plain thread message to the worker; with a handle, waits for it.
  bool PostAndWait(UINT message, WPARAM wParam, LPARAM lParam, HANDLE handle);

  // A user message, printf style (at most 4095 characters; longer text is
  // cut). Kept by the DTM while KeepReportedMessage says so, else posted as
  // command 17.
  void ReportMessage(const char* format, ...);
  // The same for a text as it stands (wide, so that no character is lost to
  // a code page; at most 4095 characters are kept).
  void ReportMessageText(const wchar_t* text);

  // Notice workers (message_workers.h). StartWorkerThread takes over the
  // worker on success; on failure the caller still owns it. Their threads
  // are kept here until they end, so that StopThread can wait for them.
  HRESULT StartWorkerThread(CWorker* worker);
  // Notice workers started here that are still running.
  size_t RunningNoticeWorkers();
  // How long StopThread waits for the notice workers in all. One that does
  // not end by then still keeps the module loaded for itself.
  static constexpr DWORD kNoticeWorkersWaitMs = 5000;
  // Control message 64..68 to every open control; E_INVALIDARG outside.
  HRESULT PostActiveXMessage(ULONG code);
  // One progress notice: flag 0 a start notice (waits for the previous
  // one), -1 a step notice (dropped while one is under way). Virtual, so
  // that a DTM class may watch the notices it gives.
  virtual HRESULT QueueWorkerRequest(const wchar_t* text, USHORT percent, SHORT flag);
  // Progress of an operation in units; report done = 0 first.
  void ReportProgress(ULONG done, ULONG total, const wchar_t* text);

  // Progress state: the last reported threshold and the step (percent),
  // and the quiet flag that suppresses step notices.
  ULONG progressThreshold = 0;
  ULONG progressStep = 10;
  bool progressQuiet = false;
  // Signalled while no progress notice is under way.
  HANDLE ProgressEvent() const { return progressIdle_.get(); }

 protected:
  CevFDT_ThreadManagerImpl();
  virtual ~CevFDT_ThreadManagerImpl();

  // The DTM object (its GetCommDtmInterface part); no reference is added.
  virtual IUnknown* ThreadManagerDtmObject() = 0;
  // The frame's object the DTM was attached with; null before. No
  // reference is added.
  virtual IUnknown* ThreadManagerFrameObject() = 0;
  // Whether the frame declared FDT 1.2.1 (Environment2): only such a frame
  // is asked for its state sink. The default: no.
  virtual bool ThreadManagerFrameIs121();
  // True when the DTM keeps the text (message buffering); the default
  // keeps nothing.
  virtual bool KeepReportedMessage(const wchar_t* text);
  // The class of the worker's COM object.
  virtual const CLSID& WorkerThreadClassId();
  // The end of the worker mailbox's window class name, which begins with
  // the process id; empty (the default): the worker thread's id, so that no
  // two running workers share a class. For tests that need the name of a
  // worker that came before.
  virtual std::wstring WorkerMailboxClassSuffix();

 private:
  static DWORD WINAPI ThreadProc(void* start);
  // PostRequest (timeout false) or SetTimeout on the worker thread.
  HRESULT CallWorker(bool timeout, ULONG code, const VARIANT& argument);
  // Commands 1 and 2 as PostRequest; command 1 also hands over the DTM's
  // stand-in (CreateDtmStandIn).
  HRESULT PostPointer(ULONG code, IUnknown* pointer, IUnknown* standIn);

  win32::UniqueHandle thread_;
  DWORD threadId_ = 0;
  std::shared_ptr<WorkerMailbox> mailbox_;
  // The link handed to the worker (com/ObjectLink.h); cleared
  // before the DTM goes.
  com::ComPtr<IDispatch> link_;
  ULONG timerPeriod_ = 0;
  win32::UniqueHandle progressIdle_;
  // Notice workers that may still run: each one's thread, and what it is
  // to take until it has.
  struct NoticeWorker {
    win32::UniqueHandle thread;
    std::shared_ptr<WorkerHandover> handover;
  };
  win32::CriticalSection noticeWorkersLock_;
  std::vector<NoticeWorker> noticeWorkers_;

  // Drops the handles of notice workers that have ended (lock held).
  void ForgetEndedNoticeWorkers();
  void WaitForNoticeWorkers();
};
