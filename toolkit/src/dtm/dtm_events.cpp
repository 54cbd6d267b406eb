#include "toolkit/dtm/dtm_events.h"

#include "fdtidl/ToolkitHooks.h"

#include <string>

#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/xml/xml_dom.h"

namespace {

// Worker-thread commands posted from here.
constexpr ULONG kCommandAddParamUpdate = 6;
constexpr ULONG kCommandReleaseParamUpdate = 7;
constexpr ULONG kCommandLowerParamUpdate = 8;
constexpr ULONG kCommandParamUpdateDone = 9;
constexpr ULONG kCommandChannelFunctionChanged = 18;
constexpr ULONG kCommandApplicationClosed = 22;

// Control ids are compared as the frame's texts are: user default locale,
// no flags (case matters). Null and empty are the same id.
bool SameControlId(const com::Bstr& a, const com::Bstr& b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  return ::VarBstrCmp(a.get(), b.get(), LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ);
}

HRESULT CodeOf(const VARIANT& code, ULONG* out) {
  if (V_VT(&code) == VT_UI4) {
    *out = V_UI4(&code);
    return S_OK;
  }
  com::Variant changed;
  HRESULT hr = ::VariantChangeType(changed.get(), const_cast<VARIANT*>(&code), 0, VT_UI4);
  if (FAILED(hr)) return hr;
  if (changed.type() != VT_UI4) return E_FAIL;
  *out = V_UI4(changed.get());
  return S_OK;
}

// Element i of a one-dimensional VARIANT array, when it has the type.
bool ArrayElement(SAFEARRAY* array, LONG index, VARTYPE type, com::Variant& out) {
  LONG lower = 0, upper = -1;
  if (FAILED(::SafeArrayGetLBound(array, 1, &lower)) || FAILED(::SafeArrayGetUBound(array, 1, &upper))) {
    return false;
  }
  if (lower + index > upper) return false;
  LONG at = lower + index;
  if (FAILED(::SafeArrayGetElement(array, &at, out.put()))) return false;
  return out.type() == type;
}

}  // namespace

// ---------------------------------------------------------------------------
// IevFdtDtmEvents
// ---------------------------------------------------------------------------

STDMETHODIMP DtmEventsCore::OnDtmEvent(VARIANT code, VARIANT value) {
  return com::guard([&]() -> HRESULT {
    ULONG event = 0;
    HRESULT hr = CodeOf(code, &event);
    if (FAILED(hr)) return hr;
    switch (event) {
      case dtm_event::kControlOpened:
      case dtm_event::kControlClosed:
      case dtm_event::kControlSubscriptions:
        return ControlEvent(event, value);
      case dtm_event::kNothing:
        return S_OK;
      case dtm_event::kParameterUpdateDone:
        return EventsPostCode(kCommandParamUpdateDone, value);
      case dtm_event::kUserMessage:
        return ReportText(value, false);
      case dtm_event::kUserMessageText:
        return ReportText(value, true);
      case dtm_event::kApplicationClosed:
        return PostTextArgument(kCommandApplicationClosed, value);
      case dtm_event::kChannelFunctionChanged:
        return PostTextArgument(kCommandChannelFunctionChanged, value);
      case dtm_event::kProgress:
        return Progress(value);
      case dtm_event::kProgressArray:
        return ProgressArray(value);
      case dtm_event::kTransferAbort: {
        VARIANT_BOOL abort = VARIANT_FALSE;
        hr = CFdtVariant::GetBool(value, &abort);
        if (FAILED(hr)) return hr;
        SetTransferAbort(abort != VARIANT_FALSE);
        return S_OK;
      }
      case dtm_event::kLoadFromDevice:
      case dtm_event::kStoreToDevice:
        return OnlineParameter(event, value);
      case dtm_event::kUpload:
      case dtm_event::kAuditTrailSwitch:
        return ToBaseDtm(event, value);
      default:
        if (event >= dtm_event::kFirstStateNotice && event <= dtm_event::kLastStateNotice) {
          return EventsPostControlMessage(event);
        }
        return S_FALSE;
    }
  });
}

HRESULT DtmEventsCore::ControlEvent(ULONG code, const VARIANT& value) {
  com::Bstr controlId;
  HRESULT hr = CFdtVariant::GetBstr(value, controlId.put());
  if (FAILED(hr)) return hr;
  if (code == dtm_event::kControlClosed) return UpdateControlSubscriptions(controlId.get(), {});

  HRESULT property = S_OK;
  if (code == dtm_event::kControlOpened) {
    com::Variant state;
    V_VT(state.get()) = VT_UI2;
    V_UI2(state.get()) = static_cast<USHORT>(EventsDataState());
    property = SetControlsProperty(kControlPropertyDataState, state.value());
  }
  hr = AskControlSubscriptions(controlId.get());
  return FAILED(property) ? property : hr;
}

