#include "usb_modem_device.h"

#include <cstring>

#include "shared/status_codes.h"

namespace modemapi {

using namespace shared;

UsbModemDevice::UsbModemDevice(uint8_t deviceNumber, uint16_t serial)
    : ModemDevice(deviceNumber, serial),
      stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      requestReady_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      requestDone_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!stopEvent_ || !requestReady_ || !requestDone_) KernelObjectMissing();
}

UsbModemDevice::~UsbModemDevice() = default;

uint8_t UsbModemDevice::Open() { return kStatusNotConfigured; }

uint8_t UsbModemDevice::HandOff(VendorRequest& request, uint8_t* inBuffer) {
  RequestMutexLock mutex(requestMutex_.get());
  uint32_t sequence;
  {
    win32::CsLock lock(recordLock_);
    if (ioEnded_) return kStatusIoError;
    record_ = request;
    sequence = ++sequence_;
    // Reset before the request becomes visible: the I/O thread may take and
    // complete it at once (woken by a request-ready left set by a request
    // whose caller gave up), and its completion must not be reset away.
    ::ResetEvent(requestDone_.get());
    state_ = RequestState::Waiting;
  }
  ::SetEvent(requestReady_.get());
  ::WaitForSingleObject(requestDone_.get(), kRequestTimeoutMs);

  win32::CsLock lock(recordLock_);
  if (state_ == RequestState::Done && sequence_ == sequence) {
    // The caller's buffer changes only when the transfer succeeded.
    if (inBuffer != nullptr && result_ == kStatusOk) std::memcpy(inBuffer, record_.data, request.length);
    state_ = RequestState::None;
    return result_;
  }
  // Not finished in time: whatever the I/O thread still does with this
  // request is discarded when it completes.
  state_ = RequestState::Abandoned;
  return kStatusTimeout;
}

uint8_t UsbModemDevice::RequestIn(uint8_t code, uint16_t value, uint16_t index, uint8_t* buffer,
                                  uint16_t length) {
  if (buffer == nullptr || length > kMaxRequestData) return kStatusInvalidArgument;
  VendorRequest request;
  request.code = code;
  request.value = value;
  request.index = index;
  request.toDevice = false;
  request.length = length;
  return HandOff(request, buffer);
}

uint8_t UsbModemDevice::RequestOut(uint8_t code, uint16_t value, uint16_t index, const uint8_t* data,
                                   uint16_t length) {
  if ((data == nullptr && length > 0) || length > kMaxRequestData) return kStatusInvalidArgument;
  VendorRequest request;
  request.code = code;
  request.value = value;
  request.index = index;
  request.toDevice = true;
  request.length = length;
  if (length > 0) std::memcpy(request.data, data, length);
  return HandOff(request, nullptr);
}

bool UsbModemDevice::TakeRequest(VendorRequest* request, uint32_t* sequence) {
  win32::CsLock lock(recordLock_);
  ::ResetEvent(requestReady_.get());
  if (state_ != RequestState::Waiting) return false;
  *request = record_;
  *sequence = sequence_;
  state_ = RequestState::Taken;
  return true;
}

void UsbModemDevice::CompleteRequest(uint32_t sequence, const VendorRequest& request, bool succeeded) {
  win32::CsLock lock(recordLock_);
  if (state_ != RequestState::Taken || sequence_ != sequence) return;  // its caller gave up
  if (!request.toDevice) std::memcpy(record_.data, request.data, request.length);
  result_ = succeeded ? kStatusOk : kStatusIoError;
  state_ = RequestState::Done;
  ::SetEvent(requestDone_.get());
}

void UsbModemDevice::EndRequests() {
  win32::CsLock lock(recordLock_);
  ioEnded_ = true;
  if (state_ == RequestState::Waiting || state_ == RequestState::Taken) {
    result_ = kStatusIoError;
    state_ = RequestState::Done;
    ::SetEvent(requestDone_.get());
  }
}

uint8_t UsbModemDevice::Init(uint8_t primaryMaster) {
  uint8_t answer = 0;
  ::Sleep(kInitStepPauseMs);
  uint8_t status = RequestIn(kReqPrepare, 0, 0, &answer, 1);
  if (status != kStatusOk) return status;

  ::Sleep(kInitStepPauseMs);
  status = RequestIn(kReqStartHart, primaryMaster != 0 ? kPrimaryMaster : kSecondaryMaster, 0, &answer, 1);
  if (status != kStatusOk) return status;
  return answer;  // 0 = ready; anything else fails the open
}

uint8_t UsbModemDevice::Send(uint8_t preambles, uint8_t length, const uint8_t* frame) {
  if (const uint8_t latched = latchedError()) return latched;
  if (length > kMaxFrameLength || preambles < kMinPreambles || preambles > kMaxPreambles) {
    return kStatusInvalidArgument;
  }
  if (frame == nullptr && length > 0) return kStatusInvalidArgument;

  uint8_t sendFrame[kSendHeaderSize + kMaxFrameLength] = {0xFF, 0xFF, 0xFF, 0xFF, preambles, length, 0xFF, 0xFF};
  if (length > 0) std::memcpy(sendFrame + kSendHeaderSize, frame, length);
  uint8_t status = RequestOut(kReqSendFrame, 0, 0, sendFrame, static_cast<uint16_t>(kSendHeaderSize + length));
  if (status != kStatusOk) return status;

  uint8_t answer[2] = {};
  status = RequestIn(kReqSendStatus, 0, 0, answer, sizeof answer);
  if (status != kStatusOk) return status;
  const uint16_t sendStatus = static_cast<uint16_t>(answer[0] | (answer[1] << 8));
  if (sendStatus == kSendStatusOk) return kStatusOk;
  if (sendStatus == kSendStatusRefused) return kStatusSendRejected;
  return kStatusIoError;
}

uint8_t UsbModemDevice::SetParam(uint8_t value) {
  if (const uint8_t latched = latchedError()) return latched;
  uint8_t answer[2] = {};
  const uint8_t status = RequestIn(kReqSetParam, value, 0, answer, sizeof answer);
  if (status != kStatusOk) return status;
  return (answer[0] == 0 && answer[1] == 0) ? kStatusOk : kStatusParamRefused;
}

uint8_t UsbModemDevice::GetParam(uint8_t* value) {
  if (const uint8_t latched = latchedError()) return latched;
  if (value == nullptr) return kStatusInvalidArgument;
  return RequestIn(kReqGetParam, 0, 0, value, 1);
}

uint8_t UsbModemDevice::StartMessageHandler(vtHART_MessageCallback callback, void* user) {
  if (const uint8_t latched = latchedError()) return latched;
  return ModemDevice::StartMessageHandler(callback, user);
}

uint8_t UsbModemDevice::Close() {
  if (StopMessageHandler() == kStatusHandlerStopTimeout) return kStatusHandlerStopTimeout;
  if (!ioThread_) return kStatusOk;

  if (::WaitForSingleObject(stopEvent_.get(), 0) != WAIT_OBJECT_0) {
    uint8_t ignored = 0;
    RequestIn(kReqStop, 0, 0, &ignored, 1);
    Latch(kStatusNotOpen);
    ::SetEvent(stopEvent_.get());
  }
  if (::WaitForSingleObject(ioThread_.get(), kIoThreadEndWaitMs) == WAIT_OBJECT_0) {
    ::ResetEvent(stopEvent_.get());
    ioThread_.reset();
  }
  // Otherwise a transfer is still running: the thread keeps its handle and
  // the stop event stays set, so it ends after that transfer, and the
  // destructor waits for it before anything it uses goes away.
  return kStatusOk;
}

}  // namespace modemapi
