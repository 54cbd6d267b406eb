// Device numbers whose adapter a channel of this process has open.
//
// The library keeps one open adapter per device number and process: a
// second vtHART_DeviceInit of a number that is open reopens the adapter
// under the first user, and either one's vtHART_CloseDevice closes it for
// both. So two DTMs in one frame process never share a device number: the
// first to open it holds the claim until it closes the adapter, and the
// second is refused.
#pragma once

#include <cstdint>

class AdapterClaim {
 public:
  AdapterClaim() = default;
  ~AdapterClaim() { Release(); }
  AdapterClaim(const AdapterClaim&) = delete;
  AdapterClaim& operator=(const AdapterClaim&) = delete;

  // Claims the device number for this holder (giving back one it held);
  // false when another holder has it.
  bool Take(uint8_t deviceNumber);
  // Gives the claim back; nothing when none is held.
  void Release();

 private:
  int number_ = -1;
};
