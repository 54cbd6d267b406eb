#include "controls/new_device_dtm_address_ctrl.h"

#include <cwchar>
#include <string>

#include "com/Guard.h"
#include "com/Variant.h"
#include "controls/control_description.h"
#include "controls/control_resources.h"
#include "dtm/hart_channel_lookup.h"
#include "dtm/dtm_ids.h"
#include "dtm/polling_address.h"
#include "toolkit/values/fdt_variant.h"

namespace {

const ParameterMapRow kParameterMap[] = {
    // Shown and read by the control itself (no item).
    {hart_param::kNewDeviceSystemTag, "SystemTag of new deviceDTM", 0, "%s", kRowFlagsDefault,
     kDisplayDefaultColours, 0},
    HeaderRow(hart_param::kDevice, IDC_DEVICE_HEADER),
    HeaderRow(hart_param::kDeviceType, IDC_DEVICE_HEADER),
    kEndOfMap};

const ItemName kItemNames[] = {
    {IDC_DEVICE_HEADER, "IDC_EVFDTPARAMIDENTCTRL"},
    {IDC_STATUS_TEXT, "IDC_StaticInfoText"},
    {IDC_DTM_INFORMATION_FRAME, "IDC_STATIC_DeviceDtmInformation"},
    {IDC_DTM_ID_LABEL, "IDC_STATIC_DeviceDtm"},
    {IDC_DTM_TAG_LABEL, "IDC_STATIC_DeviceDtmTag"},
    {IDC_ADDRESS_LABEL, "IDC_STATIC_SlaveAddress"},
    {IDC_APPLY, "IDC_BtnApply"},
    {IDC_CANCEL, "IDC_BtnCancel"},
    {IDC_HELP_BUTTON, "IDC_Help"},
    {0, nullptr}};

const ControlDescription kDescription =
    HartControlDescription(&CLSID_SetDevDtmAddrCtrl, IDD_NEW_DEVICE_DTM_ADDRESS, kParameterMap, kItemNames);

}  // namespace

CSetDevDtmAddrCtrl::CSetDevDtmAddrCtrl() : DtmControl(kDescription) {}

const com::InterfaceEntry* CSetDevDtmAddrCtrl::interfaceMap() { return DtmControlInterfaceMap<CSetDevDtmAddrCtrl, ISetDevDtmAddrCtrl>(); }

// A frame may take the control down without PrepareToRelease (closing its
// window, say); the DTM may be waiting for it all the same.
void CSetDevDtmAddrCtrl::OnUnbinding() {
  if (!notified_) NotifyDtm();
}

bool CSetDevDtmAddrCtrl::NotifyDtm() {
  if (waitedOut_) return true;
  com::ComPtr<IHART_CommDTM> dtm = DtmInterface<IHART_CommDTM>();
  if (!dtm) return false;
  notified_ = true;
  dtm->ClosingSetDtmAddrActXNotification();
  return true;
}

STDMETHODIMP CSetDevDtmAddrCtrl::PrepareToRelease(VARIANT_BOOL* result) {
  HRESULT hr = DtmControl::PrepareToRelease(result);
  if (FAILED(hr)) return hr;
  // Also after the base's question kept the control open: the DTM stops
  // waiting, the control stays usable.
  return com::guard([&]() -> HRESULT {
    if (NotifyDtm()) return S_OK;
    *result = VARIANT_FALSE;
    return S_FALSE;
  });
}

STDMETHODIMP CSetDevDtmAddrCtrl::SetProperty(VARIANT key, VARIANT value) {
  ULONG id = 0;
  if (FAILED(PropertyId(key, &id))) return E_FAIL;
  DtmControl::SetProperty(key, value);
  if (id == property_id::kEditPermission) EnableItems();
  return S_OK;
}

STDMETHODIMP CSetDevDtmAddrCtrl::OnDtmMessage(VARIANT id, VARIANT value, BSTR text) {
  ULONG code = 0;
  if (FAILED(CFdtVariant::GetUI4(id, &code)) || code != hart_control_message::kNewDeviceWaitEnded)
    return DtmControl::OnDtmMessage(id, value, text);
  return com::guard([&]() -> HRESULT {
    if (!tagTaken_ || V_VT(&value) != VT_BSTR ||
        std::wcscmp(systemTag_.c_str(), V_BSTR(&value) ? V_BSTR(&value) : L"") != 0)
      return S_OK;
    waitedOut_ = true;
    PostCloseRequest();
    return S_OK;
  });
}

HRESULT CSetDevDtmAddrCtrl::DisplayValue(int row, const VARIANT& value) {
  if (row < 0 || row >= RowCount() || Rows()[row].id != static_cast<LONG>(hart_param::kNewDeviceSystemTag))
    return DtmControl::DisplayValue(row, value);
  // The value the base read is not used: the parameter is read here, once.
  // Later values name device DTMs added after this one, which have controls
  // of their own.
  com::Variant tag;
  if (!tagTaken_ && SUCCEEDED(ReadParameterValue(hart_param::kNewDeviceSystemTag, tag.put())) &&
      tag.type() == VT_BSTR) {
    systemTag_.assign(V_BSTR(tag.get()));
    tagTaken_ = true;
  }
  FillDialog();
  return S_OK;
}

