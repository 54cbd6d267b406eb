// The channel's found-device table: the devices that polling and connects
// identified, in the order found. Written on the channel's worker, read by
// the channel's interface on the apartment thread: every access takes the
// table's lock and readers get copies.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win32/unique_handle.h"

namespace hartdtm {

struct HartDeviceEntry {
  uint32_t deviceId = 0;  // (id1 << 16) | (id2 << 8) | id3
  bool inUse = false;
  uint8_t pollingAddress = 0;
  std::wstring tag;
  uint8_t manufacturerId = 0;
  uint8_t deviceType = 0;
  uint8_t hardwareRevision = 0;
  uint8_t softwareRevision = 0;
  uint8_t preambleCount = 5;  // 5..20
  uint8_t universalRevision = 0;
  uint8_t deviceRevision = 0;
  uint8_t flags = 0;
  uint8_t physicalSignalling = 0;
};

class FoundDeviceTable {
 public:
  void Add(const HartDeviceEntry& entry);
  void Clear();
  size_t Count() const;
  // A copy of the entry at index; false past the end.
  bool CopyAt(size_t index, HartDeviceEntry* out) const;
  // Index of the entry of this manufacturer, device type and device id; -1.
  int Find(uint8_t manufacturerId, uint8_t deviceType, uint32_t deviceId) const;
  bool SetInUse(size_t index, bool inUse);
  // Copies of every entry, in table order.
  std::vector<HartDeviceEntry> Snapshot() const;
  // The first entry at polling address `from` moves to `to`; false if none.
  bool MoveFirstAt(uint8_t from, uint8_t to);

 private:
  mutable win32::CriticalSection lock_;
  std::vector<HartDeviceEntry> entries_;
};

// The identity fields of a command 0 answer as the channel reads them.
struct Command0Answer {
  uint8_t manufacturerId = 0;
  uint8_t deviceType = 0;
  uint8_t preambleCount = 0;  // as reported
  uint8_t universalRevision = 0;
  uint8_t deviceRevision = 0;
  uint8_t softwareRevision = 0;
  uint8_t hardwareRevision = 0;
  uint8_t physicalSignalling = 0;
  uint8_t flags = 0;
  uint8_t deviceId[3] = {0, 0, 0};
};

// Shortest command 0 answers accepted (checksum included).
constexpr size_t kShortCommand0AnswerMin = 19;
constexpr size_t kLongCommand0AnswerMin = 23;

// Reads a command 0 answer frame in the short-address (longAddress false)
// or long-address layout. False when it is shorter than the layout's
// shortest answer.
bool ReadCommand0Answer(const uint8_t* frame, size_t length, bool longAddress, Command0Answer* out);

// The preamble count a device asks for, kept within 5..20.
uint8_t ClampPreambles(uint8_t count);

}  // namespace hartdtm
