#include "controls/get_address_for_dtm_ctrl.h"

#include "com/Guard.h"
#include "com/Variant.h"
#include "controls/control_description.h"
#include "controls/control_resources.h"
#include "dtm/dtm_ids.h"
#include "dtm/polling_address.h"

namespace {

const ParameterMapRow kParameterMap[] = {
    {hart_param::kNewAddress, "New Address for DTM", IDC_ADDRESS, "%d", kRowFlagsDefault,
     kDisplayDefaultColours, 0},
    HeaderRow(hart_param::kDevice, IDC_DEVICE_HEADER),
    HeaderRow(hart_param::kDeviceType, IDC_DEVICE_HEADER),
    kEndOfMap};

const ItemName kItemNames[] = {
    {IDC_DEVICE_HEADER, "IDC_EVFDTPARAMIDENTCTRL"},
    {IDC_DTM_INFORMATION_FRAME, "IDC_STATIC_DeviceDtmInformation"},
    {IDC_DTM_TAG_LABEL, "IDC_STATIC_DeviceDtmTag"},
    {IDC_ADDRESS_LABEL, "IDC_STATIC_SlaveAddress"},
    {IDC_APPLY, "IDC_BtnApply"},
    {IDC_CANCEL, "IDC_BtnCancel"},
    {IDC_HELP_BUTTON, "IDC_Help"},
    {0, nullptr}};

const ControlDescription kDescription =
    HartControlDescription(&CLSID_GetNewAddressForDtmCtrl, IDD_GET_ADDRESS_FOR_DTM, kParameterMap, kItemNames);

}  // namespace

CGetNewAddressForDtmCtrl::CGetNewAddressForDtmCtrl() : DtmControl(kDescription) {}

const com::InterfaceEntry* CGetNewAddressForDtmCtrl::interfaceMap() { return DtmControlInterfaceMap<CGetNewAddressForDtmCtrl, ISetDevDtmAddrCtrl>(); }

void CGetNewAddressForDtmCtrl::OnUnbinding() {
  if (!ok_) WriteNumber(hart_param::kAddressCancelled, 1);
}

HRESULT CGetNewAddressForDtmCtrl::WriteNumber(ULONG id, LONG value) {
  return WriteParameterValue(static_cast<LONG>(id), com::Variant(value).value());
}

STDMETHODIMP CGetNewAddressForDtmCtrl::AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  HRESULT hr = DtmControl::AttachDtm(dtm, result);
  if (FAILED(hr)) return hr;
  if (!*result) return S_FALSE;
  return com::guard([&]() -> HRESULT {
    com::Variant tag;
    HRESULT read = ReadParameterValue(hart_param::kNewAddressTag, tag.put());
    if (FAILED(read)) return read;
    if (tag.type() == VT_BSTR) {
      tag_.assign(V_BSTR(tag.get()));
      SetItemTextAnsi(IDC_DTM_TAG, tag_.c_str());
    }
    return S_OK;
  });
}

void CGetNewAddressForDtmCtrl::OnDialogCreated() {
  if (!tag_.empty()) SetItemTextAnsi(IDC_DTM_TAG, tag_.c_str());
}

STDMETHODIMP CGetNewAddressForDtmCtrl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  com::guard([&]() -> HRESULT {
    if (!ok_) WriteNumber(hart_param::kAddressCancelled, 1);
    return S_OK;
  });
  return DtmControl::PrepareToRelease(result);
}

void CGetNewAddressForDtmCtrl::OnOk() {
  // Only 0 to 63 as digits: an empty, signed, non-numeric or overlong entry
  // is no address (read as a number it would be address 0). It is refused:
  // the field is marked invalid and the dialog stays open. The OK flag stays
  // clear, so that closing the dialog afterwards still counts as cancelled
  // rather than confirming the address the DTM proposed, which the user
  // never accepted.
  uint8_t address = 0;
  if (!hart_address::Parse(ItemText(IDC_ADDRESS), &address)) {
    const int row = FindRowById(hart_param::kNewAddress);
    if (row >= 0) SetParameterStatus(hart_param::kNewAddress, Rows()[row].flags | kRowInvalid);
    if (HWND field = Item(IDC_ADDRESS)) ::SetFocus(field);
    return;
  }
  ok_ = 1;
  WriteNumber(hart_param::kNewAddress, address);
  WriteNumber(hart_param::kAddressCancelled, 0);
  PostCloseRequest();
}

void CGetNewAddressForDtmCtrl::OnCancel() {
  WriteNumber(hart_param::kAddressCancelled, 1);
  PostCloseRequest();
}

bool CGetNewAddressForDtmCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  switch (LOWORD(wParam)) {
    case IDC_APPLY:
      *result = 0;
      OnOk();
      return true;
    case IDC_CANCEL:
      *result = 0;
      OnCancel();
      return true;
    default:
      return false;
  }
}
