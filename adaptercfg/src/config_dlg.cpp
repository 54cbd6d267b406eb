#include "config_dlg.h"

#include <cstdio>

#include "../res/resource.h"
#include "firmware.h"
#include "shared/service_pipe.h"
#include "small_dialogs.h"
#include "texts.h"
#include "upgrade_dlg.h"
#include "win32/callback_guard.h"

namespace adaptercfg {

namespace {

// Which panel control is visible for which node type.
struct PanelRow {
  int id;
  bool forRoot;
  bool forAdapter;
};
constexpr PanelRow kPanelTable[] = {
    {IDC_ROOT_HELP, true, false},   {IDC_SERIAL_LABEL, false, true}, {IDC_SERIAL, false, true},
    {IDC_SEARCH, false, true},      {IDC_PORT_LABEL, false, true},   {IDC_PORT_CHECK, false, true},
    {IDC_PORT_LIST, false, true},
};

// The panel controls that the in-use flag disables.
constexpr int kAdapterPanelControls[] = {IDC_SERIAL_LABEL, IDC_SERIAL,     IDC_SEARCH,
                                         IDC_PORT_CHECK,   IDC_PORT_LABEL, IDC_PORT_LIST};

constexpr uint16_t kLegacyUsbAnswerSize = 2;
constexpr uint16_t kLegacyUsb2AnswerSize = 4;

HICON LoadIconOfSize(int id, int size) {
  return static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  GetWindowTextA(window, &text[0], length + 1);
  text.resize(strlen(text.c_str()));
  return text;
}

}  // namespace

ConfigDlg::ConfigDlg(LegacyDriver& legacyDriver) : legacyDriver_(legacyDriver) {}

ConfigDlg::~ConfigDlg() {
  if (dialog_) DestroyWindow(dialog_);
}

std::string ConfigDlg::LegacyDeviceName(int slot) {
  const int index = slot % 16;
  return std::string(slot < 16 ? "\\\\.\\_evHART_USB" : "\\\\.\\_evHART2USB") + std::to_string(index);
}

INT_PTR ConfigDlg::RunModal(HWND owner) {
  modal_ = true;
  result_ = DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(IDD_CONFIG), owner, Proc,
                            reinterpret_cast<LPARAM>(this));
  return result_;
}

HWND ConfigDlg::CreateModeless(HWND owner) {
  modal_ = false;
  return CreateDialogParamW(ResourceModule(), MAKEINTRESOURCEW(IDD_CONFIG), owner, Proc,
                            reinterpret_cast<LPARAM>(this));
}

void ConfigDlg::Finish(INT_PTR result) {
  result_ = result;
  if (modal_)
    EndDialog(dialog_, result);
  else
    DestroyWindow(dialog_);
}

INT_PTR CALLBACK ConfigDlg::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<ConfigDlg*>(lParam);
    self->dialog_ = dialog;
    // A configuration that could not be shown whole is not offered for
    // editing: the dialog ends as one that could not be made.
    const bool shown = win32::guard(false, [&] {
      self->OnInitDialog();
      return true;
    });
    if (!shown) self->Finish(-1);
    return FALSE;  // the tree has the focus
  }
  auto* self = reinterpret_cast<ConfigDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self) return FALSE;
  return win32::guard(INT_PTR{FALSE}, [&] { return self->HandleMessage(message, wParam, lParam); });
}

INT_PTR ConfigDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->idFrom != IDC_TREE) return FALSE;
      SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, OnTreeNotify(header));
      return TRUE;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUT) {
        OnAbout();
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      if (!IsIconic(dialog_)) return FALSE;
      OnPaint();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(smallIcon_.get());
    case WM_SETCURSOR:
      if (!Applying()) return FALSE;
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case kMsgApplyDone:
      OnApplyDone(static_cast<ApplyResult>(wParam));
      return TRUE;
    case WM_DESTROY: {
      // Only a dialog destroyed from outside ends while OK's requests are
      // on their way; the rest of them is not sent. The one on its way is
      // waited for a while, not for good: a service that took it and hangs
      // would keep the program. The thread then finishes on its own, and
      // the user learns that the configuration may be written in part.
      bool abandoned = false;
      if (applyThread_) {
        applyJob_->stop = true;
        if (WaitForSingleObject(applyThread_.get(), applyEndWait_) != WAIT_OBJECT_0) {
          win32::CsLock hold(applyJob_->lock);
          applyJob_->target = nullptr;
          abandoned = true;
        }
        applyThread_.reset();
        applyJob_.reset();
      }
      // The legacy devices stay open while the dialog lives; not longer.
      for (LegacyHandle& handle : legacy_) handle.Reset();
      SetWindowLongPtrW(dialog_, DWLP_USER, 0);
      images_.reset();
      bigIcon_.reset();
      smallIcon_.reset();
      dialog_ = tree_ = nullptr;
      rootItem_ = current_ = nullptr;
      if (abandoned) Ask(nullptr, FormatText(texts::kApplyAbandoned, shared::kServiceDisplayName), MB_OK | MB_ICONWARNING);
      return TRUE;
    }
  }
  return FALSE;
}

