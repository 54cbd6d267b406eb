#include "apply.h"

#include <string>

#include "shared/registry_layout.h"
#include "shared/service_pipe.h"

namespace adaptercfg {

uint32_t SerialPortValue(uint8_t portByte) {
  return (portByte & kPortWanted) ? (portByte & kPortIndexMask) + 1u : 0u;
}

std::vector<PipeMessage> BuildApplyRequests(const TreeNode& root) {
  std::vector<PipeMessage> requests;
  for (int n = 0; n < kMaxDeviceNumbers; ++n)
    requests.push_back(shared::BuildDeleteKeyRequest(std::to_string(n)));
  for (size_t i = 0; i < root.children.size() && i < static_cast<size_t>(kMaxDeviceNumbers); ++i) {
    const AdapterEntry* entry = root.children[i]->entry.get();
    if (!entry) continue;
    const std::string key = std::to_string(i);
    requests.push_back(shared::BuildSetDwordRequest(key, shared::kUsbIdValueName, entry->serial));
    requests.push_back(
        shared::BuildSetDwordRequest(key, shared::kSerialPortValueName, SerialPortValue(entry->portByte)));
  }
  requests.push_back(shared::BuildRenumerateRequest());
  for (const PipeMessage& request : requests)
    if (request.empty()) return {};
  return requests;
}

ApplyResult SendApplyRequests(const std::vector<PipeMessage>& requests) {
  if (requests.empty()) return ApplyResult::kTooLong;
  // The deletions come first: they must not go out unless the service is
  // there to take the values after them.
  if (!WaitNamedPipeA(shared::kServicePipeName, shared::kServicePipeClientTimeoutMs))
    return ApplyResult::kServiceUnreachable;
  bool first = true;
  for (const PipeMessage& request : requests) {
    if (!shared::SendServicePipeRequest(request))
      return first ? ApplyResult::kServiceUnreachable : ApplyResult::kIncomplete;
    first = false;
  }
  return ApplyResult::kApplied;
}

}  // namespace adaptercfg
