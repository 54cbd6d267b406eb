// The base DTM: the core of every DTM object built on the toolkit.
//
// BaseDtm holds the DTM's shared members (state, system tag, frame
// interfaces, user role, language, buffered messages, the communication and
// progress-idle events), implements IevFdtBaseDTM, IDtm and IDtm2 over the
// DTM state machine, and gives the other toolkit parts their services
// (ReportMessage, the worker-thread posts, the frame's interfaces, the DTM's
// XML handler). CevFDT_BaseDTMImpl<T> binds it to the DTM class T.
//
// A DTM class:
//
//   class CMyDtm : public com::ObjectRoot,
//                  public CevFDT_BaseDTMImpl<CMyDtm>,
//                  public CevFDT_ParameterHandlerImpl<CMyDtm>, ... {
//     static const com::InterfaceEntry* interfaceMap();  // lists every interface
//     HRESULT finalConstruct() { return OnConstruct(); }  // after the parts are built
//     void CreateParameterTable() override;               // its rows
//     const FunctionTableRow* GetFunctionTable() override;
//   };
//
// Parts that live elsewhere (parameter handler, channel container, function
// container, translation, audit trail, data-set lock, persistence,
// relations) are reached by asking the DTM object (GetCommDtmInterface) for
// their interfaces; a part the object does not answer is skipped. Steps of
// parts not built yet are virtual hooks below with do-nothing defaults.
//
// The worker thread: BaseDtm is the DTM's CevFDT_ThreadManagerImpl
// (dtm_thread.h); it starts the thread when it is initialised for its device
// type and stops it at shutdown.
//
// Threads: every method runs in the DTM object's apartment. The worker
// thread calls SetState and the accessors through a marshalled
// IevFdtBaseDTM. No C++ exception leaves a COM method.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdarg>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Variant.h"
#include "fdt.h"
#include "fdtidl/ToolkitHooks.h"
#include "toolkit.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/worker/dtm_thread.h"
#include "toolkit/xml/xml_handler.h"
#include "win32/unique_handle.h"

// The format marker of a persisted data set (CheckStreamSignature).
extern const wchar_t kDataSetFormatMarker[];

// A function table action: runs the function on the DTM object (the object
// GetCommDtmInterface answers) and says whether it succeeded. Stored in
// FunctionTableRow::action.
using DtmFunctionAction = HRESULT (*)(IUnknown* dtm, VARIANT_BOOL* success);

// The two transfers of a parameter set, for their stop question.
enum class TransferKind { Upload, Download };

// The stop question of a transfer: its toolkit messages, the message-box
// style (Yes and No, stop icon) and the answer that stops.
namespace transfer_message {
constexpr ULONG kUploadStopQuestion = 1001;
constexpr ULONG kUploadCaption = 1002;
constexpr ULONG kDownloadStopQuestion = 1003;
constexpr ULONG kDownloadCaption = 1004;
}  // namespace transfer_message
constexpr ULONG kStopQuestionStyle = 0x14;
constexpr long kAnswerYes = 6;

