#include "controls/driver_config_ctrl.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "com/Guard.h"
#include "controls/control_description.h"
#include "controls/control_resources.h"
#include "controls/list_view_columns.h"
#include "dtm/dtm_ids.h"

namespace {

const ParameterMapRow kParameterMap[] = {
    // Read and written by the control itself: no item.
    {hart_param::kDeviceNumber, "Configured Device", 0, "", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {hart_param::kDevice, "Device", IDC_DEVICE_HEADER, "", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {hart_param::kDeviceType, "DeviceType", IDC_DEVICE_HEADER, "", kRowFlagsDefault, kDisplayDefaultColours, 0},
    kEndOfMap};

const ItemName kItemNames[] = {
    {IDC_DEVICE_HEADER, "IDC_EVFDTPARAMIDENTCTRL"}, {IDC_STATUS_TEXT, "IDC_StaticInfoText"},
    {IDC_DRIVER_FRAME, "IDC_Frame_DriverConfig"},     {IDC_ADAPTER_LIST_LABEL, "IDC_Static_DeviceList"},
    {IDC_REFRESH_LIST, "IDC_BtnRefreshList"},         {IDC_INIT_DEVICE, "IDC_CheckInitDevice"},
    {IDC_APPLY, "IDC_BtnUseSelectedDevice"},          {IDC_CANCEL, "IDC_BtnCancel"},
    {IDC_HELP_BUTTON, "IDC_Help"},                    {0, nullptr}};

const ControlDescription kDescription =
    HartControlDescription(&CLSID_DriverConfigCtrl, IDD_DRIVER_CONFIG, kParameterMap, kItemNames);

using Column = ListColumn;
const Column kColumns[] = {
    {IDS_ColName_HartDevAddr, L"IDS_ColName_HartDevAddr", 60},
    {IDS_ColName_HartDevID, L"IDS_ColName_HartDevID", 60},
    {IDS_ColName_HartDevType, L"IDS_ColName_HartDevType", 70},
    {IDS_ColName_HartDevInUse, L"IDS_ColName_HartDevInUse", 60},
};

// The adapter kind's text (string id and key).
Column KindText(BYTE kind) {
  switch (kind) {
    case 1:
      return {IDS_HartDevType_USB, L"IDS_HartDevType_USB", 0};
    case 2:
      return {IDS_HartDevType_PCI, L"IDS_HartDevType_PCI", 0};
    case 3:
      return {IDS_HartDevType_PCMCIA, L"IDS_HartDevType_PCMCIA", 0};
    default:
      return {IDS_HartDevType_Unknown, L"IDS_HartDevType_Unknown", 0};
  }
}

bool OnlineState(ULONG state) {
  return state == 2 || state == 3 || (state >= 9 && state <= 12);
}

}  // namespace

CDriverConfigCtrl::CDriverConfigCtrl() : DtmControl(kDescription) {}

CDriverConfigCtrl::~CDriverConfigCtrl() { api_.Unload(); }

const com::InterfaceEntry* CDriverConfigCtrl::interfaceMap() { return DtmControlInterfaceMap<CDriverConfigCtrl, IDriverConfigCtrl>(); }

void CDriverConfigCtrl::finalRelease() {
  DtmControl::finalRelease();
  // An adapter still open (the frame closed the control without a choice)
  // is closed before the binding goes.
  CloseOpenedDevice();
  if (api_.IsLoaded()) api_.Release();
}

HRESULT CDriverConfigCtrl::OnInit() {
  SetFunctionEnabled(hart_function::kDriverConfiguration, 0);
  com::Bstr reason;  // the binding's message is shown by the control states
  if (!api_.IsLoaded()) api_.Load(reason.put());
  SetUpList();
  return S_OK;
}

// Dropped unasked: the adapter goes back to the channel and the function to
// the frame's menu, as after PrepareToRelease.
void CDriverConfigCtrl::OnUnbinding() {
  CloseOpenedDevice();
  OfferFunctionAgain(hart_function::kDriverConfiguration);
}

void CDriverConfigCtrl::OnDialogCreated() { SetUpList(); }

void CDriverConfigCtrl::OnDialogDestroyed() { listReady_ = false; }

void CDriverConfigCtrl::SetUpList() {
  HWND list = List();
  if (!list || !Dtm()) return;
  if (api_.IsLoaded() && !listReady_) {
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    CreateColumns();
    if (!rowTakenOver_) {
      // The first window: the adapters, and the configured one chosen.
      FillList();
      SelectConfiguredRow();
      OnListClick();
      rowTakenOver_ = true;
    } else {
      // A later one shows what the control holds: the rows read last (an
      // adapter the control opened since is not another's), the choice.
      ShowAdapters();
      SelectDeviceRow(chosen_);
    }
  }
  UpdateControlStates();
}

void CDriverConfigCtrl::CreateColumns() {
  HWND list = List();
  if (!list) return;
  CreateListColumns(list, kColumns, std::size(kColumns),
                    [&](const ListColumn& column) { return UserMessage(column.id, nullptr); });
  listReady_ = true;
}

void CDriverConfigCtrl::SetColumnHeaders() {
  HWND list = List();
  if (!list || !listReady_) return;
  TitleListColumns(list, kColumns, std::size(kColumns),
                   [&](const ListColumn& column) { return UserMessage(column.id, column.key); });
}

void CDriverConfigCtrl::FillList() {
  if (!List()) return;
  ReadAdapters();
  ShowAdapters();
}

void CDriverConfigCtrl::ReadAdapters() {
  adapters_.clear();
  if (!api_.IsLoaded() || !api_.GetDriverConfiguration) return;
  for (int number = 0; number <= 255; ++number) {
    vtHART_DeviceConfig row = {};
    row.attached = 0;
    // The status is not looked at: a row the library does not fill stays out.
    api_.GetDriverConfiguration(static_cast<uint8_t>(number), reinterpret_cast<uint8_t*>(&row));
    if (row.attached) adapters_.push_back({number, row});
  }
}

void CDriverConfigCtrl::ShowAdapters() {
  HWND list = List();
  if (!list) return;
  const SelectingRows selecting(selectingRows_);
  ListView_DeleteAllItems(list);
  const com::Bstr inUse = UserMessage(IDS_HartDevEntry_InUse, L"IDS_HartDevEntry_InUse");
  const com::Bstr notInUse = UserMessage(IDS_HartDevEntry_NotInUse, L"IDS_HartDevEntry_NotInUse");
  for (const Adapter& adapter : adapters_) {
    const vtHART_DeviceConfig& row = adapter.row;
    wchar_t numberText[8] = {}, serialText[12] = {};
    std::swprintf(numberText, 8, L"%02u", static_cast<unsigned>(adapter.number));
    std::swprintf(serialText, 12, L"%04X", static_cast<unsigned>(row.serial));
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = ListView_GetItemCount(list);
    item.pszText = numberText;
    const int index = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) continue;
    const Column kind = KindText(row.kind);
    com::Bstr kindText = UserMessage(kind.id, kind.key);
    const wchar_t* cells[] = {serialText, kindText.c_str(), row.inUse ? inUse.c_str() : notInUse.c_str()};
    for (int column = 1; column <= 3; ++column) SetListCell(list, index, column, cells[column - 1]);
  }
}

int CDriverConfigCtrl::RowDeviceNumber(int row) const {
  return static_cast<int>(std::wcstol(ListCell(List(), row, 0).c_str(), nullptr, 10));
}

HWND CDriverConfigCtrl::List() const { return Item(IDC_ADAPTER_LIST); }

int CDriverConfigCtrl::SelectedRow() const {
  HWND list = List();
  return list ? ListView_GetNextItem(list, -1, LVNI_SELECTED) : -1;
}

void CDriverConfigCtrl::SelectConfiguredRow() {
  HWND list = List();
  if (!list) return;
  com::Variant value;
  if (FAILED(ReadParameterValue(hart_param::kDeviceNumber, value.put())) || value.type() != VT_UI1) return;
  const int row = SelectDeviceRow(V_UI1(value.get()));
  if (row >= 0) ListView_EnsureVisible(list, row, FALSE);
}

int CDriverConfigCtrl::SelectDeviceRow(int number) {
  HWND list = List();
  const int count = list ? ListView_GetItemCount(list) : 0;
  for (int row = 0; row < count; ++row) {
    if (RowDeviceNumber(row) != number) continue;
    const SelectingRows selecting(selectingRows_);
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    return row;
  }
  return -1;
}

void CDriverConfigCtrl::CloseOpenedDevice() {
  if (!opened_) return;
  if (api_.IsLoaded() && api_.CloseDevice) api_.CloseDevice(chosen_);
  opened_ = 0;
}

void CDriverConfigCtrl::OnListClick() {
  const int row = SelectedRow();
  const int number = row >= 0 ? RowDeviceNumber(row) : -1;
  if (opened_ && number != chosen_) CloseOpenedDevice();
  usable_ = 0;
  if (row >= 0) {
    chosen_ = static_cast<BYTE>(number);
    if (api_.IsLoaded() && api_.GetDriverConfiguration) {
      vtHART_DeviceConfig config = {};
      api_.GetDriverConfiguration(chosen_, reinterpret_cast<uint8_t*>(&config));
      if (config.attached && !config.inUse) usable_ = 1;
    }
  }
  UpdateControlStates();
}

void CDriverConfigCtrl::UpdateControlStates() {
  if (!Dialog()) return;
  const bool bound = api_.IsLoaded() && api_.DeviceInit;
  const bool usableList = !OnlineState(DtmState()) && !EditLock() && EditEnabled() && bound;
  if (usableList) {
    ShowItem(IDC_STATUS_ICON, false);
    ShowItem(IDC_STATUS_TEXT, false);
    EnableItem(IDC_INIT_DEVICE, usable_ != 0);
    ::CheckDlgButton(Dialog(), IDC_INIT_DEVICE, (opened_ && usable_) ? BST_CHECKED : BST_UNCHECKED);
    EnableItem(IDC_REFRESH_LIST, true);
    EnableItem(IDC_APPLY, usable_ != 0);
    EnableItem(IDC_ADAPTER_LIST, true);
    return;
  }
  ShowItem(IDC_STATUS_ICON, true);
  const com::Bstr text = api_.IsLoaded()
                             ? UserMessage(IDS_SettingsAvailableOfflineOnly, L"IDS_SettingsAvailableOfflineOnly")
                             : UserMessage(130, L"IDS_ErrorLoadDllFailed");
  SetItemTextAnsi(IDC_STATUS_TEXT, text.c_str());
  ShowItem(IDC_STATUS_TEXT, true);
  EnableItem(IDC_REFRESH_LIST, false);
  EnableItem(IDC_INIT_DEVICE, false);
  EnableItem(IDC_APPLY, false);
  EnableItem(IDC_ADAPTER_LIST, false);
}

void CDriverConfigCtrl::OnEditStateChanged() { UpdateControlStates(); }

void CDriverConfigCtrl::OnTranslated() { UpdateControlStates(); }

void CDriverConfigCtrl::OnInitDevice() {
  if (!api_.IsLoaded() || !api_.DeviceInit || !api_.CloseDevice) return;
  if (opened_) {
    CloseOpenedDevice();
  } else if (api_.DeviceInit(chosen_, 0) == 0) {
    opened_ = 1;  // any other status leaves it closed, without a message
  }
  UpdateControlStates();
}

void CDriverConfigCtrl::OnRefreshList() {
  CloseOpenedDevice();
  usable_ = 0;
  FillList();
  UpdateControlStates();
}

void CDriverConfigCtrl::OnUseSelectedDevice() {
  if (!ParameterHandler()) return;
  RaiseApplyBracket(true);
  com::Variant number;
  V_VT(number.get()) = VT_UI1;
  V_UI1(number.get()) = chosen_;
  WriteParameterValue(hart_param::kDeviceNumber, number.value());
  // Closed before the channel opens it.
  CloseOpenedDevice();
  RaiseApplyBracket(false);
  PostCloseRequest();
}

bool CDriverConfigCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (!header || header->idFrom != IDC_ADAPTER_LIST) return false;
    if (header->code == static_cast<UINT>(NM_CLICK)) {
      OnListClick();
      *result = 0;
      return true;
    }
    // A row selected with the keyboard is chosen as a clicked one is: "Use
    // Selected Device" writes the row the user sees selected, not the one
    // last clicked. Selections the control makes itself are not the user's.
    if (header->code == static_cast<UINT>(LVN_ITEMCHANGED) && !selectingRows_) {
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
      if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
          !(change->uOldState & LVIS_SELECTED))
        OnListClick();
      *result = 0;
      return true;
    }
    return false;
  }
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  *result = 0;
  switch (LOWORD(wParam)) {
    case IDC_APPLY:
      OnUseSelectedDevice();
      return true;
    case IDC_INIT_DEVICE:
      OnInitDevice();
      return true;
    case IDC_REFRESH_LIST:
      OnRefreshList();
      return true;
    case IDC_CANCEL:
      PostCloseRequest();
      return true;
    default:
      return false;
  }
}

