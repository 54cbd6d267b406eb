#include "config_registry_fixture.h"

#include "shared/registry_layout.h"
#include "win32/unique_handle.h"

namespace configtest {

namespace {

win32::UniqueRegKey CreateKey(const std::string& path) {
  win32::UniqueRegKey key;
  LSTATUS status = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                     KEY_ALL_ACCESS | shared::kRegistryView, nullptr, key.put(),
                                     nullptr);
  EXPECT_EQ(status, ERROR_SUCCESS) << path;
  return key;
}

std::string SlotPath(uint8_t number) {
  return std::string(shared::kConfigKeyPath) + "\\" + shared::DeviceNumberKeyName(number);
}

}  // namespace

void ClearAdapterRegistry() {
  win32::UniqueRegKey root;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kAdapterRootKeyPath, 0,
                      KEY_ALL_ACCESS | shared::kRegistryView, root.put()) != ERROR_SUCCESS) {
    return;
  }
  ::RegDeleteTreeA(root.get(), nullptr);
}

void SetSlotValue(uint8_t number, const char* name, DWORD type, const void* data, DWORD size) {
  win32::UniqueRegKey key = CreateKey(SlotPath(number));
  ASSERT_EQ(::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
}

void BindSlot(uint8_t number, uint32_t serial) {
  const DWORD value = serial;
  SetSlotValue(number, shared::kUsbIdValueName, REG_DWORD, &value, sizeof value);
}

void CreateSlot(uint8_t number) { CreateKey(SlotPath(number)); }

void AddEnumValue(const std::string& name, DWORD type, const void* data, DWORD size) {
  win32::UniqueRegKey key = CreateKey(shared::kEnumKeyPath);
  ASSERT_EQ(::RegSetValueExA(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
}

void AttachAdapter(const std::string& path, uint32_t serial) {
  const DWORD value = serial;
  AddEnumValue(path, REG_DWORD, &value, sizeof value);
}

std::string MakeDevicePath(const std::string& tag) {
  char folder[MAX_PATH];
  ::GetTempPathA(sizeof folder, folder);
  std::string path = std::string(folder) + "adapter-" + tag + ".dev";
  win32::UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file.valid()) << path;
  return path;
}

}  // namespace configtest
