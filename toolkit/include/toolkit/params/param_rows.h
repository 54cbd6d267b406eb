// Row builders: how the DTM class and the channel class declare their
// parameter rows at construction.
//
//   static const wchar_t* const kModes[] = {L"0;Off", L"1;On", nullptr};
//   ParamRow::Numeric(1002, L"Preamble Count", VT_UI1, 5, 20, 5, 5).AddTo(store);
//   ParamRow::Numeric(1004, L"Mode", VT_UI1, 0, 1, 0, 0)
//       .SubType(kParEnumerated).Entries(kModes).AddTo(store);
//   ParamRow::Text(1, L"Tag", L"", L"", 32).Flags(0x31).Storage(1).AddTo(store);
//
// Numeric rows give limits, default and value as doubles, changed to the
// row's VARTYPE. A row whose limit, default or value does not convert, whose
// minimum is above its maximum, or (with a maximum above the minimum) whose
// default or value lies outside the limits is added with flag 0x4 (invalid);
// equal limits mean "no limits". Text rows are VT_BSTR with a maximum length
// (0: none) as their maximum.
//
// Unless a setter says otherwise a row has kind 0, persist 1, flags 0x71,
// storage 2 and every other field 0 or empty. A row whose id is already in
// the table is not added again (the first declaration holds).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "fdtidl/ToolkitHooks.h"
#include "toolkit/params/param_info.h"

class ParamRow {
 public:
  static ParamRow Numeric(ULONG id, const wchar_t* text, VARTYPE vt, double minValue,
                          double maxValue, double defaultValue, double value);
  static ParamRow Text(ULONG id, const wchar_t* text, const wchar_t* defaultText,
                       const wchar_t* valueText, ULONG maxLength);

  ParamRow& Kind(ULONG kind) { kind_ = kind; return *this; }
  ParamRow& TextId(ULONG textId) { textId_ = textId; return *this; }
  ParamRow& Persist(ULONG persist) { persist_ = persist; return *this; }
  ParamRow& Flags(ULONG flags) { flags_ = flags; return *this; }
  ParamRow& Storage(ULONG storage) { storage_ = storage; return *this; }
  ParamRow& Reserved1(ULONG reserved1) { reserved1_ = reserved1; return *this; }
  ParamRow& Text3(const wchar_t* text3) { text3_ = text3; return *this; }
  ParamRow& Number(ULONG number) { number_ = number; return *this; }
  ParamRow& Text2(const wchar_t* text2) { text2_ = text2; return *this; }
  ParamRow& SubType(USHORT subType) { subType_ = subType; return *this; }
  // Enumeration entries "<number>;<text>", ended by a null pointer.
  ParamRow& Entries(const wchar_t* const* entries) { entries_ = entries; return *this; }
  // Stored in extra2 as VT_UI4 (0: VT_EMPTY).
  ParamRow& Extra2(ULONG extra2) { extra2_ = extra2; return *this; }
  // The dependency text ("update(...)", "relation(...)").
  ParamRow& Extra3(const wchar_t* extra3) { extra3_ = extra3; return *this; }
  ParamRow& Hooks(const ParamCallbacks& hooks) { hooks_ = hooks; return *this; }
  ParamRow& Name(const wchar_t* name) { name_ = name; return *this; }
  ParamRow& HookContext(ULONG hookContext) { hookContext_ = hookContext; return *this; }
  ParamRow& Extra4(const VARIANT& extra4);
  ParamRow& Extra5(const VARIANT& extra5);

  // The record as declared (flag 0x4 set for an inconsistent numeric row).
  // Raises com::ComError when memory runs out.
  ParInfo Build() const;
  // Builds the record and adds it to the table; never raises.
  HRESULT AddTo(IevFdtParameterStore* store) const;

 private:
  ParamRow() = default;

  bool numeric_ = true;
  ULONG kind_ = kParKindDtm;
  ULONG id_ = kNoParameterId;
  const wchar_t* text_ = nullptr;
  ULONG textId_ = 0;
  VARTYPE vt_ = VT_EMPTY;
  double minValue_ = 0, maxValue_ = 0, defaultValue_ = 0, value_ = 0;
  const wchar_t* defaultText_ = nullptr;
  const wchar_t* valueText_ = nullptr;
  ULONG maxLength_ = 0;
  ULONG persist_ = 1;
  ULONG flags_ = kParFlagsDefault;
  ULONG storage_ = 2;
  ULONG reserved1_ = 0;
  const wchar_t* text3_ = nullptr;
  ULONG number_ = 0;
  const wchar_t* text2_ = nullptr;
  USHORT subType_ = kParPlain;
  const wchar_t* const* entries_ = nullptr;
  ULONG extra2_ = 0;
  const wchar_t* extra3_ = nullptr;
  ParamCallbacks hooks_ = {};
  const wchar_t* name_ = nullptr;
  ULONG hookContext_ = 0;
  com::Variant extra4_;
  com::Variant extra5_;
};
