#include "worker_doubles.h"

#include <oleauto.h>

#include <algorithm>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "toolkit/values/message_wait.h"
#include "regsvr32.h"
#include "type_libraries.h"

namespace worker_test {

namespace {

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (const wchar_t* p = text; p && *p; ++p) out += static_cast<char>(*p);
  return out;
}

// A VARIANT as short text: numbers in decimal, texts as they are.
std::string Text(const VARIANT& value) {
  if (V_VT(&value) == VT_BOOL) return V_BOOL(&value) ? "true" : "false";
  com::Variant copy(value);
  if (FAILED(copy.changeType(VT_BSTR))) return "?";
  return Narrow(copy.value().bstrVal);
}


}  // namespace

// ---------------------------------------------------------------------------
// TestDtm
// ---------------------------------------------------------------------------

template <class I, bool TestDtm::*offer>
HRESULT TestDtm::queryOffered(void* object, REFIID, void** out) {
  auto* self = static_cast<TestDtm*>(object);
  *out = nullptr;
  if (!(self->*offer)) return E_NOINTERFACE;
  I* itf = self;
  itf->AddRef();
  *out = itf;
  return S_OK;
}

const com::InterfaceEntry* TestDtm::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<TestDtm, IevFdtBaseDTM>(),
      com::entry<TestDtm, IDispatch, IevFdtBaseDTM>(),
      com::entryQuery(IID_IevFdtParameterHandler4,
                      &queryOffered<IevFdtParameterHandler4, &TestDtm::offerHandler>),
      com::entryQuery(IID_IevFdtChannelContainer4,
                      &queryOffered<IevFdtChannelContainer4, &TestDtm::offerChannels>),
      com::entryQuery(IID_IevFdtDtmEvents, &queryOffered<IevFdtDtmEvents, &TestDtm::offerEvents>),
      com::entryQuery(IID_IevSdaHandler, &queryOffered<IevSdaHandler, &TestDtm::offerSda>),
      com::entryQuery(IID_IevFdtActiveXContainer,
                      &queryOffered<IevFdtActiveXContainer, &TestDtm::offerControls>),
      com::entryQuery(IID_IevFdtConnectHook, &queryOffered<IevFdtConnectHook, &TestDtm::offerHook>),
      com::entry<TestDtm, IExternalConnection>(),
      com::endOfMap()};
  return map;
}

com::ComPtr<IUnknown> createTestDtm(TestDtm** object) {
  com::ComObject<TestDtm>* created = nullptr;
  if (FAILED(com::ComObject<TestDtm>::create(&created))) return nullptr;
  com::ComPtr<IUnknown> unknown;
  unknown.attach(created->identity());
  *object = created;
  return unknown;
}

namespace {

class DtmLinkDouble : public com::ObjectRoot, public com::DispatchByIdOnly {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<DtmLinkDouble, IDispatch>(), com::endOfMap()};
    return map;
  }
  com::ComPtr<IUnknown> dtm;

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    ::VariantInit(result);
    if (dtm) {
      V_VT(result) = VT_UNKNOWN;
      V_UNKNOWN(result) = dtm.get();
      dtm->AddRef();
    }
    return S_OK;
  }
};

}  // namespace

com::ComPtr<IUnknown> createDtmLink(IUnknown* dtm) {
  com::ComObject<DtmLinkDouble>* created = nullptr;
  if (FAILED(com::ComObject<DtmLinkDouble>::create(&created))) return nullptr;
  created->dtm = dtm;
  com::ComPtr<IUnknown> unknown;
  unknown.attach(created->identity());
  return unknown;
}

size_t TestDtm::count(const std::string& line) const {
  return static_cast<size_t>(std::count(log.begin(), log.end(), line));
}

STDMETHODIMP TestDtm::SetState(LONG newState) {
  log.push_back("SetState " + std::to_string(newState));
  state = newState;
  return S_OK;
}

STDMETHODIMP TestDtm::GetDtmState(LONG* out) {
  if (!out) return E_INVALIDARG;
  *out = state;
  return S_OK;
}

STDMETHODIMP TestDtm::GetSystemTag(BSTR* tag) {
  if (!tag) return E_INVALIDARG;
  *tag = SysAllocString(L"TAG-1");
  return S_OK;
}

STDMETHODIMP TestDtm::UploadRequest(VARIANT request) {
  log.push_back("UploadRequest " + Text(request));
  if (onUpload) onUpload();
  return uploadResult;
}

STDMETHODIMP TestDtm::RequestParameter(VARIANT id, VARIANT_BOOL* started) {
  log.push_back("RequestParameter " + Text(id));
  if (onRequestParameter) onRequestParameter(id.ulVal);
  *started = requestStarted;
  return S_OK;
}

STDMETHODIMP TestDtm::DownloadRequest(VARIANT request, VARIANT_BOOL* done) {
  log.push_back("DownloadRequest " + Text(request));
  *done = downloadDone;
  return S_OK;
}

