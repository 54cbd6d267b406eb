#include "controls/device_list_entries.h"

#include <cwchar>

void DeviceListEntries::Append(DeviceListEntry entry) {
  entry.key = static_cast<ULONG>(entries_.size());
  entries_.push_back(std::move(entry));
}

void DeviceListEntries::AddDevice(DeviceListEntry entry) {
  entry.kind = kEntryDevice;
  entry.state = kImageDevice;
  Append(std::move(entry));
}

void DeviceListEntries::MergeDtm(DeviceListEntry entry) {
  entry.kind = kEntryDtm;
  entry.state = kImageDtm;
  for (DeviceListEntry& found : entries_) {
    if (found.pollAddress != entry.pollAddress) continue;
    if (found.kind == kEntryDevice) {
      found.kind = kEntryDeviceWithDtm;
      found.state = kImageDeviceWithDtm;
      found.channelName = entry.channelName;
      found.dtmTag = entry.dtmTag;
      found.systemTag = entry.systemTag;
      return;
    }
    if (found.kind == kEntryDeviceWithDtm) {
      entry.inUse = found.inUse;
      entry.hartTag = found.hartTag;
      entry.manufacturer = found.manufacturer;
      entry.deviceType = found.deviceType;
      entry.deviceId = found.deviceId;
      entry.hardwareRevision = found.hardwareRevision;
      entry.softwareRevision = found.softwareRevision;
    }
    break;
  }
  Append(std::move(entry));
}

const DeviceListEntry* DeviceListEntries::Find(ULONG key) const {
  return key < entries_.size() ? &entries_[key] : nullptr;
}

std::wstring DeviceIdText(ULONG deviceId) {
  wchar_t text[8] = {};
  std::swprintf(text, 8, L"%02X%02X%02X", static_cast<unsigned>((deviceId >> 16) & 0xFF),
                static_cast<unsigned>((deviceId >> 8) & 0xFF), static_cast<unsigned>(deviceId & 0xFF));
  return text;
}
