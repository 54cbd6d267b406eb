#include "adapter_config.h"

#include <cstdio>
#include <cstring>

#include "shared/registry_layout.h"
#include "win32/unique_handle.h"

namespace adaptercfg {

const char kUsbDeviceSuffix[] = "  ( USB-Device )";

namespace {

constexpr size_t kLabelMax = 31;         // label and suffix hold at most 31 characters
constexpr DWORD kEnumValueNameMax = 1000;  // device paths of EnumKey

bool QueryDword(HKEY key, const char* name, DWORD* value) {
  DWORD type = 0, size = sizeof(*value);
  return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof(*value);
}

}  // namespace

void AdapterEntry::Relabel() {
  label = " Device " + std::to_string(deviceNumber) + suffix;
  if (label.size() > kLabelMax) label.resize(kLabelMax);
}

TreeNode* TreeNode::AppendAdapter(int32_t deviceNumber, uint32_t serial, uint8_t portByte) {
  auto node = std::make_unique<TreeNode>();
  node->parent = this;
  node->type = kNodeTypeUsbAdapter;
  node->entry = std::make_unique<AdapterEntry>();
  node->entry->suffix = kUsbDeviceSuffix;
  node->entry->serial = serial;
  node->entry->portByte = portByte;
  node->entry->deviceNumber = deviceNumber;
  node->entry->Relabel();
  children.push_back(std::move(node));
  return children.back().get();
}

int TreeNode::IndexOf(const TreeNode* child) const {
  for (size_t i = 0; i < children.size(); ++i)
    if (children[i].get() == child) return static_cast<int>(i);
  return -1;
}

void TreeNode::RemoveChild(int index) {
  if (index < 0 || static_cast<size_t>(index) >= children.size()) return;
  children.erase(children.begin() + index);
}

void ReadConfiguration(TreeNode& root, uint32_t* usedPortMask) {
  for (int n = 0; n < kMaxDeviceNumbers; ++n) {
    const std::string path = std::string(shared::kConfigKeyPath) + "\\" + std::to_string(n);
    win32::UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | shared::kRegistryView, key.put()) !=
        ERROR_SUCCESS)
      break;
    DWORD serial = 0;
    if (!QueryDword(key.get(), shared::kUsbIdValueName, &serial)) continue;
    TreeNode* node = root.AppendAdapter(n, serial, 0);
    DWORD port = 0;
    if (QueryDword(key.get(), shared::kSerialPortValueName, &port) && (port & 0xFF) != 0) {
      const uint8_t index = static_cast<uint8_t>(((port & 0xFF) - 1) & kPortIndexMask);
      *usedPortMask |= 1u << index;
      node->entry->portByte = kPortWanted | index;
    }
  }
}

int ParseComPortName(const char* data, size_t size) {
  std::string text(data, strnlen(data, size));
  if (text.size() < 4 || text.compare(0, 3, "COM") != 0) return 0;
  int n = 0;
  if (std::sscanf(text.c_str() + 3, "%d", &n) != 1) return 0;
  char printed[16];
  std::snprintf(printed, sizeof printed, "COM%d", n);
  if (text != printed || n < 1 || n > kComPortCount) return 0;
  return n;
}

bool IsOwnVirtualPortName(const char* valueName) {
  return std::strncmp(valueName, "\\Device\\_evHART_USB", 19) == 0 ||
         std::strncmp(valueName, "\\Device\\_evHART2USB", 19) == 0;
}

uint32_t ReadForeignPorts() {
  win32::UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS)
    return 0;
  DWORD valueCount = 0, nameMax = 0, dataMax = 0;
  if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, &nameMax,
                       &dataMax, nullptr, nullptr) != ERROR_SUCCESS)
    return 0;
  std::vector<char> name(nameMax + 1);
  std::vector<char> data(dataMax + 1);
  uint32_t mask = 0;
  for (DWORD i = 0; i < valueCount; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = dataMax, type = 0;
    std::fill(data.begin(), data.end(), 0);
    if (RegEnumValueA(key.get(), i, name.data(), &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                      &dataSize) != ERROR_SUCCESS)
      continue;
    if (type != REG_SZ || dataSize < 5 || IsOwnVirtualPortName(name.data())) continue;
    const int n = ParseComPortName(data.data(), dataSize);
    if (n) mask |= 1u << (n - 1);
  }
  return mask;
}

bool ParseSerialText(const std::string& text, uint32_t* serial) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  const size_t last = text.find_last_not_of(" \t");
  const std::string digits = text.substr(first, last - first + 1);
  if (digits.size() > 8) return false;
  uint32_t value = 0;
  for (char c : digits) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  if (value > 0xFFFF) return false;  // serials are 16 bits; the service refuses more
  *serial = value;
  return true;
}

std::string FormatSerial(uint32_t serial) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(serial));
  return text;
}

std::vector<AttachedAdapter> ReadAttachedAdapters(size_t maxCount) {
  std::vector<AttachedAdapter> adapters;
  win32::UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kEnumKeyPath, 0, KEY_QUERY_VALUE | shared::kRegistryView,
                    key.put()) != ERROR_SUCCESS)
    return adapters;
  char name[kEnumValueNameMax + 1];
  for (DWORD index = 0; adapters.size() < maxCount; ++index) {
    DWORD nameSize = sizeof name, type = 0, serial = 0, dataSize = sizeof serial;
    const LONG result = RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(&serial), &dataSize);
    // A value with more than 4 bytes of data is not an adapter; it must not
    // end the walk and hide the adapters listed after it.
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    if (type != REG_DWORD || dataSize != sizeof serial) continue;
    adapters.push_back({std::string(name, nameSize), serial});
  }
  return adapters;
}

bool IsDevicePathInUse(const std::string& devicePath) {
  win32::UniqueFile file(CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED, nullptr));
  return !file.valid();
}

bool AnyAttachedAdapterInUse() {
  for (const AttachedAdapter& adapter : ReadAttachedAdapters(SIZE_MAX))
    if (IsDevicePathInUse(adapter.devicePath)) return true;
  return false;
}

}  // namespace adaptercfg
