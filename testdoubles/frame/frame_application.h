// A frame application object for tests: answers the frame interfaces that
// the toolkit calls, with scripted answers, and records every call with the
// thread it arrived on.
//
// Adding an interface: derive from com::DispatchImpl<IThat>, add an entry to
// interfaceMap() (through offers() when a test must be able to withhold it),
// implement its methods with record(...) and a scripted answer.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "fdt.h"
#include "outside.h"
#include "win32/unique_handle.h"

namespace frame_double {

// One call that reached the frame.
struct FrameCall {
  std::string interfaceName;
  std::string method;
  DWORD threadId = 0;
  std::vector<std::wstring> arguments;  // texts as received; numbers as decimal text
};

// Faults: calls no frame would take as meant, such as a notice that reached
// the frame object's own IDispatch instead of its sink, or a call through a
// sink's vtable. The double records each with the other calls and hands it
// to the fault handler, which in a test program fails the running test
// (test programs link frame_double, which installs it; see the README).
using FaultHandler = void (*)(const std::string& what);
void setFaultHandler(FaultHandler handler);
// Hands a fault to the handler (nothing without one); any thread.
void reportFault(const std::string& what);
// For a test that provokes faults on purpose: while one lives, faults are
// counted instead of handed to the handler.
class ExpectedFaults {
 public:
  ExpectedFaults();
  ~ExpectedFaults();
  ExpectedFaults(const ExpectedFaults&) = delete;
  ExpectedFaults& operator=(const ExpectedFaults&) = delete;
  // Faults reported since this one was made.
  LONG count() const;

 private:
  LONG start_;
};

// The frame object's own IDispatch. A frame's container answers it with its
// dual interface's dispatch (here IFrameUserDialog's), where the dispatch
// ids mean the container's methods; the frame's notices have sinks of their
// own. Every Invoke here is therefore a notice that missed its sink: it is
// reported (primaryInvoke) and then served as the container would serve it.
class PrimaryDispatch : public com::DispatchImpl<IFrameUserDialog> {
 public:
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    primaryInvoke(id);
    return com::DispatchImpl<IFrameUserDialog>::Invoke(id, iid, locale, flags, params, result,
                                                        exception, argError);
  }

 protected:
  virtual void primaryInvoke(DISPID id) = 0;
};

// A scripted answer of IFrameUserDialog::UserDialog.
struct UserDialogAnswer {
  HRESULT result = S_OK;
  std::wstring document;
};

class FrameApplication : public com::ObjectRoot,
                         public PrimaryDispatch,
                         public com::DispatchImpl<ITransferGroupProvider> {
 public:
  static const com::InterfaceEntry* interfaceMap();

  // Interfaces a test can withhold (QueryInterface then answers
  // E_NOINTERFACE).
  struct Offers {
    bool userDialog = true;
    bool transferGroup = true;
  };
  Offers& offers() { return offers_; }

  // Scripted answers, taken in order; when none is left the user dialog
  // answers "buttonOk" and the transfer group E_NOTIMPL.
  void queueUserDialogAnswer(const UserDialogAnswer& answer);
  void queueTransferGroupAnswer(HRESULT result, const VARIANT& ids);

  // Every call so far, in arrival order (a copy; safe from any thread).
  std::vector<FrameCall> calls() const;
  std::vector<FrameCall> callsTo(const char* method) const;
  void clearCalls();

  // The answer document for a pressed button ("buttonYes", ...).
  static std::wstring answerDocument(const wchar_t* resultMessage);

  // IFrameUserDialog
  STDMETHODIMP UserDialog(BSTR systemTag, BSTR userMessage, BSTR* answer) override;
  // ITransferGroupProvider
  STDMETHODIMP GetTransferGroup(VARIANT kind, VARIANT value, VARIANT* ids) override;

 protected:
  void record(const char* interfaceName, const char* method, std::vector<std::wstring> arguments);
  // Records a fault like a call and reports it (reportFault).
  void fault(const char* interfaceName, const char* method, std::vector<std::wstring> arguments);
  // A fault: recorded as ("IDispatch", "Invoke", {dispatch id}).
  void primaryInvoke(DISPID id) override;

 private:
  static HRESULT queryUserDialog(void* object, REFIID iid, void** out);
  static HRESULT queryTransferGroup(void* object, REFIID iid, void** out);

  mutable win32::CriticalSection lock_;
  Offers offers_;
  std::vector<FrameCall> calls_;
  std::deque<UserDialogAnswer> userDialogAnswers_;
  struct TransferGroupAnswer {
    HRESULT result;
    com::Variant ids;
  };
  std::deque<TransferGroupAnswer> transferGroupAnswers_;
};

// A new frame double of class T; *object (when asked for) stays valid while
// the returned reference is held. An empty reference when creation fails.
template <class T>
com::ComPtr<IUnknown> createFrameObject(T** object) {
  com::ComObject<T>* created = nullptr;
  com::ComPtr<IUnknown> identity;
  if (FAILED(com::ComObject<T>::create(&created))) {
    if (object) *object = nullptr;
    return identity;
  }
  if (object) *object = created;
  identity.attach(created->identity());
  return identity;
}

// A new frame application object; *object stays valid while the returned
// reference is held.
com::ComPtr<IUnknown> createFrameApplication(FrameApplication** object);

}  // namespace frame_double
