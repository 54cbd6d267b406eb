// DtmControl: field colours and state markers by row state, and the state
// update of one row (shown, enabled, read-only, redrawn).
#include <windows.h>
#include <commctrl.h>

#include <cwchar>

#include "toolkit/controls/control_base.h"

namespace {

// Symbolic colours, resolved per row when used.
constexpr COLORREF kAutomaticText = 0x10000000;
constexpr COLORREF kGreyText = 0x209C9C9C;
constexpr COLORREF kWindowBackground = 0x30FFFFFF;
constexpr COLORREF kButtonFace = 0x40A0A0A0;
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
// The question-mark state: "?" in orange.
constexpr COLORREF kQuestionColour = 0x007FFF;
const wchar_t kQuestionSymbol[] = L"?";

constexpr ULONG kStateBits = kRowWritable | kRowChanged | kRowInvalid;

void Redraw(HWND window) {
  if (window && ::IsWindow(window))
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

// Sets a marker's text only when it differs (a change repaints it).
void SetMarkerText(HWND marker, const wchar_t* text) {
  wchar_t current[64] = {};
  ::GetWindowTextW(marker, current, 64);
  if (std::wcscmp(current, text) != 0) ::SetWindowTextW(marker, text);
}

}  // namespace

void DtmControl::InitStateMarkers() {
  stateMarkers_ = {
      {0, L"", kAutomaticText, kButtonFace, kGreyText},
      {4, L"!", kAutomaticText, kButtonFace, kRed},
      {2, L"*", kAutomaticText, kButtonFace, kBlue},
      {6, L"!", kAutomaticText, kButtonFace, kRed},
      {1, L"", kAutomaticText, kWindowBackground, kAutomaticText},
      {5, L"!", kRed, kWindowBackground, kRed},
      {3, L"*", kBlue, kWindowBackground, kBlue},
      {7, L"!", kRed, kWindowBackground, kRed},
  };
}

const DtmControl::StateMarker* DtmControl::FindStateMarker(ULONG flags) const {
  for (const StateMarker& entry : stateMarkers_)
    if (entry.key == (flags & kStateBits)) return &entry;
  return nullptr;
}

COLORREF DtmControl::ResolveColour(COLORREF colour, const CActXParInfo& row) const {
  switch (colour) {
    case kAutomaticText:
      if (row.displayFlags & kDisplayProgressBar) return ::GetSysColor(COLOR_HIGHLIGHT);
      if (row.displayFlags & kDisplayButtonText) return ::GetSysColor(COLOR_BTNTEXT);
      return ::GetSysColor(COLOR_WINDOWTEXT);
    case kGreyText:
      return ::GetSysColor(COLOR_GRAYTEXT);
    case kWindowBackground:
      return ::GetSysColor((row.displayFlags & kDisplayButtonFace) ? COLOR_BTNFACE : COLOR_WINDOW);
    case kButtonFace:
      return ::GetSysColor(COLOR_BTNFACE);
    default:
      return colour;
  }
}

void DtmControl::SetBackgroundBrush(COLORREF colour) { brush_.reset(::CreateSolidBrush(colour)); }

bool DtmControl::InQuestionMarkState(const CActXParInfo& row, bool forMarker) const {
  const bool mode = OnlineMode() || ((mode_ & kModeBit1) && (row.displayFlags & kDisplayDeviceData));
  if (!mode || !(row.flags & kRowQuestion)) return false;
  if (row.flags & (kRowChanged | kRowInvalid)) return false;
  return !(forMarker && (row.flags & kRowNotRead));
}

HBRUSH DtmControl::OnCtlColorEdit(HDC dc, HWND window, bool* handled) {
  const CActXParInfo* found = nullptr;
  for (const CActXParInfo& row : rows_) {
    HWND item = row.itemWindow ? row.itemWindow : Item(row.item);
    if (!item) continue;
    if (item == window || ((row.displayFlags & kDisplayChildColours) && ::IsChild(item, window))) {
      found = &row;
      break;
    }
  }
  if (!found) return nullptr;
  const StateMarker* entry = FindStateMarker(found->flags);
  if (!entry) return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  if (found->markerWindow) ::EnableWindow(found->markerWindow, TRUE);
  return ColourItem(dc, *found, *entry, handled);
}

HBRUSH DtmControl::ColourItem(HDC dc, const CActXParInfo& row, const StateMarker& entry, bool* handled) {
  if (row.displayFlags & kDisplayDefaultColours) {
    *handled = false;
    return nullptr;
  }
  const COLORREF background = ResolveColour(entry.background, row);
  ::SetTextColor(dc, ResolveColour(entry.text, row));
  ::SetBkColor(dc, background);
  SetBackgroundBrush(background);
  return brush_.get();
}

HBRUSH DtmControl::OnCtlColorOther(HDC dc, HWND window, bool* handled) {
  const CActXParInfo* found = nullptr;
  for (const CActXParInfo& row : rows_)
    if ((row.itemWindow ? row.itemWindow : Item(row.item)) == window) {
      found = &row;
      break;
    }
  if (!found) return nullptr;
  const StateMarker* entry = FindStateMarker(found->flags);
  if (!entry) return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  if (!::IsWindowEnabled(window)) {
    if (found->markerWindow) ::EnableWindow(found->markerWindow, FALSE);
    return nullptr;
  }
  if (found->markerWindow) ::EnableWindow(found->markerWindow, TRUE);
  return ColourItem(dc, *found, *entry, handled);
}

HBRUSH DtmControl::OnCtlColorStatic(HDC dc, HWND window, bool* handled) {
  const CActXParInfo* found = nullptr;
  bool isMarker = false;
  for (const CActXParInfo& row : rows_) {
    if (row.markerWindow && row.markerWindow == window) {
      found = &row;
      isMarker = true;
      break;
    }
    if ((row.itemWindow ? row.itemWindow : Item(row.item)) == window) {
      found = &row;
      break;
    }
  }
  if (!found) return nullptr;
  const CActXParInfo& row = *found;

  if (!isMarker) {
    if (InQuestionMarkState(row, false) && !::IsWindowEnabled(window) && row.markerWindow) {
      ::EnableWindow(row.markerWindow, TRUE);
      return nullptr;
    }
    const StateMarker* entry = FindStateMarker(row.flags);
    if (!entry) return nullptr;
    if (!::IsWindowEnabled(window)) {
      if (row.markerWindow) ::EnableWindow(row.markerWindow, FALSE);
      return nullptr;
    }
    if (row.markerWindow) ::EnableWindow(row.markerWindow, TRUE);
    HBRUSH brush = ColourItem(dc, row, *entry, handled);
    if (brush) ::SelectObject(dc, brush);
    return brush;
  }

  // The marker window, always on the button face.
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  if (InQuestionMarkState(row, true)) {
    SetMarkerText(window, row.marker ? kQuestionSymbol : L"");
    if (row.displayFlags & kDisplayDefaultColours) {
      *handled = false;
      return nullptr;
    }
    ::SetTextColor(dc, kQuestionColour);
    ::SetBkColor(dc, face);
    SetBackgroundBrush(face);
    return brush_.get();
  }
  const StateMarker* entry = FindStateMarker(row.flags);
  if (!entry) return nullptr;
  SetMarkerText(window, row.marker ? entry->symbol : L"");
  if (row.displayFlags & kDisplayDefaultColours) {
    *handled = false;
    return nullptr;
  }
  ::SetTextColor(dc, ResolveColour(entry->marker, row));
  ::SetBkColor(dc, face);
  SetBackgroundBrush(face);
  if (row.displayFlags & kDisplayProgressBar) {
    if (!::IsWindowEnabled(window)) return nullptr;
    if (HWND item = row.itemWindow ? row.itemWindow : Item(row.item)) {
      ::SendMessageW(item, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(ResolveColour(entry->text, row)));
      ::SendMessageW(item, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(ResolveColour(entry->background, row)));
    }
  }
  return brush_.get();
}

HRESULT DtmControl::SetRowState(int row, ULONG flags) {
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  CActXParInfo& r = rows_[row];
  r.flags = (flags & r.flagMask) | (r.flags & ~r.flagMask);
  if (!r.item) return S_OK;
  HWND item = Item(r.item);
  if (!item) return S_OK;  // the window does not exist yet: the flags are kept

  // A parameter control shows the state itself.
  com::ComPtr<IUnknown> hosted;
  if (SUCCEEDED(com::GetHostedControl(item, hosted.put())) && hosted) {
    com::ComPtr<IParameterControl> control;
    if (FAILED(hosted.as(control)) || !control) return E_UNEXPECTED;
    control->SetState(static_cast<ULONG>(r.id), r.flags);
    Redraw(r.markerWindow);
    return S_OK;
  }

  const int show = (r.flags & kRowNotRead) ? SW_HIDE : SW_SHOWNA;
  ::ShowWindow(item, show);
  if (HWND unit = Item(r.unitItem)) ::ShowWindow(unit, show);
  const int kind = GetDialogItemKind(item);
  const bool writable = (r.flags & kRowWritable) != 0;
  if (kind == kItemEdit || kind == kItemRichEdit) {
    // A read-only edit stays enabled (its text can be selected and copied).
    ::EnableWindow(item, TRUE);
    ::SendMessageW(item, EM_SETREADONLY, writable ? FALSE : TRUE, 0);
  } else {
    ::EnableWindow(item, writable ? TRUE : FALSE);
  }
  if (kind == kItemComboBox) {
    // Its edit field stays enabled, so that the text shows normally, and is
    // read-only while the combo box is disabled.
    if (HWND field = ::GetWindow(item, GW_CHILD)) {
      const bool disabled = !::IsWindowEnabled(item);
      ::EnableWindow(field, TRUE);
      ::SendMessageW(field, EM_SETREADONLY, disabled ? TRUE : FALSE, 0);
    }
  }
  Redraw(item);
  Redraw(r.markerWindow);
  return S_OK;
}
