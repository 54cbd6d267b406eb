// Whether release preparation may end the channels' connections: the user
// decides, then each connected channel aborts its connections while the
// container waits.
#include <vector>

#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/containers/channel_container.h"
#include "toolkit/values/message_wait.h"
#include "toolkit/xml/user_messages.h"
#include "win32/unique_handle.h"

namespace {

constexpr ULONG kConnectionsQuestion = 3001;
constexpr ULONG kConnectionsCaption = 3002;
constexpr ULONG kYesNoWarning = 0x34;  // yes/no buttons, exclamation icon

ULONG ConnectionCount(IevFdtBaseChannel* channel) {
  com::Variant count;
  if (FAILED(channel->GetConnectionCount(count.put())) || FAILED(count.changeType(VT_UI4)))
    return 0;
  return V_UI4(count.get());
}

}  // namespace

STDMETHODIMP ChannelContainerCore::ConfirmChannelRelease(VARIANT_BOOL* agreed) {
  if (!agreed) return E_POINTER;
  *agreed = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    std::vector<com::ComPtr<IUnknown>> channels;
    ChannelObjects(&channels);
    std::vector<com::ComPtr<IevFdtBaseChannel>> connected;
    for (const auto& channel : channels) {
      com::ComPtr<IevFdtBaseChannel> base;
      if (channel && SUCCEEDED(channel->QueryInterface(__uuidof(IevFdtBaseChannel),
                                                       base.putVoid())) &&
          base && ConnectionCount(base.get()) != 0)
        connected.push_back(base);
    }
    if (connected.empty()) {
      *agreed = VARIANT_TRUE;
      return S_OK;
    }

    BaseDtm& dtm = ContainerDtm();
    com::Bstr question, caption;
    GetToolkitMessage(dtm.GetCommDtmInterface(), kConnectionsQuestion, ToolkitMessageUser::Dtm,
                      question.put());
    GetToolkitMessage(dtm.GetCommDtmInterface(), kConnectionsCaption, ToolkitMessageUser::Dtm,
                      caption.put());
    UserMessageRoute route;
    route.frameApplication = dtm.FrameObject();
    route.systemTag = [&dtm](BSTR* tag) { return dtm.GetSystemTag(tag); };
    route.xml = &dtm.Xml();
    long answer = 0;
    ShowUserMessage(route, question.c_str(), caption.c_str(), *com::ui4(kYesNoWarning).get(),
                    &answer);
    if (answer == IDNO) return S_OK;

    for (const auto& channel : connected) {
      win32::UniqueHandle gone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
      if (!gone.get()) continue;
      // A channel that signals after the wait uses its own duplicate, so
      // closing this event when the wait ends is safe.
      if (SUCCEEDED(channel->ChannelRequest(*com::ui4(channel_key::kAbortConnections).get(),
                                            *com::ui4(HandleToULong(gone.get())).get())))
        WaitOneWithMessageLoop(gone.get(), releaseWait_);
    }
    *agreed = VARIANT_TRUE;
    return S_OK;
  });
}
