// CHART_Channel: the DTM's HART communication channel.
//
// Device DTMs send FDT communication requests (connect, disconnect,
// transaction, abort) to it on their own threads; the channel parses each
// into a request record, marshals the caller's callback, and queues the
// record to its worker thread, which owns the adapter: it binds
// modemapi.dll, opens the adapter, sends HART frames, waits for the answers
// that the library's receive callback stores, and answers through the
// callback with FDT documents.
//
// Threads:
// - apartment thread (where the channel was made): COM calls, parsing,
//   queueing; it waits for the worker only while starting and stopping it,
//   serving its messages meanwhile;
// - worker thread (its own STA): attach, detach, requests, channel events;
// - the library's message-handler thread: OnReceive only (offers the entry
//   to the reply slot, which keeps only a reply to the frame on the line,
//   and wakes the worker when it kept one).
// The worker calls into the apartment only through the owner link and, for
// a request whose callback it cannot take, the apartment call that answers
// it there (com/ApartmentCall.h).
// No lock is held while the channel calls the library or another object.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "channel/child_table.h"
#include "channel/connections.h"
#include "channel/found_devices.h"
#include "channel/reply_slot.h"
#include "channel/requests.h"
#include "channel/scan_documents.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/GlobalInterface.h"
#include "com/Marshalled.h"
#include "com/Object.h"
#include "fdt.h"
#include "hartcommdtm.h"
#include "channel/channel_texts.h"
#include "modem/adapter_claim.h"
#include "modem/modem_binding.h"
#include "toolkit.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/xml/channel_translation.h"
#include "toolkit/xml/xml_handler.h"
#include "win32/unique_handle.h"

