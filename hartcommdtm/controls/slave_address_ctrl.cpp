#include "controls/slave_address_ctrl.h"

#include <string>

#include "com/Guard.h"
#include "controls/address_change_texts.h"
#include "controls/control_description.h"
#include "controls/control_resources.h"
#include "dtm/hart_channel_lookup.h"
#include "dtm/dtm_ids.h"
#include "dtm/polling_address.h"

namespace {

const ParameterMapRow kParameterMap[] = {
    HeaderRow(hart_param::kDevice, IDC_DEVICE_HEADER),
    HeaderRow(hart_param::kDeviceType, IDC_DEVICE_HEADER),
    kEndOfMap};

const ItemName kItemNames[] = {
    {IDC_DEVICE_HEADER, "IDC_EVFDTPARAMIDENTCTRL"},
    {IDC_SLAVE_ADDRESS_FRAME, "IDC_STATIC_ChangeSlaveAddress"},
    {IDC_CURRENT_ADDRESS_LABEL, "IDC_STATIC_CurrentAddress"},
    {IDC_NEW_ADDRESS_LABEL, "IDC_STATIC_NewAddress"},
    {IDC_ADDRESS_STATUS_LABEL, "IDC_STATIC_Status"},
    {IDC_APPLY, "IDC_BtnApply"},
    {IDC_CANCEL, "IDC_BtnCancel"},
    {IDC_HELP_BUTTON, "IDC_Help"},
    {0, nullptr}};

const ControlDescription kDescription =
    HartControlDescription(&CLSID_SetSlaveAddrCtrl, IDD_SLAVE_ADDRESS, kParameterMap, kItemNames);

constexpr WPARAM kAddressDigits = 2;

}  // namespace

CSetSlaveAddrCtrl::CSetSlaveAddrCtrl() : DtmControl(kDescription) {}

const com::InterfaceEntry* CSetSlaveAddrCtrl::interfaceMap() { return DtmControlInterfaceMap<CSetSlaveAddrCtrl, ISetSlaveAddrCtrl>(); }

HRESULT CSetSlaveAddrCtrl::OnInit() {
  // Without a channel Init fails; a control the frame shows all the same
  // says so at once, since Change Address stays disabled while the DTM does
  // not communicate (and without a channel it never does).
  channel_ = FindHartChannel(Dtm());
  if (!channel_) {
    noChannel_ = true;
    ShowAddresses();
    return E_POINTER;
  }
  if (!ParameterHandler()) return E_NOINTERFACE;
  com::Variant address;
  ReadParameterValue(hart_param::kSelectedPollAddress, address.put());
  if (SUCCEEDED(address.changeType(VT_UI4))) {
    currentAddress_ = static_cast<BYTE>(V_UI4(address.get()) & 0xFF);
    addressRead_ = true;
  }
  ShowAddresses();
  UpdateControlStates();
  return S_OK;
}

void CSetSlaveAddrCtrl::ShowAddresses() {
  if (!Dialog()) return;
  if (noChannel_) ShowOutcome(address_change::kNoChannel);
  if (addressRead_)
    ::SetDlgItemInt(Dialog(), IDC_CURRENT_ADDRESS, static_cast<UINT>(static_cast<signed char>(currentAddress_)),
                    TRUE);
  ::SendDlgItemMessageW(Dialog(), IDC_NEW_ADDRESS, EM_LIMITTEXT, kAddressDigits, 0);
}

void CSetSlaveAddrCtrl::OnDialogCreated() {
  ShowAddresses();
  UpdateControlStates();
}

void CSetSlaveAddrCtrl::OnEditStateChanged() { UpdateControlStates(); }

STDMETHODIMP CSetSlaveAddrCtrl::OnStateChanged(unsigned long state) {
  HRESULT hr = DtmControl::OnStateChanged(state);
  com::guard([&]() -> HRESULT {
    UpdateControlStates();
    return S_OK;
  });
  return hr;
}

void CSetSlaveAddrCtrl::UpdateControlStates() {
  if (!Dialog()) return;
  auto base = DtmInterface<IevFdtBaseDTM>();
  if (!base) return;
  long state = 0;
  if (FAILED(base->GetDtmState(&state))) return;
  const bool usable = (state == kDtmStateCommunicationSet || state == kDtmStateOnline) && !busy_ && !EditLock();
  EnableItem(IDC_APPLY, usable);
  EnableItem(IDC_NEW_ADDRESS, usable);
  // Read-only, so enabling it again only keeps its text readable.
  EnableItem(IDC_CURRENT_ADDRESS, usable);
}

void CSetSlaveAddrCtrl::ShowOutcome(HRESULT result) {
  std::wstring text = address_change::Describe(
      result, [&](const address_change::Text& t) { return std::wstring(UserMessage(t.id, t.key).c_str()); });
  if (text.empty()) text = L" ";
  SetItemTextAnsi(IDC_STATUS_TEXT, text.c_str());
}

void CSetSlaveAddrCtrl::OnChangeAddress() {
  if (busy_) return;
  if (!channel_) {
    ShowOutcome(address_change::kNoChannel);
    return;
  }
  // Only 0 to 63 as digits: an empty, signed, non-numeric or overlong entry
  // moves nothing (read as a number it would be address 0, which also puts
  // the device back to an analogue loop current).
  uint8_t to = 0;
  if (!hart_address::Parse(ItemText(IDC_NEW_ADDRESS), &to)) {
    SetItemTextAnsi(IDC_STATUS_TEXT, UserMessage(IDS_ErrorDevAddrOutOfRange, L"IDS_ErrorDevAddrOutOfRange").c_str());
    if (HWND field = Item(IDC_NEW_ADDRESS)) ::SetFocus(field);
    return;
  }
  busy_ = true;
  UpdateControlStates();
  SetItemTextAnsi(IDC_STATUS_TEXT, L" ");
  // The channel serves the window's messages while the device is moved:
  // the frame may close and release the control meanwhile.
  com::ComPtr<IUnknown> hold(Self());
  com::ComPtr<IHART_Channel> channel = channel_;
  // From the address parameter 1006 gave (its read-only field shows it).
  const HRESULT result = channel->ChangeAddress(currentAddress_, to);
  busy_ = false;
  if (!Dialog()) return;  // closed meanwhile
  ShowOutcome(result);
  if (result == S_OK) {
    currentAddress_ = to;
    addressRead_ = true;
    ShowAddresses();
  }
  UpdateControlStates();
}

bool CSetSlaveAddrCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  *result = 0;
  switch (LOWORD(wParam)) {
    case IDC_CANCEL:
      PostCloseRequest();
      return true;
    case IDC_APPLY:
      OnChangeAddress();
      return true;
    default:
      return false;
  }
}
