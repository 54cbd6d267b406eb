// DTM state names, user roles, operation phases and the state-transition
// document.
#include "toolkit/dtm/dtm_states.h"

#include <cwchar>
#include <string>

#include "com/Bstr.h"
#include "toolkit/xml/xml_dom.h"

namespace {

struct NamedValue {
  const wchar_t* name;
  ULONG value;
};

// FDT names of the communication states, in state order from 9.
const wchar_t* const kCommunicationStateNames[] = {
    L"communicationSet", L"goingOnline", L"goingOffline", L"online"};

const NamedValue kUserLevels[] = {
    {L"observer", kRoleObserver},
    {L"operator", kRoleOperator},
    {L"maintenance", kRoleMaintenance},
    {L"planningEngineer", kRolePlanningEngineer},
};

const NamedValue kOperationPhases[] = {
    {L"notSupported", kPhaseNotSupported}, {L"engineering", kPhaseEngineering},
    {L"commissioning", kPhaseCommissioning}, {L"runtime", kPhaseRuntime},
    {L"service", kPhaseService},
};

template <size_t N>
bool FindNamed(const NamedValue (&table)[N], const wchar_t* text, ULONG* value) {
  if (!text || !value) return false;
  for (const NamedValue& entry : table) {
    if (wcscmp(entry.name, text) == 0) {
      *value = entry.value;
      return true;
    }
  }
  return false;
}

bool IsPresent(const wchar_t* text) { return text && *text; }

// name="escaped value" with a leading blank.
HRESULT AppendAttribute(std::wstring& out, const wchar_t* name, const wchar_t* value) {
  com::Bstr escaped;
  HRESULT hr = EscapeXmlText(value, escaped.put());
  if (FAILED(hr)) return hr;
  out += L' ';
  out += name;
  out += L"=\"";
  out += escaped.get() ? escaped.get() : L"";
  out += L'"';
  return S_OK;
}

}  // namespace

const wchar_t* FdtStateName(LONG state) {
  if (state < kDtmCommunicationSet || state > kDtmOnline) return nullptr;
  return kCommunicationStateNames[state - kDtmCommunicationSet];
}

bool ParseUserLevel(const wchar_t* text, ULONG* role) { return FindNamed(kUserLevels, text, role); }

bool ParseOperationPhase(const wchar_t* text, ULONG* phase) {
  return FindNamed(kOperationPhases, text, phase);
}

HRESULT BuildStateTransitionDocument(LONG newState, LONG oldState, const wchar_t* tag,
                                     const wchar_t* descriptor, const wchar_t* errorCode,
                                     BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const wchar_t* newName = FdtStateName(newState);
  const wchar_t* oldName = FdtStateName(oldState);
  if (!newName || !oldName) return S_FALSE;

  std::wstring error = L" ";
  if (IsPresent(descriptor) || IsPresent(errorCode)) {
    error = L"<fdt:CommunicationError";
    HRESULT hr = AppendAttribute(error, L"tag", tag);
    if (FAILED(hr)) return hr;
    error += L" communicationError=\"noConnection\"";
    // An absent detail leaves a single blank in its place.
    if (IsPresent(descriptor)) {
      hr = AppendAttribute(error, L"descriptor", descriptor);
      if (FAILED(hr)) return hr;
    } else {
      error += L' ';
    }
    if (IsPresent(errorCode)) {
      hr = AppendAttribute(error, L"errorCode", errorCode);
      if (FAILED(hr)) return hr;
    } else {
      error += L' ';
    }
    error += L" />";
  }

  std::wstring document =
      L"<?xml version=\"1.0\"?>\n"
      L"<FDT xmlns=\"x-schema:DTMStateSchema.xml\" "
      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n"
      L"<DtmStateTransition><PreviousState fdt:dtmStateMachine=\"";
  document += oldName;
  document += L"\" />\n<CurrentState fdt:dtmStateMachine=\"";
  document += newName;
  document += L"\" />\n";
  document += error;
  document += L"</DtmStateTransition>\n</FDT>";
  *out = SysAllocStringLen(document.data(), static_cast<UINT>(document.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}
