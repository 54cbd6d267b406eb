// ModemDevice: one open device number.
//
// Owns what every adapter kind shares: the receive ring that the I/O thread
// fills and vtHART_Receive empties, the message-handler thread that calls the
// caller's callback while entries wait, the request mutex, the latched error
// and the ownership of the adapter (device handle, ownership event).
//
// Class tree: ModemDevice -> UsbModemDevice (vendor protocol over the request
// hand-off) -> WinUsbModemDevice (WinUSB transport, Open, I/O thread).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "modemapi/modemapi.h"
#include "shared/adapter_protocol.h"
#include "win32/unique_handle.h"

namespace modemapi {

// One ring entry: byte 0 the entry status (0 frame, 3 poll failed, 11 overrun
// marker, 13 device removed), bytes 1.. the adapter's receive reply as read.
constexpr size_t kRingEntrySize = 1 + shared::kReplyMaxSize;  // 202
constexpr size_t kRingEntries = 10;

struct ReceiveRingEntry {
  uint8_t bytes[kRingEntrySize];
  uint8_t& status() { return bytes[0]; }
  uint8_t* reply() { return bytes + 1; }
};

// Values of the run/stop word of the message handler.
constexpr uint32_t kHandlerRun = 90;
constexpr uint32_t kHandlerStop = 165;

constexpr DWORD kHandlerStopWaitMs = 5000;
constexpr DWORD kHandlerPollMs = 10;

class ModemDevice {
 public:
  ModemDevice(uint8_t deviceNumber, uint16_t serial);
  virtual ~ModemDevice();

  ModemDevice(const ModemDevice&) = delete;
  ModemDevice& operator=(const ModemDevice&) = delete;

  virtual uint8_t Init(uint8_t primaryMaster) = 0;
  virtual uint8_t Send(uint8_t preambles, uint8_t length, const uint8_t* frame) = 0;
  virtual uint8_t Receive(uint8_t* kind, uint8_t* length, uint8_t* data);
  virtual uint8_t SetParam(uint8_t value) = 0;
  virtual uint8_t GetParam(uint8_t* value) = 0;
  // Reserved device operation: no export calls it.
  virtual uint8_t ReservedOperation();
  virtual void MessageHandlerLoop();
  virtual uint8_t StartMessageHandler(vtHART_MessageCallback callback, void* user);
  virtual uint8_t StopMessageHandler();
  virtual uint8_t Open() = 0;
  virtual uint8_t Close() = 0;

  uint8_t deviceNumber() const { return deviceNumber_; }
  uint16_t serial() const { return serial_; }
  // False when one of the object's events or its mutex could not be created:
  // such an object is never opened, since a wait on a missing handle fails at
  // once and would leave the request hand-off and the ring unguarded.
  bool kernelObjectsCreated() const { return kernelObjectsCreated_; }

 protected:
  // Puts one entry into the ring; run only by the I/O thread.
  void QueueFrame(const ReceiveRingEntry& entry);
  // Queues an entry that carries only a status (3 or 13).
  void QueueStatus(uint8_t status);

  // Called by derived constructors whose own kernel objects are missing.
  void KernelObjectMissing() { kernelObjectsCreated_ = false; }

  uint8_t latchedError() const { return latchedError_.load(); }
  void Latch(uint8_t status) { latchedError_.store(status); }

  // Waits for the request mutex without time limit; released on scope exit.
  class RequestMutexLock {
   public:
    explicit RequestMutexLock(HANDLE mutex) : mutex_(mutex) { ::WaitForSingleObject(mutex_, INFINITE); }
    ~RequestMutexLock() { ::ReleaseMutex(mutex_); }
    RequestMutexLock(const RequestMutexLock&) = delete;
    RequestMutexLock& operator=(const RequestMutexLock&) = delete;

   private:
    HANDLE mutex_;
  };

  const uint8_t deviceNumber_;
  const uint16_t serial_;

  win32::UniqueFile deviceHandle_;
  win32::UniqueHandle ownershipEvent_;
  win32::UniqueHandle requestMutex_;
  win32::UniqueHandle ioThread_;

 private:
  static DWORD WINAPI HandlerThreadProc(void* self);

  win32::CriticalSection handlerLock_;  // guards handlerThread_
  win32::UniqueHandle handlerThread_;
  vtHART_MessageCallback callback_ = nullptr;
  void* user_ = nullptr;

  win32::UniqueHandle dataAvailable_;
  bool kernelObjectsCreated_ = false;
  std::atomic<uint32_t> runStop_{kHandlerRun};
  std::atomic<uint8_t> latchedError_{0};

  std::atomic<int32_t> ringCount_{0};
  uint16_t readIndex_ = 0;   // consumers, under the request mutex
  uint16_t writeIndex_ = 0;  // the I/O thread only
  ReceiveRingEntry ring_[kRingEntries] = {};
};

}  // namespace modemapi
