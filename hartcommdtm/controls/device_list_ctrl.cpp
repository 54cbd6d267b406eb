#include "controls/device_list_ctrl.h"

#include <cwchar>
#include <iterator>
#include <string>

#include "com/Guard.h"
#include "com/Module.h"
#include "controls/control_description.h"
#include "controls/control_resources.h"
#include "dtm/hart_channel_lookup.h"
#include "controls/list_view_columns.h"
#include "dtm/dtm_ids.h"
#include "outside.h"

namespace {

const ParameterMapRow kParameterMap[] = {
    // Watched, not shown: the channel writes them.
    {hart_param::kLastScanTime, "Last Scan Timestamp", 0, "%u", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {hart_param::kScanActive, "Scan Active", 0, "%u", kRowFlagsDefault, kDisplayDefaultColours, 0},
    {hart_param::kChangeCounter, "Child DTM added or removed", 0, "%u", kRowFlagsDefault, kDisplayDefaultColours,
     0},
    HeaderRow(hart_param::kDevice, IDC_DEVICE_HEADER),
    HeaderRow(hart_param::kDeviceType, IDC_DEVICE_HEADER),
    kEndOfMap};

const ItemName kItemNames[] = {
    {IDC_DEVICE_HEADER, "IDC_EVFDTPARAMIDENTCTRL"},
    {IDC_UPDATE_LIST, "IDC_BtnUpdateList"},
    {IDC_STOP_SCAN, "IDC_BtnStopScan"},
    {IDC_SET_ADDRESS, "IDC_BtnSetAddress"},
    {IDC_CANCEL, "IDC_BtnCancel"},
    {IDC_HELP_BUTTON, "IDC_Help"},
    {0, nullptr}};

const ControlDescription kDescription =
    HartControlDescription(&CLSID_DeviceListCtrl, IDD_DEVICE_LIST, kParameterMap, kItemNames);

const ListColumn kColumns[] = {
    {IDS_ColName_PollAddress, L"IDS_ColName_PollAddress", 55},
    {IDS_ColName_State, L"IDS_ColName_State", 42},
    {IDS_ColName_Channel, L"IDS_ColName_Channel", 60},
    {IDS_ColName_InUse, L"IDS_ColName_InUse", 47},
    {IDS_ColName_HartTag, L"IDS_ColName_HartTag", 69},
    {IDS_ColName_DtmTag, L"IDS_ColName_DtmTag", 69},
    {IDS_ColName_Manufacturer, L"IDS_ColName_Manufacturer", 75},
    {IDS_ColName_DeviceType, L"IDS_ColName_DeviceType", 60},
    {IDS_ColName_DeviceID, L"IDS_ColName_DeviceID", 57},
    {IDS_ColName_HardwareRevision, L"IDS_ColName_HardwareRevision", 54},
    {IDS_ColName_SoftwareRevision, L"IDS_ColName_SoftwareRevision", 53},
};
enum ColumnIndex : int {
  kColumnAddress = 0,
  kColumnState = 1,
  kColumnChannel = 2,
  kColumnInUse = 3,
  kColumnHartTag = 4,
  kColumnDtmTag = 5,
  kColumnManufacturer = 6,
  kColumnDeviceType = 7,
  kColumnDeviceId = 8,
  kColumnHardwareRevision = 9,
  kColumnSoftwareRevision = 10,
};

// The footer's scan status.
constexpr ULONG kStatusPane = 1024;
constexpr ULONG kScanStatus = 12345;
const wchar_t kScanStatusName[] = L"scanning";
const wchar_t kScanStatusTip[] = L"scan active - please wait";
const wchar_t kScanStatusPath[] = L"localization/ActiveXList/StatusBar/eStatusScan/";

// The state images: 32 pixels wide, no mask colour.
constexpr int kStateImageWidth = 32;

// The smallest size of the control, in pixels.
constexpr LONG kMinWidth = 392;
constexpr LONG kMinHeight = 256;

// How an item follows a resize: moves with the right or bottom edge, grows
// with the width or height.
struct Anchor {
  UINT id;
  bool moveX, moveY, growX, growY;
};
const Anchor kAnchors[] = {
    {IDC_DEVICE_HEADER, false, false, true, false},
    {IDC_DEVICE_LIST, false, false, true, true},
    {IDC_UPDATE_LIST, false, true, false, false},
    {IDC_STOP_SCAN, false, true, false, false},
    {IDC_SET_ADDRESS, false, true, false, false},
    {IDC_CANCEL, true, true, false, false},
    {IDC_HELP_BUTTON, true, true, false, false},
    {IDC_FOOTER_BAR, false, true, true, false},
    {IDC_SIZE_GRIP, true, true, false, false},
};

std::wstring Number(const wchar_t* format, unsigned value) {
  wchar_t text[16] = {};
  std::swprintf(text, 16, format, value);
  return text;
}

}  // namespace

CDeviceListCtrl::CDeviceListCtrl() : DtmControl(kDescription) {}

CDeviceListCtrl::~CDeviceListCtrl() {
  // The list view shares the image list: it lets go of it before it goes.
  if (HWND list = List()) ListView_SetImageList(list, nullptr, LVSIL_SMALL);
}

const com::InterfaceEntry* CDeviceListCtrl::interfaceMap() { return DtmControlInterfaceMap<CDeviceListCtrl, IDeviceListCtrl>(); }

HWND CDeviceListCtrl::List() const { return Item(IDC_DEVICE_LIST); }

// ---- Binding ---------------------------------------------------------------------------

STDMETHODIMP CDeviceListCtrl::AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) {
  HRESULT hr = DtmControl::AttachDtm(dtm, result);
  if (FAILED(hr) || !*result) return hr;
  return com::guard([&]() -> HRESULT {
    // Attached before Init named the control: no channel is asked.
    if (!SystemTag() || !*SystemTag()) {
      *result = VARIANT_FALSE;
      return E_FAIL;
    }
    channel_ = FindHartChannel(Dtm());
    if (!channel_) {
      *result = VARIANT_FALSE;
      return E_POINTER;
    }
    SetUpList();
    return S_OK;
  });
}