class BaseDtm : public CevFDT_ThreadManagerImpl,
                public com::DispatchImpl<IevFdtBaseDTM>,
                public com::DispatchImpl<IDtm>,
                public com::DispatchImpl<IDtm2>,
                public IevFdtDtmClass {
 public:
  BaseDtm();
  virtual ~BaseDtm();
  BaseDtm(const BaseDtm&) = delete;
  BaseDtm& operator=(const BaseDtm&) = delete;

  // ---- IevFdtBaseDTM -----------------------------------------------------
  STDMETHODIMP SetState(long newState) override;
  STDMETHODIMP GetDtmState(long* state) override;
  STDMETHODIMP BroadcastProperty(VARIANT propertyId, VARIANT value) override;
  STDMETHODIMP GetLanguageId(long* languageId) override;
  STDMETHODIMP GetSystemTag(BSTR* systemTag) override;
  STDMETHODIMP SetParameterValue(VARIANT_BOOL success, unsigned long parameterId,
                                 VARIANT value) override;
  STDMETHODIMP EnsureSchemaCache(BSTR systemTag, IUnknown* frameObject) override;
  STDMETHODIMP InitForDeviceType(IUnknown* frameObject) override;
  STDMETHODIMP LoadResourceText(VARIANT textOrId, BSTR* text) override;
  STDMETHODIMP OnStateTransition(long newState, long previousState) override;
  // The audit trail switch, the data-set lock, the working copy and the
  // channels' initialisation and release are the toolkit's own
  // (data_set.cpp); they reach the DTM object's audit trail and channel
  // container through their interfaces. Online compare, upload and download
  // still answer E_NOTIMPL here.
  STDMETHODIMP SwitchAuditTrail(VARIANT on) override;
  STDMETHODIMP UploadRequest(VARIANT request) override;
  STDMETHODIMP LockDataSet(VARIANT_BOOL count) override;
  STDMETHODIMP ReleaseDataSetLock() override;
  STDMETHODIMP UnlockDataSet() override;
  STDMETHODIMP PublishState() override;
  STDMETHODIMP CompareDeviceParameters(BSTR* text, VARIANT_BOOL* equal) override;
  STDMETHODIMP CompareDeviceParametersEx(VARIANT argument, BSTR* text,
                                         VARIANT_BOOL* equal) override;
  STDMETHODIMP CreateDataCopy(VARIANT* copy) override;
  STDMETHODIMP LoadWorkingCopy(VARIANT_BOOL keep) override;
  STDMETHODIMP ReleaseDataSet() override;
  STDMETHODIMP SelectDeviceTypeVersion(IDispatch* deviceTypeDocument,
                                       VARIANT_BOOL* accepted) override;
  STDMETHODIMP EmptyOperation() override;
  STDMETHODIMP GetDataSetReference(BSTR* reference) override;
  STDMETHODIMP InitChannels() override;
  STDMETHODIMP ReleaseChannels() override;
  STDMETHODIMP AfterChannelsReleased() override;
  STDMETHODIMP AfterWorkingCopyLoaded() override;
  STDMETHODIMP ApplyExportedVariables(IDispatch* documentNode) override;
  STDMETHODIMP CheckStreamSignature(IStream* stream, VARIANT_BOOL* valid) override;

  // ---- IDtm --------------------------------------------------------------
  STDMETHODIMP SetEnvironment(BSTR systemTag, IUnknown* frameContainer,
                              VARIANT_BOOL* result) override;
  STDMETHODIMP InitNewDeviceType(BSTR deviceType, VARIANT_BOOL* result) override;
  STDMETHODIMP Config(BSTR userInformation, VARIANT_BOOL* result) override;
  // Calls the class's CheckConfiguredDevice (default: RequestAndWait).
  STDMETHODIMP SetCommunication(IUnknown* communication, VARIANT_BOOL* result) override;
  STDMETHODIMP ShutdownDtm(VARIANT_BOOL* result) override;
  // Calls the class's CheckScanInactive (default: PostReleaseRequests).
  STDMETHODIMP PrepareToReleaseCommunication(VARIANT_BOOL* result) override;
  STDMETHODIMP ReleaseCommunication(VARIANT_BOOL* result) override;
  STDMETHODIMP PrepareDelete(VARIANT_BOOL* result) override;
  STDMETHODIMP SetLanguage(long languageId, VARIANT_BOOL* result) override;
  STDMETHODIMP GetFunctions(BSTR operationPhase, BSTR* functions) override;
  STDMETHODIMP InvokeFunctionRequest(BSTR invokeId, BSTR functionCall,
                                     VARIANT_BOOL* result) override;
  STDMETHODIMP SetSharedUiFlag(VARIANT_BOOL shared, VARIANT_BOOL* result) override;

  // ---- IDtm2 -------------------------------------------------------------
  STDMETHODIMP SetEnvironment2(BSTR systemTag, IUnknown* frameContainer, BSTR frameVersion,
                               VARIANT_BOOL* result) override;
  STDMETHODIMP SetSystemGuiLabel(BSTR label, VARIANT_BOOL* result) override;

  // ---- Hooks of the DTM class (defaults) ---------------------------------
  // Language 0x400 broadcast as property 9984, CreateParameterTable(), state 1.
  HRESULT OnConstruct() override;
  HRESULT CheckConfiguredDevice(IUnknown* communication, VARIANT_BOOL* result) override;
  HRESULT CheckScanInactive(VARIANT_BOOL* result) override;
  const FunctionTableRow* GetFunctionTable() override { return nullptr; }
  const DocumentListRecord* GetDocumentList(size_t* count) override;
  const ChannelTableRow* GetChannelTable(size_t* count) override;

  // ---- Services for the other parts of the DTM ---------------------------
  LONG State() const { return state_; }
  LONG Language() const { return languageId_; }
  ULONG UserRole() const { return userRole_; }
  ULONG OperationPhase() const { return operationPhase_; }
  bool IsFdt121Frame() const { return frameIs121_ != 0; }
  bool IsReleased() const { return released_ != 0; }
  bool SharedUiFlag() const { return sharedUi_ != 0; }
  const wchar_t* SystemTagText() const { return systemTag_.get(); }
  IUnknown* FrameObject() const { return frame_.get(); }
  IFrameDtmEvents* FrameEventSink() const { return frameEvents_.get(); }
  IFrameDtmEvents2* FrameStateSink() const { return stateSink_.get(); }
  bool DataSetLocked() const { return dataSetLocked_ != 0; }
  // The frame reported the data set locked by another user (DTM events).
  bool DataSetLockedElsewhere() const { return lockedElsewhere_ != 0; }
  void SetDataSetLockedElsewhere(bool on) { lockedElsewhere_ = on ? 1 : 0; }
  // Signalled in communicationSet and online.
  HANDLE CommunicationEvent() const { return communicationEvent_.get(); }
  XmlHandlerCore& Xml() { return xml_; }
  // The data-set reference (the device-type text of the persisted data).
  void SetDataSetReference(const wchar_t* reference) {
    dataSetReference_.reset(reference ? ::SysAllocString(reference) : nullptr);
  }
  // Replaces the parameter table by the one the class declares
  // (CreateParameterTable), dropping every value, flag and private property
  // the last data set left in it.
  HRESULT RestoreDeclaredParameters();

  // User messages (ReportMessage of the thread manager) are collected until
  // the DTM first becomes initialised, then posted as request 17 in order.
  // Messages still waiting for that:
  std::vector<std::wstring> BufferedMessages() const;

  // Worker posts: PostCode, PostText, PostNumber, PostPacked of the thread
  // manager (E_FAIL without a running worker).
  // Packs an SOnlineParamData with the two texts and posts it (E_FAIL when
  // packing fails).
  HRESULT PostOnlineRequest(ULONG code, const wchar_t* operationId, const wchar_t* request);

  // The DTM object's interface iid (through GetCommDtmInterface); a missing
  // answer leaves *out null.
  HRESULT QueryDtm(REFIID iid, void** out);
  template <class I>
  com::ComPtr<I> DtmInterface() {
    com::ComPtr<I> p;
    QueryDtm(__uuidof(I), p.putVoid());
    return p;
  }

  // Details of the last communication error for the state document; null or
  // empty texts clear a detail.
  void SetCommunicationError(const wchar_t* descriptor, const wchar_t* errorCode);
  // When on, Config sends property 9991 to the channels.
  void SetChildrenChangedNotice(bool on) { childrenChanged_ = on ? 1 : 0; }
  // The longest wait for the communication event (60000 ms).
  void SetReleaseWait(DWORD ms) { releaseWait_ = ms; }
  DWORD ReleaseWait() const { return releaseWait_; }
  // The longest wait for the worker after set communication (60000 ms).
  void SetOnlineWait(DWORD ms) { onlineWait_ = ms; }

  // Reaching online for an online request (online/reach_online.cpp): in
  // communicationSet the worker is asked to go online and waited for (at
  // most the online wait), then the communication event (at most the
  // release wait). S_OK when the DTM is then online, S_FALSE when not,
  // E_FAIL when the worker did not take the request.
  HRESULT ReachOnline();

  // After a parameter of an upload or download failed: asks the user
  // through the DTM object's IevFdtActiveXContainer whether to stop (the
  // translated toolkit messages 1001 and 1002, or 1003 and 1004, with Yes
  // and No and the stop icon); true only for Yes. Without a container, or
  // when the question cannot be asked, the transfer goes on. The static
  // form asks with any DTM object: a channel asks its owner.
  static bool AskStopTransfer(IUnknown* dtmObject, TransferKind kind);
  bool AskStopTransfer(TransferKind kind) { return AskStopTransfer(GetCommDtmInterface(), kind); }

  // Set communication after the class's device check (state 8 only).
  HRESULT RequestAndWait(IUnknown* communication, VARIANT_BOOL* result);
  // Prepare release of communication after the class's scan check.
  HRESULT PostReleaseRequests(VARIANT_BOOL* result);

  // Functions. LookupFunction: E_FAIL without a table or an entry of the id.
  HRESULT LookupFunction(LONG functionId, const FunctionTableRow** entry);
  // The id at "FDT/FDTFunctionCall/@func:functionId"; E_FAIL when the
  // document does not load or has none.
  HRESULT GetFunctionId(const wchar_t* callDocument, LONG* functionId);
  // localization/DTM/FunctionList/Function[@id="<id>"]/<attribute> of the
  // translation document; without a translation interface the entry's own
  // text (label, name or help) through LoadResourceTextOf.
  HRESULT GetFunctionText(LONG functionId, const wchar_t* attribute, BSTR* text);
  // One entry's element of the functions document.
  HRESULT BuildFunctionXml(const FunctionTableRow& entry, BSTR* out);
  static HRESULT BuildFunctionCallXml(LONG functionId, BSTR* out);

  // Text or string-resource id: a value above 0xFFFF is the address of
  // 8-bit text, else an id of the module's string table (E_FAIL when absent).
  HRESULT LoadResourceTextOf(const char* textOrId, BSTR* out);

  // Cuts one token off *text: the characters before the first delimiter
  // become *token, those after it stay in *text. Without a delimiter, with
  // nothing after it, or with an empty token, *text ends empty and *last is
  // set. E_POINTER for a null text, token or flag pointer; a null delimiter
  // set or an empty text: S_OK, *last set, nothing changed.
  static HRESULT SplitString(BSTR* text, const wchar_t* delimiters, BSTR* token,
                             BOOL* last);

 protected:
  // The thread manager's hooks.
  IUnknown* ThreadManagerDtmObject() override { return GetCommDtmInterface(); }
  IUnknown* ThreadManagerFrameObject() override { return frame_.get(); }
  bool ThreadManagerFrameIs121() override { return IsFdt121Frame(); }
  bool KeepReportedMessage(const wchar_t* text) override;

  // Declares the DTM's parameter rows (called by OnConstruct).
  virtual void CreateParameterTable() {}
  // Diagnostic output of the DTM's XML handler (default: ReportMessage).
  virtual void ReportXmlMessage(const char* text);
  // Parameter relations evaluated once by Config. Default: every relation
  // list of the DTM object's parameter handler
  // (IevFdtParameterHandler4::EvaluateRelations); nothing without a handler.
  virtual HRESULT ApplyRelationsForConfig();
  // The functions document body (the elements of the function list). The
  // default asks the function container (IevFdtActiveXContainer) when the
  // object answers it, else builds the elements of the function table.
  virtual HRESULT FunctionListBody(BSTR* body);
  // Open controls of the function container (IevFdtOpenControls of the DTM
  // object; none without a container), and closing those that are not
  // bookkeeping records (false when one refused).
  ULONG OpenControlCount();
  bool CloseClosableControls();
  // The document folder of the DTM's documents (default: the module's folder).
  virtual HRESULT DocumentFolder(BSTR* folder);
  // Runs a table action (default: calls it as a DtmFunctionAction).
  virtual HRESULT RunFunctionAction(const FunctionTableRow& entry, VARIANT_BOOL* success);

  // Data-set reference and lock bookkeeping (used by persistence and the
  // data-set lock).
  com::Bstr dataSetReference_;
  ULONG dataSetLockCount_ = 0;
  BYTE dataSetLocked_ = 0;
  BYTE unlockPending_ = 0;
  BYTE lockedElsewhere_ = 0;

 private:
  static void ForwardXmlReport(void* self, const char* text);
  HRESULT StoreFrame(IUnknown* frameObject);
  void DropFrame();
  void FlushBufferedMessages();
  HRESULT ClearInitialValues();
  HRESULT ApplyUserRole(IXMLDOMNode* document);
  HRESULT ValidateAllParameters();
  HRESULT LoadDocument(const wchar_t* xml, IXMLDOMDocument2** doc);
  HRESULT SetChannelsProperty(ULONG key, const VARIANT& value);

  LONG state_ = kDtmCreated;
  com::Bstr systemTag_;
  com::ComPtr<IUnknown> frame_;
  com::ComPtr<IFrameDtmEvents> frameEvents_;
  com::ComPtr<IFrameDtmEvents2> stateSink_;
  LONG frameIs121_ = 0;
  ULONG userRole_ = kRoleObserver;
  ULONG operationPhase_ = kPhaseNotSupported;
  LONG languageId_ = 0x400;
  LONG sharedUi_ = 0;
  win32::UniqueHandle communicationEvent_;
  DWORD releaseWait_ = 60000;
  DWORD onlineWait_ = 60000;
  BYTE bufferMessages_ = 1;
  std::vector<std::wstring> bufferedMessages_;
  com::Bstr errorDescriptor_;
  com::Bstr errorCode_;
  BYTE released_ = 0;
  BYTE childrenChanged_ = 0;
  XmlHandlerCore xml_;
};

