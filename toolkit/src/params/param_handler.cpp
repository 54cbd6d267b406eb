// The parameter handler's table operations, the write core, device
// completions and the stream operations. Validation and field access by
// selector are in param_validation.cpp.
#include "toolkit/params/param_handler.h"

#include "toolkit/audit/audit_trail.h"

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "outside.h"
#include "toolkit/online/transfer_interface.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/params/param_stream.h"
#include "toolkit/values/safe_array.h"
#include "toolkit/values/text_helpers.h"

namespace {

constexpr LONG kStateOnline = 12;
// Dependency evaluation after a change: update list and relation list.
constexpr ULONG kEvaluateAll = 0x3;

HRESULT idFromVariant(const VARIANT& v, ULONG* id) {
  return SUCCEEDED(CFdtVariant::GetUI4(v, id)) ? S_OK : E_FAIL;
}

}  // namespace

// ---------------------------------------------------------------------------
// Owner services (defaults)
// ---------------------------------------------------------------------------

HRESULT CevFDT_ParameterHandlerCore::OnParamControlMessage(const VARIANT& code,
                                                           const VARIANT& value) {
  auto container = queryOwner<IevFdtActiveXContainer>(ParamOwner());
  if (!container) return S_FALSE;
  return container->SetControlsProperty(code, value);
}

HRESULT CevFDT_ParameterHandlerCore::OnParamAuditEntry(const wchar_t* name,
                                                       const VARIANT& oldValue,
                                                       const VARIANT& newValue,
                                                       const wchar_t* descriptor) {
  auto trail = queryOwner<IevFdtAuditTrail>(ParamOwner());
  if (!trail) return S_FALSE;
  return AuditWriteParameterChange(trail.get(), name, oldValue, newValue, descriptor);
}

HRESULT CevFDT_ParameterHandlerCore::OnParamDataSetModified() {
  auto storage = queryOwner<IevFdtStorageState>(ParamOwner());
  if (!storage) return S_FALSE;
  return storage->SetModified(1);
}

// A failed device completion's text goes to the user through the owner's
// message path (a DTM's user-message event); an owner without one keeps it
// for the controls alone.
HRESULT CevFDT_ParameterHandlerCore::OnParamReportMessage(BSTR text) {
  if (!text || !*text) return S_OK;
  if (auto events = queryOwner<IevFdtDtmEvents>(ParamOwner())) {
    com::Bstr copy(text);
    VARIANT value;
    ::VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = copy.get();  // borrowed for the call
    events->OnDtmEvent(com::Variant(kDtmEventUserMessageText).value(), value);
  }
  return S_OK;
}
void CevFDT_ParameterHandlerCore::OnParamProgress(ULONG index, ULONG count, const wchar_t* text) {
  if (index == 0) ResetTransferProgress();
  ReportTransferProgress(index, count, text);
}

HRESULT CevFDT_ParameterHandlerCore::OnParamDownloadRequest(const VARIANT&, VARIANT_BOOL* done) {
  *done = VARIANT_FALSE;
  auto transfer = queryOwner<IevFdtOnlineTransfer>(ParamOwner());
  if (!transfer) return S_FALSE;
  return transfer->DownloadParameterSet(done);
}

LONG CevFDT_ParameterHandlerCore::dtmState() {
  auto dtm = queryOwner<IevFdtBaseDTM>(ParamOwner());
  LONG state = -1;
  if (!dtm || FAILED(dtm->GetDtmState(&state))) return -1;
  return state;
}

// ---------------------------------------------------------------------------
// Hooks and control messages
// ---------------------------------------------------------------------------

HRESULT CevFDT_ParameterHandlerCore::callHook(ULONG parameterId, ULONG hookNumber) {
  ParInfo* record = find(parameterId);
  int slot = ParamHookSlot(hookNumber);
  if (!record || slot < 0) return E_INVALIDARG;
  if (!record->hooks[slot]) return S_FALSE;

  auto handler = queryOwner<IevFdtParameterHandler4>(ParamOwner());
  if (!handler) return E_POINTER;
  com::Variant argument(static_cast<IUnknown*>(handler.get()));
  HRESULT hr = InvokeParameterCallback(parameterId, hookNumber, argument.value());
  if (FAILED(hr)) return hr;

  static const ULONG kEvents[] = {kTransferReadBegins, kTransferReadEnded, kTransferWriteBegins,
                                  kTransferWriteEnded};
  if (hookNumber <= 4)
    return DispatchTransferEvent(com::ui4(parameterId).value(), kEvents[hookNumber - 1]);
  return hr;
}

