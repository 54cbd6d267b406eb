// The rows of the device list: one per HART device the channel's last scan
// found and per child device DTM of the channel, a device and a DTM that
// share a polling address merged into one row.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What a row stands for.
enum DeviceListKind : ULONG {
  kEntryDtm = 1,            // a child DTM only
  kEntryDevice = 2,         // a scanned device only
  kEntryDeviceWithDtm = 3,  // a scanned device with its DTM
};

// The state image of column 1.
enum DeviceListImage : ULONG {
  kImageDevice = 1,
  kImageDeviceWithDtm = 2,
  kImageDtm = 3,
};

struct DeviceListEntry {
  ULONG kind = kEntryDtm;
  ULONG key = 0;  // row key: the row's item data in the list view
  BYTE pollAddress = 0;
  ULONG state = kImageDtm;
  // From the child DTM.
  std::wstring channelName;
  std::wstring dtmTag;
  std::wstring systemTag;
  // From the scan.
  BYTE inUse = 0;
  std::wstring hartTag;
  std::wstring manufacturer;
  std::wstring deviceType;
  ULONG deviceId = 0;  // 24 bits used
  BYTE hardwareRevision = 0;
  BYTE softwareRevision = 0;
};

// The entries in key order. Keys are handed out from 0 in insertion order
// and start again from 0 when the entries are cleared, so an entry's key is
// also its position, and the position of its row.
class DeviceListEntries {
 public:
  void Clear() { entries_.clear(); }
  // A scanned device: appended, never merged with another device.
  void AddDevice(DeviceListEntry entry);
  // A child DTM, merged with the first entry of its polling address:
  // - none: appended;
  // - a DTM: appended as a further row;
  // - a device: that entry becomes the device with its DTM and takes the
  //   DTM's channel name and tags; no row is added;
  // - a device with its DTM: appended as a further row that repeats the
  //   device's scan data.
  void MergeDtm(DeviceListEntry entry);

  const std::vector<DeviceListEntry>& Entries() const { return entries_; }
  // The entry of a row key; null when there is none.
  const DeviceListEntry* Find(ULONG key) const;

 private:
  void Append(DeviceListEntry entry);

  std::vector<DeviceListEntry> entries_;
};

// A device id as six upper-case hexadecimal digits, most significant byte
// first ("0A0B0C").
std::wstring DeviceIdText(ULONG deviceId);
