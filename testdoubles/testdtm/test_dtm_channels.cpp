// The test DTM's channel table, and the settings tests change.
#include "test_dtm.h"
#include "test_dtm_ids.h"

namespace {

const ChannelTableRow kChannels[] = {
    {"Channel <1>", &CLSID_TestChannel, {0, 0}, "<fdt:ChannelInformation/>"},
};

}  // namespace

const ChannelTableRow* CTestDtm::GetChannelTable(size_t* count) {
  if (count) *count = 1;
  return kChannels;
}

STDMETHODIMP CTestDtm::SetChannelReleaseWait(DWORD milliseconds) {
  CevFDT_ChannelContainerImpl<CTestDtm>::SetChannelReleaseWait(milliseconds);
  return S_OK;
}

STDMETHODIMP CTestDtm::HoldModifiedNotices(BOOL hold) {
  if (hold)
    HoldNotifications();
  else
    ReleaseNotifications();
  return S_OK;
}
