#include "controls/dev_and_dtm_address_ctrl.h"

#include <string>

#include "com/Guard.h"
#include "com/Variant.h"
#include "controls/address_change_texts.h"
#include "controls/control_description.h"
#include "controls/control_resources.h"
#include "dtm/hart_channel_lookup.h"
#include "dtm/dtm_ids.h"
#include "dtm/polling_address.h"

namespace {

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

void CSetDevAndDtmAddrCtrl::OnTranslated() { UpdatePage(); }

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

// Only 0 to 63 as digits is an address: an empty, signed, non-numeric or
// overlong entry is none (read as a number it would be address 0).
bool CSetDevAndDtmAddrCtrl::ItemAddress(UINT item, uint8_t* address) const {
  return Dialog() && hart_address::Parse(ItemText(item), address);
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
  uint8_t slave = 0, child = 0;
  if (!ItemAddress(IDC_SLAVE_ADDRESS, &slave)) {
    ShowItem(IDC_SLAVE_ADDRESS_INVALID, true);
  } else if (slave != slaveAddress_) {
    ShowItem(IDC_SLAVE_ADDRESS_CHANGED, true);
    changed = true;
  }
  if (!ItemAddress(IDC_CHILD_ADDRESS, &child)) {
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

  // While a change runs nothing takes input: no second change, and a close
  // waits for its end (PrepareToRelease).
  EnableItem(IDC_CANCEL, !busy_);
  if (busy_) {
    const UINT inputs[] = {IDC_SLAVE_ADDRESS, IDC_CHILD_ADDRESS, IDC_CHILD_TAG, IDC_SYNC_ADDRESSES, IDOK, IDC_APPLY};
    for (UINT item : inputs) EnableItem(item, false);
    return;
  }
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
  if (checked) CopySlaveAddressToChild();
  UpdatePage();
}

void CSetDevAndDtmAddrCtrl::OnSlaveAddressEdited() {
  if (slaveEditable_ && childEditable_ && SyncChecked()) CopySlaveAddressToChild();
  UpdatePage();
}

// An entry that is no address is copied as it stands, so that the child
// address is marked out of range with it instead of becoming 0.
void CSetDevAndDtmAddrCtrl::CopySlaveAddressToChild() {
  uint8_t slave = 0;
  if (ItemAddress(IDC_SLAVE_ADDRESS, &slave))
    ::SetDlgItemInt(Dialog(), IDC_CHILD_ADDRESS, slave, TRUE);
  else
    ::SetDlgItemTextW(Dialog(), IDC_CHILD_ADDRESS, ItemText(IDC_SLAVE_ADDRESS).c_str());
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
  if (busy_) return E_FAIL;  // one change at a time
  com::ComPtr<IHART_Channel> channel = FindHartChannel(ParameterHandler());
  if (!channel) return E_POINTER;
  // The device moves only while the DTM is online; otherwise the DTM's part
  // goes on alone, and the slave field (disabled then) is not used.
  const bool moveDevice = DtmState() == kDtmStateOnline && channel_;
  uint8_t newSlave = slaveAddress_, newChild = 0;
  if (moveDevice && !ItemAddress(IDC_SLAVE_ADDRESS, &newSlave)) {
    ShowError(UserMessage(IDS_ErrorDevAddrOutOfRange, L"IDS_ErrorDevAddrOutOfRange").c_str());
    return E_FAIL;
  }
  if (!ItemAddress(IDC_CHILD_ADDRESS, &newChild)) {
    ShowError(UserMessage(IDS_ErrorDtmAddrOutOfRange, L"IDS_ErrorDtmAddrOutOfRange").c_str());
    return E_FAIL;
  }
  // Read now: the window may be gone once the channel returns.
  com::Bstr tag(ItemText(IDC_CHILD_TAG).c_str());

  // The channel serves the window's messages while it moves the device and
  // while the child DTM takes its document: the control stays alive and
  // takes no input meanwhile, and a close waits for the end
  // (PrepareToRelease).
  com::ComPtr<IUnknown> hold(Self());
  busy_ = true;
  UpdatePage();
  std::wstring error;
  const HRESULT hr = ChangeAddresses(channel.get(), moveDevice, newSlave, newChild, std::move(tag), &error);
  busy_ = false;
  UpdatePage();
  if (FAILED(hr)) ShowError(error.c_str());
  return hr;
}

HRESULT CSetDevAndDtmAddrCtrl::ChangeAddresses(IHART_Channel* channel, bool moveDevice, uint8_t newSlave,
                                               uint8_t newChild, com::Bstr tag, std::wstring* error) {
  if (moveDevice && newSlave != slaveAddress_) {
    com::ComPtr<IHART_Channel> mover = channel_;
    const HRESULT moved = mover->ChangeAddress(slaveAddress_, newSlave);
    if (FAILED(moved)) {
      *error = address_change::Describe(
          moved, [&](const address_change::Text& t) { return std::wstring(UserMessage(t.id, t.key).c_str()); });
      return E_FAIL;
    }
    if (moved == S_OK) slaveAddress_ = newSlave;
  }
  if (newChild == childAddress_ && SameTag(tag.c_str())) return S_OK;
  // The child DTM follows the device also when the control was closed while
  // the device moved: the device would stand at its new address, its DTM at
  // the old one.
  const com::Bstr systemTag(childSystemTag_.c_str());
  if (FAILED(channel->SetDeviceDtmInfo(systemTag.get(), newChild, tag.get()))) {
    // The device stays where it was moved.
    *error = UserMessage(IDS_ErrorSetParametersFailed, L"IDS_ErrorSetParametersFailed").c_str();
    return E_FAIL;
  }
  childAddress_ = newChild;
  childTag_ = std::move(tag);
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
  switch (item) {
    case IDC_SYNC_ADDRESSES:
      OnSyncClicked();
      return true;
    case IDOK:
    case IDC_APPLY: {
      com::ComPtr<IUnknown> hold(Self());
      const HRESULT hr = ApplyAddressChanges();
      // A close asked for while the change ran goes on once the change has
      // held. After a failure it is dropped: the frame was told that the
      // control stays (PrepareToRelease answered FALSE), and the user is to
      // read why the change failed. Going on would put "Apply changes?" over
      // the failure at once, and its Yes would start the failed change again;
      // the user's own close asks about what is left as any close does.
      const bool close = SUCCEEDED(hr) && (item == IDOK || closeAfterChange_);
      closeAfterChange_ = false;
      if (close) PostCloseRequest();
      return true;
    }
    case IDC_CANCEL:
      PostCloseRequest();
      return true;
    default:
      return false;
  }
}

STDMETHODIMP CSetDevAndDtmAddrCtrl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    // Called while a change runs (its messages are served): the control
    // stays until the change has ended, then asks to be closed again.
    if (busy_) {
      closeAfterChange_ = true;
      return S_FALSE;
    }
    const bool stay = CheckAddressChanges() && !AskToApplyChanges([&] { return ApplyAddressChanges(); });
    // A close asked for while "Yes" applied the changes is this one.
    closeAfterChange_ = false;
    if (stay) return S_FALSE;
    return DtmControl::PrepareToRelease(result);
  });
}
