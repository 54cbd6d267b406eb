#include "channel_owner.h"

#include "toolkit/params/param_rows.h"

namespace channeltest {

const com::InterfaceEntry* ChannelOwner::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<ChannelOwner, IDtm>(),
      com::entry<ChannelOwner, IDispatch, com::DispatchImpl<IDtm>>(),
      com::entry<ChannelOwner, IevFdtBaseDTM>(),
      com::entry<ChannelOwner, IevFdtDtmEvents>(),
      com::entry<ChannelOwner, IHART_CommDTM>(),
      EV_PARAMETER_HANDLER_ENTRIES(ChannelOwner),
      com::endOfMap()};
  return map;
}

HRESULT ChannelOwner::finalConstruct() {
  // The channel settings as the DTM declares them.
  ParamRow::Numeric(1000, L"Device ID", VT_UI1, 0, 255, 0, 0).Kind(1).AddTo(this);
  ParamRow::Numeric(1001, L"Primary Master", VT_BOOL, 0, 0, -1, -1).Kind(1).AddTo(this);
  ParamRow::Numeric(1002, L"Preamble Count", VT_UI1, 5, 20, 5, 5).Kind(1).AddTo(this);
  ParamRow::Numeric(1003, L"Retry Count", VT_UI1, 0, 100, 3, 3).Kind(1).AddTo(this);
  ParamRow::Numeric(1004, L"Last Scan Time", VT_R8, 0, 0, 0, 0).AddTo(this);
  ParamRow::Numeric(1005, L"Scan Active", VT_BOOL, 0, 0, 0, 0).AddTo(this);
  ParamRow::Numeric(1010, L"Change Counter", VT_UI4, 0, 0, 0, 0).AddTo(this);
  ParamRow::Numeric(1015, L"Maximum address for scanning", VT_UI1, 0, 255, 15, 15).Kind(1).AddTo(this);
  return S_OK;
}

std::vector<std::wstring> ChannelOwner::messages() const {
  win32::CsLock hold(lock_);
  return messages_;
}

STDMETHODIMP ChannelOwner::SetState(long newState) {
  state_ = newState;
  return S_OK;
}

STDMETHODIMP ChannelOwner::GetDtmState(long* state) {
  if (!state) return E_INVALIDARG;
  *state = state_;
  return S_OK;
}

STDMETHODIMP ChannelOwner::GetSystemTag(BSTR* systemTag) {
  if (!systemTag) return E_POINTER;
  *systemTag = ::SysAllocString(L"DTM-1");
  return S_OK;
}

STDMETHODIMP ChannelOwner::OnDtmEvent(VARIANT code, VARIANT value) {
  VARIANT number;
  ::VariantInit(&number);
  if (SUCCEEDED(::VariantChangeType(&number, &code, 0, VT_I4)) && number.lVal == 16 && value.vt == VT_BSTR) {
    win32::CsLock hold(lock_);
    messages_.emplace_back(value.bstrVal ? value.bstrVal : L"");
  }
  if (number.vt == VT_I4 && number.lVal == 18 && value.vt == (VT_ARRAY | VT_VARIANT) && value.parray) {
    Progress p;
    VARIANT fields[3];
    for (LONG i = 0; i < 3; ++i) {
      ::VariantInit(&fields[i]);
      ::SafeArrayGetElement(value.parray, &i, &fields[i]);
    }
    if (fields[0].vt == VT_BSTR && fields[0].bstrVal) p.text = fields[0].bstrVal;
    if (fields[1].vt == VT_I4) p.percent = fields[1].lVal;
    p.running = fields[2].vt == VT_BOOL && fields[2].boolVal == VARIANT_TRUE;
    for (VARIANT& f : fields) ::VariantClear(&f);
    VARIANT active;
    ::VariantInit(&active);
    p.scanActive = SUCCEEDED(GetValue(1005, &active)) && active.vt == VT_BOOL && active.boolVal;
    ::VariantClear(&active);
    {
      win32::CsLock hold(lock_);
      progress_.push_back(p);
    }
    if (progressHook_) progressHook_(p);
  }
  return S_OK;
}

std::vector<ChannelOwner::Progress> ChannelOwner::progress() const {
  win32::CsLock hold(lock_);
  return progress_;
}

void ChannelOwner::clearProgress() {
  win32::CsLock hold(lock_);
  progress_.clear();
}

com::ComPtr<IUnknown> createChannelOwner(ChannelOwner** object) {
  com::ComPtr<IUnknown> result;
  if (FAILED(com::createObject<ChannelOwner>(nullptr, IID_IUnknown, result.putVoid()))) return result;
  if (object) {
    com::ComPtr<IDtm> dtm;
    result.as(dtm);
    *object = static_cast<ChannelOwner*>(dtm.get());
  }
  return result;
}

}  // namespace channeltest
