#include "frame_notices.h"

#include "com/Bstr.h"
#include "com/Guard.h"

namespace frame_double {

namespace {

std::wstring Text(BSTR text) { return text ? text : L""; }
const std::wstring& Text(const std::wstring& text) { return text; }
std::wstring Flag(VARIANT_BOOL flag) { return flag ? L"true" : L"false"; }

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  size_t slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

template <class I>
HRESULT Offer(NoticeFrame* self, bool offered, void** out) {
  if (!offered) return E_NOINTERFACE;
  I* part = self;
  part->AddRef();
  *out = part;
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// Interface-map queries
// ---------------------------------------------------------------------------

const com::InterfaceEntry* NoticeFrame::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<NoticeFrame, IUnknown, IFrameUserDialog>(),
      com::entry<NoticeFrame, IDispatch, IFrameUserDialog>(),
      com::entryQuery(__uuidof(IFrameUserDialog), &NoticeFrame::queryPart),
      com::entryQuery(__uuidof(ITransferGroupProvider), &NoticeFrame::queryPart),
      com::entryQuery(__uuidof(IFrameContainer), &NoticeFrame::queryPart),
      com::entryQuery(__uuidof(IFrameTopology), &NoticeFrame::queryPart),
      com::entryQuery(__uuidof(IFrameDtmEvents), &NoticeFrame::queryPart),
      com::entryQuery(__uuidof(IFrameDtmEvents2), &NoticeFrame::queryPart),
      com::entryQuery(__uuidof(IFrameAuditTrailEvents), &NoticeFrame::queryPart),
      com::entryQuery(__uuidof(IDeviceDataAccessEvents), &NoticeFrame::queryPart),
      com::entryQuery(IID_IMarshal, &NoticeFrame::queryPart),
      com::endOfMap()};
  return map;
}

HRESULT NoticeFrame::queryPart(void* object, REFIID iid, void** out) {
  auto* self = static_cast<NoticeFrame*>(object);
  *out = nullptr;
  const Offers base = self->offers();
  NoticeOffers offered;
  bool agile = false;
  {
    win32::CsLock hold(self->noticeLock_);
    offered = self->noticeOffers_;
    agile = self->agile_;
  }
  if (iid == __uuidof(IFrameUserDialog)) return Offer<IFrameUserDialog>(self, base.userDialog, out);
  if (iid == __uuidof(ITransferGroupProvider)) {
    return Offer<ITransferGroupProvider>(self, base.transferGroup, out);
  }
  if (iid == __uuidof(IFrameContainer)) return Offer<IFrameContainer>(self, offered.container, out);
  if (iid == __uuidof(IFrameTopology)) return Offer<IFrameTopology>(self, offered.topology, out);
  if (iid == __uuidof(IFrameDtmEvents)) {
    return self->offerSink("IFrameDtmEvents", self->eventSink_.get(), offered.eventSink, out);
  }
  if (iid == __uuidof(IFrameDtmEvents2)) {
    return self->offerSink("IFrameDtmEvents2", self->stateSink_.get(), offered.stateSink, out);
  }
  if (iid == __uuidof(IFrameAuditTrailEvents)) {
    return self->offerSink("IFrameAuditTrailEvents", self->auditSink_.get(), offered.auditTrail, out);
  }
  if (iid == __uuidof(IDeviceDataAccessEvents)) {
    return self->offerSink("IDeviceDataAccessEvents", self->dataAccessSink_.get(), offered.dataAccess, out);
  }
  if (iid == IID_IMarshal) return Offer<IMarshal>(self, agile && self->marshalerInner_, out);
  return E_NOINTERFACE;
}

HRESULT NoticeFrame::finalConstruct() {
  auto misuse = [this](const char* name) {
    return [this, name](int slot) { fault(name, "vtable call", {std::to_wstring(slot)}); };
  };
  eventSink_.reset(new DispatchOnlySink(
      controllingUnknown(), DIID_IFrameDtmEvents,
      [this](DISPID id, const DISPPARAMS& params, VARIANT*) { return invokeEvent(id, params); },
      misuse("IFrameDtmEvents")));
  stateSink_.reset(new DispatchOnlySink(
      controllingUnknown(), DIID_IFrameDtmEvents2,
      [this](DISPID id, const DISPPARAMS& params, VARIANT*) { return invokeState(id, params); },
      misuse("IFrameDtmEvents2")));
  auditSink_.reset(new DispatchOnlySink(
      controllingUnknown(), DIID_IFrameAuditTrailEvents,
      [this](DISPID id, const DISPPARAMS& params, VARIANT* result) {
        return invokeAudit(id, params, result);
      },
      misuse("IFrameAuditTrailEvents")));
  dataAccessSink_.reset(new DispatchOnlySink(
      controllingUnknown(), DIID_IDeviceDataAccessEvents,
      [this](DISPID id, const DISPPARAMS& params, VARIANT*) { return invokeDataAccess(id, params); },
      misuse("IDeviceDataAccessEvents")));
  return ::CoCreateFreeThreadedMarshaler(controllingUnknown(), &marshalerInner_);
}

// The dispatch ids of the sinks (fdt.idl).
HRESULT NoticeFrame::invokeEvent(DISPID id, const DISPPARAMS& p) {
  using S = DispatchOnlySink;
  switch (id) {
    case 1: return OnParameterChanged(S::Text(p, 0), S::Text(p, 1));
    case 2: return OnErrorMessage(S::Text(p, 0), S::Text(p, 1));
    case 3: return OnProgress(S::Text(p, 0), S::Text(p, 1), S::Short(p, 2), S::Flag(p, 3));
    case 4: return OnUploadFinished(S::Text(p, 0), S::Flag(p, 1));
    case 5: return OnDownloadFinished(S::Text(p, 0), S::Flag(p, 1));
    case 6: return OnApplicationClosed(S::Text(p, 0));
    case 8: return OnFunctionChanged(S::Text(p, 0));
    case 9: return OnChannelFunctionChanged(S::Text(p, 0), S::Text(p, 1));
    case 10: return OnPrint(S::Text(p, 0), S::Text(p, 1));
    case 11: return OnNavigation(S::Text(p, 0));
    case 12: return OnOnlineStateChanged(S::Text(p, 0), S::Flag(p, 1));
    case 13: return OnPreparedToRelease(S::Text(p, 0));
    case 14: return OnPreparedToReleaseCommunication(S::Text(p, 0));
    case 15: return OnInvokedFunctionFinished(S::Text(p, 0), S::Flag(p, 1));
    case 16: return OnScanResponse(S::Text(p, 0), S::Text(p, 1));
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

HRESULT NoticeFrame::invokeState(DISPID id, const DISPPARAMS& p) {
  if (id != 1) return DISP_E_MEMBERNOTFOUND;
  return OnStateChanged(DispatchOnlySink::Text(p, 0), DispatchOnlySink::Text(p, 1));
}

HRESULT NoticeFrame::invokeAudit(DISPID id, const DISPPARAMS& p, VARIANT* result) {
  using S = DispatchOnlySink;
  VARIANT_BOOL answer = VARIANT_FALSE;
  HRESULT hr;
  switch (id) {
    case 1: hr = OnStartTransaction(S::Text(p, 0), &answer); break;
    case 2: return OnAuditTrailEvent(S::Text(p, 0), S::Text(p, 1));
    case 3: hr = OnEndTransaction(S::Text(p, 0), &answer); break;
    default: return DISP_E_MEMBERNOTFOUND;
  }
  if (SUCCEEDED(hr) && result) {
    ::VariantInit(result);
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = answer;
  }
  return hr;
}

// Answers of single-device data access: (invoke id, document), and the
// item-list change (system tag).
HRESULT NoticeFrame::invokeDataAccess(DISPID id, const DISPPARAMS& p) {
  using S = DispatchOnlySink;
  const char* method = id == 1   ? "OnItemListResponse"
                       : id == 2 ? "OnDeviceItemListChanged"
                       : id == 3 ? "OnReadResponse"
                       : id == 4 ? "OnWriteResponse"
                                 : nullptr;
  if (!method) return DISP_E_MEMBERNOTFOUND;
  return com::guard([&] {
    if (id == 2) {
      record("IDeviceDataAccessEvents", method, {S::Text(p, 0)});
    } else {
      record("IDeviceDataAccessEvents", method, {S::Text(p, 0), S::Text(p, 1)});
    }
    return noticeResult(method);
  });
}

void NoticeFrame::finalRelease() {
  if (marshalerInner_) marshalerInner_->Release();
  marshalerInner_ = nullptr;
}

// ---------------------------------------------------------------------------
// Script
// ---------------------------------------------------------------------------

void NoticeFrame::setResult(const char* method, HRESULT result) {
  win32::CsLock hold(noticeLock_);
  results_[method] = result;
}

void NoticeFrame::setBoolAnswer(const char* method, VARIANT_BOOL answer) {
  win32::CsLock hold(noticeLock_);
  boolAnswers_[method] = answer;
}

void NoticeFrame::setDelay(const char* method, DWORD milliseconds) {
  win32::CsLock hold(noticeLock_);
  delays_[method] = milliseconds;
}

void NoticeFrame::duringNextCall(const char* method, std::function<void()> step) {
  win32::CsLock hold(noticeLock_);
  steps_[method] = std::move(step);
}

void NoticeFrame::setSchemaPath(const std::wstring& folder) {
  win32::CsLock hold(noticeLock_);
  schemaPath_ = folder;
  schemaPathSet_ = true;
}

void NoticeFrame::addDtm(const std::wstring& systemTag, IUnknown* dtm) {
  win32::CsLock hold(noticeLock_);
  dtms_[systemTag] = com::ComPtr<IUnknown>(dtm);
}

void NoticeFrame::setChildNodes(const std::wstring& channelPath, const std::wstring& list) {
  win32::CsLock hold(noticeLock_);
  childNodes_[channelPath] = list;
}

void NoticeFrame::setAgile(bool on) {
  win32::CsLock hold(noticeLock_);
  agile_ = on;
}

HRESULT NoticeFrame::offerSink(const char* name, IDispatch* sink, bool offered, void** out) {
  {
    win32::CsLock hold(noticeLock_);
    ++sinkQueries_[name];
  }
  if (!offered || !sink) return E_NOINTERFACE;
  sink->AddRef();
  *out = sink;
  return S_OK;
}

size_t NoticeFrame::sinkQueries(const char* sink) const {
  win32::CsLock hold(noticeLock_);
  auto found = sinkQueries_.find(sink);
  return found == sinkQueries_.end() ? 0 : found->second;
}

bool NoticeFrame::waitForCalls(const char* method, size_t count, DWORD timeoutMs) const {
  DWORD start = ::GetTickCount();
  for (;;) {
    if (callsTo(method).size() >= count) return true;
    DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    // Calls from other apartments reach this one through its messages.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed < 20 ? timeoutMs - elapsed : 20,
                                QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

HRESULT NoticeFrame::noticeResult(const char* method) const {
  DWORD delay = 0;
  HRESULT result = S_OK;
  std::function<void()> step;
  {
    win32::CsLock hold(noticeLock_);
    auto scripted = steps_.find(method);
    if (scripted != steps_.end()) {
      step = std::move(scripted->second);
      steps_.erase(scripted);
    }
    auto found = results_.find(method);
    if (found != results_.end()) result = found->second;
    auto delayed = delays_.find(method);
    if (delayed != delays_.end()) delay = delayed->second;
  }
  if (step) step();
  if (delay) ::Sleep(delay);
  return result;
}

// A scripted yes/no answer (true unless scripted) behind a scripted result.
HRESULT NoticeFrame::boolAnswer(const char* method, VARIANT_BOOL* result) const {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  HRESULT hr = noticeResult(method);
  if (FAILED(hr)) return hr;
  win32::CsLock hold(noticeLock_);
  auto found = boolAnswers_.find(method);
  *result = found == boolAnswers_.end() ? VARIANT_TRUE : found->second;
  return hr;
}

// ---------------------------------------------------------------------------
// IFrameContainer
// ---------------------------------------------------------------------------

STDMETHODIMP NoticeFrame::SaveRequest(BSTR systemTag, VARIANT_BOOL* result) {
  return com::guard([&] {
    record("IFrameContainer", "SaveRequest", {Text(systemTag)});
    return boolAnswer("SaveRequest", result);
  });
}

STDMETHODIMP NoticeFrame::LockDataSet(BSTR systemTag, VARIANT_BOOL* result) {
  return com::guard([&] {
    record("IFrameContainer", "LockDataSet", {Text(systemTag)});
    return boolAnswer("LockDataSet", result);
  });
}

STDMETHODIMP NoticeFrame::UnlockDataSet(BSTR systemTag, VARIANT_BOOL* result) {
  return com::guard([&] {
    record("IFrameContainer", "UnlockDataSet", {Text(systemTag)});
    return boolAnswer("UnlockDataSet", result);
  });
}

STDMETHODIMP NoticeFrame::GetXmlSchemaPath(BSTR* path) {
  return com::guard([&]() -> HRESULT {
    record("IFrameContainer", "GetXmlSchemaPath", {});
    if (!path) return E_POINTER;
    *path = nullptr;
    HRESULT hr = noticeResult("GetXmlSchemaPath");
    if (FAILED(hr)) return hr;
    std::wstring folder;
    {
      win32::CsLock hold(noticeLock_);
      folder = schemaPathSet_ ? schemaPath_ : ProgramFolder() + L"schemas";
    }
    return com::Bstr(folder.c_str()).copyTo(path);
  });
}

// ---------------------------------------------------------------------------
// IFrameTopology
// ---------------------------------------------------------------------------

STDMETHODIMP NoticeFrame::GetDtmForSystemTag(BSTR systemTag, IUnknown** dtm) {
  return com::guard([&]() -> HRESULT {
    record("IFrameTopology", "GetDtmForSystemTag", {Text(systemTag)});
    if (!dtm) return E_POINTER;
    *dtm = nullptr;
    HRESULT hr = noticeResult("GetDtmForSystemTag");
    if (FAILED(hr)) return hr;
    win32::CsLock hold(noticeLock_);
    auto found = dtms_.find(Text(systemTag));
    if (found == dtms_.end()) return E_INVALIDARG;
    return found->second.copyTo(dtm);
  });
}

STDMETHODIMP NoticeFrame::GetChildNodes(BSTR channelPath, BSTR* dtmChildList) {
  return com::guard([&]() -> HRESULT {
    record("IFrameTopology", "GetChildNodes", {Text(channelPath)});
    if (!dtmChildList) return E_POINTER;
    *dtmChildList = nullptr;
    HRESULT hr = noticeResult("GetChildNodes");
    if (FAILED(hr)) return hr;
    std::wstring list;
    {
      win32::CsLock hold(noticeLock_);
      auto found = childNodes_.find(Text(channelPath));
      if (found != childNodes_.end()) list = found->second;
    }
    return com::Bstr(list.c_str()).copyTo(dtmChildList);
  });
}

STDMETHODIMP NoticeFrame::ReleaseDtmForSystemTag(BSTR systemTag, VARIANT_BOOL* result) {
  return com::guard([&] {
    record("IFrameTopology", "ReleaseDtmForSystemTag", {Text(systemTag)});
    return boolAnswer("ReleaseDtmForSystemTag", result);
  });
}

// ---------------------------------------------------------------------------
// IFrameDtmEvents
// ---------------------------------------------------------------------------

#define FRAME_NOTICE(method, ...)                  \
  return com::guard([&] {                          \
    record("IFrameDtmEvents", #method, {__VA_ARGS__}); \
    return noticeResult(#method);                  \
  })

HRESULT NoticeFrame::OnParameterChanged(const std::wstring& systemTag, const std::wstring& parameterDocument) {
  FRAME_NOTICE(OnParameterChanged, Text(systemTag), Text(parameterDocument));
}
HRESULT NoticeFrame::OnErrorMessage(const std::wstring& systemTag, const std::wstring& errorMessage) {
  FRAME_NOTICE(OnErrorMessage, Text(systemTag), Text(errorMessage));
}
HRESULT NoticeFrame::OnProgress(const std::wstring& systemTag, const std::wstring& title, short percent, VARIANT_BOOL show) {
  FRAME_NOTICE(OnProgress, Text(systemTag), Text(title), std::to_wstring(percent), std::to_wstring(show));
}
HRESULT NoticeFrame::OnUploadFinished(const std::wstring& invokeId, VARIANT_BOOL success) {
  FRAME_NOTICE(OnUploadFinished, Text(invokeId), Flag(success));
}
HRESULT NoticeFrame::OnDownloadFinished(const std::wstring& invokeId, VARIANT_BOOL success) {
  FRAME_NOTICE(OnDownloadFinished, Text(invokeId), Flag(success));
}
HRESULT NoticeFrame::OnApplicationClosed(const std::wstring& invokeId) {
  FRAME_NOTICE(OnApplicationClosed, Text(invokeId));
}
HRESULT NoticeFrame::OnFunctionChanged(const std::wstring& systemTag) {
  FRAME_NOTICE(OnFunctionChanged, Text(systemTag));
}
HRESULT NoticeFrame::OnChannelFunctionChanged(const std::wstring& systemTag, const std::wstring& channelPath) {
  FRAME_NOTICE(OnChannelFunctionChanged, Text(systemTag), Text(channelPath));
}
HRESULT NoticeFrame::OnPrint(const std::wstring& systemTag, const std::wstring& functionCall) {
  FRAME_NOTICE(OnPrint, Text(systemTag), Text(functionCall));
}
HRESULT NoticeFrame::OnNavigation(const std::wstring& systemTag) { FRAME_NOTICE(OnNavigation, Text(systemTag)); }
HRESULT NoticeFrame::OnOnlineStateChanged(const std::wstring& systemTag, VARIANT_BOOL online) {
  FRAME_NOTICE(OnOnlineStateChanged, Text(systemTag), Flag(online));
}
HRESULT NoticeFrame::OnPreparedToRelease(const std::wstring& systemTag) {
  FRAME_NOTICE(OnPreparedToRelease, Text(systemTag));
}
HRESULT NoticeFrame::OnPreparedToReleaseCommunication(const std::wstring& systemTag) {
  FRAME_NOTICE(OnPreparedToReleaseCommunication, Text(systemTag));
}
HRESULT NoticeFrame::OnInvokedFunctionFinished(const std::wstring& invokeId, VARIANT_BOOL success) {
  FRAME_NOTICE(OnInvokedFunctionFinished, Text(invokeId), Flag(success));
}
HRESULT NoticeFrame::OnScanResponse(const std::wstring& invokeId, const std::wstring& response) {
  FRAME_NOTICE(OnScanResponse, Text(invokeId), Text(response));
}

#undef FRAME_NOTICE

// ---------------------------------------------------------------------------
// IFrameDtmEvents2 and IFrameAuditTrailEvents
// ---------------------------------------------------------------------------

HRESULT NoticeFrame::OnStateChanged(const std::wstring& systemTag, const std::wstring& stateDocument) {
  return com::guard([&] {
    record("IFrameDtmEvents2", "OnStateChanged", {Text(systemTag), Text(stateDocument)});
    return noticeResult("OnStateChanged");
  });
}

HRESULT NoticeFrame::OnStartTransaction(const std::wstring& systemTag, VARIANT_BOOL* result) {
  return com::guard([&] {
    record("IFrameAuditTrailEvents", "OnStartTransaction", {Text(systemTag)});
    return boolAnswer("OnStartTransaction", result);
  });
}

HRESULT NoticeFrame::OnAuditTrailEvent(const std::wstring& systemTag, const std::wstring& logEntry) {
  return com::guard([&] {
    record("IFrameAuditTrailEvents", "OnAuditTrailEvent", {Text(systemTag), Text(logEntry)});
    return noticeResult("OnAuditTrailEvent");
  });
}

HRESULT NoticeFrame::OnEndTransaction(const std::wstring& systemTag, VARIANT_BOOL* result) {
  return com::guard([&] {
    record("IFrameAuditTrailEvents", "OnEndTransaction", {Text(systemTag)});
    return boolAnswer("OnEndTransaction", result);
  });
}

// ---------------------------------------------------------------------------
// IMarshal: the free-threaded marshaller in the in-process context
// ---------------------------------------------------------------------------

template <class F>
HRESULT NoticeFrame::withMarshaler(F call) {
  if (!marshalerInner_) return E_UNEXPECTED;
  com::ComPtr<IMarshal> marshaler;
  HRESULT hr = marshalerInner_->QueryInterface(IID_IMarshal, marshaler.putVoid());
  if (FAILED(hr)) return hr;
  return call(marshaler.get());
}

STDMETHODIMP NoticeFrame::GetUnmarshalClass(REFIID iid, void* object, DWORD, void* reserved,
                                            DWORD flags, CLSID* classId) {
  return withMarshaler([&](IMarshal* m) {
    return m->GetUnmarshalClass(iid, object, MSHCTX_INPROC, reserved, flags, classId);
  });
}

STDMETHODIMP NoticeFrame::GetMarshalSizeMax(REFIID iid, void* object, DWORD, void* reserved,
                                            DWORD flags, DWORD* size) {
  return withMarshaler([&](IMarshal* m) {
    return m->GetMarshalSizeMax(iid, object, MSHCTX_INPROC, reserved, flags, size);
  });
}

STDMETHODIMP NoticeFrame::MarshalInterface(IStream* stream, REFIID iid, void* object, DWORD,
                                           void* reserved, DWORD flags) {
  return withMarshaler([&](IMarshal* m) {
    return m->MarshalInterface(stream, iid, object, MSHCTX_INPROC, reserved, flags);
  });
}

STDMETHODIMP NoticeFrame::UnmarshalInterface(IStream* stream, REFIID iid, void** out) {
  return withMarshaler([&](IMarshal* m) { return m->UnmarshalInterface(stream, iid, out); });
}

STDMETHODIMP NoticeFrame::ReleaseMarshalData(IStream* stream) {
  return withMarshaler([&](IMarshal* m) { return m->ReleaseMarshalData(stream); });
}

STDMETHODIMP NoticeFrame::DisconnectObject(DWORD reserved) {
  return withMarshaler([&](IMarshal* m) { return m->DisconnectObject(reserved); });
}

com::ComPtr<IUnknown> createNoticeFrame(NoticeFrame** object) {
  return createFrameObject(object);
}

}  // namespace frame_double