void ConfigDlg::OnInitDialog() {
  tree_ = GetDlgItem(dialog_, IDC_TREE);
  const std::string title = LoadText(IDS_TITLE);
  if (HMENU menu = GetSystemMenu(dialog_, FALSE); menu && !title.empty()) {
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_ABOUT, title.c_str());
  }
  bigIcon_.reset(LoadIconOfSize(IDI_MAIN, GetSystemMetrics(SM_CXICON)));
  smallIcon_.reset(LoadIconOfSize(IDI_MAIN, GetSystemMetrics(SM_CXSMICON)));
  SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
  SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
  BuildImageList();

  root_ = TreeNode();
  usedPorts_ = 0;
  ReadConfiguration(root_, &usedPorts_);

  rootItem_ = InsertItem(&root_, TVI_ROOT);
  SetItemText(rootItem_, title);
  for (const auto& child : root_.children) InsertItem(child.get(), rootItem_);

  inUse_ = false;
  foreignPorts_ = ReadForeignPorts() & ~usedPorts_;
  inUse_ = AnyAttachedAdapterInUse();
  if (inUse_) {
    Ask(dialog_, LoadText(IDS_IN_USE), MB_OK | MB_ICONEXCLAMATION);
    EnableWindow(GetDlgItem(dialog_, IDC_ADD), FALSE);
    EnableWindow(GetDlgItem(dialog_, IDC_REMOVE), FALSE);
  }
  SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(rootItem_));
  SetFocus(tree_);
}

void ConfigDlg::BuildImageList() {
  // Two images per node type t: normal 2t-2, selected 2t-1 (types 1 to 5).
  images_.reset(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 10, 0));
  UniqueIcon root(LoadIconOfSize(IDI_ROOT, 16));
  UniqueIcon adapter(LoadIconOfSize(IDI_ADAPTER, 16));
  for (int type = 1; type <= 5; ++type)
    for (int image = 0; image < 2; ++image)
      ImageList_AddIcon(images_.get(), type == kNodeTypeRoot ? root.get() : adapter.get());
  SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images_.get()));
}

HTREEITEM ConfigDlg::InsertItem(TreeNode* node, HTREEITEM parent) {
  TVINSERTSTRUCTA insert = {};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  std::string text = node->entry ? node->entry->label : std::string();
  insert.item.pszText = &text[0];
  insert.item.iImage = 2 * node->type - 2;
  insert.item.iSelectedImage = 2 * node->type - 1;
  insert.item.lParam = reinterpret_cast<LPARAM>(node);
  auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
  if (parent != TVI_ROOT) SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
  return item;
}

void ConfigDlg::SetItemText(HTREEITEM item, const std::string& text) {
  TVITEMA tvItem = {};
  tvItem.mask = TVIF_TEXT;
  tvItem.hItem = item;
  std::string copy = text;
  tvItem.pszText = &copy[0];
  SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&tvItem));
}

TreeNode* ConfigDlg::NodeOf(HTREEITEM item) const {
  if (!item) return nullptr;
  TVITEMW tvItem = {};
  tvItem.mask = TVIF_PARAM;
  tvItem.hItem = item;
  if (!SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tvItem))) return nullptr;
  return reinterpret_cast<TreeNode*>(tvItem.lParam);
}

