#include "device_dtm.h"

namespace devicedtm_double {

namespace {
std::wstring Text(BSTR s) { return s ? std::wstring(s, ::SysStringLen(s)) : std::wstring(); }
}  // namespace

const com::InterfaceEntry* DeviceDtm::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<DeviceDtm, IChildCommunicationEvents>(),
      com::entry<DeviceDtm, IDispatch, com::DispatchImpl<IChildCommunicationEvents>>(),
      com::entryQuery(__uuidof(IChildCommunicationEvents2), &DeviceDtm::querySecond),
      com::entryQuery(IID_IMarshal, &DeviceDtm::queryMarshal),
      com::endOfMap()};
  return map;
}

HRESULT DeviceDtm::queryMarshal(void* object, REFIID, void** out) {
  auto* self = static_cast<DeviceDtm*>(object);
  *out = nullptr;
  if (!self->unmarshalFails_) return E_NOINTERFACE;
  auto* marshal = static_cast<IMarshal*>(self);
  marshal->AddRef();
  *out = marshal;
  return S_OK;
}

// A class id of nobody's: unmarshalling cannot create it.
STDMETHODIMP DeviceDtm::GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID* cid) {
  if (!cid) return E_POINTER;
  *cid = {0x5E0C2A41, 0x7B3D, 0x4F19, {0x9A, 0x6E, 0x2C, 0x81, 0x4D, 0x07, 0xB3, 0x5F}};
  return S_OK;
}

STDMETHODIMP DeviceDtm::GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD* size) {
  if (!size) return E_POINTER;
  *size = 0;
  return S_OK;
}

STDMETHODIMP DeviceDtm::UnmarshalInterface(IStream*, REFIID, void** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT DeviceDtm::querySecond(void* object, REFIID, void** out) {
  auto* self = static_cast<DeviceDtm*>(object);
  if (!self->fdt121_) {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  auto* second = static_cast<IChildCommunicationEvents2*>(self);
  second->AddRef();
  *out = second;
  return S_OK;
}

void DeviceDtm::record(const char* method, BSTR invokeId, BSTR document, BSTR parent) {
  Answer answer;
  answer.method = method;
  answer.invokeId = Text(invokeId);
  answer.document = Text(document);
  answer.parentDocument = Text(parent);
  answer.threadId = ::GetCurrentThreadId();
  win32::CsLock hold(lock_);
  answers_.push_back(std::move(answer));
}

std::vector<Answer> DeviceDtm::answers() const {
  win32::CsLock hold(lock_);
  return answers_;
}

size_t DeviceDtm::answerCount() const {
  win32::CsLock hold(lock_);
  return answers_.size();
}

bool DeviceDtm::waitForAnswers(size_t count, DWORD timeoutMs) const {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (answerCount() >= count) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end) return false;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now < 20 ? end - now : 20),
                                  QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

STDMETHODIMP DeviceDtm::OnAbort(BSTR communicationReference) {
  record("OnAbort", communicationReference, nullptr);
  return S_OK;
}
STDMETHODIMP DeviceDtm::OnConnectResponse(BSTR invokeId, BSTR response) {
  record("OnConnectResponse", invokeId, response);
  return S_OK;
}
STDMETHODIMP DeviceDtm::OnDisconnectResponse(BSTR invokeId, BSTR response) {
  record("OnDisconnectResponse", invokeId, response);
  return S_OK;
}
STDMETHODIMP DeviceDtm::OnTransactionResponse(BSTR invokeId, BSTR response) {
  record("OnTransactionResponse", invokeId, response);
  return S_OK;
}
STDMETHODIMP DeviceDtm::OnConnectResponse2(BSTR invokeId, BSTR parentInformation, BSTR response) {
  record("OnConnectResponse2", invokeId, response, parentInformation);
  return S_OK;
}

com::ComPtr<IChildCommunicationEvents> createDeviceDtm(DeviceDtm** object) {
  com::ComPtr<IChildCommunicationEvents> result;
  if (FAILED(com::createObject<DeviceDtm>(nullptr, __uuidof(IChildCommunicationEvents), result.putVoid())))
    return result;
  if (object) *object = static_cast<DeviceDtm*>(result.get());
  return result;
}

}  // namespace devicedtm_double
