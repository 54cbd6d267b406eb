// Applying the configuration: the requests that replace ConfigKey's device
// numbers with the tree's entries, sent over the service's pipe.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "adapter_config.h"

namespace adaptercfg {

using PipeMessage = std::vector<uint8_t>;

// "SerialPort" of an entry: the COM port number, 0 for none.
uint32_t SerialPortValue(uint8_t portByte);

// The whole sequence, in the order the service is to execute it: "USB-Id"
// and "SerialPort" of each entry under the key of its tree position, then a
// deletion of each device number after the entries' up to 239, in rising
// order, then the renumeration. So a sequence cut short never loses an
// entry: every key holds a complete entry until the values of the new one
// have replaced it, and the first deletion ends the list for its readers
// (they stop at the first missing key). Empty when any request would not
// fit what the service reads.
std::vector<PipeMessage> BuildApplyRequests(const TreeNode& root);

enum class ApplyResult {
  kApplied,             // every request was taken by the service
  kServiceUnreachable,  // nothing was sent
  kIncomplete,          // a request failed after the first one went out
  kTooLong,             // nothing was sent: a request would not fit
};

// Sends the sequence, one CallNamedPipeA transaction per request, on the
// calling thread. Nothing is sent unless the service's pipe exists; the
// sending stops at the first request the service did not take, and before
// the next request once `stop` is set (kIncomplete).
ApplyResult SendApplyRequests(const std::vector<PipeMessage>& requests,
                              const std::atomic<bool>* stop = nullptr);

}  // namespace adaptercfg