void CDeviceListCtrl::OnDialogCreated() {
  RememberLayout();
  HWND grip = ::CreateWindowExW(0, L"SCROLLBAR", nullptr,
                                WS_CHILD | WS_VISIBLE | SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN, 0, 0,
                                ::GetSystemMetrics(SM_CXVSCROLL), ::GetSystemMetrics(SM_CYHSCROLL), Dialog(),
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SIZE_GRIP)),
                                com::module().instance(), nullptr);
  if (grip) {
    RECT client = {};
    ::GetClientRect(Dialog(), &client);
    RECT place = {client.right - ::GetSystemMetrics(SM_CXVSCROLL), client.bottom - ::GetSystemMetrics(SM_CYHSCROLL),
                  client.right, client.bottom};
    places_.push_back({IDC_SIZE_GRIP, place});
    ::SetWindowPos(grip, HWND_TOP, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
  }
  if (auto panes = HostedControl<IFooterStatusPanes>(IDC_FOOTER_BAR)) panes->AddPane(kStatusPane);
  ReadStatusTexts();
  RECT client = {};
  ::GetClientRect(Dialog(), &client);
  Layout(client.right, client.bottom);
  if (channel_) SetUpList();
}

void CDeviceListCtrl::OnDialogDestroyed() { listReady_ = false; }

void CDeviceListCtrl::OnUnbinding() { OfferFunctionAgain(hart_function::kDeviceList); }

void CDeviceListCtrl::SetUpList() {
  HWND list = List();
  if (!list || !channel_ || listReady_) return;
  if (!images_)
    images_.reset(ImageList_LoadImageW(com::module().instance(), MAKEINTRESOURCEW(IDB_DEVICE_STATES),
                                       kStateImageWidth, 0, CLR_NONE, IMAGE_BITMAP, LR_CREATEDIBSECTION));
  ListView_SetImageList(list, images_.get(), LVSIL_SMALL);
  ListView_SetExtendedListViewStyle(
      list, LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT);
  SetButtons();
  CreateColumns();
  listReady_ = true;
  Refresh(true);
}

