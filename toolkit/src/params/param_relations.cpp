// Dependency texts of parameters: "update(" lists re-read parameters from the
// device, "relation(" lists change other parameters' flags, limits, choices,
// values and texts after a change. Also the merge of a second collection and
// the double conversion of the row builders.
#include <cwchar>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/safe_array.h"
#include "toolkit/values/text_helpers.h"

namespace {

constexpr LONG kStateOnline = 12;
constexpr wchar_t kUpdateList[] = L"update(";
constexpr wchar_t kRelationList[] = L"relation(";
// A list text this short cannot hold a list.
constexpr size_t kShortestList = 7;
// Relation lists nest when a pair writes a target that has a list of its
// own; beyond this depth the pair fails instead of going deeper.
constexpr ULONG kMaxRelationDepth = 8;

// Decimal number at the start of text: leading blanks and a sign allowed, it
// stops at the first non-digit, junk reads as 0.
ULONG readNumber(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  ULONG n = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) n = n * 10 + (text[i] - L'0');
  return negative ? static_cast<ULONG>(-static_cast<LONG>(n)) : n;
}

// Cuts the next item off rest: it ends at the next ',', without one at the
// next ')', without either at the end. *last when nothing follows the cut.
std::wstring cutItem(std::wstring* rest, bool* last) {
  size_t end = rest->find(L',');
  if (end == std::wstring::npos) end = rest->find(L')');
  std::wstring item;
  if (end == std::wstring::npos) {
    item = *rest;
    rest->clear();
  } else {
    item = rest->substr(0, end);
    rest->erase(0, end + 1);
  }
  *last = rest->empty();
  return item;
}

// The text behind the list's opening, or false when text holds no such list.
bool listBody(BSTR text, const wchar_t* opening, std::wstring* body) {
  if (!text || ::SysStringLen(text) <= kShortestList) return false;
  const wchar_t* start = std::wcsstr(text, opening);
  if (!start) return false;
  const wchar_t* from = start + std::wcslen(opening);
  const wchar_t* end = text + ::SysStringLen(text);
  body->assign(from, static_cast<size_t>(end - from));
  return true;
}

bool holdsList(const VARIANT& dependencies, const wchar_t* opening) {
  return V_VT(&dependencies) == VT_BSTR && V_BSTR(&dependencies) &&
         std::wcsstr(V_BSTR(&dependencies), opening) != nullptr;
}

// Ends a held notice whatever way the list is left.
class NoticeHold {
 public:
  NoticeHold(CevFDT_ParameterHandlerCore* handler, bool take) : handler_(take ? handler : nullptr) {
    if (handler_) handler_->HoldDataSetNotice();
  }
  ~NoticeHold() {
    if (handler_) handler_->ReleaseDataSetNotice();
  }
  NoticeHold(const NoticeHold&) = delete;
  NoticeHold& operator=(const NoticeHold&) = delete;

 private:
  CevFDT_ParameterHandlerCore* handler_;
};

