// The frame application double with the interfaces a DTM sends its notices
// to: the container (schema folder, data-set lock, save request), the
// topology (other DTMs by system tag), the DTM-event sink, the FDT 1.2.1
// state-transition sink, the audit trail and the data-access answers. Like FrameApplication, whose
// user dialog and transfer groups it keeps, it records every call with its
// arguments and the thread it arrived on, and answers from a script.
//
// Agile (setAgile): the double answers IMarshal with the free-threaded
// marshaller, so another apartment of the process (a DTM's worker thread)
// calls it directly and each call is recorded with the caller's own thread.
// Wine marshals between apartments of one process in the local context, in
// which the free-threaded marshaller would fall back to a proxy; the double
// therefore marshals in the in-process context, as Windows does there (it is
// never marshalled out of the process).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "dispatch_sink.h"
#include "frame_application.h"

namespace frame_double {

class NoticeFrame : public FrameApplication,
                    public com::DispatchImpl<IFrameContainer>,
                    public com::DispatchImpl<IFrameTopology>,
                    public IMarshal {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();
  void finalRelease();

  // Notice interfaces a test can withhold.
  struct NoticeOffers {
    bool container = true;   // IFrameContainer
    bool topology = true;    // IFrameTopology
    bool eventSink = true;   // IFrameDtmEvents
    bool stateSink = true;   // IFrameDtmEvents2 (FDT 1.2.1 frames)
    bool auditTrail = true;  // IFrameAuditTrailEvents
    bool dataAccess = true;  // IDeviceDataAccessEvents
  };
  NoticeOffers& noticeOffers() { return noticeOffers_; }

  // Every method answers S_OK unless setResult names it (by method name,
  // e.g. "OnProgress"); the yes/no methods (SaveRequest, LockDataSet,
  // UnlockDataSet, ReleaseDtmForSystemTag, OnStartTransaction,
  // OnEndTransaction) answer true unless setBoolAnswer says otherwise.
  void setResult(const char* method, HRESULT result);
  void setBoolAnswer(const char* method, VARIANT_BOOL answer);
  // The method, once recorded, holds its caller that long before it answers
  // (a frame that is slow to take a notice).
  void setDelay(const char* method, DWORD milliseconds);
  // Runs step once, on the calling thread, when the method is next called,
  // after it is recorded and before it answers: the caller (a DTM's worker,
  // say) waits meanwhile, so whatever step starts comes after its call.
  void duringNextCall(const char* method, std::function<void()> step);
  // GetXmlSchemaPath's folder; default: "schemas" beside the program.
  void setSchemaPath(const std::wstring& folder);
  // GetDtmForSystemTag answers the DTM added under the tag (E_INVALIDARG for
  // an unknown tag); GetChildNodes the list set for the path (else empty).
  void addDtm(const std::wstring& systemTag, IUnknown* dtm);
  void setChildNodes(const std::wstring& channelPath, const std::wstring& list);
  // Set before the double is handed out; off by default (calls from other
  // apartments then arrive on the thread that created the double, which
  // must serve its messages).
  void setAgile(bool on);

  // How often the frame was asked for a sink ("IFrameDtmEvents",
  // "IFrameDtmEvents2", "IFrameAuditTrailEvents", "IDeviceDataAccessEvents",
  // "IFrameScanEvents"), offered or not.
  size_t sinkQueries(const char* sink) const;
  // The sink objects themselves (owned by the double), e.g. to see that a
  // sink was handed between apartments under its own dispatch interface
  // (DispatchOnlySink::ownInterfaceQueries).
  const DispatchOnlySink& eventSink() const { return *eventSink_; }
  const DispatchOnlySink& stateSink() const { return *stateSink_; }

  // Waits until `count` calls of the method arrived, serving this thread's
  // messages meanwhile (calls from other apartments come in through them).
  // False after timeoutMs.
  bool waitForCalls(const char* method, size_t count, DWORD timeoutMs) const;

  // IFrameContainer
  STDMETHODIMP SaveRequest(BSTR systemTag, VARIANT_BOOL* result) override;
  STDMETHODIMP LockDataSet(BSTR systemTag, VARIANT_BOOL* result) override;
  STDMETHODIMP UnlockDataSet(BSTR systemTag, VARIANT_BOOL* result) override;
  STDMETHODIMP GetXmlSchemaPath(BSTR* path) override;
  // IFrameTopology
  STDMETHODIMP GetDtmForSystemTag(BSTR systemTag, IUnknown** dtm) override;
  STDMETHODIMP GetChildNodes(BSTR channelPath, BSTR* dtmChildList) override;
  STDMETHODIMP ReleaseDtmForSystemTag(BSTR systemTag, VARIANT_BOOL* result) override;
  // IFrameDtmEvents, IFrameDtmEvents2, IFrameAuditTrailEvents and
  // IDeviceDataAccessEvents (answers recorded as OnItemListResponse,
  // OnDeviceItemListChanged, OnReadResponse, OnWriteResponse) are
  // dispatch interfaces: the double answers them, as frames do, with
  // dispatch-only sinks whose Invoke reaches the methods below by dispatch
  // id. A call through a vtable slot of theirs is a fault, recorded as
  // "vtable call" (argument: the slot) with the interface's name.
  HRESULT OnParameterChanged(const std::wstring& systemTag, const std::wstring& parameterDocument);
  HRESULT OnErrorMessage(const std::wstring& systemTag, const std::wstring& errorMessage);
  HRESULT OnProgress(const std::wstring& systemTag, const std::wstring& title, short percent,
                     VARIANT_BOOL show);
  HRESULT OnUploadFinished(const std::wstring& invokeId, VARIANT_BOOL success);
  HRESULT OnDownloadFinished(const std::wstring& invokeId, VARIANT_BOOL success);
  HRESULT OnApplicationClosed(const std::wstring& invokeId);
  HRESULT OnFunctionChanged(const std::wstring& systemTag);
  HRESULT OnChannelFunctionChanged(const std::wstring& systemTag, const std::wstring& channelPath);
  HRESULT OnPrint(const std::wstring& systemTag, const std::wstring& functionCall);
  HRESULT OnNavigation(const std::wstring& systemTag);
  HRESULT OnOnlineStateChanged(const std::wstring& systemTag, VARIANT_BOOL online);
  HRESULT OnPreparedToRelease(const std::wstring& systemTag);
  HRESULT OnPreparedToReleaseCommunication(const std::wstring& systemTag);
  HRESULT OnInvokedFunctionFinished(const std::wstring& invokeId, VARIANT_BOOL success);
  HRESULT OnScanResponse(const std::wstring& invokeId, const std::wstring& response);
  HRESULT OnStateChanged(const std::wstring& systemTag, const std::wstring& stateDocument);
  HRESULT OnStartTransaction(const std::wstring& systemTag, VARIANT_BOOL* result);
  HRESULT OnAuditTrailEvent(const std::wstring& systemTag, const std::wstring& logEntry);
  HRESULT OnEndTransaction(const std::wstring& systemTag, VARIANT_BOOL* result);

  // IMarshal (answered only when agile): the free-threaded marshaller's.
  STDMETHODIMP GetUnmarshalClass(REFIID iid, void* object, DWORD context, void* reserved,
                                 DWORD flags, CLSID* classId) override;
  STDMETHODIMP GetMarshalSizeMax(REFIID iid, void* object, DWORD context, void* reserved,
                                 DWORD flags, DWORD* size) override;
  STDMETHODIMP MarshalInterface(IStream* stream, REFIID iid, void* object, DWORD context,
                                void* reserved, DWORD flags) override;
  STDMETHODIMP UnmarshalInterface(IStream* stream, REFIID iid, void** out) override;
  STDMETHODIMP ReleaseMarshalData(IStream* stream) override;
  STDMETHODIMP DisconnectObject(DWORD reserved) override;

 protected:
  // Counts the query of the sink called name (sinkQueries) and answers the
  // sink when it is offered, else E_NOINTERFACE.
  HRESULT offerSink(const char* name, IDispatch* sink, bool offered, void** out);

 private:
  static HRESULT queryPart(void* object, REFIID iid, void** out);
  HRESULT invokeEvent(DISPID id, const DISPPARAMS& params);
  HRESULT invokeState(DISPID id, const DISPPARAMS& params);
  HRESULT invokeAudit(DISPID id, const DISPPARAMS& params, VARIANT* result);
  HRESULT invokeDataAccess(DISPID id, const DISPPARAMS& params);
  HRESULT noticeResult(const char* method) const;
  HRESULT boolAnswer(const char* method, VARIANT_BOOL* result) const;
  template <class F>
  HRESULT withMarshaler(F call);

  mutable win32::CriticalSection noticeLock_;
  NoticeOffers noticeOffers_;
  std::map<std::string, HRESULT> results_;
  std::map<std::string, VARIANT_BOOL> boolAnswers_;
  std::map<std::string, DWORD> delays_;
  mutable std::map<std::string, std::function<void()>> steps_;
  std::map<std::string, size_t> sinkQueries_;
  std::wstring schemaPath_;
  bool schemaPathSet_ = false;
  std::map<std::wstring, com::ComPtr<IUnknown>> dtms_;
  std::map<std::wstring, std::wstring> childNodes_;
  bool agile_ = false;
  IUnknown* marshalerInner_ = nullptr;  // the free-threaded marshaller (aggregated)
  std::unique_ptr<DispatchOnlySink> eventSink_;  // IFrameDtmEvents
  std::unique_ptr<DispatchOnlySink> stateSink_;  // IFrameDtmEvents2
  std::unique_ptr<DispatchOnlySink> auditSink_;  // IFrameAuditTrailEvents
  std::unique_ptr<DispatchOnlySink> dataAccessSink_;  // IDeviceDataAccessEvents
};

// A new notice frame; *object stays valid while the returned reference is held.
com::ComPtr<IUnknown> createNoticeFrame(NoticeFrame** object);

}  // namespace frame_double
