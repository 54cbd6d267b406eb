// CHART_Channel: IFdtCommunication requests, their execution on the worker,
// the supported protocols, IFdtChannel, the found-device table's interface
// and the channel's texts.
#include <comcat.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "channel/answer_documents.h"
#include "channel/hart_channel.h"
#include "com/ApartmentCall.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/xml/xml_dom.h"

namespace hartdtm {

// ---- IFdtCommunication ----------------------------------------------------------

HRESULT CHART_Channel::LoadRequestDocument(BSTR xml, IXMLDOMDocument2** doc) {
  if (!xml || !doc) return E_INVALIDARG;
  com::ComPtr<IXMLDOMDocument2> loaded;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = Xml().LoadXMLDocument(xml, loaded.put(), &ok);
  if (FAILED(hr)) return hr;
  if (!ok || !loaded) return E_FAIL;
  PrepareRequestDocument(loaded.get());
  *doc = loaded.detach();
  return S_OK;
}

STDMETHODIMP CHART_Channel::ConnectRequest(IChildCommunicationEvents* callback, BSTR invokeId,
                                           BSTR protocolId, BSTR fieldbusFrame, VARIANT_BOOL* result) {
  if (result) *result = VARIANT_FALSE;
  if (!callback || !invokeId || !protocolId || !fieldbusFrame || !result) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    ForgetSettledCallbacks();
    if (!workerStarted_ || RefusesRequests()) return S_OK;
    UUID uuid;
    if (!ParseGuidText(invokeId, &uuid)) return S_OK;
    if (!ParseGuidText(protocolId, &uuid) || !IsSupportedProtocol(uuid)) return S_OK;
    com::ComPtr<IXMLDOMDocument2> doc;
    if (FAILED(LoadRequestDocument(fieldbusFrame, doc.put()))) return S_OK;

    ConnRef connection = CHART_ChanConn::Create();
    if (FAILED(connection->CreateReference())) return S_OK;
    std::unique_ptr<HARTConnectRequestInfo> record(new HARTConnectRequestInfo);
    // A connect that fails anywhere drops the new connection with its record.
    if (FAILED(record->Initialize(invokeId, connection, doc.get()))) return S_OK;
    connection->SetGivenCallback(callback);
    com::ComPtr<IChildCommunicationEvents2> second;
    connection->fdt121Peer = SUCCEEDED(second.queryFrom(callback)) && second;
    // Kept here as well until the worker has taken its own: a callback that
    // does not unmarshal there is answered from here.
    keptCallbacks_.push_back(KeptCallback{connection, com::ComPtr<IChildCommunicationEvents>(callback)});
    if (FAILED(PostRequest(kRequestConnect, record.get()))) {
      keptCallbacks_.pop_back();
      return S_OK;
    }
    record.release();
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

// After an unplug, a driver error or an abort of all connections the worker
// executes no request until the adapter is opened again. A request taken
// then would never be answered, so the entry points refuse it as they
// refuse any request they cannot queue (a false result). Topology scans do
// not fall under this and run.
bool CHART_Channel::RefusesRequests() const { return State() == kChannelRefusing; }

template <class Record>
HRESULT CHART_Channel::PostConnectionRequest(RequestType type, BSTR invokeId, BSTR fieldbusFrame,
                                             VARIANT_BOOL* result) {
  if (result) *result = VARIANT_FALSE;
  if (!invokeId || !fieldbusFrame || !result) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    ForgetSettledCallbacks();
    if (!workerStarted_ || RefusesRequests()) return S_OK;
    UUID uuid;
    if (!ParseGuidText(invokeId, &uuid)) return S_OK;
    com::ComPtr<IXMLDOMDocument2> doc;
    if (FAILED(LoadRequestDocument(fieldbusFrame, doc.put()))) return S_OK;
    std::unique_ptr<Record> record(new Record);
    if (FAILED(record->Initialize(invokeId, doc.get(), connections_))) return S_OK;
    if (FAILED(PostRequest(type, record.get()))) return S_OK;
    record.release();
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::DisconnectRequest(BSTR invokeId, BSTR fieldbusFrame, VARIANT_BOOL* result) {
  return PostConnectionRequest<HARTDisconnectRequestInfo>(kRequestDisconnect, invokeId, fieldbusFrame,
                                                          result);
}

STDMETHODIMP CHART_Channel::TransactionRequest(BSTR invokeId, BSTR fieldbusFrame, VARIANT_BOOL* result) {
  return PostConnectionRequest<HARTTransactRequestInfo>(kRequestTransaction, invokeId, fieldbusFrame,
                                                        result);
}

STDMETHODIMP CHART_Channel::Abort(BSTR communicationReference) {
  return com::guard([&]() -> HRESULT {
    ForgetSettledCallbacks();
    if (!communicationReference || !workerStarted_) return S_FALSE;
    com::Bstr reference;
    com::ComPtr<IXMLDOMDocument2> doc;
    if (SUCCEEDED(LoadRequestDocument(communicationReference, doc.put()))) {
      if (FAILED(XmlGetNodeText(doc.get(), L"FDT/Abort/@communicationReference", reference.put())))
        return S_FALSE;
    } else {
      // FDT callers pass the reference itself.
      reference.assign(communicationReference);
    }
    if (reference.empty()) return S_FALSE;
    ConnRef connection;
    if (FAILED(connections_.FindConnection(reference.c_str(), &connection))) return S_FALSE;
    connection->SetState(kConnectionAborted);
    std::unique_ptr<baseRequestInfo> record(new baseRequestInfo);
    record->connection = connection;
    if (FAILED(PostRequest(kRequestAbort, record.get()))) return S_FALSE;
    record.release();
    return S_OK;
  });
}

HRESULT CHART_Channel::PostRequest(RequestType type, baseRequestInfo* record) {
  if (!thread_ || !threadId_) return E_UNEXPECTED;
  if (record->connection) {
    HRESULT hr = record->connection->PrepareCallbackForWorker();
    if (FAILED(hr)) return hr;
  }
  if (!PostToWorkerQueue(TM_EXECUTE_REQUEST, type, reinterpret_cast<LPARAM>(record)))
    return E_FAIL;
  return S_OK;
}

STDMETHODIMP CHART_Channel::SequenceBegin(BSTR fieldbusFrame, VARIANT_BOOL* result) {
  if (!fieldbusFrame) return S_FALSE;
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  long state = 0;
  if (FAILED(OwnerDtmState(&state))) return S_FALSE;
  return (state >= 9 && state <= 12) ? S_OK : S_FALSE;
}

STDMETHODIMP CHART_Channel::SequenceStart(BSTR fieldbusFrame, VARIANT_BOOL* result) {
  return SequenceEnd(fieldbusFrame, result);
}

STDMETHODIMP CHART_Channel::SequenceEnd(BSTR fieldbusFrame, VARIANT_BOOL* result) {
  if (!fieldbusFrame) return S_FALSE;
  if (!result) return E_POINTER;
  long state = 0;
  if (FAILED(OwnerDtmState(&state)) || state < 9 || state > 12) return S_FALSE;
  *result = VARIANT_FALSE;
  return S_OK;
}

// ---- supported protocols ---------------------------------------------------------

bool CHART_Channel::IsSupportedProtocol(const GUID& protocol) const {
  static const GUID kProtocols[] = {kHartProtocolId, GUID_NULL};
  for (const GUID* p = kProtocols; !IsEqualGUID(*p, GUID_NULL); ++p) {
    if (IsEqualGUID(*p, protocol)) return true;
  }
  return false;
}

STDMETHODIMP CHART_Channel::GetSupportedProtocols(BSTR* protocols) {
  return com::guard([&]() -> HRESULT {
    long state = 0;
    if (FAILED(OwnerDtmState(&state)) || state < 8 || state > 12) return S_FALSE;
    if (!protocols) return E_POINTER;
    *protocols = nullptr;
    wchar_t* idText = nullptr;
    HRESULT hr = ::StringFromCLSID(kHartProtocolId, &idText);
    if (FAILED(hr)) return hr;
    std::wstring id(idText);
    ::CoTaskMemFree(idText);
    if (id.size() > 2) id = id.substr(1, id.size() - 2);

    std::wstring name;
    bool named = false;
    com::ComPtr<ICatInformation> categories;
    if (SUCCEEDED(::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ICatInformation, categories.putVoid())) &&
        categories) {
      wchar_t* description = nullptr;
      if (SUCCEEDED(categories->GetCategoryDesc(const_cast<GUID&>(kHartProtocolId), 0, &description)) &&
          description) {
        const std::wstring text(description);
        ::CoTaskMemFree(description);
        const std::wstring prefix = L"FDT FIELDBUS ";
        const size_t at = text.find(prefix);
        if (at != std::wstring::npos && text.size() > prefix.size()) {
          name = text.substr(at + prefix.size());
          named = true;
        }
      }
    }
    return BuildSupportedProtocolsDocument(protocols,
                                           SupportedProtocolEntry(id.c_str(), named ? name.c_str() : nullptr));
  });
}

// ---- execution on the worker -------------------------------------------------

void CHART_Channel::ExecuteRequest(RequestType type, baseRequestInfo* record) {
  if (!record) return;
  // A topology scan runs in the refusing state too.
  if (type == kRequestScan) {
    ExecuteTopologyScan(*record);
    return;
  }
  RunRequest(type, *record);
  // A connection that is not open now (closed by this request, or never
  // opened) gives back the worker's proxy of its callback on the worker,
  // whoever lets the connection go last.
  ForgetClosedConnection(record->connection.get());
}

void CHART_Channel::RunRequest(RequestType type, baseRequestInfo& record) {
  CHART_ChanConn* connection = record.connection.get();
  if (connection) {
    const HRESULT taken = connection->UnmarshalCallback();
    if (FAILED(taken)) {
      AnswerThroughApartment(type, record, taken);
      return;
    }
  }
  com::Bstr invokeId(record.invokeId);
  // An aborted connection's pending requests are dropped without an answer;
  // so are those of a connection the worker has closed meanwhile (a
  // transaction queued behind its disconnect): nobody waits for them.
  if (connection && connection->State() == kConnectionAborted && type != kRequestAbort) return;
  if (connection && type != kRequestConnect && connections_.IndexOfConnection(connection->Reference()) < 0)
    return;
  if (State() == kChannelRefusing) return;

  com::Bstr answer;
  HRESULT hr = E_FAIL;
  switch (type) {
    case kRequestConnect:
      hr = ExecuteConnect(static_cast<HARTConnectRequestInfo&>(record), answer.put());
      break;
    case kRequestDisconnect:
      hr = ExecuteDisconnect(static_cast<HARTDisconnectRequestInfo&>(record), answer.put());
      break;
    case kRequestTransaction: {
      auto& request = static_cast<HARTTransactRequestInfo&>(record);
      if (!connection) return;
      if (request.kind == kDataExchange) hr = ExecuteTransaction(request, *connection, answer.put());
      else if (request.kind == kSubscribe) hr = Subscribe(request, *connection, answer.put());
      else hr = Unsubscribe(request, *connection, answer.put());
      break;
    }
    case kRequestAbort:
      hr = ExecuteAbort(record);
      break;
    default:
      return;
  }
  if (FAILED(hr)) return;
  if (!connection || connection->State() == kConnectionAborted || type == kRequestAbort) return;
  SendResponse(type, connection->Callback().get(), connection->fdt121Peer, invokeId.get(), answer.get());
}

HRESULT CHART_Channel::SendResponse(RequestType type, IChildCommunicationEvents* callback, bool fdt121Peer,
                                    BSTR invokeId, BSTR answer) {
  if (!callback || !answer) return E_POINTER;
  switch (type) {
    case kRequestConnect: {
      com::ComPtr<IChildCommunicationEvents2> second;
      if (FrameFdtVersion() == 1 && fdt121Peer && SUCCEEDED(second.queryFrom(callback)) && second) {
        com::Bstr parent;
        HRESULT hr = BuildParentVersionDocument(parent.put());
        if (FAILED(hr)) return hr;
        return second->OnConnectResponse2(invokeId, parent.get(), answer);
      }
      return callback->OnConnectResponse(invokeId, answer);
    }
    case kRequestDisconnect:
      return callback->OnDisconnectResponse(invokeId, answer);
    case kRequestTransaction:
      return callback->OnTransactionResponse(invokeId, answer);
    case kRequestAbort:
      return S_OK;
    default:
      return E_FAIL;
  }
}

void CHART_Channel::AnswerThroughApartment(RequestType type, baseRequestInfo& record, HRESULT failure) {
  if (type == kRequestAbort || !workerApartmentCall_) return;
  UndeliveredAnswer entry;
  entry.connection = record.connection;
  entry.type = type;
  entry.invokeId = record.invokeId;
  // The device DTM cannot be reached from the channel's worker: for it the
  // connection does not exist.
  if (FAILED(BuildCommunicationError(entry.answer.put(), kCommErrNoConnection, channelName_.c_str(), failure,
                                     nullptr)))
    return;
  {
    win32::CsLock hold(undeliveredLock_);
    undelivered_.push_back(std::move(entry));
  }
  com::invokeApartmentCall(workerApartmentCall_.get());
}

void CHART_Channel::DeliverFromApartment() {
  std::vector<UndeliveredAnswer> answers;
  {
    win32::CsLock hold(undeliveredLock_);
    answers.swap(undelivered_);
  }
  for (UndeliveredAnswer& entry : answers) {
    for (auto kept = keptCallbacks_.begin(); kept != keptCallbacks_.end(); ++kept) {
      if (kept->connection.get() != entry.connection.get()) continue;
      const com::ComPtr<IChildCommunicationEvents> callback = kept->callback;
      keptCallbacks_.erase(kept);
      SendResponse(entry.type, callback.get(), entry.connection->fdt121Peer, entry.invokeId.get(),
                   entry.answer.get());
      break;
    }
  }
  ForgetSettledCallbacks();
}

void CHART_Channel::ForgetSettledCallbacks() {
  std::vector<KeptCallback> settled;  // released after the list is consistent
  for (auto it = keptCallbacks_.begin(); it != keptCallbacks_.end();) {
    if (it->connection->CallbackUnsettled()) {
      ++it;
    } else {
      settled.push_back(std::move(*it));
      it = keptCallbacks_.erase(it);
    }
  }
}

HRESULT CHART_Channel::ExecuteConnect(HARTConnectRequestInfo& request, BSTR* answer) {
  CHART_ChanConn& connection = *request.connection;
  // Its DTM is gone (the worker is ending): the channel keeps no new
  // connection, and the connect fails as one that reached no device.
  com::ComPtr<IevFdtParameterHandler4> owner;
  if (FAILED(Owner(owner)) || !owner)
    return BuildCommunicationError(answer, kCommErrNoConnection, channelName_.c_str(), E_NOINTERFACE, nullptr);
  HRESULT hr;
  if (request.longAddressGiven) {
    const hart::LongAddress address = {request.manufacturerId, request.deviceTypeId, request.address1,
                                       request.address2, request.address3};
    hr = SendLongFrame(0, address, preambleCount_, 0, nullptr);
  } else {
    hr = SendShortFrameCommand0(request.shortAddress, preambleCount_);
  }
  if (SUCCEEDED(hr)) hr = IdentifyDevice(connection, request);
  HRESULT built;
  if (SUCCEEDED(hr)) {
    ConnectResponseFields fields;
    fields.tag = request.tag.c_str();
    fields.preambleCount = preambleCount_;
    fields.primaryMaster = primaryMaster_;
    fields.reference = connection.Reference();
    fields.manufacturerId = request.manufacturerId;
    fields.deviceTypeId = request.deviceTypeId;
    fields.address1 = request.address1;
    fields.address2 = request.address2;
    fields.address3 = request.address3;
    fields.shortAddress = request.shortAddress;
    built = BuildConnectResponse(answer, fields);
    if (SUCCEEDED(built)) connections_.AddConnection(request.connection);
  } else {
    built = BuildCommunicationError(answer, kCommErrNoConnection, channelName_.c_str(), hr, nullptr);
  }
  if (FAILED(built)) return built;
  // A count the DTM cannot take costs the device DTM nothing: it is answered.
  IncreaseChangeCount();
  return S_OK;
}

HRESULT CHART_Channel::ExecuteDisconnect(HARTDisconnectRequestInfo& request, BSTR* answer) {
  CHART_ChanConn& connection = *request.connection;
  if (IsSubscribed(&connection)) {
    return BuildCommunicationError(answer, kCommErrBusy, channelName_.c_str(), static_cast<HRESULT>(0xFFFFFFFF),
                                   L"you are still subscribed!");
  }
  HRESULT hr = BuildDisconnectResponse(answer, connection.Reference());
  if (FAILED(hr)) return hr;
  connections_.RemoveConnection(connection.Reference());
  IncreaseChangeCount();
  return S_OK;
}

HRESULT CHART_Channel::ExecuteAbort(baseRequestInfo& request) {
  if (!request.connection) return E_INVALIDARG;
  DropSubscription(request.connection.get());
  connections_.RemoveConnection(request.connection->Reference());
  return S_OK;
}

HRESULT CHART_Channel::IncreaseChangeCount() {
  com::ComPtr<IevFdtParameterHandler4> handler;
  if (FAILED(Owner(handler)) || !handler) return E_NOINTERFACE;
  const com::Variant key = com::ui4(kParChangeCounter);
  com::Variant value;
  HRESULT hr = handler->GetParameterValue(key.value(), value.put());
  if (FAILED(hr)) return hr;
  // Restarting an unknown count could repeat a value a reader has seen.
  if (FAILED(value.changeType(VT_UI4))) return S_FALSE;
  value.get()->ulVal += 1;
  return handler->WriteParameter(key.value(), value.value());
}

bool CHART_Channel::IsSubscribed(const CHART_ChanConn* connection) const {
  for (const Subscription& s : subscriptions_) {
    if (s.connection.get() == connection) return true;
  }
  return false;
}

void CHART_Channel::DropSubscription(const CHART_ChanConn* connection) {
  for (auto it = subscriptions_.begin(); it != subscriptions_.end();) {
    if (it->connection.get() == connection) it = subscriptions_.erase(it);
    else ++it;
  }
}

// ---- IFdtChannel and IFdtFunctionBlockData -------------------------------------

STDMETHODIMP CHART_Channel::GetChannelPath(BSTR* path) {
  return com::guard([&]() -> HRESULT {
    long state = 0;
    if (FAILED(OwnerDtmState(&state))) return E_FAIL;
    if (state < 7 || state > 12) return S_FALSE;
    if (!path) return E_INVALIDARG;
    std::wstring text = ownerSystemTag_.c_str();
    if (!channelTag_.empty()) text += L"/" + std::wstring(channelTag_.c_str());
    *path = ::SysAllocString(text.c_str());
    return *path ? S_OK : E_OUTOFMEMORY;
  });
}

STDMETHODIMP CHART_Channel::GetChannelParameters(BSTR, BSTR, BSTR* document) {
  return com::guard([&]() -> HRESULT {
    long state = 0;
    if (FAILED(OwnerDtmState(&state))) return E_FAIL;
    if (state < 7 || state > 12) return S_FALSE;
    if (!document) return E_INVALIDARG;
    if (channelParameterDocument_.empty()) {
      com::Variant tag;
      HRESULT hr = GetValue(kParChannelName, tag.put());
      if (FAILED(hr)) return hr;
      if (tag.type() != VT_BSTR) return E_UNEXPECTED;
      static const wchar_t kTemplate[] =
          L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTBasicChannelParameterSchema.xml\" "
          L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><FDTChannelType><fdt:VersionInformation "
          L"name=\"%s\" vendor=\"%s\" version=\"%d.%d\" date=\"%s\" /></FDTChannelType>"
          L"<FDTBasicChannel fdt:tag=\"%s\" fdt:id=\"%s\" /></FDT>";
      const std::wstring text =
          FillTemplate(kTemplate, {EscapeAttribute(channelName_.c_str()), EscapeAttribute(vendor_.c_str()), L"1",
                                   L"3", EscapeAttribute(versionDate_.c_str()), EscapeAttribute(tag.get()->bstrVal),
                                   EscapeAttribute(channelTag_.c_str())});
      hr = channelParameterDocument_.assign(text.c_str());
      if (FAILED(hr)) return hr;
    }
    return channelParameterDocument_.copyTo(document);
  });
}

STDMETHODIMP CHART_Channel::SetChannelParameters(BSTR, BSTR, BSTR document, VARIANT_BOOL* result) {
  return com::guard([&]() -> HRESULT {
    long state = 0;
    if (FAILED(OwnerDtmState(&state))) return E_FAIL;
    if (state < 7 || state > 12) return S_FALSE;
    if (!result) return E_INVALIDARG;
    *result = VARIANT_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    com::Bstr tag;
    if (SUCCEEDED(LoadRequestDocument(document, doc.put())) &&
        SUCCEEDED(XmlGetNodeText(doc.get(), L"FDT/FDTBasicChannel/@fdt:tag", tag.put()))) {
      const com::Variant key = com::ui4(kParChannelName);
      com::Variant value(tag.c_str());
      if (SUCCEEDED(WriteParameter(key.value(), value.value()))) {
        channelParameterDocument_.reset();
        *result = VARIANT_TRUE;
        com::ComPtr<IevFdtStorageState> storage;
        long modified = 0;
        if (SUCCEEDED(Owner(storage)) && storage && SUCCEEDED(storage->GetModified(&modified)) && !modified)
          storage->SetModified(1);
      }
    }
    if (!*result) {
      com::Bstr message;
      ChannelToolkitMessage(GetCommDtmInterface().get(), kToolkitSetChannelParameters, message.put());
      ReportToOwner(message.c_str());
    }
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::GetFailSafeData(BSTR, BSTR* document) {
  if (!document) return E_INVALIDARG;
  return BuildFailSafeDocument(document);
}

// ---- texts --------------------------------------------------------------------

HRESULT CHART_Channel::GetUserMessage(UINT id, const wchar_t* name, BSTR* text) {
  return ChannelUserMessage(GetCommDtmInterface().get(), id, name, text);
}

HRESULT CHART_Channel::ReportDriverError(unsigned status, BSTR* text) {
  if (!text) return E_POINTER;
  const UINT id = modem_messages::MessageIdOfStatus(static_cast<BYTE>(status & 0xFF));
  if (id == 0) return S_OK;
  return GetUserMessage(id, L"", text);
}

}  // namespace hartdtm
