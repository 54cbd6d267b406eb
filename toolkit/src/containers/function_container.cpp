// The function container: open-control records, their properties, audit
// entries and data-set lock, broadcasts, and the frame's open and close
// requests.
#include "toolkit/containers/function_container.h"

#include <string>

#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/audit/audit_trail.h"
#include "toolkit/dtm/dtm_events.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/translation.h"
#include "toolkit/xml/user_messages.h"

namespace {

bool SameKey(const wchar_t* a, const wchar_t* b) {
  com::Bstr x(a ? a : L""), y(b ? b : L"");
  return ::VarBstrCmp(x.get(), y.get(), 0x400, 0) == VARCMP_EQ;
}

}  // namespace

FunctionContainerCore::Record* FunctionContainerCore::Find(const wchar_t* key) {
  for (Record& r : records_)
    if (SameKey(r.key.c_str(), key)) return &r;
  return nullptr;
}

HRESULT FunctionContainerCore::FunctionStatus(LONG functionId, ULONG* status) {
  if (!status) return E_POINTER;
  const FunctionTableRow* row = nullptr;
  HRESULT hr = ContainerDtm().LookupFunction(functionId, &row);
  if (FAILED(hr)) return hr;
  auto changed = status_.find(functionId);
  *status = changed != status_.end() ? changed->second : row->status;
  return S_OK;
}

// ---- Function list ---------------------------------------------------------

STDMETHODIMP FunctionContainerCore::GetActiveXDescription(BSTR* functionList) {
  if (!functionList) return E_POINTER;
  *functionList = nullptr;
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = ContainerDtm();
    const FunctionTableRow* row = dtm.GetFunctionTable();
    if (!row) return S_OK;
    const ULONG role = dtm.UserRole();
    const ULONG application = dtm.OperationPhase();
    std::wstring list;
    for (; row->kind != FunctionTableRow::kEnd; ++row) {
      if (role < row->userLevel) continue;
      if ((static_cast<ULONG>(row->applicationBits) & application) != application) continue;
      if (row->hidden) continue;
      FunctionTableRow shown = *row;
      FunctionStatus(static_cast<LONG>(row->functionId), &shown.status);
      com::Bstr element;
      if (SUCCEEDED(dtm.BuildFunctionXml(shown, element.put()))) list += element.c_str();
    }
    *functionList = ::SysAllocStringLen(list.data(), static_cast<UINT>(list.size()));
    return *functionList ? S_OK : E_OUTOFMEMORY;
  });
}

STDMETHODIMP FunctionContainerCore::GetFunctionText(long functionId, BSTR attribute, BSTR* text) {
  return ContainerDtm().GetFunctionText(functionId, attribute ? attribute : L"", text);
}

// ---- Broadcasts ------------------------------------------------------------

template <class Call>
HRESULT FunctionContainerCore::Broadcast(Call call) {
  // A control may open or close others while it is called: walk a copy.
  std::vector<com::ComPtr<IUnknown>> controls;
  for (const Record& r : records_) controls.push_back(r.control);
  HRESULT result = S_OK;
  for (const auto& control : controls) {
    com::ComPtr<IevFdtActiveX4> target = com::query<IevFdtActiveX4>(control.get());
    if (!target) return E_UNEXPECTED;
    HRESULT hr = call(target.get());
    if (FAILED(hr)) result = hr;
  }
  return result;
}

STDMETHODIMP FunctionContainerCore::NotifyControlsState(unsigned long state) {
  lastState_ = state;
  return com::guard([&] {
    return Broadcast([&](IevFdtActiveX4* c) { return c->OnStateChanged(state); });
  });
}

STDMETHODIMP FunctionContainerCore::SendMessageToControls(VARIANT id, VARIANT value, BSTR text) {
  return com::guard([&] {
    return Broadcast([&](IevFdtActiveX4* c) { return c->OnDtmMessage(id, value, text); });
  });
}

STDMETHODIMP FunctionContainerCore::SetControlsProperty(VARIANT key, VARIANT value) {
  return com::guard([&] {
    return Broadcast([&](IevFdtActiveX4* c) { return c->SetProperty(key, value); });
  });
}

// ---- Opening and closing ---------------------------------------------------

HRESULT FunctionContainerCore::WriteAudit(LONG functionId, const wchar_t* descriptor) {
  if (functionId < 1) return S_OK;
  const FunctionTableRow* row = nullptr;
  if (FAILED(ContainerDtm().LookupFunction(functionId, &row))) return S_OK;
  com::Bstr label;
  ContainerDtm().GetFunctionText(functionId, L"Label", label.put());
  return AuditWriteEntry(ContainerDtm().GetCommDtmInterface(), label.c_str(), descriptor);
}

