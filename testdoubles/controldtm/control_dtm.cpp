#include "control_dtm.h"

#include <algorithm>
#include <string>

#include "com/Bstr.h"

namespace control_dtm {

namespace {

HRESULT IdOf(const VARIANT& v, ULONG* id) {
  com::Variant number;
  HRESULT hr = ::VariantChangeType(number.get(), const_cast<VARIANT*>(&v), 0, VT_UI4);
  if (FAILED(hr)) return hr;
  *id = V_UI4(number.get());
  return S_OK;
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (V_VT(&a) != V_VT(&b)) return false;
  return VariantText(a) == VariantText(b);
}

}  // namespace

std::wstring VariantText(const VARIANT& value) {
  if (V_VT(&value) == VT_EMPTY) return L"<empty>";
  com::Variant text;
  if (FAILED(::VariantChangeType(text.get(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR)))
    return L"<?>";
  return V_BSTR(text.get()) ? V_BSTR(text.get()) : L"";
}

template <class I, bool ControlDtm::Offers::*Flag>
HRESULT ControlDtm::QueryOffered(void* object, REFIID, void** out) {
  auto* self = static_cast<ControlDtm*>(object);
  *out = nullptr;
  if (!(self->offers_.*Flag)) return E_NOINTERFACE;
  I* found = self;
  found->AddRef();
  *out = found;
  return S_OK;
}

const com::InterfaceEntry* ControlDtm::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<ControlDtm, IevFdtDtmEvents>(),
      com::entryQuery(__uuidof(IDtm), &QueryOffered<IDtm, &Offers::dtm>),
      com::entryQuery(__uuidof(IevFdtParameterHandler4),
                      &QueryOffered<IevFdtParameterHandler4, &Offers::parameters>),
      com::entryQuery(__uuidof(IevFdtParameterInfo), &QueryOffered<IevFdtParameterInfo, &Offers::info>),
      com::entryQuery(__uuidof(IevFdtParameterValidation),
                      &QueryOffered<IevFdtParameterValidation, &Offers::validation>),
      com::entryQuery(__uuidof(IevFdtTranslation), &QueryOffered<IevFdtTranslation, &Offers::translation>),
      com::entryQuery(__uuidof(IevFdtActiveXContainer),
                      &QueryOffered<IevFdtActiveXContainer, &Offers::container>),
      com::entryQuery(__uuidof(IevFdtActiveXManagement),
                      &QueryOffered<IevFdtActiveXManagement, &Offers::management>),
      com::endOfMap()};
  return map;
}

com::ComPtr<IUnknown> createControlDtm(ControlDtm** object) {
  com::ComObject<ControlDtm>* created = nullptr;
  *object = nullptr;
  if (FAILED(com::ComObject<ControlDtm>::create(&created))) return nullptr;
  com::ComPtr<IUnknown> unknown;
  unknown.attach(created->identity());
  *object = created;
  return unknown;
}

void ControlDtm::addParameter(Parameter parameter) { parameters_[parameter.id] = std::move(parameter); }

Parameter* ControlDtm::parameter(ULONG id) {
  auto found = parameters_.find(id);
  return found == parameters_.end() ? nullptr : &found->second;
}

std::vector<std::wstring> ControlDtm::callsTo(const std::wstring& method) const {
  std::vector<std::wstring> out;
  for (const std::wstring& line : calls_)
    if (line.compare(0, method.size(), method) == 0 &&
        (line.size() == method.size() || line[method.size()] == L' '))
      out.push_back(line);
  return out;
}

// ---- IDtm -----------------------------------------------------------------------

STDMETHODIMP ControlDtm::GetFunctions(BSTR, BSTR* functions) {
  if (!functions) return E_INVALIDARG;
  record(L"GetFunctions");
  *functions = ::SysAllocString(functions_.c_str());
  return S_OK;
}

// ---- Parameters -------------------------------------------------------------------

