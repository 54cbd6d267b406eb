#include <windows.h>
#include <aclapi.h>

#include <cstring>
#include <string>

#include "config_registry_fixture.h"
#include "modemapi/adapter_registry.h"
#include "shared/named_events.h"

namespace {

using configtest::AdapterRegistryTest;

struct Row {
  uint8_t bytes[7];
};

Row Expected(std::initializer_list<uint8_t> values) {
  Row row{};
  std::copy(values.begin(), values.end(), row.bytes);
  return row;
}

void ExpectRow(const uint8_t* actual, const Row& expected) {
  EXPECT_EQ(0, std::memcmp(actual, expected.bytes, 7))
      << int(actual[0]) << " " << int(actual[1]) << " " << int(actual[2]) << " " << int(actual[3])
      << " " << int(actual[4]) << " " << int(actual[5]) << " " << int(actual[6]);
}

using DriverConfiguration = AdapterRegistryTest;

TEST_F(DriverConfiguration, UnconfiguredNumbersGiveZeroRows) {
  uint8_t row[7];
  // No ConfigKey at all.
  std::memset(row, 0xEE, sizeof row);
  EXPECT_EQ(vtHART_GetDriverConfiguration(3, row), 0);
  ExpectRow(row, Expected({0, 0, 0, 0, 0, 0, 0}));

  // A key without "USB-Id", a "USB-Id" of the wrong type, a neighbour bound.
  configtest::CreateSlot(3);
  configtest::SetSlotValue(4, "USB-Id", REG_SZ, "1234", 5);
  configtest::BindSlot(5, 0x1234);
  for (uint8_t number : {3, 4, 6}) {
    std::memset(row, 0xEE, sizeof row);
    EXPECT_EQ(vtHART_GetDriverConfiguration(number, row), 0) << int(number);
    ExpectRow(row, Expected({0, 0, 0, 0, 0, 0, 0}));
  }
}

// Sets the DACL of ConfigKey\<number>: empty (nobody may read it) or null
// (everybody may). The owner keeps the right to change it back.
void SetSlotReadable(uint8_t number, bool readable) {
  const std::string path = std::string("Software\\VELTRA\\evHRT USB\\Config\\") + std::to_string(number);
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC | KEY_WOW64_32KEY, &key), ERROR_SUCCESS);
  ACL empty;
  ASSERT_TRUE(::InitializeAcl(&empty, sizeof empty, ACL_REVISION));
  EXPECT_EQ(::SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, readable ? nullptr : &empty, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  ::RegCloseKey(key);
}

TEST_F(DriverConfiguration, UnreadableConfigurationAnswers3AndLeavesTheRowAlone) {
  configtest::BindSlot(2, 0x1234);
  SetSlotReadable(2, false);
  uint8_t row[7];
  std::memset(row, 0xEE, sizeof row);
  EXPECT_EQ(vtHART_GetDriverConfiguration(2, row), 3);
  ExpectRow(row, Expected({0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  SetSlotReadable(2, true);
  EXPECT_EQ(vtHART_GetDriverConfiguration(2, row), 0);
  ExpectRow(row, Expected({1, 0x34, 0x12, 0, 0, 0, 0}));
}

TEST_F(DriverConfiguration, ConfiguredRowCarriesTheLow16BitsOfTheSerial) {
  configtest::BindSlot(7, 0xABCD1A2B);
  uint8_t row[7];
  EXPECT_EQ(vtHART_GetDriverConfiguration(7, row), 0);
  ExpectRow(row, Expected({1, 0x2B, 0x1A, 0, 0, 0, 0}));
}

TEST_F(DriverConfiguration, AttachedAndHeldByAnotherHolderIsInUse) {
  const std::string path = configtest::MakeDevicePath("1a2b");
  configtest::AttachAdapter(configtest::MakeDevicePath("other"), 0x0042);
  configtest::AttachAdapter(path, 0x1A2B);
  configtest::BindSlot(2, 0x1A2B);

  uint8_t row[7];
  EXPECT_EQ(vtHART_GetDriverConfiguration(2, row), 0);
  ExpectRow(row, Expected({1, 0x2B, 0x1A, 0, 0, 1, 0}));

  {
    win32::UniqueFile holder(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    ASSERT_TRUE(holder.valid());
    EXPECT_EQ(vtHART_GetDriverConfiguration(2, row), 0);
    ExpectRow(row, Expected({1, 0x2B, 0x1A, 0, 0, 1, 1}));
  }
  // The probe closed its own handle: the path is free again.
  EXPECT_EQ(vtHART_GetDriverConfiguration(2, row), 0);
  ExpectRow(row, Expected({1, 0x2B, 0x1A, 0, 0, 1, 0}));
}

TEST_F(DriverConfiguration, NullRowIsRefused) {
  configtest::BindSlot(1, 0x10);
  EXPECT_EQ(vtHART_GetDriverConfiguration(1, nullptr), 4);
}

TEST_F(DriverConfiguration, DevicePathIsFoundBySerial) {
  configtest::AttachAdapter("\\\\?\\usb#first", 0x0001);
  configtest::AttachAdapter("\\\\?\\usb#second", 0x0002);
  char name[modemapi::kDevicePathBufferSize];
  ASSERT_TRUE(modemapi::FindDevicePathBySerial(name, sizeof name, 0x0002));
  EXPECT_STREQ(name, "\\\\?\\usb#second");
  EXPECT_FALSE(modemapi::FindDevicePathBySerial(name, sizeof name, 0x0003));
  // A buffer too small for the first name ends the search.
  EXPECT_FALSE(modemapi::FindDevicePathBySerial(name, 5, 0x0001));
}

TEST(DeviceOwnership, OneHolderAtATime) {
  win32::UniqueHandle first;
  win32::UniqueHandle second;
  ASSERT_EQ(modemapi::ClaimDeviceEvent(0x7E57, first), 0);
  EXPECT_TRUE(first.valid());
  EXPECT_TRUE(modemapi::ProbeDeviceInUse(0x7E57));
  EXPECT_EQ(modemapi::ClaimDeviceEvent(0x7E57, second), 15);
  EXPECT_FALSE(second.valid());

  modemapi::ReleaseDeviceEvent(first);
  EXPECT_FALSE(first.valid());
  // A probe of a free adapter takes nothing: a claim after it succeeds.
  EXPECT_FALSE(modemapi::ProbeDeviceInUse(0x7E57));
  EXPECT_EQ(modemapi::ClaimDeviceEvent(0x7E57, second), 0);
  modemapi::ReleaseDeviceEvent(second);
}

}  // namespace
