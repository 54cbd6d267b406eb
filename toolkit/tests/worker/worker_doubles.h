// Doubles for the worker-thread tests: a DTM object that carries the thread
// manager and answers the toolkit interfaces the worker calls back, and a
// free-threaded frame object that records every notice with the thread it
// arrived on.
#pragma once

#include "message_pump.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Object.h"
#include "dispatch_sink.h"
#include "frame_application.h"
#include "fdt.h"
#include "toolkit.h"
#include "toolkit/worker/dtm_thread.h"
#include "win32/unique_handle.h"

namespace worker_test {

// The IDispatch part of a double: never used through IDispatch.
#define WORKER_TEST_NO_DISPATCH                                                            \
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }                      \
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }         \
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {            \
    return E_NOTIMPL;                                                                      \
  }                                                                                        \
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) \
      override {                                                                           \
    return E_NOTIMPL;                                                                      \
  }

// A DTM object in the test's apartment. Calls from the worker arrive here
// through proxies; each is logged as one line ("SetState 10").
class TestDtm : public com::ObjectRoot,
                public CevFDT_ThreadManagerImpl,
                public IevFdtBaseDTM,
                public IevFdtParameterHandler4,
                public IevFdtChannelContainer4,
                public IevFdtDtmEvents,
                public IevSdaHandler,
                public IevFdtActiveXContainer,
                public IevFdtConnectHook,
                public IExternalConnection {
 public:
  static const com::InterfaceEntry* interfaceMap();
  WORKER_TEST_NO_DISPATCH

  // Interfaces the object answers besides IevFdtBaseDTM.
  bool offerHandler = true, offerChannels = false, offerEvents = true, offerSda = true,
       offerControls = true, offerHook = false;

  // Scripted answers.
  LONG state = 9;
  HRESULT uploadResult = S_OK;
  VARIANT_BOOL downloadDone = VARIANT_TRUE;
  VARIANT_BOOL abortDone = VARIANT_TRUE;
  HRESULT resetResult = S_OK;
  VARIANT_BOOL channelsReleased = VARIANT_TRUE;
  VARIANT_BOOL hookOnline = VARIANT_TRUE, hookOffline = VARIANT_TRUE;
  VARIANT_BOOL requestStarted = VARIANT_TRUE;
  std::function<void()> onUpload;  // runs inside UploadRequest
  std::function<void()> onReset;   // runs inside ResetChannelParameter
  std::function<void(ULONG)> onRequestParameter;
  std::function<void()> onFinalRelease;  // runs as the object is destroyed
  void finalRelease() {
    if (onFinalRelease) onFinalRelease();
  }

  std::vector<std::string> log;
  size_t count(const std::string& line) const;
  const CLSID* threadClass = nullptr;  // the worker class to create; null: the toolkit's
  com::ComPtr<IUnknown> frame;  // what ThreadManagerFrameObject answers
  bool fdt121Frame = true;      // what ThreadManagerFrameIs121 answers
  std::wstring mailboxSuffix;   // what WorkerMailboxClassSuffix answers

  // IevFdtBaseDTM
  STDMETHODIMP SetState(LONG newState) override;
  STDMETHODIMP GetDtmState(LONG* out) override;
  STDMETHODIMP BroadcastProperty(VARIANT, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetLanguageId(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetSystemTag(BSTR* tag) override;
  STDMETHODIMP SetParameterValue(VARIANT_BOOL, ULONG, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP EnsureSchemaCache(BSTR, IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP InitForDeviceType(IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadResourceText(VARIANT, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP OnStateTransition(LONG, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP SwitchAuditTrail(VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP UploadRequest(VARIANT request) override;
  STDMETHODIMP LockDataSet(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseDataSetLock() override { return E_NOTIMPL; }
  STDMETHODIMP UnlockDataSet() override { return E_NOTIMPL; }
  STDMETHODIMP PublishState() override { return E_NOTIMPL; }
  STDMETHODIMP CompareDeviceParameters(BSTR*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP CompareDeviceParametersEx(VARIANT, BSTR*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP CreateDataCopy(VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadWorkingCopy(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseDataSet() override { return E_NOTIMPL; }
  STDMETHODIMP SelectDeviceTypeVersion(IDispatch*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP EmptyOperation() override { return S_OK; }
  STDMETHODIMP GetDataSetReference(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP InitChannels() override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseChannels() override { return E_NOTIMPL; }
  STDMETHODIMP AfterChannelsReleased() override { return S_OK; }
  STDMETHODIMP AfterWorkingCopyLoaded() override { return S_OK; }
  STDMETHODIMP ApplyExportedVariables(IDispatch*) override { return E_NOTIMPL; }
  STDMETHODIMP CheckStreamSignature(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; }

  // IevFdtParameterHandler4
  STDMETHODIMP RequestParameter(VARIANT id, VARIANT_BOOL* started) override;
  STDMETHODIMP SetParameterChecked(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetParameterDescription(VARIANT, VARIANT*, BSTR*, USHORT*, VARIANT*, VARIANT*,
                                       VARIANT*, VARIANT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP SetParameterValue(VARIANT_BOOL, VARIANT, VARIANT, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetParameterInfoValue(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP SetValueAndFlagsByVariant(VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetParameterValue(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP WriteParameter(VARIANT, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetParameterKind(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP CanWrite(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadParameters(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveParameters(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP EvaluateRelations() override { return E_NOTIMPL; }
  STDMETHODIMP DownloadRequest(VARIANT request, VARIANT_BOOL* done) override;
  STDMETHODIMP AbortTransfer(VARIANT_BOOL* aborted) override;
  STDMETHODIMP RefreshParameter(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP StoreParameter(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }

  // IevFdtChannelContainer4
  STDMETHODIMP CanReleaseChannels(VARIANT_BOOL* agreed) override;
  STDMETHODIMP AttachChannels(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP ResetChannelParameter() override;
  STDMETHODIMP ReleaseChannels(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetChannelList(VARIANT, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetChannelByKey(VARIANT, IUnknown**) override { return E_NOTIMPL; }
  STDMETHODIMP InitNewChannels(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadChannelsFromStream(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveChannelsToStream(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetChannelReferences(BSTR*) override { return E_NOTIMPL; }

  // IevFdtDtmEvents
  STDMETHODIMP OnDtmEvent(VARIANT code, VARIANT value) override;

  // IevSdaHandler
  STDMETHODIMP GetItemList(BSTR invokeId) override;
  STDMETHODIMP ReadItems(VARIANT) override;
  STDMETHODIMP WriteItems(VARIANT) override;
  STDMETHODIMP CancelRequest(BSTR invokeId) override;

  // IevFdtActiveXContainer (the open controls)
  STDMETHODIMP GetActiveXDescription(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP ControlChanged(BSTR, IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP NotifyControlsState(ULONG) override { return E_NOTIMPL; }
  STDMETHODIMP SendMessageToControls(VARIANT, VARIANT, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP SetControlsProperty(VARIANT key, VARIANT value) override;
  STDMETHODIMP CloseActiveX(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP RequestFunctionControl(LONG, LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetFunctionEnabled(LONG, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP ShowUserMessage(BSTR, BSTR, VARIANT, LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFunctionText(LONG, BSTR, BSTR*) override { return E_NOTIMPL; }

  // IevFdtConnectHook
  STDMETHODIMP OnGoingOnline(VARIANT_BOOL* proceed) override;
  STDMETHODIMP OnGoingOffline(VARIANT_BOOL* proceed) override;

  // IExternalConnection: COM tells the object each time another apartment
  // gets its first reference on it (the object was marshalled anew).
  STDMETHODIMP_(DWORD) AddConnection(DWORD, DWORD) override { return ++connectionsMade; }
  STDMETHODIMP_(DWORD) ReleaseConnection(DWORD, DWORD, BOOL) override { return 0; }
  DWORD connectionsMade = 0;

 protected:
  IUnknown* ThreadManagerDtmObject() override { return controllingUnknown(); }
  const CLSID& WorkerThreadClassId() override {
    return threadClass ? *threadClass : CevFDT_ThreadManagerImpl::WorkerThreadClassId();
  }
  IUnknown* ThreadManagerFrameObject() override { return frame.get(); }
  bool ThreadManagerFrameIs121() override { return fdt121Frame; }
  std::wstring WorkerMailboxClassSuffix() override { return mailboxSuffix; }

 private:
  template <class I, bool TestDtm::*offer>
  static HRESULT queryOffered(void* object, REFIID iid, void** out);
};

// A new DTM double with one reference held by the result.
com::ComPtr<IUnknown> createTestDtm(TestDtm** object);

// One call that reached the frame.
struct FrameCall {
  std::string method;
  std::wstring arguments;  // joined with '|'
  DWORD threadId;
};

// The frame's object: container, event sink and state sink. Free-threaded
// unless told otherwise: a call then runs on the thread that made it (when
// COM hands the object over directly, as it does for an in-process stream).
// The two sinks are dispatch-only objects of their own, as frames implement
// them; a call through a vtable slot of theirs, and any Invoke on the
// frame's own IDispatch (the container's), is recorded ("vtable call",
// "container Invoke") and fails the test.
class TestFrame : public com::ObjectRoot,
                  public IFrameContainer {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();

  // IDispatch of the container: nothing may reach it by dispatch id.
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

  bool offerEventSink = true;
  bool offerStateSink = true;
  LONG stateSinkQueries = 0;  // how often the frame was asked for its state sink
  bool freeThreaded = true;
  HRESULT progressResult = S_OK;   // what OnProgress answers
  HANDLE progressGate = nullptr;   // OnProgress waits for it when set
  // Runs after each recorded notice, on the thread the notice came on (for
  // a frame that is not free-threaded: while the worker waits for the call).
  std::function<void(const FrameCall&)> onNotice;

  std::vector<FrameCall> calls() const;
  std::vector<FrameCall> callsTo(const char* method) const;

  // IFrameContainer
  STDMETHODIMP SaveRequest(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP LockDataSet(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockDataSet(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetXmlSchemaPath(BSTR*) override { return E_NOTIMPL; }

  // IFrameDtmEvents::OnProgress, reached through the event sink's Invoke.
  HRESULT OnProgress(const std::wstring& tag, const std::wstring& title, short percent,
                     VARIANT_BOOL show);

 private:
  void record(const char* method, std::initializer_list<std::wstring> arguments);
  HRESULT invokeEvent(DISPID id, const DISPPARAMS& params);
  static HRESULT queryMarshal(void* object, REFIID iid, void** out);
  static HRESULT queryEventSink(void* object, REFIID iid, void** out);
  static HRESULT queryStateSink(void* object, REFIID iid, void** out);

  std::unique_ptr<frame_double::DispatchOnlySink> eventSink_;  // IFrameDtmEvents
  std::unique_ptr<frame_double::DispatchOnlySink> stateSink_;  // IFrameDtmEvents2

  mutable win32::CriticalSection lock_;
  std::vector<FrameCall> calls_;
  com::ComPtr<IUnknown> marshaler_;
};

com::ComPtr<IUnknown> createTestFrame(TestFrame** object);

// What the DTM side hands the worker with command 1: a dispatch object whose
// value is the DTM. This one holds the DTM for as long as it lives.
com::ComPtr<IUnknown> createDtmLink(IUnknown* dtm);

// Dispatches the calling thread's messages until done() holds or the time
// is up; answers done().
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  return testsupport::PumpUntil(done, timeoutMs);
}
// Dispatches messages for about the given time.
void PumpFor(DWORD milliseconds);

// Whether the thread with this id has ended (or never existed).
bool ThreadEnded(DWORD threadId, DWORD waitMs = 5000);

// Registers the worker-thread server next to the test program and the
// toolkit's type library it carries (call once per process, COM up).
void RegisterWorkerServer();

}  // namespace worker_test