STDMETHODIMP ControlDtm::GetParameterDescription(VARIANT id, VARIANT* value, BSTR* text,
                                                 unsigned short* vt, VARIANT* minimum,
                                                 VARIANT* maximum, VARIANT* defaultValue,
                                                 VARIANT* flags) {
  ULONG number = 0;
  if (FAILED(IdOf(id, &number))) return E_FAIL;
  Parameter* p = parameter(number);
  if (!p) return E_INVALIDARG;
  if (value) p->value.copyTo(value);
  if (text) *text = ::SysAllocString(p->tip.c_str());
  if (vt) *vt = p->value.type();
  if (minimum) ::VariantInit(minimum);
  if (maximum) ::VariantInit(maximum);
  if (defaultValue) ::VariantInit(defaultValue);
  if (flags) com::ui4(p->flags).copyTo(flags);
  return S_OK;
}

STDMETHODIMP ControlDtm::GetParameterValue(VARIANT id, VARIANT* value) {
  if (!value) return E_INVALIDARG;
  ::VariantInit(value);
  ULONG number = 0;
  if (FAILED(IdOf(id, &number))) return E_FAIL;
  Parameter* p = parameter(number);
  if (!p) return E_INVALIDARG;
  return p->value.copyTo(value);
}

STDMETHODIMP ControlDtm::WriteParameter(VARIANT id, VARIANT value) {
  ULONG number = 0;
  if (FAILED(IdOf(id, &number))) return E_FAIL;
  record(L"WriteParameter " + std::to_wstring(number) + L" " + VariantText(value));
  Parameter* p = parameter(number);
  if (!p) return E_INVALIDARG;
  com::Variant converted;
  HRESULT hr = ::VariantChangeType(converted.get(), &value, 0, p->value.type());
  if (FAILED(hr)) return hr;
  p->value = std::move(converted);
  return S_OK;
}

STDMETHODIMP ControlDtm::RefreshParameter(VARIANT id, VARIANT_BOOL* done) {
  ULONG number = 0;
  if (FAILED(IdOf(id, &number)) || !done) return E_INVALIDARG;
  record(L"RefreshParameter " + std::to_wstring(number));
  *done = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP ControlDtm::StoreParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  ULONG number = 0;
  if (FAILED(IdOf(id, &number)) || !done) return E_INVALIDARG;
  record(L"StoreParameter " + std::to_wstring(number) + L" " + VariantText(value));
  *done = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP ControlDtm::GetCount(VARIANT* count) {
  if (!count) return E_INVALIDARG;
  return com::ui4(static_cast<ULONG>(parameters_.size())).copyTo(count);
}

STDMETHODIMP ControlDtm::GetParameterId(VARIANT index, VARIANT* id) {
  ULONG i = 0;
  if (!id || FAILED(IdOf(index, &i)) || i >= parameters_.size()) return E_INVALIDARG;
  auto it = parameters_.begin();
  std::advance(it, i);
  return com::ui4(it->first).copyTo(id);
}

STDMETHODIMP ControlDtm::GetParameterInfo(VARIANT id, VARIANT selector, VARIANT* value) {
  if (!value) return E_INVALIDARG;
  ULONG number = 0, field = 0;
  if (FAILED(IdOf(id, &number))) return E_FAIL;
  com::Variant s(selector);
  if (FAILED(s.changeType(VT_I4))) return E_FAIL;
  field = static_cast<ULONG>(V_I4(s.get()));
  Parameter* p = parameter(number);
  if (!p) return E_INVALIDARG;
  switch (field) {
    case 0x1:
      return com::ui4(p->kind).copyTo(value);
    case 0x4000:
      return com::ui4(p->flags).copyTo(value);
    case 0x8000:
      record(L"GetParameterInfo " + std::to_wstring(number) + L" tip");
      return com::Variant(p->tip.c_str()).copyTo(value);
    case 0x10000: {
      if (p->entries.empty()) {
        ::VariantInit(value);
        return S_OK;
      }
      SAFEARRAY* list = ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(p->entries.size()));
      if (!list) return E_OUTOFMEMORY;
      for (LONG i = 0; i < static_cast<LONG>(p->entries.size()); ++i) {
        const std::wstring entry = std::to_wstring(p->entries[i].first) + L";" + p->entries[i].second;
        com::Bstr text(entry.c_str());
        ::SafeArrayPutElement(list, &i, text.get());
      }
      ::VariantInit(value);
      V_VT(value) = VT_ARRAY | VT_BSTR;
      V_ARRAY(value) = list;
      return S_OK;
    }
    case 0x20000: {
      ::VariantInit(value);
      V_VT(value) = VT_UI2;
      V_UI2(value) = p->valueKind;
      return S_OK;
    }
    case 0x40000:
      return p->unit.copyTo(value);
    case 0x200000:
      return p->deviceValue.copyTo(value);
    case 0x80000000:
      record(L"GetParameterInfo " + std::to_wstring(number) + L" announced");
      if (p->announced.type() == VT_EMPTY) return E_FAIL;
      return p->announced.copyTo(value);
    default:
      return E_FAIL;
  }
}

