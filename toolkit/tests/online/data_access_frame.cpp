#include "data_access_frame.h"

#include <vector>

namespace onlinetest {

STDMETHODIMP DataAccessSinkPart::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP DataAccessSinkPart::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP DataAccessSinkPart::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}

STDMETHODIMP DataAccessSinkPart::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                        VARIANT* result, EXCEPINFO*, UINT*) {
  if (result) ::VariantInit(result);
  if (!(flags & DISPATCH_METHOD) || !params) return DISP_E_MEMBERNOTFOUND;
  const char* method = id == 1 ? "OnItemListResponse"
                       : id == 3 ? "OnReadResponse"
                       : id == 4 ? "OnWriteResponse"
                                 : nullptr;
  if (!method) return DISP_E_MEMBERNOTFOUND;
  if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
  // Arguments arrive last to first.
  const VARIANT& invokeId = params->rgvarg[1];
  const VARIANT& document = params->rgvarg[0];
  if (V_VT(&invokeId) != VT_BSTR || V_VT(&document) != VT_BSTR) return DISP_E_TYPEMISMATCH;
  RecordSinkCall(method, V_BSTR(&invokeId) ? V_BSTR(&invokeId) : L"",
                 V_BSTR(&document) ? V_BSTR(&document) : L"");
  return S_OK;
}

const com::InterfaceEntry* DataAccessFrame::interfaceMap() {
  // The notice frame's entries first (its first entry is the identity),
  // then the sink.
  static const std::vector<com::InterfaceEntry> map = [] {
    std::vector<com::InterfaceEntry> entries;
    for (const com::InterfaceEntry* e = NoticeFrame::interfaceMap(); e->iid; ++e)
      entries.push_back(*e);
    entries.push_back(com::entryQuery(__uuidof(IDeviceDataAccessEvents), &DataAccessFrame::querySink));
    entries.push_back(com::endOfMap());
    return entries;
  }();
  return map.data();
}

HRESULT DataAccessFrame::querySink(void* object, REFIID, void** out) {
  auto* self = static_cast<DataAccessFrame*>(static_cast<NoticeFrame*>(object));
  IDispatch* sink = static_cast<DataAccessSinkPart*>(self);
  sink->AddRef();
  *out = sink;
  return S_OK;
}

void DataAccessFrame::RecordSinkCall(const char* method, const std::wstring& invokeId,
                                     const std::wstring& document) {
  record("IDeviceDataAccessEvents", method, {invokeId, document});
  if (duringNextAnswer) {
    auto call = std::move(duringNextAnswer);
    duringNextAnswer = nullptr;
    call();
  }
}

}  // namespace onlinetest
