#include "param_test_object.h"

#include "toolkit/params/param_rows.h"

std::vector<HookCall> g_hookCalls;
HRESULT g_beforeWriteResult = S_OK;
HRESULT g_afterWriteResult = S_OK;

namespace {

HRESULT beforeWrite(const VARIANT& argument, ULONG id) {
  g_hookCalls.push_back({5, id, V_VT(&argument)});
  return g_beforeWriteResult;
}

HRESULT afterWrite(const VARIANT& argument, ULONG id) {
  g_hookCalls.push_back({6, id, V_VT(&argument)});
  return g_afterWriteResult;
}

const wchar_t* const kModes[] = {L"0;Off", L"1;On", L"2;Auto", nullptr};
const wchar_t* const kOptions[] = {L"0x1;A", L"0x2;B", L"0x8;C", nullptr};

}  // namespace

HRESULT DeclareTestRows(IevFdtParameterStore* store) {
  // Hooks 5 and 6 sit in the first and fourth pointer.
  ParamCallbacks hooks = {&beforeWrite, nullptr, nullptr, &afterWrite, nullptr, nullptr};
  const ParamRow rows[] = {
      ParamRow::Numeric(kIdPreambles, L"Preamble Count", VT_UI1, 5, 20, 5, 5),
      ParamRow::Text(kIdTag, L"Tag", L"", L"", 32).Flags(0x31).Storage(1).Number(0x2000),
      ParamRow::Numeric(kIdScanStart, L"Scan Start", VT_UI1, 0, 15, 0, 0),
      ParamRow::Numeric(kIdScanActive, L"Scan Active", VT_BOOL, 0, 0, 0, 0).Persist(0),
      ParamRow::Numeric(kIdMode, L"Mode", VT_UI1, 0, 2, 0, 0).SubType(kParEnumerated)
          .Entries(kModes),
      ParamRow::Numeric(kIdOptions, L"Options", VT_UI4, 0, 0, 0, 0).SubType(kParBitSet)
          .Entries(kOptions),
      ParamRow::Numeric(kIdDeviceValue, L"Device Value", VT_I4, 0, 100, 0, 0)
          .Kind(kParKindDevice),
      ParamRow::Numeric(kIdHooked, L"Hooked", VT_I4, 0, 0, 0, 0).Hooks(hooks),
      ParamRow::Numeric(kIdDisabled, L"Disabled", VT_I4, 0, 10, 0, 0)
          .Flags(kParFlagsDefault | kParFlagDisabled),
  };
  for (const ParamRow& row : rows) {
    HRESULT hr = row.AddTo(store);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

const com::InterfaceEntry* TestParamObject::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      EV_PARAMETER_HANDLER_ENTRIES(TestParamObject),
      com::entry<TestParamObject, IDispatch, IevFdtParameterHandler4>(),
      com::entry<TestParamObject, IevFdtActiveXContainer>(),
      com::entry<TestParamObject, IevFdtAuditTrail>(),
      com::entry<TestParamObject, IevFdtStorageState>(),
      com::endOfMap()};
  return map;
}

HRESULT TestParamObject::finalConstruct() { return DeclareTestRows(this); }

ULONG TestParamObject::PairId(const ControlMessage& message) {
  const VARIANT& pair = message.value.value();
  if (V_VT(&pair) != (VT_ARRAY | VT_VARIANT)) return kNoParameterId;
  LONG index = 0;
  VARIANT id;
  VariantInit(&id);
  if (FAILED(SafeArrayGetElement(V_ARRAY(&pair), &index, &id)) || V_VT(&id) != VT_UI4)
    return kNoParameterId;
  return V_UI4(&id);
}

com::Variant TestParamObject::PairValue(const ControlMessage& message) {
  com::Variant out;
  const VARIANT& pair = message.value.value();
  LONG index = 1;
  if (V_VT(&pair) == (VT_ARRAY | VT_VARIANT))
    SafeArrayGetElement(V_ARRAY(&pair), &index, out.get());
  return out;
}

std::vector<ControlMessage> TestParamObject::MessagesWithCode(LONG code) const {
  std::vector<ControlMessage> out;
  for (const ControlMessage& m : controlMessages)
    if (m.code == code) out.push_back(m);
  return out;
}

STDMETHODIMP TestParamObject::SendMessageToControls(VARIANT, VARIANT, BSTR text) {
  sentMessages.push_back(text ? text : L"");
  return S_OK;
}

STDMETHODIMP TestParamObject::SetControlsProperty(VARIANT key, VARIANT value) {
  if (V_VT(&key) != VT_I4) return E_INVALIDARG;
  controlMessages.push_back({V_I4(&key), com::Variant(value), GetCurrentThreadId()});
  return S_OK;
}

STDMETHODIMP TestParamObject::WriteVariableEvent(BSTR, BSTR name, BSTR oldDisplay,
                                                 BSTR newDisplay) {
  auditEntries.push_back({name ? name : L"", oldDisplay ? oldDisplay : L"",
                          newDisplay ? newDisplay : L""});
  return S_OK;
}

STDMETHODIMP TestParamObject::SetModified(long modified) {
  modifiedCalls.push_back(modified);
  return S_OK;
}

const com::InterfaceEntry* BareParamObject::interfaceMap() {
  static const com::InterfaceEntry map[] = {EV_PARAMETER_HANDLER_ENTRIES(BareParamObject),
                                            com::endOfMap()};
  return map;
}

HRESULT BareParamObject::finalConstruct() { return DeclareTestRows(this); }

HRESULT TestParamObject::QueryRelationChoices(ULONG source, ULONG target, VARIANT* choices) {
  if (scriptedChoices.type() == VT_EMPTY || !choices)
    return CevFDT_ParameterHandlerCore::QueryRelationChoices(source, target, choices);
  return scriptedChoices.copyTo(choices);
}

HRESULT TestParamObject::QueryRelationValue(ULONG source, ULONG target, VARIANT* value) {
  if (!countingValues) return CevFDT_ParameterHandlerCore::QueryRelationValue(source, target, value);
  ::VariantClear(value);
  return com::Variant(++valueCounter).detachTo(value);
}