// A counted data-set lock held for one operation: asked for at construction
// (LockDataSet with counting) and given back when the hold goes, on every
// path. Requested() is false when the request itself failed (then there is
// nothing to give back); Granted() tells whether the frame granted the lock.
class DataSetLockHold {
 public:
  explicit DataSetLockHold(BaseDtm& dtm)
      : dtm_(dtm), requested_(SUCCEEDED(dtm.LockDataSet(VARIANT_TRUE))) {}
  ~DataSetLockHold() {
    if (requested_) dtm_.ReleaseDataSetLock();
  }
  DataSetLockHold(const DataSetLockHold&) = delete;
  DataSetLockHold& operator=(const DataSetLockHold&) = delete;
  bool Requested() const { return requested_; }
  bool Granted() const { return requested_ && dtm_.DataSetLocked(); }

 private:
  BaseDtm& dtm_;
  const bool requested_;
};

// BaseDtm on the DTM class T (a com::ObjectRoot that lists the interfaces).
// T's finalConstruct calls OnConstruct once its other parts are built.
template <class T>
class CevFDT_BaseDTMImpl : public BaseDtm {
 public:
  // The DTM object itself; the toolkit asks it for the other interfaces.
  IUnknown* GetCommDtmInterface() override { return Dtm().controllingUnknown(); }

 protected:
  T& Dtm() { return *static_cast<T*>(this); }
};