void CDeviceListCtrl::CreateColumns() {
  CreateListColumns(List(), kColumns, std::size(kColumns),
                    [&](const ListColumn& column) { return UserMessage(column.id, column.key); });
}

void CDeviceListCtrl::TitleColumns() {
  if (!listReady_) return;
  TitleListColumns(List(), kColumns, std::size(kColumns),
                   [&](const ListColumn& column) { return UserMessage(column.id, column.key); });
}

void CDeviceListCtrl::ReadStatusTexts() {
  statusName_.assign(kScanStatusName);
  statusTip_.assign(kScanStatusTip);
  if (auto translation = DtmInterface<IevFdtTranslation>()) {
    const std::wstring base = kScanStatusPath;
    com::Bstr name, tip;
    VARIANT_BOOL found = VARIANT_FALSE;
    if (SUCCEEDED(translation->GetLocalizedText(com::Bstr((base + L"Name").c_str()).get(), name.put(), &found)) &&
        found && !name.empty()) {
      statusName_ = std::move(name);
      found = VARIANT_FALSE;
      translation->GetLocalizedText(com::Bstr((base + L"ToolTip").c_str()).get(), tip.put(), &found);
      statusTip_.assign(found ? tip.c_str() : L"");
    }
  }
  if (auto panes = HostedControl<IFooterStatusPanes>(IDC_FOOTER_BAR))
    panes->RegisterStatus(kScanStatus, statusName_.get(), statusTip_.get());
}

// ---- The rows ---------------------------------------------------------------------------

void CDeviceListCtrl::Refresh(bool updateChildren) {
  if (refreshing_) {
    refreshAgain_ = true;
    refreshChildrenAgain_ = refreshChildrenAgain_ || updateChildren;
    return;
  }
  refreshing_ = true;
  do {
    refreshAgain_ = false;
    entries_.Clear();
    long devices = 0;
    if (!channel_ || FAILED(channel_->GetNumberOfDevices(&devices))) break;
    // Each answer is a copy the channel takes under its table's lock: a
    // scan that runs meanwhile only makes later indexes fail, which are
    // skipped.
    for (long i = 0; i < devices; ++i) {
      DeviceListEntry entry;
      long inUse = 0, deviceId = 0;
      BYTE deviceTypeCode = 0;
      com::Bstr tag, manufacturer, deviceType;
      if (FAILED(channel_->GetDeviceInfo(i, &entry.pollAddress, &inUse, tag.put(), manufacturer.put(),
                                         deviceType.put(), &deviceTypeCode, &deviceId, &entry.hardwareRevision,
                                         &entry.softwareRevision)))
        continue;
      entry.inUse = inUse ? 1 : 0;
      entry.hartTag = tag.c_str();
      entry.manufacturer = manufacturer.c_str();
      entry.deviceType = deviceType.c_str();
      entry.deviceId = static_cast<ULONG>(deviceId) & 0xFFFFFF;
      entries_.AddDevice(std::move(entry));
    }
    if (updateChildren) channel_->UpdateChildList();
    com::Bstr channelName;
    unsigned long children = 0;
    if (SUCCEEDED(channel_->GetChannelName(channelName.put())) &&
        SUCCEEDED(channel_->GetChildDtmCount(&children))) {
      for (unsigned long i = 0; i < children; ++i) {
        DeviceListEntry entry;
        com::Bstr systemTag, dtmTag;
        if (FAILED(channel_->GetChildDtmInfoByIndex(i, systemTag.put(), dtmTag.put(), &entry.pollAddress)))
          continue;
        entry.channelName = channelName.c_str();
        entry.systemTag = systemTag.c_str();
        entry.dtmTag = dtmTag.c_str();
        entries_.MergeDtm(std::move(entry));
      }
    }
    FillList();
    updateChildren = refreshChildrenAgain_;
    refreshChildrenAgain_ = false;
  } while (refreshAgain_);
  refreshing_ = false;
}

void CDeviceListCtrl::DeleteRows() {
  if (HWND list = List()) ListView_DeleteAllItems(list);
  EnableItem(IDC_SET_ADDRESS, false);
}

