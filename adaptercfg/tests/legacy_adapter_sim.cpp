#include "legacy_adapter_sim.h"

#include <cstring>

namespace adaptercfg_test {

using namespace adaptercfg;

namespace {
constexpr DWORD kPauseGuardMs = 30000;  // a test that never releases must not hang
}

LegacyAdapterSim::LegacyAdapterSim() : release_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

LegacyAdapterSim::Adapter& LegacyAdapterSim::Add(const std::string& deviceName, uint16_t productId,
                                                 bool oldFirmware, uint8_t firstByte) {
  auto adapter = std::make_unique<Adapter>();
  const uint8_t descriptor[18] = {18, 1, 0x10, 0x01, 0, 0, 0, 64, 0xCC, 0x08,
                                  static_cast<uint8_t>(productId), static_cast<uint8_t>(productId >> 8),
                                  0, 0, 0, 0, 0, 1};
  std::memcpy(adapter->descriptor, descriptor, sizeof descriptor);
  adapter->status[3] = oldFirmware ? 1 : 0;
  adapter->eeprom[0] = firstByte;
  Adapter& ref = *adapter;
  adapters_[deviceName] = std::move(adapter);
  return ref;
}

HANDLE LegacyAdapterSim::Open(const std::string& deviceName) {
  attempts_.push_back(deviceName);
  if (!adapters_.count(deviceName)) return INVALID_HANDLE_VALUE;
  for (const auto& open : open_)
    if (open.second == deviceName) return INVALID_HANDLE_VALUE;  // opened without sharing
  HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
  nextHandle_ += 4;
  open_[handle] = deviceName;
  return handle;
}

void LegacyAdapterSim::Close(HANDLE device) { open_.erase(device); }

bool LegacyAdapterSim::Control(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                               DWORD* returned) {
  *returned = 0;
  auto found = open_.find(device);
  if (found == open_.end()) return false;
  Adapter& a = *adapters_.at(found->second);
  if (a.failControlCalls > 0) {
    --a.failControlCalls;
    return false;
  }
  auto* answer = static_cast<uint8_t*>(out);
  switch (code) {
    case kIoctlGetDeviceDescriptor:
      if (outSize < sizeof a.descriptor) return false;
      std::memcpy(answer, a.descriptor, sizeof a.descriptor);
      *returned = sizeof a.descriptor;
      return true;
    case kIoctlGetStatus:
      if (outSize < sizeof a.status) return false;
      std::memcpy(answer, a.status, sizeof a.status);
      *returned = sizeof a.status;
      return true;
    case kIoctlDownload:
      ++a.downloadRequests;
      if (a.failDownload || !in || inSize == 0) return false;
      a.loader.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
      return true;
    case kIoctlVendorRequest: {
      if (!in || inSize != kVendorRequestSize || !answer) return false;
      const auto* block = static_cast<const uint8_t*>(in);
      const uint16_t value = static_cast<uint16_t>(block[1] | block[2] << 8);
      const uint16_t index = static_cast<uint16_t>(block[3] | block[4] << 8);
      if (index >= kEepromSize) return false;
      if (a.controlFailures[index] > 0) {
        --a.controlFailures[index];
        return false;
      }
      if (block[0] == kRequestReadEeprom && outSize >= 2) {
        ++a.readCount;
        std::memset(answer, 0, outSize);
        answer[0] = a.eeprom[index];
        answer[1] = kEepromStatusOk;
        if (a.readFailures[index] > 0) {
          --a.readFailures[index];
          answer[1] = 0;
        }
        *returned = a.shortAnswers ? outSize - 1 : outSize;
        return true;
      }
      if (block[0] == kRequestWriteEeprom && outSize >= 1) {
        ++a.writeCount;
        a.writerThreads.insert(GetCurrentThreadId());
        if (a.pauseAtWrites.count(a.writeCount)) {
          ++pausesReached_;
          if (WaitForSingleObject(release_.get(), kPauseGuardMs) != WAIT_OBJECT_0) ++pausesTimedOut_;
        }
        answer[0] = kEepromStatusOk;
        if (a.loader.empty() || a.writeFailures[index] > 0) {  // no loader: the EEPROM cannot be written
          if (a.writeFailures[index] > 0) --a.writeFailures[index];
          answer[0] = 0;
        } else if (a.corruptWrites[index] > 0) {
          --a.corruptWrites[index];
          a.eeprom[index] = static_cast<uint8_t>(~value);
        } else {
          a.eeprom[index] = static_cast<uint8_t>(value);
        }
        *returned = a.shortAnswers ? 0 : 1;
        return true;
      }
      return false;
    }
  }
  return false;
}

}  // namespace adaptercfg_test