void ConfigDlg::OnCommand(int id, int code) {
  if (Applying()) return;  // the controls are disabled; Escape and the close box wait too
  switch (id) {
    case IDC_ADD:
      OnAdd();
      break;
    case IDC_REMOVE:
      OnRemove();
      break;
    case IDC_PORT_CHECK:
      if (code == BN_CLICKED) OnPortCheck();
      break;
    case IDC_SEARCH:
      SearchUsbAdapters();
      break;
    case IDC_INFO:
      OnAbout();
      break;
    case IDOK:
      ApplyConfiguration();
      break;
    case IDCANCEL:
      OnCancel();
      break;
  }
}

void ConfigDlg::OnCancel() {
  // Cancel, Escape and the close box: nothing is written, but after an
  // apply that was cut short the service holds part of the configuration.
  if (partlyWritten_ &&
      Ask(dialog_, texts::kLeavePartlyWritten, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
    return;
  Finish(IDCANCEL);
}

LRESULT ConfigDlg::OnTreeNotify(NMHDR* header) {
  switch (header->code) {
    // A serial text that cannot be saved keeps the selection where it is,
    // so that the user can correct it.
    case TVN_SELCHANGINGA:
    case TVN_SELCHANGINGW:
      return current_ && !CheckSerialText(current_) ? TRUE : FALSE;
    case TVN_SELCHANGEDA:
      OnSelChanged(reinterpret_cast<NMTREEVIEWA*>(header)->itemNew.hItem);
      break;
    case TVN_SELCHANGEDW:
      OnSelChanged(reinterpret_cast<NMTREEVIEWW*>(header)->itemNew.hItem);
      break;
    case TVN_KEYDOWN:
      OnTreeKeyDown(reinterpret_cast<NMTVKEYDOWN*>(header)->wVKey);
      break;
  }
  return 0;
}

void ConfigDlg::OnSelChanged(HTREEITEM item) {
  if (current_) SaveEntry(current_);
  current_ = item;
  ShowEntry(item);
  SetFocus(tree_);
}

void ConfigDlg::OnTreeKeyDown(WORD key) {
  switch (key) {
    case VK_UP:
    case VK_DOWN: {
      auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
      // With a serial text that cannot be saved the tree's own move is
      // refused, and says why (TVN_SELCHANGING).
      if (!selected || !SerialTextValid(selected)) break;
      SaveEntry(selected);
      auto next = reinterpret_cast<HTREEITEM>(SendMessageW(
          tree_, TVM_GETNEXTITEM, key == VK_UP ? TVGN_PREVIOUSVISIBLE : TVGN_NEXTVISIBLE,
          reinterpret_cast<LPARAM>(selected)));
      if (next) {
        current_ = next;
        ShowEntry(next);
      }
      SetFocus(tree_);
      break;
    }
    // The keys do what the buttons do, and nothing while the buttons are
    // disabled (an adapter is in use).
    case VK_INSERT:
      if (IsWindowEnabled(GetDlgItem(dialog_, IDC_ADD))) OnAdd();
      break;
    case VK_DELETE:
      if (IsWindowEnabled(GetDlgItem(dialog_, IDC_REMOVE))) OnRemove();
      break;
  }
}

void ConfigDlg::ShowPanelFor(int16_t nodeType) {
  for (const PanelRow& row : kPanelTable) {
    const bool visible = nodeType == kNodeTypeRoot ? row.forRoot : row.forAdapter;
    ShowWindow(GetDlgItem(dialog_, row.id), visible ? SW_SHOW : SW_HIDE);
  }
}

void ConfigDlg::ShowEntry(HTREEITEM item) {
  TreeNode* node = NodeOf(item);
  if (!node) return;
  if (node->type == kNodeTypeRoot || !node->entry) {
    SetDlgItemTextA(dialog_, IDC_TYPE_LABEL, "");
    ShowPanelFor(kNodeTypeRoot);
    SetDlgItemTextA(dialog_, IDC_ROOT_HELP, LoadText(IDS_ROOT_HELP).c_str());
    return;
  }
  AdapterEntry& entry = *node->entry;
  SetDlgItemTextA(dialog_, IDC_TYPE_LABEL, texts::kAdapterTypeLabel);
  serialText_ = FormatSerial(entry.serial);
  ShowPanelFor(kNodeTypeUsbAdapter);
  SetDlgItemTextA(dialog_, IDC_SERIAL_LABEL, texts::kSerialLabel);
  SetDlgItemTextA(dialog_, IDC_SEARCH, texts::kSearchButton);
  SetDlgItemTextA(dialog_, IDC_PORT_LABEL, texts::kPortLabel);
  for (int id : kAdapterPanelControls) EnableWindow(GetDlgItem(dialog_, id), TRUE);

  // The entry's own port is offered as free while it is shown.
  if (entry.portByte & kPortWanted) usedPorts_ &= ~(1u << (entry.portByte & kPortIndexMask));

  HWND check = GetDlgItem(dialog_, IDC_PORT_CHECK);
  HWND list = GetDlgItem(dialog_, IDC_PORT_LIST);
  HWND label = GetDlgItem(dialog_, IDC_PORT_LABEL);
  SendMessageA(list, CB_RESETCONTENT, 0, 0);
  const uint32_t taken = usedPorts_ | foreignPorts_;
  if (taken == kAllPorts) {
    SendMessageA(check, BM_SETCHECK, BST_UNCHECKED, 0);
    EnableWindow(check, FALSE);
    EnableWindow(list, FALSE);
    EnableWindow(label, FALSE);
  } else {
    const bool wanted = (entry.portByte & kPortWanted) != 0;
    SendMessageA(check, BM_SETCHECK, wanted ? BST_CHECKED : BST_UNCHECKED, 0);
    EnableWindow(check, TRUE);
    EnableWindow(list, wanted);
    EnableWindow(label, wanted);
    int selectRow = -1;
    for (int i = 0; i < kComPortCount; ++i) {
      if (taken & (1u << i)) continue;
      char name[16];
      std::snprintf(name, sizeof name, texts::kPortFormat, i + 1);
      const auto row = static_cast<int>(SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name)));
      SendMessageA(list, CB_SETITEMDATA, row, i);
      if (selectRow < 0 || i == (entry.portByte & kPortIndexMask)) selectRow = row;
    }
    SendMessageA(list, CB_SETCURSEL, selectRow, 0);
  }
  if (inUse_)
    for (int id : kAdapterPanelControls) EnableWindow(GetDlgItem(dialog_, id), FALSE);
  SetDlgItemTextA(dialog_, IDC_SERIAL, serialText_.c_str());
}

