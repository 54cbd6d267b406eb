// The FDT enumeration tables, the FDT data-type names and the VARTYPE names,
// with their lookups. The texts are exactly those the FDT documents and the
// traces use.
#include "toolkit/values/fdt_texts.h"

#include <cwchar>
#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "outside.h"
#include "toolkit/values/text_helpers.h"

namespace {

struct EnumRow {
  LONG value;
  const wchar_t* text;  // null ends the table
};

const EnumRow kApplicationIds[] = {
    {1, L"fdtAdjustSetValue"},    {2, L"fdtAssetManagement"},     {3, L"fdtAuditTrail"},
    {4, L"fdtConfiguration"},     {5, L"fdtDiagnosis"},           {6, L"fdtForce"},
    {7, L"fdtManagement"},        {8, L"fdtObserve"},             {9, L"fdtOfflineCompare"},
    {10, L"fdtOfflineParameterize"}, {11, L"fdtOnlineCompare"},   {12, L"fdtOnlineParameterize"},
    {0, nullptr}};

const EnumRow kStatus[] = {
    {0, L"ok"}, {1, L"warning"}, {2, L"error"}, {3, L"invalid"}, {0, nullptr}};

const EnumRow kStorage[] = {{0, L"persistent"}, {1, L"transient"}, {0, nullptr}};

const EnumRow kDataState[] = {
    {0, L"default"}, {1, L"validModified"}, {2, L"invalidModified"}, {3, L"allDataLoaded"},
    {0, nullptr}};

const EnumRow kApplicationBits[] = {
    {0, L"notSupported"}, {1, L"engineering"}, {2, L"commissioning"}, {4, L"runtime"},
    {8, L"service"},      {0, nullptr}};

HRESULT TextOf(const EnumRow* table, LONG value, BSTR* out) {
  if (!out) return E_POINTER;
  for (; table->text; ++table) {
    if (table->value == value) {
      *out = ::SysAllocString(table->text);
      return *out ? S_OK : E_OUTOFMEMORY;
    }
  }
  return E_FAIL;
}

HRESULT ValueOf(const EnumRow* table, const wchar_t* text, LONG* value) {
  if (!value) return E_POINTER;
  if (!text) return E_FAIL;
  for (; table->text; ++table) {
    if (std::wcscmp(table->text, text) == 0) {
      *value = table->value;
      return S_OK;
    }
  }
  return E_FAIL;
}

// FDT data types: the name written for a VARTYPE, and the VARTYPE read for a
// name. Every VARTYPE not in the first table is written as "hexString".
struct TypeName {
  VARTYPE vartype;
  const wchar_t* name;
};

const TypeName kDataTypeNames[] = {
    {VT_I2, L"int"},       {VT_I4, L"int"},       {VT_I1, L"int"},
    {VT_R4, L"float"},     {VT_R8, L"double"},    {VT_UI1, L"byte"},
    {VT_UI2, L"unsigned"}, {VT_UI4, L"unsigned"}, {0, nullptr}};

const TypeName kDataTypesByName[] = {
    {VT_I4, L"int"},
    {VT_R4, L"float"},
    {VT_R8, L"double"},
    {VT_UI1, L"byte"},
    {VT_UI4, L"unsigned"},
    {VT_BSTR, L"ascii"},
    {VT_ARRAY | VT_UI1, L"hexString"},
    {VT_DATE, L"dateAndTime"},
    {0, nullptr}};

// VARTYPE names of the traces, for writing a type (by its low twelve bits).
// The numbers are the trace table's own: "VT_BLOB_OBJECT" stands at 69, and
// 70 has no name.
const TypeName kVarTypeNames[] = {
    {0, L"VT_EMPTY"},
    {1, L"VT_NULL"},
    {2, L"VT_I2"},
    {3, L"VT_I4"},
    {4, L"VT_R4"},
    {5, L"VT_R8"},
    {6, L"VT_CY"},
    {7, L"VT_DATE"},
    {8, L"VT_BSTR"},
    {10, L"VT_ERROR"},
    {11, L"VT_BOOL"},
    {12, L"VT_VARIANT"},
    {14, L"VT_DECIMAL"},
    {16, L"VT_I1"},
    {17, L"VT_UI1"},
    {18, L"VT_UI2"},
    {19, L"VT_UI4"},
    {20, L"VT_I8"},
    {21, L"VT_UI8"},
    {22, L"VT_INT"},
    {23, L"VT_UINT"},
    {24, L"VT_VOID"},
    {27, L"VT_SAFEARRAY"},
    {29, L"VT_USERDEFINED"},
    {30, L"VT_LPSTR"},
    {31, L"VT_LPWSTR"},
    {36, L"VT_RECORD"},
    {64, L"VT_FILETIME"},
    {65, L"VT_BLOB"},
    {66, L"VT_STREAM"},
    {67, L"VT_STORAGE"},
    {68, L"VT_STREAMED_OBJECT"},
    {69, L"VT_BLOB_OBJECT"},
    {71, L"VT_CF"},
    {72, L"VT_CLSID"},
    {0, nullptr}};

// VARTYPE names, for reading a type: the first of this order that occurs in
// the text is the base type (a name that contains another comes first).
const TypeName kVarTypesByName[] = {
    {0, L"VT_EMPTY"},
    {1, L"VT_NULL"},
    {2, L"VT_I2"},
    {3, L"VT_I4"},
    {20, L"VT_I8"},
    {18, L"VT_UI2"},
    {19, L"VT_UI4"},
    {21, L"VT_UI8"},
    {4, L"VT_R4"},
    {5, L"VT_R8"},
    {6, L"VT_CY"},
    {7, L"VT_DATE"},
    {8, L"VT_BSTR"},
    {10, L"VT_ERROR"},
    {11, L"VT_BOOL"},
    {12, L"VT_VARIANT"},
    {14, L"VT_DECIMAL"},
    {16, L"VT_I1"},
    {17, L"VT_UI1"},
    {22, L"VT_INT"},
    {23, L"VT_UINT"},
    {24, L"VT_VOID"},
    {27, L"VT_SAFEARRAY"},
    {29, L"VT_USERDEFINED"},
    {30, L"VT_LPSTR"},
    {31, L"VT_LPWSTR"},
    {36, L"VT_RECORD"},
    {64, L"VT_FILETIME"},
    {69, L"VT_BLOB_OBJECT"},
    {65, L"VT_BLOB"},
    {68, L"VT_STREAMED_OBJECT"},
    {66, L"VT_STREAM"},
    {67, L"VT_STORAGE"},
    {71, L"VT_CF"},
    {72, L"VT_CLSID"},
    {0, nullptr}};


// VARTYPE modifier bits and their names.
const TypeName kVarTypeModifiers[] = {
    {VT_VECTOR, L"VT_VECTOR"}, {VT_ARRAY, L"VT_ARRAY"}, {VT_RESERVED, L"VT_RESERVED"},
    {0, nullptr}};

}  // namespace