HRESULT FunctionContainerCore::SendOpeningProperties(IevFdtActiveX4* control, bool hasInfo) {
  BaseDtm& dtm = ContainerDtm();
  auto send = [&](ULONG key, const com::Variant& value) {
    return control->SetProperty(*com::ui4(key).get(), *value.get());
  };
  HRESULT hr = S_OK;
  if (!hasInfo) {
    // The frame's schema folder, from which the control fills its schema
    // cache; a frame that names none leaves the control to its own fallback
    // (the toolkit's folder) rather than an empty path it would fail on.
    com::Bstr schemaPath;
    com::ComPtr<IFrameContainer> frame = com::query<IFrameContainer>(dtm.FrameObject());
    if (frame && SUCCEEDED(frame->GetXmlSchemaPath(schemaPath.put())) && !schemaPath.empty()) {
      hr = send(property_id::kSchemaPath, com::Variant(schemaPath.c_str()));
      if (FAILED(hr)) return hr;
    }
  }
  com::Bstr deviceType;
  dtm.GetDataSetReference(deviceType.put());
  hr = send(property_id::kDeviceType, com::Variant(deviceType.c_str()));
  if (FAILED(hr)) return hr;
  hr = send(property_id::kUserLevel, com::ui4(dtm.UserRole()));
  if (FAILED(hr)) return hr;
  com::Bstr path;
  DtmTranslation::ReadTranslationPath(path.put());
  hr = send(property_id::kTranslationPath, com::Variant(path.c_str()));
  if (FAILED(hr)) return hr;
  hr = send(property_id::kLanguage, com::Variant(dtm.Language()));
  if (FAILED(hr)) return hr;
  return send(property_id::kSharedUi, com::Variant(dtm.SharedUiFlag()));
}

HRESULT FunctionContainerCore::StartFunction(Record& record) {
  if (record.functionId < 1) return S_OK;
  ULONG status = 0;
  if (FAILED(FunctionStatus(record.functionId, &status))) return S_OK;
  if (status & FunctionTableRow::kNoDataSetLock) return S_OK;
  BaseDtm& dtm = ContainerDtm();
  HRESULT hr = dtm.LockDataSet(VARIANT_TRUE);
  if (FAILED(hr)) return hr;
  record.counted = true;
  ++lockingFunctions_;
  if (!dtm.DataSetLocked())
    SetControlsProperty(*com::ui4(property_id::kEditPermission).get(),
                        *com::Variant(false).get());
  return S_OK;
}

STDMETHODIMP FunctionContainerCore::OpenActiveX(BSTR key, IUnknown* control, long flags) {
  return com::guard([&]() -> HRESULT {
    if (!control) return E_POINTER;
    BaseDtm& dtm = ContainerDtm();
    com::ComPtr<IUnknown> identity = com::query<IUnknown>(control);
    com::ComPtr<IevFdtActiveXInfo> info = com::query<IevFdtActiveXInfo>(control);
    if (!identity) return E_NOINTERFACE;

    Record record;
    record.key.assign(key ? key : L"");
    record.flags = flags;
    record.control = identity;
    bool started = false;  // a function-call document named the function
    if (info) {
      if (IUnknown* frame = dtm.FrameObject()) info->SetFrameContainer(frame);
      if (!(flags & kControlBookkeepingOnly)) {
        com::Variant what(LONG{1}), answer;
        if (SUCCEEDED(info->GetInfo(*what.get(), answer.get())) &&
            SUCCEEDED(answer.changeType(VT_BSTR)) && V_BSTR(answer.get()) &&
            *V_BSTR(answer.get())) {
          record.functionCall.assign(V_BSTR(answer.get()));
          LONG id = -1;
          if (FAILED(dtm.GetFunctionId(record.functionCall.c_str(), &id))) return S_FALSE;
          record.functionId = id;
          started = true;
        }
      }
    }
    // A key already recorded records nothing, and so starts nothing that the
    // audit trail could tell of.
    if (Find(record.key.c_str())) return S_FALSE;
    if (started) WriteAudit(record.functionId, kAuditFunctionStarted);
    records_.push_back(record);

    if (com::ComPtr<IevFdtActiveX4> x4 = com::query<IevFdtActiveX4>(control)) {
      x4->OnStateChanged(lastState_);
      if (SUCCEEDED(SendOpeningProperties(x4.get(), static_cast<bool>(info)))) {
        if (com::ComPtr<IevFdtDtmEvents> events = dtm.DtmInterface<IevFdtDtmEvents>())
          events->OnDtmEvent(*com::ui4(dtm_event::kControlOpened).get(),
                             *com::Variant(record.key.c_str()).get());
      }
    }
    if (!(flags & kControlBookkeepingOnly)) {
      // The record may have moved while the control was called.
      if (Record* stored = Find(record.key.c_str())) StartFunction(*stored);
    }
    return S_OK;
  });
}

