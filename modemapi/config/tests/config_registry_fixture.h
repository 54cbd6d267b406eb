// Test helpers that play the service's part in the registry: they write
// ConfigKey and EnumKey (HKLM, 32-bit view) and make device files that stand
// for attached adapters.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace configtest {

// Removes everything under the adapter root key.
void ClearAdapterRegistry();
// ConfigKey\<number> with "USB-Id" = serial (REG_DWORD).
void BindSlot(uint8_t number, uint32_t serial);
// ConfigKey\<number> with an arbitrary value.
void SetSlotValue(uint8_t number, const char* name, DWORD type, const void* data, DWORD size);
// ConfigKey\<number> without values.
void CreateSlot(uint8_t number);
// EnumKey value <path> = serial (REG_DWORD).
void AttachAdapter(const std::string& path, uint32_t serial);
// EnumKey value of another type.
void AddEnumValue(const std::string& name, DWORD type, const void* data, DWORD size);

// A fresh file in the temporary folder that stands for an adapter's device
// path (the name carries the tag).
std::string MakeDevicePath(const std::string& tag);

// Test base: a clean adapter registry before and after every case.
class AdapterRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearAdapterRegistry(); }
  void TearDown() override { ClearAdapterRegistry(); }
};

}  // namespace configtest
