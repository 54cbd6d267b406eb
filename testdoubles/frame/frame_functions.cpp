#include "frame_functions.h"

#include <vector>

#include "com/Guard.h"

namespace frame_double {

const com::InterfaceEntry* FunctionFrame::interfaceMap() {
  // The notice frame's entries (NoticeFrame is the first base, so they take
  // this object's pointer unchanged), then the two function interfaces.
  static const std::vector<com::InterfaceEntry> map = [] {
    std::vector<com::InterfaceEntry> entries;
    for (const com::InterfaceEntry* e = NoticeFrame::interfaceMap(); e->iid; ++e)
      entries.push_back(*e);
    entries.push_back(com::entryQuery(__uuidof(IFrameActiveX), &FunctionFrame::queryFunctionPart));
    entries.push_back(
        com::entryQuery(__uuidof(IFrameDialogActiveX), &FunctionFrame::queryFunctionPart));
    entries.push_back(com::endOfMap());
    return entries;
  }();
  return map.data();
}

HRESULT FunctionFrame::queryFunctionPart(void* object, REFIID iid, void** out) {
  auto* self = static_cast<FunctionFrame*>(static_cast<NoticeFrame*>(object));
  *out = nullptr;
  IUnknown* part = nullptr;
  if (iid == __uuidof(IFrameActiveX) && self->functionOffers_.openControl)
    part = static_cast<IFrameActiveX*>(self);
  if (iid == __uuidof(IFrameDialogActiveX) && self->functionOffers_.dialog)
    part = static_cast<IFrameDialogActiveX*>(self);
  if (!part) return E_NOINTERFACE;
  part->AddRef();
  *out = part;
  return S_OK;
}

HRESULT FunctionFrame::answer(const ControlHandler& handler, BSTR systemTag, BSTR functionCall,
                              VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_TRUE;
  if (!handler) return S_OK;
  return com::guard([&] {
    return handler(systemTag ? systemTag : L"", functionCall ? functionCall : L"", result);
  });
}

STDMETHODIMP FunctionFrame::OpenActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                                      VARIANT_BOOL* result) {
  record("FrameActiveX", "OpenActiveXControlRequest",
         {systemTag ? systemTag : L"", functionCall ? functionCall : L""});
  return answer(openHandler_, systemTag, functionCall, result);
}

STDMETHODIMP FunctionFrame::CloseActiveXControlRequest(BSTR controlKey, VARIANT_BOOL* result) {
  record("FrameActiveX", "CloseActiveXControlRequest", {controlKey ? controlKey : L""});
  if (!result) return E_POINTER;
  *result = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP FunctionFrame::OpenDialogActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                                            VARIANT_BOOL* result) {
  record("FrameDialogActiveX", "OpenDialogActiveXControlRequest",
         {systemTag ? systemTag : L"", functionCall ? functionCall : L""});
  return answer(dialogHandler_, systemTag, functionCall, result);
}

com::ComPtr<IUnknown> createFunctionFrame(FunctionFrame** object) {
  return createFrameObject(object);
}

}  // namespace frame_double