bool ConfigDlg::SerialTextValid(HTREEITEM item) const {
  TreeNode* node = NodeOf(item);
  if (inUse_ || !node || node->type != kNodeTypeUsbAdapter || !node->entry) return true;
  uint32_t serial = 0;
  return ParseSerialText(WindowText(GetDlgItem(dialog_, IDC_SERIAL)), &serial);
}

bool ConfigDlg::CheckSerialText(HTREEITEM item) {
  if (SerialTextValid(item)) return true;
  HWND edit = GetDlgItem(dialog_, IDC_SERIAL);
  Ask(dialog_, FormatText(texts::kSerialRejected, WindowText(edit)), MB_OK | MB_ICONEXCLAMATION);
  // The dialog's own way to the box: it also selects the text.
  SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
  return false;
}

void ConfigDlg::SaveEntry(HTREEITEM item) {
  TreeNode* node = NodeOf(item);
  if (!node || node->type != kNodeTypeUsbAdapter || !node->entry) return;
  AdapterEntry& entry = *node->entry;
  serialText_ = WindowText(GetDlgItem(dialog_, IDC_SERIAL));
  uint32_t serial = 0;
  if (ParseSerialText(serialText_, &serial)) entry.serial = serial;

  if ((usedPorts_ | foreignPorts_) == kAllPorts) return;
  HWND list = GetDlgItem(dialog_, IDC_PORT_LIST);
  const LRESULT row = SendMessageA(list, CB_GETCURSEL, 0, 0);
  uint8_t portByte = 0;
  if (row != CB_ERR) portByte = static_cast<uint8_t>(SendMessageA(list, CB_GETITEMDATA, row, 0) & kPortIndexMask);
  if (SendDlgItemMessageA(dialog_, IDC_PORT_CHECK, BM_GETCHECK, 0, 0) == BST_CHECKED) {
    usedPorts_ |= 1u << portByte;
    portByte |= kPortWanted;
  }
  entry.portByte = portByte;
}

