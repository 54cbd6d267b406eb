// The parameter handler: an object's parameter table behind the COM
// interfaces IevFdtParameterHandler4, IevFdtParameterInfo and
// IevFdtParameterValidation, and the C++ interface IevFdtParameterStore
// (fdtidl/ToolkitHooks.h) for the operations that pass ParInfo records.
//
// The DTM class and the channel class derive from
// CevFDT_ParameterHandlerImpl<Class>, list its interfaces in their map with
// EV_PARAMETER_HANDLER_ENTRIES(Class), and declare their rows at
// construction with the row builders of param_rows.h.
//
// Threads: the handler runs on the owner's apartment thread and takes no lock.
// Code on another apartment (the DTM worker) reaches it only through the
// marshalled COM interfaces; IevFdtParameterStore has no proxy, so a query
// for it through a proxy fails.
//
// Owner services: the handler reaches the rest of its object through the
// OnParam... hooks below. Each default asks the owner object
// (GetCommDtmInterface of the class) for the COM interface named there and
// does nothing when the object has none, so the parts that implement those
// interfaces plug in without touching the handler. A class may override a
// hook instead.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <objidl.h>

#include <vector>

#include "com/Bstr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "fdtidl/ToolkitHooks.h"
#include "outside.h"
#include "toolkit.h"
#include "toolkit/params/param_info.h"

// Data state of the data set (persisted; sent to the controls as 9999).
enum ParDataState : ULONG {
  kDataStateDefault = 0,
  kDataStateValidModified = 1,
  kDataStateInvalidModified = 2,
  kDataStateAllDataLoaded = 3,
};

// Codes of the control messages the handler sends to every open control.
enum ParControlMessage : LONG {
  kCtlValueWritten = 9985,      // [id VT_UI4, value]
  kCtlFlagsChanged = 9994,      // [id VT_UI4, empty]
  kCtlDeviceValue = 9997,       // [id VT_UI4, value]
  kCtlDataState = 9999,         // data state as VT_UI2
};

// Event the handler passes to the owner's IevFdtDtmEvents when a device
// request completes.
constexpr LONG kDtmEventParameterCompleted = 9;
// The owner's event that reports a text to the user (its message path).
constexpr LONG kDtmEventUserMessageText = 10004;
// The owner's event that passes a progress notice (a packed SProgressEvent)
// on to the frame.
constexpr LONG kDtmEventProgress = 18;

// Step of a transfer's progress notices, in percent.
constexpr ULONG kTransferProgressStep = 5;

// Transfer-event codes sent after the online read and write hooks.
enum ParTransferEvent : ULONG {
  kTransferReadBegins = 0x15,
  kTransferReadEnded = 0x25,
  kTransferWriteBegins = 0x16,
  kTransferWriteEnded = 0x26,
};

// One entry of the transfer-list handler table: a plain function called for
// a transfer event of a parameter in one of the lists that ITransferExtension
// describes. direction (1, 2 or 4) and phase (0x8, 0x10, 0x20 or 0x40) are
// compared by their 32-bit values; reserved is copied and read nowhere.
using TransferListHandler = HRESULT (*)(IevFdtParameterHandler4* handler,
                                        IOnlineParameterRequest* online, VARIANT argument);
struct ParValueSet {
  com::Variant direction;
  com::Variant listName;
  com::Variant reserved;
  com::Variant phase;
  TransferListHandler handler = nullptr;  // null: no handler
};

// Whether an entry of direction and phase answers the event code: the bits
// 0x1, 0x2 and 0x4 of the code select by direction (0x1 or 0x4: direction 1
// or 4; 0x2 or 0x4: direction 2 or 4; any of them: 1, 2 or 4), each of the
// bits 0x8, 0x10, 0x20 and 0x40 the code has must equal the phase.
bool TransferEntryMatches(ULONG direction, ULONG phase, ULONG eventCode);

// Control properties a relation sends for its target ([id VT_UI4, empty]).
enum ParRelationProperty : LONG {
  kCtlRelationValue = 9985,    // kind 9
  kCtlRelationText = 9997,     // kind 9, after the text was replaced
  kCtlRelationChoices = 10002, // kind 4
};

