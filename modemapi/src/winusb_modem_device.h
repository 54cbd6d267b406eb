// WinUsbModemDevice: the adapter reached through WinUSB.
//
// Open finds the adapter's device path by its serial, takes its ownership
// event, opens the path exclusively, initialises WinUSB on it, downloads the
// firmware and starts the I/O thread. The I/O thread executes the handed-off
// requests and, between them, polls the adapter for received frames.
#pragma once

#include <cstdint>

#include "control_port.h"
#include "usb_modem_device.h"
#include "winusb_library.h"

namespace modemapi {

constexpr DWORD kIoIdleWaitMs = 10;
constexpr DWORD kFailedPollPauseMs = 200;

class WinUsbModemDevice : public UsbModemDevice, private ControlPort {
 public:
  WinUsbModemDevice(uint8_t deviceNumber, uint16_t serial);
  ~WinUsbModemDevice() override;

  uint8_t Init(uint8_t primaryMaster) override;
  uint8_t Open() override;

 private:
  static DWORD WINAPI IoThreadProc(void* self);
  void IoThread();
  // One receive poll; false when the adapter is gone.
  bool PollReceive();
  // Releases what Open took, in reverse order.
  void CloseTransport();

  // ControlPort: one transfer on the interface; remembers a removal.
  bool ControlTransfer(const shared::SetupPacket& setup, uint8_t* data) override;

  bool holdsWinUsb_ = false;
  WinUsbEntryPoints winUsb_;
  WinUsbInterfaceHandle interface_ = nullptr;
  std::atomic<bool> pollingEnabled_{false};
  bool removed_ = false;  // I/O thread only: a transfer found the adapter gone
};

}  // namespace modemapi
