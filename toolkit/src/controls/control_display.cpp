// DtmControl: the parameter map's rows read from the DTM, shown in their
// items, edited, validated and written back.
#include <windows.h>
#include <commctrl.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <functional>
#include <limits>
#include <string>

#include "com/Guard.h"
#include "com/SafeArray.h"
#include "toolkit/controls/control_base.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/real_text.h"
#include "toolkit/values/text_helpers.h"


namespace {

constexpr LONG kSelectorKind = 0x1;
constexpr LONG kSelectorFlags = 0x4000;
constexpr LONG kSelectorValueList = 0x10000;
constexpr LONG kSelectorValueKind = 0x20000;
constexpr LONG kSelectorUnit = 0x40000;
constexpr LONG kSelectorDeviceValue = 0x200000;

constexpr size_t kTextChars = 256;

// The system default locale's decimal separator when it is one character.
wchar_t DecimalSeparator() {
  wchar_t text[8] = {};
  if (::GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SDECIMAL, text, 8) == 2) return text[0];
  return 0;
}

std::wstring WindowText(HWND window) {
  wchar_t text[kTextChars] = {};
  if (window) ::GetWindowTextW(window, text, static_cast<int>(kTextChars));
  return text;
}

bool IsCheckBox(HWND window) {
  return (::GetWindowLongPtrW(window, GWL_STYLE) & 0x2) != 0;
}

// A format applied to a number into 256 characters (the row's own format,
// from its static map).
std::wstring FormatNumber(const char* format, int number) {
  char text[kTextChars] = {};
  std::snprintf(text, sizeof text, format && *format ? format : "%d", number);
  return WideFromAnsi(text);
}

std::wstring FormatNumber(const char* format, unsigned number) {
  char text[kTextChars] = {};
  std::snprintf(text, sizeof text, format && *format ? format : "%u", number);
  return WideFromAnsi(text);
}

// The C runtime prints the point of its locale, which a frame may have
// changed (setlocale): the number's point is put back to ".", the one form
// that the display turns into the system's separator and that reads back.
std::wstring FormatNumber(const char* format, double number) {
  char text[kTextChars] = {};
  std::snprintf(text, sizeof text, format && *format ? format : "%g", number);
  std::wstring shown = WideFromAnsi(text);
  const lconv* conventions = std::localeconv();
  const char* point = conventions ? conventions->decimal_point : nullptr;
  if (!point || !point[0] || point[1] || point[0] == '.') return shown;
  const wchar_t localPoint = static_cast<unsigned char>(point[0]);
  for (size_t i = 1; i + 1 < shown.size(); ++i) {
    const wchar_t next = shown[i + 1];
    if (shown[i] == localPoint && std::iswdigit(shown[i - 1]) &&
        (std::iswdigit(next) || next == L'e' || next == L'E')) {
      shown[i] = L'.';
      break;
    }
  }
  return shown;
}

// A format applied to a text: "%s" is replaced by the text, "%%" by "%".
std::wstring FormatText(const char* format, const wchar_t* text) {
  const std::wstring pattern = WideFromAnsi(format && *format ? format : "%s");
  std::wstring out;
  for (size_t i = 0; i < pattern.size() && out.size() < kTextChars; ++i) {
    if (pattern[i] == L'%' && i + 1 < pattern.size()) {
      if (pattern[i + 1] == L's') {
        out += text ? text : L"";
        ++i;
        continue;
      }
      if (pattern[i + 1] == L'%') {
        out += L'%';
        ++i;
        continue;
      }
    }
    out += pattern[i];
  }
  if (out.size() > kTextChars - 1) out.resize(kTextChars - 1);
  return out;
}

// Walks the (number, text) entries of a value list.
template <class Visit>
void ForEachEntry(const VARIANT& list, Visit visit) {
  LONG count = 0;
  if (FAILED(BstrArrayGetLowerBound(list, &count))) return;
  for (LONG i = 0; i < count; ++i) {
    LONG number = 0;
    com::Bstr text;
    if (FAILED(BstrArrayGetAt(list, i, &number, text.put()))) continue;
    visit(number, text.c_str());
  }
}

bool IsTextList(const VARIANT& v) { return V_VT(&v) == (VT_ARRAY | VT_BSTR) && V_ARRAY(&v); }

}  // namespace

// ---- Rows ---------------------------------------------------------------------

CActXParInfo::CActXParInfo(const ParameterMapRow& row)
    : id(row.id),
      name(row.name),
      item(row.item),
      format(row.format),
      flags(row.flags),
      displayFlags(row.displayFlags),
      updateInfo(row.updateInfo) {}

int DialogItemKindOfClass(const wchar_t* className) {
  static const wchar_t* const kClasses[] = {
      L"Static", L"Edit", L"RichEdit", L"ComboBox", L"ListBox", L"Button", L"ScrollBar",
      L"SysListView32", L"SysTreeView32", L"SysAnimate32", L"SysHeader32", L"SysTabControl32",
      L"SysMonthCal32", L"SysDateTimePick32", L"SysIPAddress32", L"ComboBoxEx32",
      L"msctls_updown32", L"msctls_progress32", L"msctls_hotkey32", L"msctls_trackbar32"};
  if (!className) return kItemUnknown;
  for (size_t i = 0; i < std::size(kClasses); ++i)
    if (::_wcsicmp(kClasses[i], className) == 0) return static_cast<int>(i) + 1;
  return kItemUnknown;
}