STDMETHODIMP CDriverConfigCtrl::OnStateChanged(unsigned long state) {
  HRESULT hr = DtmControl::OnStateChanged(state);
  UpdateControlStates();
  return hr;
}

STDMETHODIMP CDriverConfigCtrl::SetProperty(VARIANT key, VARIANT value) {
  ULONG id = 0;
  if (FAILED(PropertyId(key, &id))) return E_FAIL;
  if (id == property_id::kLanguage && GetControlState() != kControlClosing) {
    com::guard([&]() -> HRESULT {
      com::Variant language;
      if (SUCCEEDED(::VariantChangeType(language.get(), &value, 0, VT_UI4))) {
        // The dialog's texts follow in the base's handling of the property.
        SetColumnHeaders();
        // The rows again, in the new language; the chosen device stays.
        FillList();
        SelectDeviceRow(chosen_);
        OnStateChanged(DtmState());
      }
      return S_OK;
    });
  }
  return DtmControl::SetProperty(key, value);
}

STDMETHODIMP CDriverConfigCtrl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  HRESULT hr = DtmControl::PrepareToRelease(result);
  if (FAILED(hr)) return hr;
  if (!*result) return S_FALSE;
  OfferFunctionAgain(hart_function::kDriverConfiguration);
  return S_OK;
}
