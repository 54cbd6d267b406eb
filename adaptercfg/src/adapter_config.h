// The adapter configuration as adaptercfg holds it: the device-number tree
// read from ConfigKey, the COM port masks, and what it reads of EnumKey.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace adaptercfg {

constexpr int kMaxDeviceNumbers = 240;  // device numbers 0 .. 239 are shown and written
constexpr int kComPortCount = 32;       // COM1 .. COM32
constexpr uint32_t kAllPorts = 0xFFFFFFFFu;
constexpr uint32_t kNewEntrySerial = 0x2000;
constexpr int kMaxEnumSerials = 32;     // rows of the attached-devices list

constexpr int16_t kNodeTypeRoot = 1;
constexpr int16_t kNodeTypeUsbAdapter = 5;

// Port byte: bit 7 set = a virtual COM port is wanted, bits 0..4 its index.
constexpr uint8_t kPortWanted = 0x80;
constexpr uint8_t kPortIndexMask = 0x1F;

struct AdapterEntry {
  std::string label;   // " Device " + device number + suffix
  std::string suffix;  // always kUsbDeviceSuffix
  uint32_t serial = 0;
  uint8_t portByte = 0;
  int32_t deviceNumber = 0;

  void Relabel();  // rebuilds the label from the device number and suffix
};

extern const char kUsbDeviceSuffix[];  // "  ( USB-Device )"

// One tree item. Children are owned, in device-number order.
struct TreeNode {
  TreeNode* parent = nullptr;
  std::vector<std::unique_ptr<TreeNode>> children;
  int16_t type = kNodeTypeRoot;
  std::unique_ptr<AdapterEntry> entry;  // adapter nodes only

  // Appends an adapter node for `deviceNumber` and answers it.
  TreeNode* AppendAdapter(int32_t deviceNumber, uint32_t serial, uint8_t portByte);
  // Position of `child` in children, or -1.
  int IndexOf(const TreeNode* child) const;
  // Removes and destroys the child at `index` (later ones move up by one).
  void RemoveChild(int index);
};

// Reads ConfigKey's subkeys "0", "1", ... up to "239", stopping at the first
// missing one, into adapter nodes under `root`, and sets the used-port bit of
// every entry with a COM port. A key without a REG_DWORD "USB-Id" is skipped.
void ReadConfiguration(TreeNode& root, uint32_t* usedPortMask);

// "COM" followed by a decimal number n of 1..32 with nothing else: n, else 0.
int ParseComPortName(const char* data, size_t size);
// Whether a SERIALCOMM value name belongs to one of our own virtual ports.
bool IsOwnVirtualPortName(const char* valueName);
// COM ports that HARDWARE\DEVICEMAP\SERIALCOMM lists for something else.
uint32_t ReadForeignPorts();

// Serial-number text as typed: hexadecimal digits only (blanks around them
// allowed), at most 0xFFFF. False for anything else.
bool ParseSerialText(const std::string& text, uint32_t* serial);
std::string FormatSerial(uint32_t serial);  // "%X"

// The REG_DWORD values of EnumKey in enumeration order: device path and serial.
// Values of another type are passed over; a missing key is an empty list.
struct AttachedAdapter {
  std::string devicePath;
  uint32_t serial = 0;
};
std::vector<AttachedAdapter> ReadAttachedAdapters(size_t maxCount);

// Whether the device path of an EnumKey value cannot be opened exclusively,
// that is, another program holds the adapter open.
bool IsDevicePathInUse(const std::string& devicePath);
bool AnyAttachedAdapterInUse();

}  // namespace adaptercfg