namespace hartdtm {

// Thread messages of the channel's worker.
enum ChannelThreadMessage : UINT {
  TM_EXECUTE_REQUEST = 0x464,  // wParam RequestType, lParam request record
  TM_ATTACH = 0x465,
  TM_NOP = 0x467,
  TM_DETACH = 0x468,
  TM_DEFERRED_CALL = 0x469,  // lParam channel-event record
};

// Channel events (ids of OnChannelEvent).
enum ChannelEventId : ULONG {
  CHANNEL_EVENT_START_SCAN = 1036,
  CHANNEL_EVENT_DRIVER_ERROR = 1037,
  CHANNEL_EVENT_SCAN_REQUEST = 1040,
  CHANNEL_EVENT_BURST_FRAME = 1041,
  kEventLanguage = 9984,
  kEventGoingOnline = 9986,
  kEventOwnerUnknown = 9987,
  kEventUserLevel = 9988,
  kEventAbortAll = 9989,
  kEventRemoveConnection = 9990,
  CHANNEL_EVENT_CHILDREN_CHANGED = 9991,
  kEventFrameVersion = 10006,
  // The channel's own: an address change for the worker (VT_UNKNOWN job of
  // ChangeAddress). Never taken from outside the channel.
  kEventChangeAddress = 10101,
};

enum ChannelState : LONG {
  kChannelDetached = 0,
  kChannelAttaching = 1,
  kChannelAttached = 2,
  kChannelRefusing = 4,
};

// Parameter ids the channel reads from its DTM or declares itself.
enum ChannelParameterId : ULONG {
  kParDeviceNumber = 1000,
  kParPrimaryMaster = 1001,
  kParPreambleCount = 1002,
  kParRetryCount = 1003,
  kParLastScanTime = 1004,
  kParChannelName = 1009,
  kParChangeCounter = 1010,
  kParMaxScanAddress = 1015,
};

// DTM event that shows a text to the user as a message of the DTM.
constexpr LONG kDtmEventUserMessage = 16;

// The FDT HART protocol, the one protocol of the channel.
extern const GUID kHartProtocolId;  // {036D1498-387B-11D4-86E1-00E0987270B9}

class CHART_Channel : public com::ObjectRoot,
                      public com::DispatchImpl<IHART_Channel>,
                      public com::DispatchImpl<IevFdtBaseChannel>,
                      public com::DispatchImpl<IFdtCommunication>,
                      public com::DispatchImpl<IFdtChannel>,
                      public com::DispatchImpl<IFdtFunctionBlockData>,
                      public com::DispatchImpl<IFdtChannelSubTopology>,
                      public com::DispatchImpl<IFdtChannelScan>,
                      public com::DispatchImpl<IFdtChannelSubTopology2>,
                      public IPersistStreamInit,
                      public IevFdtOwnedChannel,
                      public IevFdtChannelText,
                      public CevFDT_ParameterHandlerImpl<CHART_Channel>,
                      public CevFDT_ChannelTranslationImpl<CHART_Channel> {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();
  void finalRelease();

  CHART_Channel();
  ~CHART_Channel();

  // --- IevFdtBaseChannel ---
  STDMETHODIMP GetConnectionCount(VARIANT* count) override;
  STDMETHODIMP Initialize(IUnknown* ownerDtm) override;
  STDMETHODIMP SetOwner(IUnknown* frameContainer) override;

  // --- IevFdtOwnedChannel (the owner holds this channel, not the reverse) ---
  void STDMETHODCALLTYPE OwnerGone() override;
  // --- IevFdtChannelText (the channel's text lookup, channel_texts.h) ---
  STDMETHODIMP LoadResourceString(ULONG_PTR key, BSTR* text) override;
  STDMETHODIMP SetChannelTag(BSTR tag) override;
  STDMETHODIMP StopWorker(VARIANT_BOOL* stopped) override;
  STDMETHODIMP StartWorker() override;
  STDMETHODIMP PostChannelEvent(VARIANT key, VARIANT value) override;
  STDMETHODIMP ChannelRequest(VARIANT key, VARIANT value) override;
  STDMETHODIMP GetChannelId(VARIANT* channelId) override;
  STDMETHODIMP GetChannelTag(BSTR* tag) override;
  STDMETHODIMP GetChannelValue(long* value) override;

  // --- IFdtCommunication ---
  STDMETHODIMP Abort(BSTR communicationReference) override;
  STDMETHODIMP ConnectRequest(IChildCommunicationEvents* callback, BSTR invokeId, BSTR protocolId,
                              BSTR fieldbusFrame, VARIANT_BOOL* result) override;
  STDMETHODIMP DisconnectRequest(BSTR invokeId, BSTR fieldbusFrame, VARIANT_BOOL* result) override;
  STDMETHODIMP TransactionRequest(BSTR invokeId, BSTR fieldbusFrame, VARIANT_BOOL* result) override;
  STDMETHODIMP GetSupportedProtocols(BSTR* protocols) override;
  STDMETHODIMP SequenceBegin(BSTR fieldbusFrame, VARIANT_BOOL* result) override;
  STDMETHODIMP SequenceStart(BSTR fieldbusFrame, VARIANT_BOOL* result) override;
  STDMETHODIMP SequenceEnd(BSTR fieldbusFrame, VARIANT_BOOL* result) override;

  // --- IFdtChannel ---
  STDMETHODIMP GetChannelPath(BSTR* path) override;
  STDMETHODIMP GetChannelParameters(BSTR parameterPath, BSTR protocolId, BSTR* document) override;
  STDMETHODIMP SetChannelParameters(BSTR parameterPath, BSTR protocolId, BSTR document,
                                    VARIANT_BOOL* result) override;

  // --- IFdtFunctionBlockData ---
  STDMETHODIMP GetFailSafeData(BSTR functionBlock, BSTR* document) override;

  // --- IHART_Channel: found devices, device-list scan, address change and
  // name (channel_scan.cpp); child DTMs (channel_children.cpp) ---
  STDMETHODIMP GetNumberOfDevices(long* plDevCount) override;
  STDMETHODIMP GetDeviceInfo(long lDevNum, unsigned char* pbyPollAddress, long* pbInUse,
                             BSTR* pbsTag, BSTR* pbsManufacturer, BSTR* pbsDevType,
                             unsigned char* pbyDeviceType, long* plDeviceID,
                             unsigned char* pbyHardwareRevision,
                             unsigned char* pbySoftwareRevision) override;
  STDMETHODIMP StartScan() override;
  STDMETHODIMP StopScan() override;
  STDMETHODIMP IsScanFinished(long* pbFinished, long* plDevCount) override;
  STDMETHODIMP ChangeAddress(unsigned char byFromAddress, unsigned char byToAddress) override;
  STDMETHODIMP GetChildDtmCount(unsigned long* pulCount) override;
  STDMETHODIMP GetChildDtmInfoByIndex(unsigned long ulIndex, BSTR* pbsSystemTag, BSTR* pbsDtmTag,
                                      unsigned char* pbyAddress) override;
  STDMETHODIMP GetChildDtmInfoBySysTag(BSTR bsSystemTag, BSTR* pbsDtmTag,
                                       unsigned char* pbyAddress) override;
  STDMETHODIMP SetDeviceDtmInfo(BSTR bsSystemTag, unsigned char byAddress, BSTR bsTag) override;
  STDMETHODIMP ChildDtmChanged(BSTR bsSystemTag) override;
  STDMETHODIMP UpdateChildList() override;
  STDMETHODIMP GetChannelName(BSTR* pbsChannelName) override;

  // --- IFdtChannelSubTopology: ScanRequest is the topology scan
  // (channel_scan.cpp); the child methods are in channel_children.cpp ---
  STDMETHODIMP ScanRequest(BSTR invokeId, VARIANT_BOOL* result) override;
  STDMETHODIMP ValidateAddChild(BSTR childSystemTag, VARIANT_BOOL* result) override;
  STDMETHODIMP ValidateRemoveChild(BSTR childSystemTag, VARIANT_BOOL* result) override;
  STDMETHODIMP OnAddChild(BSTR childSystemTag) override;
  STDMETHODIMP OnRemoveChild(BSTR childSystemTag) override;

  // --- IFdtChannelScan (channel_fdt_scan.cpp) ---
  STDMETHODIMP ScanRequest(BSTR invokeId, BSTR request, VARIANT_BOOL* result) override;
  STDMETHODIMP CancelAction(BSTR invokeId, VARIANT_BOOL* result) override;
  // --- IFdtChannelSubTopology2 (channel_addresses.cpp) ---
  STDMETHODIMP SetChildrenAddresses(BSTR deviceList, BSTR* result) override;

  // --- IPersistStreamInit (channel_persist.cpp): parameters, child table,
  // property map ---
  STDMETHODIMP GetClassID(CLSID* classId) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(IStream* stream) override;
  STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;

  // --- child DTMs (channel_children.cpp) ---
  // The child table's stream form: count VT_UI4, then per entry address
  // VT_UI1, system tag BSTR, DTM tag BSTR. The load reads into a new table
  // and changes nothing unless every record was read.
  HRESULT SaveChildList(IStream* stream);
  HRESULT LoadChildList(IStream* stream, std::vector<ChildDtmEntry>* table);
  const ChildLists& Children() const { return children_; }

  // --- hooks of the toolkit parts ---
  static const wchar_t* const* XmlSchemaFiles();
  // The XML handler of the calling thread: MSXML objects belong to the
  // apartment that made them, so the worker loads its documents with a
  // handler of its own (made on first use there, released with the
  // worker's other interfaces).
  XmlHandlerCore& Xml();
  void ReportXmlMessage(const char* text);
  // The owning DTM (the parameter handler's owner), held while used: the
  // apartment's pointer, or on the worker what the owner link answers; null
  // once the DTM is gone.
  com::ComPtr<IUnknown> GetCommDtmInterface();

  // --- texts ---
  // The user message of an id: the owner's translation by id, then by
  // name, then the built-in table. E_INVALIDARG without out pointer or with
  // neither name nor id; E_FAIL when no text exists.
  HRESULT GetUserMessage(UINT id, const wchar_t* name, BSTR* text);
  // The name and description of the parameter at index (of info) from the
  // owner's translation, under localization/ChannelList/Channel/
  // ParameterList/Parameter[@parId="<id>"]; a text the translation lacks
  // stays as it was. S_FALSE without the owner's translation
  // (channel_texts.cpp).
  HRESULT LoadParameterTexts(IevFdtParameterInfo* info, ULONG index);
  // The message of a library status code; nothing for status 0.
  HRESULT ReportDriverError(unsigned status, BSTR* text);

  // --- what tests and the DTM look at ---
  LONG State() const { return ::InterlockedCompareExchange(const_cast<LONG*>(&channelState_), 0, 0); }
  bool WorkerStarted() const { return workerStarted_ != 0; }
  DWORD WorkerThreadId() const { return threadId_; }
  size_t FoundDeviceCount() const { return found_.Count(); }
  bool FoundDevice(size_t index, HartDeviceEntry* out) const { return found_.CopyAt(index, out); }
  size_t RunningChannelScans() const { return scanCancels_.Count(); }

  // The library's message callback (user pointer: the channel).
  static void __cdecl ReceiveCallback(uint8_t deviceNumber, void* user);

  // Binds a library double under this file name instead of modemapi.dll
  // (before StartWorker).
  void UseLibraryName(const wchar_t* name);

 private:
  struct Subscription {
    ConnRef connection;
    com::Bstr invokeId;
    hart::LongAddress address;
  };
  struct ChannelEventRecord {
    ULONG id = 0;
    com::Variant value;
  };

  // --- worker thread (channel_worker.cpp) ---
  static DWORD WINAPI ThreadProc(void* self);
  void RunMessageLoop();
  void HandleWorkerMessage(const MSG& msg);
  // A message left in the queue when the loop ended: its record is freed
  // and whoever waits for it is answered.
  void DropWorkerMessage(const MSG& msg);
  HRESULT StartThread();
  void StopThread();
  // The worker thread's handle, duplicated for a pumped wait of the
  // caller's own: a call served meanwhile may stop the worker and close the
  // channel's handle. Empty without a worker or when it cannot be copied.
  win32::UniqueHandle WorkerWaitHandle() const;
  HRESULT StopWorkerThread();
  bool OnWorkerThread() const { return ::GetCurrentThreadId() == threadId_; }
  void HandleAttach();
  void HandleDetach();
  HRESULT OnWorkerAttach();
  HRESULT OnWorkerDetach();
  HRESULT OpenDevice();
  void CloseAdapter();
  void OnReceive(uint8_t deviceNumber);
  HRESULT PostEvent(ULONG id, const VARIANT& value);
  HRESULT OnChannelEvent(ULONG id, VARIANT& value);
  void OnDriverError();
  void AbortAllConnections();
  void RemoveConnectionOnWorker(const wchar_t* reference);
  void DropWorkerInterfaces();
  // A connection the worker closed (or never opened) gives back the
  // worker's proxy of its callback here, on the worker.
  void ForgetClosedConnection(CHART_ChanConn* connection);
  // The owner went without stopping the worker: the worker is told to end,
  // and this channel keeps itself until it has (see OwnerGone).
  void LetWorkerEnd();
  void GiveBackEndReference();
  // Posts to the worker's message loop while it runs. Once the loop has
  // ended nothing is posted: the thread is about to go, and its id may then
  // be given to another thread.
  bool PostToWorkerQueue(UINT message, WPARAM wParam, LPARAM lParam) const;
  bool WorkerLoopEnded() const;
  // One message of the worker's queue, handled as the loop handles it.
  void ServeWorkerMessage(const MSG& msg);
  // Whether the worker has been told to end (a stop, or the owner gone):
  // long waits and scans end at once then.
  bool WorkerEnding() const;
  // The worker's next message in its order: first those a burst check
  // put aside, then the thread's queue. False at WM_QUIT (or when the
  // queue fails).
  bool NextWorkerMessage(MSG* msg);
  // The burst check's wait (CheckBurstMode) for a burst frame of the
  // connection's device: true when the time has passed, false when
  // something that must not wait for it cut it short (see the definition).
  bool WaitForBurstFrames(const CHART_ChanConn& connection, DWORD milliseconds);
  bool EndsBurstCheck(const MSG& msg, const CHART_ChanConn& connection) const;
  template <class I>
  HRESULT Owner(com::ComPtr<I>& out);
  HRESULT ReportToOwner(const wchar_t* text);
  HRESULT ReportToFrame(const wchar_t* text);
  HRESULT ReadOwnerParameter(ULONG id, VARTYPE vt, VARIANT* out);
  // The owning DTM's state (IevFdtBaseDTM); E_NOINTERFACE without it.
  HRESULT OwnerDtmState(long* state);

  // --- requests (channel_requests.cpp) ---
  // A document the frame or a child DTM hands the channel, loaded against
  // the schemas and ready for queries; E_FAIL when it does not load.
  HRESULT LoadRequestDocument(BSTR xml, IXMLDOMDocument2** doc);
  HRESULT PostRequest(RequestType type, baseRequestInfo* record);
  // A disconnect or transaction request: its document read into a Record
  // and handed to the worker; *result tells whether the worker took it.
  template <class Record>
  HRESULT PostConnectionRequest(RequestType type, BSTR invokeId, BSTR fieldbusFrame,
                                VARIANT_BOOL* result);
  bool IsSupportedProtocol(const GUID& protocol) const;
  bool RefusesRequests() const;
  void ExecuteRequest(RequestType type, baseRequestInfo* record);
  void RunRequest(RequestType type, baseRequestInfo& record);
  HRESULT ExecuteConnect(HARTConnectRequestInfo& request, BSTR* answer);
  HRESULT ExecuteDisconnect(HARTDisconnectRequestInfo& request, BSTR* answer);
  HRESULT ExecuteAbort(baseRequestInfo& request);
  HRESULT SendResponse(RequestType type, IChildCommunicationEvents* callback, bool fdt121Peer, BSTR invokeId,
                       BSTR answer);
  // A request whose callback the worker could not take (it did not
  // unmarshal): its answer goes to the apartment, which answers through the
  // callback as it was given there. Worker.
  void AnswerThroughApartment(RequestType type, baseRequestInfo& record, HRESULT failure);
  // Apartment: delivers those answers (invoked by the worker).
  void DeliverFromApartment();
  // Apartment: lets go of callbacks kept for connects whose callback the
  // worker has taken, or that are gone.
  void ForgetSettledCallbacks();
  // Advances the change counter (parameter 1010) that connections and child
  // changes count; a counter that cannot be read as a number is left alone.
  HRESULT IncreaseChangeCount();
  bool IsSubscribed(const CHART_ChanConn* connection) const;
  void DropSubscription(const CHART_ChanConn* connection);

  // --- frames and transactions (channel_frames.cpp) ---
  HRESULT SendShortFrameCommand0(uint8_t pollingAddress, uint8_t preambles);
  HRESULT SendLongFrame(uint8_t command, const hart::LongAddress& address, uint8_t preambles,
                        size_t count, const uint8_t* data);
  HRESULT SendFrame(const std::vector<uint8_t>& frame, uint8_t preambles);
  HRESULT ReceiveResponse(uint8_t* length, uint8_t* buffer);
  // How long ReceiveResponse waits for a reply.
  DWORD ReceiveTimeoutMs() const;
  HRESULT ExecuteTransaction(HARTTransactRequestInfo& request, CHART_ChanConn& connection, BSTR* answer);
  HRESULT Subscribe(HARTTransactRequestInfo& request, CHART_ChanConn& connection, BSTR* answer);
  HRESULT Unsubscribe(HARTTransactRequestInfo& request, CHART_ChanConn& connection, BSTR* answer);
  // Whether the connection's device bursts; Unknown when the check was
  // cut short (a stop, the owner's end, an abort, a disconnect).
  enum class BurstMode { Off, On, Unknown };
  BurstMode CheckBurstMode(CHART_ChanConn& connection);
  HRESULT OnBurstFrame(const VARIANT& value);
  HRESULT BuildBurstResponse(const Subscription& subscription, uint8_t command, const uint8_t* fromStatus,
                             size_t count);
  HRESULT ChannelError(BSTR* answer, int index, UINT messageId, HRESULT code);

  // --- identification (channel_frames.cpp) ---
  HRESULT IdentifyDevice(CHART_ChanConn& connection, HARTConnectRequestInfo& request);
  HRESULT StoreDeviceIdentity(uint8_t pollingAddress, const Command0Answer& identity, HartDeviceEntry* out);
  // What a scan does while a poll's request and its answer or time-out
  // cross the line (about 0.1 to 0.3 s at 1200 bit/s): the progress report
  // and the scan time of a device found by the poll before, calls into the
  // owner that then cost the scan no time of its own.
  struct WhileOnTheLine {
    short percent = 0;
    bool stampScanTime = false;  // cleared once stamped
  };
  // Command 0 to the polling address, then the found device's identity.
  HRESULT PollAddress(uint8_t pollingAddress, HartDeviceEntry* out, WhileOnTheLine& meanwhile);
  void DoWhileOnTheLine(WhileOnTheLine& meanwhile);
  HRESULT UnpackPackedAscii(uint8_t count, const uint8_t* bytes, BSTR* text);
  void StampScanTime();

  // --- scans and address change (channel_scan.cpp, channel_fdt_scan.cpp) ---
  class AddressChangeJob;
  bool IsScanEvent(ULONG id) const;
  HRESULT OnScanEvent(ULONG id, VARIANT& value);
  HRESULT WriteScanActive(bool active);
  void GetScanDisplayString();
  // False when the worker's end cut the scan short.
  bool RunDeviceListScan();
  HRESULT ExecuteTopologyScan(baseRequestInfo& request);
  HRESULT ChangeAddressOnWorker(uint8_t from, uint8_t to);
  HRESULT ExecuteScan(const VARIANT& value);
  void DropScanRequest(const VARIANT& value);
  void DropAddressChange(const VARIANT& value);
  HRESULT BuildScanAddressList(std::vector<uint8_t>* addresses, ScanIdentificationList* list,
                               const ScanRequestRecord& request);
  HRESULT GetScanRangeFromGui(uint8_t* start, uint8_t* end);
  HRESULT ScanAddresses(const ScanRequestRecord& request, const wchar_t* invokeId, IDispatch* scanEvents);
  HRESULT SendScanResult(IDispatch* scanEvents, const wchar_t* invokeId, const ScanIdentificationList& list);

  win32::UniqueHandle scanStopEvent_;  // manual reset: StopScan
  win32::UniqueHandle scanDoneEvent_;  // auto reset: a StartScan scan ended
  std::wstring scanDisplayText_;       // worker
  ScanCancelList scanCancels_;
  // --- child DTMs (channel_children.cpp, channel_addresses.cpp) ---
  HRESULT Topology(com::ComPtr<IFrameTopology>& out);
  // *tagRead (when given) tells whether the DTM tag was read, also when the
  // address was not.
  HRESULT ReadChildDtmInfo(const wchar_t* systemTag, std::wstring* dtmTag, uint8_t* address,
                           bool* tagRead = nullptr);
  HRESULT SupportsDeviceTypeProtocol(IUnknown* deviceDtm, bool* supported);
  HRESULT AddChildFromDtm(const wchar_t* systemTag);
  HRESULT ReadFrameChildList(std::vector<std::wstring>* tags);
  HRESULT OnChildrenChanged();
  HRESULT MarkModified(bool modified);
  HRESULT TellControls(LONG property, const wchar_t* systemTag);
  std::wstring ChannelPathText() const;

  // --- channel parameter audit (channel_parameter_audit.cpp) ---
  HRESULT AuditParameterChange(const wchar_t* name, const VARIANT& oldValue, const VARIANT& newValue,
                               const wchar_t* eventText);
  HRESULT OnParamAuditEntry(const wchar_t* name, const VARIANT& oldValue, const VARIANT& newValue,
                            const wchar_t* descriptor) override;

  // --- download of the channel's parameters (channel_download.cpp) ---
  // The handler's download request: while the owner DTM is online, every
  // parameter of GetParInfoList is written through StoreParameter (a byte
  // array held as hexadecimal text as its bytes), with progress notices
  // titled "Download"; a failed parameter is reported as "<name>: <error
  // text>" and the owner asks the user whether to stop. *done only when
  // every parameter was written. E_NOINTERFACE without the owner's
  // IevFdtBaseDTM, E_ABORT after an abort, E_FAIL when not online.
  HRESULT OnParamDownloadRequest(const VARIANT& request, VARIANT_BOOL* done) override;
  // One parameter: the value written becomes its device value; once written
  // it is no longer marked to be downloaded (flag 0x2). *record is the
  // descriptor as read before the write.
  HRESULT DownloadParameter(ULONG parameterId, ParInfo* record);
  // The text of an error code: the frame's (ITransferGroupProvider), else
  // the code as "%08X".
  com::Bstr ErrorCodeText(HRESULT code);

  CevFDTXMLHandlerImpl<CHART_Channel> xml_;            // apartment
  std::unique_ptr<CevFDTXMLHandlerImpl<CHART_Channel>> workerXml_;  // worker
  std::wstring workerSchemaFolder_;  // the apartment's, for the worker's handler

  // Channel information.
  com::Bstr vendor_;
  com::Bstr versionDate_;
  com::Bstr channelName_;
  ULONG languageId_ = 1033;
  ULONG userLevel_ = 0;
  ULONG channelNumber_ = 0;
  com::Bstr channelTag_;
  com::Bstr ownerSystemTag_;
  com::Bstr channelParameterDocument_;

  // Owner and frame as the apartment holds them. The owning DTM is held
  // without a reference (it holds this channel through its container) and
  // cleared by OwnerGone. The worker reaches it only through a link that
  // holds no reference either (com/ObjectLink.h), cleared with owner_.
  IUnknown* owner_ = nullptr;
  com::ComPtr<IDispatch> ownerLink_;
  com::ComPtr<IFrameContainer> frame_;

  LONG workerStarted_ = 0;
  LONG channelState_ = kChannelDetached;
  mutable LONG frameFdtVersion_ = 0;  // 1: an FDT 1.2.1 frame; set on either thread
  LONG FrameFdtVersion() const { return ::InterlockedCompareExchange(&frameFdtVersion_, 0, 0); }
  win32::UniqueHandle abortDoneEvent_;  // the worker's own duplicate
  bool driverErrorReported_ = false;    // once per attach

  // Adapter settings (read at the device start).
  bool primaryMaster_ = false;
  uint8_t deviceNumber_ = 0;
  uint8_t maxScanAddress_ = 15;
  uint8_t preambleCount_ = 5;
  uint8_t retryCount_ = 50;
  DWORD perTryMs_ = 2000;
  bool adapterOpen_ = false;
  AdapterClaim adapterClaim_;  // the device number, while the adapter is open

  // The reply to the request on the line, shared with the library's
  // message-handler thread, which also keeps the last burst frame's address
  // and time under the receive lock.
  ReplySlot replies_;
  win32::CriticalSection receiveLock_;
  hart::LongAddress lastBurstAddress_{};
  double lastBurstTime_ = 0;  // automation date, local time; 0: none yet

  CHartDriverApi binding_;
  win32::UniqueHandle responseEvent_;
  win32::UniqueHandle statusByteEvent_;
  win32::UniqueHandle receiveFailedEvent_;

  std::vector<Subscription> subscriptions_;  // worker only
  // Worker: thread messages a burst check took out of the queue that wait
  // their turn, oldest first (NextWorkerMessage).
  std::deque<MSG> deferred_;
  FoundDeviceTable found_;
  CevFDT_ConnectionMgr connections_;
  ChildLists children_;
  LONG dirty_ = 0;

  // Worker.
  win32::UniqueHandle thread_;
  DWORD threadId_ = 0;
  win32::UniqueHandle startedEvent_;
  win32::UniqueHandle attachDoneEvent_;
  com::MarshalledInterface ownerLinkStream_;
  com::MarshalledInterface frameStream_;
  // The worker's way back into this apartment (com/ApartmentCall.h), and
  // what it hands over there: answers it could not send, for the callbacks
  // kept here as the connects gave them.
  com::ComPtr<IDispatch> apartmentCall_;
  com::MarshalledInterface apartmentCallStream_;
  com::ComPtr<IDispatch> workerApartmentCall_;
  struct KeptCallback {
    ConnRef connection;
    com::ComPtr<IChildCommunicationEvents> callback;
  };
  std::vector<KeptCallback> keptCallbacks_;  // apartment
  struct UndeliveredAnswer {
    ConnRef connection;
    RequestType type = kRequestConnect;
    com::Bstr invokeId;
    com::Bstr answer;
  };
  win32::CriticalSection undeliveredLock_;
  std::vector<UndeliveredAnswer> undelivered_;
  // The frame's sinks, queried here by their own dispatch interfaces and
  // taken by the worker under the same ones (toolkit/values/frame_events.h):
  // IFrameDtmEvents, and IFrameScanEvents for a frame of FDT 1.2.1. Entered
  // while the worker starts, revoked once it has stopped.
  com::GlobalInterface frameEventsEntry_;
  com::GlobalInterface scanEventsEntry_;
  com::ComPtr<IDispatch> workerOwnerLink_;
  com::ComPtr<IFrameContainer> workerFrame_;
  com::ComPtr<IDispatch> workerFrameEvents_;  // IFrameDtmEvents (worker)
  com::ComPtr<IDispatch> workerScanEvents_;   // IFrameScanEvents (worker)
  // Set by a stop or by LetWorkerEnd, reset when a worker starts.
  win32::UniqueHandle workerEndingEvent_;
  // The reference LetWorkerEnd hands to the worker (GiveBackEndReference).
  enum : LONG { kNoReferenceHandedOver = 0, kReferenceHandedOver = 1, kWorkerGone = 2 };
  LONG endReference_ = kNoReferenceHandedOver;
  LONG workerLoopEnded_ = 0;  // set by the worker as its loop ends
  bool attachSucceeded_ = false;
  win32::CriticalSection stopLock_;
};

// The owner's interface I, held while used (on the worker thread, through
// the owner link).
template <class I>
HRESULT CHART_Channel::Owner(com::ComPtr<I>& out) {
  const com::ComPtr<IUnknown> owner = GetCommDtmInterface();
  if (!owner) {
    out = nullptr;
    return E_NOINTERFACE;
  }
  return out.queryFrom(owner.get());
}

// The current local time as an automation date.
double CurrentVariantTime();

}  // namespace hartdtm