STDMETHODIMP TestDtm::AbortTransfer(VARIANT_BOOL* aborted) {
  log.push_back("AbortTransfer");
  *aborted = abortDone;
  return S_OK;
}

STDMETHODIMP TestDtm::CanReleaseChannels(VARIANT_BOOL* agreed) {
  log.push_back("CanReleaseChannels");
  *agreed = channelsReleased;
  return S_OK;
}

STDMETHODIMP TestDtm::ResetChannelParameter() {
  log.push_back("ResetChannelParameter");
  if (onReset) onReset();
  return resetResult;
}

STDMETHODIMP TestDtm::OnDtmEvent(VARIANT code, VARIANT value) {
  log.push_back("OnDtmEvent " + Text(code) + " " + Text(value));
  return S_OK;
}

STDMETHODIMP TestDtm::GetItemList(BSTR invokeId) {
  log.push_back("GetItemList " + Narrow(invokeId));
  return S_OK;
}
STDMETHODIMP TestDtm::ReadItems(VARIANT) {
  log.push_back("ReadItems");
  return S_OK;
}
STDMETHODIMP TestDtm::WriteItems(VARIANT) {
  log.push_back("WriteItems");
  return S_OK;
}
STDMETHODIMP TestDtm::CancelRequest(BSTR invokeId) {
  log.push_back("CancelRequest " + Narrow(invokeId));
  return S_OK;
}

STDMETHODIMP TestDtm::SetControlsProperty(VARIANT key, VARIANT value) {
  log.push_back("SetControlsProperty " + Text(key) + " " + Text(value));
  return S_OK;
}

STDMETHODIMP TestDtm::OnGoingOnline(VARIANT_BOOL* proceed) {
  log.push_back("OnGoingOnline");
  *proceed = hookOnline;
  return S_OK;
}

STDMETHODIMP TestDtm::OnGoingOffline(VARIANT_BOOL* proceed) {
  log.push_back("OnGoingOffline");
  *proceed = hookOffline;
  return S_OK;
}

// ---------------------------------------------------------------------------
// TestFrame
// ---------------------------------------------------------------------------

const com::InterfaceEntry* TestFrame::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<TestFrame, IFrameContainer>(),
      com::entry<TestFrame, IDispatch, IFrameContainer>(),
      com::entryQuery(DIID_IFrameDtmEvents, &TestFrame::queryEventSink),
      com::entryQuery(DIID_IFrameDtmEvents2, &TestFrame::queryStateSink),
      com::entryQuery(IID_IMarshal, &TestFrame::queryMarshal),
      com::endOfMap()};
  return map;
}

HRESULT TestFrame::finalConstruct() {
  using frame_double::DispatchOnlySink;
  eventSink_.reset(new DispatchOnlySink(
      controllingUnknown(), DIID_IFrameDtmEvents,
      [this](DISPID id, const DISPPARAMS& params, VARIANT*) { return invokeEvent(id, params); },
      [this](int slot) {
        record("vtable call", {L"IFrameDtmEvents", std::to_wstring(slot)});
        frame_double::reportFault("vtable call on IFrameDtmEvents");
      }));
  stateSink_.reset(new DispatchOnlySink(
      controllingUnknown(), DIID_IFrameDtmEvents2,
      [this](DISPID id, const DISPPARAMS& p, VARIANT*) -> HRESULT {
        if (id != 1) return DISP_E_MEMBERNOTFOUND;
        record("OnStateChanged", {DispatchOnlySink::Text(p, 0), DispatchOnlySink::Text(p, 1)});
        return S_OK;
      },
      [this](int slot) {
        record("vtable call", {L"IFrameDtmEvents2", std::to_wstring(slot)});
        frame_double::reportFault("vtable call on IFrameDtmEvents2");
      }));
  return ::CoCreateFreeThreadedMarshaler(controllingUnknown(), marshaler_.put());
}

HRESULT TestFrame::queryMarshal(void* object, REFIID iid, void** out) {
  auto* self = static_cast<TestFrame*>(object);
  *out = nullptr;
  if (!self->marshaler_ || !self->freeThreaded) return E_NOINTERFACE;
  return self->marshaler_->QueryInterface(iid, out);
}

HRESULT TestFrame::queryEventSink(void* object, REFIID, void** out) {
  auto* self = static_cast<TestFrame*>(object);
  *out = nullptr;
  if (!self->offerEventSink) return E_NOINTERFACE;
  IDispatch* sink = self->eventSink_.get();
  sink->AddRef();
  *out = sink;
  return S_OK;
}

STDMETHODIMP TestFrame::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  record("container Invoke", {std::to_wstring(id)});
  frame_double::reportFault("Invoke " + std::to_string(id) + " on the frame's own IDispatch");
  return E_NOTIMPL;
}

