// What the tests of the address controls share: device DTMs placed below
// the DTM's HART channel (the child DTM double in the frame's topology,
// added through the channel's sub-topology), field devices on the
// simulated adapter's line, and the channel's address assignment.
#pragma once

#include <cstdint>
#include <string>

#include "controls_fixture.h"

namespace hartdtmtest {

class AddressControlsFixture : public ControlsFixture {
 protected:
  // A device DTM with this tag and slave address (none for -1) in the
  // frame's topology, added below the channel; the channel then reads it
  // into its child table and runs the DTM's DeviceDtmAdded.
  devicedtm_double::ChildDtm* AddChild(const wchar_t* systemTag, const wchar_t* dtmTag, int address);
  // A field device on the adapter's line (after GoOnline or BindDeviceNumber).
  void AddDevice(uint8_t pollingAddress, uint32_t deviceId);
  // Its polling address as the simulated line knows it now.
  int PollingAddressOf(uint32_t deviceId);
  // The child table's tag and address of a system tag ("<none>" when the
  // channel has no entry).
  std::wstring ChildEntry(const wchar_t* systemTag);
  // The channel's address assignment of one device, the user asked
  // (showUserInterface "openUserInterface"); the answer document.
  std::wstring AssignAddressByUser(const wchar_t* systemTag);
};

// The address controls as a reader sees them (PNG files in screenshots\).
class AddressControlScreenshots : public AddressControlsFixture {};

}  // namespace hartdtmtest
