// CHART_Channel: HART frames on the adapter, transactions, burst
// subscriptions and burst frames, and the identification of a connected
// device. Everything here runs on the channel's worker.
#include <cstring>
#include <string>

#include "channel/answer_documents.h"
#include "channel/hart_channel.h"
#include "com/Variant.h"
#include "hart/identity.h"
#include "shared/status_codes.h"
#include "toolkit/values/fdt_variant.h"

namespace hartdtm {

namespace {

// Data bytes a transaction may carry (a long frame holds at most 254 bytes
// before its checksum).
constexpr size_t kMaxTransactionData = 245;
constexpr uint8_t kReceiveCapacity = 255;
// Offset of the first data byte in a long-address answer frame.
constexpr size_t kLongAnswerData = 10;
// A burst frame older than this does not tell about burst mode (days).
constexpr double kBurstAge = 5.0 / 86400.0;
constexpr DWORD kBurstWaitMs = 5000;

hart::LongAddress Masked(hart::LongAddress address) {
  address[0] &= hart::kAddressMask;
  return address;
}

}  // namespace

// ---- frames ---------------------------------------------------------------------

HRESULT CHART_Channel::SendFrame(const std::vector<uint8_t>& frame, uint8_t preambles) {
  if (!binding_.Send) return E_POINTER;
  if (frame.empty() || frame.size() > 255) return E_UNEXPECTED;
  // An answer or failure of an earlier frame must not count for this one:
  // the events are reset first, then only replies to this frame are kept.
  ::ResetEvent(responseEvent_.get());
  ::ResetEvent(statusByteEvent_.get());
  ::ResetEvent(receiveFailedEvent_.get());
  replies_.Expect(frame.data(), frame.size(), ::GetTickCount64(), ReceiveTimeoutMs());
  const uint8_t status =
      binding_.Send(deviceNumber_, preambles, static_cast<uint8_t>(frame.size()), frame.data());
  if (status == 0) return S_OK;
  replies_.Withdraw();
  if (status == shared::kStatusIoError || status == shared::kStatusDeviceRemoved) {
    com::Variant empty;
    PostEvent(CHANNEL_EVENT_DRIVER_ERROR, empty.value());
  }
  return E_FAIL;
}

HRESULT CHART_Channel::SendShortFrameCommand0(uint8_t pollingAddress, uint8_t preambles) {
  return SendFrame(hart::BuildShortCommand0(pollingAddress & hart::kAddressMask, primaryMaster_), preambles);
}

HRESULT CHART_Channel::SendLongFrame(uint8_t command, const hart::LongAddress& address, uint8_t preambles,
                                     size_t count, const uint8_t* data) {
  if (count && !data) return E_INVALIDARG;
  if (count + 8 > 254) return E_UNEXPECTED;
  return SendFrame(hart::BuildLongRequest(Masked(address), primaryMaster_, command, data, count), preambles);
}

DWORD CHART_Channel::ReceiveTimeoutMs() const {
  return primaryMaster_ ? (retryCount_ + 1u) * perTryMs_ + 3500u : 900000u;
}

// Waits for the reply to the frame sent last. The receive callback keeps
// only that frame's reply (ReplySlot): a frame from someone else or a late
// reply of an earlier request neither replaces its answer nor ends the wait.
// The worker's end (a stop, or the owner gone) ends the wait as no answer:
// nobody waits for it then, and a secondary master would otherwise wait a
// quarter of an hour.
HRESULT CHART_Channel::ReceiveResponse(uint8_t* length, uint8_t* buffer) {
  if (!length || !buffer) return E_INVALIDARG;
  const ULONGLONG deadline = ::GetTickCount64() + ReceiveTimeoutMs();
  HANDLE events[4] = {responseEvent_.get(), statusByteEvent_.get(), receiveFailedEvent_.get(),
                      workerEndingEvent_.get()};
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    const DWORD which = ::WaitForMultipleObjects(4, events, FALSE, left);
    if (which > WAIT_OBJECT_0 + 2) {  // the time-out, the worker's end or a failed wait
      *length = 0;
      return E_FAIL;
    }
    // An event left from the request before this one finds nothing kept.
    switch (replies_.Take(length, buffer)) {
      case ReplySlot::Kept::Answer:
        return S_OK;
      case ReplySlot::Kept::Nothing:
        continue;
      default:  // a status byte alone, a failed receive or an answer too long: no answer
        return E_FAIL;
    }
  }
}

HRESULT CHART_Channel::ChannelError(BSTR* answer, int index, UINT messageId, HRESULT code) {
  com::Bstr text;
  GetUserMessage(messageId, BuiltInMessageName(messageId), text.put());
  return BuildCommunicationError(answer, index, channelName_.c_str(), code, text.get());
}