void CDeviceListCtrl::FillList() {
  HWND list = List();
  if (!list) return;
  DeleteRows();
  const com::Bstr inUse = UserMessage(IDS_Entry_InUse, L"IDS_Entry_InUse");
  const com::Bstr notInUse = UserMessage(IDS_Entry_NotInUse, L"IDS_Entry_NotInUse");
  for (const DeviceListEntry& entry : entries_.Entries()) {
    std::wstring address = Number(L"%02u", entry.pollAddress);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = ListView_GetItemCount(list);
    item.pszText = &address[0];
    item.lParam = static_cast<LPARAM>(entry.key);
    const int row = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) continue;
    LVITEMW image = {};
    image.mask = LVIF_IMAGE;
    image.iItem = row;
    image.iSubItem = kColumnState;
    image.iImage = static_cast<int>(entry.state);
    ::SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&image));
    struct Cell {
      int column;
      std::wstring text;
    };
    const Cell cells[] = {
        {kColumnChannel, entry.channelName},
        {kColumnInUse, entry.inUse ? inUse.c_str() : notInUse.c_str()},
        {kColumnHartTag, entry.hartTag},
        {kColumnDtmTag, entry.dtmTag},
        {kColumnManufacturer, entry.manufacturer},
        {kColumnDeviceType, entry.deviceType},
        {kColumnDeviceId, DeviceIdText(entry.deviceId)},
        {kColumnHardwareRevision, Number(L"%u", entry.hardwareRevision)},
        {kColumnSoftwareRevision, Number(L"%u", entry.softwareRevision)},
    };
    for (const Cell& cell : cells) SetListCell(list, row, cell.column, cell.text.c_str());
  }
}