HRESULT DtmEventsCore::AskControlSubscriptions(const wchar_t* controlId) {
  com::ComPtr<IUnknown> control;
  HRESULT hr = FindOpenControl(controlId, control.put());
  if (FAILED(hr)) return hr;
  if (!control) return E_FAIL;

  ParamUpdateList list;
  com::ComPtr<IevFdtActiveXInfo> info;
  if (SUCCEEDED(control->QueryInterface(__uuidof(IevFdtActiveXInfo), info.putVoid())) && info) {
    com::Variant answer;
    hr = info->GetInfo(*CFdtVariant(kControlInfoParamUpdates).get(), answer.put());
    if (FAILED(hr)) return hr;
    // A control that keeps no list answers nothing (S_FALSE, VT_EMPTY).
    // A list that does not unpack changes nothing.
    hr = UnpackParamUpdateList(list, answer.value());
    if (FAILED(hr)) return hr;
  }
  return UpdateControlSubscriptions(controlId, list);
}

// Every post is a call into the worker's apartment during which this one
// serves incoming calls, so another control event may arrive meanwhile. Its
// update waits until the running one is done: the worker then sees each
// control's requests in order and never a release twice.
HRESULT DtmEventsCore::UpdateControlSubscriptions(const wchar_t* controlId,
                                                  const ParamUpdateList& list) {
  if (updating_) {
    pendingUpdates_.push_back(ControlEntry{com::Bstr(controlId), list});
    return S_OK;
  }
  updating_ = true;
  HRESULT hr = com::guard([&] { return ApplyControlSubscriptions(controlId, list); });
  while (!pendingUpdates_.empty()) {
    ControlEntry next = std::move(pendingUpdates_.front());
    pendingUpdates_.erase(pendingUpdates_.begin());
    com::guard([&] { return ApplyControlSubscriptions(next.id.c_str(), next.records); });
  }
  updating_ = false;
  return hr;
}

HRESULT DtmEventsCore::ApplyControlSubscriptions(const wchar_t* controlId,
                                                 const ParamUpdateList& list) {
  const ParamUpdateList held = ControlSubscriptions(controlId);
  auto contains = [](const ParamUpdateList& records, ULONG parameterId) {
    for (const SParamUpdateInfo& record : records) {
      if (record.parameterId == parameterId) return &record;
    }
    return static_cast<const SParamUpdateInfo*>(nullptr);
  };
  HRESULT first = S_OK;
  auto note = [&first](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    return SUCCEEDED(hr);
  };

  for (const SParamUpdateInfo& wanted : list) {
    const SParamUpdateInfo* stored = contains(held, wanted.parameterId);
    if (stored && stored->period == wanted.period) continue;
    SParamUpdateInfo record(wanted.parameterId, wanted.period);
    // A new record is kept only once the worker counts it, so that the
    // release that follows one day matches a subscription the worker has.
    if (!note(EventsPostPacked(stored ? kCommandLowerParamUpdate : kCommandAddParamUpdate, record))) {
      continue;
    }
    ControlEntry* entry = FindControl(controlId);
    if (!entry) {
      controls_.push_back(ControlEntry{com::Bstr(controlId), {}});
      entry = &controls_.back();
    }
    SParamUpdateInfo* live = nullptr;
    for (SParamUpdateInfo& candidate : entry->records) {
      if (candidate.parameterId == wanted.parameterId) live = &candidate;
    }
    if (live) {
      live->period = wanted.period;
    } else {
      entry->records.push_back(record);
    }
  }

  for (const SParamUpdateInfo& stored : held) {
    if (contains(list, stored.parameterId)) continue;
    SParamUpdateInfo record(stored.parameterId, stored.period);
    // The control no longer wants it: forgotten whatever the worker answers.
    note(EventsPostPacked(kCommandReleaseParamUpdate, record));
    if (ControlEntry* entry = FindControl(controlId)) {
      for (size_t i = 0; i < entry->records.size(); ++i) {
        if (entry->records[i].parameterId == stored.parameterId) {
          entry->records.erase(entry->records.begin() + static_cast<std::ptrdiff_t>(i));
          break;
        }
      }
    }
  }

  // A control without subscriptions (a closed one, typically) leaves no entry.
  if (ControlEntry* entry = FindControl(controlId)) {
    if (entry->records.empty()) controls_.erase(controls_.begin() + (entry - controls_.data()));
  }
  return first;
}

