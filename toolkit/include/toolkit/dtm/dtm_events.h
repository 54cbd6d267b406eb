// Events that end in the base DTM.
//
// - IevFdtDtmEvents::OnDtmEvent: the DTM's own parts (worker thread,
//   channels, controls, the DTM class) raise numbered events (dtm_event
//   below); each becomes a frame notice through the worker thread, a control
//   broadcast, a progress notice or a step of the per-control
//   parameter-update bookkeeping.
// - IFdtEvents: the frame tells the DTM about changed children, changed
//   parameters and data-set locks.
//
// Parameter-update bookkeeping: every open control that shows cyclically
// updated parameters reports its list of SParamUpdateInfo records
// (IevFdtActiveXInfo::GetInfo with VT_UI4 0x20). The DTM keeps the list per
// control id and tells the worker thread what changed: command 6 for a new
// subscription, 8 for a changed period, 7 for a dropped one. The worker
// counts subscriptions per parameter, so two controls may share one.
//
// DtmEventsCore does the work; CevFDT_DtmEventsImpl<T> binds it to the DTM
// class T, which provides (base_dtm.h, dtm_thread.h and param_handler.h do;
// where T inherits a name twice it picks one with a using-declaration):
//   IUnknown* GetCommDtmInterface();
//   HRESULT PostCode(ULONG code, const VARIANT& argument);    worker command
//   HRESULT PostPacked(ULONG code, CevVAPacker& record);
//   void ReportMessageText(const wchar_t* text);              user message
//   HRESULT QueueWorkerRequest(const wchar_t* text, USHORT percent, SHORT flag);
//   HRESULT PostActiveXMessage(ULONG code);                   64..68
//   ULONG GetDataState() const;                               0..3
//   XmlHandlerCore& Xml();                                    document loading
//   bool DataSetLocked() const;      the DTM holds the frame's data-set lock
//   bool DataSetLockedElsewhere() const; void SetDataSetLockedElsewhere(bool);
//                                    the frame's mark of a lock held elsewhere
//   void SetTransferAbortFlag(bool); the one transfer-abort flag (the
//                                    parameter handler's, which cancel sets)
// The class lists the interfaces with EV_DTM_EVENTS_ENTRIES(Class).
//
// Threads: OnDtmEvent runs in the DTM object's apartment; the worker thread
// and the channels' workers reach it through marshalled pointers. It never
// waits, except that a progress notice waits for the previous one.
#pragma once

#include <windows.h>
#include <msxml2.h>
#include <oaidl.h>

#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "fdt.h"
#include "toolkit.h"
#include "toolkit/values/va_packer.h"

// Codes of IevFdtDtmEvents::OnDtmEvent.
namespace dtm_event {
constexpr ULONG kControlOpened = 1;         // control id: data state to the controls, then as 3
constexpr ULONG kControlClosed = 2;         // control id: its subscriptions are dropped
constexpr ULONG kControlSubscriptions = 3;  // control id: its list is asked for again
constexpr ULONG kNothing = 4;
constexpr ULONG kParameterUpdateDone = 9;   // parameter id: worker command 9
constexpr ULONG kUserMessage = 16;          // text: reported to the user
constexpr ULONG kApplicationClosed = 17;    // text: worker command 22
constexpr ULONG kProgress = 18;             // packed SProgressEvent
constexpr ULONG kChannelFunctionChanged = 19;  // text: worker command 18
constexpr ULONG kTransferAbort = 48;        // value: the transfer-abort flag
constexpr ULONG kLoadFromDevice = 49;       // text: own IDtmOnlineParameter::UploadRequest
constexpr ULONG kStoreToDevice = 50;        // text: own IDtmOnlineParameter::DownloadRequest
constexpr ULONG kUpload = 51;               // any: IevFdtBaseDTM::UploadRequest
constexpr ULONG kAuditTrailSwitch = 52;     // on/off: IevFdtBaseDTM::SwitchAuditTrail
constexpr ULONG kFirstStateNotice = 64;     // 64..68: to the open controls
constexpr ULONG kLastStateNotice = 68;
constexpr ULONG kUserMessageText = 10004;   // VT_BSTR text: reported to the user
constexpr ULONG kProgressArray = 10005;     // [VT_I2 percent, VT_BSTR text, VT_BOOL flag]
}  // namespace dtm_event

