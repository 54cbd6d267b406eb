#include <cstdio>
#include <map>
#include <string>

#include "config_registry_fixture.h"
#include "modemapi/adapter_registry.h"
#include "shared/device_row.h"

namespace {

using AttachedDevices = configtest::AdapterRegistryTest;

// Reads the rows of a new scan with `flags`, then continues with 0x80 until
// 2; rows keyed by serial. A serial listed twice fails the test.
std::map<uint32_t, shared::DeviceRow> ListAll(uint8_t flags) {
  std::map<uint32_t, shared::DeviceRow> rows;
  uint8_t bytes[7];
  uint8_t status = vtHART_AttachedDevices(flags, bytes);
  for (int guard = 0; status == 0 && guard < 2000; ++guard) {
    shared::DeviceRow row = shared::UnpackDeviceRow(bytes);
    EXPECT_TRUE(rows.emplace(row.serial, row).second) << "listed twice: " << row.serial;
    status = vtHART_AttachedDevices(0x80, bytes);
  }
  EXPECT_EQ(status, 2);
  return rows;
}

TEST_F(AttachedDevices, FlagRules) {
  uint8_t row[7];
  for (uint8_t flags : {0x00, 0x01, 0x03, 0x04, 0x08, 0x10, 0x24, 0x81, 0xA0, 0xFF}) {
    EXPECT_EQ(vtHART_AttachedDevices(flags, row), 4) << std::hex << int(flags);
  }
  EXPECT_EQ(vtHART_AttachedDevices(0x20, nullptr), 4);
  // Nothing attached: the scan is valid and empty.
  EXPECT_EQ(vtHART_AttachedDevices(0x20, row), 2);
  EXPECT_EQ(vtHART_AttachedDevices(0x80, row), 2);
}

TEST_F(AttachedDevices, BoundAndUnboundSelection) {
  configtest::BindSlot(0, 0x0011);
  configtest::BindSlot(9, 0x0022);
  configtest::AttachAdapter(configtest::MakeDevicePath("a"), 0x0011);
  configtest::AttachAdapter(configtest::MakeDevicePath("b"), 0x0033);
  configtest::AttachAdapter(configtest::MakeDevicePath("c"), 0x0044);
  // The same serial under a second path is listed once.
  configtest::AttachAdapter(configtest::MakeDevicePath("a-again"), 0x0011);
  const DWORD text = 0;
  configtest::AddEnumValue("not-a-dword", REG_BINARY, &text, sizeof text);

  auto both = ListAll(0x60);
  ASSERT_EQ(both.size(), 3u);
  EXPECT_TRUE(both.count(0x11) && both.count(0x33) && both.count(0x44));
  for (const auto& entry : both) {
    EXPECT_EQ(entry.second.kind, 1);
    EXPECT_EQ(entry.second.attached, 1);
    EXPECT_EQ(entry.second.inUse, 0);
  }

  auto bound = ListAll(0x40);
  ASSERT_EQ(bound.size(), 1u);
  EXPECT_TRUE(bound.count(0x11));

  auto unbound = ListAll(0x20);
  EXPECT_EQ(unbound.size(), 2u);
  EXPECT_FALSE(unbound.count(0x11));
  // Bits 0 and 1 change nothing.
  EXPECT_EQ(ListAll(0x23).size(), 2u);
}

TEST_F(AttachedDevices, HeldOwnershipEventShowsInUse) {
  configtest::AttachAdapter(configtest::MakeDevicePath("held"), 0x0101);
  configtest::AttachAdapter(configtest::MakeDevicePath("free"), 0x0102);
  win32::UniqueHandle owned;
  ASSERT_EQ(modemapi::ClaimDeviceEvent(0x0101, owned), 0);

  auto rows = ListAll(0x60);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0x0101].inUse, 1);
  EXPECT_EQ(rows[0x0102].inUse, 0);
  modemapi::ReleaseDeviceEvent(owned);

  // The probe gave the free adapter back: it can still be claimed.
  ASSERT_EQ(modemapi::ClaimDeviceEvent(0x0102, owned), 0);
  modemapi::ReleaseDeviceEvent(owned);
}

TEST_F(AttachedDevices, AtMostSixteenValuesAreLooked) {
  for (uint32_t serial = 1; serial <= 17; ++serial) {
    char name[32];
    std::snprintf(name, sizeof name, "path-%02u", static_cast<unsigned>(serial));
    configtest::AttachAdapter(name, serial);
  }
  EXPECT_EQ(ListAll(0x20).size(), 16u);
}

}  // namespace
