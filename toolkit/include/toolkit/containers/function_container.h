// The function container: the DTM's functions and the controls that show
// them.
//
// - IevFdtActiveXContainer: the function list, open-control broadcasts
//   (state, messages, properties), close and open requests to the frame,
//   enabling functions, user messages.
// - IevFdtActiveXManagement: the frame's controls are recorded when they
//   open (properties sent in a fixed order, audit entry, data-set lock) and
//   dropped when they close.
// - IDtmActiveXInformation: the control (ProgID or class id) of a function.
// - IDtmApplication: every function of a toolkit DTM is a control that the
//   frame hosts, or an action the DTM runs itself; none runs as an
//   application of its own, so both requests are refused.
// - IevFdtOpenControls (C++, fdtidl/ToolkitHooks.h): what the base DTM and
//   the DTM events ask about open controls.
//
// Ownership: a record holds a reference on what was registered under its
// key, from OpenActiveX until ActiveXClosed. The controls built on the
// toolkit's control base (DtmControl) register a small object of the base
// (registered_control.h) that passes the calls on to the control without
// holding it: only the frame keeps a control alive, and the control takes its
// record back (ActiveXClosed) through PrepareToRelease or, when the frame
// drops it unasked (IOleObject::Close, SetClientSite(nullptr), its window
// destroyed, the frame's last release), as its binding ends. The container
// never holds a control itself, so a control and the DTM never keep each
// other alive.
//
// Data-set lock: a started function (row without kNoDataSetLock) takes a
// counted lock (BaseDtm::LockDataSet with counting); only a record whose
// lock was taken counts as a locking function, and closing it gives the lock
// back (ReleaseDataSetLock), so the frame's lock and unlock stay in balance
// whatever the frame answers. The lock for all (ControlChanged with neither
// key nor control) holds one counted lock at most, for the open controls:
// it goes back when the last of them closes, or at once when none is open.
//
// FunctionContainerCore does the work; CevFDT_FunctionContainerImpl<T> binds
// it to the DTM class T (derived from CevFDT_BaseDTMImpl<T>). The class lists
// the interfaces with EV_FUNCTION_CONTAINER_ENTRIES(Class).
//
// Threads: every method runs in the DTM object's apartment; notice workers
// reach IevFdtActiveXContainer through a proxy.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "fdt.h"
#include "fdtidl/ToolkitHooks.h"
#include "toolkit.h"
#include "toolkit/dtm/base_dtm.h"

// OpenActiveX flag: the record serves bookkeeping only.
constexpr LONG kControlBookkeepingOnly = 0x1;