HRESULT CevFDT_ParameterHandlerCore::sendPair(LONG code, ULONG parameterId,
                                              const VARIANT& value) {
  com::Variant pair;
  HRESULT hr = CevFdtSafeArray::FromVariants(com::ui4(parameterId).value(), value, pair.get());
  if (FAILED(hr)) return hr;
  return OnParamControlMessage(com::Variant(code).value(), pair.value());
}

// ---------------------------------------------------------------------------
// C++ operations
// ---------------------------------------------------------------------------

HRESULT CevFDT_ParameterHandlerCore::WriteCore(ULONG parameterId, const VARIANT& newValue,
                                               bool notify) {
  if (parameterId == kNoParameterId) return S_OK;
  return com::guard([&]() -> HRESULT {
    ParInfo record;
    HRESULT hr = GetParInfo(parameterId,
                            kParKind | kParText | kParVt | kParValue | kParPersist | kParFlags,
                            &record);
    if (FAILED(hr)) return hr;
    com::Variant value;
    hr = CFdtVariant::ConvertTo(value.get(), &newValue, record.vt);
    if (FAILED(hr)) return hr;

    if (CFdtVariant::IsEqual(record.value.value(), value.value())) {
      // Unchanged: the controls refresh, nothing else happens.
      return sendPair(kCtlValueWritten, parameterId, value.value());
    }

    // The audit trail decides which changes it writes (an empty old value
    // included).
    OnParamAuditEntry(record.text.c_str(), record.value.value(), value.value(), L"");

    // The before-write hook may refuse the change.
    hr = callHook(parameterId, kParHookBeforeWrite);
    if (FAILED(hr)) return hr;

    ParInfo stored;
    stored.value = value;
    hr = SetParInfo(parameterId, kParValue, stored);
    if (FAILED(hr)) return hr;

    if (record.kind == kParKindDevice) SetDataState(kDataStateValidModified);

    // The value is stored: a failing after-write hook no longer stops the
    // notices; its code is answered at the end.
    HRESULT result = S_OK;
    if (!options_.skipAfterWriteHook) {
      hr = callHook(parameterId, kParHookAfterWrite);
      if (FAILED(hr)) result = hr;
    }

    sendPair(kCtlValueWritten, parameterId, value.value());

    if (notify) {
      ParInfo flags;
      hr = GetParInfo(parameterId, kParFlags, &flags);
      if (SUCCEEDED(hr)) {
        flags.flags |= kParFlagWritten;
        hr = SetParInfo(parameterId, kParFlags, flags);
      }
      if (FAILED(hr)) return hr;
      if (record.persist) notifyDataSetModified();
      hr = EvaluateDependencies(parameterId, kEvaluateAll);
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
  });
}

HRESULT CevFDT_ParameterHandlerCore::SetDeviceValue(ULONG parameterId, const VARIANT& value) {
  return com::guard([&]() -> HRESULT {
    ParInfo* record = find(parameterId);
    if (!record) return E_INVALIDARG;
    com::Variant converted;
    HRESULT hr = CFdtVariant::ConvertTo(converted.get(), &value, record->vt);
    if (FAILED(hr)) return hr;
    record->initialValue = converted;
    sendPair(kCtlDeviceValue, parameterId, converted.value());
    return EvaluateDependencies(parameterId, kEvaluateAll);
  });
}

HRESULT CevFDT_ParameterHandlerCore::SetParameterFlags(ULONG parameterId, ULONG flags) {
  ParInfo* record = find(parameterId);
  if (!record) return E_INVALIDARG;
  record->flags = flags;
  return sendPair(kCtlFlagsChanged, parameterId, com::Variant().value());
}

HRESULT CevFDT_ParameterHandlerCore::SetDataState(ULONG state) {
  dataState_ = state;
  com::Variant v;
  V_VT(v.get()) = VT_UI2;
  V_UI2(v.get()) = static_cast<USHORT>(state);
  return OnParamControlMessage(com::Variant(static_cast<LONG>(kCtlDataState)).value(), v.value());
}

// ---------------------------------------------------------------------------
// IevFdtParameterHandler4
// ---------------------------------------------------------------------------

STDMETHODIMP CevFDT_ParameterHandlerCore::RequestParameter(VARIANT parameterId,
                                                           VARIANT_BOOL* started) {
  if (started) *started = VARIANT_FALSE;
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  return com::guard([&]() -> HRESULT {
    ParInfo* record = find(id);
    if (!record) return E_INVALIDARG;
    if (record->kind != kParKindDevice || !(record->flags & kParFlagOnlineRead)) return S_OK;
    auto online = queryOwner<IOnlineParameterRequest>(ParamOwner());
    if (!online) return E_FAIL;
    HRESULT hr = callHook(id, kParHookBeforeRead);
    if (FAILED(hr)) return hr;
    hr = online->RequestParameter(com::ui4(id).value(), com::Variant().value());
    if (SUCCEEDED(hr) && started) *started = VARIANT_TRUE;
    return hr;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::SetParameterChecked(VARIANT parameterId, VARIANT value,
                                                              VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  return com::guard([&]() -> HRESULT {
    VARIANT_BOOL valid = VARIANT_FALSE;
    HRESULT hr = ValidateValue(com::ui4(id).value(), value, &valid);
    if (FAILED(hr)) return hr;
    if (valid != VARIANT_TRUE) return E_FAIL;
    ParInfo* record = find(id);
    if (!record) return E_INVALIDARG;
    bool onlineWritable =
        record->kind == kParKindDevice && (record->flags & kParFlagOnlineWrite);
    ULONG flags = onlineWritable ? (record->flags | kParFlagChanged)
                                 : (record->flags & ~ULONG(kParFlagChanged));
    hr = SetParameterFlags(id, flags);
    if (FAILED(hr)) return hr;
    if (onlineWritable && options_.storeToDeviceOnline) {
      auto online = queryOwner<IOnlineParameterRequest>(ParamOwner());
      if (online) {
        hr = online->RequestParameter(com::ui4(id).value(), value);
        if (FAILED(hr)) return hr;
      }
    }
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterDescription(
    VARIANT parameterId, VARIANT* value, BSTR* text, unsigned short* vt, VARIANT* minimum,
    VARIANT* maximum, VARIANT* defaultValue, VARIANT* flags) {
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  return GetParameterData(id, value, text, vt, minimum, maximum, defaultValue, flags);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::SetParameterValue(VARIANT_BOOL success,
                                                            VARIANT parameterId, VARIANT value,
                                                            BSTR errorText) {
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  return com::guard([&]() -> HRESULT {
    const com::ComPtr<IUnknown> owner = ParamOwner();
    if (auto events = queryOwner<IevFdtDtmEvents>(owner)) {
      HRESULT hr = events->OnDtmEvent(com::Variant(kDtmEventParameterCompleted).value(),
                                      com::ui4(id).value());
      if (FAILED(hr)) return hr;
    }
    ParInfo* record = find(id);
    if (!record) return E_INVALIDARG;
    ULONG flags = record->flags;
    lastDeviceResult_ = success ? 1 : 0;
    lastCompletedId_ = id;
    if (success) {
      lastDeviceError_.reset();
      lastDeviceValue_ = com::Variant(value);
      HRESULT hr =
          SetParameterInfo(com::ui4(id).value(), com::ui4(kParFlags).value(),
                           com::ui4(flags & ~ULONG(kParFlagChanged | kParFlagNotRead)).value());
      if (FAILED(hr)) return hr;
      return SetDeviceValue(id, value);
    }
    lastDeviceError_ = com::Bstr(errorText);
    if (auto container = queryOwner<IevFdtActiveXContainer>(owner)) {
      HRESULT hr = container->SendMessageToControls(com::ui4(id).value(), value, errorText);
      if (FAILED(hr)) return hr;
    }
    return OnParamReportMessage(errorText);
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterInfoValue(VARIANT parameterId,
                                                                VARIANT* info) {
  if (!info) return E_INVALIDARG;
  ::VariantInit(info);
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  ParInfo* record = find(id);
  if (!record) return E_INVALIDARG;
  return record->info.copyTo(info);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::SetValueAndFlagsByVariant(VARIANT parameterId,
                                                                    VARIANT value,
                                                                    VARIANT flags) {
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  DWORD word = 0;
  bool hasFlags = V_VT(&flags) != VT_EMPTY;
  if (hasFlags && FAILED(CFdtVariant::GetUI4(flags, &word))) return E_FAIL;
  return SetValueAndFlags(id, V_VT(&value) != VT_EMPTY ? &value : nullptr,
                          hasFlags ? &word : nullptr);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterValue(VARIANT parameterId, VARIANT* value) {
  if (!value) return E_INVALIDARG;
  ::VariantInit(value);
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  if (id == kNoParameterId) return E_INVALIDARG;
  return GetValue(id, value);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::WriteParameter(VARIANT parameterId, VARIANT value) {
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  HRESULT hr = WriteCore(id, value, true);
  return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterKind(VARIANT parameterId, VARIANT* kind) {
  if (!kind) return E_INVALIDARG;
  ::VariantInit(kind);
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  ParInfo* record = find(id);
  if (!record) return E_INVALIDARG;
  V_VT(kind) = VT_UI4;
  V_UI4(kind) = record->kind;
  return S_OK;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::CanWrite(VARIANT_BOOL* canWrite) {
  if (!canWrite) return E_INVALIDARG;
  *canWrite = VARIANT_TRUE;
  return S_OK;
}

namespace {

// Runs the load or save of the parameter section on the caller's stream;
// done is true only when the section was read or written whole.
template <class Section>
HRESULT RunParameterSection(IStream* stream, VARIANT_BOOL* done, Section section) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_TRUE;
  com::ComPtr<IStream> s;
  if (!stream || FAILED(stream->QueryInterface(IID_IStream, s.putVoid()))) {
    *done = VARIANT_FALSE;
    return E_INVALIDARG;
  }
  const HRESULT hr = section(s.get());
  if (FAILED(hr)) *done = VARIANT_FALSE;
  return hr;
}

}  // namespace

STDMETHODIMP CevFDT_ParameterHandlerCore::LoadParameters(IStream* stream, VARIANT_BOOL* done) {
  return RunParameterSection(stream, done, [&](IStream* s) {
    return LoadParameterSection(s, this, {options_.saveLimits, options_.saveExtra5});
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::SaveParameters(IStream* stream, VARIANT_BOOL* done) {
  const HRESULT hr = RunParameterSection(stream, done, [&](IStream* s) {
    return SaveParameterSection(s, this, {options_.saveLimits, options_.saveExtra5});
  });
  return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::EvaluateRelations() {
  return com::guard([&] { return ApplyRelationsForConfig(); });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::DownloadRequest(VARIANT request, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  return com::guard([&] { return OnParamDownloadRequest(request, done); });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::AbortTransfer(VARIANT_BOOL* aborted) {
  if (!aborted) return E_INVALIDARG;
  abortTransfer_ = true;
  *aborted = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::RefreshParameter(VARIANT parameterId,
                                                           VARIANT_BOOL* done) {
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  if (id == kNoParameterId || !done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    ParInfo* record = find(id);
    if (!record) return E_INVALIDARG;
    if (record->kind != kParKindDevice || !(record->flags & kParFlagOnlineRead)) return S_OK;
    auto access = queryOwner<IevFdtDeviceAccess>(ParamOwner());
    if (!access) return E_FAIL;
    HRESULT hr = callHook(id, kParHookBeforeRead);
    if (FAILED(hr)) return hr;
    hr = access->ReadDeviceParameter(parameterId, done);
    if (FAILED(hr)) return hr;
    hr = callHook(id, kParHookAfterRead);
    return FAILED(hr) ? hr : S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::StoreParameter(VARIANT parameterId, VARIANT value,
                                                         VARIANT_BOOL* done) {
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  if (id == kNoParameterId || !done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    ParInfo* record = find(id);
    if (!record) return E_INVALIDARG;
    bool onlineWritable =
        record->kind == kParKindDevice && (record->flags & kParFlagOnlineWrite);
    if (!onlineWritable) {
      VARIANT_BOOL valid = VARIANT_FALSE;
      HRESULT hr = ValidateValue(com::ui4(id).value(), value, &valid);
      if (FAILED(hr)) return hr;
      if (valid != VARIANT_TRUE) return E_FAIL;
      record = find(id);
      if (!record) return E_INVALIDARG;
      hr = SetParameterFlags(id, record->flags & ~ULONG(kParFlagChanged));
      if (FAILED(hr)) return hr;
      *done = VARIANT_TRUE;
      return S_OK;
    }
    if (!options_.storeToDeviceOnline || dtmState() != kStateOnline) {
      *done = VARIANT_TRUE;
      return S_OK;
    }
    auto access = queryOwner<IevFdtDeviceAccess>(ParamOwner());
    if (!access) return E_FAIL;
    HRESULT hr = callHook(id, kParHookBeforeDeviceWrite);
    if (FAILED(hr)) return hr;
    hr = access->WriteDeviceParameter(parameterId, value, done);
    if (FAILED(hr)) return hr;
    hr = callHook(id, kParHookAfterDeviceWrite);
    if (FAILED(hr)) return hr;
    *done = VARIANT_TRUE;
    return S_OK;
  });
}

// Clearing the last result before a request departs from "only the
// completion writes it": without it a request the device side never
// completed would inherit the previous completion's success.
bool CevFDT_ParameterHandlerCore::ReadFromDevice(ULONG parameterId) {
  lastDeviceResult_ = 0;
  lastDeviceError_.reset();
  VARIANT_BOOL done = VARIANT_FALSE;
  const HRESULT hr = RefreshParameter(com::ui4(parameterId).value(), &done);
  return SUCCEEDED(hr) && done == VARIANT_TRUE && lastDeviceResult_ != 0 &&
         lastCompletedId_ == parameterId;
}

bool CevFDT_ParameterHandlerCore::WriteToDevice(ULONG parameterId, const VARIANT& value) {
  lastDeviceResult_ = 0;
  lastDeviceError_.reset();
  VARIANT_BOOL done = VARIANT_FALSE;
  const HRESULT hr = StoreParameter(com::ui4(parameterId).value(), value, &done);
  return SUCCEEDED(hr) && done == VARIANT_TRUE && lastDeviceResult_ != 0 &&
         lastCompletedId_ == parameterId;
}

// ---------------------------------------------------------------------------
// IevFdtParameterStore
// ---------------------------------------------------------------------------

STDMETHODIMP CevFDT_ParameterHandlerCore::SetParInfoByVariant(VARIANT parameterId, ULONG mask,
                                                              const ParInfo& info) {
  ULONG id = 0;
  if (FAILED(idFromVariant(parameterId, &id))) return E_FAIL;
  return SetParInfo(id, mask, info);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterData(ULONG parameterId, VARIANT* value,
                                                           BSTR* text, VARTYPE* vt,
                                                           VARIANT* minimum, VARIANT* maximum,
                                                           VARIANT* defaultValue,
                                                           VARIANT* flags) {
  for (VARIANT* out : {value, minimum, maximum, defaultValue, flags})
    if (out) ::VariantInit(out);
  if (text) *text = nullptr;
  return com::guard([&]() -> HRESULT {
    ParInfo record;
    HRESULT hr = GetParInfo(parameterId, kParAllFields, &record);
    if (FAILED(hr)) return hr;
    if (value) record.value.detachTo(value);
    if (text) *text = record.text.detach();
    if (vt) *vt = record.vt;
    if (minimum) record.minValue.detachTo(minimum);
    if (maximum) record.maxValue.detachTo(maximum);
    if (defaultValue) record.defaultValue.detachTo(defaultValue);
    if (flags) {
      V_VT(flags) = VT_UI4;
      V_UI4(flags) = record.flags;
    }
    return S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::SetValueAndFlags(ULONG parameterId,
                                                           const VARIANT* value,
                                                           const DWORD* flags) {
  if (parameterId == kNoParameterId) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    ParInfo* record = find(parameterId);
    if (!record) return E_INVALIDARG;
    ParInfo update;
    ULONG mask = 0;
    if (value) {
      HRESULT hr = CFdtVariant::ConvertTo(update.value.get(), value, record->vt);
      if (FAILED(hr)) return hr;
      mask |= kParValue;
    }
    if (flags) {
      update.flags = *flags;
      mask |= kParFlags;
    }
    return SetParInfo(parameterId, mask, update);
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterCountEx(ULONG* count) {
  return GetParameterCount(count);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterIdByIndex(ULONG index, ULONG* parameterId) {
  if (!parameterId) return E_INVALIDARG;
  const ParInfo* record = params_.At(index);
  if (!record) return E_INVALIDARG;
  *parameterId = record->id;
  return S_OK;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::WriteValue(ULONG parameterId, const VARIANT& value) {
  return WriteCore(parameterId, value, false);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::SetValue(ULONG parameterId, const VARIANT& value) {
  ParInfo* record = find(parameterId);
  if (!record) return E_INVALIDARG;
  return record->value.assign(value);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetValue(ULONG parameterId, VARIANT* value) {
  if (!value) return E_INVALIDARG;
  ::VariantInit(value);
  const ParInfo* record = find(parameterId);
  if (!record) return E_INVALIDARG;
  return record->value.copyTo(value);
}

STDMETHODIMP CevFDT_ParameterHandlerCore::SetParInfo(ULONG parameterId, ULONG mask,
                                                     const ParInfo& info) {
  return com::guard([&]() -> HRESULT {
    ParInfo* record = find(parameterId);
    if (!record) return E_INVALIDARG;
    // Copied aside first, so that a failing copy leaves the record whole.
    ParInfo updated(*record);
    updated.CopyFields(info, mask);
    *record = std::move(updated);
    return S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParInfo(ULONG parameterId, ULONG mask,
                                                     ParInfo* info) {
  if (!info) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    const ParInfo* record = find(parameterId);
    if (!record) return E_INVALIDARG;
    info->CopyFields(*record, mask);
    return S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::AddParameter(const ParInfo& info) {
  return com::guard([&]() -> HRESULT {
    params_.Insert(info);
    return S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::RemoveParameter(ULONG parameterId) {
  return params_.Remove(parameterId) ? S_OK : E_INVALIDARG;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::RemoveAllParameters() {
  params_.Clear();
  return S_OK;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterCount(ULONG* count) {
  if (!count) return E_INVALIDARG;
  *count = params_.Count();
  return S_OK;
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameter(ULONG parameterId, ParInfo* info) {
  if (!info) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    const ParInfo* record = find(parameterId);
    if (!record) return E_INVALIDARG;
    *info = *record;
    return S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::GetParameterAt(ULONG index, ParInfo* info) {
  if (!info) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    const ParInfo* record = params_.At(index);
    if (!record) return E_INVALIDARG;
    *info = *record;
    return S_OK;
  });
}

STDMETHODIMP CevFDT_ParameterHandlerCore::InvokeParameterCallback(ULONG parameterId,
                                                                  ULONG hookNumber,
                                                                  const VARIANT& argument) {
  const ParInfo* record = find(parameterId);
  int slot = ParamHookSlot(hookNumber);
  if (!record || slot < 0) return E_INVALIDARG;
  ParamCallback hook = record->hooks[slot];
  if (!hook) return S_FALSE;
  return com::guard([&] { return hook(argument, parameterId); });
}

LONG STDMETHODCALLTYPE CevFDT_ParameterHandlerCore::IndexOfParameter(ULONG parameterId) {
  return params_.IndexOf(parameterId);
}

bool STDMETHODCALLTYPE CevFDT_ParameterHandlerCore::HasParameter(ULONG parameterId) {
  return params_.Find(parameterId) != nullptr;
}
