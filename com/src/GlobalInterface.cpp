#include "com/GlobalInterface.h"

#include "com/ComPtr.h"

namespace com {

namespace {

HRESULT Table(ComPtr<IGlobalInterfaceTable>& table) {
  return ::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IGlobalInterfaceTable, table.putVoid());
}

}  // namespace

GlobalInterface::GlobalInterface(GlobalInterface&& other) noexcept
    : cookie_(other.cookie_), iid_(other.iid_) {
  other.cookie_ = 0;
}

GlobalInterface& GlobalInterface::operator=(GlobalInterface&& other) noexcept {
  if (this != &other) {
    revoke();
    cookie_ = other.cookie_;
    iid_ = other.iid_;
    other.cookie_ = 0;
  }
  return *this;
}

HRESULT GlobalInterface::enter(REFIID iid, IUnknown* object) {
  revoke();
  if (!object) return S_FALSE;
  ComPtr<IGlobalInterfaceTable> table;
  HRESULT hr = Table(table);
  if (FAILED(hr)) return hr;
  DWORD cookie = 0;
  hr = table->RegisterInterfaceInGlobal(object, iid, &cookie);
  if (FAILED(hr)) return hr;
  cookie_ = cookie;
  iid_ = iid;
  return S_OK;
}

HRESULT GlobalInterface::take(void** out) const { return take(cookie_, iid_, out); }

HRESULT GlobalInterface::take(DWORD cookie, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!cookie) return E_FAIL;
  ComPtr<IGlobalInterfaceTable> table;
  HRESULT hr = Table(table);
  if (FAILED(hr)) return hr;
  return table->GetInterfaceFromGlobal(cookie, iid, out);
}

void GlobalInterface::revoke() {
  if (!cookie_) return;
  ComPtr<IGlobalInterfaceTable> table;
  if (SUCCEEDED(Table(table))) table->RevokeInterfaceFromGlobal(cookie_);
  cookie_ = 0;
  iid_ = IID_NULL;
}

}  // namespace com