void ConfigDlg::OnPortCheck() {
  const bool checked = SendDlgItemMessageA(dialog_, IDC_PORT_CHECK, BM_GETCHECK, 0, 0) == BST_CHECKED;
  EnableWindow(GetDlgItem(dialog_, IDC_PORT_LIST), checked);
  EnableWindow(GetDlgItem(dialog_, IDC_PORT_LABEL), checked);
}

void ConfigDlg::OnAdd() {
  if (root_.children.size() < static_cast<size_t>(kMaxDeviceNumbers)) {
    TreeNode* node =
        root_.AppendAdapter(static_cast<int32_t>(root_.children.size()), kNewEntrySerial, 0);
    InsertItem(node, rootItem_);
  }
  SetFocus(tree_);
}

void ConfigDlg::OnRemove() {
  current_ = nullptr;
  auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  TreeNode* node = NodeOf(selected);
  if (!node || selected == rootItem_ || !node->parent || !node->entry) {
    SetFocus(tree_);
    return;
  }
  TreeNode* parent = node->parent;
  // Entries from the removed one's device number + 1 on move down by one;
  // both walks end where the array or the tree does.
  HTREEITEM sibling = selected;
  for (int64_t position = int64_t(node->entry->deviceNumber) + 1;
       position >= 0 && position < static_cast<int64_t>(parent->children.size()); ++position) {
    AdapterEntry* entry = parent->children[static_cast<size_t>(position)]->entry.get();
    if (entry && entry->deviceNumber > 0) {
      --entry->deviceNumber;
      entry->Relabel();
    }
    sibling = reinterpret_cast<HTREEITEM>(
        SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(sibling)));
    TreeNode* siblingNode = NodeOf(sibling);
    if (!siblingNode) break;
    if (siblingNode->entry) SetItemText(sibling, siblingNode->entry->label);
  }
  const int index = parent->IndexOf(node);
  // The item goes first: its notices must not see a destroyed node.
  SendMessageW(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(selected));
  parent->RemoveChild(index);
  SetFocus(tree_);
}

void ConfigDlg::OnAbout() { RunAboutDlg(dialog_); }

void ConfigDlg::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog_, &paint);
  SendMessageW(dialog_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(dialog_, &client);
  const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
  DrawIcon(dc, (client.right - client.left - cx + 1) / 2, (client.bottom - client.top - cy + 1) / 2, bigIcon_.get());
  EndPaint(dialog_, &paint);
}