// What EvaluateDependencies runs.
enum ParDependency : ULONG {
  kParDependUpdate = 0x1,    // the "update(" list
  kParDependRelation = 0x2,  // the "relation(" list
};

// Fixed for one handler; set by the owner class at construction.
struct ParamHandlerOptions {
  bool saveLimits = false;          // stream: minimum, maximum and default per parameter
  bool saveExtra5 = false;          // stream: extra5 per parameter
  bool skipAfterWriteHook = false;  // write core: do not call hook 6
  // StoreParameter of an online-writable device parameter goes to the device
  // when the DTM is online (the DTM's handler); a channel's handler writes
  // nothing.
  bool storeToDeviceOnline = true;
  // A relation list holds the data-set modified notice until its last pair
  // ran, so the frame hears of the list once (the DTM's handler; a
  // channel's takes no hold).
  bool holdNoticeDuringRelations = true;
};

class CevFDT_ParameterHandlerCore : public com::DispatchImpl<IevFdtParameterHandler4>,
                                    public com::DispatchImpl<IevFdtParameterInfo>,
                                    public com::DispatchImpl<IevFdtParameterValidation>,
                                    public com::DispatchImpl<IevFdtParametersImportExport>,
                                    public IevFdtParameterStore,
                                    public IevFdtRelationHooks {
 public:
  // --- IevFdtParameterHandler4 ---
  STDMETHODIMP RequestParameter(VARIANT parameterId, VARIANT_BOOL* started) override;
  STDMETHODIMP SetParameterChecked(VARIANT parameterId, VARIANT value,
                                   VARIANT_BOOL* result) override;
  STDMETHODIMP GetParameterDescription(VARIANT parameterId, VARIANT* value, BSTR* text,
                                       unsigned short* vt, VARIANT* minimum, VARIANT* maximum,
                                       VARIANT* defaultValue, VARIANT* flags) override;
  STDMETHODIMP SetParameterValue(VARIANT_BOOL success, VARIANT parameterId, VARIANT value,
                                 BSTR errorText) override;
  STDMETHODIMP GetParameterInfoValue(VARIANT parameterId, VARIANT* info) override;
  STDMETHODIMP SetValueAndFlagsByVariant(VARIANT parameterId, VARIANT value,
                                         VARIANT flags) override;
  STDMETHODIMP GetParameterValue(VARIANT parameterId, VARIANT* value) override;
  STDMETHODIMP WriteParameter(VARIANT parameterId, VARIANT value) override;
  STDMETHODIMP GetParameterKind(VARIANT parameterId, VARIANT* kind) override;
  STDMETHODIMP CanWrite(VARIANT_BOOL* canWrite) override;
  STDMETHODIMP LoadParameters(IStream* stream, VARIANT_BOOL* done) override;
  STDMETHODIMP SaveParameters(IStream* stream, VARIANT_BOOL* done) override;
  STDMETHODIMP EvaluateRelations() override;
  STDMETHODIMP DownloadRequest(VARIANT request, VARIANT_BOOL* done) override;
  STDMETHODIMP AbortTransfer(VARIANT_BOOL* aborted) override;
  STDMETHODIMP RefreshParameter(VARIANT parameterId, VARIANT_BOOL* done) override;
  STDMETHODIMP StoreParameter(VARIANT parameterId, VARIANT value, VARIANT_BOOL* done) override;

  // --- IevFdtParameterInfo ---
  STDMETHODIMP GetCount(VARIANT* count) override;
  STDMETHODIMP GetParameterId(VARIANT index, VARIANT* parameterId) override;
  // One field of a record, selected by one bit of the field mask. A VT_BSTR
  // selector names a private property of the parameter (GetPrivateProperty).
  STDMETHODIMP GetParameterInfo(VARIANT parameterId, VARIANT selector, VARIANT* value) override;
  // Sets one field (the value changed to the field's type, no further
  // checks); E_FAIL for several bits and for the VARTYPE field (0x10). A
  // VT_BSTR selector sets a private property (SetPrivateProperty).
  STDMETHODIMP SetParameterInfo(VARIANT parameterId, VARIANT selector, VARIANT value) override;

  // --- IevFdtParameterValidation ---
  STDMETHODIMP Validate(VARIANT parameterId, VARIANT value, unsigned long* status) override;
  STDMETHODIMP ValidateValue(VARIANT parameterId, VARIANT value, VARIANT_BOOL* valid) override;

  // --- IevFdtParametersImportExport ---
  // The PARAMETERS text of every parameter with flag 0x100 (null when none).
  STDMETHODIMP Export(BSTR* parameters) override;
  // LoadParameterValues without progress.
  STDMETHODIMP Import(BSTR parameters) override;

  // --- IevFdtParameterStore (C++ only) ---
  STDMETHODIMP SetParInfoByVariant(VARIANT parameterId, ULONG mask,
                                   const ParInfo& info) override;
  STDMETHODIMP GetParameterData(ULONG parameterId, VARIANT* value, BSTR* text, VARTYPE* vt,
                                VARIANT* minimum, VARIANT* maximum, VARIANT* defaultValue,
                                VARIANT* flags) override;
  STDMETHODIMP SetValueAndFlags(ULONG parameterId, const VARIANT* value,
                                const DWORD* flags) override;
  STDMETHODIMP GetParameterCountEx(ULONG* count) override;
  STDMETHODIMP GetParameterIdByIndex(ULONG index, ULONG* parameterId) override;
  STDMETHODIMP WriteValue(ULONG parameterId, const VARIANT& value) override;
  STDMETHODIMP EvaluateDependencies(ULONG parameterId, ULONG what) override;
  STDMETHODIMP UpdateParameters(ULONG parameterId, BSTR text) override;
  STDMETHODIMP SetValue(ULONG parameterId, const VARIANT& value) override;
  STDMETHODIMP GetValue(ULONG parameterId, VARIANT* value) override;
  STDMETHODIMP SetParInfo(ULONG parameterId, ULONG mask, const ParInfo& info) override;
  STDMETHODIMP GetParInfo(ULONG parameterId, ULONG mask, ParInfo* info) override;
  STDMETHODIMP AddParameter(const ParInfo& info) override;
  STDMETHODIMP RemoveParameter(ULONG parameterId) override;
  STDMETHODIMP RemoveAllParameters() override;
  STDMETHODIMP GetParameterCount(ULONG* count) override;
  STDMETHODIMP GetParameter(ULONG parameterId, ParInfo* info) override;
  STDMETHODIMP GetParameterAt(ULONG index, ParInfo* info) override;
  STDMETHODIMP InvokeParameterCallback(ULONG parameterId, ULONG hookNumber,
                                       const VARIANT& argument) override;
  LONG STDMETHODCALLTYPE IndexOfParameter(ULONG parameterId) override;
  bool STDMETHODCALLTYPE HasParameter(ULONG parameterId) override;

  // --- C++ operations of the handler ---

  // The write core: convert to the parameter's type, and when the value
  // changed: audit entry, hook 5, store, data state 1 for a device parameter,
  // hook 6; always control message 9985; when it changed and notify is on:
  // flag 0x100, modified notice for a persistent parameter, dependencies.
  HRESULT WriteCore(ULONG parameterId, const VARIANT& value, bool notify);
  // A value that arrived from the device: stored as initialValue (in the
  // parameter's type), control message 9997, dependencies.
  HRESULT SetDeviceValue(ULONG parameterId, const VARIANT& value);
  // Stores a new flags word and sends control message 9994.
  HRESULT SetParameterFlags(ULONG parameterId, ULONG flags);

  ULONG GetDataState() const { return dataState_; }
  // Keeps the state and sends it to the controls (9999, VT_UI2).
  HRESULT SetDataState(ULONG state);

  // One device read (RefreshParameter) or write (StoreParameter) of a
  // parameter, true only when the call succeeded, answered done and the
  // device side completed this very id successfully. The last device result
  // and error are cleared before the call, so that an earlier completion,
  // or a nested one of another id, is never taken for this request's.
  bool ReadFromDevice(ULONG parameterId);
  bool WriteToDevice(ULONG parameterId, const VARIANT& value);

  // Result of the last device completion (SetParameterValue).
  BYTE LastDeviceResult() const { return lastDeviceResult_; }
  BSTR LastDeviceError() const { return lastDeviceError_.get(); }
  ULONG LastCompletedId() const { return lastCompletedId_; }
  const VARIANT& LastDeviceValue() const { return lastDeviceValue_.value(); }

  // The DTM's one transfer-abort flag: set by AbortTransfer (cancel), set or
  // reset by the DTM event 48.
  bool TransferAborted() const { return abortTransfer_; }
  void SetTransferAbortFlag(bool abort) { abortTransfer_ = abort; }

  ParamHandlerOptions& ParamOptions() { return options_; }
  const ParamHandlerOptions& ParamOptions() const { return options_; }

  // --- relations (param_relations.cpp) ---

  // The "relation(" list of a source parameter: each pair (kind 1..9,
  // target) changes the target. E_INVALIDARG for a text without the list;
  // failing pairs do not stop the list, the last failure is answered.
  HRESULT EvaluateRelation(ULONG sourceId, BSTR text);
  // EvaluateRelation for every parameter with a relation list, in ascending
  // id order, with device reads of kind 1 held back; single failures are
  // ignored.
  HRESULT ApplyRelationsForConfig();
  // Adds a copy of every record of source whose id the handler lacks.
  HRESULT MergeParameters(const CParamCollection* source);
  // number changed to vartype; true only when that gave exactly vartype.
  static bool ConvertDoubleToType(double number, VARTYPE vartype, VARIANT* out);

  // While a hold is taken, a persistent parameter's change does not tell the
  // owner at once; releasing the last hold tells it once. Holds nest (a
  // transfer's hold covers the relation lists inside it).
  void HoldDataSetNotice() { ++noticeHolds_; }
  HRESULT ReleaseDataSetNotice();
  // A held change is waiting for the last hold's release.
  bool DataSetNoticePending() const { return noticePending_; }

  // IevFdtRelationHooks: the toolkit's decisions, which a class may
  // override. Enable: true. Access: 2 (writable), applied. Choices:
  // E_NOTIMPL. Value: the source's current value. Text: the source's value
  // when it is a text, else E_INVALIDARG.
  HRESULT QueryRelationEnable(ULONG source, ULONG target, BOOL* enable) override;
  BYTE QueryRelationAccess(ULONG source, ULONG target, BOOL* apply) override;
  HRESULT QueryRelationChoices(ULONG source, ULONG target, VARIANT* choices) override;
  HRESULT QueryRelationValue(ULONG source, ULONG target, VARIANT* value) override;
  HRESULT QueryRelationText(ULONG source, ULONG target, BSTR* text) override;

  // --- export and import (param_export.cpp) ---

  // The PARAMETERS text of the parameters taken (onlyMarked: persist set;
  // onlyExportable: flag 0x100), with progress through OnParamProgress when
  // progressText is given. *out null when none was taken. E_POINTER for a
  // null out.
  HRESULT ExportParameters(const wchar_t* progressText, bool onlyMarked, bool onlyExportable,
                           BSTR* out);
  // Writes the value of every parameter whose entry in the PARAMETERS
  // document carries its declared VARTYPE name (WriteValue); other entries
  // are skipped. E_POINTER for null, E_FAIL for text that does not parse.
  HRESULT LoadParameterValues(const wchar_t* document, const wchar_t* progressText);
  // Private properties: <PrivateProperties> <Property name value type/>
  // ... </PrivateProperties> in the parameter's extra5 field.
  HRESULT GetPrivateProperty(ULONG parameterId, const wchar_t* name, VARIANT* value);
  HRESULT SetPrivateProperty(ULONG parameterId, const wchar_t* name, const VARIANT& value);

  // --- transfer events (the bulk transfers use them too) ---

  // Adds an entry to the transfer-list handler table (searched in order),
  // and sets the list context handed to ITransferExtension for list names.
  HRESULT AddTransferListHandler(const ParValueSet& entry);
  HRESULT SetTransferListContext(const VARIANT& context);
  // The first entry that matches the code and names a list (of the list
  // context) that holds the id; *entry's handler stays null when none does.
  // S_FALSE after a search (found or not), also when the owner has no
  // ITransferExtension (then *entry is not written); a failing list query
  // is answered.
  HRESULT FindTransferListHandler(const VARIANT& parameterId, ULONG eventCode,
                                  ParValueSet* entry);
  // Calls the handler found for the id with (the owner's
  // IevFdtParameterHandler4, its online parameter interface, the id) and
  // answers its result, else the search's. E_POINTER when the owner lacks
  // either interface.
  HRESULT DispatchTransferEvent(const VARIANT& parameterId, ULONG eventCode);
  // For each member of a list (ITransferExtension's members, a VARIANT
  // array), calls its handler with the entry's list name, each handler once
  // per run after it succeeded. E_NOINTERFACE without ITransferExtension.
  HRESULT TransferParameterArray(const VARIANT& list, ULONG eventCode);
  // The aggregating object's list for a bulk download or upload: the
  // device parameters (kind 1) with flags 0x20 and 0x40 ("DownloadList") or
  // 0x10 and 0x40 ("UploadList"), added in ascending id order. A list the
  // object reports existing and current is used as it is. *list receives
  // the list's name (VT_BSTR). E_INVALIDARG for a null out pointer,
  // E_NOINTERFACE without ITransferExtension, E_FAIL when the object does
  // not create the list or refuses a member.
  HRESULT BuildDownloadList(VARIANT* list);
  HRESULT BuildUploadList(VARIANT* list);

  // --- transfers of the parameter set (param_transfer.cpp) ---

  // Which parameters the transfers of a parameter set handle: device
  // parameters (kind 1) whose flags hold 0x20 (writable online) or 0x10
  // (readable online), each with 0x40.
  static bool TakesPartInDownload(const ParInfo& record);
  static bool TakesPartInUpload(const ParInfo& record);
  // The parameters a download of this handler's set transfers
  // (TakesPartInDownload), in ascending id order. Each element names one
  // descriptor by its id (VT_UI4), so that the transfer takes every value as
  // it is when its turn comes. A VT_ARRAY|VT_VARIANT vector with lower bound
  // 0, empty when none takes part. E_INVALIDARG for a null out,
  // E_OUTOFMEMORY when the array cannot be made.
  HRESULT GetParInfoList(VARIANT* list);
  // One progress notice for the frame: a title and a percentage, passed as
  // DTM event 18 (a packed SProgressEvent) to the owner's IevFdtDtmEvents,
  // which shows it on the frame's progress display when the frame offers
  // one (IFrameDtmEvents::OnProgress). running false starts or ends the
  // display, true is a step. S_FALSE when the owner takes no DTM events.
  HRESULT ReportProgress(const wchar_t* title, ULONG percent, bool running);
  // Progress of item index of a transfer of count items: index 0 starts the
  // display (percentage 0); a later index is sent as a step when its
  // percentage passes the mark, which then grows by kTransferProgressStep;
  // nothing is sent while an abort is pending. ResetTransferProgress
  // starts the record of a new transfer.
  void ReportTransferProgress(ULONG index, ULONG count, const wchar_t* text);
  void ResetTransferProgress() { progressMark_ = 0; }

 protected:
  CevFDT_ParameterHandlerCore() = default;
  ~CevFDT_ParameterHandlerCore() = default;

  // The owner object (the class's GetCommDtmInterface), held while used: a
  // channel's worker reaches its owner only through a reference of its own.
  virtual com::ComPtr<IUnknown> ParamOwner() = 0;
  // The owner's interface I; null without an owner or when it lacks I.
  template <class Interface>
  static com::ComPtr<Interface> queryOwner(const com::ComPtr<IUnknown>& owner) {
    return com::query<Interface>(owner.get());
  }

  // --- hooks into the rest of the object; defaults in the comments ---

  // A control message to every open control. Default: the owner's
  // IevFdtActiveXContainer::SetControlsProperty(code, value); none: S_FALSE.
  virtual HRESULT OnParamControlMessage(const VARIANT& code, const VARIANT& value);
  // The audit entry of a changed value: the parameter's display name, its
  // old and new values as stored and converted, and a descriptor (empty for
  // the write core). Default: AuditWriteParameterChange through the owner's
  // IevFdtAuditTrail (audit_trail.h), which formats the texts; none: S_FALSE.
  virtual HRESULT OnParamAuditEntry(const wchar_t* name, const VARIANT& oldValue,
                                    const VARIANT& newValue, const wchar_t* descriptor);
  // A persistent parameter was changed by a write. Default: the owner's
  // IevFdtStorageState::SetModified(1); none: S_FALSE. A channel overrides it
  // to tell its DTM as well.
  virtual HRESULT OnParamDataSetModified();
  // Progress of an export or import: index of count, with its text; index
  // 0 starts it. Default: the handler's progress record
  // (ReportTransferProgress, which index 0 restarts).
  virtual void OnParamProgress(ULONG index, ULONG count, const wchar_t* text);
  // The error text of a failed device completion for the user. Default:
  // the owner's user-message event (kDtmEventUserMessageText), S_OK.
  virtual HRESULT OnParamReportMessage(BSTR text);
  // The download request of the parameter set. Default: the owner's
  // IevFdtOnlineTransfer; without it *done false, S_FALSE.
  virtual HRESULT OnParamDownloadRequest(const VARIANT& request, VARIANT_BOOL* done);

 private:
  ParInfo* find(ULONG parameterId) { return params_.Find(parameterId); }
  // Calls hook n of a parameter with the owner's IevFdtParameterHandler4 as
  // argument; a missing hook gives S_FALSE without looking for the owner.
  HRESULT callHook(ULONG parameterId, ULONG hookNumber);
  HRESULT sendPair(LONG code, ULONG parameterId, const VARIANT& value);
  LONG dtmState();
  // The modified notice of a persistent parameter, held back while a hold is
  // taken.
  HRESULT notifyDataSetModified();
  HRESULT relationPair(ULONG kind, ULONG sourceId, ULONG targetId);
  HRESULT sendRelationProperty(LONG property, ULONG targetId);
  HRESULT buildTransferList(const wchar_t* name, bool (*takesPart)(const ParInfo&), VARIANT* list);

  CParamCollection params_;
  ParamHandlerOptions options_;
  ULONG dataState_ = kDataStateDefault;
  BYTE lastDeviceResult_ = 0;
  com::Bstr lastDeviceError_;
  ULONG lastCompletedId_ = 0;
  com::Variant lastDeviceValue_;
  bool abortTransfer_ = false;
  ULONG progressMark_ = 0;  // the last percentage a transfer reported
  std::vector<ParValueSet> transferHandlers_;
  com::Variant transferListContext_;
  // ApplyRelationsForConfig runs: kind-1 relations read nothing.
  bool bulkRelations_ = false;
  ULONG noticeHolds_ = 0;
  bool noticePending_ = false;
  // Nesting of relation lists (a write inside a list runs its target's
  // lists); bounded so that relations that keep changing each other end.
  ULONG relationDepth_ = 0;
};

// The handler of one class. Class provides GetCommDtmInterface() (the
// IevFdtDtmClass hook of the base DTM, or the channel's own).
template <class Class>
class CevFDT_ParameterHandlerImpl : public CevFDT_ParameterHandlerCore {
 protected:
  com::ComPtr<IUnknown> ParamOwner() override {
    return com::ComPtr<IUnknown>(static_cast<Class*>(this)->GetCommDtmInterface());
  }
};

// Interface-map entries of the handler, for the class's interfaceMap():
//   com::entry<MyDtm, IevFdtBaseDTM>(), ..., EV_PARAMETER_HANDLER_ENTRIES(MyDtm), ...
#define EV_PARAMETER_HANDLER_ENTRIES(Class)                                        \
  com::entry<Class, IevFdtParameterHandler4>(), com::entry<Class, IevFdtParameterInfo>(), \
      com::entry<Class, IevFdtParameterValidation>(),                              \
      com::entry<Class, IevFdtParametersImportExport>(),                           \
      com::entry<Class, IevFdtParameterStore>()
