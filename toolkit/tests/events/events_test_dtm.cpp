#include "events_test_dtm.h"

#include <cstdarg>
#include <cstdio>

#include "com/Guard.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/va_packer.h"

namespace eventstest {

namespace {

void ReportToNowhere(void*, const char*) {}

const wchar_t* const kNoSchemas[] = {nullptr};

ULONG ToUI4(const VARIANT& value) {
  ULONG out = 0;
  CFdtVariant::GetUI4(value, &out);
  return out;
}

HRESULT AnswerText(const std::map<std::wstring, std::wstring>& table, BSTR id, BSTR* out) {
  *out = nullptr;
  auto found = table.find(id ? id : L"");
  if (found == table.end()) return S_OK;
  return com::Bstr(found->second.c_str()).copyTo(out);
}

}  // namespace

// ---------------------------------------------------------------------------
// ControlDouble
// ---------------------------------------------------------------------------

const com::InterfaceEntry* ControlDouble::interfaceMap() {
  static const com::InterfaceEntry map[] = {com::entry<ControlDouble, IevFdtActiveXInfo>(),
                                            com::endOfMap()};
  return map;
}

STDMETHODIMP ControlDouble::GetInfo(VARIANT what, VARIANT* result) {
  ++asked;
  if (!result) return E_POINTER;
  ::VariantInit(result);
  if (ToUI4(what) != kControlInfoParamUpdates) return S_FALSE;
  if (FAILED(answer)) return answer;
  if (answerGarbage) {
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = ::SysAllocString(L"no list");
    return S_OK;
  }
  return PackParamUpdateList(list, result);
}

// ---------------------------------------------------------------------------
// EventsTestDtm
// ---------------------------------------------------------------------------

EventsTestDtm::EventsTestDtm() : xml_(kNoSchemas, &ReportToNowhere, nullptr) {}

const com::InterfaceEntry* EventsTestDtm::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<EventsTestDtm, IUnknown, IevFdtDtmEvents>(),
      EV_DTM_EVENTS_ENTRIES(EventsTestDtm),
      EV_DTM_INFORMATION_ENTRIES(EventsTestDtm),
      com::entryQuery(__uuidof(IevFdtActiveXContainer), &EventsTestDtm::queryPart),
      com::entryQuery(__uuidof(IevFdtTranslation), &EventsTestDtm::queryPart),
      com::entryQuery(__uuidof(IevFdtExtDocument), &EventsTestDtm::queryPart),
      com::entryQuery(__uuidof(IevFdtParametersImportExport), &EventsTestDtm::queryPart),
      com::entryQuery(__uuidof(IevFdtChannelPersist), &EventsTestDtm::queryPart),
      com::entryQuery(__uuidof(IevFdtParameterInfo), &EventsTestDtm::queryPart),
      com::entryQuery(__uuidof(IevFdtParameterValidation), &EventsTestDtm::queryPart),
      com::endOfMap()};
  return map;
}

HRESULT EventsTestDtm::queryPart(void* object, REFIID iid, void** out) {
  auto* self = static_cast<EventsTestDtm*>(object);
  IUnknown* part = nullptr;
  if (iid == __uuidof(IevFdtActiveXContainer) && self->hasContainer) {
    part = static_cast<IevFdtActiveXContainer*>(self);
  } else if (iid == __uuidof(IevFdtTranslation) && self->hasTranslation) {
    part = static_cast<IevFdtTranslation*>(self);
  } else if (iid == __uuidof(IevFdtExtDocument) && self->hasDocuments) {
    part = static_cast<IevFdtExtDocument*>(self);
  } else if (iid == __uuidof(IevFdtParametersImportExport) && self->hasImport) {
    part = static_cast<IevFdtParametersImportExport*>(self);
  } else if (iid == __uuidof(IevFdtChannelPersist) && self->hasChannels) {
    part = static_cast<IevFdtChannelPersist*>(self);
  } else if (iid == __uuidof(IevFdtParameterInfo) && self->hasParameters) {
    part = static_cast<IevFdtParameterInfo*>(self);
  } else if (iid == __uuidof(IevFdtParameterValidation) && self->hasParameters) {
    part = static_cast<IevFdtParameterValidation*>(self);
  }
  *out = part;
  if (!part) return E_NOINTERFACE;
  part->AddRef();
  return S_OK;
}

HRESULT EventsTestDtm::PostCode(ULONG code, const VARIANT& argument) {
  Post post;
  post.code = code;
  post.argument = com::Variant(argument);
  posts.push_back(post);
  return postResult;
}

HRESULT EventsTestDtm::PostPacked(ULONG code, CevVAPacker& record) {
  com::Variant packed;
  if (!record.PackToVariant(packed.get())) return E_FAIL;
  Post post;
  post.code = code;
  SParamUpdateInfo info;
  if (info.UnpackFromVariant(packed.value())) {
    post.parameterId = info.parameterId;
    post.period = info.period;
  }
  post.argument = std::move(packed);
  posts.push_back(post);
  if (duringPost) {
    auto call = std::move(duringPost);
    duringPost = nullptr;
    call();
  }
  return postResult;
}