void ConfigDlg::ApplyConfiguration() {
  if (inUse_) return Finish(IDOK);
  auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (selected) {
    // A serial the entry cannot take is said, not replaced by the old one.
    if (!CheckSerialText(selected)) return;
    current_ = selected;
    SaveEntry(selected);
  }
  applyJob_ = std::make_shared<ApplyJob>();
  applyJob_->requests = BuildApplyRequests(root_);
  applyJob_->target = dialog_;
  DisableWhileApplying();
  auto* handed = new std::shared_ptr<ApplyJob>(applyJob_);
  applyThread_.reset(CreateThread(nullptr, 0, ApplyThread, handed, 0, nullptr));
  if (!applyThread_) {
    delete handed;
    return OnApplyDone(ApplyResult::kServiceUnreachable);
  }
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

DWORD WINAPI ConfigDlg::ApplyThread(void* param) {
  auto* handed = static_cast<std::shared_ptr<ApplyJob>*>(param);
  const std::shared_ptr<ApplyJob> job = *handed;
  delete handed;
  // The dialog waits for kMsgApplyDone whatever happens: requests that
  // raised on their way may have been written in part.
  const ApplyResult result =
      win32::guard(ApplyResult::kIncomplete, [&] { return SendApplyRequests(job->requests, &job->stop); });
  win32::CsLock hold(job->lock);
  if (job->target) PostMessageW(job->target, kMsgApplyDone, static_cast<WPARAM>(result), 0);
  return 0;
}

void ConfigDlg::OnApplyDone(ApplyResult result) {
  // The thread posted this as its last act; it ends at once.
  if (applyThread_) WaitForSingleObject(applyThread_.get(), INFINITE);
  applyThread_.reset();
  applyJob_.reset();
  EnableAfterApplying();
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  if (result == ApplyResult::kApplied) {
    partlyWritten_ = false;
    return Finish(IDOK);
  }
  if (result == ApplyResult::kIncomplete) partlyWritten_ = true;
  const char* message = result == ApplyResult::kServiceUnreachable ? texts::kServiceUnreachable
                        : result == ApplyResult::kIncomplete       ? texts::kApplyIncomplete
                                                                   : texts::kApplyTooLong;
  Ask(dialog_, FormatText(message, shared::kServiceDisplayName), MB_OK | MB_ICONERROR);
  // The dialog stays: show the entry again, so that its own port counts as free.
  if (current_) ShowEntry(current_);
}

void ConfigDlg::DisableWhileApplying() {
  focusBeforeApplying_ = GetFocus();
  disabledWhileApplying_.clear();
  for (HWND child = GetWindow(dialog_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowEnabled(child)) continue;
    EnableWindow(child, FALSE);
    disabledWhileApplying_.push_back(child);
  }
}

void ConfigDlg::EnableAfterApplying() {
  for (HWND child : disabledWhileApplying_) EnableWindow(child, TRUE);
  disabledWhileApplying_.clear();
  HWND focus = focusBeforeApplying_ && IsChild(dialog_, focusBeforeApplying_) ? focusBeforeApplying_ : tree_;
  SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
  focusBeforeApplying_ = nullptr;
}

void ConfigDlg::SearchUsbAdapters() {
  AttachedDevicesDlg found;
  auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  TreeNode* node = NodeOf(selected);
  if (!node) return;
  found.nodeType = node->type;

  const std::vector<AttachedAdapter> attached = ReadAttachedAdapters(AttachedDevicesDlg::kSlotCount);
  for (size_t i = 0; i < attached.size(); ++i) found.ids[i] = attached[i].serial;

  if (attached.empty()) {
    bool upgraded = false, answered = false;
    for (int slot = 0; slot < kLegacyDeviceCount; ++slot) {
      LegacyHandle& handle = legacy_[slot];
      if (!handle.IsOpen() && !handle.Open(legacyDriver_, LegacyDeviceName(slot))) continue;
      const bool firstDriver = slot < 16;
      if (firstDriver && SearchLegacyDevices(slot)) upgraded = true;
      uint8_t answer[4] = {};
      if (handle.VendorRequest(kRequestReadEeprom, 0, 0, answer,
                               firstDriver ? kLegacyUsbAnswerSize : kLegacyUsb2AnswerSize)) {
        found.ids[slot] = static_cast<uint32_t>(answer[0] | answer[1] << 8);
        answered = true;
      }
    }
    if (upgraded) {
      Ask(dialog_, LoadText(IDS_UPGRADE_DONE), MB_OK | MB_ICONINFORMATION);
      return Finish(0);
    }
    if (!answered) {
      Ask(dialog_, LoadText(IDS_NO_DEVICES_FOUND), MB_OK | MB_ICONINFORMATION);
      return;
    }
  }

  if (found.Run(dialog_) == IDOK) SetDlgItemTextA(dialog_, IDC_SERIAL, found.resultText.c_str());
}

bool ConfigDlg::SearchLegacyDevices(int index) {
  LegacyHandle& handle = legacy_[index];
  if (!handle.IsOpen()) return false;
  uint8_t descriptor[kDeviceDescriptorSize] = {};
  if (!handle.Control(kIoctlGetDeviceDescriptor, nullptr, 0, descriptor, sizeof descriptor)) return false;
  if ((descriptor[10] | descriptor[11] << 8) != kLegacyProductId) return false;
  uint8_t status[kStatusBlockSize] = {};
  if (!handle.Control(kIoctlGetStatus, nullptr, 0, status, sizeof status) || status[3] == 0) return false;
  if (FirmwareTablesAreStandIns()) {
    // This build carries no firmware for the adapter: the upgrade is never
    // offered; the search goes on and lists the adapter.
    Ask(dialog_, texts::kUpgradeNotAvailable, MB_OK | MB_ICONINFORMATION);
    return false;
  }
  if (Ask(dialog_, LoadText(IDS_UPGRADE_QUESTION), MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
  UpgradeDlg upgrade(handle);
  upgrade.Run(dialog_);
  handle.Reset();
  return upgrade.Succeeded();
}

}  // namespace adaptercfg
