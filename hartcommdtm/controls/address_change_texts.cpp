#include "controls/address_change_texts.h"

#include "controls/control_resources.h"

namespace address_change {

namespace {

struct Row {
  HRESULT result;
  Text text;
};
const Row kOutcomes[] = {
    {S_OK, {IDS_ChangeAddressSuccessful, L"IDS_ChangeAddressSuccessful"}},
    {kTargetExists, {IDS_Err_ChAdd_TargetExists, L"IDS_Err_ChAdd_TargetExists"}},
    {kNoSource, {IDS_Err_ChAdd_NoSource, L"IDS_Err_ChAdd_NoSource"}},
    {kNotAtNewAddress, {IDS_Err_ChAdd_NoDevAtNewAdd, L"IDS_Err_ChAdd_NoDevAtNewAdd"}},
    {kDeviceInUse, {IDS_Err_ChAdd_DevHasConnection, L"IDS_Err_ChAdd_DevHasConnection"}},
    {kNoChannel, {IDS_Err_NoChannel, L"IDS_Err_NoChannel"}},
};
const Text kFailedText = {IDS_Err_ChAdd_FAILED, L"IDS_Err_ChAdd_FAILED"};

}  // namespace

Text Outcome(HRESULT result) {
  for (const Row& row : kOutcomes)
    if (row.result == result) return row.text;
  return kFailedText;
}

bool DeviceMayHaveMoved(HRESULT result) { return result == kNotAtNewAddress || result == kFailed; }

Text ScanAgain() { return {IDS_ChangeAddressScanAgain, L"IDS_ChangeAddressScanAgain"}; }

std::wstring Describe(HRESULT result, const std::function<std::wstring(const Text&)>& lookup) {
  std::wstring text = lookup(Outcome(result));
  if (!DeviceMayHaveMoved(result)) return text;
  // The device may already answer at the new address while the channel
  // still lists it at the old one: a new scan shows where it is.
  const std::wstring advice = lookup(ScanAgain());
  if (!advice.empty()) text += (text.empty() ? L"" : L"\r\n") + advice;
  return text;
}

}  // namespace address_change
