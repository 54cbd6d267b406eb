// A simulated adapter plugged in and bound to a device number the way the
// plug-and-play service writes it, so that the DTM's channel opens it when
// going online; and the modem interface library beside the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hartdtmtest {

class SimulatedAdapter {
 public:
  static constexpr uint16_t kSerial = 0x1234;

  // No device configured yet; modemapi.dll beside the program is the real
  // library.
  SimulatedAdapter();
  // Unplugs the adapter and removes the configuration.
  ~SimulatedAdapter();
  SimulatedAdapter(const SimulatedAdapter&) = delete;
  SimulatedAdapter& operator=(const SimulatedAdapter&) = delete;

  // modemapi.dll beside the program becomes a copy of that file (null: none).
  static void UseLibrary(const wchar_t* file);
  // Device number `number` bound to the adapter, which is plugged in; with
  // another serial, to another adapter of its own.
  void Bind(int number, uint16_t serial = kSerial);
  // The device file of the adapter bound last, opened exclusively while the
  // library uses it.
  const std::string& DevicePath() const { return devicePath_; }

 private:
  std::string devicePath_;
  std::vector<uint16_t> plugged_;
};

}  // namespace hartdtmtest