// ---- transactions ------------------------------------------------------------------

HRESULT CHART_Channel::ExecuteTransaction(HARTTransactRequestInfo& request, CHART_ChanConn& connection,
                                          BSTR* answer) {
  if (!answer) return E_INVALIDARG;
  std::vector<uint8_t> data;
  if (request.byteArrayGiven && !request.byteArray.empty()) {
    com::Variant bytes;
    if (FAILED(CFdtVariant::FromHexString(bytes.get(), request.byteArray.c_str())) ||
        bytes.type() != (VT_ARRAY | VT_UI1)) {
      return ChannelError(answer, kCommErrDtmSpecific, 159, E_FAIL);
    }
    SAFEARRAY* array = bytes.get()->parray;
    const size_t count = array ? array->rgsabound[0].cElements : 0;
    if (count > kMaxTransactionData) return ChannelError(answer, kCommErrDtmSpecific, 158, E_FAIL);
    if (count) {
      const auto* first = static_cast<const uint8_t*>(array->pvData);
      data.assign(first, first + count);
    }
  }
  HRESULT hr = SendLongFrame(request.commandNumber, connection.LongAddress(), connection.preambleCount,
                             data.size(), data.data());
  if (FAILED(hr)) return ChannelError(answer, kCommErrDtmSpecific, 157, hr);
  uint8_t frame[kReceiveCapacity];
  uint8_t length = kReceiveCapacity;
  hr = ReceiveResponse(&length, frame);
  if (FAILED(hr)) return ChannelError(answer, kCommErrTimeout, 156, hr);
  if (length <= 10) return ChannelError(answer, kCommErrDtmSpecific, 155, E_UNEXPECTED);
  return BuildDataExchangeResponse(answer, request.commandNumber, connection.Reference(), frame, length);
}

// ---- burst subscriptions -----------------------------------------------------------

HRESULT CHART_Channel::Subscribe(HARTTransactRequestInfo& request, CHART_ChanConn& connection, BSTR* answer) {
  const HRESULT kNoCode = static_cast<HRESULT>(0xFFFFFFFF);
  if (!connection.fdt121Peer || FrameFdtVersion() < 1) {
    return BuildCommunicationError(answer, kCommErrNotSupportedFeature, channelName_.c_str(), kNoCode,
                                   L"not detected as FDT 1.2.1!");
  }
  if (IsSubscribed(&connection)) {
    return BuildCommunicationError(answer, kCommErrNoParallelServices, channelName_.c_str(), kNoCode,
                                   L"you are already subscribed!");
  }
  // A check cut short tells nothing: the subscribe is answered as aborted
  // and subscribes nothing, like a request whose answer wait a stop ends.
  // (When the connection itself was aborted, the answer is dropped as for
  // any request of an aborted connection.)
  const BurstMode mode = CheckBurstMode(connection);
  if (mode == BurstMode::Unknown)
    return BuildCommunicationError(answer, kCommErrAbort, channelName_.c_str(), E_ABORT, nullptr);
  Subscription subscription;
  subscription.connection = ConnRef(&connection);
  subscription.invokeId = request.invokeId;
  subscription.address = Masked(connection.LongAddress());
  subscriptions_.push_back(std::move(subscription));
  return BuildSubscribeResponse(answer, connection.Reference(), mode == BurstMode::On);
}

HRESULT CHART_Channel::Unsubscribe(HARTTransactRequestInfo&, CHART_ChanConn& connection, BSTR* answer) {
  const HRESULT kNoCode = static_cast<HRESULT>(0xFFFFFFFF);
  if (!connection.fdt121Peer || FrameFdtVersion() < 1) {
    return BuildCommunicationError(answer, kCommErrNotSupportedFeature, channelName_.c_str(), kNoCode,
                                   L"not detected as FDT 1.2.1!");
  }
  if (!IsSubscribed(&connection)) {
    return BuildCommunicationError(answer, kCommErrNoPendingRequest, channelName_.c_str(), kNoCode,
                                   L"you are not subscribed!");
  }
  DropSubscription(&connection);
  return BuildUnsubscribeResponse(answer, connection.Reference());
}