HRESULT ApplicationIdToText(LONG value, BSTR* out) { return TextOf(kApplicationIds, value, out); }
HRESULT StatusToText(LONG value, BSTR* out) { return TextOf(kStatus, value, out); }
HRESULT StorageToText(LONG value, BSTR* out) { return TextOf(kStorage, value, out); }
HRESULT DataStateToText(LONG value, BSTR* out) { return TextOf(kDataState, value, out); }

HRESULT ApplicationIdFromText(const wchar_t* text, LONG* value) {
  return ValueOf(kApplicationIds, text, value);
}
HRESULT ApplicationBitFromText(const wchar_t* text, LONG* value) {
  return ValueOf(kApplicationBits, text, value);
}

HRESULT DataTypeName(VARTYPE vartype, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (vartype == VT_EMPTY) return E_FAIL;
  HRESULT result = S_FALSE;
  const wchar_t* name = L"hexString";
  for (const TypeName* row = kDataTypeNames; row->name; ++row) {
    if (row->vartype == vartype) {
      name = row->name;
      result = S_OK;
      break;
    }
  }
  *out = ::SysAllocString(name);
  return *out ? result : E_OUTOFMEMORY;
}

bool DataTypeFromName(const wchar_t* name, VARTYPE* out) {
  if (!name || !out) return false;
  for (const TypeName* row = kDataTypesByName; row->name; ++row) {
    if (std::wcscmp(row->name, name) == 0) {
      *out = row->vartype;
      return true;
    }
  }
  return false;
}

