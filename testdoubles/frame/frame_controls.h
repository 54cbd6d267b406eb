// A notice frame that also opens and closes a DTM's controls on request
// (IFrameActiveX), recording each request and answering from a script, so a
// test can make it refuse.
#pragma once

#include "frame_notices.h"

namespace frame_double {

class ControlFrame : public NoticeFrame, public com::DispatchImpl<IFrameActiveX> {
 public:
  static const com::InterfaceEntry* interfaceMap();

  // The answers of the two requests (default: true, S_OK).
  void setOpenAnswer(VARIANT_BOOL answer, HRESULT result = S_OK);
  void setCloseAnswer(VARIANT_BOOL answer, HRESULT result = S_OK);

  // IFrameActiveX: recorded as "OpenActiveXControlRequest" (tag, document)
  // and "CloseActiveXControlRequest" (key).
  STDMETHODIMP OpenActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                         VARIANT_BOOL* result) override;
  STDMETHODIMP CloseActiveXControlRequest(BSTR controlKey, VARIANT_BOOL* result) override;


 private:
  static HRESULT queryNotices(void* object, REFIID iid, void** out);
  static HRESULT queryActiveX(void* object, REFIID iid, void** out);

  VARIANT_BOOL openAnswer_ = VARIANT_TRUE;
  HRESULT openResult_ = S_OK;
  VARIANT_BOOL closeAnswer_ = VARIANT_TRUE;
  HRESULT closeResult_ = S_OK;
};

com::ComPtr<IUnknown> createControlFrame(ControlFrame** object);

}  // namespace frame_double