STDMETHODIMP FunctionContainerCore::ActiveXClosed(BSTR key) {
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = ContainerDtm();
    Record* found = Find(key);
    if (!found) return S_OK;
    Record record = *found;
    if (com::ComPtr<IevFdtDtmEvents> events = dtm.DtmInterface<IevFdtDtmEvents>())
      events->OnDtmEvent(*com::ui4(dtm_event::kControlClosed).get(),
                         *com::Variant(record.key.c_str()).get());
    if (!(record.flags & kControlBookkeepingOnly)) {
      WriteAudit(record.functionId, kAuditFunctionFinished);
      dtm.PostText(dtm_command::kApplicationClosed, record.key.c_str());
    }
    for (auto it = records_.begin(); it != records_.end(); ++it) {
      if (SameKey(it->key.c_str(), record.key.c_str())) {
        records_.erase(it);
        break;
      }
    }
    HRESULT result = S_OK;
    if (record.counted) {
      // The counted lock is given back exactly once; the base DTM unlocks
      // when the last count goes.
      --lockingFunctions_;
      result = dtm.ReleaseDataSetLock();
    }
    HRESULT hr = EndLockForAllWithoutControls();
    return FAILED(result) ? result : hr;
  });
}

HRESULT FunctionContainerCore::EndLockForAllWithoutControls() {
  if (!lockForAll_ || !records_.empty()) return S_OK;
  lockForAll_ = false;
  return ContainerDtm().ReleaseDataSetLock();
}

STDMETHODIMP FunctionContainerCore::ControlChanged(BSTR key, IUnknown* control) {
  if (control) return OpenActiveX(key, control, 0);
  if (key && *key) return ActiveXClosed(key);
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = ContainerDtm();
    if (!dtm.DtmInterface<IevFdtDtmEvents>()) return S_OK;
    // Counted once for all open controls; a repeated request only asks the
    // frame again (a lock it refused may be granted now).
    const VARIANT_BOOL count = lockForAll_ ? VARIANT_FALSE : VARIANT_TRUE;
    if (SUCCEEDED(dtm.LockDataSet(count))) lockForAll_ = true;
    if (!dtm.DataSetLocked())
      SetControlsProperty(*com::ui4(property_id::kEditPermission).get(),
                          *com::Variant(false).get());
    EndLockForAllWithoutControls();
    return S_OK;
  });
}

STDMETHODIMP FunctionContainerCore::CloseActiveX(BSTR key, VARIANT_BOOL* passedOn) {
  if (!passedOn) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    Record* record = Find(key);
    if (!record) return E_FAIL;
    if (record->flags & kControlBookkeepingOnly) return S_FALSE;
    com::ComPtr<IFrameActiveX> frame = com::query<IFrameActiveX>(ContainerDtm().FrameObject());
    if (frame) {
      com::Bstr closing(key);
      VARIANT_BOOL answer = VARIANT_FALSE;
      HRESULT hr = frame->CloseActiveXControlRequest(closing.get(), &answer);
      if (FAILED(hr)) return hr;
      if (!answer) return S_FALSE;
    }
    *passedOn = 1;
    return S_OK;
  });
}

bool STDMETHODCALLTYPE FunctionContainerCore::CloseClosableControls() {
  std::vector<com::Bstr> keys;
  for (const Record& r : records_)
    if (!(r.flags & kControlBookkeepingOnly)) keys.push_back(r.key);
  for (const com::Bstr& key : keys) {
    VARIANT_BOOL closed = 0;
    if (CloseActiveX(key.get(), &closed) != S_OK || !closed) return false;
  }
  return true;
}

HRESULT STDMETHODCALLTYPE FunctionContainerCore::FindOpenControl(const wchar_t* key,
                                                                IUnknown** control) {
  if (!control) return E_POINTER;
  *control = nullptr;
  Record* record = Find(key);
  if (!record || !record->control) return E_FAIL;
  return record->control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(control));
}

ULONG STDMETHODCALLTYPE FunctionContainerCore::OpenControlsOfFunction(LONG functionId, IUnknown* except) {
  com::ComPtr<IUnknown> exceptIdentity = com::query<IUnknown>(except);
  ULONG count = 0;
  for (const Record& r : records_)
    if (r.functionId == functionId && !(r.flags & kControlBookkeepingOnly) && r.control != exceptIdentity) ++count;
  return count;
}

// ---- Requests to the frame -------------------------------------------------

HRESULT FunctionContainerCore::BuildFunctionCallXml(LONG functionId, BSTR* document) {
  return BaseDtm::BuildFunctionCallXml(functionId, document);
}