int DtmControl::GetDialogItemKind(HWND item) const {
  if (!item) return kItemUnknown;
  wchar_t className[64] = {};
  ::GetClassNameW(item, className, 64);
  return DialogItemKindOfClass(className);
}

int DtmControl::FindRowById(LONG id) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].id == id) return static_cast<int>(i);
  return -1;
}

int DtmControl::FindRowByItem(UINT item) const {
  if (!item) return -1;
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].item == item) return static_cast<int>(i);
  return -1;
}

// ---- Reading from the DTM ---------------------------------------------------------

HRESULT DtmControl::ParameterInfo(LONG id, LONG selector, VARIANT* value) {
  auto info = DtmInterface<IevFdtParameterInfo>();
  if (!info) return E_POINTER;
  return info->GetParameterInfo(com::ui4(static_cast<ULONG>(id)).value(), *com::Variant(selector).get(), value);
}

HRESULT DtmControl::ReadAllParameters() {
  if (!parameterHandler_) return E_INVALIDARG;
  const bool wasLoading = loading_;
  loading_ = true;
  HRESULT result = S_OK;
  for (int row = 0; row < RowCount(); ++row) {
    if (SUCCEEDED(ReadParameter(row))) continue;
    // A row that cannot be read is shown invalid and is never written.
    const ULONG flags = (rows_[row].flags | kRowWritable | kRowInvalid | kRowNotRead) & ~ULONG{kRowChanged};
    HRESULT hr = SetParameterStatus(rows_[row].id, flags);
    if (FAILED(hr)) {
      result = hr;
      break;
    }
  }
  loading_ = wasLoading;
  return result;
}

HRESULT DtmControl::ReadParameter(int row) {
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  const LONG id = rows_[row].id;
  com::Variant info;
  HRESULT hr = ParameterInfo(id, kSelectorKind, info.get());
  if (FAILED(hr)) return hr;
  ULONG kind = 0;
  CFdtVariant::GetUI4(info.value(), &kind);
  const bool fromDevice = (kind == 1 && OnlineMode()) ||
                          ((mode_ & kModeBit1) && (rows_[row].displayFlags & kDisplayDeviceData));
  com::Variant value;
  hr = fromDevice ? ReadParameterData(id, value.get()) : ReadParameterValue(id, value.get());
  if (FAILED(hr)) return hr;
  ReadValueKind(row);
  ULONG flags = 0;
  hr = GetParameterAccess(id, &flags);
  if (FAILED(hr)) return hr;
  FillEnumerationList(row);
  hr = DisplayValueById(id, value.value());
  if (FAILED(hr)) return hr;
  if (OfflineMode() || ((mode_ & kModeBit1) && (rows_[row].displayFlags & kDisplayDtmData)))
    flags &= ~ULONG{kRowChanged};
  return SetParameterStatus(id, flags);
}

HRESULT DtmControl::ReadValueKind(int row) {
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  CActXParInfo& r = rows_[row];
  com::Variant kind;
  HRESULT hr = ParameterInfo(r.id, kSelectorValueKind, kind.get());
  if (FAILED(hr)) return hr;
  if (FAILED(kind.changeType(VT_UI2))) return E_FAIL;
  r.valueKind = V_UI2(kind.get());
  if (r.valueKind == kValueFree) return S_OK;
  com::Variant list;
  hr = ParameterInfo(r.id, kSelectorValueList, list.get());
  if (FAILED(hr)) return hr;
  if (IsTextList(list.value())) r.valueList = std::move(list);
  return S_OK;
}

HRESULT DtmControl::GetParameterAccess(LONG id, ULONG* flags) {
  if (!flags) return E_POINTER;
  com::Variant value;
  HRESULT hr = ParameterInfo(id, kSelectorFlags, value.get());
  if (FAILED(hr)) return hr;
  hr = CFdtVariant::GetUI4(value.value(), flags);
  if (FAILED(hr)) return hr;
  if (!editEnabled_ && (*flags & kRowWritable))
    *flags = (*flags & ~ULONG{kRowWritable}) | kRowLockedWritable;
  return S_OK;
}

HRESULT DtmControl::ReadParameterValue(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  if (!parameterHandler_) return E_FAIL;
  return parameterHandler_->GetParameterValue(com::ui4(static_cast<ULONG>(id)).value(), value);
}

HRESULT DtmControl::ReadParameterData(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  HRESULT hr = ParameterInfo(id, kSelectorDeviceValue, value);
  return hr == E_POINTER ? E_FAIL : hr;
}

HRESULT DtmControl::WriteParameterValue(LONG id, const VARIANT& value) {
  if (V_VT(&value) == VT_EMPTY) return E_INVALIDARG;
  if (!parameterHandler_) return E_FAIL;
  return parameterHandler_->WriteParameter(com::ui4(static_cast<ULONG>(id)).value(), value);
}

HRESULT DtmControl::GetParameterTexts(LONG id, BSTR* text, unsigned short* vt) {
  if (!text || !vt) return E_POINTER;
  if (!parameterHandler_) return E_FAIL;
  com::Variant value, minimum, maximum, defaultValue, flags;
  return parameterHandler_->GetParameterDescription(com::ui4(static_cast<ULONG>(id)).value(), value.get(), text,
                                                    vt, minimum.get(), maximum.get(),
                                                    defaultValue.get(), flags.get());
}