const DeviceListEntry* CDeviceListCtrl::SelectedEntry(int* row) const {
  HWND list = List();
  const int selected = list ? ListView_GetNextItem(list, -1, LVNI_SELECTED) : -1;
  if (row) *row = selected;
  if (selected < 0) return nullptr;
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = selected;
  if (!::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
  return entries_.Find(static_cast<ULONG>(item.lParam));
}

// ---- States --------------------------------------------------------------------------------

ULONG CDeviceListCtrl::CurrentDtmState() {
  long state = 0;
  if (auto base = DtmInterface<IevFdtBaseDTM>())
    if (SUCCEEDED(base->GetDtmState(&state))) return static_cast<ULONG>(state);
  return DtmState();
}

void CDeviceListCtrl::SetButtons() {
  if (!Dialog()) return;
  const ULONG state = CurrentDtmState();
  EnableItem(IDC_SET_ADDRESS, false);
  const bool usable = state == kDtmStateOnline && ChangesAllowed();
  EnableItem(IDC_UPDATE_LIST, usable && !scanActive_);
  EnableItem(IDC_STOP_SCAN, usable && scanActive_);
}

void CDeviceListCtrl::ShowScanStatus() {
  if (auto panes = HostedControl<IFooterStatusPanes>(IDC_FOOTER_BAR))
    panes->ShowStatus(kStatusPane, scanActive_ ? kScanStatus : 0);
}

STDMETHODIMP CDeviceListCtrl::OnStateChanged(unsigned long state) {
  HRESULT hr = DtmControl::OnStateChanged(state);
  com::guard([&]() -> HRESULT {
    SetButtons();
    return S_OK;
  });
  return hr;
}

void CDeviceListCtrl::OnEditStateChanged() { SetButtons(); }

STDMETHODIMP CDeviceListCtrl::SetProperty(VARIANT key, VARIANT value) {
  ULONG id = 0;
  if (SUCCEEDED(PropertyId(key, &id)) && id == property_id::kLanguage && GetControlState() != kControlClosing) {
    com::guard([&]() -> HRESULT {
      com::Variant language;
      if (FAILED(::VariantChangeType(language.get(), &value, 0, VT_UI4))) return S_OK;
      // The dialog's own texts follow in the base's handling of the property.
      if (Dialog()) ReadStatusTexts();
      TitleColumns();
      if (listReady_) Refresh(false);
      SetButtons();
      return S_OK;
    });
  }
  return DtmControl::SetProperty(key, value);
}

HRESULT CDeviceListCtrl::RefreshParameter(LONG id) {
  const HRESULT hr = DtmControl::RefreshParameter(id);
  com::guard([&]() -> HRESULT {
    switch (id) {
      case hart_param::kLastScanTime:
      case hart_param::kChangeCounter:
        Refresh(false);
        SetButtons();
        break;
      case hart_param::kScanActive: {
        com::Variant active;
        ReadParameterValue(id, active.get());
        OnScanActive(active.type() == VT_BOOL && V_BOOL(active.get()) != VARIANT_FALSE);
        break;
      }
      default:
        break;
    }
    return S_OK;
  });
  return hr;
}

void CDeviceListCtrl::OnScanActive(bool active) {
  if (active) {
    scanActive_ = true;
    EnableItem(IDC_SET_ADDRESS, false);
    EnableItem(IDC_UPDATE_LIST, false);
  } else {
    Refresh(false);
    scanActive_ = false;
    // The scan this control started has ended: closing the control later
    // stops no other scan (a topology scan of the frame, say).
    scanStartedHere_ = false;
  }
  ShowScanStatus();
  SetButtons();
}

// ---- Buttons and the list ---------------------------------------------------------------

void CDeviceListCtrl::OnUpdateList() {
  DeleteRows();
  if (!channel_) return;
  scanActive_ = true;
  SetButtons();
  if (HWND stop = Item(IDC_STOP_SCAN)) ::SetFocus(stop);
  scanStartedHere_ = true;
  if (FAILED(channel_->StartScan())) {
    // No scan runs, so no scan-active notice will end this one: the rows
    // and buttons come back as they were.
    scanActive_ = false;
    scanStartedHere_ = false;
    Refresh(false);
    SetButtons();
  }
}

void CDeviceListCtrl::OnStopScan() {
  if (scanActive_ && channel_) channel_->StopScan();
}

void CDeviceListCtrl::OnClose() {
  if (scanStartedHere_ && channel_) channel_->StopScan();
  PostCloseRequest();
}

void CDeviceListCtrl::OnListClick() {
  EnableItem(IDC_SET_ADDRESS, false);
  const DeviceListEntry* entry = SelectedEntry(nullptr);
  if (!entry) return;
  const bool knownKind = entry->kind == kEntryDtm || entry->kind == kEntryDevice || entry->kind == kEntryDeviceWithDtm;
  // Not while a scan runs: the rows are being rebuilt, and an address
  // change would only wait for the scan's end.
  EnableItem(IDC_SET_ADDRESS, !entry->inUse && ChangesAllowed() && knownKind && !scanActive_);
}

HRESULT CDeviceListCtrl::OnSetAddress() {
  auto container = DtmInterface<IevFdtActiveXContainer>();
  if (!container || !ParameterHandler()) return E_UNEXPECTED;
  int row = -1;
  const DeviceListEntry* found = SelectedEntry(&row);
  if (!found) return S_FALSE;
  const DeviceListEntry entry = *found;  // the writes below may rebuild the rows
  // A device held by a connection keeps its address.
  if (entry.inUse || scanActive_) return S_FALSE;

  // The row's address as it shows it.
  com::Variant address;
  V_VT(address.get()) = VT_UI1;
  V_UI1(address.get()) =
      static_cast<BYTE>(std::wcstoul(ListCell(List(), row, kColumnAddress).c_str(), nullptr, 10));
  const com::Variant systemTag(entry.systemTag.c_str());

  LONG function = 0;
  switch (entry.kind) {
    case kEntryDtm:
      WriteParameterValue(hart_param::kNewDeviceSystemTag, systemTag.value());
      function = hart_function::kNewDeviceDtmAddress;
      break;
    case kEntryDevice:
      WriteParameterValue(hart_param::kSelectedPollAddress, address.value());
      function = hart_function::kSlaveAddress;
      break;
    case kEntryDeviceWithDtm:
      if (CurrentDtmState() == kDtmStateOnline) {
        WriteParameterValue(hart_param::kSelectedPollAddress, address.value());
        WriteParameterValue(hart_param::kNewDeviceSystemTag, systemTag.value());
        function = hart_function::kDeviceAndDtmAddress;
      } else {
        WriteParameterValue(hart_param::kNewDeviceSystemTag, systemTag.value());
        function = hart_function::kNewDeviceDtmAddress;
      }
      break;
    default:
      return S_FALSE;
  }
  VARIANT_BOOL opened = VARIANT_FALSE;
  return container->RequestFunctionControl(function, 0, &opened);
}

bool CDeviceListCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (!header || header->idFrom != IDC_DEVICE_LIST) return false;
      // "Set Address ..." follows the selected row however it was selected:
      // a click, or the keyboard (a changed selection state).
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
      const bool selectionChanged = header->code == static_cast<UINT>(LVN_ITEMCHANGED) &&
                                    (change->uChanged & LVIF_STATE) != 0 &&
                                    ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) != 0;
      if (header->code != static_cast<UINT>(NM_CLICK) && !selectionChanged) return false;
      OnListClick();
      *result = 0;
      return true;
    }
    case WM_SIZE:
      Layout(LOWORD(lParam), HIWORD(lParam));
      return false;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize.x = kMinWidth;
      limits->ptMinTrackSize.y = kMinHeight;
      *result = 0;
      return true;
    }
    case WM_COMMAND:
      break;
    default:
      return false;
  }
  if (HIWORD(wParam) != BN_CLICKED) return false;
  *result = 0;
  switch (LOWORD(wParam)) {
    case IDC_UPDATE_LIST:
      OnUpdateList();
      return true;
    case IDC_STOP_SCAN:
      OnStopScan();
      return true;
    case IDC_SET_ADDRESS: {
      // The frame may open the function's control from inside the call.
      com::ComPtr<IUnknown> hold(Self());
      OnSetAddress();
      return true;
    }
    case IDC_CANCEL:
      OnClose();
      return true;
    default:
      return false;
  }
}

