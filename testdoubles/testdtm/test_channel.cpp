#include "test_channel.h"

#include "com/Guard.h"
#include "com/Variant.h"
#include "test_dtm_ids.h"

namespace {

constexpr DWORD kMark = 0x31484354;  // "TCH1"
constexpr ULONG kGoingOnline = 9986;
constexpr ULONG kAbortConnections = 9989;
constexpr LONG kOnline = 12;
// Longest hold of a request 9989 without key 4 (a test that forgot it).
constexpr DWORD kLongestHold = 30000;

ULONG UI4Of(const VARIANT& value, HRESULT* hr) {
  com::Variant v(value);
  *hr = v.changeType(VT_UI4);
  return SUCCEEDED(*hr) ? V_UI4(v.get()) : 0;
}

}  // namespace

const com::InterfaceEntry* CTestChannel::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<CTestChannel, IevFdtBaseChannel>(),
      com::entry<CTestChannel, IDispatch, IevFdtBaseChannel>(),
      com::entry<CTestChannel, IevFdtParametersImportExport>(),
      com::entry<CTestChannel, IevFdtChannelModule>(),
      com::entry<CTestChannel, IPersistStreamInit>(),
      com::entry<CTestChannel, IevFdtOwnedChannel>(),
      com::entryAs<CTestChannel, IPersistStreamInit>(IID_IPersist),
      com::endOfMap()};
  return map;
}

HRESULT CTestChannel::finalConstruct() {
  gate_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return gate_.get() ? S_OK : E_OUTOFMEMORY;
}

void CTestChannel::finalRelease() {
  if (signaller_.get()) {
    ::SetEvent(gate_.get());
    ::WaitForSingleObject(signaller_.get(), INFINITE);
  }
}

void CTestChannel::Log(std::wstring entry) { log_.push_back(std::move(entry)); }

STDMETHODIMP CTestChannel::GetConnectionCount(VARIANT* count) {
  if (!count) return E_POINTER;
  ::VariantInit(count);
  V_VT(count) = VT_UI4;
  V_UI4(count) = static_cast<ULONG>(connections_);
  return S_OK;
}

STDMETHODIMP CTestChannel::Initialize(IUnknown* ownerDtm) {
  return com::guard([&] {
    owner_ = ownerDtm;
    Log(L"Initialize");
    return S_OK;
  });
}

void CTestChannel::OwnerGone() {
  owner_ = nullptr;
  com::guard([&] {
    Log(L"OwnerGone");
    return S_OK;
  });
}

STDMETHODIMP CTestChannel::SetModule(BSTR moduleText, VARIANT moduleNumber) {
  return com::guard([&]() -> HRESULT {
    HRESULT hr = S_OK;
    const ULONG number = UI4Of(moduleNumber, &hr);
    if (FAILED(hr)) return hr;
    moduleIndex_ = static_cast<LONG>(number);
    Log(L"module " + std::wstring(moduleText ? moduleText : L"") + L" " + std::to_wstring(number));
    return S_OK;
  });
}

STDMETHODIMP CTestChannel::GetModuleIndex(long* index) {
  if (!index) return E_POINTER;
  *index = moduleIndex_;
  return S_OK;
}

STDMETHODIMP CTestChannel::SetOwner(IUnknown*) {
  return com::guard([&] {
    Log(L"SetOwner");
    return S_OK;
  });
}

STDMETHODIMP CTestChannel::SetChannelTag(BSTR tag) {
  return com::guard([&] {
    tag_.assign(tag ? tag : L"");
    Log(L"SetChannelTag " + std::wstring(tag_.c_str()));
    return S_OK;
  });
}

