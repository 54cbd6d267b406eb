#include "channel/found_devices.h"

#include "hart/identity.h"

namespace hartdtm {

void FoundDeviceTable::Add(const HartDeviceEntry& entry) {
  win32::CsLock hold(lock_);
  entries_.push_back(entry);
}

void FoundDeviceTable::Clear() {
  win32::CsLock hold(lock_);
  entries_.clear();
}

size_t FoundDeviceTable::Count() const {
  win32::CsLock hold(lock_);
  return entries_.size();
}

bool FoundDeviceTable::CopyAt(size_t index, HartDeviceEntry* out) const {
  if (!out) return false;
  win32::CsLock hold(lock_);
  if (index >= entries_.size()) return false;
  *out = entries_[index];
  return true;
}

int FoundDeviceTable::Find(uint8_t manufacturerId, uint8_t deviceType, uint32_t deviceId) const {
  win32::CsLock hold(lock_);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const HartDeviceEntry& e = entries_[i];
    if (e.manufacturerId == manufacturerId && e.deviceType == deviceType && e.deviceId == deviceId)
      return static_cast<int>(i);
  }
  return -1;
}

bool FoundDeviceTable::SetInUse(size_t index, bool inUse) {
  win32::CsLock hold(lock_);
  if (index >= entries_.size()) return false;
  entries_[index].inUse = inUse;
  return true;
}

bool ReadCommand0Answer(const uint8_t* frame, size_t length, bool longAddress, Command0Answer* out) {
  if (!frame || !out) return false;
  if (length < (longAddress ? kLongCommand0AnswerMin : kShortCommand0AnswerMin)) return false;
  // Data after the two status bytes: byte 6 of a short answer, 10 of a long one.
  const size_t data = longAddress ? 10 : 6;
  hart::Identity identity;
  // The expansion byte is not checked: the fields stand at fixed places.
  uint8_t copy[hart::kCommand0MinData];
  for (size_t i = 0; i < hart::kCommand0MinData; ++i) copy[i] = frame[data + i];
  copy[0] = hart::kCommand0Expansion;
  if (!hart::DecodeCommand0Data(copy, sizeof copy, identity)) return false;
  out->manufacturerId = identity.manufacturerId;
  out->deviceType = identity.deviceType;
  out->preambleCount = identity.preambles;
  out->universalRevision = identity.hartRevision;
  out->deviceRevision = identity.deviceRevision;
  out->softwareRevision = identity.softwareRevision;
  out->hardwareRevision = identity.hardwareRevision;
  out->physicalSignalling = identity.physicalSignalling;
  out->flags = identity.flags;
  out->deviceId[0] = static_cast<uint8_t>(identity.deviceId >> 16);
  out->deviceId[1] = static_cast<uint8_t>(identity.deviceId >> 8);
  out->deviceId[2] = static_cast<uint8_t>(identity.deviceId);
  return true;
}

uint8_t ClampPreambles(uint8_t count) {
  if (count < 5) return 5;
  if (count > 20) return 20;
  return count;
}

std::vector<HartDeviceEntry> FoundDeviceTable::Snapshot() const {
  win32::CsLock hold(lock_);
  return entries_;
}

bool FoundDeviceTable::MoveFirstAt(uint8_t from, uint8_t to) {
  win32::CsLock hold(lock_);
  for (HartDeviceEntry& entry : entries_) {
    if (entry.pollingAddress != from) continue;
    entry.pollingAddress = to;
    return true;
  }
  return false;
}

}  // namespace hartdtm
