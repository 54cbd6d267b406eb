#include "children_owner.h"

#include "com/Variant.h"
#include "toolkit/params/param_rows.h"

namespace channeltest {

namespace {
std::wstring Text(BSTR s) { return s ? std::wstring(s, ::SysStringLen(s)) : std::wstring(); }
std::wstring Text(const VARIANT& v) {
  com::Variant copy(v);
  if (FAILED(copy.changeType(VT_BSTR))) return L"?";
  return Text(copy.get()->bstrVal);
}
}  // namespace

const com::InterfaceEntry* ChildrenOwner::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<ChildrenOwner, IDtm>(),
      com::entry<ChildrenOwner, IDispatch, com::DispatchImpl<IDtm>>(),
      com::entry<ChildrenOwner, IevFdtBaseDTM>(),
      com::entry<ChildrenOwner, IevFdtDtmEvents>(),
      com::entry<ChildrenOwner, IHART_CommDTM>(),
      com::entry<ChildrenOwner, IevFdtStorageState>(),
      com::entry<ChildrenOwner, IevFdtChannelPersist>(),
      com::entry<ChildrenOwner, IevFdtActiveXContainer>(),
      com::entry<ChildrenOwner, IevFdtAuditTrail>(),
      EV_PARAMETER_HANDLER_ENTRIES(ChildrenOwner),
      com::endOfMap()};
  return map;
}

HRESULT ChildrenOwner::finalConstruct() {
  HRESULT hr = ChannelOwner::finalConstruct();
  if (FAILED(hr)) return hr;
  return ParamRow::Text(1013, L"New DevDTM Address", L"", L"", 0).AddTo(this);
}

void ChildrenOwner::note(const char* method, const std::wstring& argument, const std::wstring& second) {
  win32::CsLock hold(callLock_);
  calls_.push_back({method, argument, second});
}

std::vector<OwnerCall> ChildrenOwner::calls() const {
  win32::CsLock hold(callLock_);
  return calls_;
}

std::vector<OwnerCall> ChildrenOwner::callsTo(const char* method) const {
  std::vector<OwnerCall> found;
  for (const OwnerCall& call : calls()) {
    if (call.method == method) found.push_back(call);
  }
  return found;
}

void ChildrenOwner::clearCalls() {
  win32::CsLock hold(callLock_);
  calls_.clear();
}

void ChildrenOwner::setAddressDialog(HRESULT result, long address) {
  dialogResult_ = result;
  dialogAddress_ = address;
}

STDMETHODIMP ChildrenOwner::DeviceDtmAdded(BSTR bsChildSystemTag) {
  note("DeviceDtmAdded", Text(bsChildSystemTag));
  return S_OK;
}

STDMETHODIMP ChildrenOwner::GetDeviceDtmAddressViaGUI(long* plAddress) {
  if (!plAddress) return E_POINTER;
  note("GetDeviceDtmAddressViaGUI", std::to_wstring(*plAddress));
  if (SUCCEEDED(dialogResult_)) *plAddress = dialogAddress_;
  return dialogResult_;
}

STDMETHODIMP ChildrenOwner::SetModified(long modified) {
  note("SetModified", std::to_wstring(modified));
  modified_ = modified;
  return S_OK;
}

STDMETHODIMP ChildrenOwner::GetModified(long* modified) {
  if (!modified) return E_POINTER;
  *modified = modified_;
  return S_OK;
}

STDMETHODIMP ChildrenOwner::SetChannelsModified(VARIANT_BOOL modified) {
  note("SetChannelsModified", modified ? L"true" : L"false");
  return S_OK;
}

STDMETHODIMP ChildrenOwner::SetControlsProperty(VARIANT key, VARIANT value) {
  note("SetControlsProperty", Text(key), Text(value));
  return S_OK;
}

STDMETHODIMP ChildrenOwner::WriteVariableEvent(BSTR descriptor, BSTR name, BSTR oldDisplay, BSTR newDisplay) {
  note("WriteVariableEvent", Text(name), Text(oldDisplay) + L"|" + Text(newDisplay) + L"|" + Text(descriptor));
  return S_OK;
}

com::ComPtr<IUnknown> createChildrenOwner(ChildrenOwner** object) {
  com::ComPtr<IUnknown> result;
  if (FAILED(com::createObject<ChildrenOwner>(nullptr, IID_IUnknown, result.putVoid()))) return result;
  if (object) {
    com::ComPtr<IHART_CommDTM> dtm;
    result.as(dtm);
    *object = static_cast<ChildrenOwner*>(dtm.get());
  }
  return result;
}

}  // namespace channeltest