STDMETHODIMP CDeviceListCtrl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  HRESULT hr = DtmControl::PrepareToRelease(result);
  if (FAILED(hr) || !*result) return hr;
  OfferFunctionAgain(hart_function::kDeviceList);
  return hr;
}

// ---- Layout ----------------------------------------------------------------------------------

void CDeviceListCtrl::RememberLayout() {
  places_.clear();
  RECT client = {};
  ::GetClientRect(Dialog(), &client);
  templateSize_ = {client.right, client.bottom};
  for (const Anchor& anchor : kAnchors) {
    HWND item = Item(anchor.id);
    if (!item) continue;
    RECT rect = {};
    ::GetWindowRect(item, &rect);
    ::MapWindowPoints(nullptr, Dialog(), reinterpret_cast<POINT*>(&rect), 2);
    places_.push_back({anchor.id, rect});
  }
}

void CDeviceListCtrl::Layout(int width, int height) {
  if (!Dialog() || places_.empty()) return;
  const LONG dx = width - templateSize_.cx;
  const LONG dy = height - templateSize_.cy;
  for (const ItemPlace& place : places_) {
    HWND item = Item(place.id);
    if (!item) continue;
    const Anchor* anchor = nullptr;
    for (const Anchor& a : kAnchors)
      if (a.id == place.id) anchor = &a;
    if (!anchor) continue;
    RECT r = place.rect;
    if (anchor->moveX) ::OffsetRect(&r, dx, 0);
    if (anchor->moveY) ::OffsetRect(&r, 0, dy);
    if (anchor->growX) r.right += dx;
    if (anchor->growY) r.bottom += dy;
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    ::SetWindowPos(item, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The size grip is of no use while the window is maximised.
  if (HWND grip = Item(IDC_SIZE_GRIP)) {
    const bool maximised = ::IsZoomed(::GetAncestor(Dialog(), GA_ROOT)) != FALSE;
    ::ShowWindow(grip, maximised ? SW_HIDE : SW_SHOW);
  }
}
