// Applying the configuration: the requests that replace ConfigKey's device
// numbers with the tree's entries, sent over the service's pipe.
#pragma once

#include <cstdint>
#include <vector>

#include "adapter_config.h"

namespace adaptercfg {

using PipeMessage = std::vector<uint8_t>;

// "SerialPort" of an entry: the COM port number, 0 for none.
uint32_t SerialPortValue(uint8_t portByte);

// The whole sequence, in the order the service is to execute it: a deletion
// of each device number 0..239, then "USB-Id" and "SerialPort" of each
// entry under the key of its tree position, then the renumeration. Empty
// when any request would not fit what the service reads.
std::vector<PipeMessage> BuildApplyRequests(const TreeNode& root);

enum class ApplyResult {
  kApplied,             // every request was taken by the service
  kServiceUnreachable,  // nothing was sent
  kIncomplete,          // a request failed after the first one went out
  kTooLong,             // nothing was sent: a request would not fit
};

// Sends the sequence, one CallNamedPipeA transaction per request. Nothing is
// sent unless the service's pipe exists; the sending stops at the first
// request the service did not take.
ApplyResult SendApplyRequests(const std::vector<PipeMessage>& requests);

}  // namespace adaptercfg
