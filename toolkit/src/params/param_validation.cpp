// The parameter handler's IevFdtParameterInfo (fields by selector) and
// IevFdtParameterValidation (limits, lengths, enumerations, bit sets).
#include <cwchar>

#include "com/Guard.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/values/text_helpers.h"

namespace {

HRESULT idFromVariant(const VARIANT& v, ULONG* id) {
  return SUCCEEDED(CFdtVariant::GetUI4(v, id)) ? S_OK : E_FAIL;
}

// How a field travels as a VARIANT.
enum class FieldForm { kUI4, kUI2, kBool, kText, kVariant };

struct FieldAccess {
  ULONG bit;
  FieldForm form;
  ULONG ParInfo::*number;
  USHORT ParInfo::*shortNumber;
  com::Bstr ParInfo::*text;
  com::Variant ParInfo::*variant;
};

// One row per selectable field.
const FieldAccess kFields[] = {
    {kParKind, FieldForm::kUI4, &ParInfo::kind, nullptr, nullptr, nullptr},
    {kParInfo, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::info},
    {kParText, FieldForm::kText, nullptr, nullptr, &ParInfo::text, nullptr},
    {kParTextId, FieldForm::kUI4, &ParInfo::textId, nullptr, nullptr, nullptr},
    {kParVt, FieldForm::kUI2, nullptr, &ParInfo::vt, nullptr, nullptr},
    {kParMinValue, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::minValue},
    {kParMaxValue, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::maxValue},
    {kParValue, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::value},
    {kParDefaultValue, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::defaultValue},
    {kParPersist, FieldForm::kBool, &ParInfo::persist, nullptr, nullptr, nullptr},
    {kParStorage, FieldForm::kUI4, &ParInfo::storage, nullptr, nullptr, nullptr},
    {kParReserved1, FieldForm::kUI4, &ParInfo::reserved1, nullptr, nullptr, nullptr},
    {kParText3, FieldForm::kText, nullptr, nullptr, &ParInfo::text3, nullptr},
    {kParNumber, FieldForm::kUI4, &ParInfo::number, nullptr, nullptr, nullptr},
    {kParFlags, FieldForm::kUI4, &ParInfo::flags, nullptr, nullptr, nullptr},
    {kParText2, FieldForm::kText, nullptr, nullptr, &ParInfo::text2, nullptr},
    {kParExtra1, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::extra1},
    {kParSubType, FieldForm::kUI2, nullptr, &ParInfo::subType, nullptr, nullptr},
    {kParExtra2, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::extra2},
    {kParExtra3, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::extra3},
    {kParName, FieldForm::kText, nullptr, nullptr, &ParInfo::name, nullptr},
    {kParInitialValue, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::initialValue},
    {kParExtra4, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::extra4},
    {kParExtra5, FieldForm::kVariant, nullptr, nullptr, nullptr, &ParInfo::extra5},
};

const FieldAccess* fieldOf(const VARIANT& selector) {
  ULONG bit = 0;
  if (FAILED(CFdtVariant::GetUI4(selector, &bit))) return nullptr;
  for (const FieldAccess& field : kFields)
    if (field.bit == bit) return &field;
  return nullptr;
}

bool isByteArray(VARTYPE vt) { return vt == (VT_ARRAY | VT_UI1); }

// The entries of an enumeration or bit set: VT_ARRAY|VT_BSTR, one dimension.
HRESULT entryNumbers(const VARIANT& list, LONG* count) {
  if (V_VT(&list) != (VT_ARRAY | VT_BSTR)) return E_INVALIDARG;
  if (!V_ARRAY(&list)) return E_UNEXPECTED;
  if (::SafeArrayGetDim(V_ARRAY(&list)) != 1) return E_INVALIDARG;
  return BstrArrayGetLowerBound(list, count);
}

// Plain parameter: not empty, not longer than a text maximum, inside limits.
bool plainValid(const ParInfo& record, const VARIANT& value) {
  if (V_VT(&value) == VT_EMPTY) return false;
  const VARIANT& maximum = record.maxValue.value();
  if (record.vt == VT_BSTR && V_VT(&maximum) == VT_BSTR && ::SysStringLen(V_BSTR(&maximum))) {
    ULONG maxLength = 0;
    if (SUCCEEDED(CFdtVariant::GetUI4(maximum, &maxLength))) {
      com::Variant text;
      if (FAILED(::VariantChangeType(text.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
        return false;
      ULONG length = ::SysStringLen(V_BSTR(text.get()));
      // An odd maximum lets one more character through (a text of maximum + 1
      // counts as maximum).
      bool oddSlack = (maxLength % 2) == 1 && length == maxLength + 1;
      if (length > maxLength && !oddSlack) return false;
    }
  }
  if (record.vt == VT_BSTR || record.vt == VT_BOOL || isByteArray(record.vt) ||
      CFdtVariant::IsEqual(record.minValue.value(), maximum))
    return true;
  com::Variant v, lo, hi;
  if (FAILED(::VariantChangeType(v.get(), const_cast<VARIANT*>(&value), 0, VT_R8)) ||
      FAILED(::VariantChangeType(lo.get(), const_cast<VARIANT*>(record.minValue.get()), 0,
                                 VT_R8)) ||
      FAILED(::VariantChangeType(hi.get(), const_cast<VARIANT*>(&maximum), 0, VT_R8)))
    return false;
  return V_R8(lo.get()) <= V_R8(v.get()) && V_R8(v.get()) <= V_R8(hi.get());
}

// Enumerated parameter: the value is one of the entries' numbers.
HRESULT enumeratedValid(const ParInfo& record, const VARIANT& value, bool* valid) {
  *valid = false;
  LONG count = 0;
  if (FAILED(entryNumbers(record.extra1.value(), &count))) return E_FAIL;
  com::Variant v;
  if (FAILED(::VariantChangeType(v.get(), const_cast<VARIANT*>(&value), 0, record.vt)) ||
      FAILED(v.changeType(VT_I4)))
    return S_OK;
  for (LONG i = 0; i < count; ++i) {
    LONG number = 0;
    if (SUCCEEDED(BstrArrayGetAt(record.extra1.value(), i, &number, nullptr)) &&
        number == V_I4(v.get())) {
      *valid = true;
      break;
    }
  }
  return S_OK;
}

// Bit set: the value uses no bit outside the entries' numbers.
HRESULT bitSetValid(const ParInfo& record, const VARIANT& value, bool* valid) {
  *valid = false;
  LONG count = 0;
  HRESULT hr = entryNumbers(record.extra1.value(), &count);
  if (FAILED(hr)) return hr;
  ULONG bits = 0;
  hr = CFdtVariant::GetUI4(value, &bits);
  if (FAILED(hr)) return hr;
  ULONG allowed = 0;
  for (LONG i = 0; i < count; ++i) {
    LONG number = 0;
    if (SUCCEEDED(BstrArrayGetAt(record.extra1.value(), i, &number, nullptr)))
      allowed |= static_cast<ULONG>(number);
  }
  *valid = (bits & ~allowed) == 0;
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// IevFdtParameterInfo
// ---------------------------------------------------------------------------

STDMETHODIMP CevFDT_ParameterHandlerCore::GetCount(VARIANT* count) {
  if (!count) return E_INVALIDARG;
  ::VariantInit(count);
  ULONG n = 0;
  HRESULT hr = GetParameterCountEx(&n);
  if (FAILED(hr)) return hr;
  V_VT(count) = VT_UI4;
  V_UI4(count) = n;
  return S_OK;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterId(VARIANT index, VARIANT* parameterId) {
  if (!parameterId) return E_INVALIDARG;
  ::VariantInit(parameterId);
  ULONG i = 0;
  if (FAILED(idFromVariant(index, &i))) return E_FAIL;
  ULONG id = 0;
  HRESULT hr = GetParameterIdByIndex(i, &id);
  if (FAILED(hr)) return hr;
  V_VT(parameterId) = VT_UI4;
  V_UI4(parameterId) = id;
  return S_OK;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterInfo(VARIANT parameterId, VARIANT selector,
                                                           VARIANT* value) {
  if (!value) return E_INVALIDARG;
  ::VariantInit(value);
  return com::guard([&]() -> HRESULT {
    ULONG id = 0;
    if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
    if (V_VT(&selector) == VT_BSTR) return GetPrivateProperty(id, V_BSTR(&selector), value);
    const FieldAccess* field = fieldOf(selector);
    if (!field) return E_FAIL;
    const ParInfo* record = params_.Find(id);
    if (!record) return E_INVALIDARG;
    switch (field->form) {
      case FieldForm::kUI4:
        V_VT(value) = VT_UI4;
        V_UI4(value) = record->*field->number;
        return S_OK;
      case FieldForm::kUI2:
        V_VT(value) = VT_UI2;
        V_UI2(value) = record->*field->shortNumber;
        return S_OK;
      case FieldForm::kBool:
        V_VT(value) = VT_BOOL;
        V_BOOL(value) = (record->*field->number) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      case FieldForm::kText: {
        BSTR copy = nullptr;
        HRESULT hr = (record->*field->text).copyTo(&copy);
        if (FAILED(hr)) return hr;
        V_VT(value) = VT_BSTR;
        V_BSTR(value) = copy;
        return S_OK;
      }
      case FieldForm::kVariant:
        return (record->*field->variant).copyTo(value);
    }
    return E_FAIL;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::SetParameterInfo(VARIANT parameterId, VARIANT selector,
                                                           VARIANT value) {
  return com::guard([&]() -> HRESULT {
    ULONG id = 0;
    if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
    if (V_VT(&selector) == VT_BSTR) return SetPrivateProperty(id, V_BSTR(&selector), value);
    const FieldAccess* field = fieldOf(selector);
    // The declared VARTYPE is fixed: every stored value is held in it.
    if (!field || field->bit == kParVt) return E_FAIL;
    ParInfo* record = params_.Find(id);
    if (!record) return E_INVALIDARG;
    switch (field->form) {
      case FieldForm::kUI4:
      case FieldForm::kBool: {
        ULONG number = 0;
        com::Variant v;
        HRESULT hr = ::VariantChangeType(v.get(), &value, 0, VT_UI4);
        if (FAILED(hr)) {
          // VT_BOOL true is -1, which VT_UI4 refuses.
          hr = ::VariantChangeType(v.get(), &value, 0, VT_I4);
          if (FAILED(hr)) return hr;
        }
        number = V_UI4(v.get());
        if (field->form == FieldForm::kBool) number = number ? 1 : 0;
        record->*field->number = number;
        return S_OK;
      }
      case FieldForm::kUI2: {
        com::Variant v;
        HRESULT hr = ::VariantChangeType(v.get(), &value, 0, VT_UI2);
        if (FAILED(hr)) return hr;
        record->*field->shortNumber = V_UI2(v.get());
        return S_OK;
      }
      case FieldForm::kText: {
        com::Variant v;
        HRESULT hr = ::VariantChangeType(v.get(), &value, 0, VT_BSTR);
        if (FAILED(hr)) return hr;
        com::Bstr text;
        text.attach(V_BSTR(v.get()));
        V_VT(v.get()) = VT_EMPTY;
        record->*field->text = std::move(text);
        return S_OK;
      }
      case FieldForm::kVariant:
        return (record->*field->variant).assign(value);
    }
    return E_FAIL;
  });
}

// ---------------------------------------------------------------------------
// IevFdtParameterValidation
// ---------------------------------------------------------------------------

STDMETHODIMP CevFDT_ParameterHandlerCore::Validate(VARIANT parameterId, VARIANT value,
                                                   unsigned long* status) {
  if (!status) return E_INVALIDARG;
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  return com::guard([&]() -> HRESULT {
    ParInfo record;
    HRESULT hr = GetParameter(id, &record);
    if (FAILED(hr)) return hr;
    ULONG flags = record.flags;
    *status = flags;
    if (flags & kParFlagDisabled) return S_OK;

    bool valid = false;
    switch (record.subType) {
      case kParPlain:
        valid = plainValid(record, value);
        break;
      case kParEnumerated:
        hr = enumeratedValid(record, value, &valid);
        break;
      case kParBitSet:
        hr = bitSetValid(record, value, &valid);
        break;
      default:
        hr = E_FAIL;
    }
    if (FAILED(hr)) return hr;
    flags = valid ? (flags & ~ULONG(kParFlagInvalid)) : (flags | kParFlagInvalid);

    // Compared in the parameter's own type when the value converts to it.
    com::Variant compared;
    if (FAILED(CFdtVariant::ConvertTo(compared.get(), &value, record.vt)))
      compared = com::Variant(value);
    if (!CFdtVariant::IsEqual(record.value.value(), compared.value()))
      flags |= kParFlagChanged;
    else if ((flags & kParFlagChanged) && record.kind != kParKindDtm)
      flags &= ~ULONG(kParFlagChanged);
    *status = flags;
    return S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::ValidateValue(VARIANT parameterId, VARIANT value,
                                                        VARIANT_BOOL* valid) {
  if (!valid) return E_INVALIDARG;
  *valid = VARIANT_FALSE;
  unsigned long flags = 0;
  HRESULT hr = Validate(parameterId, value, &flags);
  if (FAILED(hr)) return hr;
  if (!(flags & kParFlagDisabled)) {
    ULONG id = 0;
    idFromVariant(parameterId, &id);  // Validate took it already
    hr = com::guard([&]() -> HRESULT {
      ParInfo* record = params_.Find(id);
      if (!record) return E_INVALIDARG;
      // A value that cannot become the parameter's type is refused before
      // the flags change, so that a refusal leaves the parameter as it was.
      com::Variant converted;
      HRESULT hr = CFdtVariant::ConvertTo(converted.get(), &value, record->vt);
      if (FAILED(hr)) return hr;
      record->flags = flags;
      return WriteParameter(parameterId, value);
    });
    if (FAILED(hr)) return hr;
  }
  *valid = VARIANT_TRUE;
  return S_OK;
}
