#include "worker_doubles.h"

#include <oleauto.h>

#include <algorithm>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "toolkit/values/message_wait.h"

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

std::wstring Wide(BSTR text) { return text ? std::wstring(text) : std::wstring(); }

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
      com::entry<TestFrame, IFrameDtmEvents>(),
      com::entryQuery(IID_IFrameDtmEvents2, &TestFrame::queryStateSink),
      com::entryQuery(IID_IMarshal, &TestFrame::queryMarshal),
      com::endOfMap()};
  return map;
}

HRESULT TestFrame::finalConstruct() {
  return ::CoCreateFreeThreadedMarshaler(controllingUnknown(), marshaler_.put());
}

HRESULT TestFrame::queryMarshal(void* object, REFIID iid, void** out) {
  auto* self = static_cast<TestFrame*>(object);
  *out = nullptr;
  if (!self->marshaler_ || !self->freeThreaded) return E_NOINTERFACE;
  return self->marshaler_->QueryInterface(iid, out);
}

HRESULT TestFrame::queryStateSink(void* object, REFIID, void** out) {
  auto* self = static_cast<TestFrame*>(object);
  *out = nullptr;
  if (!self->offerStateSink) return E_NOINTERFACE;
  IFrameDtmEvents2* sink = self;
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
  win32::CsLock lock(lock_);
  calls_.push_back({method, joined, ::GetCurrentThreadId()});
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

// Each notice is recorded with its arguments as text.
#define WORKER_TEST_NOTICE(method, params, ...) \
  STDMETHODIMP TestFrame::method params {       \
    record(#method, {__VA_ARGS__});             \
    return S_OK;                                \
  }
WORKER_TEST_NOTICE(OnParameterChanged, (BSTR tag, BSTR text), Wide(tag), Wide(text))
WORKER_TEST_NOTICE(OnErrorMessage, (BSTR tag, BSTR text), Wide(tag), Wide(text))
WORKER_TEST_NOTICE(OnUploadFinished, (BSTR id, VARIANT_BOOL ok), Wide(id), std::to_wstring(ok))
WORKER_TEST_NOTICE(OnDownloadFinished, (BSTR id, VARIANT_BOOL ok), Wide(id), std::to_wstring(ok))
WORKER_TEST_NOTICE(OnApplicationClosed, (BSTR id), Wide(id))
WORKER_TEST_NOTICE(OnFunctionChanged, (BSTR tag), Wide(tag))
WORKER_TEST_NOTICE(OnChannelFunctionChanged, (BSTR tag, BSTR path), Wide(tag), Wide(path))
WORKER_TEST_NOTICE(OnPrint, (BSTR tag, BSTR call), Wide(tag), Wide(call))
WORKER_TEST_NOTICE(OnNavigation, (BSTR tag), Wide(tag))
WORKER_TEST_NOTICE(OnOnlineStateChanged, (BSTR tag, VARIANT_BOOL on), Wide(tag), std::to_wstring(on))
WORKER_TEST_NOTICE(OnPreparedToRelease, (BSTR tag), Wide(tag))
WORKER_TEST_NOTICE(OnPreparedToReleaseCommunication, (BSTR tag), Wide(tag))
WORKER_TEST_NOTICE(OnStateChanged, (BSTR tag, BSTR document), Wide(tag), Wide(document))
#undef WORKER_TEST_NOTICE

STDMETHODIMP TestFrame::OnProgress(BSTR tag, BSTR title, short percent, VARIANT_BOOL show) {
  if (progressGate) ::WaitForSingleObject(progressGate, 20000);
  record("OnProgress", {Wide(tag), Wide(title), std::to_wstring(percent), std::to_wstring(show)});
  return progressResult;
}

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return true;
}

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
  wchar_t exe[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder(exe, length);
  folder = folder.substr(0, folder.find_last_of(L"\\/") + 1);

  // The server registers the thread class and the DTM's type library.
  HMODULE server = ::LoadLibraryW((folder + L"worker_thread_server.dll").c_str());
  if (server) {
    using Register = HRESULT(STDAPICALLTYPE*)();
    auto registerServer = reinterpret_cast<Register>(
        reinterpret_cast<void (*)()>(::GetProcAddress(server, "DllRegisterServer")));
    if (registerServer) registerServer();
  }
  // The toolkit's library (TYPELIB 1 of this program) adds the optional
  // connect hook, which the DTM's library does not list.
  ITypeLib* library = nullptr;
  if (SUCCEEDED(::LoadTypeLibEx(exe, REGKIND_REGISTER, &library))) library->Release();
  // The frame interfaces (TYPELIB 2), registered under their resource path.
  std::wstring frameLibrary = std::wstring(exe) + L"\\2";
  if (SUCCEEDED(::LoadTypeLibEx(frameLibrary.c_str(), REGKIND_NONE, &library))) {
    ::RegisterTypeLib(library, &frameLibrary[0], nullptr);
    library->Release();
  }
}

}  // namespace worker_test
