#include "modem_device.h"

#include <cstring>

#include "shared/status_codes.h"
#include "win32/callback_guard.h"

namespace modemapi {

using namespace shared;

ModemDevice::ModemDevice(uint8_t deviceNumber, uint16_t serial)
    : deviceNumber_(deviceNumber),
      serial_(serial),
      requestMutex_(::CreateMutexW(nullptr, FALSE, nullptr)),
      dataAvailable_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      kernelObjectsCreated_(requestMutex_ && dataAvailable_) {}

ModemDevice::~ModemDevice() {
  // Close stops the handler before a device is destroyed; this only guards
  // against a destroyed object still being called back.
  if (handlerThread_) {
    runStop_.exchange(kHandlerStop);
    ::WaitForSingleObject(handlerThread_.get(), INFINITE);
  }
}

uint8_t ModemDevice::ReservedOperation() { return kStatusNotSupported; }

void ModemDevice::QueueFrame(const ReceiveRingEntry& entry) {
  if (ringCount_.load() >= static_cast<int32_t>(kRingEntries)) {
    // Full: drop the new frame and mark the newest waiting entry.
    const uint16_t newest = static_cast<uint16_t>((writeIndex_ + kRingEntries - 1) % kRingEntries);
    ring_[newest].status() = kStatusRingOverrun;
    // Publish the marker to the consumer, which reads the count first.
    ringCount_.fetch_add(0);
    ::SetEvent(dataAvailable_.get());
    return;
  }
  ring_[writeIndex_] = entry;
  ringCount_.fetch_add(1);
  writeIndex_ = static_cast<uint16_t>((writeIndex_ + 1) % kRingEntries);
  ::SetEvent(dataAvailable_.get());
}

void ModemDevice::QueueStatus(uint8_t status) {
  ReceiveRingEntry entry = {};
  entry.status() = status;
  QueueFrame(entry);
}

uint8_t ModemDevice::Receive(uint8_t* kind, uint8_t* length, uint8_t* data) {
  if (kind == nullptr || length == nullptr || data == nullptr) return kStatusInvalidArgument;

  RequestMutexLock lock(requestMutex_.get());
  if (ringCount_.load() == 0) {
    if (const uint8_t latched = latchedError()) return latched;
    return kStatusRingEmpty;
  }

  ReceiveRingEntry& entry = ring_[readIndex_];
  const uint8_t status = entry.status();
  if (status == kStatusDeviceRemoved) {
    // Stays in place: every later Receive answers 13 as well.
    runStop_.exchange(kHandlerStop);
    return kStatusDeviceRemoved;
  }

  uint8_t result = status;
  if (status == kStatusOk) {
    const uint8_t* reply = entry.reply();
    const uint8_t dataLength = reply[kReplyLengthOffset];
    if (dataLength > kMaxFrameLength) {
      result = kStatusIoError;  // never copy more than a frame can hold
    } else {
      *kind = reply[kReplyKindOffset];
      *length = dataLength;
      std::memcpy(data, reply + kReplyDataOffset, dataLength);
    }
  }
  ringCount_.fetch_sub(1);
  readIndex_ = static_cast<uint16_t>((readIndex_ + 1) % kRingEntries);
  return result;
}

uint8_t ModemDevice::StartMessageHandler(vtHART_MessageCallback callback, void* user) {
  win32::CsLock lock(handlerLock_);
  if (handlerThread_) return kStatusAlreadyRunning;
  if (callback == nullptr) return kStatusInvalidArgument;
  callback_ = callback;
  user_ = user;
  // A stop that timed out (35) leaves its stop request in the word, and a
  // later stop of the ended thread writes one again: a new handler must not
  // take either for its own.
  runStop_.exchange(kHandlerRun);
  handlerThread_.reset(::CreateThread(nullptr, 0, &ModemDevice::HandlerThreadProc, this, 0, nullptr));
  return handlerThread_ ? kStatusOk : kStatusThreadOrEvent;
}

uint8_t ModemDevice::StopMessageHandler() {
  win32::CsLock lock(handlerLock_);
  if (!handlerThread_) return kStatusThreadOrEvent;
  runStop_.exchange(kHandlerStop);
  if (::WaitForSingleObject(handlerThread_.get(), kHandlerStopWaitMs) != WAIT_OBJECT_0) {
    return kStatusHandlerStopTimeout;  // the thread is kept; a later stop may succeed
  }
  handlerThread_.reset();
  return kStatusOk;
}

DWORD WINAPI ModemDevice::HandlerThreadProc(void* self) {
  return win32::guard(DWORD{1}, [&] {
    static_cast<ModemDevice*>(self)->MessageHandlerLoop();
    return DWORD{0};
  });
}

void ModemDevice::MessageHandlerLoop() {
  for (;;) {
    if (::WaitForSingleObject(dataAvailable_.get(), kHandlerPollMs) == WAIT_OBJECT_0) {
      if (ringCount_.load() > 0) {
        // The caller's callback: what it raises ends with that call, and
        // the handler goes on.
        win32::guard([&] { callback_(deviceNumber_, user_); });
      } else {
        ::ResetEvent(dataAvailable_.get());
        if (ringCount_.load() > 0) ::SetEvent(dataAvailable_.get());
      }
    }
    // A stop request is consumed by the thread that leaves.
    if (runStop_.exchange(kHandlerRun) != kHandlerRun) break;
  }
}

}  // namespace modemapi
