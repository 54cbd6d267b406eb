// A COM object with the parameter handler and recording doubles of the
// services the handler reaches through its owner: the control container
// (control messages), the audit trail (variable events) and the storage
// state (modified notice). Each record keeps the thread it arrived on.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "toolkit.h"
#include "toolkit/params/param_handler.h"

struct ControlMessage {
  LONG code;
  com::Variant value;
  DWORD thread;
};

struct AuditEntry {
  std::wstring name, oldText, newText;
};

class TestParamObject : public com::ObjectRoot,
                        public CevFDT_ParameterHandlerImpl<TestParamObject>,
                        public com::DispatchImpl<IevFdtActiveXContainer>,
                        public com::DispatchImpl<IevFdtAuditTrail>,
                        public com::DispatchImpl<IevFdtStorageState> {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();
  IUnknown* GetCommDtmInterface() { return controllingUnknown(); }

  // The parameter id and value of a [id, value] control message.
  static ULONG PairId(const ControlMessage& message);
  static com::Variant PairValue(const ControlMessage& message);
  std::vector<ControlMessage> MessagesWithCode(LONG code) const;

  std::vector<ControlMessage> controlMessages;
  std::vector<AuditEntry> auditEntries;
  std::vector<LONG> modifiedCalls;
  std::vector<std::wstring> sentMessages;  // SendMessageToControls texts

  // Relation decisions: choices answered for kind 4 when set (else the
  // toolkit's default); with countingValues each kind-5 to -8 value is the
  // next number (relations that never settle).
  com::Variant scriptedChoices;
  bool countingValues = false;
  LONG valueCounter = 0;
  HRESULT QueryRelationChoices(ULONG source, ULONG target, VARIANT* choices) override;
  HRESULT QueryRelationValue(ULONG source, ULONG target, VARIANT* value) override;

  // IevFdtActiveXContainer
  STDMETHODIMP GetActiveXDescription(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP ControlChanged(BSTR, IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP NotifyControlsState(unsigned long) override { return E_NOTIMPL; }
  STDMETHODIMP SendMessageToControls(VARIANT, VARIANT, BSTR text) override;
  STDMETHODIMP SetControlsProperty(VARIANT key, VARIANT value) override;
  STDMETHODIMP CloseActiveX(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP RequestFunctionControl(long, long, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetFunctionEnabled(long, long) override { return E_NOTIMPL; }
  STDMETHODIMP ShowUserMessage(BSTR, BSTR, VARIANT, long*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFunctionText(long, BSTR, BSTR*) override { return E_NOTIMPL; }

  // IevFdtAuditTrail
  STDMETHODIMP SetAuditTrailActive(VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFrameAuditTrail(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP WriteDeviceStatusEvent(BSTR, long, long, BSTR, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP WriteFunctionEvent(BSTR, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP WriteVariableEvent(BSTR descriptor, BSTR name, BSTR oldDisplay,
                                  BSTR newDisplay) override;

  // IevFdtStorageState
  STDMETHODIMP SetModified(long modified) override;
  STDMETHODIMP GetModified(long*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadFromStream(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveToStream(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadFromPropertyBag(IPropertyBag*, IErrorLog*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveToPropertyBag(IPropertyBag*) override { return E_NOTIMPL; }
};

// The handler alone: no container, audit trail or storage state.
class BareParamObject : public com::ObjectRoot,
                        public CevFDT_ParameterHandlerImpl<BareParamObject> {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();
  IUnknown* GetCommDtmInterface() { return controllingUnknown(); }
};

// Ids of the test rows.
enum TestParamId : ULONG {
  kIdTag = 1,                // text, at most 32 characters
  kIdScanStart = 980,        // VT_UI1 0..15
  kIdPreambles = 1002,       // VT_UI1 5..20
  kIdScanActive = 1005,      // VT_BOOL, not persistent
  kIdMode = 1010,            // enumerated 0, 1, 2
  kIdOptions = 1011,         // bit set 0x1, 0x2, 0x8
  kIdDeviceValue = 2000,     // kind 1, online read and write
  kIdHooked = 2001,          // VT_I4 with hooks 5 and 6
  kIdDisabled = 2002,        // flag 0x8: never validated
};
constexpr ULONG kTestRowCount = 9;

// Declares the rows above, in an order that is not the id order.
HRESULT DeclareTestRows(IevFdtParameterStore* store);

// What the hooks of kIdHooked saw: (hook slot, id, argument type) per call;
// the before- and after-write hooks answer g_beforeWriteResult and
// g_afterWriteResult.
struct HookCall {
  int hook;
  ULONG id;
  VARTYPE argumentType;
};
extern std::vector<HookCall> g_hookCalls;
extern HRESULT g_beforeWriteResult;
extern HRESULT g_afterWriteResult;
