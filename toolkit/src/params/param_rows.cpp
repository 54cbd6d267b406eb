#include "toolkit/params/param_rows.h"

#include <string>

#include "com/Guard.h"

namespace {

com::Variant doubleValue(double d) {
  com::Variant v;
  V_VT(v.get()) = VT_R8;
  V_R8(v.get()) = d;
  return v;
}

// The "<number>;<text>" entries as VT_ARRAY|VT_BSTR; VT_EMPTY without entries.
com::Variant entryArray(const wchar_t* const* entries) {
  com::Variant result;
  if (!entries) return result;
  ULONG count = 0;
  while (entries[count]) ++count;
  if (count == 0) return result;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, count);
  if (!array) throw com::ComError(E_OUTOFMEMORY);
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    com::Bstr text(entries[i]);
    HRESULT hr = ::SafeArrayPutElement(array, &i, text.get());  // copies the text
    if (FAILED(hr)) {
      ::SafeArrayDestroy(array);
      throw com::ComError(hr);
    }
  }
  V_VT(result.get()) = VT_ARRAY | VT_BSTR;
  V_ARRAY(result.get()) = array;
  return result;
}

bool convertsTo(double d, VARTYPE vt) {
  com::Variant v = doubleValue(d);
  return SUCCEEDED(v.changeType(vt));
}

}  // namespace

ParamRow ParamRow::Numeric(ULONG id, const wchar_t* text, VARTYPE vt, double minValue,
                           double maxValue, double defaultValue, double value) {
  ParamRow row;
  row.id_ = id;
  row.text_ = text;
  row.vt_ = vt;
  row.minValue_ = minValue;
  row.maxValue_ = maxValue;
  row.defaultValue_ = defaultValue;
  row.value_ = value;
  return row;
}

ParamRow ParamRow::Text(ULONG id, const wchar_t* text, const wchar_t* defaultText,
                        const wchar_t* valueText, ULONG maxLength) {
  ParamRow row;
  row.numeric_ = false;
  row.id_ = id;
  row.text_ = text;
  row.vt_ = VT_BSTR;
  row.defaultText_ = defaultText;
  row.valueText_ = valueText;
  row.maxLength_ = maxLength;
  return row;
}

ParamRow& ParamRow::Extra4(const VARIANT& extra4) {
  extra4_ = com::Variant(extra4);
  return *this;
}

ParamRow& ParamRow::Extra5(const VARIANT& extra5) {
  extra5_ = com::Variant(extra5);
  return *this;
}

ParInfo ParamRow::Build() const {
  com::Variant minValue, maxValue, defaultValue, value;
  ULONG flags = flags_;
  if (numeric_) {
    minValue = doubleValue(minValue_);
    maxValue = doubleValue(maxValue_);
    defaultValue = doubleValue(defaultValue_);
    value = doubleValue(value_);
    bool consistent = convertsTo(minValue_, vt_) && convertsTo(maxValue_, vt_) &&
                      convertsTo(defaultValue_, vt_) && convertsTo(value_, vt_) &&
                      minValue_ <= maxValue_;
    // Equal limits: the parameter has no limits.
    if (consistent && maxValue_ > minValue_) {
      auto inside = [&](double d) { return d >= minValue_ && d <= maxValue_; };
      consistent = inside(defaultValue_) && inside(value_);
    }
    if (!consistent) flags |= kParFlagInvalid;
  } else {
    minValue = com::Variant(L"");
    maxValue = com::Variant(maxLength_ ? std::to_wstring(maxLength_).c_str() : L"");
    defaultValue = com::Variant(defaultText_ ? defaultText_ : L"");
    value = com::Variant(valueText_ ? valueText_ : L"");
  }

  com::Variant extra2;
  if (extra2_ != 0) {
    V_VT(extra2.get()) = VT_UI4;
    V_UI4(extra2.get()) = extra2_;
  }
  com::Variant extra3;
  if (extra3_) extra3 = com::Variant(extra3_);

  return ParInfo(kind_, id_, com::Variant().value(), text_, textId_, vt_, minValue.value(),
                 maxValue.value(), defaultValue.value(), value.value(), persist_, flags,
                 storage_, reserved1_, text3_, number_, text2_, subType_,
                 entryArray(entries_).value(), extra2.value(), extra3.value(), hooks_, name_,
                 hookContext_, extra4_.value(), extra5_.value());
}

HRESULT ParamRow::AddTo(IevFdtParameterStore* store) const {
  if (!store) return E_POINTER;
  return com::guard([&]() -> HRESULT { return store->AddParameter(Build()); });
}