class FunctionContainerCore : public com::DispatchImpl<IevFdtActiveXContainer>,
                              public com::DispatchImpl<IevFdtActiveXManagement>,
                              public com::DispatchImpl<IDtmActiveXInformation>,
                              public com::DispatchImpl<IDtmApplication>,
                              public IevFdtOpenControls {
 public:
  FunctionContainerCore(const FunctionContainerCore&) = delete;
  FunctionContainerCore& operator=(const FunctionContainerCore&) = delete;

  // ---- IevFdtActiveXContainer --------------------------------------------
  STDMETHODIMP GetActiveXDescription(BSTR* functionList) override;
  STDMETHODIMP ControlChanged(BSTR key, IUnknown* control) override;
  STDMETHODIMP NotifyControlsState(unsigned long state) override;
  STDMETHODIMP SendMessageToControls(VARIANT id, VARIANT value, BSTR text) override;
  STDMETHODIMP SetControlsProperty(VARIANT key, VARIANT value) override;
  // *passedOn is 1 when the frame took the request (callers treat any
  // non-zero value as closed).
  STDMETHODIMP CloseActiveX(BSTR key, VARIANT_BOOL* passedOn) override;
  STDMETHODIMP RequestFunctionControl(long functionId, long flags, VARIANT_BOOL* opened) override;
  STDMETHODIMP SetFunctionEnabled(long functionId, long enable) override;
  STDMETHODIMP ShowUserMessage(BSTR text, BSTR caption, VARIANT style, long* answer) override;
  STDMETHODIMP GetFunctionText(long functionId, BSTR attribute, BSTR* text) override;

  // ---- IevFdtActiveXManagement -------------------------------------------
  STDMETHODIMP OpenActiveX(BSTR key, IUnknown* control, long flags) override;
  STDMETHODIMP ActiveXClosed(BSTR key) override;

  // ---- IDtmActiveXInformation --------------------------------------------
  STDMETHODIMP GetActiveXGuid(BSTR functionCall, BSTR* classId) override;
  STDMETHODIMP GetActiveXProgId(BSTR functionCall, BSTR* progId) override;

  // ---- IDtmApplication ---------------------------------------------------
  // E_POINTER for a null result; otherwise *result false and S_FALSE.
  STDMETHODIMP StartApplication(BSTR invokeId, BSTR functionCall, BSTR windowTitle,
                                VARIANT_BOOL* result) override;
  STDMETHODIMP ExitApplication(BSTR invokeId, VARIANT_BOOL* result) override;

  // ---- IevFdtOpenControls ------------------------------------------------
  ULONG STDMETHODCALLTYPE OpenControlCount() override { return static_cast<ULONG>(records_.size()); }
  ULONG STDMETHODCALLTYPE OpenLockingFunctionCount() override { return lockingFunctions_; }
  bool STDMETHODCALLTYPE CloseClosableControls() override;
  HRESULT STDMETHODCALLTYPE FindOpenControl(const wchar_t* key, IUnknown** control) override;
  ULONG STDMETHODCALLTYPE OpenControlsOfFunction(LONG functionId, IUnknown* except) override;

  // ---- Toolkit operations ------------------------------------------------
  // The function-call document of the id, and the frame's open request for
  // it (S_FALSE with *opened true for a disabled function; E_FAIL for no row).
  HRESULT BuildFunctionCallXml(LONG functionId, BSTR* document);
  HRESULT OpenFunctionControl(LONG functionId, VARIANT_BOOL* opened);
  // A row's status bits as this DTM object sees them (E_FAIL for no row).
  HRESULT FunctionStatus(LONG functionId, ULONG* status);
  ULONG LastControlState() const { return lastState_; }

 protected:
  FunctionContainerCore() = default;
  ~FunctionContainerCore() = default;

  virtual BaseDtm& ContainerDtm() = 0;

 private:
  struct Record {
    com::Bstr key;
    com::Bstr functionCall;
    LONG functionId = -1;
    com::ComPtr<IUnknown> control;
    LONG flags = 0;
    bool counted = false;  // took a data-set lock
  };
  Record* Find(const wchar_t* key);
  // What every opened control receives, in this order: the schema path
  // (only without IevFdtActiveXInfo), device type, user role, translation
  // path, language and shared-UI flag (property_id).
  HRESULT SendOpeningProperties(IevFdtActiveX4* control, bool hasInfo);
  HRESULT StartFunction(Record& record);
  template <class Call>
  HRESULT Broadcast(Call call);
  HRESULT ControlInformation(BSTR functionCall, const FunctionTableRow** row);
  HRESULT WriteAudit(LONG functionId, const wchar_t* descriptor);
  // Gives the lock for all back once no control is open.
  HRESULT EndLockForAllWithoutControls();

  std::vector<Record> records_;
  std::map<LONG, ULONG> status_;  // rows whose enabled bit changed
  ULONG lockingFunctions_ = 0;
  bool lockForAll_ = false;  // holds one counted data-set lock
  ULONG lastState_ = 0;
};

template <class T>
class CevFDT_FunctionContainerImpl : public FunctionContainerCore {
 protected:
  BaseDtm& ContainerDtm() override { return *static_cast<T*>(this); }
};

#define EV_FUNCTION_CONTAINER_ENTRIES(Class)                                         \
  com::entry<Class, IevFdtActiveXContainer>(), com::entry<Class, IevFdtActiveXManagement>(), \
      com::entry<Class, IDtmActiveXInformation>(), com::entry<Class, IDtmApplication>(),   \
      com::entry<Class, IevFdtOpenControls>()