// IevFdtActiveXInfo::GetInfo selector of a control's SParamUpdateInfo list.
constexpr ULONG kControlInfoParamUpdates = 0x20;
// Control properties sent from here.
constexpr ULONG kControlPropertyDataSetEditable = 9993;  // VT_BOOL
constexpr ULONG kControlPropertyDataState = 9999;        // VT_UI2

class DtmEventsCore : public com::DispatchImpl<IevFdtDtmEvents>,
                      public com::DispatchImpl<IFdtEvents> {
 public:
  DtmEventsCore(const DtmEventsCore&) = delete;
  DtmEventsCore& operator=(const DtmEventsCore&) = delete;

  // ---- IevFdtDtmEvents ---------------------------------------------------
  // The code must change to VT_UI4 (its failure is returned). S_FALSE for a
  // code without an action.
  STDMETHODIMP OnDtmEvent(VARIANT code, VARIANT value) override;

  // ---- IFdtEvents --------------------------------------------------------
  // The DTM class overrides it to tell its channel; the default answers S_FALSE.
  STDMETHODIMP OnChildChanged(BSTR systemTag) override;
  // PARAMETERS go to the parameter import, else a ChannelCollection to the
  // channels. S_FALSE for a document that is not valid.
  STDMETHODIMP OnParameterChanged(BSTR systemTag, BSTR parameterDocument) override;
  // Marks the data set as locked elsewhere; 9993 false to the controls.
  STDMETHODIMP OnDataSetLockedElsewhere(BSTR systemTag, BSTR userName) override;
  // Clears the mark; asks for the lock again while locking functions are
  // open; 9993 to the controls with whether the DTM holds the lock.
  STDMETHODIMP OnDataSetUnlocked(BSTR systemTag, BSTR userName, VARIANT_BOOL* result) override;

  // ---- Bookkeeping and state ---------------------------------------------
  // Brings a control's subscriptions to the list: new records post command
  // 6, changed periods 8, records not in the list 7. A record is kept only
  // once the worker took it. An empty list removes the control. Returns the
  // first failing post (the rest is still done), else S_OK. An update that
  // arrives while one waits for the worker runs after it (S_OK).
  HRESULT UpdateControlSubscriptions(const wchar_t* controlId, const ParamUpdateList& list);
  // What a control is subscribed to (empty for an unknown control).
  ParamUpdateList ControlSubscriptions(const wchar_t* controlId) const;
  size_t SubscribedControlCount() const { return controls_.size(); }


 protected:
  DtmEventsCore() = default;
  ~DtmEventsCore() = default;

  // What the DTM class gives (see the file comment).
  virtual IUnknown* EventsDtmObject() = 0;
  virtual HRESULT EventsPostCode(ULONG code, const VARIANT& argument) = 0;
  virtual HRESULT EventsPostPacked(ULONG code, CevVAPacker& record) = 0;
  virtual void EventsReportMessage(const wchar_t* text) = 0;
  virtual HRESULT EventsQueueProgress(const wchar_t* text, USHORT percent, SHORT flag) = 0;
  virtual HRESULT EventsPostControlMessage(ULONG code) = 0;
  virtual ULONG EventsDataState() = 0;
  virtual HRESULT EventsLoadDocument(const wchar_t* xml, IXMLDOMDocument2** doc,
                                     VARIANT_BOOL* loaded) = 0;
  virtual bool EventsDataSetLockHeld() = 0;
  virtual void EventsSetLockedElsewhere(bool on) = 0;

  // Hooks of parts built elsewhere, with their defaults.
  // The open control under the key. Default: the function container's
  // (IevFdtOpenControls of the DTM object); without one E_FAIL.
  virtual HRESULT FindOpenControl(const wchar_t* controlId, IUnknown** control);
  // Number of open functions that hold a data-set lock. Default: the
  // function container's; without one 0.
  virtual ULONG OpenLockingFunctions();
  // The DTM's own IDtmOnlineParameter. Default: the DTM object's (the
  // online transfer part answers it from QueryInterface); without one,
  // events 49 and 50 answer S_FALSE.
  virtual com::ComPtr<IDtmOnlineParameter> OwnOnlineParameter();
  // The PARAMETERS text of a frame parameter-change document. Default: the
  // DTM object's IevFdtParametersImportExport::Import; none: S_FALSE.
  virtual HRESULT LoadParameterValues(BSTR parameters);
  // Event 48: the transfer abort flag (the DTM class's one flag).
  virtual void SetTransferAbort(bool abort) = 0;

 private:
  struct ControlEntry {
    com::Bstr id;
    ParamUpdateList records;
  };
  HRESULT ControlEvent(ULONG code, const VARIANT& value);
  HRESULT AskControlSubscriptions(const wchar_t* controlId);
  HRESULT SetControlsProperty(ULONG key, const VARIANT& value);
  HRESULT ReportText(const VARIANT& value, bool onlyBstr);
  HRESULT PostTextArgument(ULONG command, const VARIANT& value);
  HRESULT Progress(const VARIANT& value);
  HRESULT ProgressArray(const VARIANT& value);
  HRESULT OnlineParameter(ULONG code, const VARIANT& value);
  HRESULT ToBaseDtm(ULONG code, const VARIANT& value);
  ControlEntry* FindControl(const wchar_t* controlId);
  const ControlEntry* FindControl(const wchar_t* controlId) const;

  HRESULT ApplyControlSubscriptions(const wchar_t* controlId, const ParamUpdateList& list);

  std::vector<ControlEntry> controls_;
  bool updating_ = false;
  std::vector<ControlEntry> pendingUpdates_;  // updates that came in meanwhile
};