// Sets a flag for the lifetime of the guard, restoring what it was.
class FlagScope {
 public:
  FlagScope(bool* flag, bool on) : flag_(flag), old_(*flag) { *flag_ = on; }
  ~FlagScope() { *flag_ = old_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool* flag_;
  bool old_;
};

class DepthScope {
 public:
  explicit DepthScope(ULONG* depth) : depth_(depth) { ++*depth_; }
  ~DepthScope() { --*depth_; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;

 private:
  ULONG* depth_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Dependency evaluation
// ---------------------------------------------------------------------------

STDMETHODIMP CevFDT_ParameterHandlerCore::EvaluateDependencies(ULONG parameterId, ULONG what) {
  if (what == 0) return S_FALSE;
  return com::guard([&]() -> HRESULT {
    HRESULT result = S_OK;
    if (what & kParDependUpdate) {
      ParInfo record;
      HRESULT hr = GetParInfo(parameterId, kParExtra3, &record);
      if (FAILED(hr)) return hr;
      if (holdsList(record.extra3.value(), kUpdateList)) {
        hr = UpdateParameters(parameterId, V_BSTR(record.extra3.get()));
        if (FAILED(hr)) result = hr;
      }
    }
    if (what & kParDependRelation) {
      const ParInfo* record = find(parameterId);
      if (!record) return E_INVALIDARG;
      if (holdsList(record->extra3.value(), kRelationList)) {
        // A copy: the list may change the collection under the record.
        com::Bstr text(V_BSTR(record->extra3.get()));
        HRESULT hr = EvaluateRelation(parameterId, text.get());
        if (FAILED(hr)) result = hr;
      }
    }
    return result;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::UpdateParameters(ULONG, BSTR text) {
  return com::guard([&]() -> HRESULT {
    std::wstring rest;
    if (!listBody(text, kUpdateList, &rest)) return E_INVALIDARG;
    HRESULT result = S_OK;
    bool last = rest.empty();
    while (!last) {
      const ULONG id = readNumber(cutItem(&rest, &last));
      VARIANT_BOOL done = VARIANT_FALSE;
      HRESULT hr = RefreshParameter(com::ui4(id).value(), &done);
      if (FAILED(hr)) result = hr;
    }
    return result;
  });
}

HRESULT CevFDT_ParameterHandlerCore::EvaluateRelation(ULONG sourceId, BSTR text) {
  return com::guard([&]() -> HRESULT {
    std::wstring rest;
    if (!listBody(text, kRelationList, &rest)) return E_INVALIDARG;
    if (relationDepth_ >= kMaxRelationDepth) return HRESULT_FROM_WIN32(ERROR_CIRCULAR_DEPENDENCY);
    DepthScope depth(&relationDepth_);
    NoticeHold hold(this, options_.holdNoticeDuringRelations);

    HRESULT result = S_OK;
    for (;;) {
      const size_t comma = rest.find(L',');
      if (comma == std::wstring::npos || comma + 1 == rest.size()) return S_OK;
      const ULONG kind = readNumber(rest.substr(0, comma));
      rest.erase(0, comma + 1);
      bool last = false;
      const ULONG target = readNumber(cutItem(&rest, &last));
      if (kind >= 1 && kind <= 9) {
        HRESULT hr = relationPair(kind, sourceId, target);
        if (FAILED(hr)) result = hr;
      }
      if (last) return result;
    }
  });
}

HRESULT CevFDT_ParameterHandlerCore::ApplyRelationsForConfig() {
  return com::guard([&]() -> HRESULT {
    FlagScope bulk(&bulkRelations_, true);
    ULONG count = 0;
    HRESULT hr = GetParameterCount(&count);
    if (FAILED(hr)) return hr;
    // Ids first: a relation may not add or remove parameters, but the walk
    // must not depend on it.
    std::vector<ULONG> ids;
    for (ULONG i = 0; i < count; ++i) {
      ULONG id = 0;
      hr = GetParameterIdByIndex(i, &id);
      if (FAILED(hr)) return hr;
      ids.push_back(id);
    }
    for (ULONG id : ids) {
      const ParInfo* record = find(id);
      if (!record || !holdsList(record->extra3.value(), kRelationList)) continue;
      com::Bstr text(V_BSTR(record->extra3.get()));
      EvaluateRelation(id, text.get());
    }
    return S_OK;
  });
}

HRESULT CevFDT_ParameterHandlerCore::ReleaseDataSetNotice() {
  if (noticeHolds_ == 0 || --noticeHolds_ > 0 || !noticePending_) return S_OK;
  noticePending_ = false;
  return OnParamDataSetModified();
}

HRESULT CevFDT_ParameterHandlerCore::notifyDataSetModified() {
  if (noticeHolds_ > 0) {
    noticePending_ = true;
    return S_OK;
  }
  return OnParamDataSetModified();
}

// ---------------------------------------------------------------------------
// One relation pair
// ---------------------------------------------------------------------------

HRESULT CevFDT_ParameterHandlerCore::sendRelationProperty(LONG property, ULONG targetId) {
  com::Variant pair;
  HRESULT hr = CevFdtSafeArray::FromVariants(com::ui4(targetId).value(), com::Variant().value(),
                                             pair.get());
  if (FAILED(hr)) return hr;
  return OnParamControlMessage(com::Variant(property).value(), pair.value());
}

HRESULT CevFDT_ParameterHandlerCore::relationPair(ULONG kind, ULONG sourceId, ULONG targetId) {
  // The decisions are asked through the object's own handler interface.
  com::ComPtr<IevFdtParameterHandler4> self;
  const com::ComPtr<IUnknown> owner = ParamOwner();
  if (!owner || FAILED(owner->QueryInterface(__uuidof(IevFdtParameterHandler4), self.putVoid())))
    return E_POINTER;
  const com::Variant target = com::ui4(targetId);

  switch (kind) {
    case 1: {  // re-read the target from the device while online
      com::ComPtr<IevFdtBaseDTM> dtm;
      if (FAILED(owner->QueryInterface(__uuidof(IevFdtBaseDTM), dtm.putVoid())))
        return E_NOINTERFACE;
      LONG state = -1;
      HRESULT hr = dtm->GetDtmState(&state);
      if (FAILED(hr)) return hr;
      if (state != kStateOnline || bulkRelations_) return S_OK;
      VARIANT_BOOL started = VARIANT_FALSE;
      return RequestParameter(target.value(), &started);
    }
    case 2: {  // enable
      BOOL enable = TRUE;
      HRESULT hr = QueryRelationEnable(sourceId, targetId, &enable);
      if (FAILED(hr)) return hr;
      com::Variant flags;
      hr = GetParameterInfo(target.value(), com::ui4(kParFlags).value(), flags.get());
      if (FAILED(hr)) return hr;
      ULONG word = V_UI4(flags.get());
      word = enable ? (word & ~ULONG(kParFlagDisabled)) : (word | kParFlagDisabled);
      return SetParameterFlags(targetId, word);
    }
    case 3: {  // write access
      BOOL apply = TRUE;
      const BYTE access = QueryRelationAccess(sourceId, targetId, &apply);
      if (!apply) return S_OK;
      com::Variant flags;
      HRESULT hr = GetParameterInfo(target.value(), com::ui4(kParFlags).value(), flags.get());
      if (FAILED(hr)) return hr;
      ULONG word = V_UI4(flags.get());
      word = (access & 0x2) ? (word | kParFlagWritable) : (word & ~ULONG(kParFlagWritable));
      return SetParameterFlags(targetId, word);
    }
    case 4: {  // choices of an enumerated target
      com::Variant choices;
      HRESULT hr = QueryRelationChoices(sourceId, targetId, choices.get());
      if (FAILED(hr) || choices.type() == VT_EMPTY) return E_INVALIDARG;
      // Entries the validation can read ("<number>;<text>" texts) or nothing.
      LONG entries = 0;
      if (FAILED(BstrArrayGetLowerBound(choices.value(), &entries))) return E_INVALIDARG;
      for (LONG i = 0; i < entries; ++i) {
        LONG number = 0;
        com::Bstr text;
        if (FAILED(BstrArrayGetAt(choices.value(), i, &number, text.put()))) return E_INVALIDARG;
      }
      hr = SetParameterInfo(target.value(), com::ui4(kParExtra1).value(), choices.value());
      if (FAILED(hr)) return hr;
      sendRelationProperty(kCtlRelationChoices, targetId);
      return S_OK;
    }
    case 5:
    case 6:
    case 7:
    case 8: {
      com::Variant value;
      HRESULT hr = QueryRelationValue(sourceId, targetId, value.get());
      if (FAILED(hr)) return hr;
      if (kind == 5) return WriteParameter(target.value(), value.value());
      const ULONG field = kind == 6 ? kParDefaultValue : kind == 7 ? kParMaxValue : kParMinValue;
      return SetParameterInfo(target.value(), com::ui4(field).value(), value.value());
    }
    case 9: {  // the text of the target
      com::Variant current;
      HRESULT hr = GetParameterInfo(target.value(), com::ui4(kParExtra2).value(), current.get());
      if (FAILED(hr)) return hr;
      if (current.type() != VT_BSTR) return sendRelationProperty(kCtlRelationValue, targetId);
      com::Bstr text;
      hr = QueryRelationText(sourceId, targetId, text.put());
      if (FAILED(hr)) return hr;
      com::Variant stored(text.c_str());
      hr = SetParameterInfo(target.value(), com::ui4(kParExtra2).value(), stored.value());
      if (FAILED(hr)) return hr;
      sendRelationProperty(kCtlRelationValue, targetId);
      sendRelationProperty(kCtlRelationText, targetId);
      return S_OK;
    }
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// Relation decisions (defaults)
// ---------------------------------------------------------------------------

HRESULT CevFDT_ParameterHandlerCore::QueryRelationEnable(ULONG, ULONG, BOOL* enable) {
  if (!enable) return E_INVALIDARG;
  *enable = TRUE;
  return S_OK;
}

BYTE CevFDT_ParameterHandlerCore::QueryRelationAccess(ULONG, ULONG, BOOL* apply) {
  if (apply) *apply = TRUE;
  return 2;
}

HRESULT CevFDT_ParameterHandlerCore::QueryRelationChoices(ULONG, ULONG, VARIANT* choices) {
  return choices ? E_NOTIMPL : E_INVALIDARG;
}

HRESULT CevFDT_ParameterHandlerCore::QueryRelationValue(ULONG source, ULONG, VARIANT* value) {
  com::Variant current;
  HRESULT hr = GetParameterValue(com::ui4(source).value(), current.get());
  if (FAILED(hr)) return hr;
  if (!value) return S_OK;
  ::VariantClear(value);
  return current.detachTo(value);
}

HRESULT CevFDT_ParameterHandlerCore::QueryRelationText(ULONG source, ULONG, BSTR* text) {
  if (!text) return E_INVALIDARG;
  *text = nullptr;
  com::Variant current;
  HRESULT hr = GetParameterValue(com::ui4(source).value(), current.get());
  if (FAILED(hr)) return hr;
  if (current.type() != VT_BSTR) return E_INVALIDARG;
  *text = ::SysAllocStringLen(V_BSTR(current.get()), ::SysStringLen(V_BSTR(current.get())));
  return (*text || !V_BSTR(current.get())) ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------------------
// Merge and conversion
// ---------------------------------------------------------------------------

HRESULT CevFDT_ParameterHandlerCore::MergeParameters(const CParamCollection* source) {
  if (!source) return E_INVALIDARG;
  for (ULONG i = 0; i < source->Count(); ++i) {
    const ParInfo* record = source->At(i);
    if (!record || IndexOfParameter(record->id) != -1) continue;
    HRESULT hr = AddParameter(*record);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

bool CevFDT_ParameterHandlerCore::ConvertDoubleToType(double number, VARTYPE vartype,
                                                      VARIANT* out) {
  com::Variant source;
  V_VT(source.get()) = VT_R8;
  V_R8(source.get()) = number;
  com::Variant converted;
  if (FAILED(CFdtVariant::ConvertTo(converted.get(), source.get(), vartype)) ||
      converted.type() != vartype)
    return false;
  if (out) {
    ::VariantClear(out);
    converted.detachTo(out);
  }
  return true;
}