STDMETHODIMP ControlDtm::Validate(VARIANT id, VARIANT value, unsigned long* status) {
  if (!status) return E_INVALIDARG;
  ULONG number = 0;
  if (FAILED(IdOf(id, &number))) return E_FAIL;
  Parameter* p = parameter(number);
  if (!p) return E_INVALIDARG;
  ULONG flags = p->flags & ~ULONG{0x6};
  com::Variant converted;
  bool valid = SUCCEEDED(::VariantChangeType(converted.get(), &value, 0, p->value.type()));
  if (valid && p->limited) {
    com::Variant real;
    valid = SUCCEEDED(::VariantChangeType(real.get(), &value, 0, VT_R8)) &&
            V_R8(real.get()) >= p->minimum && V_R8(real.get()) <= p->maximum;
  }
  if (!valid) flags |= 0x4;
  if (valid ? !SameValue(converted.value(), p->value.value()) : !p->invalidAlone) flags |= 0x2;
  *status = flags;
  return S_OK;
}

STDMETHODIMP ControlDtm::ValidateValue(VARIANT id, VARIANT value, VARIANT_BOOL* valid) {
  if (!valid) return E_INVALIDARG;
  *valid = VARIANT_FALSE;
  unsigned long status = 0;
  HRESULT hr = Validate(id, value, &status);
  if (FAILED(hr)) return hr;
  if (status & 0x4) return S_OK;
  hr = WriteParameter(id, value);
  if (FAILED(hr)) return hr;
  *valid = VARIANT_TRUE;
  return S_OK;
}

// ---- Translation -------------------------------------------------------------------

