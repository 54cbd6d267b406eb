#include "channel/connections.h"

#include <rpc.h>

#include <cwchar>

namespace hartdtm {

RefPtr<CHART_ChanConn> CHART_ChanConn::Create() {
  return RefPtr<CHART_ChanConn>(new CHART_ChanConn);
}

HRESULT CHART_ChanConn::CreateReference() {
  UUID uuid;
  const RPC_STATUS status = ::UuidCreate(&uuid);
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) return E_FAIL;
  RPC_WSTR text = nullptr;
  if (::UuidToStringW(&uuid, &text) != RPC_S_OK || !text) return E_FAIL;
  HRESULT hr = reference_.assign(reinterpret_cast<const wchar_t*>(text));
  ::RpcStringFreeW(&text);
  if (FAILED(hr)) return hr;
  return reference_.empty() ? E_FAIL : S_OK;
}

void CHART_ChanConn::SetGivenCallback(IChildCommunicationEvents* callback) {
  win32::CsLock hold(lock_);
  given_ = callback;
}

HRESULT CHART_ChanConn::PrepareCallbackForWorker() {
  win32::CsLock hold(lock_);
  if (given_) {
    HRESULT hr = stream_.marshal(__uuidof(IChildCommunicationEvents), given_.get());
    if (FAILED(hr)) return hr;
    given_ = nullptr;
    return S_OK;
  }
  return (stream_ || worker_) ? S_OK : E_FAIL;
}

HRESULT CHART_ChanConn::UnmarshalCallback() {
  com::MarshalledInterface stream;
  {
    win32::CsLock hold(lock_);
    if (worker_ || !stream_) return S_OK;
    stream = std::move(stream_);
  }
  com::ComPtr<IChildCommunicationEvents> callback;
  HRESULT hr = stream.unmarshal(callback);
  win32::CsLock hold(lock_);
  if (FAILED(hr)) {
    callbackFailed_ = true;
    return hr;
  }
  worker_ = std::move(callback);
  return S_OK;
}

bool CHART_ChanConn::CallbackUnsettled() const {
  win32::CsLock hold(lock_);
  return static_cast<bool>(stream_) || callbackFailed_;
}

com::ComPtr<IChildCommunicationEvents> CHART_ChanConn::Callback() const {
  win32::CsLock hold(lock_);
  return worker_ ? worker_ : given_;
}

void CHART_ChanConn::DropWorkerCallback() {
  com::ComPtr<IChildCommunicationEvents> dropped;
  win32::CsLock hold(lock_);
  dropped = std::move(worker_);
  hold.unlock();
}

hart::LongAddress CHART_ChanConn::LongAddress() const {
  return {manufacturerId, deviceType, deviceId[0], deviceId[1], deviceId[2]};
}

bool SameReference(const wchar_t* a, const wchar_t* b) {
  if (!a || !b) return false;
  constexpr size_t kLength = 36;
  if (std::wcslen(a) != kLength || std::wcslen(b) != kLength) return false;
  for (size_t i = 0; i < kLength; ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

int CevFDT_ConnectionMgr::indexOfLocked(const wchar_t* reference) const {
  for (size_t i = 0; i < connections_.size(); ++i) {
    if (SameReference(connections_[i]->Reference(), reference)) return static_cast<int>(i);
  }
  return -1;
}

int CevFDT_ConnectionMgr::IndexOfConnection(const wchar_t* reference) const {
  win32::CsLock hold(lock_);
  return indexOfLocked(reference);
}

HRESULT CevFDT_ConnectionMgr::FindConnection(const wchar_t* reference, ConnRef* out) const {
  if (!out) return E_INVALIDARG;
  win32::CsLock hold(lock_);
  const int index = indexOfLocked(reference);
  if (index < 0) return E_FAIL;
  *out = connections_[static_cast<size_t>(index)];
  return S_OK;
}

bool CevFDT_ConnectionMgr::AddConnection(const ConnRef& connection) {
  if (!connection) return false;
  win32::CsLock hold(lock_);
  if (indexOfLocked(connection->Reference()) >= 0) return false;
  connections_.push_back(connection);
  return true;
}

HRESULT CevFDT_ConnectionMgr::RemoveConnection(const wchar_t* reference) {
  if (!reference || !*reference) return E_INVALIDARG;
  ConnRef removed;  // released after the lock is left
  win32::CsLock hold(lock_);
  const int index = indexOfLocked(reference);
  if (index < 0) return E_FAIL;
  removed = connections_[static_cast<size_t>(index)];
  connections_.erase(connections_.begin() + index);
  hold.unlock();
  return S_OK;
}

std::vector<ConnRef> CevFDT_ConnectionMgr::Snapshot() const {
  win32::CsLock hold(lock_);
  return connections_;
}

size_t CevFDT_ConnectionMgr::Count() const {
  win32::CsLock hold(lock_);
  return connections_.size();
}

bool CevFDT_ConnectionMgr::HoldsLongAddress(const hart::LongAddress& address) const {
  win32::CsLock hold(lock_);
  for (const ConnRef& c : connections_) {
    if (c->LongAddress() == address) return true;
  }
  return false;
}

void CevFDT_ConnectionMgr::Clear() {
  std::vector<ConnRef> dropped;
  win32::CsLock hold(lock_);
  dropped.swap(connections_);
  hold.unlock();
}

}  // namespace hartdtm