HRESULT VarTypeFromString(const wchar_t* text, VARTYPE* out) {
  if (!out) return E_POINTER;
  *out = VT_EMPTY;
  if (!text) return S_OK;
  for (const TypeName* row = kVarTypesByName; row->name; ++row) {
    if (std::wcsstr(text, row->name)) {
      *out = row->vartype;
      break;
    }
  }
  for (const TypeName* row = kVarTypeModifiers; row->name; ++row)
    if (std::wcsstr(text, row->name)) *out |= row->vartype;
  return S_OK;
}

BSTR VarTypeToStringEx(VARTYPE vartype) {
  const VARTYPE base = vartype & 0x0FFF;
  std::wstring text;
  for (const TypeName* row = kVarTypeNames; row->name; ++row) {
    if (row->vartype == base) {
      text = row->name;
      break;
    }
  }
  if (text.empty()) text = L"Unknown (" + std::to_wstring(base) + L")";
  for (const TypeName* row = kVarTypeModifiers; row->name; ++row) {
    if (vartype & row->vartype) {
      text += L" | ";
      text += row->name;
    }
  }
  return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

HRESULT BytesToHex(IUnknown* dtmInterface, ULONG value, bool kind, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // The identifiers come from the transfer-group interface as outside.idl
  // declares it: a dual interface whose first own method follows IDispatch.
  com::ComPtr<ITransferGroupProvider> frame;
  if (dtmInterface)
    dtmInterface->QueryInterface(__uuidof(ITransferGroupProvider), frame.putVoid());
  if (!frame) return FormatBstr(out, L"%08X", static_cast<unsigned>(value));

  VARIANT kindArg, valueArg, answer;
  ::VariantInit(&kindArg);
  ::VariantInit(&valueArg);
  ::VariantInit(&answer);
  V_VT(&kindArg) = VT_UI4;
  V_UI4(&kindArg) = kind ? 1 : 2;
  V_VT(&valueArg) = VT_UI4;
  V_UI4(&valueArg) = value;
  HRESULT hr = frame->GetTransferGroup(kindArg, valueArg, &answer);
  if (FAILED(hr)) {
    ::VariantClear(&answer);
    return hr;
  }
  SAFEARRAY* array = V_VT(&answer) == (VT_ARRAY | VT_UI4) ? V_ARRAY(&answer) : nullptr;
  ULONG* data = nullptr;
  LONG lower = 0, upper = -1;
  if (!array || ::SafeArrayGetDim(array) != 1 || ::SafeArrayGetElemsize(array) != sizeof(ULONG) ||
      FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(::SafeArrayGetUBound(array, 1, &upper)) || upper < lower ||
      FAILED(::SafeArrayAccessData(array, reinterpret_cast<void**>(&data)))) {
    ::VariantClear(&answer);
    return E_UNEXPECTED;
  }
  std::wstring text;
  for (LONG i = 0; i <= upper - lower; ++i) {
    for (int shift = 28; shift >= 0; shift -= 4)  // "%08X"
      text += L"0123456789ABCDEF"[(data[i] >> shift) & 0xF];
  }
  ::SafeArrayUnaccessData(array);
  ::VariantClear(&answer);
  *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}
