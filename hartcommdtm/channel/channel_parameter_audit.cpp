// CHART_Channel: the audit-trail entry of a changed channel parameter. The
// channel's parameter handler calls it; the entry goes to the owning DTM's
// audit trail, which escapes every text it places in its document.
#include "channel/hart_channel.h"
#include "com/Guard.h"
#include "toolkit/audit/audit_trail.h"
#include "toolkit/values/text_helpers.h"

namespace hartdtm {

namespace {

// A value's text in an audit entry is cut to this many characters.
constexpr size_t kAuditValueChars = 260;

}  // namespace

HRESULT CHART_Channel::OnParamAuditEntry(const wchar_t* name, const VARIANT& oldValue, const VARIANT& newValue,
                                         const wchar_t* descriptor) {
  return AuditParameterChange(name, oldValue, newValue, descriptor);
}

HRESULT CHART_Channel::AuditParameterChange(const wchar_t* name, const VARIANT& oldValue,
                                            const VARIANT& newValue, const wchar_t* eventText) {
  if (!name || !*name || V_VT(&oldValue) != V_VT(&newValue)) return S_FALSE;
  com::ComPtr<IevFdtAuditTrail> trail;
  if (FAILED(Owner(trail)) || !trail) return S_FALSE;
  return com::guard([&]() -> HRESULT {
    com::Bstr typeName;
    typeName.attach(VarTypeToStringEx(V_VT(&newValue)));
    if (!typeName.get()) return E_OUTOFMEMORY;
    com::Bstr label;
    HRESULT hr = FormatBstr(label.put(), L"%s (%s)", name, typeName.c_str());
    if (FAILED(hr)) return hr;
    com::Bstr oldText, newText;
    if (FAILED(hr = AuditValueText(oldValue, oldText.put()))) return hr;
    if (FAILED(hr = AuditValueText(newValue, newText.put()))) return hr;
    if (oldText.length() > kAuditValueChars) oldText.assign(oldText.c_str(), kAuditValueChars);
    if (newText.length() > kAuditValueChars) newText.assign(newText.c_str(), kAuditValueChars);
    com::Bstr event(eventText ? eventText : L"");
    return trail->WriteVariableEvent(event.get(), label.get(), oldText.get(), newText.get());
  });
}

}  // namespace hartdtm
