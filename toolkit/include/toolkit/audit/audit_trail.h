// The DTM's audit trail: IevFdtAuditTrail turns function starts and ends,
// parameter changes and device-status events into DTMAuditTrailSchema
// documents for the frame's IFrameAuditTrailEvents.
//
// AuditTrailCore does the work; CevFDT_AuditTrailImpl<T> binds it to the DTM
// class T, which provides (base_dtm.h does):
//   IUnknown* FrameObject() const;          the frame object kept at attach
//   STDMETHODIMP GetSystemTag(BSTR* tag);   the DTM's system tag
// The class lists the interface with EV_AUDIT_TRAIL_ENTRIES(Class).
//
// Every text placed in a document is escaped for its attribute.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Dispatch.h"
#include "toolkit.h"

// A value's display text: "Not Initialized" for VT_EMPTY, the value as text,
// or an array as "[ a b ]" (VT_UI1 numbers, texts, "NULL", nested VARIANTs;
// "unsupported type" for other element types). An array of more dimensions
// lists its first dimension, each element the list of the next one:
// "[ [ a b ] [ c d ] ]".
HRESULT AuditValueText(const VARIANT& value, BSTR* text);

// The variable event of one changed parameter: nothing (S_FALSE) unless the
// name is given and the old value is VT_EMPTY or of the new value's type.
// The event's name is "name (VT_...)" of the new value's type; the old and
// new value texts are cut to 260 characters each.
HRESULT AuditWriteParameterChange(IevFdtAuditTrail* trail, const wchar_t* name,
                                  const VARIANT& oldValue, const VARIANT& newValue,
                                  const wchar_t* descriptor);

// A function event through the DTM object's IevFdtAuditTrail (none: S_OK).
HRESULT AuditWriteEntry(IUnknown* dtm, const wchar_t* display, const wchar_t* descriptor);

// Descriptors of the function events the function container writes.
constexpr wchar_t kAuditFunctionStarted[] = L"Function started";
constexpr wchar_t kAuditFunctionFinished[] = L"Function finished";

class AuditTrailCore : public com::DispatchImpl<IevFdtAuditTrail> {
 public:
  AuditTrailCore(const AuditTrailCore&) = delete;
  AuditTrailCore& operator=(const AuditTrailCore&) = delete;

  // On a change asks the frame to start (on) or end (off) its trail; the
  // flag follows a true answer. Without the frame's interface: S_OK, false.
  STDMETHODIMP SetAuditTrailActive(VARIANT_BOOL on, VARIANT_BOOL* active) override;
  // One event document to the frame (inactive: S_OK, nothing sent; no frame
  // interface: E_FAIL).
  STDMETHODIMP GetFrameAuditTrail(BSTR document) override;
  STDMETHODIMP WriteDeviceStatusEvent(BSTR descriptor, long statusFlag, long entryIndex,
                                      BSTR entryName, BSTR entryDescriptor) override;
  STDMETHODIMP WriteFunctionEvent(BSTR descriptor, BSTR display) override;
  STDMETHODIMP WriteVariableEvent(BSTR descriptor, BSTR name, BSTR oldDisplay,
                                  BSTR newDisplay) override;

  bool AuditTrailActive() const { return active_; }

 protected:
  AuditTrailCore() = default;
  ~AuditTrailCore() = default;

  virtual IUnknown* AuditFrameObject() = 0;
  virtual HRESULT AuditSystemTag(BSTR* tag) = 0;

 private:
  HRESULT SendEvent(const wchar_t* document);
  bool active_ = false;
};

template <class T>
class CevFDT_AuditTrailImpl : public AuditTrailCore {
 protected:
  IUnknown* AuditFrameObject() override { return static_cast<T*>(this)->FrameObject(); }
  HRESULT AuditSystemTag(BSTR* tag) override { return static_cast<T*>(this)->GetSystemTag(tag); }
};

#define EV_AUDIT_TRAIL_ENTRIES(Class) com::entry<Class, IevFdtAuditTrail>()