CHART_Channel::BurstMode CHART_Channel::CheckBurstMode(CHART_ChanConn& connection) {
  const hart::LongAddress address = Masked(connection.LongAddress());
  if (connection.hartRevision >= 6) {
    // Command 105: the burst-mode control code is the first data byte of the
    // answer (the byte at offset 8 is the response code).
    if (FAILED(SendLongFrame(105, address, connection.preambleCount, 0, nullptr))) return BurstMode::Off;
    uint8_t frame[kReceiveCapacity];
    uint8_t length = kReceiveCapacity;
    if (FAILED(ReceiveResponse(&length, frame))) return WorkerEnding() ? BurstMode::Unknown : BurstMode::Off;
    if (length < 15) return BurstMode::Off;
    return frame[kLongAnswerData] == 1 ? BurstMode::On : BurstMode::Off;
  }
  // Older devices: a burst frame of this device seen lately, or within the
  // next five seconds. The receive callback keeps the last one's address
  // and time while the worker waits (WaitForBurstFrames).
  {
    win32::CsLock hold(receiveLock_);
    if (lastBurstTime_ > CurrentVariantTime() - kBurstAge)
      return lastBurstAddress_ == address ? BurstMode::On : BurstMode::Off;
  }
  const double start = CurrentVariantTime();
  if (!WaitForBurstFrames(connection, kBurstWaitMs)) return BurstMode::Unknown;
  win32::CsLock hold(receiveLock_);
  return lastBurstTime_ >= start && lastBurstAddress_ == address ? BurstMode::On : BurstMode::Off;
}

HRESULT CHART_Channel::OnBurstFrame(const VARIANT& value) {
  if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray || ::SafeArrayGetDim(value.parray) != 1 ||
      value.parray->rgsabound[0].lLbound != 0 || value.parray->rgsabound[0].cElements < 11)
    return E_INVALIDARG;
  const auto* frame = static_cast<const uint8_t*>(value.parray->pvData);
  const size_t length = value.parray->rgsabound[0].cElements;
  // Only a burst frame with a long address (delimiter 0x81) is routed to
  // subscribers; any other delimiter with the bits 0x81 is no burst frame.
  hart::LongAddress address{};
  if (!hart::ReadBurstAddress(frame, length, &address)) return E_UNEXPECTED;
  {
    win32::CsLock hold(receiveLock_);
    lastBurstAddress_ = address;
    lastBurstTime_ = CurrentVariantTime();
  }
  size_t count = frame[7];
  if (count > length - 8) count = length - 8;
  // A subscriber may unsubscribe from inside its callback's apartment; walk a copy.
  const std::vector<Subscription> subscribers = subscriptions_;
  for (const Subscription& s : subscribers) {
    if (s.address == address) BuildBurstResponse(s, frame[6], frame + 8, count);
  }
  return S_OK;
}

HRESULT CHART_Channel::BuildBurstResponse(const Subscription& subscription, uint8_t command,
                                          const uint8_t* fromStatus, size_t count) {
  if (!fromStatus || count < 2 || !subscription.connection) return E_INVALIDARG;
  com::ComPtr<IChildCommunicationEvents> callback = subscription.connection->Callback();
  if (!callback) return S_FALSE;
  com::Bstr document;
  HRESULT hr = BuildBurstResponseDocument(document.put(), command, subscription.connection->Reference(),
                                          fromStatus, count);
  if (FAILED(hr)) return hr;
  return callback->OnTransactionResponse(subscription.invokeId.get(), document.get());
}

// ---- identification -------------------------------------------------------------------

HRESULT CHART_Channel::IdentifyDevice(CHART_ChanConn& connection, HARTConnectRequestInfo& request) {
  uint8_t frame[kReceiveCapacity];
  uint8_t length = kReceiveCapacity;
  HRESULT hr = ReceiveResponse(&length, frame);
  Command0Answer identity;
  if (!request.longAddressGiven) {
    if (FAILED(hr) || !ReadCommand0Answer(frame, length, false, &identity)) return E_FAIL;
    request.manufacturerId = identity.manufacturerId;
    request.deviceTypeId = identity.deviceType;
    request.address1 = identity.deviceId[0];
    request.address2 = identity.deviceId[1];
    request.address3 = identity.deviceId[2];
  } else if (FAILED(hr) || !ReadCommand0Answer(frame, length, true, &identity)) {
    // Once more with the identifier bytes the other way round.
    const hart::LongAddress reversed = {request.manufacturerId, request.deviceTypeId, request.address3,
                                        request.address2, request.address1};
    if (FAILED(SendLongFrame(0, reversed, preambleCount_, 0, nullptr))) return E_FAIL;
    length = kReceiveCapacity;
    if (FAILED(ReceiveResponse(&length, frame)) || !ReadCommand0Answer(frame, length, true, &identity))
      return E_FAIL;
  }
  connection.manufacturerId = identity.manufacturerId;
  connection.deviceType = identity.deviceType;
  std::memcpy(connection.deviceId, identity.deviceId, 3);
  connection.preambleCount = ClampPreambles(identity.preambleCount);
  connection.hartRevision = identity.universalRevision;

  const uint32_t deviceId = (identity.deviceId[0] << 16) | (identity.deviceId[1] << 8) | identity.deviceId[2];
  int index = found_.Find(identity.manufacturerId, identity.deviceType, deviceId);
  if (index < 0) {
    HartDeviceEntry entry;
    if (FAILED(StoreDeviceIdentity(request.shortAddress, identity, &entry))) return E_POINTER;
    found_.Add(entry);
    index = static_cast<int>(found_.Count()) - 1;
  }
  found_.SetInUse(static_cast<size_t>(index), true);
  StampScanTime();
  return S_OK;
}

