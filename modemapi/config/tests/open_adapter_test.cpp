// The configuration exports of modemapi.dll while the library itself has an
// adapter open on the simulated adapter: the open shows as "in use" to every
// reader, and a configuration change of that number is refused.
#include <cstring>
#include <string>

#include "config_registry_fixture.h"
#include "modemapi/modemapi.h"
#include "shared/device_row.h"
#include "sim/sim_control.h"

namespace {

constexpr uint16_t kSerial = 0x2468;
constexpr uint8_t kNumber = 4;

class OpenAdapter : public configtest::AdapterRegistryTest {
 protected:
  void SetUp() override {
    AdapterRegistryTest::SetUp();
    path_ = configtest::MakeDevicePath("open");
    const std::wstring widePath(path_.begin(), path_.end());
    ASSERT_TRUE(SimCreateAdapter(widePath.c_str(), kSerial));
    configtest::BindSlot(kNumber, kSerial);
    configtest::AttachAdapter(path_, kSerial);
  }
  void TearDown() override {
    vtHART_CloseDevice(kNumber);
    SimRemoveAdapter(kSerial);
    AdapterRegistryTest::TearDown();
  }

  shared::DeviceRow Configuration() {
    uint8_t bytes[7];
    EXPECT_EQ(vtHART_GetDriverConfiguration(kNumber, bytes), 0);
    return shared::UnpackDeviceRow(bytes);
  }
  shared::DeviceRow OnlyAttached() {
    uint8_t bytes[7];
    EXPECT_EQ(vtHART_AttachedDevices(0x40, bytes), 0);
    shared::DeviceRow row = shared::UnpackDeviceRow(bytes);
    EXPECT_EQ(vtHART_AttachedDevices(0x80, bytes), 2);
    return row;
  }

  std::string path_;
};

TEST_F(OpenAdapter, OpenAdapterShowsInUseUntilClosed) {
  shared::DeviceRow row = Configuration();
  EXPECT_EQ(row.kind, 1);
  EXPECT_EQ(row.serial, kSerial);
  EXPECT_EQ(row.attached, 1);
  EXPECT_EQ(row.inUse, 0);
  EXPECT_EQ(OnlyAttached().inUse, 0);

  ASSERT_EQ(vtHART_DeviceInit(kNumber, 1), 0);
  EXPECT_EQ(Configuration().inUse, 1);
  row = OnlyAttached();
  EXPECT_EQ(row.serial, kSerial);
  EXPECT_EQ(row.inUse, 1);
  const uint8_t unbind[5] = {0, 0, 0, 0, 0};
  EXPECT_EQ(vtHART_SetDriverConfiguration(kNumber, unbind), 15);
  EXPECT_EQ(vtHARTvb_SetDriverConfiguration(kNumber, unbind, 0), 15);

  ASSERT_EQ(vtHART_CloseDevice(kNumber), 0);
  EXPECT_EQ(Configuration().inUse, 0);
  EXPECT_EQ(OnlyAttached().inUse, 0);
  // Closed and probed: the adapter opens again.
  EXPECT_EQ(vtHART_DeviceInit(kNumber, 1), 0);
}

}  // namespace