ParamUpdateList DtmEventsCore::ControlSubscriptions(const wchar_t* controlId) const {
  const ControlEntry* entry = FindControl(controlId);
  return entry ? entry->records : ParamUpdateList();
}

DtmEventsCore::ControlEntry* DtmEventsCore::FindControl(const wchar_t* controlId) {
  com::Bstr id(controlId);
  for (ControlEntry& entry : controls_) {
    if (SameControlId(entry.id, id)) return &entry;
  }
  return nullptr;
}

const DtmEventsCore::ControlEntry* DtmEventsCore::FindControl(const wchar_t* controlId) const {
  return const_cast<DtmEventsCore*>(this)->FindControl(controlId);
}

HRESULT DtmEventsCore::SetControlsProperty(ULONG key, const VARIANT& value) {
  IUnknown* dtm = EventsDtmObject();
  com::ComPtr<IevFdtActiveXContainer> container;
  if (!dtm || FAILED(dtm->QueryInterface(__uuidof(IevFdtActiveXContainer), container.putVoid())) ||
      !container) {
    return S_OK;  // no function container: no open controls
  }
  return container->SetControlsProperty(*CFdtVariant(key).get(), value);
}

HRESULT DtmEventsCore::ReportText(const VARIANT& value, bool onlyBstr) {
  if (onlyBstr && V_VT(&value) != VT_BSTR) return S_FALSE;
  com::Bstr text;
  HRESULT hr = CFdtVariant::GetBstr(value, text.put());
  if (FAILED(hr)) return hr;
  EventsReportMessage(text.c_str() ? text.c_str() : L"");
  return S_OK;
}

HRESULT DtmEventsCore::PostTextArgument(ULONG command, const VARIANT& value) {
  com::Bstr text;
  HRESULT hr = CFdtVariant::GetBstr(value, text.put());
  if (FAILED(hr)) return hr;
  return EventsPostCode(command, *com::Variant(text.c_str()).get());
}

HRESULT DtmEventsCore::Progress(const VARIANT& value) {
  SProgressEvent report;
  if (!report.UnpackFromVariant(value)) return E_INVALIDARG;
  return EventsQueueProgress(report.text.c_str(), static_cast<USHORT>(report.progress),
                             report.running ? SHORT(-1) : SHORT(0));
}

HRESULT DtmEventsCore::ProgressArray(const VARIANT& value) {
  if (V_VT(&value) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&value) ||
      ::SafeArrayGetDim(V_ARRAY(&value)) != 1) {
    return E_INVALIDARG;
  }
  com::Variant percent, text, flag;
  if (!ArrayElement(V_ARRAY(&value), 0, VT_I2, percent) ||
      !ArrayElement(V_ARRAY(&value), 1, VT_BSTR, text) ||
      !ArrayElement(V_ARRAY(&value), 2, VT_BOOL, flag)) {
    return E_INVALIDARG;
  }
  return EventsQueueProgress(V_BSTR(text.get()) ? V_BSTR(text.get()) : L"",
                             static_cast<USHORT>(V_I2(percent.get())),
                             V_BOOL(flag.get()) ? SHORT(-1) : SHORT(0));
}

com::ComPtr<IDtmOnlineParameter> DtmEventsCore::OwnOnlineParameter() {
  com::ComPtr<IDtmOnlineParameter> online;
  if (IUnknown* dtm = EventsDtmObject()) online.queryFrom(dtm);
  return online;
}

HRESULT DtmEventsCore::OnlineParameter(ULONG code, const VARIANT& value) {
  com::ComPtr<IDtmOnlineParameter> online = OwnOnlineParameter();
  if (!online) return S_FALSE;
  com::Bstr invokeId;
  HRESULT hr = CFdtVariant::GetBstr(value, invokeId.put());
  if (FAILED(hr)) return hr;
  com::Bstr path(L"/FDT");
  VARIANT_BOOL done = VARIANT_FALSE;
  return code == dtm_event::kLoadFromDevice ? online->UploadRequest(invokeId.get(), path.get(), &done)
                                            : online->DownloadRequest(invokeId.get(), path.get(), &done);
}

HRESULT DtmEventsCore::ToBaseDtm(ULONG code, const VARIANT& value) {
  IUnknown* dtm = EventsDtmObject();
  com::ComPtr<IevFdtBaseDTM> base;
  if (!dtm || FAILED(dtm->QueryInterface(__uuidof(IevFdtBaseDTM), base.putVoid())) || !base) {
    return E_NOINTERFACE;
  }
  return code == dtm_event::kUpload ? base->UploadRequest(value) : base->SwitchAuditTrail(value);
}