STDMETHODIMP CTestChannel::StopWorker(VARIANT_BOOL* stopped) {
  if (!stopped) return E_POINTER;
  *stopped = connections_ == 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP CTestChannel::StartWorker() { return S_OK; }

STDMETHODIMP CTestChannel::PostChannelEvent(VARIANT key, VARIANT value) {
  return com::guard([&]() -> HRESULT {
    HRESULT hr = S_OK;
    const ULONG k = UI4Of(key, &hr);
    if (k >= 1 && k <= 5) {
      const ULONG v = UI4Of(value, &hr);
      if (FAILED(hr)) return hr;
      if (k == 1) connections_ = static_cast<LONG>(v);
      if (k == 2) holdSignal_ = v != 0;
      if (k == 3) value_ = static_cast<LONG>(v);
      if (k == 4) ::SetEvent(gate_.get());
      if (k == 5) failSave_ = v != 0;
      return S_OK;
    }
    Log(L"event " + std::to_wstring(k));
    return S_OK;
  });
}

DWORD WINAPI CTestChannel::SignalLater(void* self) {
  auto* channel = static_cast<CTestChannel*>(self);
  if (channel->holdSignal_) ::WaitForSingleObject(channel->gate_.get(), kLongestHold);
  ::InterlockedExchange(&channel->connections_, 0);
  if (::SetEvent(channel->releaseEvent_.get())) ::InterlockedExchange(&channel->signalled_, 1);
  return 0;
}

STDMETHODIMP CTestChannel::ChannelRequest(VARIANT key, VARIANT value) {
  return com::guard([&]() -> HRESULT {
    HRESULT hr = S_OK;
    const ULONG k = UI4Of(key, &hr);
    Log(L"request " + std::to_wstring(k));
    if (k == kGoingOnline && owner_) {
      com::ComPtr<IevFdtBaseDTM> dtm;
      if (SUCCEEDED(owner_->QueryInterface(__uuidof(IevFdtBaseDTM), dtm.putVoid())) && dtm)
        dtm->SetState(kOnline);
      return S_OK;
    }
    if (k != kAbortConnections) return S_OK;
    if (signaller_.get()) return E_UNEXPECTED;
    const ULONG number = UI4Of(value, &hr);
    if (FAILED(hr)) return hr;
    // The caller's handle is valid only during this call.
    HANDLE own = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ULongToHandle(number), ::GetCurrentProcess(),
                           &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
      return HRESULT_FROM_WIN32(::GetLastError());
    releaseEvent_.reset(own);
    signaller_.reset(::CreateThread(nullptr, 0, &SignalLater, this, 0, nullptr));
    if (!signaller_.get()) {
      releaseEvent_.reset();
      return E_FAIL;
    }
    return S_OK;
  });
}

STDMETHODIMP CTestChannel::GetChannelId(VARIANT* channelId) {
  if (!channelId) return E_POINTER;
  ::VariantInit(channelId);
  return com::guard([&]() -> HRESULT {
    std::wstring joined;
    for (const std::wstring& entry : log_) joined += (joined.empty() ? L"" : L"|") + entry;
    V_VT(channelId) = VT_BSTR;
    V_BSTR(channelId) = ::SysAllocString(joined.c_str());
    return V_BSTR(channelId) ? S_OK : E_OUTOFMEMORY;
  });
}

STDMETHODIMP CTestChannel::GetChannelTag(BSTR* tag) {
  if (!tag) return E_POINTER;
  *tag = ::SysAllocString(tag_.c_str());
  return *tag ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CTestChannel::GetChannelValue(long* value) {
  if (!value) return E_POINTER;
  if (signaller_.get()) {
    ::WaitForSingleObject(signaller_.get(), INFINITE);
    *value = signalled_ ? 1 : 0;
    return S_OK;
  }
  *value = value_;
  return S_OK;
}

STDMETHODIMP CTestChannel::Export(BSTR* parameters) {
  if (!parameters) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    std::wstring text = L"<PARAMETERS><P id=\"1\">" + std::to_wstring(value_) + L"</P></PARAMETERS>";
    *parameters = ::SysAllocString(text.c_str());
    return *parameters ? S_OK : E_OUTOFMEMORY;
  });
}

STDMETHODIMP CTestChannel::Import(BSTR parameters) {
  return com::guard([&] {
    Log(L"import " + std::wstring(parameters ? parameters : L""));
    return S_OK;
  });
}

STDMETHODIMP CTestChannel::GetClassID(CLSID* classId) {
  if (!classId) return E_POINTER;
  *classId = CLSID_TestChannel;
  return S_OK;
}

STDMETHODIMP CTestChannel::IsDirty() { return S_FALSE; }

STDMETHODIMP CTestChannel::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  DWORD data[2] = {};
  ULONG read = 0;
  HRESULT hr = stream->Read(data, sizeof data, &read);
  if (FAILED(hr)) return hr;
  if (read != sizeof data || data[0] != kMark) return E_FAIL;
  if (static_cast<LONG>(data[1]) == kTestChannelFailingValue) return E_FAIL;
  value_ = static_cast<LONG>(data[1]);
  return S_OK;
}

STDMETHODIMP CTestChannel::Save(IStream* stream, BOOL) {
  if (!stream) return E_POINTER;
  if (failSave_) return STG_E_CANTSAVE;
  const DWORD data[2] = {kMark, static_cast<DWORD>(value_)};
  ULONG written = 0;
  HRESULT hr = stream->Write(data, sizeof data, &written);
  if (FAILED(hr)) return hr;
  return written == sizeof data ? S_OK : STG_E_MEDIUMFULL;
}

STDMETHODIMP CTestChannel::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 8;
  return S_OK;
}

STDMETHODIMP CTestChannel::InitNew() {
  Log(L"InitNew");
  value_ = 0;
  return S_OK;
}