template <class T>
class CevFDT_DtmEventsImpl : public DtmEventsCore {
 protected:
  IUnknown* EventsDtmObject() override { return Dtm().GetCommDtmInterface(); }
  HRESULT EventsPostCode(ULONG code, const VARIANT& argument) override {
    return Dtm().PostCode(code, argument);
  }
  HRESULT EventsPostPacked(ULONG code, CevVAPacker& record) override {
    return Dtm().PostPacked(code, record);
  }
  void EventsReportMessage(const wchar_t* text) override { Dtm().ReportMessageText(text); }
  HRESULT EventsQueueProgress(const wchar_t* text, USHORT percent, SHORT flag) override {
    return Dtm().QueueWorkerRequest(text, percent, flag);
  }
  HRESULT EventsPostControlMessage(ULONG code) override { return Dtm().PostActiveXMessage(code); }
  ULONG EventsDataState() override { return Dtm().GetDataState(); }
  HRESULT EventsLoadDocument(const wchar_t* xml, IXMLDOMDocument2** doc,
                             VARIANT_BOOL* loaded) override {
    return Dtm().Xml().LoadXMLDocument(xml, doc, loaded);
  }
  bool EventsDataSetLockHeld() override { return Dtm().DataSetLocked(); }
  void EventsSetLockedElsewhere(bool on) override { Dtm().SetDataSetLockedElsewhere(on); }
  void SetTransferAbort(bool abort) override { Dtm().SetTransferAbortFlag(abort); }

 private:
  T& Dtm() { return *static_cast<T*>(this); }
};

// Interface-map entries of the events part.
#define EV_DTM_EVENTS_ENTRIES(Class) \
  com::entry<Class, IevFdtDtmEvents>(), com::entry<Class, IFdtEvents>()
