// The notice frame double with the frame's function-call interfaces, through
// which a DTM opens the control of one of its functions:
//   IFrameActiveX        (OpenActiveXControlRequest: open and return at once;
//                         CloseActiveXControlRequest)
//   IFrameDialogActiveX  (OpenDialogActiveXControlRequest: show the control
//                         and return when it has closed)
// Each call is recorded (interface "FrameActiveX" or "FrameDialogActiveX",
// arguments system tag and function-call document). A test plays the
// control with a handler, which runs inside the frame's call (writing the
// DTM's parameters as the control would, say) and gives the frame's answer;
// without one every request answers S_OK and true.
#pragma once

#include <functional>
#include <string>

#include "frame_notices.h"

namespace frame_double {

class FunctionFrame : public NoticeFrame,
                      public com::DispatchImpl<IFrameActiveX>,
                      public com::DispatchImpl<IFrameDialogActiveX> {
 public:
  static const com::InterfaceEntry* interfaceMap();

  // Which of the two interfaces the frame offers.
  struct FunctionOffers {
    bool openControl = true;  // IFrameActiveX
    bool dialog = true;       // IFrameDialogActiveX
  };
  FunctionOffers& functionOffers() { return functionOffers_; }

  // (system tag, function-call document, out answer) -> result. Runs on the
  // thread the request arrives on.
  using ControlHandler =
      std::function<HRESULT(const std::wstring& systemTag, const std::wstring& call,
                            VARIANT_BOOL* answer)>;
  void onOpenControl(ControlHandler handler) { openHandler_ = std::move(handler); }
  void onDialog(ControlHandler handler) { dialogHandler_ = std::move(handler); }

  // IFrameActiveX
  STDMETHODIMP OpenActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                         VARIANT_BOOL* result) override;
  STDMETHODIMP CloseActiveXControlRequest(BSTR controlKey, VARIANT_BOOL* result) override;
  // IFrameDialogActiveX
  STDMETHODIMP OpenDialogActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                               VARIANT_BOOL* result) override;

 private:
  static HRESULT queryFunctionPart(void* object, REFIID iid, void** out);
  HRESULT answer(const ControlHandler& handler, BSTR systemTag, BSTR functionCall,
                 VARIANT_BOOL* result);

  FunctionOffers functionOffers_;
  ControlHandler openHandler_;
  ControlHandler dialogHandler_;
};

// A new function frame; *object stays valid while the returned reference is held.
com::ComPtr<IUnknown> createFunctionFrame(FunctionFrame** object);

}  // namespace frame_double
