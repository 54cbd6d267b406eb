#include "scan_range_ctrl.h"

#include <cstdlib>
#include <string>

#include "com/Guard.h"
#include "scan_range_resources.h"

namespace {

// Parameters of the HART DTM that take the range.
constexpr LONG kScanRangeStart = 980;
constexpr LONG kScanRangeEnd = 981;
constexpr LONG kHighestAddress = 15;

const ParameterMapRow kParameterMap[] = {HeaderRow(990, IDC_DEVICE_HEADER),
                                         HeaderRow(991, IDC_DEVICE_HEADER), kEndOfMap};

const ItemName kItemNames[] = {
    {IDC_DEVICE_HEADER, "IDC_EVFDTPARAMIDENTCTRL"}, {IDC_RANGE_FRAME, "IDC_ScanRangeStatic"},
    {IDC_START_LABEL, "IDC_ScanStartStatic"},       {IDC_END_LABEL, "IDC_ScanEndStatic"},
    {IDC_COMBO_START, "IDC_ComboScanStart"},        {IDC_COMBO_END, "IDC_ComboScanEnd"},
    {IDC_CANCEL_BUTTON, "IDC_BtnCancel"},           {IDOK, "IDOK"},
    {0, nullptr}};

const UINT kFooterItems[] = {IDC_FOOTER_BAR, 0};

const ControlDescription kDescription = {
    &CLSID_evHrtFdtScanRangeActiveX, IDD_SCAN_RANGE, kParameterMap, kItemNames, kFooterItems, 0,
    L"*/FDTFunctionCall/@func:functionId", true, &SchemaNamesBySeparators, IDC_CANCEL_BUTTON};

// The selected item's text of a drop-down list (empty when none).
std::wstring SelectedText(HWND list) {
  const LRESULT index = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (index < 0) return std::wstring();
  const LRESULT length = ::SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

CevHrtFdtScanRangeActiveX::CevHrtFdtScanRangeActiveX() : DtmControl(kDescription) {}

const com::InterfaceEntry* CevHrtFdtScanRangeActiveX::interfaceMap() { return DtmControlInterfaceMap<CevHrtFdtScanRangeActiveX, IevHrtFdtScanRangeActiveX>(); }

STDMETHODIMP CevHrtFdtScanRangeActiveX::AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) {
  HRESULT hr = DtmControl::AttachDtm(dtm, result);
  if (FAILED(hr)) return hr;
  FillRangeCombos(0, kHighestAddress);
  return S_OK;
}

void CevHrtFdtScanRangeActiveX::OnDialogCreated() {
  if (hasRange_) FillRangeCombos(start_, end_);
}

void CevHrtFdtScanRangeActiveX::FillRangeCombos(LONG start, LONG end) {
  hasRange_ = true;
  start_ = start;
  end_ = end;
  HWND startList = Item(IDC_COMBO_START);
  HWND endList = Item(IDC_COMBO_END);
  if (!startList || !endList) return;
  ::SendMessageW(endList, CB_RESETCONTENT, 0, 0);
  ::SendMessageW(startList, CB_RESETCONTENT, 0, 0);
  for (LONG i = 0; i <= kHighestAddress; ++i) {
    const std::wstring text = std::to_wstring(i);
    if (i <= end) ::SendMessageW(startList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (i >= start) ::SendMessageW(endList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  // By prefix over the whole list: in ascending order the item equal to the
  // text comes before a longer one that begins with it (1 before 10).
  const std::wstring endText = std::to_wstring(end);
  const std::wstring startText = std::to_wstring(start);
  ::SendMessageW(endList, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(endText.c_str()));
  ::SendMessageW(startList, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(startText.c_str()));
}

bool CevHrtFdtScanRangeActiveX::ReadRange(LONG* start, LONG* end) {
  HWND startList = Item(IDC_COMBO_START);
  HWND endList = Item(IDC_COMBO_END);
  if (!startList || !endList) {
    if (!hasRange_) return false;
    *start = start_;
    *end = end_;
    return true;
  }
  const std::wstring endText = SelectedText(endList);
  const std::wstring startText = SelectedText(startList);
  if (endText.size() > 10 || startText.size() > 10) return false;
  *start = std::wcstol(startText.c_str(), nullptr, 10);
  *end = std::wcstol(endText.c_str(), nullptr, 10);
  if (*end < *start) *end = *start;
  return true;
}

void CevHrtFdtScanRangeActiveX::OnRangeSelChange() {
  LONG start = 0, end = 0;
  if (ReadRange(&start, &end)) FillRangeCombos(start, end);
}

void CevHrtFdtScanRangeActiveX::OnOK() {
  LONG start = 0, end = 0;
  if (!ReadRange(&start, &end)) return;
  // The close is asked for whatever the writes answer.
  WriteParameterValue(kScanRangeStart, com::Variant(start).value());
  WriteParameterValue(kScanRangeEnd, com::Variant(end).value());
  PostCloseRequest();
}

bool CevHrtFdtScanRangeActiveX::OnControlMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
  if (message != WM_COMMAND) return false;
  const UINT item = LOWORD(wParam);
  const UINT code = HIWORD(wParam);
  *result = 0;
  if (item == IDC_CANCEL_BUTTON && code == BN_CLICKED) {
    PostCloseRequest();
    return true;
  }
  if ((item == IDC_COMBO_START || item == IDC_COMBO_END) && code == CBN_SELCHANGE) {
    OnRangeSelChange();
    return true;
  }
  if (item == IDOK && code == BN_CLICKED) {
    OnOK();
    return true;
  }
  return false;
}