HRESULT DtmControl::QueryDtmParameter(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  if (!parameterHandler_) return E_FAIL;
  com::Bstr text;
  unsigned short vt = 0;
  com::Variant minimum, maximum, defaultValue, flags;
  return parameterHandler_->GetParameterDescription(com::ui4(static_cast<ULONG>(id)).value(), value, text.put(),
                                                    &vt, minimum.get(), maximum.get(),
                                                    defaultValue.get(), flags.get());
}

HRESULT DtmControl::GetParameterByPath(LONG id) {
  if (!parameterHandler_) return E_POINTER;
  VARIANT_BOOL done = VARIANT_FALSE;
  HRESULT hr = parameterHandler_->RefreshParameter(com::ui4(static_cast<ULONG>(id)).value(), &done);
  if (FAILED(hr)) return hr;
  return done ? S_OK : E_FAIL;
}

// ---- Value lists ----------------------------------------------------------------------

HRESULT DtmControl::FillEnumerationList(int row) {
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  CActXParInfo& r = rows_[row];
  HWND item = Item(r.item);
  if (!item) return S_OK;
  if (auto translated = HostedControl<IevFdtTranslationEvent>(r.item)) {
    if (item != lastTranslatedItem_) {
      lastTranslatedItem_ = item;
      translated->OnTranslate(languageId_);
    }
    return S_OK;
  }
  if (!IsTextList(r.valueList.value())) return S_OK;
  const int kind = GetDialogItemKind(item);
  if (kind != kItemComboBox && kind != kItemListBox) return S_OK;
  com::Variant list;
  HRESULT hr = ParameterInfo(r.id, kSelectorValueList, list.get());
  if (FAILED(hr)) return hr;
  const bool combo = kind == kItemComboBox;
  const bool bits = r.valueKind == kValueBitEnumeration;
  const bool wasUpdating = updating_;
  updating_ = true;
  ::SendMessageW(item, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
  ForEachEntry(list.value(), [&](LONG number, const wchar_t* text) {
    if (bits && number == 0) return;  // no bit set: not an entry of its own
    const LRESULT index = ::SendMessageW(item, combo ? CB_ADDSTRING : LB_ADDSTRING, 0,
                                         reinterpret_cast<LPARAM>(text));
    if (index >= 0)
      ::SendMessageW(item, combo ? CB_SETITEMDATA : LB_SETITEMDATA, static_cast<WPARAM>(index),
                     static_cast<LPARAM>(number));
  });
  updating_ = wasUpdating;
  return S_OK;
}

HRESULT DtmControl::RefillEnumeration(int row) {
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  if (rows_[row].valueKind == kValueFree) return S_OK;
  com::Variant value;
  HRESULT hr = rows_[row].valueKind == kValueEnumeration ? ReadEnumerationValue(row, value.get())
                                                         : ReadBitEnumerationValue(row, value.get());
  hr = ReadValueKind(row);
  if (FAILED(hr)) return hr;
  hr = FillEnumerationList(row);
  if (FAILED(hr)) return hr;
  return value.type() == VT_EMPTY ? S_OK : DisplayValue(row, value.value());
}

// ---- Showing values ------------------------------------------------------------------------

HRESULT DtmControl::ShowValueText(int row, const wchar_t* text) {
  HWND item = Item(rows_[row].item);
  if (item) ::SetWindowTextW(item, text ? text : L"");
  return S_OK;
}

HRESULT DtmControl::DisplayValueById(LONG id, const VARIANT& value) {
  HRESULT result = S_OK;
  for (int row = 0; row < RowCount(); ++row) {
    if (rows_[row].id != id) continue;
    HRESULT hr = DisplayValue(row, value);
    if (FAILED(hr)) result = hr;
  }
  return result;
}

HRESULT DtmControl::DisplayValue(int row, const VARIANT& value) {
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  const CActXParInfo& r = rows_[row];
  if (!r.item) return S_OK;
  const bool wasUpdating = updating_;
  updating_ = true;
  struct Restore {
    bool& flag;
    bool old;
    ~Restore() { flag = old; }
  } restore{updating_, wasUpdating};

  ShowParameterUnit(row);
  if (!r.HasFormat() && r.valueKind == kValueEnumeration) return ShowEnumerationValue(row, value);
  if (!r.HasFormat() && r.valueKind == kValueBitEnumeration) return ShowBitEnumerationValue(row, value);
  if (auto control = HostedControl<IParameterControl>(r.item))
    return control->ShowValue(static_cast<ULONG>(r.id), value);
  HWND item = Item(r.item);
  if (!item) return S_OK;
  if (GetDialogItemKind(item) == kItemButton && IsCheckBox(item)) {
    com::Variant on;
    HRESULT hr = ::VariantChangeType(on.get(), const_cast<VARIANT*>(&value), 0, VT_BOOL);
    if (FAILED(hr)) return hr;
    ::SendMessageW(item, BM_SETCHECK, V_BOOL(on.get()) ? BST_CHECKED : BST_UNCHECKED, 0);
    return S_OK;
  }
  const VARTYPE vt = V_VT(&value);
  if (vt == (VT_ARRAY | VT_UI1)) {
    std::wstring text;
    com::SafeArrayData<BYTE> bytes(V_ARRAY(&value));
    if (SUCCEEDED(bytes.result())) {
      const ULONG count = com::SafeArray::countOf(V_ARRAY(&value));
      for (ULONG i = 0; i < count && text.size() + 3 < kTextChars * 4; ++i) {
        wchar_t pair[4] = {};
        std::swprintf(pair, 4, L"%02X ", bytes[i]);
        text += pair;
      }
    }
    return ShowValueText(row, text.c_str());
  }
  if (vt & VT_ARRAY) return S_OK;
  switch (vt) {
    case VT_EMPTY:
      return ShowValueText(row, L"");
    case VT_I1:
      return ShowValueText(row, FormatNumber(r.format, static_cast<int>(V_I1(&value))).c_str());
    case VT_I2:
      return ShowValueText(row, FormatNumber(r.format, static_cast<int>(V_I2(&value))).c_str());
    case VT_BOOL:
      return ShowValueText(row, FormatNumber(r.format, static_cast<int>(V_BOOL(&value))).c_str());
    case VT_I4:
      return ShowValueText(row, FormatNumber(r.format, static_cast<int>(V_I4(&value))).c_str());
    case VT_UI1:
      return ShowValueText(row, FormatNumber(r.format, static_cast<unsigned>(V_UI1(&value))).c_str());
    case VT_UI2:
      return ShowValueText(row, FormatNumber(r.format, static_cast<unsigned>(V_UI2(&value))).c_str());
    case VT_UI4:
      return ShowValueText(row, FormatNumber(r.format, static_cast<unsigned>(V_UI4(&value))).c_str());
    case VT_R4:
    case VT_R8: {
      const double number = vt == VT_R4 ? static_cast<double>(V_R4(&value)) : V_R8(&value);
      std::wstring text = FormatNumber(r.format, number);
      const size_t point = text.find(L'.');
      if (const wchar_t separator = DecimalSeparator(); separator && point != std::wstring::npos)
        text[point] = separator;
      return ShowValueText(row, text.c_str());
    }
    case VT_BSTR:
      return ShowValueText(row, FormatText(r.format, V_BSTR(&value)).c_str());
    default:
      return S_OK;  // dates and other types are not shown
  }
}

// What both value-list displays share: the checks, the parameter control's
// own display, the updating flag while the item is written, and the list
// read again as (value, text) entries.
HRESULT DtmControl::ShowThroughValueList(int row, const VARIANT& value,
                                         const std::function<void(HWND, const VARIANT&)>& show) {
  if (row < 0 || row >= RowCount()) return S_OK;
  const CActXParInfo& r = rows_[row];
  if (!IsTextList(r.valueList.value())) return S_OK;
  const bool wasUpdating = updating_;
  updating_ = true;
  HRESULT result = S_OK;
  if (auto control = HostedControl<IParameterControl>(r.item)) {
    result = control->ShowValue(static_cast<ULONG>(r.id), value);
  } else if (HWND item = Item(r.item)) {
    com::Variant list;
    ParameterInfo(r.id, kSelectorValueList, list.get());
    show(item, list.value());
  }
  updating_ = wasUpdating;
  return result;
}

HRESULT DtmControl::ShowEnumerationValue(int row, const VARIANT& value) {
  return ShowThroughValueList(row, value, [&](HWND item, const VARIANT& list) {
    com::Variant number;
    if (FAILED(::VariantChangeType(number.get(), const_cast<VARIANT*>(&value), 0, VT_I4))) return;
    LONG position = -1;
    com::Bstr entryText;
    const bool found = BstrArrayGetAtChecked(list, V_I4(number.get()), &position, entryText.put());
    const int kind = GetDialogItemKind(item);
    if (kind == kItemStatic || kind == kItemEdit) {
      ::SetWindowTextW(item, found ? entryText.c_str() : L"<Out of Range>");
    } else if (kind == kItemComboBox || kind == kItemListBox) {
      const bool combo = kind == kItemComboBox;
      if (::SendMessageW(item, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0) != -1)
        ::SendMessageW(item, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(position), 0);
    }
  });
}

HRESULT DtmControl::ShowBitEnumerationValue(int row, const VARIANT& value) {
  return ShowThroughValueList(row, value, [&](HWND item, const VARIANT& list) {
    ULONG bits = 0;
    if (FAILED(CFdtVariant::GetUI4(value, &bits))) return;
    const int kind = GetDialogItemKind(item);
    if (kind == kItemStatic || kind == kItemEdit) {
      std::wstring text;
      ForEachEntry(list, [&](LONG entry, const wchar_t* entryText) {
        const ULONG mask = static_cast<ULONG>(entry);
        if (mask != 0 && (bits & mask) == mask) {
          if (!text.empty()) text += L" | ";
          text += entryText;
        }
      });
      ::SetWindowTextW(item, text.c_str());
    } else if (kind == kItemListBox) {
      ::SendMessageW(item, LB_SETSEL, FALSE, -1);
      const LRESULT count = ::SendMessageW(item, LB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < count; ++i) {
        const ULONG mask = static_cast<ULONG>(::SendMessageW(item, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
        if (mask != 0 && (bits & mask) == mask) ::SendMessageW(item, LB_SETSEL, TRUE, i);
      }
    }
  });
}

HRESULT DtmControl::ShowParameterUnit(int row) {
  if (row < 0 || row >= RowCount() || !rows_[row].unitItem) return S_OK;
  com::Bstr unit;
  HRESULT hr = GetUnitText(row, unit.put());
  if (FAILED(hr)) return hr;
  if (HWND item = Item(rows_[row].unitItem)) ::SetWindowTextW(item, unit.c_str());
  return S_OK;
}

HRESULT DtmControl::GetUnitText(int row, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  com::Variant unit;
  HRESULT hr = ParameterInfo(rows_[row].id, kSelectorUnit, unit.get());
  if (FAILED(hr)) return hr;
  if (unit.type() == VT_BSTR) return com::Bstr(V_BSTR(unit.get())).copyTo(text);
  ULONG unitId = 0;
  if (FAILED(CFdtVariant::GetUI4(unit.value(), &unitId))) return E_FAIL;
  // The unit is another parameter's value, shown through its value list.
  com::Variant value, list, number;
  hr = OnlineMode() ? ReadParameterData(static_cast<LONG>(unitId), value.get())
                    : ReadParameterValue(static_cast<LONG>(unitId), value.get());
  if (FAILED(hr)) return hr;
  ParameterInfo(static_cast<LONG>(unitId), kSelectorValueList, list.get());
  if (FAILED(::VariantChangeType(number.get(), value.get(), 0, VT_I4))) return E_FAIL;
  if (BstrArrayGetAtChecked(list.value(), V_I4(number.get()), nullptr, text)) return S_OK;
  return com::Bstr(L"").copyTo(text);  // not in the list: an empty unit
}

// ---- Reading items back -----------------------------------------------------------------

HRESULT TextToFloat(const wchar_t* text, const char* format, VARIANT* value) {
  if (!text || !format || !value) return E_INVALIDARG;
  wchar_t buffer[kTextChars] = {};
  std::wcsncpy(buffer, text, kTextChars - 1);
  if (wchar_t* comma = std::wcschr(buffer, L',')) *comma = L'.';
  // "e5" (an exponent without a mantissa) reads as 1e5.
  wchar_t* exponent = std::wcspbrk(buffer, L"eE");
  const wchar_t* digit = std::wcspbrk(buffer, L"0123456789");
  if (exponent && digit == exponent + 1 && (exponent == buffer || exponent[-1] == L' ') &&
      std::wcslen(buffer) + 1 < kTextChars) {
    std::wmemmove(exponent + 1, exponent, std::wcslen(exponent) + 1);
    *exponent = L'1';
  }
  for (wchar_t* c = buffer; *c; ++c) *c = static_cast<wchar_t>(std::towupper(*c));
  ::VariantClear(value);
  V_VT(value) = VT_R4;
  if (std::wcsncmp(buffer, L"1.#INF", 6) == 0) {
    V_R4(value) = std::numeric_limits<float>::infinity();
    return S_OK;
  }
  if (std::wcsncmp(buffer, L"-1.#INF", 7) == 0) {
    V_R4(value) = -std::numeric_limits<float>::infinity();
    return S_OK;
  }
  // Read in one form whatever locale the C runtime has: scanf would stop at
  // the "." under a locale with a decimal comma and lose the fraction.
  float number = 0;
  if (!LeadingRealFromText(buffer, &number)) {
    V_VT(value) = VT_EMPTY;
    return E_FAIL;
  }
  // Only the precision the format shows is kept.
  float rounded = number;
  if (LeadingRealFromText(FormatNumber(format, static_cast<double>(number)).c_str(), &rounded))
    number = rounded;
  V_R4(value) = number;
  return S_OK;
}

HRESULT DtmControl::ReadItemValue(int row, VARIANT* value) {
  if (!value) return E_POINTER;
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  const CActXParInfo& r = rows_[row];
  HWND item = Item(r.item);
  if (!item) return E_FAIL;
  ::VariantClear(value);
  com::Variant current;
  HRESULT hr = ReadParameterValue(r.id, current.get());
  if (FAILED(hr)) return hr;
  const VARTYPE type = current.type();
  if (GetDialogItemKind(item) == kItemButton && IsCheckBox(item)) {
    com::Variant checked(::SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED);
    return CFdtVariant::ConvertTo(value, checked.get(), type);
  }
  std::wstring text = WindowText(item);
  if (type == VT_R4) return TextToFloat(text.c_str(), r.HasFormat() ? r.format : "%g", value);
  if (type == VT_R8) {
    size_t point = text.find(L'.');
    if (point == std::wstring::npos) point = text.find(L',');
    if (const wchar_t separator = DecimalSeparator(); separator && point != std::wstring::npos)
      text[point] = separator;
    com::Variant source(text.c_str());
    return ::VariantChangeTypeEx(value, source.get(), LOCALE_SYSTEM_DEFAULT, 0, VT_R8);
  }
  if (type == (VT_ARRAY | VT_UI1)) {
    std::wstring digits;
    for (wchar_t c : text)
      if (!std::wcschr(L" .,:;", c)) digits += c;
    if (digits.size() % 2) digits.insert(digits.begin(), L'0');
    return CFdtVariant::FromHexString(value, digits.c_str());
  }
  com::Variant source(text.c_str());
  const VARTYPE target = type == VT_EMPTY ? static_cast<VARTYPE>(VT_BSTR) : type;
  return ::VariantChangeType(value, source.get(), 0, target);
}

HRESULT DtmControl::GetItemValue(LONG id, VARIANT* value) {
  const int row = FindRowById(id);
  if (row < 0) return E_INVALIDARG;
  const CActXParInfo& r = rows_[row];
  if (!r.HasFormat() && r.valueKind == kValueEnumeration) return ReadEnumerationValue(row, value);
  if (!r.HasFormat() && r.valueKind == kValueBitEnumeration) return ReadBitEnumerationValue(row, value);
  return ReadItemValue(row, value);
}

HRESULT DtmControl::ReadEnumerationValue(int row, VARIANT* value) {
  if (!value) return E_POINTER;
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  HWND item = Item(rows_[row].item);
  if (!item) return E_FAIL;
  const int kind = GetDialogItemKind(item);
  ::VariantClear(value);
  if (kind == kItemComboBox || kind == kItemListBox) {
    const bool combo = kind == kItemComboBox;
    const LRESULT index = ::SendMessageW(item, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
    if (index < 0) return E_FAIL;
    V_VT(value) = VT_I4;
    V_I4(value) = static_cast<LONG>(
        ::SendMessageW(item, combo ? CB_GETITEMDATA : LB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    return S_OK;
  }
  LONG index = 0, number = 0;
  if (!BstrArrayFind(rows_[row].valueList.value(), WindowText(item).c_str(), &index, &number)) return E_FAIL;
  V_VT(value) = VT_I4;
  V_I4(value) = number;
  return S_OK;
}

HRESULT DtmControl::ReadBitEnumerationValue(int row, VARIANT* value) {
  if (!value) return E_POINTER;
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  HWND item = Item(rows_[row].item);
  if (!item) return E_FAIL;
  ::VariantClear(value);
  ULONG bits = 0;
  if (GetDialogItemKind(item) == kItemListBox) {
    const LRESULT count = ::SendMessageW(item, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
      if (::SendMessageW(item, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0)
        bits |= static_cast<ULONG>(::SendMessageW(item, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
  } else {
    // Texts joined by " | ".
    const std::wstring text = WindowText(item);
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find(L" | ", start);
      const std::wstring part = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
      if (!part.empty()) {
        LONG index = 0, number = 0;
        if (!BstrArrayFind(rows_[row].valueList.value(), part.c_str(), &index, &number)) return E_FAIL;
        bits |= static_cast<ULONG>(number);
      }
      if (end == std::wstring::npos) break;
      start = end + 3;
    }
  }
  V_VT(value) = VT_UI4;
  V_UI4(value) = bits;
  return S_OK;
}

HRESULT DtmControl::ValidateEnumerationValue(int row, VARIANT* value) {
  if (FAILED(ReadEnumerationValue(row, value))) return S_FALSE;
  auto validation = DtmInterface<IevFdtParameterValidation>();
  unsigned long status = kRowInvalid;
  if (validation) validation->Validate(com::ui4(static_cast<ULONG>(rows_[row].id)).value(), *value, &status);
  return (status & kRowInvalid) ? S_FALSE : S_OK;
}

HRESULT DtmControl::ValidateBitEnumerationValue(int row, VARIANT* value) {
  if (FAILED(ReadBitEnumerationValue(row, value))) return S_FALSE;
  auto validation = DtmInterface<IevFdtParameterValidation>();
  unsigned long status = kRowInvalid;
  if (validation) validation->Validate(com::ui4(static_cast<ULONG>(rows_[row].id)).value(), *value, &status);
  return (status & kRowInvalid) ? S_FALSE : S_OK;
}

// ---- Editing -----------------------------------------------------------------------------

HRESULT DtmControl::ValidateEditedParameter(int row) {
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  const LONG id = rows_[row].id;
  com::Variant value;
  HRESULT hr = GetItemValue(id, value.get());
  if (FAILED(hr)) {
    SetParameterStatus(id, rows_[row].flags | kRowInvalid);
    return S_FALSE;
  }
  // Without the DTM's validation every edit counts as invalid.
  unsigned long status = kRowInvalid;
  if (auto validation = DtmInterface<IevFdtParameterValidation>())
    if (FAILED(validation->Validate(com::ui4(static_cast<ULONG>(id)).value(), value.value(), &status)))
      status = kRowInvalid;
  ULONG flags = rows_[row].flags;
  if (flags & kRowWritable)
    flags = (flags & ~ULONG{kRowChanged | kRowInvalid}) | (status & (kRowChanged | kRowInvalid));
  SetParameterStatus(id, flags);
  return (status & kRowInvalid) ? S_FALSE : S_OK;
}

HRESULT DtmControl::ValidateEditedRow(int row) {
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  return ValidateEditedParameter(row);
}

HRESULT DtmControl::ValidateEditedEnumRow(int row) {
  if (row < 0 || row >= RowCount() || rows_[row].valueKind != kValueEnumeration) return E_INVALIDARG;
  return ValidateEditedParameter(row);
}

HRESULT DtmControl::ValidateEditedBitEnumRow(int row) {
  if (row < 0 || row >= RowCount() || rows_[row].valueKind != kValueBitEnumeration) return E_INVALIDARG;
  return ValidateEditedParameter(row);
}

HRESULT DtmControl::OnParameterEdited(LONG id) {
  const int row = FindRowById(id);
  if (row < 0) return E_INVALIDARG;
  return ValidateEditedParameter(row);
}

bool DtmControl::OnItemChanged(UINT item) {
  const int row = FindRowByItem(item);
  if (row < 0) return false;
  if (loading_ || updating_) return true;  // the base's own write into the item
  ValidateEditedParameter(row);
  if (rows_[row].flags & kRowChanged) SetModified(true);
  return true;
}

void DtmControl::SetModified(bool modified) { modified_ = modified; }

HRESULT DtmControl::ValidateAll() {
  for (const CActXParInfo& row : rows_) {
    if (!(row.flags & kRowInvalid) || (row.flags & kRowNotRead) || !(row.flags & kRowWritable)) continue;
    if (HostedControl<IParameterControl>(row.item)) return E_FAIL;
    if (HWND item = Item(row.item)) {
      ::SetFocus(item);
      ::SendMessageW(item, EM_SETSEL, 0, -1);
    }
    return E_FAIL;
  }
  return S_OK;
}

HRESULT DtmControl::SetParameterStatus(LONG id, ULONG flags) {
  HRESULT result = S_OK;
  for (int row = 0; row < RowCount(); ++row) {
    if (rows_[row].id != id) continue;
    HRESULT hr = SetRowState(row, flags);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

void DtmControl::SetEditMode(bool on) {
  const bool allowed =
      on && !readOnly_ && !editLock_ &&
      (OfflineMode() || ((OnlineMode() || (mode_ & kModeBit1)) && controlState_ == kControlOnline));
  editEnabled_ = allowed;
  for (int row = 0; row < RowCount(); ++row) {
    CActXParInfo& r = rows_[row];
    if (allowed) {
      if (r.flags & kRowLockedWritable)
        SetRowState(row, (r.flags & ~ULONG{kRowLockedWritable}) | kRowWritable);
      continue;
    }
    ULONG flags = r.flags;
    if (!parameterHandler_ || FAILED(GetParameterAccess(r.id, &flags))) {
      flags = r.flags;
      if (flags & kRowWritable) flags = (flags & ~ULONG{kRowWritable}) | kRowLockedWritable;
    }
    SetRowState(row, flags);
  }
  OnEditStateChanged();
}

HRESULT DtmControl::ReadAccessFlagsInto(LONG id) {
  ULONG flags = 0;
  HRESULT hr = GetParameterAccess(id, &flags);
  if (FAILED(hr)) return hr;
  return SetParameterStatus(id, flags);
}

HRESULT DtmControl::RefreshParameter(LONG id) {
  if (FindRowById(id) < 0) return S_OK;
  com::Variant value;
  HRESULT hr = ReadParameterValue(id, value.get());
  if (FAILED(hr)) return hr;
  ULONG flags = 0;
  hr = GetParameterAccess(id, &flags);
  if (FAILED(hr)) return hr;
  hr = DisplayValueById(id, value.value());
  if (FAILED(hr)) return hr;
  return SetParameterStatus(id, flags & ~ULONG{kRowChanged});
}

HRESULT DtmControl::ReloadParameter(LONG id) {
  com::Variant value;
  HRESULT hr = ReadParameterData(id, value.get());
  if (FAILED(hr)) return hr;
  ULONG flags = 0;
  hr = GetParameterAccess(id, &flags);
  if (FAILED(hr)) return hr;
  for (int row = 0; row < RowCount(); ++row) {
    if (rows_[row].id != id) continue;
    if ((mode_ & kModeBit1) && !(rows_[row].displayFlags & kDisplayDeviceData)) continue;
    hr = DisplayValue(row, value.value());
    if (FAILED(hr)) return hr;
    SetRowState(row, flags & ~ULONG{kRowChanged | kRowInvalid});
  }
  return S_OK;
}

// ---- Writing ---------------------------------------------------------------------------------

HRESULT DtmControl::ValueToWrite(LONG id, VARIANT* value) {
  const int row = FindRowById(id);
  if (row < 0) return E_INVALIDARG;
  if (rows_[row].flags & kRowNotRead) return S_FALSE;  // never read: never written
  if (!parameterHandler_) return E_POINTER;
  ULONG access = 0;
  HRESULT hr = GetParameterAccess(id, &access);
  if (FAILED(hr)) return hr;
  if (!(rows_[row].flags & kRowWritable) || !(access & kRowWritable)) return S_FALSE;
  hr = GetItemValue(id, value);
  if (FAILED(hr)) return hr;
  return ValidateEditedParameter(row) == S_OK ? S_OK : S_FALSE;
}

bool DtmControl::WritesIntoDataSet(int row) {
  if (row < 0 || row >= RowCount()) return true;
  com::Variant info;
  ParameterInfo(rows_[row].id, kSelectorKind, info.get());
  ULONG kind = 0;
  CFdtVariant::GetUI4(info.value(), &kind);
  return kind == 0 || OfflineMode() || ((mode_ & kModeBit1) && (rows_[row].displayFlags & kDisplayDtmData));
}

HRESULT DtmControl::WriteParameter(LONG id) {
  com::Variant value;
  HRESULT hr = ValueToWrite(id, value.get());
  if (hr != S_OK) return hr;
  auto validation = DtmInterface<IevFdtParameterValidation>();
  if (!validation) return E_NOINTERFACE;
  VARIANT_BOOL stored = VARIANT_FALSE;
  hr = validation->ValidateValue(com::ui4(static_cast<ULONG>(id)).value(), value.value(), &stored);
  if (FAILED(hr)) return hr;
  if (!stored) return S_FALSE;
  ULONG access = 0;
  hr = GetParameterAccess(id, &access);
  if (FAILED(hr)) return hr;
  return SetParameterStatus(id, access & ~ULONG{kRowChanged});
}

HRESULT DtmControl::ApplyParameter(LONG id) {
  return WritesIntoDataSet(FindRowById(id)) ? WriteParameter(id) : WriteDeviceValue(id);
}

HRESULT DtmControl::WriteDeviceValue(LONG id) {
  if (OfflineMode()) return WriteParameter(id);
  com::Variant value;
  HRESULT hr = ValueToWrite(id, value.get());
  if (hr != S_OK) return hr;
  VARIANT_BOOL done = VARIANT_FALSE;
  hr = parameterHandler_->StoreParameter(com::ui4(static_cast<ULONG>(id)).value(), value.value(), &done);
  if (FAILED(hr)) return hr;
  return done ? S_OK : S_FALSE;
}

HRESULT DtmControl::ReadDeviceParameter(int row) {
  if (!parameterHandler_) {
    Trace("Could not retrieve private interface of dtm!");
    return S_OK;
  }
  if (rows_.empty()) {
    Trace("No Parameter in Paramter Map!");
    return S_FALSE;
  }
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  VARIANT_BOOL done = VARIANT_FALSE;
  HRESULT hr = parameterHandler_->RefreshParameter(com::ui4(static_cast<ULONG>(rows_[row].id)).value(), &done);
  if (FAILED(hr) || hr == S_FALSE) {
    Trace("ReadDeviceParameter failed (hRes = %08X)!", static_cast<unsigned>(hr));
    return hr;
  }
  return S_OK;
}

HRESULT DtmControl::WriteDeviceParameter(int row) {
  if (!parameterHandler_) {
    Trace("Could not retrieve private interface of dtm!");
    return S_OK;
  }
  if (rows_.empty()) {
    Trace("No Parameter Map in Parameter Map!");
    return S_FALSE;
  }
  if (row < 0 || row >= RowCount()) return E_INVALIDARG;
  com::Variant value;
  HRESULT hr = GetItemValue(rows_[row].id, value.get());
  if (FAILED(hr)) {
    Trace("ReadParameterDisplayByID failed (hRes = %08X)!", static_cast<unsigned>(hr));
    return hr;
  }
  VARIANT_BOOL done = VARIANT_FALSE;
  hr = parameterHandler_->StoreParameter(com::ui4(static_cast<ULONG>(rows_[row].id)).value(), value.value(), &done);
  if (FAILED(hr) || hr == S_FALSE) {
    Trace("WriteDeviceParameter failed (hRes = %08X)!", static_cast<unsigned>(hr));
    return hr;
  }
  return S_OK;
}

// ---- Item notifications ----------------------------------------------------------------

bool DtmControl::OnComboDropDown(UINT item) {
  const int row = FindRowByItem(item);
  if (row < 0 || !(mode_ & kModeBit8)) return false;
  com::Variant info;
  if (FAILED(ParameterInfo(rows_[row].id, kSelectorKind, info.get()))) return false;
  const ULONG flags = rows_[row].flags;
  if ((flags & (kRowWritable | kRowChanged)) != (kRowWritable | kRowChanged) || (flags & kRowInvalid))
    return false;
  if (WritesIntoDataSet(row)) WriteParameter(rows_[row].id);
  else WriteDeviceValue(rows_[row].id);
  return false;
}

HRESULT DtmControl::RememberItemText(UINT item, VARIANT* text, ULONG* flags) {
  if (!text || !flags) return E_POINTER;
  ::VariantClear(text);
  const int row = FindRowByItem(item);
  *flags = row >= 0 ? rows_[row].flags : 0;
  HWND window = Item(item);
  const int kind = GetDialogItemKind(window);
  if (kind == kItemEdit) {
    V_VT(text) = VT_BSTR;
    V_BSTR(text) = ::SysAllocString(WindowText(window).c_str());
    return V_BSTR(text) ? S_OK : E_OUTOFMEMORY;
  }
  if (kind == kItemComboBox) {
    V_VT(text) = VT_I4;
    V_I4(text) = static_cast<LONG>(::SendMessageW(window, CB_GETCURSEL, 0, 0));
  }
  return S_OK;
}

void DtmControl::OnShowWindow() {
  InitStateMarkers();
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(dialog_, WM_GETFONT, 0, 0));
  for (CActXParInfo& row : rows_) {
    row.itemWindow = Item(row.item);
    if (!row.marker || !row.itemWindow || row.markerWindow) continue;
    // A marker sits a quarter of the font height right of the item, half a
    // font height wide, one high, centred on the item.
    RECT rect = {};
    ::GetWindowRect(row.itemWindow, &rect);
    ::MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
    HDC dc = ::GetDC(row.itemWindow);
    TEXTMETRICW metrics = {};
    HGDIOBJ old = ::SelectObject(dc, font ? font : ::GetStockObject(DEFAULT_GUI_FONT));
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(row.itemWindow, dc);
    const int height = metrics.tmHeight > 0 ? metrics.tmHeight : 13;
    const int top = rect.top + ((rect.bottom - rect.top) - height) / 2;
    row.markerWindow = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, rect.right + height / 4,
                                         top, height / 2 > 0 ? height / 2 : 1, height, dialog_, nullptr,
                                         nullptr, nullptr);
    if (row.markerWindow && font) ::SendMessageW(row.markerWindow, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
}

bool DtmControl::AreValuesEqual(const VARIANT& a, const VARIANT& b) const {
  if (V_VT(&a) != V_VT(&b)) return false;
  switch (V_VT(&a)) {
    case VT_UI2:
      return V_UI2(&a) == V_UI2(&b);
    case VT_UI4:
      return V_UI4(&a) == V_UI4(&b);
    case VT_ARRAY | VT_UI1: {
      const ULONG count = com::SafeArray::countOf(V_ARRAY(&a));
      if (count != com::SafeArray::countOf(V_ARRAY(&b))) return false;
      if (count == 0) return true;
      com::SafeArrayData<BYTE> x(V_ARRAY(&a)), y(V_ARRAY(&b));
      if (FAILED(x.result()) || FAILED(y.result())) return false;
      for (ULONG i = 0; i < count; ++i)
        if (x[i] != y[i]) return false;
      return true;
    }
    default:
      return CFdtVariant::IsEqual(a, b);
  }
}
