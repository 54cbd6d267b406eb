// The one operation the adapter protocol needs from a USB transport.
#pragma once

#include <cstdint>

#include "shared/adapter_protocol.h"

namespace modemapi {

class ControlPort {
 public:
  virtual ~ControlPort() = default;
  // One control transfer; `data` holds setup.length bytes to send (type 0x40)
  // or room for them (type 0xC0). True when the transport reports success.
  virtual bool ControlTransfer(const shared::SetupPacket& setup, uint8_t* data) = 0;
};

}  // namespace modemapi