HRESULT CSetDevDtmAddrCtrl::ReadItemValue(int row, VARIANT* value) {
  if (!value) return E_INVALIDARG;
  if (row >= 0 && row < RowCount() && Rows()[row].id == static_cast<LONG>(hart_param::kNewDeviceSystemTag))
    return S_OK;
  return DtmControl::ReadItemValue(row, value);
}

void CSetDevDtmAddrCtrl::OnDialogCreated() { EnableItems(); }

void CSetDevDtmAddrCtrl::OnEditStateChanged() { EnableItems(); }

void CSetDevDtmAddrCtrl::FillDialog() {
  if (!Dialog()) return;
  SetItemTextAnsi(IDC_DTM_ID, systemTag_.c_str());
  com::ComPtr<IHART_Channel> channel = FindHartChannel(ParameterHandler());
  if (!channel) return;
  com::Bstr tag;
  BYTE address = 0xFF;
  if (SUCCEEDED(channel->GetChildDtmInfoBySysTag(systemTag_.get(), tag.put(), &address))) {
    SetItemTextAnsi(IDC_DTM_TAG, tag.c_str());
    ::SetDlgItemInt(Dialog(), IDC_ADDRESS, address, TRUE);
  }
  EnableItems();
}

void CSetDevDtmAddrCtrl::EnableItems() {
  const bool editable = EditEnabled() && !busy_;
  for (UINT item : {IDC_DTM_TAG, IDC_ADDRESS, IDC_APPLY}) EnableItem(item, editable);
  EnableItem(IDC_CANCEL, !busy_);
}

void CSetDevDtmAddrCtrl::OnTranslated() { instructions_.reset(); }

void CSetDevDtmAddrCtrl::ShowStatus(const wchar_t* error) {
  HWND status = Item(IDC_STATUS_TEXT);
  if (!status) return;
  if (!error) {
    if (!instructions_.empty()) ::SetWindowTextW(status, instructions_.c_str());
    instructions_.reset();
    return;
  }
  if (instructions_.empty()) instructions_.assign(ItemText(IDC_STATUS_TEXT).c_str());
  SetItemTextAnsi(IDC_STATUS_TEXT, error);
}

HRESULT CSetDevDtmAddrCtrl::OnApply() {
  if (busy_) return S_OK;
  com::ComPtr<IHART_Channel> channel = FindHartChannel(ParameterHandler());
  if (!channel) return E_POINTER;
  ShowStatus(nullptr);
  // Only 0 to 63 as digits: an empty, signed, non-numeric or overlong entry
  // is no address (read as a number it would be address 0).
  uint8_t address = 0;
  if (!hart_address::Parse(ItemText(IDC_ADDRESS), &address)) {
    // Nothing is written, and the user is told why the dialog stays open
    // (a silent refusal looks like a dead button).
    ShowStatus(UserMessage(IDS_ErrorDtmAddrOutOfRange, L"IDS_ErrorDtmAddrOutOfRange").c_str());
    if (HWND field = Item(IDC_ADDRESS)) ::SetFocus(field);
    return S_OK;
  }
  com::Bstr tag(ItemText(IDC_DTM_TAG).c_str());
  // The child DTM may serve the thread's messages while it takes its
  // document: the control stays alive and takes no input meanwhile (no
  // second write), and its window may be gone when the call returns.
  com::ComPtr<IUnknown> hold(Self());
  const com::Bstr systemTag(systemTag_.c_str());
  busy_ = true;
  EnableItems();
  const HRESULT written = channel->SetDeviceDtmInfo(systemTag.get(), address, tag.get());
  busy_ = false;
  if (!Dialog()) return S_OK;
  EnableItems();
  // A refused document is reported to the user by the channel; the dialog
  // stays open for another try or Cancel.
  if (FAILED(written)) return S_OK;
  ToggleChangeCounter();
  PostCloseRequest();
  return S_OK;
}

// The device list refreshes when parameter 1010 changes.
void CSetDevDtmAddrCtrl::ToggleChangeCounter() {
  if (!ParameterHandler()) return;
  com::Variant value, flag;
  ReadParameterValue(hart_param::kChangeCounter, value.put());
  if (value.type() == (VT_ARRAY | VT_UI1)) return;
  if (FAILED(::VariantChangeType(flag.get(), value.get(), 0, VT_BOOL))) return;
  WriteParameterValue(hart_param::kChangeCounter, com::Variant(V_BOOL(flag.get()) == VARIANT_FALSE).value());
}

bool CSetDevDtmAddrCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  switch (LOWORD(wParam)) {
    case IDC_APPLY:
      *result = 0;
      OnApply();
      return true;
    case IDC_CANCEL:
      *result = 0;
      PostCloseRequest();
      return true;
    default:
      return false;
  }
}
