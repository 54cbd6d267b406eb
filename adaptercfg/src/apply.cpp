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
  int kept = 0;  // keys 0 .. kept-1 get the entries, in tree order
  for (const auto& child : root.children) {
    const AdapterEntry* entry = child->entry.get();
    if (!entry || kept == kMaxDeviceNumbers) continue;
    const std::string key = std::to_string(kept++);
    requests.push_back(shared::BuildSetDwordRequest(key, shared::kUsbIdValueName, entry->serial));
    requests.push_back(
        shared::BuildSetDwordRequest(key, shared::kSerialPortValueName, SerialPortValue(entry->portByte)));
  }
  for (int n = kept; n < kMaxDeviceNumbers; ++n)
    requests.push_back(shared::BuildDeleteKeyRequest(std::to_string(n)));
  requests.push_back(shared::BuildRenumerateRequest());
  for (const PipeMessage& request : requests)
    if (request.empty()) return {};
  return requests;
}

ApplyResult SendApplyRequests(const std::vector<PipeMessage>& requests, const std::atomic<bool>* stop) {
  if (requests.empty()) return ApplyResult::kTooLong;
  if (!WaitNamedPipeA(shared::kServicePipeName, shared::kServicePipeClientTimeoutMs))
    return ApplyResult::kServiceUnreachable;
  bool first = true;
  for (const PipeMessage& request : requests) {
    if (stop && *stop) return ApplyResult::kIncomplete;
    if (!shared::SendServicePipeRequest(request))
      return first ? ApplyResult::kServiceUnreachable : ApplyResult::kIncomplete;
    first = false;
  }
  return ApplyResult::kApplied;
}

}  // namespace adaptercfg