HRESULT TestFrame::queryStateSink(void* object, REFIID, void** out) {
  auto* self = static_cast<TestFrame*>(object);
  *out = nullptr;
  ::InterlockedIncrement(&self->stateSinkQueries);
  if (!self->offerStateSink) return E_NOINTERFACE;
  IDispatch* sink = self->stateSink_.get();
  sink->AddRef();
  *out = sink;
  return S_OK;
}

com::ComPtr<IUnknown> createTestFrame(TestFrame** object) {
  com::ComObject<TestFrame>* created = nullptr;
  if (FAILED(com::ComObject<TestFrame>::create(&created))) return nullptr;
  com::ComPtr<IUnknown> unknown;
  unknown.attach(created->identity());
  *object = created;
  return unknown;
}

void TestFrame::record(const char* method, std::initializer_list<std::wstring> arguments) {
  std::wstring joined;
  for (const auto& argument : arguments) {
    if (!joined.empty()) joined += L'|';
    joined += argument;
  }
  const FrameCall call{method, joined, ::GetCurrentThreadId()};
  {
    win32::CsLock lock(lock_);
    calls_.push_back(call);
  }
  if (onNotice) onNotice(call);
}

std::vector<FrameCall> TestFrame::calls() const {
  win32::CsLock lock(lock_);
  return calls_;
}

std::vector<FrameCall> TestFrame::callsTo(const char* method) const {
  std::vector<FrameCall> found;
  for (const auto& call : calls())
    if (call.method == method) found.push_back(call);
  return found;
}

// Each notice is recorded under its method name with its arguments as text
// (flags as 0 / -1).
HRESULT TestFrame::invokeEvent(DISPID id, const DISPPARAMS& p) {
  using S = frame_double::DispatchOnlySink;
  auto flag = [&](UINT i) { return std::to_wstring(S::Flag(p, i)); };
  switch (id) {
    case 1: record("OnParameterChanged", {S::Text(p, 0), S::Text(p, 1)}); break;
    case 2: record("OnErrorMessage", {S::Text(p, 0), S::Text(p, 1)}); break;
    case 3: return OnProgress(S::Text(p, 0), S::Text(p, 1), S::Short(p, 2), S::Flag(p, 3));
    case 4: record("OnUploadFinished", {S::Text(p, 0), flag(1)}); break;
    case 5: record("OnDownloadFinished", {S::Text(p, 0), flag(1)}); break;
    case 6: record("OnApplicationClosed", {S::Text(p, 0)}); break;
    case 8: record("OnFunctionChanged", {S::Text(p, 0)}); break;
    case 9: record("OnChannelFunctionChanged", {S::Text(p, 0), S::Text(p, 1)}); break;
    case 10: record("OnPrint", {S::Text(p, 0), S::Text(p, 1)}); break;
    case 11: record("OnNavigation", {S::Text(p, 0)}); break;
    case 12: record("OnOnlineStateChanged", {S::Text(p, 0), flag(1)}); break;
    case 13: record("OnPreparedToRelease", {S::Text(p, 0)}); break;
    case 14: record("OnPreparedToReleaseCommunication", {S::Text(p, 0)}); break;
    default: return E_NOTIMPL;
  }
  return S_OK;
}

HRESULT TestFrame::OnProgress(const std::wstring& tag, const std::wstring& title, short percent,
                              VARIANT_BOOL show) {
  if (progressGate) ::WaitForSingleObject(progressGate, 20000);
  record("OnProgress", {tag, title, std::to_wstring(percent), std::to_wstring(show)});
  return progressResult;
}

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

void PumpFor(DWORD milliseconds) {
  const DWORD start = ::GetTickCount();
  PumpUntil([&] { return ::GetTickCount() - start >= milliseconds; }, milliseconds + 1000);
}

bool ThreadEnded(DWORD threadId, DWORD waitMs) {
  win32::UniqueHandle thread(::OpenThread(SYNCHRONIZE, FALSE, threadId));
  if (!thread) return true;
  // Dispatching: an ending thread may still release proxies of objects in
  // this apartment.
  return WaitOneWithMessageLoop(thread.get(), waitMs) == 1;
}

void RegisterWorkerServer() {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring folder = testsupport::ProgramFolder();

  // The server registers the thread class and the DTM's type library.
  HMODULE server = ::LoadLibraryW((folder + L"worker_thread_server.dll").c_str());
  if (server) {
    using Register = HRESULT(STDAPICALLTYPE*)();
    auto registerServer = reinterpret_cast<Register>(
        reinterpret_cast<void (*)()>(::GetProcAddress(server, "DllRegisterServer")));
    if (registerServer) registerServer();
  }
  // The toolkit's library (TYPELIB 1 of this program) adds the optional
  // connect hook, which the DTM's library does not list; TYPELIB 2 holds
  // the frame interfaces. All three stay loaded while the workers marshal
  // (type_libraries.h).
  testsupport::RegisterTypeLibrary(exe);
  testsupport::RegisterTypeLibrary(std::wstring(exe) + L"\\2");
  testsupport::KeepTypeLibraryLoaded(folder + L"worker_thread_server.dll");
}

}  // namespace worker_test