HRESULT CHART_Channel::StoreDeviceIdentity(uint8_t pollingAddress, const Command0Answer& identity,
                                           HartDeviceEntry* out) {
  if (!out) return E_INVALIDARG;
  const hart::LongAddress address = {identity.manufacturerId, identity.deviceType, identity.deviceId[0],
                                     identity.deviceId[1], identity.deviceId[2]};
  const uint8_t preambles = ClampPreambles(identity.preambleCount);
  uint8_t frame[kReceiveCapacity];
  uint8_t length = kReceiveCapacity;
  std::wstring tag;
  if (identity.universalRevision >= 6) {
    if (FAILED(SendLongFrame(20, address, preambles, 0, nullptr)) || FAILED(ReceiveResponse(&length, frame)) ||
        length < 43)
      return E_FAIL;
    char text[33] = {};
    std::memcpy(text, frame + 10, 32);
    wchar_t wide[33] = {};
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, wide, 33);
    tag = wide;
  } else {
    if (FAILED(SendLongFrame(13, address, preambles, 0, nullptr)) || FAILED(ReceiveResponse(&length, frame)) ||
        length < 32)
      return E_FAIL;
    com::Bstr packed;
    if (SUCCEEDED(UnpackPackedAscii(6, frame + 10, packed.put()))) tag = packed.c_str();
  }
  HartDeviceEntry entry;
  entry.deviceId = (identity.deviceId[0] << 16) | (identity.deviceId[1] << 8) | identity.deviceId[2];
  entry.inUse = connections_.HoldsLongAddress(Masked(address)) || connections_.HoldsLongAddress(address);
  entry.pollingAddress = pollingAddress;
  entry.tag = tag;
  entry.manufacturerId = identity.manufacturerId;
  entry.deviceType = identity.deviceType;
  entry.hardwareRevision = identity.hardwareRevision;
  entry.softwareRevision = identity.softwareRevision;
  entry.preambleCount = preambles;
  entry.universalRevision = identity.universalRevision;
  entry.deviceRevision = identity.deviceRevision;
  entry.flags = identity.flags;
  entry.physicalSignalling = identity.physicalSignalling;
  *out = entry;
  return S_OK;
}

HRESULT CHART_Channel::PollAddress(uint8_t pollingAddress, HartDeviceEntry* out, WhileOnTheLine& meanwhile) {
  if (!out) return E_INVALIDARG;
  const HRESULT sent = SendShortFrameCommand0(pollingAddress, preambleCount_);
  DoWhileOnTheLine(meanwhile);
  if (FAILED(sent)) return E_FAIL;
  uint8_t frame[kReceiveCapacity];
  uint8_t length = kReceiveCapacity;
  if (FAILED(ReceiveResponse(&length, frame)) || length < kShortCommand0AnswerMin) return E_FAIL;
  Command0Answer identity;
  if (!ReadCommand0Answer(frame, length, false, &identity)) return E_FAIL;
  // Addresses 16 to 63 belong to devices of revision 6 and higher.
  if (pollingAddress >= 16 && identity.universalRevision < 6) return E_FAIL;
  return StoreDeviceIdentity(pollingAddress, identity, out);
}

HRESULT CHART_Channel::UnpackPackedAscii(uint8_t count, const uint8_t* bytes, BSTR* text) {
  if (!count || !bytes || !text) return E_INVALIDARG;
  const std::string unpacked = hart::UnpackAscii(bytes, count);
  com::Bstr result;
  HRESULT hr = result.assignMultiByte(unpacked.c_str(), CP_ACP);
  if (FAILED(hr)) return hr;
  *text = result.detach();
  return S_OK;
}

void CHART_Channel::DoWhileOnTheLine(WhileOnTheLine& meanwhile) {
  ReportProgress(scanDisplayText_.c_str(), static_cast<ULONG>(meanwhile.percent), true);
  if (meanwhile.stampScanTime) StampScanTime();
  meanwhile.stampScanTime = false;
}

void CHART_Channel::StampScanTime() {
  com::ComPtr<IevFdtParameterHandler4> handler;
  if (FAILED(Owner(handler)) || !handler) return;
  const com::Variant key = com::ui4(kParLastScanTime);
  com::Variant now;
  now.get()->vt = VT_R8;
  now.get()->dblVal = CurrentVariantTime();
  handler->WriteParameter(key.value(), now.value());
}

}  // namespace hartdtm