HRESULT FunctionContainerCore::OpenFunctionControl(LONG functionId, VARIANT_BOOL* opened) {
  return RequestFunctionControl(functionId, 0, opened);
}

STDMETHODIMP FunctionContainerCore::RequestFunctionControl(long functionId, long,
                                                           VARIANT_BOOL* opened) {
  if (!opened) return E_POINTER;
  // Written on every path: a caller that waits for an opened control must
  // not read what its slot held before.
  *opened = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = ContainerDtm();
    IUnknown* frameObject = dtm.FrameObject();
    if (!frameObject) return S_FALSE;
    com::ComPtr<IFrameActiveX> frame = com::query<IFrameActiveX>(frameObject);
    if (!frame) return E_NOINTERFACE;
    ULONG status = 0;
    HRESULT hr = FunctionStatus(functionId, &status);
    if (FAILED(hr)) return E_FAIL;
    if (!(status & FunctionTableRow::kEnabled)) {
      *opened = VARIANT_TRUE;
      return S_FALSE;
    }
    com::Bstr tag(dtm.SystemTagText() ? dtm.SystemTagText() : L""), document;
    hr = BaseDtm::BuildFunctionCallXml(functionId, document.put());
    if (FAILED(hr)) return hr;
    VARIANT_BOOL answer = VARIANT_FALSE;
    hr = frame->OpenActiveXControlRequest(tag.get(), document.get(), &answer);
    *opened = SUCCEEDED(hr) && answer ? VARIANT_TRUE : VARIANT_FALSE;
    return hr;
  });
}

STDMETHODIMP FunctionContainerCore::SetFunctionEnabled(long functionId, long enable) {
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = ContainerDtm();
    if (!dtm.FrameObject()) return S_OK;
    ULONG status = 0;
    HRESULT hr = FunctionStatus(functionId, &status);
    if (FAILED(hr)) return E_FAIL;
    status = enable ? (status | FunctionTableRow::kEnabled) : (status & ~ULONG{FunctionTableRow::kEnabled});
    status_[functionId] = status;
    return dtm.PostCode(dtm_command::kFunctionChanged);
  });
}

STDMETHODIMP FunctionContainerCore::ShowUserMessage(BSTR text, BSTR caption, VARIANT style,
                                                    long* answer) {
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = ContainerDtm();
    UserMessageRoute route;
    route.frameApplication = dtm.FrameObject();
    route.systemTag = [&dtm](BSTR* tag) { return dtm.GetSystemTag(tag); };
    route.xml = &dtm.Xml();
    return ::ShowUserMessage(route, text ? text : L"", caption ? caption : L"", style, answer);
  });
}

// ---- IDtmActiveXInformation ------------------------------------------------

HRESULT FunctionContainerCore::ControlInformation(BSTR functionCall, const FunctionTableRow** row) {
  *row = nullptr;
  if (lastState_ < kDtmEnvironmentSet || lastState_ > kDtmOnline) return S_FALSE;
  LONG id = 0;
  if (FAILED(ContainerDtm().GetFunctionId(functionCall, &id))) return S_FALSE;
  if (FAILED(ContainerDtm().LookupFunction(id, row)) || !(*row)->progId || !*(*row)->progId) {
    *row = nullptr;
    return S_FALSE;
  }
  return S_OK;
}

STDMETHODIMP FunctionContainerCore::GetActiveXProgId(BSTR functionCall, BSTR* progId) {
  if (!progId) return E_POINTER;
  *progId = nullptr;
  return com::guard([&]() -> HRESULT {
    const FunctionTableRow* row = nullptr;
    if (ControlInformation(functionCall, &row) != S_OK) return S_FALSE;
    com::Bstr text;
    HRESULT hr = text.assignMultiByte(row->progId);
    if (FAILED(hr)) return hr;
    *progId = text.detach();
    return S_OK;
  });
}

// ---- IDtmApplication -----------------------------------------------------

STDMETHODIMP FunctionContainerCore::StartApplication(BSTR, BSTR, BSTR, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return S_FALSE;
}

STDMETHODIMP FunctionContainerCore::ExitApplication(BSTR, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return S_FALSE;
}

STDMETHODIMP FunctionContainerCore::GetActiveXGuid(BSTR functionCall, BSTR* classId) {
  if (!classId) return E_POINTER;
  *classId = nullptr;
  return com::guard([&]() -> HRESULT {
    com::Bstr progId;
    if (GetActiveXProgId(functionCall, progId.put()) != S_OK) return S_FALSE;
    CLSID clsid;
    if (FAILED(::CLSIDFromProgID(progId.get(), &clsid))) return S_FALSE;
    return GuidToString(&clsid, classId);
  });
}
