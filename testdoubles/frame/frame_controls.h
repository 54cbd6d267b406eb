// The notice frame double with the frame's function-call interfaces, through
// which a DTM opens the control of one of its functions:
//   IFrameActiveX        (OpenActiveXControlRequest: open and return at once;
//                         CloseActiveXControlRequest)
//   IFrameDialogActiveX  (OpenDialogActiveXControlRequest: show the control
//                         and return when it has closed)
// Each call is recorded (interface "IFrameActiveX" or "IFrameDialogActiveX",
// arguments: system tag and function-call document, or the control key).
// A test plays the control with a handler, which runs inside the frame's
// call (writing the DTM's parameters as the control would, say, or closing
// the control it hosts) and gives the frame's answer; without one a request
// answers the scripted answer (default: S_OK and true).
#pragma once

#include <functional>
#include <string>

#include "frame_notices.h"

namespace frame_double {

class ControlFrame : public NoticeFrame,
                     public com::DispatchImpl<IFrameActiveX>,
                     public com::DispatchImpl<IFrameDialogActiveX> {
 public:
  static const com::InterfaceEntry* interfaceMap();

  // Which of the two interfaces the frame offers.
  struct ControlOffers {
    bool openControl = true;  // IFrameActiveX
    bool dialog = true;       // IFrameDialogActiveX
  };
  ControlOffers& controlOffers() { return controlOffers_; }

  // The scripted answers where no handler plays the control.
  void setOpenAnswer(VARIANT_BOOL answer, HRESULT result = S_OK);
  void setCloseAnswer(VARIANT_BOOL answer, HRESULT result = S_OK);

  // (system tag, function-call document, out answer) -> result. Runs on the
  // thread the request arrives on.
  using ControlHandler =
      std::function<HRESULT(const std::wstring& systemTag, const std::wstring& call,
                            VARIANT_BOOL* answer)>;
  void onOpenControl(ControlHandler handler) { openHandler_ = std::move(handler); }
  void onDialog(ControlHandler handler) { dialogHandler_ = std::move(handler); }
  // (control key, out answer) -> result: the frame closing a control it
  // hosts (asking PrepareToRelease, destroying its window).
  using CloseHandler = std::function<HRESULT(const std::wstring& key, VARIANT_BOOL* answer)>;
  void onCloseControl(CloseHandler handler) { closeHandler_ = std::move(handler); }

  // IFrameActiveX
  STDMETHODIMP OpenActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                         VARIANT_BOOL* result) override;
  STDMETHODIMP CloseActiveXControlRequest(BSTR controlKey, VARIANT_BOOL* result) override;
  // IFrameDialogActiveX
  STDMETHODIMP OpenDialogActiveXControlRequest(BSTR systemTag, BSTR functionCall,
                                               VARIANT_BOOL* result) override;

 private:
  struct Answer {
    VARIANT_BOOL answer = VARIANT_TRUE;
    HRESULT result = S_OK;
  };
  static HRESULT queryControlPart(void* object, REFIID iid, void** out);
  static HRESULT respond(const ControlHandler& handler, const Answer& scripted, BSTR systemTag,
                         BSTR functionCall, VARIANT_BOOL* result);

  ControlOffers controlOffers_;
  Answer openAnswer_;
  Answer closeAnswer_;
  ControlHandler openHandler_;
  ControlHandler dialogHandler_;
  CloseHandler closeHandler_;
};

// A new control frame; *object stays valid while the returned reference is held.
com::ComPtr<IUnknown> createControlFrame(ControlFrame** object);

}  // namespace frame_double
