#include "controls/channel_config_ctrl.h"

#include "com/Guard.h"
#include "controls/control_description.h"
#include "controls/control_resources.h"
#include "dtm/dtm_ids.h"

namespace {

const ParameterMapRow kParameterMap[] = {
    {hart_param::kPrimaryMaster, "Primary Master", IDC_PRIMARY_MASTER, "%u", kRowFlagsDefault,
     kDisplayDefaultColours, 0},
    {hart_param::kPreambleCount, "Preamble Count", IDC_PREAMBLES, "%u", kRowFlagsPlain, 0, 0},
    {hart_param::kRetryCount, "Retry Count", IDC_RETRIES, "%u", kRowFlagsPlain, 0, 0},
    {hart_param::kMaxScanAddress, "Max. Scan Address", IDC_MAX_SCAN_ADDRESS, "%u", kRowFlagsPlain, 0, 0},
    HeaderRow(hart_param::kDevice, IDC_DEVICE_HEADER),
    HeaderRow(hart_param::kDeviceType, IDC_DEVICE_HEADER),
    kEndOfMap};

const ItemName kItemNames[] = {
    {IDC_DEVICE_HEADER, "IDC_EVFDTPARAMIDENTCTRL"}, {IDC_STATUS_TEXT, "IDC_StaticInfoText"},
    {IDC_PROPERTIES_FRAME, "IDC_Frame_Properties"},  {IDC_PRIMARY_MASTER, "IDC_CheckPrimaryMaster"},
    {IDC_PREAMBLES_LABEL, "IDC_Static_Preambles"},   {IDC_RETRIES_LABEL, "IDC_Static_MaxRetries"},
    {IDC_MAX_SCAN_LABEL, "IDC_Static_MaxScanAddr"},  {IDOK, "IDOK"},
    {IDC_APPLY, "IDC_BtnApply"},                     {IDC_CANCEL, "IDC_BtnCancel"},
    {IDC_HELP_BUTTON, "IDC_Help"},                   {0, nullptr}};

const ControlDescription kDescription =
    HartControlDescription(&CLSID_ChannelConfigCtrl, IDD_CHANNEL_CONFIG, kParameterMap, kItemNames);

// The edited rows and their state icons (invalid, changed).
struct RowIcons {
  LONG id;
  UINT invalid;
  UINT changed;
};
const RowIcons kRowIcons[] = {
    {hart_param::kPreambleCount, IDC_PREAMBLES_INVALID, IDC_PREAMBLES_CHANGED},
    {hart_param::kRetryCount, IDC_RETRIES_INVALID, IDC_RETRIES_CHANGED},
    {hart_param::kMaxScanAddress, IDC_MAX_SCAN_INVALID, IDC_MAX_SCAN_CHANGED},
};

}  // namespace

CChannelConfigCtrl::CChannelConfigCtrl() : DtmControl(kDescription) {}

const com::InterfaceEntry* CChannelConfigCtrl::interfaceMap() { return DtmControlInterfaceMap<CChannelConfigCtrl, IChannelConfigCtrl>(); }

HRESULT CChannelConfigCtrl::OnInit() {
  UpdateControlStates(DtmState());
  SetFunctionEnabled(hart_function::kChannelConfiguration, 0);
  return S_OK;
}

void CChannelConfigCtrl::OnUnbinding() { OfferFunctionAgain(hart_function::kChannelConfiguration); }

STDMETHODIMP CChannelConfigCtrl::OnStateChanged(unsigned long state) {
  HRESULT hr = DtmControl::OnStateChanged(state);
  UpdateControlStates(state);
  return hr;
}

void CChannelConfigCtrl::OnDialogCreated() { UpdateControlStates(DtmState()); }

void CChannelConfigCtrl::OnEditStateChanged() { UpdateControlStates(DtmState()); }

void CChannelConfigCtrl::OnTranslated() { UpdateControlStates(DtmState()); }

bool CChannelConfigCtrl::SettingsLocked(ULONG state) const {
  switch (state) {
    case 2:
    case 3:
    case 9:
    case 10:
    case 11:
    case 12:
      return true;
    default:
      return EditLock();
  }
}