STDMETHODIMP ControlDtm::GetLocalizedText(BSTR xpath, BSTR* text, VARIANT_BOOL* found) {
  if (!text || !found) return E_INVALIDARG;
  *text = nullptr;
  *found = VARIANT_FALSE;
  auto entry = texts_.find(xpath ? xpath : L"");
  if (entry == texts_.end()) return S_FALSE;
  *text = ::SysAllocString(entry->second.c_str());
  *found = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP ControlDtm::GetLanguageCount(long* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP ControlDtm::ContainsNode(BSTR xpath, VARIANT_BOOL* exists) {
  if (!exists) return E_POINTER;
  const std::wstring path = xpath ? xpath : L"";
  // A node exists when a scripted text lies at it or below it.
  *exists = VARIANT_FALSE;
  for (const auto& entry : texts_)
    if (entry.first.compare(0, path.size(), path) == 0) *exists = VARIANT_TRUE;
  return *exists ? S_OK : S_FALSE;
}

// ---- Controls -------------------------------------------------------------------------

STDMETHODIMP ControlDtm::OpenActiveX(BSTR key, IUnknown* control, long flags) {
  record(L"OpenActiveX " + std::wstring(key ? key : L"") + L" " + std::to_wstring(flags));
  if (!control) return E_POINTER;
  controls_.emplace_back(key ? key : L"", com::ComPtr<IUnknown>(control));
  if (com::ComPtr<IevFdtActiveX4> x4 = com::query<IevFdtActiveX4>(control)) {
    x4->OnStateChanged(openingState_);
    for (const auto& property : openingProperties_)
      x4->SetProperty(*com::ui4(property.first).get(), property.second.value());
  }
  return S_OK;
}

STDMETHODIMP ControlDtm::ActiveXClosed(BSTR key) {
  const std::wstring name = key ? key : L"";
  record(L"ActiveXClosed " + name);
  // Released outside the list: the control may be destroyed by it.
  com::ComPtr<IUnknown> closing;
  for (auto it = controls_.begin(); it != controls_.end(); ++it)
    if (it->first == name) {
      closing = std::move(it->second);
      controls_.erase(it);
      break;
    }
  return S_OK;
}

STDMETHODIMP ControlDtm::ControlChanged(BSTR key, IUnknown* control) {
  if (control) return OpenActiveX(key, control, 0);
  return ActiveXClosed(key);
}

HRESULT ControlDtm::notifyState(ULONG state) { return NotifyControlsState(state); }

HRESULT ControlDtm::broadcast(ULONG key, const VARIANT& value) {
  return SetControlsProperty(*com::ui4(key).get(), value);
}

std::vector<com::ComPtr<IevFdtActiveX4>> ControlDtm::openControls4() const {
  std::vector<com::ComPtr<IevFdtActiveX4>> controls;
  for (const auto& entry : controls_)
    if (com::ComPtr<IevFdtActiveX4> x4 = com::query<IevFdtActiveX4>(entry.second.get())) controls.push_back(x4);
  return controls;
}

STDMETHODIMP ControlDtm::NotifyControlsState(unsigned long state) {
  for (const auto& x4 : openControls4()) x4->OnStateChanged(state);
  return S_OK;
}

STDMETHODIMP ControlDtm::SetControlsProperty(VARIANT key, VARIANT value) {
  record(L"SetControlsProperty " + VariantText(key) + L" " + VariantText(value));
  HRESULT result = S_OK;
  for (const auto& x4 : openControls4()) {
    HRESULT hr = x4->SetProperty(key, value);
    if (FAILED(hr)) result = hr;
  }
  return result;
}

STDMETHODIMP ControlDtm::CloseActiveX(BSTR key, VARIANT_BOOL* passedOn) {
  if (!passedOn) return E_POINTER;
  const std::wstring name = key ? key : L"";
  record(L"CloseActiveX " + name);
  const bool passed = onClose_ ? onClose_(name) : true;
  *passedOn = passed ? 1 : 0;
  return passed ? S_OK : S_FALSE;
}

STDMETHODIMP ControlDtm::SetFunctionEnabled(long functionId, long enable) {
  record(L"SetFunctionEnabled " + std::to_wstring(functionId) + L" " + std::to_wstring(enable));
  return S_OK;
}

STDMETHODIMP ControlDtm::ShowUserMessage(BSTR text, BSTR caption, VARIANT style, long* answer) {
  if (!answer) return E_POINTER;
  record(L"ShowUserMessage " + std::wstring(text ? text : L"") + L"|" + (caption ? caption : L"") + L"|" +
         VariantText(style));
  *answer = userAnswer_;
  return S_OK;
}

STDMETHODIMP ControlDtm::OnDtmEvent(VARIANT code, VARIANT value) {
  record(L"OnDtmEvent " + VariantText(code) + L" " + VariantText(value));
  return S_OK;
}

}  // namespace control_dtm