// ---------------------------------------------------------------------------
// IFdtEvents
// ---------------------------------------------------------------------------

STDMETHODIMP DtmEventsCore::OnChildChanged(BSTR) { return S_FALSE; }

STDMETHODIMP DtmEventsCore::OnParameterChanged(BSTR, BSTR parameterDocument) {
  return com::guard([&]() -> HRESULT {
    if (!parameterDocument || !*parameterDocument) return E_INVALIDARG;
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT hr = EventsLoadDocument(parameterDocument, doc.put(), &loaded);
    if (FAILED(hr)) return hr;
    if (!loaded || !doc) return S_FALSE;

    com::Bstr part;
    if (XmlNodeExists(doc.get(), L"OnParameterChangedDocument/PARAMETERS") > 0) {
      hr = XmlGetNodeXml(doc.get(), L"OnParameterChangedDocument/PARAMETERS", part.put());
      if (FAILED(hr)) return hr;
      return LoadParameterValues(part.get());
    }
    if (XmlNodeExists(doc.get(), L"OnParameterChangedDocument/ChannelCollection") > 0) {
      hr = XmlGetNodeXml(doc.get(), L"OnParameterChangedDocument/ChannelCollection", part.put());
      if (FAILED(hr)) return hr;
      IUnknown* dtm = EventsDtmObject();
      com::ComPtr<IevFdtChannelPersist> channels;
      if (!dtm || FAILED(dtm->QueryInterface(__uuidof(IevFdtChannelPersist), channels.putVoid())) ||
          !channels) {
        return S_FALSE;
      }
      return FAILED(channels->LoadChannels(part.get())) ? S_FALSE : S_OK;
    }
    return S_OK;
  });
}

STDMETHODIMP DtmEventsCore::OnDataSetLockedElsewhere(BSTR, BSTR) {
  return com::guard([&]() -> HRESULT {
    EventsSetLockedElsewhere(true);
    return SetControlsProperty(kControlPropertyDataSetEditable, *com::Variant(false).get());
  });
}

STDMETHODIMP DtmEventsCore::OnDataSetUnlocked(BSTR, BSTR, VARIANT_BOOL* result) {
  return com::guard([&]() -> HRESULT {
    if (!result) return E_POINTER;
    *result = VARIANT_FALSE;
    EventsSetLockedElsewhere(false);
    if (OpenLockingFunctions() > 0) {
      IUnknown* dtm = EventsDtmObject();
      com::ComPtr<IevFdtBaseDTM> base;
      if (dtm && SUCCEEDED(dtm->QueryInterface(__uuidof(IevFdtBaseDTM), base.putVoid())) && base) {
        // The open functions already count their lock; ask the frame again
        // without counting once more.
        HRESULT hr = base->LockDataSet(VARIANT_FALSE);
        if (FAILED(hr)) return hr;
      }
      SetControlsProperty(kControlPropertyDataSetEditable,
                          *com::Variant(EventsDataSetLockHeld()).get());
    }
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// Default hooks
// ---------------------------------------------------------------------------

namespace {

com::ComPtr<IevFdtOpenControls> OpenControlsOf(IUnknown* dtm) {
  com::ComPtr<IevFdtOpenControls> controls;
  if (dtm) dtm->QueryInterface(__uuidof(IevFdtOpenControls), controls.putVoid());
  return controls;
}

}  // namespace

HRESULT DtmEventsCore::FindOpenControl(const wchar_t* controlId, IUnknown** control) {
  if (control) *control = nullptr;
  com::ComPtr<IevFdtOpenControls> controls = OpenControlsOf(EventsDtmObject());
  if (!controls) return E_FAIL;
  return controls->FindOpenControl(controlId, control);
}

ULONG DtmEventsCore::OpenLockingFunctions() {
  com::ComPtr<IevFdtOpenControls> controls = OpenControlsOf(EventsDtmObject());
  return controls ? controls->OpenLockingFunctionCount() : 0;
}

HRESULT DtmEventsCore::LoadParameterValues(BSTR parameters) {
  IUnknown* dtm = EventsDtmObject();
  com::ComPtr<IevFdtParametersImportExport> import;
  if (!dtm || FAILED(dtm->QueryInterface(__uuidof(IevFdtParametersImportExport), import.putVoid())) ||
      !import) {
    return S_FALSE;
  }
  return import->Import(parameters);
}