void EventsTestDtm::ReportMessageText(const wchar_t* text) { messages.push_back(text ? text : L""); }

HRESULT EventsTestDtm::QueueWorkerRequest(const wchar_t* text, USHORT percent, SHORT flag) {
  progress.push_back({text ? text : L"", percent, flag});
  return S_OK;
}

HRESULT EventsTestDtm::PostActiveXMessage(ULONG code) {
  if (code < 64 || code > 68) return E_INVALIDARG;
  controlMessages.push_back(code);
  return S_OK;
}

HRESULT EventsTestDtm::FindOpenControl(const wchar_t* controlId, IUnknown** control) {
  *control = nullptr;
  auto found = controls_.find(controlId ? controlId : L"");
  if (found == controls_.end()) return E_INVALIDARG;
  return found->second.copyTo(control);
}

ControlDouble* EventsTestDtm::OpenControl(const wchar_t* key) {
  com::ComObject<ControlDouble>* control = nullptr;
  if (FAILED(com::ComObject<ControlDouble>::create(&control))) return nullptr;
  com::ComPtr<IUnknown> identity;
  identity.attach(control->identity());
  controls_[key] = identity;
  return control;
}

STDMETHODIMP EventsTestDtm::SetControlsProperty(VARIANT key, VARIANT value) {
  ControlProperty property;
  property.key = ToUI4(key);
  property.value = com::Variant(value);
  properties.push_back(property);
  return S_OK;
}

STDMETHODIMP EventsTestDtm::GetLocalizedText(BSTR xpath, BSTR* text, VARIANT_BOOL* found) {
  if (text) *text = nullptr;
  if (found) *found = VARIANT_FALSE;
  auto entry = localizedTexts.find(xpath ? xpath : L"");
  if (entry == localizedTexts.end() || !text || !found) return S_OK;
  *text = ::SysAllocString(entry->second.c_str());
  *found = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP EventsTestDtm::GetLanguageCount(long* count) {
  *count = static_cast<long>(languages.size());
  return S_OK;
}

STDMETHODIMP EventsTestDtm::GetLanguageIdAt(long index, unsigned long* id) {
  if (index < 0 || static_cast<size_t>(index) >= languages.size()) return E_INVALIDARG;
  *id = languages[static_cast<size_t>(index)];
  return S_OK;
}

STDMETHODIMP EventsTestDtm::GetDocuments(BSTR id, BSTR* fragment) {
  documentRequests.push_back(std::wstring(L"documents:") + (id ? id : L""));
  return AnswerText(documents, id, fragment);
}

STDMETHODIMP EventsTestDtm::GetDeviceBitmaps(BSTR id, BSTR* fragment) {
  documentRequests.push_back(std::wstring(L"bitmaps:") + (id ? id : L""));
  return AnswerText(bitmaps, id, fragment);
}

STDMETHODIMP EventsTestDtm::GetDeviceIcons(BSTR id, BSTR* fragment) {
  documentRequests.push_back(std::wstring(L"icons:") + (id ? id : L""));
  return AnswerText(icons, id, fragment);
}

STDMETHODIMP EventsTestDtm::Import(BSTR parameters) {
  imports.push_back(parameters ? parameters : L"");
  return S_OK;
}

STDMETHODIMP EventsTestDtm::LoadChannels(BSTR document) {
  channelLoads.push_back(document ? document : L"");
  return channelsResult;
}

STDMETHODIMP EventsTestDtm::GetCount(VARIANT* count) {
  V_VT(count) = VT_UI4;
  V_UI4(count) = static_cast<ULONG>(parameters.size());
  return S_OK;
}

STDMETHODIMP EventsTestDtm::GetParameterId(VARIANT index, VARIANT* id) {
  ULONG at = ToUI4(index);
  if (at >= parameters.size()) return E_INVALIDARG;
  auto entry = parameters.begin();
  std::advance(entry, at);
  V_VT(id) = VT_UI4;
  V_UI4(id) = entry->first;
  return S_OK;
}

STDMETHODIMP EventsTestDtm::GetParameterInfo(VARIANT id, VARIANT, VARIANT* value) {
  auto entry = parameters.find(ToUI4(id));
  if (entry == parameters.end()) return E_INVALIDARG;
  V_VT(value) = VT_I4;
  V_I4(value) = entry->second.first;
  return S_OK;
}

STDMETHODIMP EventsTestDtm::Validate(VARIANT id, VARIANT, unsigned long* status) {
  auto entry = parameters.find(ToUI4(id));
  if (entry == parameters.end()) return E_INVALIDARG;
  *status = entry->second.second ? 0x4 : 0;
  return S_OK;
}

com::ComPtr<IUnknown> CreateEventsTestDtm(EventsTestDtm** object) {
  com::ComObject<EventsTestDtm>* created = nullptr;
  com::ComPtr<IUnknown> identity;
  *object = nullptr;
  if (FAILED(com::ComObject<EventsTestDtm>::create(&created))) return identity;
  *object = created;
  identity.attach(created->identity());
  return identity;
}

}  // namespace eventstest
