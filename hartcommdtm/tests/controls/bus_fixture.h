// The controls' fixture with a HART bus: the DTM online on the simulated
// adapter, field devices on its line, child device DTMs in the frame
// double's topology below the DTM's channel, and device DTMs that hold a
// device through a connection. Also the cells of a list view.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "controls_fixture.h"
#include "device_dtm.h"
#include "sim/sim_control.h"

namespace hartdtmtest {

class BusControlsFixture : public ControlsFixture {
 protected:
  void TearDown() override;

  // Online (state 12) on the simulated adapter; an address nobody answers
  // is reported silent after 1 ms, so that a scan does not wait out the
  // channel's receive time-out.
  void GoOnlineOnBus();
  // A field device of HART revision 7 on the line; answers after delayMs.
  SimFieldDevice AddDevice(uint8_t address, uint32_t deviceId, const char* tag, uint32_t delayMs = 0);
  SimFieldDevice Device(uint32_t deviceId);

  // A child DTM with its tag and address in the frame's topology; the
  // frame lists the children added so far below the DTM's channel.
  void AddChildDtm(const std::wstring& systemTag, const std::wstring& dtmTag, int address);

  // A device DTM connected to the device at the address (a connection of
  // the channel holds it); false when the connect failed.
  bool ConnectDeviceDtm(uint8_t address);

 private:
  std::vector<std::wstring> childTags_;
  std::vector<com::ComPtr<IChildCommunicationEvents>> deviceDtms_;
  unsigned invoke_ = 1;
};

}  // namespace hartdtmtest
