#include "frame_controls.h"

#include <vector>

#include "com/Guard.h"

namespace frame_double {

const com::InterfaceEntry* ControlFrame::interfaceMap() {
  // The notice frame's entries (NoticeFrame is the first base, so they take
  // this object's pointer unchanged), then the two function-call interfaces.
  static const std::vector<com::InterfaceEntry> map = [] {
    std::vector<com::InterfaceEntry> entries;
    for (const com::InterfaceEntry* e = NoticeFrame::interfaceMap(); e->iid; ++e)
      entries.push_back(*e);
    entries.push_back(com::entryQuery(__uuidof(IFrameActiveX), &ControlFrame::queryControlPart));
    entries.push_back(
        com::entryQuery(__uuidof(IFrameDialogActiveX), &ControlFrame::queryControlPart));
    entries.push_back(com::endOfMap());
    return entries;
  }();
  return map.data();
}

HRESULT ControlFrame::queryControlPart(void* object, REFIID iid, void** out) {
  auto* self = static_cast<ControlFrame*>(static_cast<NoticeFrame*>(object));
  *out = nullptr;
  IUnknown* part = nullptr;
  if (iid == __uuidof(IFrameActiveX) && self->controlOffers_.openControl)
    part = static_cast<IFrameActiveX*>(self);
  if (iid == __uuidof(IFrameDialogActiveX) && self->controlOffers_.dialog)
    part = static_cast<IFrameDialogActiveX*>(self);
  if (!part) return E_NOINTERFACE;
  part->AddRef();
  *out = part;
  return S_OK;
}

void ControlFrame::setOpenAnswer(VARIANT_BOOL answer, HRESULT result) {
  openAnswer_ = {answer, result};
}

void ControlFrame::setCloseAnswer(VARIANT_BOOL answer, HRESULT result) {
  closeAnswer_ = {answer, result};
}

HRESULT ControlFrame::respond(const ControlHandler& handler, const Answer& scripted,
                              BSTR systemTag, BSTR functionCall, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = scripted.answer;
  if (!handler) return scripted.result;
  *result = VARIANT_TRUE;
  return com::guard([&] {
    return handler(systemTag ? systemTag : L"", functionCall ? functionCall : L"", result);
  });
}

STDMETHODIMP ControlFrame::OpenActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                                     VARIANT_BOOL* result) {
  record("IFrameActiveX", "OpenActiveXControlRequest",
         {systemTag ? systemTag : L"", functionCall ? functionCall : L""});
  return respond(openHandler_, openAnswer_, systemTag, functionCall, result);
}

STDMETHODIMP ControlFrame::CloseActiveXControlRequest(BSTR controlKey, VARIANT_BOOL* result) {
  record("IFrameActiveX", "CloseActiveXControlRequest", {controlKey ? controlKey : L""});
  if (!result) return E_POINTER;
  *result = closeAnswer_.answer;
  if (!closeHandler_) return closeAnswer_.result;
  *result = VARIANT_TRUE;
  return com::guard([&] { return closeHandler_(controlKey ? controlKey : L"", result); });
}

STDMETHODIMP ControlFrame::OpenDialogActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                                           VARIANT_BOOL* result) {
  record("IFrameDialogActiveX", "OpenDialogActiveXControlRequest",
         {systemTag ? systemTag : L"", functionCall ? functionCall : L""});
  return respond(dialogHandler_, Answer(), systemTag, functionCall, result);
}

com::ComPtr<IUnknown> createControlFrame(ControlFrame** object) {
  return createFrameObject(object);
}

}  // namespace frame_double
