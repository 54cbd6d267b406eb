// UsbModemDevice: the adapter's vendor protocol over the request hand-off.
//
// Every vendor request after Open runs on the I/O thread. A caller fills the
// request record under the request mutex, signals request-ready and waits up
// to 3000 ms for request-done. The I/O thread works on its own copy of the
// record and publishes a result only for the request that is still waiting
// for it: a transfer that completes after its caller gave up is discarded, so
// it never answers a later request and never writes into a returned buffer.
#pragma once

#include <cstdint>

#include "modem_device.h"

namespace modemapi {

constexpr DWORD kRequestTimeoutMs = 3000;
constexpr DWORD kIoThreadEndWaitMs = 3000;
constexpr DWORD kInitStepPauseMs = 50;
constexpr size_t kMaxRequestData = shared::kSendHeaderSize + shared::kMaxFrameLength;  // 200: the largest hand-off

// One vendor request as the I/O thread executes it.
struct VendorRequest {
  uint8_t code = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  bool toDevice = false;  // type 0x40 with `data` sent, else 0xC0 reading into `data`
  uint16_t length = 0;
  uint8_t data[kMaxRequestData] = {};

  shared::SetupPacket setup() const {
    return {toDevice ? shared::kRequestTypeOut : shared::kRequestTypeIn, code, value, index, length};
  }
};

class UsbModemDevice : public ModemDevice {
 public:
  UsbModemDevice(uint8_t deviceNumber, uint16_t serial);
  ~UsbModemDevice() override;

  uint8_t Init(uint8_t primaryMaster) override;
  uint8_t Send(uint8_t preambles, uint8_t length, const uint8_t* frame) override;
  uint8_t SetParam(uint8_t value) override;
  uint8_t GetParam(uint8_t* value) override;
  uint8_t StartMessageHandler(vtHART_MessageCallback callback, void* user) override;
  uint8_t Open() override;  // only the transport can open
  uint8_t Close() override;

 protected:
  // Hand one request to the I/O thread: 0 done, 3 transfer failed (or the I/O
  // thread has ended), 6 not done within 3000 ms.
  uint8_t RequestIn(uint8_t code, uint16_t value, uint16_t index, uint8_t* buffer, uint16_t length);
  uint8_t RequestOut(uint8_t code, uint16_t value, uint16_t index, const uint8_t* data, uint16_t length);

  // I/O thread side of the hand-off.
  // Takes the waiting request, if any, into `request`; resets request-ready.
  bool TakeRequest(VendorRequest* request, uint32_t* sequence);
  // Publishes the result of a taken request unless its caller gave up.
  void CompleteRequest(uint32_t sequence, const VendorRequest& request, bool succeeded);
  // Marks the I/O thread as ended and answers a waiting caller with 3.
  void EndRequests();

  win32::UniqueHandle stopEvent_;
  win32::UniqueHandle requestReady_;

 private:
  enum class RequestState { None, Waiting, Taken, Done, Abandoned };

  uint8_t HandOff(VendorRequest& request, uint8_t* inBuffer);

  win32::UniqueHandle requestDone_;
  win32::CriticalSection recordLock_;  // guards the fields below
  VendorRequest record_;
  RequestState state_ = RequestState::None;
  uint32_t sequence_ = 0;
  uint8_t result_ = 0;
  bool ioEnded_ = false;
};

}  // namespace modemapi
