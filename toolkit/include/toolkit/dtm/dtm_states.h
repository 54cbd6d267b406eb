// DTM states, user roles, operation phases and the worker requests that the
// base DTM posts, with the FDT 1.2.1 state-transition document.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "toolkit/dtm/property_ids.h"

// The DTM state machine. States 9 to 12 carry FDT names (FdtStateName).
enum DtmState : LONG {
  kDtmCreated = 0,
  kDtmConstructed = 1,        // construction complete; a data set may be made
  kDtmPreparedToDelete = 2,
  kDtmReleased = 3,
  kDtmNewDataSet = 4,
  kDtmLoadedDataSet = 5,
  kDtmEnvironmentSet = 6,
  kDtmInitialised = 7,
  kDtmConfigured = 8,
  kDtmCommunicationSet = 9,
  kDtmGoingOnline = 10,
  kDtmGoingOffline = 11,
  kDtmOnline = 12,
};

// "communicationSet", "goingOnline", "goingOffline", "online" for 9 to 12;
// null for every other state.
const wchar_t* FdtStateName(LONG state);

// The frame user's level as a bit value.
enum DtmUserRole : ULONG {
  kRoleObserver = 1,
  kRoleOperator = 2,
  kRoleMaintenance = 4,
  kRolePlanningEngineer = 8,
};

// "observer", "operator", "maintenance", "planningEngineer" (exact case) to
// the role; false for any other text, *role untouched.
bool ParseUserLevel(const wchar_t* text, ULONG* role);

enum DtmOperationPhase : ULONG {
  kPhaseNotSupported = 0,
  kPhaseEngineering = 1,
  kPhaseCommissioning = 2,
  kPhaseRuntime = 4,
  kPhaseService = 8,
};

// "notSupported", "engineering", "commissioning", "runtime", "service";
// false for any other text.
bool ParseOperationPhase(const wchar_t* text, ULONG* phase);

// Worker commands that carry the DTM's state notices (the old state as
// VT_I4); the worker hands them to the DTM's IevFdtDtmEvents as events 64 to
// 68. The other commands are named in dtm_thread.h (dtm_command).
namespace dtm_state_notice {
constexpr ULONG kInitialised = 28;
constexpr ULONG kConfigured = 29;
constexpr ULONG kCommunicationSet = 30;
constexpr ULONG kOnline = 31;
constexpr ULONG kPreparedToDelete = 32;
}  // namespace dtm_state_notice

// The properties the base DTM sends its channels and controls: property_ids.h.

// The DTMStateSchema document of a transition between two of the states 9
// to 12. S_FALSE (and *out null) when either state is outside 9..12.
// With a descriptor or an error code (either may be null or empty: absent),
// the document carries one fdt:CommunicationError element whose attributes
// are tag, "noConnection" and the details present; every text is escaped for
// its attribute (EscapeXmlText). E_POINTER for a null out.
HRESULT BuildStateTransitionDocument(LONG newState, LONG oldState, const wchar_t* tag,
                                     const wchar_t* descriptor, const wchar_t* errorCode,
                                     BSTR* out);
