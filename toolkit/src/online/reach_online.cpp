// The base DTM's way to the online state for the online requests.
#include "toolkit/dtm/base_dtm.h"

#include "toolkit/values/message_wait.h"

HRESULT BaseDtm::ReachOnline() {
  if (state_ == kDtmCommunicationSet) {
    win32::UniqueHandle online(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!online) return E_FAIL;
    if (FAILED(PostNumber(dtm_command::kGoOnline, HandleToULong(online.get())))) return E_FAIL;
    WaitOneWithMessageLoop(online.get(), onlineWait_);  // the worker sets its own duplicate
  }
  if (communicationEvent_) WaitOneWithMessageLoop(communicationEvent_.get(), releaseWait_);
  return state_ == kDtmOnline ? S_OK : S_FALSE;
}
