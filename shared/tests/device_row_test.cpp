#include "shared/device_row.h"
#include "shared/named_events.h"
#include "shared/status_codes.h"

#include <gtest/gtest.h>

namespace {

TEST(DeviceRow, PacksSevenLittleEndianBytes) {
  shared::DeviceRow row;
  row.kind = 1;
  row.serial = 0x1A2B;
  row.attached = 1;
  row.inUse = 0;
  uint8_t bytes[shared::kDeviceRowSize] = {};
  shared::PackDeviceRow(row, bytes);
  const uint8_t expected[] = {1, 0x2B, 0x1A, 0, 0, 1, 0};
  EXPECT_EQ(0, memcmp(bytes, expected, sizeof expected));

  shared::DeviceRow back = shared::UnpackDeviceRow(bytes);
  EXPECT_EQ(back.serial, 0x1A2Bu);
  EXPECT_EQ(back.attached, 1);

  uint8_t change[shared::kDriverConfigChangeSize] = {1, 0x00, 0x00, 0x01, 0x00};
  shared::DriverConfigChange parsed = shared::UnpackDriverConfigChange(change);
  EXPECT_EQ(parsed.action, 1);
  EXPECT_EQ(parsed.serial, 0x10000u);
}

TEST(NamedEvents, OwnershipEventNameUsesFourUpperCaseDigits) {
  EXPECT_EQ(shared::DeviceOwnershipEventName(0x1a2b), "VELTRA/evHRTusb/DeviceID1A2B");
  EXPECT_EQ(shared::DeviceOwnershipEventName(0x0005), "VELTRA/evHRTusb/DeviceID0005");
  EXPECT_STREQ(shared::StatusMeaning(15), "adapter in use by another process");
  EXPECT_STREQ(shared::StatusMeaning(14), "unknown status");
}

}  // namespace
