#include "controls/dev_and_dtm_address_ctrl.h"

#include <string>

#include "com/Guard.h"
#include "com/Variant.h"
#include "controls/address_change_texts.h"
#include "controls/control_description.h"
#include "controls/control_resources.h"
#include "dtm/hart_channel_lookup.h"
#include "dtm/dtm_ids.h"

namespace {

constexpr ULONG kAddressCount = 64;  // polling addresses 0 to 63
constexpr BYTE kNoAddress = 0xFF;
constexpr UINT_PTR kChildRemovedTimer = 1039;
constexpr ULONG kChildRemovedProperty = 1039;
// Parameter 1007 while no new device DTM was named.
const wchar_t kNoChildSystemTag[] = L"Show hidden ActiveX only when asked to do so!";

const ParameterMapRow kParameterMap[] = {
    HeaderRow(hart_param::kDevice, IDC_DEVICE_HEADER),
    HeaderRow(hart_param::kDeviceType, IDC_DEVICE_HEADER),
    kEndOfMap};

const ItemName kItemNames[] = {
    {IDC_DEVICE_HEADER, "IDC_EVFDTPARAMIDENTCTRL"},
    {IDC_SLAVE_ADDRESS_LABEL, "IDC_STATIC_DevAddress"},
    {IDC_CHILD_ADDRESS_LABEL, "IDC_STATIC_DtmAddress"},
    {IDC_DTM_TAG_LABEL, "IDC_STATIC_DeviceDtmTag"},
    {IDC_DTM_INFORMATION_FRAME, "IDC_STATIC_DeviceDtmInformation"},
    {IDC_STATUS_TEXT, "IDC_StaticInfoText"},
    {IDC_SYNC_ADDRESSES, "IDC_SyncAddresses"},
    {IDOK, "IDOK"},
    {IDC_APPLY, "IDC_BtnApply"},
    {IDC_CANCEL, "IDC_BtnCancel"},
    {IDC_HELP_BUTTON, "IDC_Help"},
    {0, nullptr}};

const ControlDescription kDescription =
    HartControlDescription(&CLSID_SetDevAndDtmAddrCtrl, IDD_DEVICE_AND_DTM_ADDRESS, kParameterMap, kItemNames);

// Locale-aware comparison in the user's default locale, no flags.
bool SameText(const wchar_t* a, const wchar_t* b) {
  com::Bstr x(a ? a : L""), y(b ? b : L"");
  return ::VarBstrCmp(x.get(), y.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

}  // namespace

CSetDevAndDtmAddrCtrl::CSetDevAndDtmAddrCtrl() : DtmControl(kDescription) { SetMode(kModeOnline); }

const com::InterfaceEntry* CSetDevAndDtmAddrCtrl::interfaceMap() { return DtmControlInterfaceMap<CSetDevAndDtmAddrCtrl, ISetDevDtmAddrCtrl>(); }

// ---- Binding -------------------------------------------------------------------

STDMETHODIMP CSetDevAndDtmAddrCtrl::AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) {
  HRESULT hr = DtmControl::AttachDtm(dtm, result);
  if (FAILED(hr)) return hr;
  hr = com::guard([&]() -> HRESULT {
    if (!ParameterHandler()) return E_POINTER;
    com::Variant tag;
    hr = ReadParameterValue(hart_param::kNewDeviceSystemTag, tag.put());
    if (FAILED(hr)) return hr;
    if (tag.type() == VT_BSTR) childSystemTag_.assign(V_BSTR(tag.get()));
    com::Variant address;
    hr = ReadParameterValue(hart_param::kSelectedPollAddress, address.put());
    if (FAILED(hr)) return hr;
    if (address.type() == VT_UI1) slaveAddress_ = V_UI1(address.get());
    channel_ = FindHartChannel(dtm);
    if (!channel_) return E_POINTER;
    if (SameText(childSystemTag_.c_str(), kNoChildSystemTag)) {
      slaveAddress_ = 0;
      childAddress_ = 0;
    }
    InitPage();
    UpdatePage();
    return S_OK;
  });
  if (FAILED(hr)) *result = VARIANT_FALSE;
  return hr;
}

void CSetDevAndDtmAddrCtrl::OnDialogCreated() {
  if (!channel_) return;
  InitPage();
  UpdatePage();
}

STDMETHODIMP CSetDevAndDtmAddrCtrl::OnStateChanged(unsigned long state) {
  HRESULT hr = DtmControl::OnStateChanged(state);
  if (FAILED(hr)) return hr;
  return com::guard([&]() -> HRESULT {
    UpdatePage();
    return S_OK;
  });
}

STDMETHODIMP CSetDevAndDtmAddrCtrl::SetProperty(VARIANT key, VARIANT value) {
  ULONG id = 0;
  if (FAILED(PropertyId(key, &id))) return E_FAIL;
  switch (id) {
    case kChildRemovedProperty:
      // Refreshes the page once a second later (WM_TIMER below).
      if (Dialog()) ::SetTimer(Dialog(), kChildRemovedTimer, 1000, nullptr);
      return S_OK;
    case property_id::kEditPermission:
      DtmControl::SetProperty(key, value);
      return com::guard([&]() -> HRESULT {
        UpdatePage();
        return S_OK;
      });
    default:
      return DtmControl::SetProperty(key, value);
  }
}

// ---- The page --------------------------------------------------------------------

bool CSetDevAndDtmAddrCtrl::SyncChecked() const {
  return Dialog() && ::IsDlgButtonChecked(Dialog(), IDC_SYNC_ADDRESSES) == BST_CHECKED;
}

// Not a number (an empty field) reads as 0.
LONG CSetDevAndDtmAddrCtrl::ItemNumber(UINT item) const {
  BOOL number = FALSE;
  return Dialog() ? static_cast<LONG>(::GetDlgItemInt(Dialog(), static_cast<int>(item), &number, TRUE)) : 0;
}

bool CSetDevAndDtmAddrCtrl::SameTag(const wchar_t* text) const { return SameText(text, childTag_.c_str()); }

void CSetDevAndDtmAddrCtrl::InitPage() {
  if (!Dialog()) return;
  com::Bstr tag;
  BYTE address = kNoAddress;
  if (SameText(childSystemTag_.c_str(), kNoChildSystemTag)) {
    address = 0;
    tag.assign(kNoChildSystemTag);
  } else if (!channel_ || FAILED(channel_->GetChildDtmInfoBySysTag(childSystemTag_.get(), tag.put(), &address))) {
    return;
  }
  childAddress_ = address;
  childTag_ = std::move(tag);
  // Both address fields start with the child DTM's address.
  ::SetDlgItemInt(Dialog(), IDC_SLAVE_ADDRESS, childAddress_, TRUE);
  ::SetDlgItemInt(Dialog(), IDC_CHILD_ADDRESS, childAddress_, TRUE);
  SetItemTextAnsi(IDC_CHILD_TAG, childTag_.c_str());
  ::CheckDlgButton(Dialog(), IDC_SYNC_ADDRESSES, BST_CHECKED);
}

// An observer or a data set that may not be edited changes nothing, as
// does a device held by an open FDT connection. The edit permission
// (property 9993) and the user level (9988) decide here, not the base's
// online edit mode: the child DTM's part can be changed offline too.
void CSetDevAndDtmAddrCtrl::DetermineEditableFields() {
  slaveEditable_ = false;
  childEditable_ = false;
  if (!channel_ || EditLock() || ReadOnly()) return;
  long count = 0;
  if (FAILED(channel_->GetNumberOfDevices(&count))) return;
  bool inUse = false;
  for (long i = 0; i < count && !inUse; ++i) {
    BYTE pollAddress = 0, deviceType = 0, hardware = 0, software = 0;
    long held = 0, deviceId = 0;
    com::Bstr tag, manufacturer, typeName;
    if (FAILED(channel_->GetDeviceInfo(i, &pollAddress, &held, tag.put(), manufacturer.put(), typeName.put(),
                                       &deviceType, &deviceId, &hardware, &software)))
      continue;
    inUse = pollAddress == slaveAddress_ && held != 0;
  }
  slaveEditable_ = DtmState() == kDtmStateOnline && !inUse;
  childEditable_ = !inUse;
}

bool CSetDevAndDtmAddrCtrl::CheckAddressChanges() {
  if (!Dialog()) return false;
  bool changed = false;
  const ULONG child = static_cast<ULONG>(ItemNumber(IDC_CHILD_ADDRESS));
  const ULONG slave = static_cast<ULONG>(ItemNumber(IDC_SLAVE_ADDRESS));
  if (slave >= kAddressCount) {
    ShowItem(IDC_SLAVE_ADDRESS_INVALID, true);
  } else if (slave != slaveAddress_) {
    ShowItem(IDC_SLAVE_ADDRESS_CHANGED, true);
    changed = true;
  }
  if (child >= kAddressCount) {
    ShowItem(IDC_CHILD_ADDRESS_INVALID, true);
  } else if (child != childAddress_) {
    ShowItem(IDC_CHILD_ADDRESS_CHANGED, true);
    changed = true;
  }
  if (!SameTag(ItemText(IDC_CHILD_TAG).c_str())) {
    ShowItem(IDC_CHILD_TAG_CHANGED, true);
    changed = true;
  }
  return changed;
}

void CSetDevAndDtmAddrCtrl::UpdatePage() {
  if (!Dialog()) return;
  DetermineEditableFields();
  ShowMessage(IDS_SetDevAndDtmAddressInstructions, L"IDS_SetDevAndDtmAddressInstructions");
  ShowItem(IDC_STATUS_ICON, true);
  ShowItem(IDC_ERROR_ICON, false);

  EnableItem(IDC_SLAVE_ADDRESS, slaveEditable_);
  EnableItem(IDC_CHILD_TAG, childEditable_);
  EnableItem(IDC_CHILD_ADDRESS, childEditable_);
  const bool both = slaveEditable_ && childEditable_;
  if (!both) ::CheckDlgButton(Dialog(), IDC_SYNC_ADDRESSES, BST_UNCHECKED);
  EnableItem(IDC_SYNC_ADDRESSES, both);

  for (UINT mark : {IDC_SLAVE_ADDRESS_INVALID, IDC_CHILD_ADDRESS_INVALID, IDC_SLAVE_ADDRESS_CHANGED,
                    IDC_CHILD_ADDRESS_CHANGED, IDC_CHILD_TAG_CHANGED})
    ShowItem(mark, false);
  const bool changed = CheckAddressChanges();

  if (!slaveEditable_ && !childEditable_) {
    EnableItem(IDOK, false);
    EnableItem(IDC_APPLY, false);
    return;
  }
  EnableItem(IDOK, true);
  EnableItem(IDC_APPLY, changed);
  if (both) {
    EnableItem(IDC_SLAVE_ADDRESS, true);
    EnableItem(IDC_CHILD_ADDRESS, !SyncChecked());
  }
}

void CSetDevAndDtmAddrCtrl::OnSyncClicked() {
  const bool checked = SyncChecked();
  ::CheckDlgButton(Dialog(), IDC_SYNC_ADDRESSES, checked ? BST_CHECKED : BST_UNCHECKED);
  if (checked) ::SetDlgItemInt(Dialog(), IDC_CHILD_ADDRESS, static_cast<UINT>(ItemNumber(IDC_SLAVE_ADDRESS)), TRUE);
  UpdatePage();
}

void CSetDevAndDtmAddrCtrl::OnSlaveAddressEdited() {
  if (slaveEditable_ && childEditable_ && SyncChecked())
    ::SetDlgItemInt(Dialog(), IDC_CHILD_ADDRESS, static_cast<UINT>(ItemNumber(IDC_SLAVE_ADDRESS)), TRUE);
  UpdatePage();
}

void CSetDevAndDtmAddrCtrl::ShowError(const wchar_t* text) {
  SetItemTextAnsi(IDC_STATUS_TEXT, text && *text ? text : L"error");
  ShowItem(IDC_STATUS_ICON, false);
  ShowItem(IDC_ERROR_ICON, true);
}

void CSetDevAndDtmAddrCtrl::ShowMessage(UINT id, const wchar_t* key) {
  SetItemTextAnsi(IDC_STATUS_TEXT, UserMessage(static_cast<int>(id), key).c_str());
}

// ---- Applying ----------------------------------------------------------------------

HRESULT CSetDevAndDtmAddrCtrl::ApplyAddressChanges() {
  com::ComPtr<IHART_Channel> channel = FindHartChannel(ParameterHandler());
  if (!channel) return E_POINTER;
  const LONG newChild = ItemNumber(IDC_CHILD_ADDRESS);
  const LONG newSlave = ItemNumber(IDC_SLAVE_ADDRESS);
  if (static_cast<ULONG>(newSlave) >= kAddressCount) {
    ShowError(UserMessage(IDS_ErrorDevAddrOutOfRange, L"IDS_ErrorDevAddrOutOfRange").c_str());
    return E_FAIL;
  }
  if (static_cast<ULONG>(newChild) >= kAddressCount) {
    ShowError(UserMessage(IDS_ErrorDtmAddrOutOfRange, L"IDS_ErrorDtmAddrOutOfRange").c_str());
    return E_FAIL;
  }

  // The device moves only while the DTM is online; otherwise the DTM's part
  // goes on alone.
  if (newSlave != slaveAddress_ && DtmState() == kDtmStateOnline && channel_) {
    const HRESULT moved = channel_->ChangeAddress(slaveAddress_, static_cast<BYTE>(newSlave));
    if (FAILED(moved)) {
      const std::wstring text = address_change::Describe(
          moved, [&](const address_change::Text& t) { return std::wstring(UserMessage(t.id, t.key).c_str()); });
      ShowError(text.c_str());
      return E_FAIL;
    }
    if (moved == S_OK) slaveAddress_ = static_cast<BYTE>(newSlave);
  }

  const std::wstring newTag = ItemText(IDC_CHILD_TAG);
  if (newChild == childAddress_ && SameTag(newTag.c_str())) {
    UpdatePage();
    return S_OK;
  }
  com::Bstr tag(newTag.c_str());
  if (FAILED(channel->SetDeviceDtmInfo(childSystemTag_.get(), static_cast<BYTE>(newChild), tag.get()))) {
    // The device stays where step one moved it.
    ShowError(UserMessage(IDS_ErrorSetParametersFailed, L"IDS_ErrorSetParametersFailed").c_str());
    return E_FAIL;
  }
  childAddress_ = static_cast<BYTE>(newChild);
  childTag_ = std::move(tag);
  UpdatePage();
  return S_OK;
}

bool CSetDevAndDtmAddrCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
  if (message == WM_TIMER && wParam == kChildRemovedTimer) {
    ::KillTimer(Dialog(), kChildRemovedTimer);
    UpdatePage();
    *result = 0;
    return true;
  }
  if (message != WM_COMMAND) return false;
  const UINT item = LOWORD(wParam);
  const UINT code = HIWORD(wParam);
  *result = 0;
  if (code == EN_CHANGE) {
    switch (item) {
      case IDC_SLAVE_ADDRESS:
        OnSlaveAddressEdited();
        return true;
      case IDC_CHILD_TAG:
      case IDC_CHILD_ADDRESS:
        UpdatePage();
        return true;
      default:
        return false;
    }
  }
  if (code != BN_CLICKED) return false;
  if (item == IDC_SYNC_ADDRESSES) {
    OnSyncClicked();
    return true;
  }
  return OnApplyButton(item, [&] { return ApplyAddressChanges(); });
}

STDMETHODIMP CSetDevAndDtmAddrCtrl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (CheckAddressChanges() && !AskToApplyChanges([&] { return ApplyAddressChanges(); })) return S_FALSE;
    return DtmControl::PrepareToRelease(result);
  });
}
