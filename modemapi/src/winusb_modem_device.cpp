#include "winusb_modem_device.h"

#include "firmware_download.h"
#include "modemapi/adapter_registry.h"
#include "shared/status_codes.h"
#include "win32/callback_guard.h"

namespace modemapi {

using namespace shared;

namespace {

// Errors with which a transfer tells that the adapter has left: the I/O
// thread then ends as for a removal instead of polling a dead handle.
bool IsRemovalError(DWORD error) {
  return error == ERROR_BAD_COMMAND || error == ERROR_DEVICE_NOT_CONNECTED;
}

}  // namespace

WinUsbModemDevice::WinUsbModemDevice(uint8_t deviceNumber, uint16_t serial)
    : UsbModemDevice(deviceNumber, serial) {
  holdsWinUsb_ = AcquireWinUsb(&winUsb_);
}

WinUsbModemDevice::~WinUsbModemDevice() {
  // The I/O thread uses this object until it ends; never destroy it earlier.
  if (ioThread_) {
    ::SetEvent(stopEvent_.get());
    ::WaitForSingleObject(ioThread_.get(), INFINITE);
    ioThread_.reset();
  }
  CloseTransport();
  if (holdsWinUsb_) ReleaseWinUsb();
}

void WinUsbModemDevice::CloseTransport() {
  if (interface_ != nullptr) {
    winUsb_.free(interface_);
    interface_ = nullptr;
  }
  deviceHandle_.reset();
  if (ownershipEvent_) ReleaseDeviceEvent(ownershipEvent_);
}

bool WinUsbModemDevice::ControlTransfer(const SetupPacket& setup, uint8_t* data) {
  ULONG transferred = 0;
  if (winUsb_.controlTransfer(interface_, setup, data, setup.length, &transferred, nullptr)) return true;
  if (IsRemovalError(::GetLastError())) removed_ = true;
  return false;
}

uint8_t WinUsbModemDevice::Open() {
  char path[kDevicePathBufferSize];
  if (!FindDevicePathBySerial(path, sizeof path, serial_)) return kStatusNotFound;

  const uint8_t claim = ClaimDeviceEvent(serial_, ownershipEvent_);
  if (claim != kStatusOk) return claim;

  deviceHandle_.reset(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
  if (!deviceHandle_) {
    const DWORD error = ::GetLastError();
    ReleaseDeviceEvent(ownershipEvent_);
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY) return kStatusInUse;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kStatusNotFound;
    return kStatusNotConfigured;
  }

  if (!holdsWinUsb_ || !winUsb_.initialize(deviceHandle_.get(), &interface_)) {
    interface_ = nullptr;
    CloseTransport();
    return kStatusNotConfigured;
  }

  if (!DownloadFirmware(*this, kFirmwareImage, kFirmwareImageSize)) {
    CloseTransport();
    return kStatusNotConfigured;
  }

  ioThread_.reset(::CreateThread(nullptr, 0, &WinUsbModemDevice::IoThreadProc, this, 0, nullptr));
  if (!ioThread_) {
    CloseTransport();
    return kStatusNotConfigured;
  }
  ::SetThreadPriority(ioThread_.get(), THREAD_PRIORITY_TIME_CRITICAL);
  return kStatusOk;
}

uint8_t WinUsbModemDevice::Init(uint8_t primaryMaster) {
  const uint8_t status = UsbModemDevice::Init(primaryMaster);
  if (status == kStatusOk) pollingEnabled_.store(true);
  return status;
}

DWORD WINAPI WinUsbModemDevice::IoThreadProc(void* self) {
  return win32::guard(DWORD{1}, [&] {
    static_cast<WinUsbModemDevice*>(self)->IoThread();
    return DWORD{0};
  });
}

void WinUsbModemDevice::IoThread() {
  // A loop that raised ends the device's I/O as a removal would: the
  // latch, the transport and the waiting requests are seen to below.
  win32::guard([&] {
    while (::WaitForSingleObject(stopEvent_.get(), 0) != WAIT_OBJECT_0 && !removed_) {
      if (::WaitForSingleObject(requestReady_.get(), kIoIdleWaitMs) == WAIT_OBJECT_0) {
        VendorRequest request;
        uint32_t sequence = 0;
        if (TakeRequest(&request, &sequence)) {
          const bool succeeded = ControlTransfer(request.setup(), request.data);
          CompleteRequest(sequence, request, succeeded);
        }
      } else if (pollingEnabled_.load()) {
        if (!PollReceive() && !removed_) ::Sleep(kFailedPollPauseMs);
      }
    }
  });

  if (latchedError() == 0) {
    Latch(kStatusDeviceRemoved);
    QueueStatus(kStatusDeviceRemoved);
  }
  CloseTransport();
  EndRequests();
}

bool WinUsbModemDevice::PollReceive() {
  uint8_t waiting = 0;
  if (!ControlTransfer({kRequestTypeIn, kReqReceivePoll, 0, 0, 1}, &waiting)) {
    if (!removed_) QueueStatus(kStatusIoError);
    return false;
  }
  if (waiting == 0) return true;
  if (waiting > kMaxFrameLength) waiting = kMaxFrameLength;

  ReceiveRingEntry entry = {};
  const uint16_t replyLength = static_cast<uint16_t>(waiting + kReplyDataOffset);
  if (!ControlTransfer({kRequestTypeIn, kReqReceiveReply, 0, 0, replyLength}, entry.reply())) {
    if (!removed_) QueueStatus(kStatusIoError);
    return false;
  }
  // A length byte beyond what the poll announced cannot be trusted: the data
  // behind it was never read. Report the entry as a failed receive.
  entry.status() = entry.reply()[kReplyLengthOffset] > waiting ? kStatusIoError : kStatusOk;
  QueueFrame(entry);
  return true;
}

}  // namespace modemapi