void CChannelConfigCtrl::UpdateControlStates(ULONG state) {
  if (!Dialog()) return;
  const UINT settings[] = {IDC_PREAMBLES, IDC_RETRIES, IDC_APPLY, IDC_MAX_SCAN_ADDRESS};
  if (SettingsLocked(state)) {
    ShowItem(IDC_STATUS_ICON, true);
    com::Bstr text = UserMessage(IDS_NoChangeChannSettingsInOnlineMode, L"IDS_NoChangeChannSettingsInOnlineMode");
    SetItemTextAnsi(IDC_STATUS_TEXT, text.c_str());
    ShowItem(IDC_STATUS_TEXT, true);
    EnableItem(IDC_PRIMARY_MASTER, false);
    for (UINT item : settings) EnableItem(item, false);
    return;
  }
  ShowItem(IDC_STATUS_ICON, false);
  ShowItem(IDC_STATUS_TEXT, false);
  for (UINT item : settings) EnableItem(item, true);
  EnableItem(IDC_PRIMARY_MASTER, EditEnabled());
}

HRESULT CChannelConfigCtrl::SetParameterStatus(LONG id, ULONG flags) {
  HRESULT hr = DtmControl::SetParameterStatus(id, flags);
  if (id == hart_param::kPrimaryMaster) {
    ShowItem(IDC_PRIMARY_MASTER_CHANGED, (flags & kRowChanged) != 0);
  } else {
    for (const RowIcons& icons : kRowIcons) {
      if (icons.id != id) continue;
      ShowItem(icons.invalid, false);
      ShowItem(icons.changed, false);
      if (flags & kRowInvalid) ShowItem(icons.invalid, true);
      else ShowItem(icons.changed, (flags & kRowChanged) != 0);
    }
  }
  // A row's new state must not enable an item that the DTM's state locks.
  if (Dialog() && SettingsLocked(DtmState())) UpdateControlStates(DtmState());
  return hr;
}

bool CChannelConfigCtrl::HasApplicableChanges() {
  if (SettingsLocked(DtmState())) return false;
  const std::vector<CActXParInfo>& rows = Rows();
  // The second to fourth rows are the entries; the first four the settings.
  for (size_t i = 1; i < 4 && i < rows.size(); ++i)
    if (rows[i].flags & kRowInvalid) return false;
  for (size_t i = 0; i < 4 && i < rows.size(); ++i)
    if (rows[i].flags & kRowChanged) return true;
  return false;
}

HRESULT CChannelConfigCtrl::ApplyChanges() {
  if (FAILED(ValidateAll())) return E_FAIL;
  HRESULT result = S_OK;
  // The four settings; the header rows are never written.
  for (size_t i = 0; i < 4 && i < Rows().size(); ++i) {
    const CActXParInfo row = Rows()[i];
    if (!(row.flags & kRowChanged)) continue;
    const bool dtmData = WritesIntoDataSet(static_cast<int>(i));
    HRESULT hr = dtmData ? WriteParameter(row.id) : WriteDeviceValue(row.id);
    if (dtmData) SetChangesPendingInDtm(true);
    else SetChangesPendingInDevice(true);
    if (hr != S_OK && result == S_OK) result = FAILED(hr) ? hr : E_FAIL;
  }
  return result;
}

HRESULT CChannelConfigCtrl::Apply() {
  RaiseApplyBracket(true);
  HRESULT hr = ApplyChanges();
  RaiseApplyBracket(false);
  return hr;
}

bool CChannelConfigCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  *result = 0;
  return OnApplyButton(LOWORD(wParam), [&] { return Apply(); });
}

STDMETHODIMP CChannelConfigCtrl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (HasApplicableChanges() && !AskToApplyChanges([&] { return ApplyChanges(); })) return S_FALSE;
    HRESULT hr = DtmControl::PrepareToRelease(result);
    if (FAILED(hr)) return hr;
    if (!*result) return S_FALSE;
    OfferFunctionAgain(hart_function::kChannelConfiguration);
    return S_OK;
  });
}
