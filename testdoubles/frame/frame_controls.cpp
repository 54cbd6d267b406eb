#include "frame_controls.h"

namespace frame_double {

const com::InterfaceEntry* ControlFrame::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<ControlFrame, IUnknown, IFrameUserDialog>(),
      com::entryQuery(__uuidof(IFrameActiveX), &ControlFrame::queryActiveX),
      com::entryQuery(IID_IDispatch, &ControlFrame::queryNotices),
      com::entryQuery(__uuidof(IFrameUserDialog), &ControlFrame::queryNotices),
      com::entryQuery(__uuidof(ITransferGroupProvider), &ControlFrame::queryNotices),
      com::entryQuery(__uuidof(IFrameContainer), &ControlFrame::queryNotices),
      com::entryQuery(__uuidof(IFrameTopology), &ControlFrame::queryNotices),
      com::entryQuery(__uuidof(IFrameDtmEvents), &ControlFrame::queryNotices),
      com::entryQuery(__uuidof(IFrameDtmEvents2), &ControlFrame::queryNotices),
      com::entryQuery(__uuidof(IFrameAuditTrailEvents), &ControlFrame::queryNotices),
      com::entryQuery(IID_IMarshal, &ControlFrame::queryNotices),
      com::endOfMap()};
  return map;
}

// Every other interface is the notice frame's own answer.
HRESULT ControlFrame::queryNotices(void* object, REFIID iid, void** out) {
  NoticeFrame* self = static_cast<ControlFrame*>(object);
  return com::queryInterfaceMap(self, NoticeFrame::interfaceMap(), iid, out);
}

HRESULT ControlFrame::queryActiveX(void* object, REFIID, void** out) {
  IFrameActiveX* part = static_cast<ControlFrame*>(object);
  part->AddRef();
  *out = part;
  return S_OK;
}

void ControlFrame::setOpenAnswer(VARIANT_BOOL answer, HRESULT result) {
  openAnswer_ = answer;
  openResult_ = result;
}

void ControlFrame::setCloseAnswer(VARIANT_BOOL answer, HRESULT result) {
  closeAnswer_ = answer;
  closeResult_ = result;
}

STDMETHODIMP ControlFrame::OpenActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                                     VARIANT_BOOL* result) {
  record("IFrameActiveX", "OpenActiveXControlRequest",
         {systemTag ? systemTag : L"", functionCall ? functionCall : L""});
  if (!result) return E_POINTER;
  *result = openAnswer_;
  return openResult_;
}

STDMETHODIMP ControlFrame::CloseActiveXControlRequest(BSTR controlKey, VARIANT_BOOL* result) {
  record("IFrameActiveX", "CloseActiveXControlRequest", {controlKey ? controlKey : L""});
  if (!result) return E_POINTER;
  *result = closeAnswer_;
  return closeResult_;
}

com::ComPtr<IUnknown> createControlFrame(ControlFrame** object) {
  return createFrameObject(object);
}

}  // namespace frame_double
